// File names made from text that comes from elsewhere (a device's name).
#pragma once

#include <string>
#include <string_view>

namespace quorvel {

// `name` (UTF-8) as the name of a file in the current folder: every path
// separator and every character the platform's file systems refuse in a
// name becomes "_" (Linux: "/"; Windows: \ / : * ? " < > |, control
// characters, and dots and blanks at the end), and a name the platform
// reserves for a device (Windows: CON, NUL, COM1 and the like, with any
// extension) gets "_" after its stem. The result never names a folder or
// another folder's file; a name that needs none of this is kept as it is.
// An empty name stays empty.
std::string safe_file_name(std::string_view name);

// The default output name of a device named `device_name`: the name with
// ".xml" added, made safe; "mixer.xml" for a device without a name.
std::string default_file_name(std::string_view device_name);

}  // namespace quorvel
