// Showing the user a message that needs no console to be seen.
#pragma once

namespace quorvel {

// Shows `text` with `title`: a message box where the platform has one (the
// call returns when the user closes it), else, or when the box cannot be
// shown (no desktop), one line "TITLE: TEXT" on standard error.
void show_message(const char* text, const char* title);

}  // namespace quorvel
