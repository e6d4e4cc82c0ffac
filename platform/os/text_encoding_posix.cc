#include "platform/os/text_encoding.h"

namespace quorvel {

std::string system_to_utf8(std::string_view text) { return std::string(text); }

std::string utf8_to_system(std::string_view text) { return std::string(text); }

std::string utf8_to_console(std::string_view text) { return std::string(text); }

}  // namespace quorvel
