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
#include <string>
#include <thread>
#include <vector>

#include "fakes/pipewire_server.h"
#include "platform/alsa/alsa_mixer.h"
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

}  // namespace
}  // namespace quorvel
