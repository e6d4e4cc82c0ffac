#include "platform/os/text_encoding.h"

#include <unistd.h>

namespace quorvel {

std::string system_to_utf8(std::string_view text) { return std::string(text); }

std::string utf8_to_system(std::string_view text) { return std::string(text); }

std::string utf8_to_console(std::string_view text) { return std::string(text); }

bool error_stream_is_terminal() { return isatty(STDERR_FILENO) == 1; }

}  // namespace quorvel
