// The program on a real sound server: a private PipeWire with WirePlumber
// and its Pulse server (tests/fakes/pipewire_server.h), reached as a user's
// program reaches it, through ALSA's default device. Sinks and sources are
// null ones loaded with pactl; every check reads pactl's own numbers.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <memory>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <signal.h>

#include <chrono>
#include <fstream>

#include "fakes/pipewire_server.h"
#include "platform/alsa/alsa_mixer.h"
#include "support/process_posix.h"
#include "support/test_util.h"

namespace quorvel {
namespace {

using ::testing::HasSubstr;
using ::testing::Not;
using testing::PipeWireServer;
using testing::ProgramResult;
using testing::TempDir;
using testing::read_file;
using testing::volumes_in;
using testing::wait_until;

constexpr const char* kLoaded = "XML document loaded successfully\n";
constexpr const char* kSurroundMap =
    "channel_map=front-left,front-right,rear-left,rear-right,front-center,lfe";

std::vector<std::string> as_args(const std::vector<long>& values) {
  std::vector<std::string> args;
  for (long value : values) args.push_back(std::to_string(value));
  return args;
}

class PipeWireTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    missing_ = PipeWireServer::missing_parts();
    if (missing_.empty()) server_ = std::make_unique<PipeWireServer>();
  }
  static void TearDownTestSuite() { server_.reset(); }

  void SetUp() override {
    if (!missing_.empty()) {
      GTEST_SKIP() << "PipeWire is not installed (scripts/install-deps --tests installs it); missing: "
                   << missing_;
    }
    ASSERT_TRUE(server_->started()) << server_->failure();
  }

  static PipeWireServer& server() { return *server_; }

  // Runs the program on the server's mixer, ALSA's default device.
  ProgramResult quorvel(const std::vector<std::string>& args, bool name_the_mixer = true) {
    std::map<std::string, std::string> env = server().env();
    env["QUORVEL_MIXER"] = name_the_mixer ? "alsa:default" : "";
    return testing::run_quorvel(args, env, dir_.path());
  }
  void quorvel_ok(const std::vector<std::string>& args, const std::string& err = "") {
    ProgramResult result = quorvel(args);
    EXPECT_EQ(result.exit_code, 0) << result.err;
    if (!err.empty()) {
      EXPECT_EQ(result.err, err);
    }
  }

  // The values of an ALSA control of the default device as amixer shows
  // them ("65536,65536"); empty when amixer fails.
  std::string alsa_values(const std::string& name) {
    std::vector<std::string> argv{"amixer", "-D", "default", "cget", "name=" + name};
    ProgramResult result = testing::run_command(argv, server().env());
    const std::string marker = ": values=";
    std::size_t at = result.out.find(marker);
    if (result.exit_code != 0 || at == std::string::npos) return {};
    at += marker.size();
    return result.out.substr(at, result.out.find('\n', at) - at);
  }

  // Loads a null sink (or, with a media class, a node of that class).
  static void load_null(const std::string& name, std::vector<std::string> extra = {}) {
    std::vector<std::string> args{"load-module", "module-null-sink", "sink_name=" + name};
    args.insert(args.end(), extra.begin(), extra.end());
    server().pactl(args);
  }

  // Makes `sink` the default and waits until ALSA's view follows it.
  void use_sink(const std::string& sink, std::size_t channels) {
    server().pactl({"set-default-sink", sink});
    ASSERT_TRUE(wait_until([&] {
      const std::string values = alsa_values("Master Playback Volume");
      return !values.empty() &&
             static_cast<std::size_t>(std::count(values.begin(), values.end(), ',')) + 1 ==
                 channels &&
             volumes_in(server().pactl({"get-sink-volume", sink})).size() == channels;
    })) << "ALSA does not show " << sink << "\n" << server().log();
  }

  std::vector<long> sink_volume(const std::string& sink) {
    return volumes_in(server().pactl({"get-sink-volume", sink}));
  }
  std::vector<long> source_volume(const std::string& source) {
    return volumes_in(server().pactl({"get-source-volume", source}));
  }
  std::string sink_mute(const std::string& sink) {
    return server().pactl({"get-sink-mute", sink});
  }

