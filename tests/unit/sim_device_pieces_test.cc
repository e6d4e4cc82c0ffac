// A device file read in pieces: every file gives exactly the device, or the
// message, that reading its bytes whole gives; what is fine goes through
// the pieces to the end, anything else is read again whole.
#include <gtest/gtest.h>

#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "platform/sim/sim_device_file.h"
#include "support/test_util.h"

namespace quorvel {
namespace {

using testing::TempDir;
using testing::write_file;

// A device of `controls` controls whose names hold a character outside the
// Basic Multilingual Plane (a surrogate pair in UTF-16) at offsets that
// vary from control to control, so that small pieces cut through pairs.
std::string device_xml(int controls, const std::string& declared) {
  std::string xml = "<?xml version=\"1.0\" encoding=\"" + declared +
                    "\"?>\n<audio_mixer id=\"0\">Card \xF0\x9F\x8E\xA7\n"
                    "<destination line_id=\"-65536\" channels=\"2\" component_type=\"4\">Out\n";
  for (int i = 0; i < controls; ++i) {
    const std::string n = std::to_string(i);
    xml += "<line_control ctrl_id=\"" + n + "\" ctrl_type=\"536936450\" min=\"0\" max=\"65535\">" +
           std::string(static_cast<std::size_t>(i % 5), 'x') + "\xF0\x9F\x8E\xA7 " + n +
           "<value>" + n + "</value></line_control>\n";
  }
  return xml + "</destination></audio_mixer>\n";
}

std::string utf16(const std::string& utf8, bool big_endian, bool bom) {
  return testing::utf16_bytes(testing::utf8_to_utf16(utf8), big_endian, bom);
}

// `bytes` with `unit` (bytes of one character) put in place of the
// character `from` bytes of characters before the end.
std::string with_unit_near_end(std::string bytes, std::size_t from_end, const std::string& unit) {
  return bytes.replace(bytes.size() - from_end * unit.size(), unit.size(), unit);
}

// `text` with every `from` replaced by `to`, of the same length.
std::string replaced(std::string text, const std::string& from, const std::string& to) {
  for (std::size_t at = text.find(from); at != std::string::npos; at = text.find(from, at)) {
    text.replace(at, from.size(), to);
  }
  return text;
}

struct Case {
  const char* name;
  std::string bytes;
  bool whole_way;  // the pieces go to the end (else the file is read again whole)
  bool valid;      // a valid device
};

std::vector<Case> cases() {
  const std::string utf8 = device_xml(120, "UTF-8");
  const std::string wide = device_xml(120, "UTF-16");
  const std::string le = utf16(wide, false, true);
  std::string late_tag = utf8;
  late_tag.replace(late_tag.rfind("<value>"), 7, "<value =>");
  const std::string duplicate = replaced(utf8, "ctrl_id=\"119\"", "ctrl_id=\"3\"  ");
  const std::string ascii = replaced(device_xml(120, "US-ASCII"), "\xF0\x9F\x8E\xA7", "****");
  return {
      {"utf8", utf8, true, true},
      {"utf8 with a byte order mark", "\xEF\xBB\xBF" + utf8, true, true},
      {"utf16 le", le, true, true},
      {"utf16 be", utf16(wide, true, true), true, true},
      {"utf16 le without a byte order mark", utf16(wide, false, false), true, true},
      {"utf16 be without a byte order mark", utf16(wide, true, false), true, true},
      {"us-ascii", ascii, true, true},
      {"a device that is not valid", duplicate, true, false},
      {"a nul in a late piece", with_unit_near_end(utf8, 40, std::string(1, '\0')), false, false},
      {"a nul in a late piece, utf16", with_unit_near_end(le, 40, std::string(2, '\0')), false,
       false},
      {"a lone high surrogate in a late piece", with_unit_near_end(le, 40, "\x3C\xD8"), false,
       false},
      {"a lone low surrogate in a late piece",
       with_unit_near_end(le, 40, std::string("\x00\xDC", 2)), false, false},
      {"utf8 that declares utf16", device_xml(3, "UTF-16"), false, false},
      {"utf16 that declares utf8", utf16(device_xml(3, "UTF-8"), false, true), false, false},
      {"an encoding not read here", device_xml(3, "EBCDIC-US"), false, false},
      {"us-ascii with a byte beyond it late", with_unit_near_end(ascii, 40, "\xE9"), false, false},
      {"utf16 cut in the middle of a unit", le.substr(0, le.size() - 1), false, false},
      {"a malformed tag in a late piece", late_tag, false, false},
      {"cut in the middle of an element", utf8.substr(0, utf8.size() - 40), false, false},
      {"compressed", std::string("\x1F\x8B\x08\x00", 4) + utf8, false, false},
      {"a byte order mark alone", "\xFF\xFE", false, false},
      {"empty", "", false, false},
  };
}


class SimDevicePiecesTest : public ::testing::TestWithParam<std::size_t> {};

TEST_P(SimDevicePiecesTest, GiveWhatTheWholeBytesGive) {
  const std::size_t piece = GetParam();
  TempDir dir;
  const std::filesystem::path path = dir / "device.xml";
  const std::string shown = "\"" + path.string() + "\"";
  for (const Case& c : cases()) {
    SCOPED_TRACE(c.name);
    SimDevice whole;
    const Result expected = load_sim_device_bytes(c.bytes, shown, whole);
    EXPECT_EQ(expected.ok(), c.valid) << expected.message();

    // Through the pieces alone.
    std::istringstream in(c.bytes);
    SimDevice pieces;
    const std::optional<Result> read =
        load_sim_device_in_pieces(in, c.bytes.size(), shown, pieces, piece);
    EXPECT_EQ(read.has_value(), c.whole_way);
    if (read) {
      EXPECT_EQ(read->ok(), expected.ok());
      EXPECT_EQ(read->message(), expected.message());
      EXPECT_EQ(pieces, whole);
    }

    // From the file, pieces and the whole read after them as need be.
    write_file(path, c.bytes);
    SimDevice loaded;
    const Result result = load_sim_device(path, loaded, piece);
    EXPECT_EQ(result.ok(), expected.ok());
    EXPECT_EQ(result.message(), expected.message());
    EXPECT_EQ(loaded, whole);
  }
}

INSTANTIATE_TEST_SUITE_P(PieceSizes, SimDevicePiecesTest,
                         ::testing::Values(std::size_t{7}, std::size_t{8}, std::size_t{64},
                                           std::size_t{4099}, kSimDevicePiece));

// A file that is shorter or longer, as read, than its size said: the pieces
// do not build from it.
TEST(SimDevicePiecesTest, AFileThatChangedWhileReadIsReadAgainWhole) {
  const std::string bytes = device_xml(50, "UTF-8");
  for (const std::size_t size : {bytes.size() - 1, bytes.size() + 1, bytes.size() - 100}) {
    SCOPED_TRACE(size);
    for (const std::size_t piece : {std::size_t{7}, std::size_t{4096}, kSimDevicePiece}) {
      std::istringstream in(bytes);
      SimDevice device;
      EXPECT_FALSE(load_sim_device_in_pieces(in, size, "d", device, piece).has_value());
      EXPECT_EQ(device, SimDevice());
    }
  }
}

}  // namespace
}  // namespace quorvel
