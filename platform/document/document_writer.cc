#include "platform/document/document_writer.h"

#include <charconv>
#include <cstring>

#include "platform/document/document_format.h"
#include "platform/xml/xml_dom.h"

namespace quorvel {
namespace {

// A name as its element's first child. Text of white space only would not
// be read back (parsers drop it between elements), so it goes in a CDATA
// section.
void write_name(DocumentSink& sink, std::string_view name) {
  const bool blank = !name.empty() && name.find_first_not_of(" \t\n\r") == std::string_view::npos;
  if (blank) {
    sink.cdata(name);
  } else {
    sink.text(name);
  }
}

std::int32_t as_number(std::uint32_t value) { return static_cast<std::int32_t>(value); }

}  // namespace

const pugi::xml_document& document_template() {
  // Parsed once; a constant the parser always takes (the snapshot builder
  // loads it before anything else, and reports it should it fail).
  static const pugi::xml_document parsed = [] {
    pugi::xml_document document;
    (void)load_xml(document, doc::kTemplate);
    return document;
  }();
  return parsed;
}

void start_mixer_document(DocumentSink& sink, std::string_view device_name,
                          std::uint32_t destinations) {
  const pugi::xml_document& prototype = document_template();
  sink.prolog(prototype);
  sink.start(doc::kAudioMixer);
  // The root's attributes as the template has them, the count set.
  for (pugi::xml_attribute attribute : prototype.last_child().attributes()) {
    if (std::strcmp(attribute.name(), doc::kDestinations) == 0) {
      sink.attribute(doc::kDestinations, as_number(destinations));
    } else {
      sink.attribute(doc::kId, attribute.as_int());
    }
  }
  write_name(sink, device_name);
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
  if (!destination.server_name.empty()) sink.attribute(doc::kServerName, destination.server_name);
  write_name(sink, destination.name);
}

void start_source(DocumentSink& sink, const SourcePart& source) {
  sink.start(doc::kSource);
  sink.attribute(doc::kSrcId, as_number(source.src_id));
  sink.attribute(doc::kChannels, as_number(source.channels));
  sink.attribute(doc::kLineType, as_number(source.line_type));
  if (!source.server_name.empty()) sink.attribute(doc::kServerName, source.server_name);
  write_name(sink, source.name);
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
  if (!position.empty()) sink.attribute(doc::kPosition, position);
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
