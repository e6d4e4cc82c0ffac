#include "platform/sim/sim_device_file.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <utility>

#include "common/number_text.h"
#include "platform/document/control_kind.h"
#include "platform/document/document_format.h"
#include "platform/document/document_writer.h"
#include "platform/document/saved_writer.h"
#include "platform/os/file_read.h"
#include "platform/os/file_replace.h"
#include "platform/xml/xml_parse.h"

namespace quorvel {
namespace {

// --- Reading ----------------------------------------------------------------

// The element's name: its first child when that is text. Line ends read as
// XML reads them in text (CR LF and CR become LF), so that a name written
// back and read again is the same name.
std::string read_name(pugi::xml_node element) {
  pugi::xml_node first = element.first_child();
  if (first.type() != pugi::node_pcdata && first.type() != pugi::node_cdata) return {};
  std::string name = first.value();
  if (name.find('\r') == std::string::npos) return name;
  std::string normalised;
  normalised.reserve(name.size());
  for (std::size_t i = 0; i < name.size(); ++i) {
    if (name[i] != '\r') {
      normalised += name[i];
    } else if (i + 1 >= name.size() || name[i + 1] != '\n') {
      normalised += '\n';
    }
  }
  return normalised;
}

std::int32_t int_attribute(pugi::xml_node element, const char* name) {
  return parse_int(element.attribute(name).value());
}

std::uint32_t uint_attribute(pugi::xml_node element, const char* name) {
  return parse_uint32(element.attribute(name).value());
}

bool always_has_items(std::uint32_t type) {
  return type == ctrl::kMux || type == ctrl::kMixer || type == ctrl::kMultipleSelect;
}

// Reads the device while counting it against the bounds. Every method
// returns false, with `error` set, once a bound is passed.
class DeviceReader {
 public:
  std::string error;

  bool read(pugi::xml_node root, SimDevice& device) {
    device.name = read_name(root);
    std::size_t index = 0;
    for (pugi::xml_node element : root.children(doc::kDestination)) {
      if (index++ == kMaxSimDestinations) {
        return fail("more than " + std::to_string(kMaxSimDestinations) + " destinations");
      }
      const std::string where = "destination " + std::to_string(device.destinations.size());
      SimDestination& destination = device.destinations.emplace_back();
      destination.name = read_name(element);
      destination.line_id = uint_attribute(element, doc::kLineId);
      destination.component_type = uint_attribute(element, doc::kComponentType);
      destination.server_name = element.attribute(doc::kServerName).value();
      if (!read_channels(element, where, destination.channels) ||
          !read_controls(element, where, destination.channels, destination.controls,
                         destination.positions)) {
        return false;
      }
      for (pugi::xml_node source_element : element.children(doc::kSource)) {
        if (destination.sources.size() == kMaxSimSourcesPerDestination) {
          return fail(where + ": more than " + std::to_string(kMaxSimSourcesPerDestination) +
                      " sources");
        }
        const std::string source_where =
            where + " source " + std::to_string(destination.sources.size());
        SimSource& source = destination.sources.emplace_back();
        source.name = read_name(source_element);
        source.line_type = uint_attribute(source_element, doc::kLineType);
        source.server_name = source_element.attribute(doc::kServerName).value();
        if (!read_channels(source_element, source_where, source.channels) ||
            !read_controls(source_element, source_where, source.channels, source.controls,
                           source.positions)) {
          return false;
        }
      }
    }
    return true;
  }

 private:
  bool fail(std::string message) {
    error = std::move(message);
    return false;
  }

  bool count_values(std::size_t count) {
    if (count > kMaxSimValues - values_) {
      return fail("more than " + std::to_string(kMaxSimValues) +
                  " channel values and list items in all");
    }
    values_ += count;
    return true;
  }

  bool read_channels(pugi::xml_node line, const std::string& where, std::uint32_t& channels) {
    channels = uint_attribute(line, doc::kChannels);
    if (channels > kMaxSimChannels) {
      return fail(where + ": " + std::to_string(channels) + " channels (a line has at most " +
                  std::to_string(kMaxSimChannels) + ")");
    }
    return true;
  }

