// The one writer of a mixer document, part by part, into any sink: the
// snapshot builds its tree with it, the simulated device writes its file's
// bytes with it. Each start_* writes the part's element with all its
// attributes, in the document's order, and its name; the caller writes what
// the part holds, then ends it with DocumentSink::end.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/document/document_model.h"
#include "platform/document/document_sink.h"

namespace quorvel {

struct DestinationPart {
  std::string_view name;
  std::uint32_t line_id = 0;
  std::uint32_t channels = 0;
  std::uint32_t connections = 0;
  std::uint32_t component_type = 0;
  std::string_view server_name;  // written only when not empty
  std::string_view product_id;   // written only when not empty
};

struct SourcePart {
  std::string_view name;
  std::uint32_t src_id = 0;  // the source's index under its destination
  std::uint32_t channels = 0;
  std::uint32_t line_type = 0;
  std::string_view server_name;  // written only when not empty
  std::string_view product_id;   // written only when not empty
};

struct ControlPart {
  std::string_view name;
  std::uint32_t id = 0;
  std::uint32_t type = 0;
  std::uint32_t steps = 0;
  std::int32_t min = 0;
  std::int32_t max = 0;
};

struct ApplicationPart {
  std::string_view name;
  std::string_view key;
  std::uint32_t channels = 0;
  bool mute = false;
  std::string_view server_name;  // written only when not empty
};

// A name or description from a device as every document holds it: a
// character that XML 1.0 cannot hold at all, even as a reference, is
// written as a character it can, so that every saved document loads again
// and a line's server_name pairs with the same line when restored (the
// snapshot it pairs with is written by the same rule). A control character
// other than tab and the line ends becomes its picture (U+2400 + code:
// U+0001 as U+2401, ESC as U+241B); U+FFFE, U+FFFF and bytes that are no
// character of UTF-8 (each run of them as decode_utf8 takes it) become
// U+FFFD. Every text of the writer below passes through it.
std::string holdable_text(std::string_view text);

// A whole document as it is held (a snapshot built into the model), from
// its prolog to its end: its root element with the elements, attributes and
// text below it (all a document the writer built holds).
void write_document(const Document& document, DocumentSink& sink);

// A document of no mixer: the prolog and an empty audio_mixer root (id 0,
// no destinations), ended.
void write_bare_document(DocumentSink& sink);

// The prolog and the audio_mixer root (id 0), with the device's name and
// its count of destinations. end_mixer_document ends it.
void start_mixer_document(DocumentSink& sink, std::string_view device_name,
                          std::uint32_t destinations);
void end_mixer_document(DocumentSink& sink);

void start_destination(DocumentSink& sink, const DestinationPart& destination);
void start_source(DocumentSink& sink, const SourcePart& source);
void start_line_control(DocumentSink& sink, const ControlPart& control);
// An application element, for its values (write_value, one per channel).
void start_application(DocumentSink& sink, const ApplicationPart& application);

// A value element of a line_control; `channel` 0 writes it without `ch`, an
// empty `position` without `position`.
void write_value(DocumentSink& sink, std::uint32_t channel, std::int32_t value,
                 std::string_view position = {});

// A list element (ValueForm::list) of a line_control, to hold its items.
void start_list(DocumentSink& sink, const char* list_name);
void write_item(DocumentSink& sink, std::string_view name, std::int32_t selected);

}  // namespace quorvel
