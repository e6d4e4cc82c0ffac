// Writing a file so that a reader, or a crash, never sees it half-written.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>

#include "common/result.h"

namespace quorvel {

// Writes `bytes` to a new temporary file in the target's folder, then puts
// it in place of `target` in one step. On failure the target keeps its old
// content, the temporary file is removed, and the failure says what failed.
Result write_file_atomically(const std::filesystem::path& target, std::string_view bytes);

// Replaces `target` by `source` in one step (both in the same folder).
Result replace_file(const std::filesystem::path& source, const std::filesystem::path& target);

}  // namespace quorvel