  // Reads the line's controls; `positions` takes the positions of the
  // first control whose values give one for every channel.
  bool read_controls(pugi::xml_node line, const std::string& where, std::uint32_t channels,
                     std::vector<SimControl>& controls, std::vector<std::string>& positions) {
    // The service keeps one value per channel, at least one.
    const std::size_t slots = std::max<std::uint32_t>(channels, 1);
    for (pugi::xml_node element : line.children(doc::kLineControl)) {
      if (controls_++ == kMaxSimControls) {
        return fail("more than " + std::to_string(kMaxSimControls) + " controls");
      }
      if (!count_values(slots)) return false;
      SimControl& control = controls.emplace_back();
      control.id = uint_attribute(element, doc::kCtrlId);
      control.type = uint_attribute(element, doc::kCtrlType);
      control.name = read_name(element);
      control.steps = uint_attribute(element, doc::kSteps);
      control.min = int_attribute(element, doc::kMin);
      control.max = int_attribute(element, doc::kMax);
      std::vector<std::string> value_positions;
      for (pugi::xml_node value : element.children(doc::kValue)) {
        if (control.values.size() == slots) break;
        control.values.push_back(parse_int(value.child_value()));
        if (const char* position = value.attribute(doc::kPosition).value(); *position != '\0') {
          value_positions.emplace_back(position);
        }
      }
      if (positions.empty() && channels > 0 && value_positions.size() == channels &&
          control.values.size() == channels) {
        positions = std::move(value_positions);
      }
      pugi::xml_node list;
      for (pugi::xml_node child : element.children()) {
        if (child.type() == pugi::node_element &&
            (std::strcmp(child.name(), doc::kMuxList) == 0 ||
             std::strcmp(child.name(), doc::kMixerList) == 0)) {
          list = child;
          break;
        }
      }
      control.list = list || always_has_items(control.type);
      for (pugi::xml_node item : list.children(doc::kItem)) {
        if (control.items.size() == kMaxSimItemsPerList) {
          return fail(where + ", control " + std::to_string(control.id) + ": more than " +
                      std::to_string(kMaxSimItemsPerList) + " list items");
        }
        if (!count_values(1)) return false;
        control.items.push_back(SimItem{read_name(item), int_attribute(item, doc::kSelected)});
      }
    }
    return true;
  }

