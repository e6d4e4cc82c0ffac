#include "platform/sim/sim_device_file.h"

#include <algorithm>
#include <cstring>
#include <fstream>
#include <istream>
#include <new>
#include <optional>
#include <utility>

#include "common/number_text.h"
#include "platform/document/control_kind.h"
#include "platform/document/document_format.h"
#include "platform/document/document_parse.h"
#include "platform/document/document_writer.h"
#include "platform/document/saved_writer.h"
#include "platform/os/console.h"
#include "platform/os/file_read.h"
#include "platform/os/file_replace.h"
#include "platform/xml/xml_events.h"
#include "platform/xml/xml_read.h"

namespace quorvel {
namespace {

// --- Reading ----------------------------------------------------------------

// A name as the device keeps it: line ends read as XML reads them in text
// (CR LF and CR become LF), so that a name written back and read again is
// the same name.
std::string device_name(std::string_view text) {
  if (text.find('\r') == std::string_view::npos) return std::string(text);
  std::string normalised;
  normalised.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\r') {
      normalised += text[i];
    } else if (i + 1 >= text.size() || text[i + 1] != '\n') {
      normalised += '\n';
    }
  }
  return normalised;
}

// The value of the attribute `name` among `attributes` (name, value, ...,
// null); "" when it is not there.
// The attribute's value; null without it.
const char* find_attribute(const char** attributes, const char* name) {
  for (const char** a = attributes; *a != nullptr; a += 2) {
    if (std::strcmp(a[0], name) == 0) return a[1];
  }
  return nullptr;
}

const char* attribute(const char** attributes, const char* name) {
  const char* value = find_attribute(attributes, name);
  return value != nullptr ? value : "";
}

// Builds the device from the document's nodes as they come, counting it
// against the bounds; stops, with `error` set, once a bound is passed. An
// element's name is its first child node when that is text; a value's
// number the first text among its children. Only the elements below have a
// meaning, each under its own parent; everything else, with all it holds,
// is passed over.
class DeviceBuilder : public XmlNodeHandler {
 public:
  explicit DeviceBuilder(SimDevice& device) : device_(device) {}

  std::string error;
  bool has_root() const { return seen_root_; }
  bool root_is_mixer() const { return root_is_mixer_; }

  bool declaration(const char*, const char*, int) override { return true; }
  bool doctype(std::string_view) override { return true; }
  bool comment(const char*) override {
    first_child_seen();
    return true;
  }
  bool processing_instruction(const char*, const char*) override {
    first_child_seen();
    return true;
  }

  bool text(std::string_view value, bool) override {
    if (open_.empty()) return true;
    Open& top = open_.back();
    if (top.wants_name) {
      top.wants_name = false;
      *top.name = device_name(value);
    }
    if (top.role == Role::kValue && !top.has_text) {
      top.has_text = true;
      if (!number(std::string(value).c_str(),
                  where() + ", control " + std::to_string(control().id) + ": value",
                  control().values.back())) {
        return false;
      }
    }
    return true;
  }

  bool start_element(const char* name, const char** attributes) override {
    first_child_seen();
    if (open_.empty()) {
      if (seen_root_) return push(Role::kIgnored);
      seen_root_ = true;
      root_is_mixer_ = std::strcmp(name, doc::kAudioMixer) == 0;
      if (!root_is_mixer_) return false;
      return push(Role::kRoot, &device_.name);
    }
    switch (open_.back().role) {
      case Role::kRoot:
        if (std::strcmp(name, doc::kDestination) == 0) return start_destination(attributes);
        break;
      case Role::kDestination:
        if (std::strcmp(name, doc::kLineControl) == 0) return start_control(attributes);
        if (std::strcmp(name, doc::kSource) == 0) return start_source(attributes);
        break;
      case Role::kSource:
        if (std::strcmp(name, doc::kLineControl) == 0) return start_control(attributes);
        break;
      case Role::kControl:
        if (std::strcmp(name, doc::kValue) == 0) return start_value(attributes);
        if (!list_seen_ && (std::strcmp(name, doc::kMuxList) == 0 ||
                            std::strcmp(name, doc::kMixerList) == 0)) {
          list_seen_ = true;
          return push(Role::kList);
        }
        break;
      case Role::kList:
        if (std::strcmp(name, doc::kItem) == 0) return start_item(attributes);
        break;
      default:
        break;
    }
    return push(Role::kIgnored);
  }

