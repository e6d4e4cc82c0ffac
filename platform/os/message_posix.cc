#include "platform/os/message.h"

namespace quorvel {

bool show_message(const char*, const char*) { return false; }

}  // namespace quorvel
