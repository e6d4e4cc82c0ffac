// Showing the user a message that needs no console to be seen.
#pragma once

namespace quorvel {

// Shows `text` with `title` in a message box where the platform has one
// (the call returns when the user closes it). False when no box was shown
// (a platform without them, or no desktop): the caller then says it on the
// console.
[[nodiscard]] bool show_message(const char* text, const char* title);

}  // namespace quorvel