  bool end_element() override {
    if (open_.back().role == Role::kControl) end_control();
    open_.pop_back();
    return true;
  }

 private:
  enum class Role { kRoot, kDestination, kSource, kControl, kValue, kList, kItem, kIgnored };
  struct Open {
    Role role;
    std::string* name;  // takes the element's name; null: it has none
    bool wants_name;    // its first child node is still to come
    bool has_text;      // a value: its number is read
  };

  bool push(Role role, std::string* name = nullptr) {
    open_.push_back({role, name, name != nullptr, false});
    return true;
  }

  // Any node: it is the first child of the element that is open, if it is
  // not text, that element has no name.
  void first_child_seen() {
    if (!open_.empty()) open_.back().wants_name = false;
  }

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

  // A number of the device file, read by the rule by which a document's
  // values are read (parse_int_strict), so that a device never holds a
  // number other than the one its file shows ("0x10" is not 0, "12abc" not
  // 12): a value that is not a number fails the device, where it stands. A
  // number missing is 0. `what` names it for the message.
  bool number(const char* text, const std::string& what, std::int32_t& out) {
    if (text == nullptr) {
      out = 0;
      return true;
    }
    const std::optional<std::int32_t> read = parse_int_strict(text);
    if (!read) return fail(what + " " + quote_name(text) + " is not a number");
    out = *read;
    return true;
  }
  bool number(const char* text, const std::string& what, std::uint32_t& out) {
    std::int32_t read = 0;
    if (!number(text, what, read)) return false;
    out = static_cast<std::uint32_t>(read);
    return true;
  }
  template <class Number>
  bool number(const char** attributes, const char* name, const std::string& where,
              Number& out) {
    return number(find_attribute(attributes, name), where + ": " + name, out);
  }

  bool read_channels(const char** attributes, std::uint32_t& channels) {
    if (!number(attributes, doc::kChannels, where(), channels)) return false;
    if (channels > kMaxSimChannels) {
      return fail(where() + ": " + std::to_string(channels) + " channels (a line has at most " +
                  std::to_string(kMaxSimChannels) + ")");
    }
    return true;
  }

  bool start_destination(const char** attributes) {
    if (device_.destinations.size() == kMaxSimDestinations) {
      return fail("more than " + std::to_string(kMaxSimDestinations) + " destinations");
    }
    SimDestination& destination = device_.destinations.emplace_back();
    if (!number(attributes, doc::kLineId, destination_where(), destination.line_id) ||
        !number(attributes, doc::kComponentType, destination_where(),
                destination.component_type)) {
      return false;
    }
    destination.server_name = attribute(attributes, doc::kServerName);
    destination.product_id = attribute(attributes, doc::kProductId);
    line_ = {&destination.controls, &destination.positions, 0, false};
    if (!read_channels(attributes, destination.channels)) return false;
    line_.channels = destination.channels;
    return push(Role::kDestination, &destination.name);
  }

  bool start_source(const char** attributes) {
    SimDestination& destination = device_.destinations.back();
    if (destination.sources.size() == kMaxSimSourcesPerDestination) {
      return fail(destination_where() + ": more than " +
                  std::to_string(kMaxSimSourcesPerDestination) + " sources");
    }
    SimSource& source = destination.sources.emplace_back();
    line_.in_source = true;
    if (!number(attributes, doc::kLineType, where(), source.line_type)) return false;
    source.server_name = attribute(attributes, doc::kServerName);
    source.product_id = attribute(attributes, doc::kProductId);
    line_ = {&source.controls, &source.positions, 0, true};
    if (!read_channels(attributes, source.channels)) return false;
    line_.channels = source.channels;
    return push(Role::kSource, &source.name);
  }

