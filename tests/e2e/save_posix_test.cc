// POSIX: the real program's saves (links, modes, failures with their
// reasons, a save killed part-way) and concurrent runs on one simulated
// device, with real processes.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "platform/sim/sim_device_file.h"
#include "platform/sim/sim_mixer.h"
#include "support/example_device.h"
#include "support/process_posix.h"
#include "support/sim_device_fixture.h"
#include "support/synthetic_device.h"
#include "support/test_util.h"
#include "support/tmpfs_posix.h"

namespace quorvel {
namespace {

using testing::ProgramResult;
using testing::read_file;
using testing::SmallTmpfs;
using testing::StartedProgram;
using testing::TempDir;
using testing::write_file;

const char* const kNotFound = "File not found error.";

std::set<std::string> names_in(const std::filesystem::path& folder) {
  std::set<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(folder)) {
    names.insert(entry.path().filename().string());
  }
  return names;
}

using SavePosixTest = testing::SimDeviceFixture;

TEST_F(SavePosixTest, SaveThroughALinkReplacesItsTargetAndKeepsItsMode) {
  std::filesystem::create_directory(dir_ / "real");
  write_file(dir_ / "real" / "saved.xml", "old");
  ASSERT_EQ(::chmod((dir_ / "real" / "saved.xml").c_str(), 0600), 0);
  std::filesystem::create_symlink("real/saved.xml", dir_ / "link.xml");

  ProgramResult result = run({"-out", "link.xml"});
  ASSERT_EQ(result.exit_code, 0) << result.err;
  EXPECT_TRUE(std::filesystem::is_symlink(dir_ / "link.xml"));
  const std::string saved = read_file(dir_ / "real" / "saved.xml");
  EXPECT_EQ(saved.substr(0, 2), "\xFF\xFE");
  struct stat status {};
  ASSERT_EQ(::stat((dir_ / "real" / "saved.xml").c_str(), &status), 0);
  EXPECT_EQ(status.st_mode & 07777, 0600u);
  EXPECT_EQ(names_in(dir_ / "real"), std::set<std::string>{"saved.xml"});
}

TEST_F(SavePosixTest, FailedSavesGiveTheSystemsReason) {
  std::filesystem::create_directory(dir_ / "folder.xml");
  ProgramResult result = run({"-out", "folder.xml"});
  EXPECT_EQ(result.err, "quorvel: error: cannot save \"folder.xml\": Is a directory\n" +
                            std::string(kNotFound));
  EXPECT_EQ(result.exit_code, 1);

  // A -local source that is a folder: the reason, then the fixed text.
  result = run({"-local", "folder.xml"});
  EXPECT_EQ(result.err, "Cannot read \"" + (std::filesystem::canonical(dir_.path()) / "folder.xml").string() +
                            "\": Is a directory.\n" + kNotFound);
  EXPECT_EQ(result.exit_code, 1);

  SmallTmpfs tmpfs(4096);
  if (!tmpfs.mounted()) GTEST_SKIP() << tmpfs.why_not();
  // Too small for the document.
  const std::string full = (tmpfs.path() / "saved.xml").string();
  result = run({"-out", full});
  EXPECT_EQ(result.err,
            "quorvel: error: cannot save \"" + full + "\": No space left on device\n" + kNotFound);
  EXPECT_EQ(result.exit_code, 1);
  EXPECT_TRUE(names_in(tmpfs.path()).empty());
  // Read-only.
  ASSERT_TRUE(tmpfs.make_read_only());
  result = run({"-out", full});
  EXPECT_EQ(result.err,
            "quorvel: error: cannot save \"" + full + "\": Read-only file system\n" + kNotFound);
  EXPECT_EQ(result.exit_code, 1);
}

// Whether `pid` has a file open in `folder` other than the device's own.
bool writing_in(pid_t pid, const std::filesystem::path& folder) {
  for (const std::string& file : testing::open_files(pid)) {
    if (file.rfind(folder.string() + "/", 0) != 0) continue;
    const std::string name = file.substr(folder.string().size() + 1);
    if (name != "device.xml") return true;
  }
  return false;
}

TEST(KilledSaveTest, LeavesNothingBehind) {
  // A device whose document is tens of megabytes, so that the save takes a
  // while; the program is killed while it has its new file open.
  TempDir dir;
  const std::filesystem::path folder = std::filesystem::canonical(dir.path());
  ASSERT_TRUE(testing::succeeded(
      save_sim_device_file(make_sim_device(150000, 4, 200), folder / "device.xml")));
  const std::map<std::string, std::string> env{{"QUORVEL_MIXER", "sim:device.xml"}};
  bool caught = false;
  for (int attempt = 0; attempt < 5 && !caught; ++attempt) {
    StartedProgram program({"-out", "big.xml"}, env, folder, "/dev/null", "/dev/null");
    const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (std::chrono::steady_clock::now() < give_up) {
      if (writing_in(program.pid(), folder)) {
        program.kill();
        caught = true;
        break;
      }
      if (::kill(program.pid(), 0) != 0) break;
      std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    const int status = program.wait();
    if (caught) {
      EXPECT_EQ(status, 128 + SIGKILL);
      EXPECT_EQ(names_in(folder), (std::set<std::string>{"device.xml"}));
    } else {
      std::filesystem::remove(folder / "big.xml");
    }
  }
  ASSERT_TRUE(caught) << "the program was never seen writing its document";

  // The next run saves the whole document.
  ProgramResult result = testing::run_quorvel({"-out", "big.xml"}, env, folder);
  ASSERT_EQ(result.exit_code, 0) << result.err;
  EXPECT_GT(std::filesystem::file_size(folder / "big.xml"), std::uintmax_t{20} << 20);
}

// Ten sources, each with a line type of its own and a stereo volume.
SimDevice ten_source_device() {
  SimDevice device;
  device.name = "Ten";
  SimDestination speakers;
  speakers.name = "Speakers";
  speakers.line_id = 0xFFFF0000u;
  for (std::uint32_t j = 0; j < 10; ++j) {
    SimSource source;
    source.name = "Source " + std::to_string(j);
    source.line_type = kComponentSrcUndefined + j;
    source.controls.push_back(
        sim_control(100 + j, ctrl::kVolume, "Volume " + std::to_string(j), 0, 65535, 65535, {0}));
    speakers.sources.push_back(std::move(source));
  }
  device.destinations.push_back(std::move(speakers));
  return device;
}

TEST(ConcurrentRunsTest, TenRestoresAtOnceLoseNothing) {
  TempDir dir;
  ASSERT_TRUE(testing::succeeded(save_sim_device_file(ten_source_device(), dir / "device.xml")));
  const std::map<std::string, std::string> env{{"QUORVEL_MIXER", "sim:device.xml"}};
  // Run k sets the volume of source k only.
  for (int k = 0; k < 10; ++k) {
    const std::string value = std::to_string(1000 + k);
    write_file(dir / ("change" + std::to_string(k) + ".xml"),
               "<audio_mixer id=\"0\"><destination component_type=\"4\"><source line_type=\"" +
                   std::to_string(kComponentSrcUndefined + k) +
                   "\"><line_control ctrl_type=\"1342373889\"><value ch=\"1\">" + value +
                   "</value><value ch=\"2\">" + value +
                   "</value></line_control></source></destination></audio_mixer>");
  }
  std::vector<std::unique_ptr<StartedProgram>> runs;
  for (int k = 0; k < 10; ++k) {
    const std::string n = std::to_string(k);
    runs.push_back(std::make_unique<StartedProgram>(std::vector<std::string>{"change" + n + ".xml"},
                                                    env, dir.path(), "out" + n, "err" + n));
  }
  // A run that found the device in use said so, once, before it waited.
  const std::string waited =
      "quorvel: waiting for the simulated device \"device.xml\", which another run is using "
      "(for at most 30 seconds, QUORVEL_LOCK_TIMEOUT)\n";
  for (int k = 0; k < 10; ++k) {
    EXPECT_EQ(runs[k]->wait(), 0) << read_file(dir / ("err" + std::to_string(k)));
    std::string err = read_file(dir / ("err" + std::to_string(k)));
    if (err.rfind(waited, 0) == 0) err.erase(0, waited.size());
    EXPECT_EQ(err, "XML document loaded successfully\n");
  }
  SimDevice after;
  ASSERT_EQ(testing::load_error(dir / "device.xml", after), "");
  SimMixer mixer(std::move(after));
  for (std::int32_t k = 0; k < 10; ++k) {
    EXPECT_EQ(mixer.values(100 + k), (std::vector<std::int32_t>{1000 + k, 1000 + k}))
        << "the change of run " << k;
  }
}

// A run that waits for its document (here a FIFO nobody has written to yet;
// a slow download alike) holds no lock on the device meanwhile: another run
// has it at once, and the change that run made is kept when the first run
// goes on, which reads the device again.
TEST(ConcurrentRunsTest, ARunWaitingForItsDocumentHoldsNoOtherRunOff) {
  TempDir dir;
  ASSERT_TRUE(testing::succeeded(save_sim_device_file(ten_source_device(), dir / "device.xml")));
  auto change = [](int k) {
    const std::string value = std::to_string(1000 + k);
    return "<audio_mixer id=\"0\"><destination component_type=\"4\"><source line_type=\"" +
           std::to_string(kComponentSrcUndefined + k) +
           "\"><line_control ctrl_type=\"1342373889\"><value ch=\"1\">" + value +
           "</value><value ch=\"2\">" + value + "</value></line_control></source></destination>"
           "</audio_mixer>";
  };
  write_file(dir / "change1.xml", change(1));
  ASSERT_EQ(::mkfifo((dir / "change0.fifo").c_str(), 0600), 0);
  std::map<std::string, std::string> env{{"QUORVEL_MIXER", "sim:device.xml"}};
  StartedProgram waiting({"change0.fifo"}, env, dir.path(), "out0", "err0");
  // Time for it to read the device and come to its document.
  std::this_thread::sleep_for(std::chrono::seconds(1));
  env["QUORVEL_LOCK_TIMEOUT"] = "0";
  ProgramResult other = testing::run_quorvel({"change1.xml"}, env, dir.path());
  EXPECT_EQ(other.exit_code, 0) << other.err;
  EXPECT_EQ(other.err, "XML document loaded successfully\n");
  // Without waiting for a reader: one that is not there fails the test.
  const int fifo = ::open((dir / "change0.fifo").c_str(), O_WRONLY | O_NONBLOCK);
  ASSERT_GE(fifo, 0) << "the first run is not reading its document";
  const std::string document = change(0);
  EXPECT_EQ(::write(fifo, document.data(), document.size()),
            static_cast<ssize_t>(document.size()));
  ::close(fifo);
  EXPECT_EQ(waiting.wait(), 0) << read_file(dir / "err0");
  EXPECT_EQ(read_file(dir / "err0"), "XML document loaded successfully\n");
  SimDevice after;
  ASSERT_EQ(testing::load_error(dir / "device.xml", after), "");
  SimMixer mixer(std::move(after));
  EXPECT_EQ(mixer.values(100), (std::vector<std::int32_t>{1000, 1000}));
  EXPECT_EQ(mixer.values(101), (std::vector<std::int32_t>{1001, 1001}));
}

}  // namespace
}  // namespace quorvel
