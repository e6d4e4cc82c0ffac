// One-line error reports on the standard error stream.
#pragma once

#include <string>
#include <string_view>

namespace quorvel {

// Writes "quorvel: error: <message>\n" to standard error.
void report_error(std::string_view message);

// A name as it appears in a report: between double quotes.
std::string quote_name(std::string_view name);

}  // namespace quorvel
