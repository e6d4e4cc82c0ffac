#include "docio/listing.h"

#include <string>
#include <string_view>

#include "common/number_text.h"
#include "platform/document/control_kind.h"
#include "platform/document/document_format.h"
#include "platform/mixer/control_types.h"
#include "platform/os/console.h"
#include "platform/os/text_encoding.h"

namespace quorvel {
namespace {

class Lister {
 public:
  explicit Lister(std::ostream& out) : out_(out) {}

  void mixer(DocNode mixer) {
    line("Mixer " + quote_name(mixer.text()));
    for (DocNode node = mixer.first_child(); node; node = node.next_sibling()) {
      if (node.is(doc::kDestination)) {
        line_block(node, "Destination " + line_name(node));
        for (DocNode source : node.children(doc::kSource)) {
          line_block(source, "Source " + quote_name(node.text()) + " / " + line_name(source));
        }
      } else if (node.is(doc::kApplication)) {
        application(node);
      }
    }
  }

  std::size_t blocks() const { return blocks_; }

 private:
  // Writes one line, made safe to print, in the console's encoding.
  void line(const std::string& text) { out_ << utf8_to_console(printable(text) + "\n"); }

  // A line's name, with the sound server's name of it after it.
  static std::string line_name(DocNode node) {
    std::string name = quote_name(node.text());
    const std::string_view server = node.attribute_value(doc::kServerName);
    if (!server.empty()) name += " (" + std::string(server) + ")";
    return name;
  }

  static std::string channels_text(DocNode node) {
    const std::string_view channels = node.attribute_value(doc::kChannels);
    return std::string(channels) + (channels == "1" ? " channel" : " channels");
  }

  void line_block(DocNode node, const std::string& heading) {
    line("");
    line(heading + ": " + channels_text(node));
    ++blocks_;
    // A sound server's volumes are its own, whose dB it knows.
    const bool server = static_cast<bool>(node.attribute(doc::kServerName));
    for (DocNode control : node.children(doc::kLineControl)) this->control(control, server);
  }

  // A volume as a reader takes it: raw, percent, and a server's dB.
  static std::string volume_text(std::int64_t value, bool server) {
    std::string text = std::to_string(value) + " (" + std::to_string(volume_percent(value)) + "%";
    if (server) text += ", " + server_volume_decibels(value);
    return text + ")";
  }

  // One value element: its channel (by speaker position where it has one)
  // and its value as the control's kind reads.
  static std::string value_text(DocNode value, std::uint32_t type, bool server, bool many) {
    std::string text;
    const std::string_view position = value.attribute_value(doc::kPosition);
    const std::string_view channel = value.attribute_value(doc::kCh);
    if (!position.empty()) {
      text = std::string(position) + " ";
    } else if (many && !channel.empty()) {
      text = "ch " + std::string(channel) + " ";
    }
    const std::string_view number = value.text();
    const std::optional<std::int32_t> parsed = parse_int_strict(number);
    if (!parsed) return text + std::string(number);
    if (is_volume_control(type)) return text + volume_text(*parsed, server);
    if (is_channel_switch(type) && (*parsed == 0 || *parsed == 1)) {
      return text + (*parsed == 1 ? "on" : "off");
    }
    return text + std::to_string(*parsed);
  }

  // Every value element of `node`, one after another: " V, V, ...".
  static std::string values_text(DocNode node, std::uint32_t type, bool server) {
    const std::vector<DocNode> values = node.children(doc::kValue);
    std::string text;
    for (const DocNode& value : values) {
      text += text.empty() ? " " : ", ";
      text += value_text(value, type, server, values.size() > 1);
    }
    return text;
  }

  void control(DocNode control, bool server) {
    const std::string name = "  " + quote_name(control.text()) + ":";
    const std::uint32_t type = parse_uint32(control.attribute_value(doc::kCtrlType));
    DocNode list = control.child(doc::kMuxList);
    const bool mux = static_cast<bool>(list);
    if (!list) list = control.child(doc::kMixerList);
    if (list) {
      line(name + (mux ? " one of" : " any of"));
      for (DocNode item : list.children(doc::kItem)) {
        line(std::string(item.attribute_value(doc::kSelected) == "1" ? "    * " : "      ") +
             quote_name(item.text()));
      }
      return;
    }
    std::string text = values_text(control, type, server);
    if (text.empty()) text = " (no value)";
    if ((type & ctrl::kClassMask) == ctrl::kClassMeter) text += " (a meter)";
    line(name + text);
  }

  void application(DocNode node) {
    std::string heading = "Application " + quote_name(node.text());
    const std::string_view key = node.attribute_value(doc::kKey);
    if (!key.empty()) heading += " (" + std::string(key) + ")";
    const std::string_view device = node.attribute_value(doc::kServerName);
    if (!device.empty()) heading += " on " + quote_name(device);
    heading += ": " + channels_text(node);
    const std::string_view mute = node.attribute_value(doc::kMute);
    if (mute == "1") heading += ", muted";
    if (mute == "0") heading += ", not muted";
    line("");
    line(heading);
    ++blocks_;
    const std::string text = values_text(node, ctrl::kVolume, true);
    if (!text.empty()) line("  volume:" + text);
  }

  std::ostream& out_;
  std::size_t blocks_ = 0;
};

}  // namespace

std::size_t list_document(Document& document, std::ostream& out) {
  Lister lister(out);
  const DocNode root = document.document_element();
  if (root.is(doc::kAudioMixer)) lister.mixer(root);
  out.flush();
  return lister.blocks();
}

}  // namespace quorvel
