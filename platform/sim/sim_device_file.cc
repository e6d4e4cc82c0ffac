#include "platform/sim/sim_device_file.h"

#include <cstring>
#include <fstream>
#include <iterator>
#include <utility>

#include "common/document_format.h"
#include "common/number_text.h"
#include "platform/xml/xml_dom.h"

namespace quorvel {
namespace {

std::string name_text(pugi::xml_node element) {
  pugi::xml_node first = element.first_child();
  if (first.type() == pugi::node_pcdata || first.type() == pugi::node_cdata) {
    return first.value();
  }
  return {};
}

std::int32_t int_attribute(pugi::xml_node element, const char* name) {
  return parse_int(element.attribute(name).value());
}

std::uint32_t uint_attribute(pugi::xml_node element, const char* name) {
  return static_cast<std::uint32_t>(int_attribute(element, name));
}

SimControl read_control(pugi::xml_node element) {
  SimControl control;
  control.id = uint_attribute(element, doc::kCtrlId);
  control.type = uint_attribute(element, doc::kCtrlType);
  control.name = name_text(element);
  control.steps = uint_attribute(element, doc::kSteps);
  control.min = int_attribute(element, doc::kMin);
  control.max = int_attribute(element, doc::kMax);
  for (pugi::xml_node value : element.children(doc::kValue)) {
    control.values.push_back(parse_int(value.child_value()));
  }
  pugi::xml_node list;
  for (pugi::xml_node child : element.children()) {
    if (child.type() != pugi::node_element) continue;
    if (std::strcmp(child.name(), doc::kMuxList) == 0 ||
        std::strcmp(child.name(), doc::kMixerList) == 0) {
      list = child;
      break;
    }
  }
  if (list) {
    control.list = true;
    for (pugi::xml_node item : list.children(doc::kItem)) {
      control.items.push_back(SimItem{name_text(item), int_attribute(item, doc::kSelected)});
    }
  }
  return control;
}

void read_controls(pugi::xml_node line, std::vector<SimControl>& controls) {
  for (pugi::xml_node element : line.children(doc::kLineControl)) {
    controls.push_back(read_control(element));
  }
}

}  // namespace

Result load_sim_device(const pugi::xml_document& document, SimDevice& device) {
  pugi::xml_node root = document.document_element();
  if (!root || std::strcmp(root.name(), doc::kAudioMixer) != 0) {
    return Result::failure("not a mixer document: the root element is not <audio_mixer>");
  }
  SimDevice loaded;
  loaded.name = name_text(root);
  for (pugi::xml_node element : root.children(doc::kDestination)) {
    SimDestination destination;
    destination.name = name_text(element);
    destination.line_id = uint_attribute(element, doc::kLineId);
    destination.channels = uint_attribute(element, doc::kChannels);
    destination.component_type = uint_attribute(element, doc::kComponentType);
    read_controls(element, destination.controls);
    for (pugi::xml_node source_element : element.children(doc::kSource)) {
      SimSource source;
      source.name = name_text(source_element);
      source.channels = uint_attribute(source_element, doc::kChannels);
      source.line_type = uint_attribute(source_element, doc::kLineType);
      read_controls(source_element, source.controls);
      destination.sources.push_back(std::move(source));
    }
    loaded.destinations.push_back(std::move(destination));
  }
  Result checked = check_sim_device(loaded);
  if (!checked) return checked;
  device = std::move(loaded);
  return Result();
}

Result load_sim_device(const std::filesystem::path& path, SimDevice& device) {
  std::ifstream in(path, std::ios::binary);
  std::string bytes;
  if (in) bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  if (!in && !in.eof()) {
    return Result::failure("cannot read the device file \"" + path.string() + "\"");
  }
  pugi::xml_document document;
  pugi::xml_parse_result result =
      document.load_buffer(bytes.data(), bytes.size(), kParseOptions, pugi::encoding_auto);
  if (!result) {
    return Result::failure("\"" + path.string() + "\" is not an XML document: " +
                           result.description() + " at offset " + std::to_string(result.offset));
  }
  Result loaded = load_sim_device(document, device);
  if (!loaded) {
    return Result::failure("\"" + path.string() + "\" is not a valid device: " + loaded.message());
  }
  return Result();
}

}  // namespace quorvel