  std::size_t controls_ = 0;
  std::size_t values_ = 0;
};

// --- Writing ----------------------------------------------------------------

// The value of channel k, as the service fills the channels a file does
// not give: entry k, else entry 0, else 0.
std::int32_t channel_value(const std::vector<std::int32_t>& values, std::size_t k) {
  if (k < values.size()) return values[k];
  return values.empty() ? 0 : values.front();
}

// How many values must be written for the channels to read back as they
// are: none when every channel is 0, one when they are all alike, else up
// to the last that differs from the first.
std::size_t values_needed(const std::vector<std::int32_t>& values) {
  for (std::size_t k = values.size(); k > 1; --k) {
    if (values[k - 1] != values.front()) return k;
  }
  return values.empty() || values.front() == 0 ? 0 : 1;
}

// The values in the form a snapshot shows them, and beyond it as many as
// the device needs to read back the same; numbered when there are more
// than the snapshot shows.
// Values numbered one per channel carry the line's positions, as a snapshot
// writes them.
void write_values(DocumentSink& sink, const SimControl& control, const ValueForm& form,
                  const std::vector<std::string>& positions) {
  const std::size_t needed = values_needed(control.values);
  const bool numbered = needed > form.count || form.numbered;
  const std::size_t count = std::max<std::size_t>(needed, form.count);
  const bool positioned = numbered && count == positions.size();
  for (std::size_t k = 0; k < count; ++k) {
    write_value(sink, numbered ? static_cast<std::uint32_t>(k + 1) : 0,
                channel_value(control.values, k),
                positioned ? std::string_view(positions[k]) : std::string_view());
  }
}

// The list element of a control with items: a type that a snapshot shows
// none of gets a mux_list when it is a single-select, else a mixer_list.
const char* list_name(const SimControl& control, const ValueForm& form) {
  if (form.list != nullptr) return form.list;
  return control.type == ctrl::kSingleSelect ? doc::kMuxList : doc::kMixerList;
}

void write_controls(DocumentSink& sink, const std::vector<SimControl>& controls,
                    std::uint32_t channels, const std::vector<std::string>& positions) {
  for (const SimControl& control : controls) {
    start_line_control(sink, {.name = control.name,
                              .id = control.id,
                              .type = control.type,
                              .steps = control.steps,
                              .min = control.min,
                              .max = control.max});
    const ValueForm form = value_form(control.type, channels, control.uniform);
    write_values(sink, control, form, positions);
    if (control.list || sim_has_items(control)) {
      start_list(sink, list_name(control, form));
      for (const SimItem& item : control.items) write_item(sink, item.name, item.selected);
      sink.end();
    }
    sink.end();
  }
}

// Room for the document of `device`, in bytes, an upper bound: every byte
// of a name may become a reference of six characters, and every character
// two bytes. Room reserved but not written is never touched.
std::size_t saved_size_bound(const SimDevice& device) {
  constexpr std::size_t kLine = 256;     // a line's markup and attributes
  constexpr std::size_t kControl = 256;  // a control's markup and attributes
  constexpr std::size_t kValue = 64;     // a value or an item, without its name
  auto name = [](const std::string& text) { return 6 * text.size(); };
  // Each control of a line with positions may write a value per position.
  auto controls = [&](const std::vector<SimControl>& list,
                      const std::vector<std::string>& positions) {
    std::size_t per_control = 0;
    for (const std::string& position : positions) per_control += kValue + name(position);
    std::size_t size = 0;
    for (const SimControl& control : list) {
      size += kControl + name(control.name) + kValue * (control.values.size() + 2) + per_control;
      for (const SimItem& item : control.items) size += kValue + name(item.name);
    }
    return size;
  };
  std::size_t characters = 512 + name(device.name);
  for (const SimDestination& destination : device.destinations) {
    characters += kLine + name(destination.name) + name(destination.server_name) +
                  controls(destination.controls, destination.positions);
    for (const SimSource& source : destination.sources) {
      characters += kLine + name(source.name) + name(source.server_name) +
                    controls(source.controls, source.positions);
    }
  }
  return 2 * characters;
}

}  // namespace

Result load_sim_device(const pugi::xml_document& document, SimDevice& device) {
  pugi::xml_node root = document.document_element();
  if (!root || std::strcmp(root.name(), doc::kAudioMixer) != 0) {
    return Result::failure("not a mixer document: the root element is not <audio_mixer>");
  }
  SimDevice loaded;
  DeviceReader reader;
  if (!reader.read(root, loaded)) return Result::failure(reader.error);
  Result checked = check_sim_device(loaded);
  if (!checked) return checked;
  device = std::move(loaded);
  return Result();
}

Result load_sim_device_bytes(std::string_view bytes, const std::string& shown, SimDevice& device) {
  try {
    // Read as documents are: what is not well-formed is not a device.
    pugi::xml_document document;
    XmlParseOutcome parsed = parse_xml_document(document, bytes);
    if (parsed.problem == XmlProblem::kNoMemory) throw std::bad_alloc();
    if (parsed.problem != XmlProblem::kNone) {
      std::string reason = parsed.reason;
      while (!reason.empty() && (reason.back() == '\n' || reason.back() == '.')) reason.pop_back();
      std::string where;
      if (parsed.position.line > 0) {
        where = " (line " + std::to_string(parsed.position.line) + ", position " +
                std::to_string(parsed.position.column) + ")";
      }
      return Result::failure(shown + " is not an XML document: " + reason + where);
    }
    Result loaded = load_sim_device(document, device);
    if (!loaded) return Result::failure(shown + " is not a valid device: " + loaded.message());
    return Result();
  } catch (const std::bad_alloc&) {
    return Result::failure("not enough memory to load the device file " + shown);
  }
}

Result load_sim_device(const std::filesystem::path& path, SimDevice& device) {
  std::string shown = "\"";
  shown += path.string();
  shown += '"';
  std::string bytes;
  try {
    Result read = read_file_whole(path, bytes);
    if (!read) {
      return Result::failure("cannot read the device file " + shown + ": " + read.message());
    }
  } catch (const std::bad_alloc&) {
    return Result::failure("not enough memory to load the device file " + shown);
  }
  return load_sim_device_bytes(bytes, shown, device);
}

void write_sim_device(const SimDevice& device, DocumentSink& sink) {
  start_mixer_document(sink, device.name, static_cast<std::uint32_t>(device.destinations.size()));
  for (const SimDestination& destination : device.destinations) {
    start_destination(sink, {.name = destination.name,
                             .line_id = destination.line_id,
                             .channels = destination.channels,
                             .connections = static_cast<std::uint32_t>(destination.sources.size()),
                             .component_type = destination.component_type,
                             .server_name = destination.server_name});
    write_controls(sink, destination.controls, destination.channels, destination.positions);
    for (std::size_t j = 0; j < destination.sources.size(); ++j) {
      const SimSource& source = destination.sources[j];
      start_source(sink, {.name = source.name,
                          .src_id = static_cast<std::uint32_t>(j),
                          .channels = source.channels,
                          .line_type = source.line_type,
                          .server_name = source.server_name});
      write_controls(sink, source.controls, source.channels, source.positions);
      sink.end();
    }
    sink.end();
  }
  end_mixer_document(sink);
}

std::string serialize_sim_device(const SimDevice& device) {
  std::string bytes;
  bytes.reserve(saved_size_bound(device));
  SavedDocumentWriter out(bytes);
  write_sim_device(device, out);
  return bytes;
}

Result save_sim_device_file(const SimDevice& device, const std::filesystem::path& path) {
  try {
    return write_file_atomically(path, serialize_sim_device(device));
  } catch (const std::bad_alloc&) {
    return Result::failure("not enough memory to write the device file");
  }
}

}  // namespace quorvel
