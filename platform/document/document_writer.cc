#include "platform/document/document_writer.h"

#include <charconv>
#include <cstring>
#include <string>

#include "common/utf.h"
#include "platform/document/document_format.h"

namespace quorvel {
namespace {

// Whether `c` is a character an XML 1.0 document cannot hold, even as a
// character reference: a control character but tab and the line ends.
bool forbidden_control(unsigned char c) { return c < 0x20 && c != '\t' && c != '\n' && c != '\r'; }

// A name or description from a device, as a document can hold it (see
// holdable_text in the header). `storage` holds the text when it changed.
std::string_view holdable(std::string_view text, std::string& storage) {
  // Whether the character at `at` must change; its length in bytes goes to
  // `length`.
  const auto must_change = [&](std::size_t at, std::size_t& length) {
    const auto c = static_cast<unsigned char>(text[at]);
    length = 1;
    if (c < 0x80) return forbidden_control(c);
    const Utf8Char decoded = decode_utf8(text, at);
    length = decoded.length;
    return !decoded.valid() || decoded.code == 0xFFFE || decoded.code == 0xFFFF;
  };
  std::size_t at = 0;
  std::size_t length = 0;
  while (at < text.size() && !must_change(at, length)) at += length;
  if (at == text.size()) return text;
  storage.assign(text.substr(0, at));
  while (at < text.size()) {
    if (!must_change(at, length)) {
      storage.append(text.substr(at, length));
    } else if (const auto c = static_cast<unsigned char>(text[at]); c < 0x80) {
      // U+2400 + c, the control's own picture: three bytes of UTF-8.
      const char32_t picture = 0x2400 + c;
      storage += static_cast<char>(0xE0 | (picture >> 12));
      storage += static_cast<char>(0x80 | ((picture >> 6) & 0x3F));
      storage += static_cast<char>(0x80 | (picture & 0x3F));
    } else {
      // U+FFFE, U+FFFF, or bytes that are no character of UTF-8.
      storage += "\xEF\xBF\xBD";  // U+FFFD
    }
    at += length;
  }
  return storage;
}

// A name as its element's first child. Text of white space only would not
// be read back (parsers drop it between elements), so it goes in a CDATA
// section.
void write_name(DocumentSink& sink, std::string_view name) {
  std::string storage;
  name = holdable(name, storage);
  const bool blank = !name.empty() && name.find_first_not_of(" \t\n\r") == std::string_view::npos;
  if (blank) {
    sink.cdata(name);
  } else {
    sink.text(name);
  }
}

std::int32_t as_number(std::uint32_t value) { return static_cast<std::int32_t>(value); }

// A text attribute, as a document can hold it.
void write_text_attribute(DocumentSink& sink, const char* name, std::string_view text) {
  std::string storage;
  sink.attribute(name, holdable(text, storage));
}

}  // namespace

std::string holdable_text(std::string_view text) {
  std::string storage;
  return std::string(holdable(text, storage));
}

void start_mixer_document(DocumentSink& sink, std::string_view device_name,
                          std::uint32_t destinations) {
  sink.prolog();
  sink.start(doc::kAudioMixer);
  sink.attribute(doc::kId, 0);
  sink.attribute(doc::kDestinations, as_number(destinations));
  write_name(sink, device_name);
}

void write_document(const Document& document, DocumentSink& sink) {
  sink.prolog();
  // Depth first, in document order, without recursion. The model is read,
  // never changed: its handles need a document they could change.
  Document& held = const_cast<Document&>(document);
  const DocNode root = held.document_element();
  DocNode node = root;
  while (node) {
    if (node.is_element()) {
      sink.start(node.name().data());
      for (std::uint32_t i = 0; i < node.attribute_count(); ++i) {
        const DocAttribute attribute = node.attribute_at(i);
        sink.attribute(attribute.name().data(), attribute.value());
      }
      if (const DocNode child = node.first_child()) {
        node = child;
        continue;
      }
      sink.end();
    } else if (node.kind() == NodeKind::kText) {
      sink.text(node.value());
    } else if (node.kind() == NodeKind::kCdata) {
      sink.cdata(node.value());
    }
    // Climb until a node with a next sibling, ending each element left.
    while (node != root && !node.next_sibling()) {
      node = node.parent();
      sink.end();
    }
    if (node == root) break;
    node = node.next_sibling();
  }
  sink.finish();
}

void write_bare_document(DocumentSink& sink) {
  sink.prolog();
  sink.start(doc::kAudioMixer);
  sink.attribute(doc::kId, 0);
  sink.attribute(doc::kDestinations, 0);
  sink.end();
  sink.finish();
}

void end_mixer_document(DocumentSink& sink) {
  sink.end();
  sink.finish();
}

void start_destination(DocumentSink& sink, const DestinationPart& destination) {
  sink.start(doc::kDestination);
  sink.attribute(doc::kLineId, as_number(destination.line_id));
  sink.attribute(doc::kChannels, as_number(destination.channels));
  sink.attribute(doc::kConnections, as_number(destination.connections));
  sink.attribute(doc::kComponentType, as_number(destination.component_type));
  if (!destination.server_name.empty()) {
    write_text_attribute(sink, doc::kServerName, destination.server_name);
  }
  if (!destination.product_id.empty()) {
    write_text_attribute(sink, doc::kProductId, destination.product_id);
  }
  write_name(sink, destination.name);
}

void start_source(DocumentSink& sink, const SourcePart& source) {
  sink.start(doc::kSource);
  sink.attribute(doc::kSrcId, as_number(source.src_id));
  sink.attribute(doc::kChannels, as_number(source.channels));
  sink.attribute(doc::kLineType, as_number(source.line_type));
  if (!source.server_name.empty()) write_text_attribute(sink, doc::kServerName, source.server_name);
  if (!source.product_id.empty()) write_text_attribute(sink, doc::kProductId, source.product_id);
  write_name(sink, source.name);
}

void start_application(DocumentSink& sink, const ApplicationPart& application) {
  sink.start(doc::kApplication);
  write_text_attribute(sink, doc::kKey, application.key);
  sink.attribute(doc::kChannels, as_number(application.channels));
  sink.attribute(doc::kMute, application.mute ? 1 : 0);
  if (!application.server_name.empty()) {
    write_text_attribute(sink, doc::kServerName, application.server_name);
  }
  write_name(sink, application.name);
}

void start_line_control(DocumentSink& sink, const ControlPart& control) {
  sink.start(doc::kLineControl);
  sink.attribute(doc::kCtrlId, as_number(control.id));
  sink.attribute(doc::kCtrlType, as_number(control.type));
  sink.attribute(doc::kSteps, as_number(control.steps));
  sink.attribute(doc::kMin, control.min);
  sink.attribute(doc::kMax, control.max);
  write_name(sink, control.name);
}

void write_value(DocumentSink& sink, std::uint32_t channel, std::int32_t value,
                 std::string_view position) {
  sink.start(doc::kValue);
  if (channel > 0) sink.attribute(doc::kCh, as_number(channel));
  if (!position.empty()) write_text_attribute(sink, doc::kPosition, position);
  char digits[16];
  const auto written = std::to_chars(digits, digits + sizeof digits, value);
  sink.text(std::string_view(digits, static_cast<std::size_t>(written.ptr - digits)));
  sink.end();
}

void start_list(DocumentSink& sink, const char* list_name) { sink.start(list_name); }

void write_item(DocumentSink& sink, std::string_view name, std::int32_t selected) {
  sink.start(doc::kItem);
  sink.attribute(doc::kSelected, selected);
  write_name(sink, name);
  sink.end();
}

}  // namespace quorvel
