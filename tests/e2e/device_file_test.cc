// The real program on simulated devices: the device file after a change
// holds the whole device, hostile device files are refused in one line, and
// the default output name is a file in the working folder whatever the
// device's name.
#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <string>
#include <vector>

#include "platform/sim/sim_device_file.h"
#include "platform/sim/sim_mixer.h"
#include "support/example_device.h"
#include "support/test_util.h"

namespace quorvel {
namespace {

using testing::ProgramResult;
using testing::read_file;
using testing::run_quorvel;
using testing::TempDir;
using testing::write_file;

std::set<std::string> names_in(const std::filesystem::path& folder) {
  std::set<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(folder)) {
    names.insert(entry.path().filename().string());
  }
  return names;
}

SimDevice served(SimDevice device) { return SimMixer(std::move(device)).device(); }

// Six channels that differ, values of custom and unknown-type controls, a
// list on a source line, a third source: all of it beyond what a snapshot
// of the device shows.
constexpr const char* kDevice =
    "<audio_mixer id=\"0\">Rich Card<destination line_id=\"-65536\" channels=\"6\" "
    "component_type=\"4\">Surround"
    "<line_control ctrl_id=\"1\" ctrl_type=\"1342373889\" min=\"0\" max=\"65535\">Volume"
    "<value>1</value><value>2</value><value>3</value><value>4</value><value>5</value>"
    "<value>6</value></line_control>"
    "<line_control ctrl_id=\"2\" ctrl_type=\"0\">Custom<value>77</value></line_control>"
    "<line_control ctrl_id=\"3\" ctrl_type=\"99\">Unknown<value>-5</value></line_control>"
    "<source channels=\"2\" line_type=\"4104\">Wave"
    "<line_control ctrl_id=\"10\" ctrl_type=\"1342373889\" min=\"0\" max=\"65535\">Wave Volume"
    "<value>100</value><value>200</value></line_control>"
    "<line_control ctrl_id=\"11\" ctrl_type=\"1895890945\" max=\"1\">Wave Mix<mixer_list>"
    "<item selected=\"1\">a</item><item selected=\"0\">b</item></mixer_list></line_control>"
    "</source><source channels=\"1\" line_type=\"4101\">CD</source>"
    "<source channels=\"1\" line_type=\"4099\">Mic</source>"
    "</destination></audio_mixer>";

TEST(DeviceFileRun, AChangeKeepsEverythingTheFileHeld) {
  TempDir dir;
  write_file(dir / "device.xml", kDevice);
  SimDevice before;
  ASSERT_EQ(testing::load_error(dir / "device.xml", before), "");
  // A document that changes the wave volume, and nothing else.
  write_file(dir / "change.xml",
             "<audio_mixer id=\"0\"><destination component_type=\"4\"><source line_type=\"4104\">"
             "<line_control ctrl_type=\"1342373889\"><value ch=\"1\">300</value>"
             "<value ch=\"2\">400</value></line_control></source></destination></audio_mixer>");
  ProgramResult result =
      run_quorvel({"change.xml"}, {{"QUORVEL_MIXER", "sim:device.xml"}}, dir.path());
  ASSERT_EQ(result.exit_code, 0) << result.err;

  SimDevice after;
  ASSERT_EQ(testing::load_error(dir / "device.xml", after), "");
  SimDevice expected = served(before);
  expected.destinations[0].sources[0].controls[0].values = {300, 400};
  EXPECT_TRUE(served(after) == expected);
  EXPECT_EQ(served(after).destinations[0].controls[0].values,
            (std::vector<std::int32_t>{1, 2, 3, 4, 5, 6}));
  EXPECT_EQ(served(after).destinations[0].sources.size(), 3u);
}

TEST(DeviceFileRun, HostileDeviceFilesAreRefusedInOneLine) {
  TempDir dir;
  write_file(dir / "negative.xml",
             "<audio_mixer>C<destination channels=\"-1\">D<line_control ctrl_id=\"1\" "
             "ctrl_type=\"1342373889\">V</line_control></destination></audio_mixer>");
  // The same count written unsigned: reported as written, not cut to the
  // signed range.
  std::string unsigned_count = read_file(dir / "negative.xml");
  unsigned_count.replace(unsigned_count.find("\"-1\""), 4, "\"4294967295\"");
  write_file(dir / "unsigned.xml", unsigned_count);
  // Numbers the document's own rule does not read as numbers.
  write_file(dir / "hex.xml",
             "<audio_mixer>C<destination line_id=\"0x10\">D</destination></audio_mixer>");
  write_file(dir / "trailing.xml",
             "<audio_mixer>C<destination>D<line_control ctrl_id=\"1\" ctrl_type=\"1342373889\">"
             "V<value>12abc</value></line_control></destination></audio_mixer>");
  struct Case {
    std::string device;
    std::string reason;
  } cases[] = {
      {"hex.xml", "\"hex.xml\" is not a valid device: destination 0: line_id \"0x10\" is not a "
                  "number"},
      {"trailing.xml", "\"trailing.xml\" is not a valid device: destination 0, control 1: value "
                       "\"12abc\" is not a number"},
      {"negative.xml",
       "\"negative.xml\" is not a valid device: destination 0: 4294967295 channels (a line has "
       "at most 64)"},
      {"unsigned.xml",
       "\"unsigned.xml\" is not a valid device: destination 0: 4294967295 channels (a line has "
       "at most 64)"},
#ifndef _WIN32
      {"/dev/zero",
       "not a regular file; a simulated device is a file of its own"},
#endif
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.device);
    ProgramResult result = run_quorvel({"-out"}, {{"QUORVEL_MIXER", "sim:" + c.device}}, dir.path());
    EXPECT_EQ(result.err, "quorvel: error: QUORVEL_MIXER=sim:" + c.device + ": " + c.reason + "\n");
    EXPECT_EQ(result.exit_code, 1);
  }
}

TEST(DeviceFileRun, DefaultOutputNamesAreFilesInTheWorkingFolder) {
  TempDir dir;
  std::filesystem::create_directory(dir / "work");
  const struct {
    std::string device_name;
    std::string saved_as;
  } cases[] = {
      {"/some/where/name", "_some_where_name.xml"},
      {"../x", ".._x.xml"},
      {"In/Out Card", "In_Out Card.xml"},
      {"", "mixer.xml"},
      {"Demo PCI Sound Card", "Demo PCI Sound Card.xml"},
  };
  std::set<std::string> expected{"device.xml"};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.device_name);
    SimDevice device;
    device.name = c.device_name;
    ASSERT_TRUE(testing::succeeded(save_sim_device_file(device, dir / "work" / "device.xml")));
    ProgramResult result =
        run_quorvel({"-out"}, {{"QUORVEL_MIXER", "sim:device.xml"}}, dir / "work");
    EXPECT_EQ(result.err, "audio XML file saved OK.");
    EXPECT_EQ(result.exit_code, 0);
    expected.insert(c.saved_as);
    EXPECT_EQ(names_in(dir / "work"), expected);
  }
  // Nothing went anywhere else.
  EXPECT_EQ(names_in(dir.path()), std::set<std::string>{"work"});
  EXPECT_FALSE(std::filesystem::exists("/some/where/name.xml"));
}

}  // namespace
}  // namespace quorvel