  // The line a control belongs to: its destination's, or its source's once
  // the source's element is open.
  void restore_line() {
    SimDestination& destination = device_.destinations.back();
    if (open_.back().role == Role::kSource) {
      SimSource& source = destination.sources.back();
      line_ = {&source.controls, &source.positions, source.channels, true};
    } else {
      line_ = {&destination.controls, &destination.positions, destination.channels, false};
    }
  }

  bool start_control(const char** attributes) {
    restore_line();
    if (controls_++ == kMaxSimControls) {
      return fail("more than " + std::to_string(kMaxSimControls) + " controls");
    }
    // The service keeps one value per channel, at least one.
    slots_ = std::max<std::uint32_t>(line_.channels, 1);
    if (!count_values(slots_)) return false;
    SimControl& control = line_.controls->emplace_back();
    const std::string at = where() + ", control " + std::to_string(line_.controls->size() - 1);
    if (!number(attributes, doc::kCtrlId, at, control.id) ||
        !number(attributes, doc::kCtrlType, at, control.type) ||
        !number(attributes, doc::kSteps, at, control.steps) ||
        !number(attributes, doc::kMin, at, control.min) ||
        !number(attributes, doc::kMax, at, control.max)) {
      return false;
    }
    value_positions_.clear();
    list_seen_ = false;
    return push(Role::kControl, &control.name);
  }

  bool start_value(const char** attributes) {
    SimControl& control = this->control();
    if (control.values.size() == slots_) return push(Role::kIgnored);
    control.values.push_back(0);
    if (const char* position = attribute(attributes, doc::kPosition); *position != '\0') {
      value_positions_.emplace_back(position);
    }
    return push(Role::kValue);
  }

  bool start_item(const char** attributes) {
    SimControl& control = this->control();
    if (control.items.size() == kMaxSimItemsPerList) {
      return fail(where() + ", control " + std::to_string(control.id) + ": more than " +
                  std::to_string(kMaxSimItemsPerList) + " list items");
    }
    if (!count_values(1)) return false;
    SimItem& item = control.items.emplace_back();
    if (!number(attributes, doc::kSelected,
                where() + ", control " + std::to_string(control.id) + ", item " +
                    std::to_string(control.items.size() - 1),
                item.selected)) {
      return false;
    }
    return push(Role::kItem, &item.name);
  }

  // The line's positions are those of its first control whose values give
  // one for every channel.
  void end_control() {
    SimControl& control = this->control();
    const std::uint32_t channels = line_.channels;
    if (line_.positions->empty() && channels > 0 && value_positions_.size() == channels &&
        control.values.size() == channels) {
      *line_.positions = std::move(value_positions_);
    }
    value_positions_.clear();
    control.list = list_seen_ || sim_type_has_items(control.type);
  }

  SimControl& control() { return line_.controls->back(); }

  struct Line {
    std::vector<SimControl>* controls;
    std::vector<std::string>* positions;
    std::uint32_t channels;
    bool in_source;
  };

  // The line being read, as messages name it.
  std::string destination_where() const {
    return "destination " + std::to_string(device_.destinations.size() - 1);
  }
  std::string where() const {
    if (!line_.in_source) return destination_where();
    return destination_where() + " source " +
           std::to_string(device_.destinations.back().sources.size() - 1);
  }

  SimDevice& device_;
  std::vector<Open> open_;
  bool seen_root_ = false;
  bool root_is_mixer_ = false;
  Line line_{};
  std::size_t slots_ = 1;
  std::vector<std::string> value_positions_;
  bool list_seen_ = false;
  std::size_t controls_ = 0;
  std::size_t values_ = 0;
};

constexpr const char* kNotMixer = "not a mixer document: the root element is not <audio_mixer>";

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
                  name(destination.product_id) +
                  controls(destination.controls, destination.positions);
    for (const SimSource& source : destination.sources) {
      characters += kLine + name(source.name) + name(source.server_name) +
                    name(source.product_id) + controls(source.controls, source.positions);
    }
  }
  return 2 * characters;
}

// The verdict on a device that a pass read from a well-formed file.
Result checked_device(SimDevice& loaded, const std::string& shown, SimDevice& device) {
  Result checked = check_sim_device(loaded);
  if (!checked) return Result::failure(shown + " is not a valid device: " + checked.message());
  device = std::move(loaded);
  return Result();
}

}  // namespace