  static std::string missing_;
  static std::unique_ptr<PipeWireServer> server_;
  TempDir dir_;
};

std::string PipeWireTest::missing_;
std::unique_ptr<PipeWireServer> PipeWireTest::server_;

// Save, change with pactl, restore: the very numbers come back, on a stereo
// sink and on a 5.1 sink, mute included; restoring an unchanged snapshot
// changes nothing.
TEST_F(PipeWireTest, SinksComeBackExactly) {
  load_null("quorvel_stereo");
  load_null("quorvel_surround", {kSurroundMap});
  struct Case {
    std::string sink;
    std::vector<long> volumes;
    std::string mute;
  } cases[] = {{"quorvel_stereo", {10000, 20000}, "no"},
               {"quorvel_surround", {10000, 20000, 30000, 40000, 50000, 60000}, "yes"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.sink);
    std::vector<std::string> set{"set-sink-volume", c.sink};
    for (const std::string& value : as_args(c.volumes)) set.push_back(value);
    server().pactl(set);
    server().pactl({"set-sink-mute", c.sink, c.mute == "yes" ? "1" : "0"});
    use_sink(c.sink, c.volumes.size());
    quorvel_ok({"-out", "saved.xml"});

    server().pactl({"set-sink-volume", c.sink, "1000"});
    server().pactl({"set-sink-mute", c.sink, "toggle"});
    ASSERT_NE(sink_volume(c.sink), c.volumes);
    // A preview sees the change and leaves the server alone: its numbers,
    // and no change event on a sink, source, card or the server while it
    // runs (its own client's events aside).
    const std::vector<long> changed = sink_volume(c.sink);
    ProgramResult events;
    std::thread listener([&] {
      events = testing::run_command({"timeout", "3", "pactl", "subscribe"}, server().env());
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    EXPECT_EQ(quorvel({"-n", "saved.xml"}).exit_code, 1);
    listener.join();
    EXPECT_EQ(sink_volume(c.sink), changed);
    EXPECT_THAT(events.out, ::testing::Not(::testing::ContainsRegex(
                                "'change' on (sink|source|card|server)")))
        << events.out;
    quorvel_ok({"saved.xml", "-out", "after.xml"}, std::string(kLoaded) + "audio XML file saved OK.");
    EXPECT_EQ(quorvel({"-n", "saved.xml"}).exit_code, 0);
    EXPECT_EQ(sink_volume(c.sink), c.volumes);
    EXPECT_EQ(sink_mute(c.sink), "Mute: " + c.mute + "\n");
    EXPECT_EQ(read_file(dir_ / "after.xml"), read_file(dir_ / "saved.xml"));

    // The unchanged snapshot again: nothing moves.
    quorvel_ok({"saved.xml"});
    EXPECT_EQ(sink_volume(c.sink), c.volumes);
    EXPECT_EQ(sink_mute(c.sink), "Mute: " + c.mute + "\n");
  }
}

// A stereo document sets front left and right of a 5.1 sink; the other
// channels keep theirs.
TEST_F(PipeWireTest, StereoDocumentOntoASurroundSink) {
  load_null("quorvel_stereo2");
  load_null("quorvel_surround2", {kSurroundMap});
  server().pactl({"set-sink-volume", "quorvel_stereo2", "11111", "22222"});
  use_sink("quorvel_stereo2", 2);
  quorvel_ok({"-out", "stereo.xml"});

  const std::vector<long> surround{10000, 20000, 30000, 40000, 50000, 60000};
  std::vector<std::string> set{"set-sink-volume", "quorvel_surround2"};
  for (const std::string& value : as_args(surround)) set.push_back(value);
  server().pactl(set);
  use_sink("quorvel_surround2", 6);
  quorvel_ok({"stereo.xml"});
  EXPECT_EQ(sink_volume("quorvel_surround2"),
            (std::vector<long>{11111, 22222, 30000, 40000, 50000, 60000}));
}

// A real source comes back exactly; a virtual one's volume has no channels
// and its mute always reads "on", so its document holds neither, and
// restoring that document leaves a real microphone as it is, muted too.
TEST_F(PipeWireTest, VirtualSourceDocumentLeavesARealMicrophoneAlone) {
  load_null("quorvel_mic", {"media.class=Audio/Source", "channel_map=front-left,front-right"});
  load_null("quorvel_virtual", {"media.class=Audio/Source/Virtual"});
  server().pactl({"set-source-volume", "quorvel_mic", "40000", "41000"});
  server().pactl({"set-default-source", "quorvel_mic"});
  ASSERT_TRUE(wait_until([&] { return alsa_values("Capture Volume") == "40000,41000"; }))
      << alsa_values("Capture Volume");
  quorvel_ok({"-out", "real.xml"});

  server().pactl({"set-default-source", "quorvel_virtual"});
  ASSERT_TRUE(wait_until([&] { return alsa_values("Capture Volume") != "40000,41000"; }));
  quorvel_ok({"-out", "virtual.xml"});
  const std::string virtual_document = testing::utf16le_to_utf8(read_file(dir_ / "virtual.xml"));
  EXPECT_THAT(virtual_document, Not(HasSubstr("Capture Volume")));
  EXPECT_THAT(virtual_document, Not(HasSubstr("Capture Mute")));

  server().pactl({"set-default-source", "quorvel_mic"});
  server().pactl({"set-source-volume", "quorvel_mic", "12345", "23456"});
  server().pactl({"set-source-mute", "quorvel_mic", "1"});
  ASSERT_TRUE(wait_until([&] { return alsa_values("Capture Volume") == "12345,23456"; }));
  quorvel_ok({"virtual.xml"});
  EXPECT_EQ(source_volume("quorvel_mic"), (std::vector<long>{12345, 23456}));
  EXPECT_EQ(server().pactl({"get-source-mute", "quorvel_mic"}), "Mute: yes\n");
  server().pactl({"set-source-mute", "quorvel_mic", "0"});

  quorvel_ok({"real.xml"});
  EXPECT_EQ(source_volume("quorvel_mic"), (std::vector<long>{40000, 41000}));
}

// With QUORVEL_MIXER unset the sound server is the mixer, through its own
// back-end: every channel of its sinks, each with its position.
TEST_F(PipeWireTest, WithoutASoundCardTheServerIsTheMixer) {
  if (!alsa_card_devices().empty()) GTEST_SKIP() << "this machine has a sound card";
  load_null("quorvel_only", {kSurroundMap});
  use_sink("quorvel_only", 6);
  ProgramResult result = quorvel({"-out", "server.xml"}, false);
  EXPECT_EQ(result.exit_code, 0) << result.err;
  const std::string document = testing::utf16le_to_utf8(read_file(dir_ / "server.xml"));
  EXPECT_THAT(document, HasSubstr("server_name=\"quorvel_only\""));
  EXPECT_THAT(document, HasSubstr("<value ch=\"6\" position=\"lfe\">"));
}

// The pid of this server's Pulse server (pipewire-pulse), found by its
// runtime folder among the machine's processes; -1 when none is found.
pid_t pulse_server_pid(const std::string& runtime_folder) {
  const std::string wanted = "XDG_RUNTIME_DIR=" + runtime_folder;
  for (const auto& entry : std::filesystem::directory_iterator("/proc")) {
    const std::string name = entry.path().filename().string();
    if (name.find_first_not_of("0123456789") != std::string::npos) continue;
    std::ifstream comm(entry.path() / "comm");
    std::string command;
    if (!std::getline(comm, command) || command != "pipewire-pulse") continue;
    std::ifstream environ(entry.path() / "environ", std::ios::binary);
    std::string variable;
    while (std::getline(environ, variable, '\0')) {
      if (variable == wanted) return static_cast<pid_t>(std::stol(name));
    }
  }
  return -1;
}

// The server as the machine's mixer (QUORVEL_MIXER unset) when what it
// holds is hostile to a restore: the server down or stopped, a device gone,
// names with control characters, two sinks of one name, the server gone in
// the middle of a restore. Each row checks pactl's own numbers.
TEST_F(PipeWireTest, TrustTable) {
  std::map<std::string, std::string> env = server().env();
  env["QUORVEL_MIXER"] = "";
  auto run = [&](const std::vector<std::string>& args,
                 const std::map<std::string, std::string>& with) {
    std::vector<std::string> argv{"timeout", "30", testing::quorvel_binary().string()};
    argv.insert(argv.end(), args.begin(), args.end());
    return testing::run_command(argv, with, dir_.path());
  };
  auto volume_of = [&](const std::string& sink, long value) {
    server().pactl({"set-sink-volume", sink, std::to_string(value)});
  };
  const pid_t pulse = pulse_server_pid(env["XDG_RUNTIME_DIR"]);
  ASSERT_GT(pulse, 0) << "no pipewire-pulse of this server";

  {
    SCOPED_TRACE("a server named in PULSE_SERVER that is down is the run's failure");
    testing::write_file(dir_ / "any.xml", "<audio_mixer id=\"0\"/>");
    std::map<std::string, std::string> down = env;
    down["PULSE_SERVER"] = "unix:" + (dir_ / "nothing-here").string();
    const std::string said =
        "quorvel: error: cannot reach the sound server " + down["PULSE_SERVER"] + ": ";
    for (const auto& [args, status] :
         std::vector<std::pair<std::vector<std::string>, int>>{
             {{"-out", "down.xml"}, 1}, {{"-n", "any.xml"}, 2}, {{"any.xml"}, 1}}) {
      ProgramResult result = run(args, down);
      EXPECT_EQ(result.exit_code, status) << result.err;
      EXPECT_EQ(result.err.rfind(said, 0), 0u) << result.err;
      EXPECT_EQ(std::count(result.err.begin(), result.err.end(), '\n'), 1) << result.err;
    }
    EXPECT_FALSE(std::filesystem::exists(dir_ / "down.xml"));
  }
  {
    SCOPED_TRACE("a stopped server costs the bound, and is named");
    ASSERT_EQ(::kill(pulse, SIGSTOP), 0);
    const auto start = std::chrono::steady_clock::now();
    ProgramResult result = run({"-out", "stopped.xml"}, env);
    const auto took = std::chrono::steady_clock::now() - start;
    ASSERT_EQ(::kill(pulse, SIGCONT), 0);
    EXPECT_EQ(result.exit_code, 1) << result.err;
    EXPECT_THAT(result.err, HasSubstr("did not answer within 2 s\n"));
    EXPECT_LT(took, std::chrono::seconds(10));
    EXPECT_FALSE(std::filesystem::exists(dir_ / "stopped.xml"));
  }
  {
    SCOPED_TRACE("a default device that is gone gives its values and its default to no other");
    const std::string headset =
        server().pactl({"load-module", "module-null-sink", "sink_name=trust_headset"});
    load_null("trust_speakers");
    ASSERT_TRUE(wait_until([&] { return sink_volume("trust_speakers").size() == 2; }));
    volume_of("trust_headset", 100270);
    volume_of("trust_speakers", 30000);
    server().pactl({"set-default-sink", "trust_headset"});
    ProgramResult saved = run({"-out", "headset.xml"}, env);
    ASSERT_EQ(saved.exit_code, 0) << saved.err;
    server().pactl({"unload-module", headset.substr(0, headset.find('\n'))});
    load_null("trust_bluetooth");
    ASSERT_TRUE(wait_until([&] { return sink_volume("trust_bluetooth").size() == 2; }));
    volume_of("trust_bluetooth", 20000);
    volume_of("trust_speakers", 1000);
    const std::string default_before = server().pactl({"get-default-sink"});
    ProgramResult restored = run({"headset.xml"}, env);
    EXPECT_EQ(restored.exit_code, 0) << restored.err;
    EXPECT_THAT(restored.err, HasSubstr("(\"trust_headset\") is not on this mixer"));
    EXPECT_EQ(sink_volume("trust_speakers"), (std::vector<long>{30000, 30000}));
    EXPECT_EQ(sink_volume("trust_bluetooth"), (std::vector<long>{20000, 20000}));
    EXPECT_EQ(server().pactl({"get-default-sink"}), default_before);
  }
  {
    SCOPED_TRACE("a description with control characters saves, loads and restores");
    load_null("trust_control",
              {"sink_properties=device.description=\"Bad\x01Name\x1b[1m\""});
    ASSERT_TRUE(wait_until([&] { return sink_volume("trust_control").size() == 2; }));
    volume_of("trust_control", 12345);
    ProgramResult saved = run({"-out", "control.xml"}, env);
    ASSERT_EQ(saved.exit_code, 0) << saved.err;
    EXPECT_THAT(testing::utf16le_to_utf8(read_file(dir_ / "control.xml")),
                HasSubstr("Bad\xE2\x90\x81Name\xE2\x90\x9B[1m"));
    volume_of("trust_control", 999);
    EXPECT_EQ(run({"-n", "control.xml"}, env).exit_code, 1);
    ProgramResult restored = run({"control.xml"}, env);
    EXPECT_EQ(restored.exit_code, 0) << restored.err;
    EXPECT_EQ(sink_volume("trust_control"), (std::vector<long>{12345, 12345}));
  }
  {
    SCOPED_TRACE("two sinks of one name keep their own values");
    load_null("trust_twin");
    load_null("trust_twin");
    std::vector<std::string> twins;
    ASSERT_TRUE(wait_until([&] {
      twins.clear();
      std::istringstream list(server().pactl({"list", "short", "sinks"}));
      std::string row;
      while (std::getline(list, row)) {
        if (row.find("\ttrust_twin\t") != std::string::npos) twins.push_back(row.substr(0, row.find('\t')));
      }
      return twins.size() == 2;
    })) << server().pactl({"list", "short", "sinks"});
    volume_of(twins[0], 11111);
    volume_of(twins[1], 22222);
    ProgramResult saved = run({"-out", "twins.xml"}, env);
    ASSERT_EQ(saved.exit_code, 0) << saved.err;
    volume_of(twins[0], 1000);
    volume_of(twins[1], 1000);
    ProgramResult restored = run({"twins.xml"}, env);
    EXPECT_EQ(restored.exit_code, 0) << restored.err;
    EXPECT_EQ(sink_volume(twins[0]), (std::vector<long>{11111, 11111}));
    EXPECT_EQ(sink_volume(twins[1]), (std::vector<long>{22222, 22222}));
    EXPECT_EQ(run({"-n", "twins.xml"}, env).exit_code, 0);
  }
  {
    SCOPED_TRACE("a server gone in the middle of a restore is said once");
    constexpr int kSinks = 150;
    auto sink = [](int k) {
      std::string name = std::to_string(k);
      return "trust_many_" + std::string(3 - name.size(), '0') + name;
    };
    for (int k = 0; k < kSinks; ++k) load_null(sink(k));
    ASSERT_TRUE(wait_until([&] { return sink_volume(sink(kSinks - 1)).size() == 2; }));
    for (int k = 0; k < kSinks; ++k) volume_of(sink(k), 30000);
    ProgramResult saved = run({"-out", "many.xml"}, env);
    ASSERT_EQ(saved.exit_code, 0) << saved.err;
    for (int k = 0; k < kSinks; ++k) volume_of(sink(k), 1000);
    testing::StartedProgram restore({"many.xml"}, env, dir_.path(), "many.out", "many.err");
    // Stopped once the restore has written the first of them.
    ASSERT_TRUE(wait_until(
        [&] { return sink_volume(sink(0)) == std::vector<long>{30000, 30000}; },
        std::chrono::seconds(20)));
    ASSERT_EQ(::kill(pulse, SIGSTOP), 0);
    const int status = restore.wait();
    ASSERT_EQ(::kill(pulse, SIGCONT), 0);
    const std::string err = read_file(dir_ / "many.err");
    if (status == 0) GTEST_SKIP() << "the restore was over before the server stopped";
    EXPECT_EQ(status, 1);
    // Stopped while the restore wrote, or once its writes were made, while
    // it read the server again (its applications, for the check after).
    EXPECT_THAT(err, ::testing::ContainsRegex(
                         "quorvel: error: the mixer \"[^\"]*\" went away (after [0-9]+ of [0-9]+ "
                         "writes; nothing more was written|while it was read; its document is "
                         "not complete)"));
    EXPECT_THAT(err, Not(HasSubstr("refused")));
    EXPECT_LE(std::count(err.begin(), err.end(), '\n'), 3) << err;
  }
}

}  // namespace
}  // namespace quorvel
