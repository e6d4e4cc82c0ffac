#include "platform/sim/sim_device_file.h"

#include <algorithm>
#include <charconv>
#include <cstring>
#include <sstream>
#include <new>
#include <utility>

#include "common/document_format.h"
#include "common/number_text.h"
#include "platform/mixer/control_kind.h"
#include "platform/os/file_read.h"
#include "platform/os/file_replace.h"
#include "platform/xml/dom.h"
#include "platform/xml/saved_writer.h"
#include "platform/xml/xml_dom.h"
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
      if (!read_channels(element, where, destination.channels) ||
          !read_controls(element, where, destination.channels, destination.controls)) {
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
        if (!read_channels(source_element, source_where, source.channels) ||
            !read_controls(source_element, source_where, source.channels, source.controls)) {
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

  bool read_controls(pugi::xml_node line, const std::string& where, std::uint32_t channels,
                     std::vector<SimControl>& controls) {
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
      for (pugi::xml_node value : element.children(doc::kValue)) {
        if (control.values.size() == slots) break;
        control.values.push_back(parse_int(value.child_value()));
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

// A name as its element's text. Text of white space only would not be read
// back (parsers drop it between elements), so it goes in a CDATA section.
void write_name(pugi::xml_node element, const std::string& name) {
  const bool blank = !name.empty() && name.find_first_not_of(" \t\n\r") == std::string::npos;
  if (!blank) {
    set_text(element, name);
    return;
  }
  element.prepend_child(pugi::node_cdata).set_value(name.c_str());
}

// How a snapshot shows a control's values: how many, and whether each
// carries its channel number.
struct ValueForm {
  std::size_t count = 0;
  bool numbered = false;
};

ValueForm snapshot_form(const SimControl& control, std::uint32_t channels) {
  switch (capture_kind(control.type)) {
    case CaptureKind::kSingle: return {1, false};
    case CaptureKind::kSingleCh1: return {1, true};
    case CaptureKind::kSwitch:
      if (!control.uniform && channels > 1) return {channels, true};
      return {1, false};
    case CaptureKind::kPerChannel: return {std::max<std::size_t>(channels, 1), true};
    default: return {0, false};
  }
}

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

void write_values(pugi::xml_node node, const SimControl& control, std::uint32_t channels) {
  const ValueForm form = snapshot_form(control, channels);
  const std::size_t needed = values_needed(control.values);
  const bool numbered = needed > form.count || form.numbered;
  const std::size_t count = std::max(needed, form.count);
  for (std::size_t k = 0; k < count; ++k) {
    pugi::xml_node value = create_element(node, doc::kValue);
    if (numbered) set_int_attribute(value, doc::kCh, static_cast<std::int32_t>(k + 1));
    set_int_text(value, channel_value(control.values, k));
  }
}

const char* list_name(std::uint32_t type) {
  switch (capture_kind(type)) {
    case CaptureKind::kMuxList: return doc::kMuxList;
    case CaptureKind::kMixerList: return doc::kMixerList;
    default: return type == ctrl::kSingleSelect ? doc::kMuxList : doc::kMixerList;
  }
}

void write_controls(pugi::xml_node line, const std::vector<SimControl>& controls,
                    std::uint32_t channels) {
  for (const SimControl& control : controls) {
    pugi::xml_node node = create_element(line, doc::kLineControl);
    write_name(node, control.name);
    set_int_attribute(node, doc::kCtrlId, static_cast<std::int32_t>(control.id));
    set_int_attribute(node, doc::kCtrlType, static_cast<std::int32_t>(control.type));
    set_int_attribute(node, doc::kSteps, static_cast<std::int32_t>(control.steps));
    set_int_attribute(node, doc::kMin, control.min);
    set_int_attribute(node, doc::kMax, control.max);
    write_values(node, control, channels);
    if (!control.list && !sim_has_items(control)) continue;
    pugi::xml_node list = create_element(node, list_name(control.type));
    for (const SimItem& item : control.items) {
      pugi::xml_node element = create_element(list, doc::kItem);
      write_name(element, item.name);
      set_int_attribute(element, doc::kSelected, item.selected);
    }
  }
}

// --- Writing without a tree -------------------------------------------------
//
// The same document as build_sim_device_document builds, written straight
// from the device in the saved-file format.

void put_name(SavedDocumentWriter& out, const std::string& name) {
  const bool blank = !name.empty() && name.find_first_not_of(" \t\n\r") == std::string::npos;
  if (blank) {
    out.cdata(name);
  } else {
    out.text(name);
  }
}

void put_values(SavedDocumentWriter& out, const SimControl& control, std::uint32_t channels) {
  const ValueForm form = snapshot_form(control, channels);
  const std::size_t needed = values_needed(control.values);
  const bool numbered = needed > form.count || form.numbered;
  const std::size_t count = std::max(needed, form.count);
  char digits[16];
  for (std::size_t k = 0; k < count; ++k) {
    out.start(doc::kValue);
    if (numbered) out.attribute(doc::kCh, static_cast<std::int32_t>(k + 1));
    const auto written = std::to_chars(digits, digits + sizeof digits,
                                       channel_value(control.values, k));
    out.text(std::string_view(digits, static_cast<std::size_t>(written.ptr - digits)));
    out.end();
  }
}

void put_controls(SavedDocumentWriter& out, const std::vector<SimControl>& controls,
                  std::uint32_t channels) {
  for (const SimControl& control : controls) {
    out.start(doc::kLineControl);
    out.attribute(doc::kCtrlId, static_cast<std::int32_t>(control.id));
    out.attribute(doc::kCtrlType, static_cast<std::int32_t>(control.type));
    out.attribute(doc::kSteps, static_cast<std::int32_t>(control.steps));
    out.attribute(doc::kMin, control.min);
    out.attribute(doc::kMax, control.max);
    put_name(out, control.name);
    put_values(out, control, channels);
    if (control.list || sim_has_items(control)) {
      out.start(list_name(control.type));
      for (const SimItem& item : control.items) {
        out.start(doc::kItem);
        out.attribute(doc::kSelected, item.selected);
        put_name(out, item.name);
        out.end();
      }
      out.end();
    }
    out.end();
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
  auto controls = [&](const std::vector<SimControl>& list) {
    std::size_t size = 0;
    for (const SimControl& control : list) {
      size += kControl + name(control.name) + kValue * (control.values.size() + 2);
      for (const SimItem& item : control.items) size += kValue + name(item.name);
    }
    return size;
  };
  std::size_t characters = 512 + name(device.name);
  for (const SimDestination& destination : device.destinations) {
    characters += kLine + name(destination.name) + controls(destination.controls);
    for (const SimSource& source : destination.sources) {
      characters += kLine + name(source.name) + controls(source.controls);
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
  const std::string shown = "\"" + path.string() + "\"";
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

Result build_sim_device_document(const SimDevice& device, pugi::xml_document& document) {
  Result started = load_xml(document, doc::kTemplate);
  if (!started) return started;
  pugi::xml_node root = document.last_child();
  write_name(root, device.name);
  set_int_attribute(root, doc::kDestinations,
                    static_cast<std::int32_t>(device.destinations.size()));
  for (const SimDestination& destination : device.destinations) {
    pugi::xml_node line = create_element(root, doc::kDestination);
    write_name(line, destination.name);
    set_int_attribute(line, doc::kLineId, static_cast<std::int32_t>(destination.line_id));
    set_int_attribute(line, doc::kChannels, static_cast<std::int32_t>(destination.channels));
    set_int_attribute(line, doc::kConnections,
                      static_cast<std::int32_t>(destination.sources.size()));
    set_int_attribute(line, doc::kComponentType,
                      static_cast<std::int32_t>(destination.component_type));
    write_controls(line, destination.controls, destination.channels);
    for (std::size_t j = 0; j < destination.sources.size(); ++j) {
      const SimSource& source = destination.sources[j];
      pugi::xml_node source_line = create_element(line, doc::kSource);
      write_name(source_line, source.name);
      set_int_attribute(source_line, doc::kSrcId, static_cast<std::int32_t>(j));
      set_int_attribute(source_line, doc::kChannels, static_cast<std::int32_t>(source.channels));
      set_int_attribute(source_line, doc::kLineType, static_cast<std::int32_t>(source.line_type));
      write_controls(source_line, source.controls, source.channels);
    }
  }
  return Result();
}

std::string serialize_sim_device(const SimDevice& device) {
  // The prolog and the root's attributes come from the template.
  pugi::xml_document prolog;
  if (!load_xml(prolog, doc::kTemplate)) return {};
  std::string bytes;
  bytes.reserve(saved_size_bound(device));
  SavedDocumentWriter out(bytes);
  pugi::xml_node root = prolog.last_child();
  for (pugi::xml_node node = prolog.first_child(); node != root; node = node.next_sibling()) {
    std::ostringstream markup;
    node.print(markup, "", pugi::format_raw, pugi::encoding_utf8);
    out.top_level(markup.str());
  }
  out.start(doc::kAudioMixer);
  for (pugi::xml_attribute attribute : root.attributes()) {
    const bool count = std::strcmp(attribute.name(), doc::kDestinations) == 0;
    out.attribute(count ? doc::kDestinations : doc::kId,
                  count ? static_cast<std::int32_t>(device.destinations.size())
                        : attribute.as_int());
  }
  put_name(out, device.name);
  for (const SimDestination& destination : device.destinations) {
    out.start(doc::kDestination);
    out.attribute(doc::kLineId, static_cast<std::int32_t>(destination.line_id));
    out.attribute(doc::kChannels, static_cast<std::int32_t>(destination.channels));
    out.attribute(doc::kConnections, static_cast<std::int32_t>(destination.sources.size()));
    out.attribute(doc::kComponentType, static_cast<std::int32_t>(destination.component_type));
    put_name(out, destination.name);
    put_controls(out, destination.controls, destination.channels);
    for (std::size_t j = 0; j < destination.sources.size(); ++j) {
      const SimSource& source = destination.sources[j];
      out.start(doc::kSource);
      out.attribute(doc::kSrcId, static_cast<std::int32_t>(j));
      out.attribute(doc::kChannels, static_cast<std::int32_t>(source.channels));
      out.attribute(doc::kLineType, static_cast<std::int32_t>(source.line_type));
      put_name(out, source.name);
      put_controls(out, source.controls, source.channels);
      out.end();
    }
    out.end();
  }
  out.end();
  out.finish();
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