Result load_sim_device_bytes(std::string_view bytes, const std::string& shown, SimDevice& device) {
  const auto no_memory = [&] {
    return Result::failure("not enough memory to load the device file " + shown);
  };
  try {
    // One pass of the conforming parser builds the device as it reads.
    SimDevice loaded;
    DeviceBuilder builder(loaded);
    const XmlEncoding encoding = detect_xml_encoding(bytes.substr(0, kXmlSourceHead));
    if (read_xml_nodes(bytes, encoding, builder)) return checked_device(loaded, shown, device);
    loaded = SimDevice();
    // A file the pass did not take is parsed as documents are, which says
    // why it is not well-formed (what is not well-formed is not a device)
    // before anything about its content. One that parses stopped the pass
    // by what it holds, which the builder says.
    Document document;
    const Result parsed = parse_document(bytes, document);
    if (parsed.kind() == kXmlNoMemory) return no_memory();
    if (!parsed) {
      std::string reason = parsed.message();
      while (!reason.empty() && (reason.back() == '\n' || reason.back() == '.')) reason.pop_back();
      std::string where;
      if (parsed.error().line > 0) {
        where = " (line " + std::to_string(parsed.error().line) + ", position " +
                std::to_string(parsed.error().column) + ")";
      }
      return Result::failure(shown + " is not an XML document: " + reason + where);
    }
    if (builder.has_root() && !builder.root_is_mixer()) {
      return Result::failure(shown + " is not a valid device: " + kNotMixer);
    }
    // A well-formed mixer document the builder did not refuse: the pass
    // ran out of memory.
    if (builder.error.empty()) return no_memory();
    return Result::failure(shown + " is not a valid device: " + builder.error);
  } catch (const std::bad_alloc&) {
    return no_memory();
  }
}

std::optional<Result> load_sim_device_in_pieces(std::istream& in, std::uint64_t size,
                                                const std::string& shown, SimDevice& device,
                                                std::size_t piece) {
  try {
    SimDevice loaded;
    DeviceBuilder builder(loaded);
    if (!read_xml_nodes(in, size, builder, piece)) return std::nullopt;
    return checked_device(loaded, shown, device);
  } catch (const std::bad_alloc&) {
    return std::nullopt;
  }
}

Result load_sim_device(const std::filesystem::path& path, SimDevice& device, std::size_t piece,
                       Progress* progress) {
  std::string shown = "\"";
  shown += path.string();
  shown += '"';
  // A regular file in pieces, its size taken from the handle that reads it.
  // Anything else, and a file the pieces leave in doubt, is read whole.
  try {
    SimDevice loaded;
    DeviceBuilder builder(loaded);
    if (read_xml_file(path, builder, piece, progress)) return checked_device(loaded, shown, device);
  } catch (const std::bad_alloc&) {
    // The whole read says what it can.
  }
  const Expected<std::string> read = read_file_whole(path);
  if (!read) {
    return Result::failure("cannot read the device file " + shown + ": " + read.message());
  }
  return load_sim_device_bytes(*read, shown, device);
}

void write_sim_device(const SimDevice& device, DocumentSink& sink) {
  start_mixer_document(sink, device.name, static_cast<std::uint32_t>(device.destinations.size()));
  for (const SimDestination& destination : device.destinations) {
    start_destination(sink, {.name = destination.name,
                             .line_id = destination.line_id,
                             .channels = destination.channels,
                             .connections = static_cast<std::uint32_t>(destination.sources.size()),
                             .component_type = destination.component_type,
                             .server_name = destination.server_name,
                             .product_id = destination.product_id});
    write_controls(sink, destination.controls, destination.channels, destination.positions);
    for (std::size_t j = 0; j < destination.sources.size(); ++j) {
      const SimSource& source = destination.sources[j];
      start_source(sink, {.name = source.name,
                          .src_id = static_cast<std::uint32_t>(j),
                          .channels = source.channels,
                          .line_type = source.line_type,
                          .server_name = source.server_name,
                          .product_id = source.product_id});
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
