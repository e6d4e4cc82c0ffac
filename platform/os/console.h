// One-line error reports on the standard error stream, and text made safe
// to print.
#pragma once

#include <string>
#include <string_view>

namespace quorvel {

// Writes "quorvel: error: <message>\n" to standard error, the message made
// printable.
void report_error(std::string_view message);

// A name as it appears in a report: between double quotes.
std::string quote_name(std::string_view name);

// UTF-8 `text` with everything a terminal would take as a command written
// out instead, as \xNN (two lower-case hex digits of the character's code):
// the C0 controls (tab, carriage return and line feed included, so that
// printed text stays on its line), DEL, the C1 controls (U+0080 to U+009F),
// and bytes that are not UTF-8 (the byte's value). Everything else,
// backslashes included, is kept.
std::string printable(std::string_view text);

}  // namespace quorvel
