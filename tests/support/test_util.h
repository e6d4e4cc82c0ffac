// Helpers shared by the tests: temporary folders, files, captured console
// streams, and running the real program.
#pragma once

#include <filesystem>
#include <iosfwd>
#include <map>
#include <sstream>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "common/result.h"
#include "platform/document/document_model.h"

namespace quorvel::testing {

// A step's result as a test assertion: success, or a failure showing the
// step's message.
template <typename T>
::testing::AssertionResult succeeded(const Expected<T>& result) {
  if (result) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << result.message();
}

// The value of `result`; on a failure, which fails the test saying why,
// an empty T.
template <typename T>
T value_of(Expected<T> result) {
  if (!result) {
    ADD_FAILURE() << result.message();
    return T();
  }
  return std::move(result).value();
}

// Whether `text` holds `part` (or begins with it), showing the text when
// not: gmock's matchers for the tests that also run where gmock is not built.
inline ::testing::AssertionResult holds(const std::string& text, const std::string& part) {
  if (text.find(part) != std::string::npos) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << "\"" << text << "\" does not hold \"" << part << "\"";
}
inline ::testing::AssertionResult begins_with(const std::string& text, const std::string& start) {
  if (text.rfind(start, 0) == 0) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << "\"" << text << "\" does not begin with \"" << start
                                       << "\"";
}

// A fresh folder, removed with everything in it when the object goes.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::filesystem::path& path() const { return path_; }
  std::filesystem::path operator/(const std::string& name) const { return path_ / name; }

 private:
  std::filesystem::path path_;
};

std::string read_file(const std::filesystem::path& path);
void write_file(const std::filesystem::path& path, const std::string& bytes);

// Redirects a stream (std::cout or std::cerr) into a string while alive.
class CaptureStream {
 public:
  explicit CaptureStream(std::ostream& stream);
  ~CaptureStream();
  CaptureStream(const CaptureStream&) = delete;
  CaptureStream& operator=(const CaptureStream&) = delete;
  std::string text() const { return buffer_.str(); }

 private:
  std::ostream& stream_;
  std::streambuf* saved_;
  std::ostringstream buffer_;
};

struct ProgramResult {
  int exit_code = -1;
  std::string out;
  std::string err;
};

// Runs the built quorvel program with `args` (not counting the program
// name), in `cwd` when given. `env` entries are set for the child; an entry
// with an empty value is removed from its environment. QUORVEL_MIXER is
// removed unless `env` sets it.
ProgramResult run_quorvel(const std::vector<std::string>& args,
                          const std::map<std::string, std::string>& env = {},
                          const std::filesystem::path& cwd = {});

// Runs any program (looked up on PATH) the same way.
ProgramResult run_command(const std::vector<std::string>& argv,
                          const std::map<std::string, std::string>& env = {},
                          const std::filesystem::path& cwd = {});

// Path of the built program and of the source tree.
std::filesystem::path quorvel_binary();
std::filesystem::path source_dir();

// UTF-16 text as UTF-8 (surrogate pairs joined).
std::string utf16_to_utf8(std::u16string_view text);

// Valid UTF-8 text as UTF-16 code units (surrogate pairs beyond U+FFFF).
std::u16string utf8_to_utf16(std::string_view text);

// UTF-16 code units as bytes, little- or big-endian, after a byte order
// mark when `bom`.
std::string utf16_bytes(std::u16string_view units, bool big_endian, bool bom);

// UTF-16 LE bytes (with or without a byte order mark) as UTF-8.
std::string utf16le_to_utf8(const std::string& bytes);

// Every node below `node` as text, one line per node indented by its depth:
// its kind's number, name, [value] and name=value of each attribute. What
// tests compare documents' models by.
std::string listing(DocNode node, int depth = 0);

// While one lives, every allocation through operator new of at least
// kRefusedBytes on this thread fails (std::bad_alloc): a large document's
// memory runs out while the test's own small allocations go on. Not where
// a sanitizer's operator new is kept (works() says).
class RefuseAllocations {
 public:
  static constexpr std::size_t kRefusedBytes = std::size_t{1} << 20;
  static bool works();
  RefuseAllocations();
  ~RefuseAllocations();
  RefuseAllocations(const RefuseAllocations&) = delete;
  RefuseAllocations& operator=(const RefuseAllocations&) = delete;
};

}  // namespace quorvel::testing
