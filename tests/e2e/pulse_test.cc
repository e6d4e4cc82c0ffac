// The sound server back-end (QUORVEL_MIXER=pulse) on real servers: a private
// PulseAudio 16 daemon (tests/fakes/pulseaudio_server.h) and a private
// PipeWire with its Pulse server (tests/fakes/pipewire_server.h), each
// reached as a user's program reaches it. Sinks are null ones loaded with
// pactl, sources null ones (PulseAudio) or pipe ones (PipeWire), and a
// source remapped from one; every check reads pactl's own numbers.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <map>
#include <memory>
#include <regex>
#include <string>
#include <thread>
#include <type_traits>
#include <vector>

#include "fakes/pipewire_server.h"
#include "fakes/pulseaudio_server.h"
#include "platform/alsa/alsa_mixer.h"
#include "platform/pulse/pulse_mixer.h"
#include "support/test_util.h"

namespace quorvel {
namespace {

using ::testing::ContainsRegex;
using ::testing::HasSubstr;
using ::testing::Not;
using testing::PipeWireServer;
using testing::ProgramResult;
using testing::PulseAudioServer;
using testing::TempDir;
using testing::read_file;
using testing::volumes_in;
using testing::wait_until;

constexpr const char* kLoaded = "XML document loaded successfully\n";
constexpr const char* kSaved = "audio XML file saved OK.";
constexpr const char* kStereo = "front-left,front-right";
// In a WAVE file's channel order: the rear speakers come fifth and sixth,
// after the centre and LFE, so values paired by number would go astray on
// a 4.0 sink.
constexpr const char* kSurround = "front-left,front-right,front-center,lfe,rear-left,rear-right";

template <typename Server>
class SoundServerTest : public ::testing::Test {
 protected:
  static constexpr bool kPipeWire = std::is_same_v<Server, PipeWireServer>;

  static void SetUpTestSuite() {
    missing_ = Server::missing_parts();
    if (missing_.empty()) server_ = std::make_unique<Server>();
  }
  static void TearDownTestSuite() { server_.reset(); }

  void SetUp() override {
    if (!missing_.empty()) GTEST_SKIP() << "the sound server cannot run here: " << missing_;
    ASSERT_TRUE(server_->started()) << server_->failure();
  }

  static Server& server() { return *server_; }

  // Runs the program on the server's mixer (`mixer` empty: QUORVEL_MIXER
  // unset).
  ProgramResult quorvel(const std::vector<std::string>& args, const std::string& mixer = "pulse",
                        std::map<std::string, std::string> extra = {}) {
    std::map<std::string, std::string> env = server().env();
    env["QUORVEL_MIXER"] = mixer;
    for (const auto& [name, value] : extra) env[name] = value;
    return testing::run_quorvel(args, env, dir_.path());
  }

  // A sink or source of `channels` named `name`, described as
  // `description`; it exists once pactl shows its volume. Returns the
  // module's index, for unload().
  std::string load_sink(const std::string& name, const std::string& description,
                        const std::string& map, int channels) {
    const std::string module = server().pactl(
        {"load-module", "module-null-sink", "sink_name=" + name,
         "sink_properties=device.description=" + description,
         "channels=" + std::to_string(channels), "channel_map=" + map});
    wait_for("sink", name, channels);
    return module.substr(0, module.find('\n'));
  }
  std::string load_source(const std::string& name, const std::string& description,
                          const std::string& map, int channels) {
    std::string module;
    if constexpr (kPipeWire) {
      // A pipe source: WirePlumber never makes a null sink loaded as a
      // source the default source, but it does a pipe source, as a
      // microphone. Its pipe lives in the server's runtime folder.
      module = server().pactl({"load-module", "module-pipe-source", "source_name=" + name,
                               "file=" + server().env().at("XDG_RUNTIME_DIR") + "/" + name,
                               "source_properties=device.description=" + description,
                               "channels=" + std::to_string(channels), "channel_map=" + map});
    } else {
      module = server().pactl({"load-module", "module-null-source", "source_name=" + name,
                               "description=" + description,
                               "channels=" + std::to_string(channels), "channel_map=" + map});
    }
    wait_for("source", name, channels);
    return module.substr(0, module.find('\n'));
  }
  // Unloads the module that made the sink or source `name`, and waits
  // until it is gone.
  void unload(const std::string& module, const std::string& kind, const std::string& name) {
    server().pactl({"unload-module", module});
    ASSERT_TRUE(wait_until([&] {
      return server().try_pactl({"get-" + kind + "-volume", name}).exit_code != 0;
    })) << kind << " " << name << " stays\n" << server().log();
  }
  // A virtual source: `master` remapped.
  void load_remap(const std::string& name, const std::string& description,
                  const std::string& master) {
    server().pactl({"load-module", "module-remap-source", "source_name=" + name,
                    "master=" + master, "source_properties=device.description=" + description});
    wait_for("source", name);
  }
  // Waits until pactl shows the volume of `name`, of `channels` channels
  // when that is given (PipeWire may show a new node before its format).
  void wait_for(const std::string& kind, const std::string& name, int channels = 0) {
    ASSERT_TRUE(wait_until([&] {
      const ProgramResult shown = server().try_pactl({"get-" + kind + "-volume", name});
      return shown.exit_code == 0 &&
             (channels == 0 || volumes_in(shown.out).size() == static_cast<std::size_t>(channels));
    })) << kind << " " << name << " does not appear\n" << server().log();
  }

  std::vector<long> volume(const std::string& kind, const std::string& name) {
    return volumes_in(server().pactl({"get-" + kind + "-volume", name}));
  }
  // Sets the volume (one value: every channel's) and waits until pactl
  // shows it: PipeWire applies a volume a moment after it acknowledged it.
  void set_volume(const std::string& kind, const std::string& name,
                  const std::vector<long>& values) {
    std::vector<std::string> args{"set-" + kind + "-volume", name};
    for (long value : values) args.push_back(std::to_string(value));
    server().pactl(args);
    std::vector<long> wanted = values;
    if (values.size() == 1) wanted.assign(volume(kind, name).size(), values.front());
    EXPECT_TRUE(wait_until([&] { return volume(kind, name) == wanted; }))
        << kind << " " << name << " does not take its volume";
  }
  std::string mute(const std::string& kind, const std::string& name) {
    return server().pactl({"get-" + kind + "-mute", name});
  }
  std::string default_of(const std::string& kind) {
    std::string name = server().pactl({"get-default-" + kind});
    while (!name.empty() && name.back() == '\n') name.pop_back();
    return name;
  }
  // Makes `name` the default sink or source, and waits until pactl shows
  // it (WirePlumber settles PipeWire's default a moment later).
  void set_default(const std::string& kind, const std::string& name) {
    server().pactl({"set-default-" + kind, name});
    ASSERT_TRUE(wait_until([&] { return default_of(kind) == name; }))
        << "the default " << kind << " stays " << default_of(kind);
  }

  // The server's change events while `run` runs (its own client's aside).
  template <typename Run>
  std::string change_events(Run run) {
    ProgramResult events;
    std::thread listener([&] {
      events = testing::run_command({"timeout", "3", "pactl", "subscribe"}, server().env());
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    run();
    listener.join();
    std::string changes;
    static const std::regex change(R"(Event 'change' on (sink|source|card|server)[^\n]*)");
    for (auto it = std::sregex_iterator(events.out.begin(), events.out.end(), change);
         it != std::sregex_iterator(); ++it) {
      changes += it->str() + "\n";
    }
    return changes;
  }

  std::string document(const std::string& name) {
    return testing::utf16le_to_utf8(read_file(dir_ / name));
  }

  static std::string missing_;
  static std::unique_ptr<Server> server_;
  TempDir dir_;
};

template <typename Server>
std::string SoundServerTest<Server>::missing_;
template <typename Server>
std::unique_ptr<Server> SoundServerTest<Server>::server_;

using Servers = ::testing::Types<PulseAudioServer, PipeWireServer>;
TYPED_TEST_SUITE(SoundServerTest, Servers);

// Every sink and source, the monitors and a virtual source among them,
// saved, changed with pactl and restored: pactl's raw numbers come back
// per channel, from 0 to 150 %, with the mutes and the default sink; the
// default source, a monitor, stays it. Restoring the unchanged snapshot
// then causes no change event at all. libpulse's own log stays silent even
// when asked for everything (PULSE_LOG=4).
TYPED_TEST(SoundServerTest, EveryDeviceComesBackExactly) {
  this->load_sink("qa_stereo", "QuorvelStereo", "front-left,front-right", 2);
  this->load_sink("qb_surround", "QuorvelSurround", kSurround, 6);
  this->load_sink("qc_mono", "QuorvelMono", "mono", 1);
  this->load_source("qd_mic", "QuorvelMic", "front-left,front-right", 2);
  this->load_remap("qe_remap", "QuorvelRemap", "qd_mic");
  struct Device {
    std::string kind;
    std::string name;
    std::vector<long> volume;
    bool muted;
  } devices[] = {
      {"sink", "qa_stereo", {98304, 65536}, false},
      {"sink", "qb_surround", {0, 2, 32768, 65536, 85197, 98304}, true},
      {"sink", "qc_mono", {45000}, false},
      {"source", "qd_mic", {98304, 72090}, true},
      {"source", "qe_remap", {30000, 40000}, false},
      {"source", "qa_stereo.monitor", {50000, 60000}, false},
  };
  for (const Device& d : devices) {
    this->set_volume(d.kind, d.name, d.volume);
    this->server().pactl({"set-" + d.kind + "-mute", d.name, d.muted ? "1" : "0"});
  }
  this->server().pactl({"set-default-sink", "qa_stereo"});
  this->server().pactl({"set-default-source", "qa_stereo.monitor"});

  ProgramResult saved = this->quorvel({"-out", "saved.xml"}, "pulse", {{"PULSE_LOG", "4"}});
  ASSERT_EQ(saved.exit_code, 0) << saved.err;
  EXPECT_EQ(saved.err, kSaved);
  const std::string text = this->document("saved.xml");
  EXPECT_THAT(text, ContainsRegex("component_type=\"4\" server_name=\"qb_surround\">QuorvelSurround"));
  EXPECT_THAT(text, ContainsRegex("component_type=\"7\" server_name=\"qe_remap\">QuorvelRemap"));
  EXPECT_THAT(text, ContainsRegex("component_type=\"3\" server_name=\"qa_stereo.monitor\">"));
  EXPECT_THAT(text, HasSubstr("<value ch=\"4\" position=\"lfe\">65535</value>"));
  EXPECT_THAT(text, HasSubstr("<value ch=\"1\" position=\"mono\">44999</value>"));
  EXPECT_THAT(text, HasSubstr("max=\"98302\">Volume<value ch=\"1\" position=\"front-left\">98302"));

  for (const Device& d : devices) {
    this->set_volume(d.kind, d.name, {1000});
    this->server().pactl({"set-" + d.kind + "-mute", d.name, "toggle"});
  }
  this->server().pactl({"set-default-sink", "qb_surround"});

  ProgramResult restored = this->quorvel({"saved.xml"});
  EXPECT_EQ(restored.exit_code, 0) << restored.err;
  EXPECT_EQ(restored.err, kLoaded);
  for (const Device& d : devices) {
    SCOPED_TRACE(d.name);
    EXPECT_EQ(this->volume(d.kind, d.name), d.volume);
    EXPECT_EQ(this->mute(d.kind, d.name), std::string("Mute: ") + (d.muted ? "yes" : "no") + "\n");
  }
  EXPECT_EQ(this->default_of("sink"), "qa_stereo");
  EXPECT_EQ(this->default_of("source"), "qa_stereo.monitor");

  // The unchanged snapshot: nothing is sent, so the server says nothing.
  const std::string events = this->change_events([&] {
    ProgramResult again = this->quorvel({"saved.xml"});
    EXPECT_EQ(again.exit_code, 0) << again.err;
  });
  EXPECT_EQ(events, "");
  EXPECT_EQ(this->quorvel({"-n", "saved.xml"}).exit_code, 0);
}

// A 5.1 sink's document restored after the sink became a 4.0 one, and a
// 7.1 sink's after it became a 5.1 (side) one (a profile change: the new
// sink has a name of its own and is the default): each speaker takes its
// own speaker's value. By number, the 4.0 sink's rear speakers would take
// the centre and LFE values, and the 5.1 sink's sides the rear ones.
TYPED_TEST(SoundServerTest, AnotherLayoutTakesTheValuesBySpeaker) {
  struct Case {
    const char* name;
    std::string saved_map;
    std::string present_map;
    std::vector<long> after;  // the present sink's raw volumes
  };
  const Case cases[] = {
      {"5.1 onto 4.0", kSurround, "front-left,front-right,rear-left,rear-right",
       {10000, 20000, 50000, 60000}},
      {"7.1 onto 5.1 (side)",
       "front-left,front-right,front-center,lfe,rear-left,rear-right,side-left,side-right",
       "front-left,front-right,front-center,lfe,side-left,side-right",
       {10000, 20000, 30000, 40000, 70000, 80000}},
  };
  const auto channels = [](const std::string& map) {
    return static_cast<int>(std::count(map.begin(), map.end(), ',')) + 1;
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string saved_module =
        this->load_sink("q1_saved", "QuorvelSaved", c.saved_map, channels(c.saved_map));
    std::vector<long> values;
    for (int k = 1; k <= channels(c.saved_map); ++k) values.push_back(k * 10000L);
    this->set_volume("sink", "q1_saved", values);
    this->set_default("sink", "q1_saved");
    ProgramResult saved = this->quorvel({"-out", "layout.xml"});
    ASSERT_EQ(saved.exit_code, 0) << saved.err;

    this->unload(saved_module, "sink", "q1_saved");
    const std::string present_module =
        this->load_sink("q1_present", "QuorvelPresent", c.present_map, channels(c.present_map));
    this->set_volume("sink", "q1_present", {1000});
    this->set_default("sink", "q1_present");
    ProgramResult restored = this->quorvel({"layout.xml"});
    EXPECT_EQ(restored.exit_code, 0) << restored.err << this->server().log();
    EXPECT_EQ(restored.err, kLoaded);
    EXPECT_EQ(this->volume("sink", "q1_present"), c.after) << this->document("layout.xml");
    this->unload(present_module, "sink", "q1_present");
  }
}

// A headset plugged in after the save takes the default sink and source
// (from a monitor to its microphone), and its name comes first: a restore
// still gives each sink its own values and makes the saved defaults the
// defaults again; the headset keeps its own. Pairing by name order alone,
// or by the default first, would give the speakers' values to the headset.
// And back: a document saved with the microphone as the default source
// takes the default from a monitor again.
TYPED_TEST(SoundServerTest, AfterTheDefaultsChangedEachDeviceGetsItsOwnBack) {
  this->load_sink("q2_speakers", "QuorvelSpeakers2", kStereo, 2);
  this->load_sink("q2_headphones", "QuorvelHeadphones2", kStereo, 2);
  this->set_volume("sink", "q2_speakers", {70000, 60000});
  this->set_volume("sink", "q2_headphones", {20000, 25000});
  this->set_volume("source", "q2_speakers.monitor", {30000, 31000});
  this->set_default("sink", "q2_speakers");
  this->set_default("source", "q2_speakers.monitor");
  ProgramResult saved = this->quorvel({"-out", "before.xml"});
  ASSERT_EQ(saved.exit_code, 0) << saved.err;

  this->load_sink("q2_a_headset", "QuorvelHeadset2", kStereo, 2);
  this->load_source("q2_a_headset_mic", "QuorvelHeadsetMic2", "mono", 1);
  this->set_volume("sink", "q2_a_headset", {40000, 41000});
  this->set_volume("source", "q2_a_headset_mic", {50000});
  this->set_default("sink", "q2_a_headset");
  this->set_default("source", "q2_a_headset_mic");
  for (const char* sink : {"q2_speakers", "q2_headphones"}) this->set_volume("sink", sink, {1000});
  this->set_volume("source", "q2_speakers.monitor", {1000});

  ProgramResult restored = this->quorvel({"before.xml"});
  EXPECT_EQ(restored.exit_code, 0) << restored.err << this->server().log();
  EXPECT_EQ(restored.err, kLoaded);
  EXPECT_EQ(this->volume("sink", "q2_speakers"), (std::vector<long>{70000, 60000}));
  EXPECT_EQ(this->volume("sink", "q2_headphones"), (std::vector<long>{20000, 25000}));
  EXPECT_EQ(this->volume("source", "q2_speakers.monitor"), (std::vector<long>{30000, 31000}));
  EXPECT_EQ(this->volume("sink", "q2_a_headset"), (std::vector<long>{40000, 41000}));
  EXPECT_EQ(this->volume("source", "q2_a_headset_mic"), (std::vector<long>{50000}));
  EXPECT_EQ(this->default_of("sink"), "q2_speakers");
  EXPECT_EQ(this->default_of("source"), "q2_speakers.monitor");

  this->set_default("source", "q2_a_headset_mic");
  ProgramResult with_mic = this->quorvel({"-out", "mic.xml"});
  ASSERT_EQ(with_mic.exit_code, 0) << with_mic.err;
  this->set_default("source", "q2_headphones.monitor");
  ProgramResult back = this->quorvel({"mic.xml"});
  EXPECT_EQ(back.exit_code, 0) << back.err << this->server().log();
  EXPECT_EQ(this->default_of("source"), "q2_a_headset_mic");
  EXPECT_EQ(this->default_of("sink"), "q2_speakers");
}

// A document from another machine, whose outputs' names this one has none
// of (here: the first machine's devices unloaded, the second's loaded): the
// saved default output's values go to this machine's default output, the
// other output to the first of the rest by name; the first machine had no
// microphone, so its default source was a monitor, whose values never reach
// this machine's microphone, nor does it take the default from it.
TYPED_TEST(SoundServerTest, AnotherMachinesDocumentPairsTheDefaultsAndKeepsMonitorsApart) {
  const std::string hdmi = this->load_sink("q3_a_hdmi", "QuorvelHdmi3", kStereo, 2);
  const std::string speakers = this->load_sink("q3_b_speakers", "QuorvelSpeakers3", kStereo, 2);
  this->set_volume("sink", "q3_a_hdmi", {11000, 12000});
  this->set_volume("sink", "q3_b_speakers", {80000, 70000});
  this->set_volume("source", "q3_a_hdmi.monitor", {21000, 22000});
  this->set_volume("source", "q3_b_speakers.monitor", {23000, 24000});
  this->server().pactl({"set-source-mute", "q3_b_speakers.monitor", "0"});
  this->set_default("sink", "q3_b_speakers");
  this->set_default("source", "q3_b_speakers.monitor");
  ProgramResult saved = this->quorvel({"-out", "first.xml"});
  ASSERT_EQ(saved.exit_code, 0) << saved.err;
  this->unload(hdmi, "sink", "q3_a_hdmi");
  this->unload(speakers, "sink", "q3_b_speakers");

  // The second machine: its default output last by name, a muted microphone
  // as its default source.
  for (const char* sink : {"q3_x_analog", "q3_y_bluetooth", "q3_z_usb"}) {
    this->load_sink(sink, std::string("Quorvel_") + sink, kStereo, 2);
    this->set_volume("sink", sink, {1000});
  }
  this->load_source("q3_z_usb_mic", "QuorvelUsbMic3", kStereo, 2);
  this->set_volume("source", "q3_z_usb_mic", {5000, 6000});
  this->server().pactl({"set-source-mute", "q3_z_usb_mic", "1"});
  this->set_default("sink", "q3_z_usb");
  this->set_default("source", "q3_z_usb_mic");

  ProgramResult restored = this->quorvel({"first.xml"});
  EXPECT_EQ(restored.exit_code, 0) << restored.err << this->server().log();
  EXPECT_EQ(this->volume("sink", "q3_z_usb"), (std::vector<long>{80000, 70000}));
  EXPECT_EQ(this->volume("sink", "q3_x_analog"), (std::vector<long>{11000, 12000}));
  EXPECT_EQ(this->volume("sink", "q3_y_bluetooth"), (std::vector<long>{1000, 1000}));
  EXPECT_EQ(this->volume("source", "q3_z_usb_mic"), (std::vector<long>{5000, 6000}));
  EXPECT_EQ(this->mute("source", "q3_z_usb_mic"), "Mute: yes\n");
  EXPECT_EQ(this->default_of("sink"), "q3_z_usb");
  EXPECT_EQ(this->default_of("source"), "q3_z_usb_mic");
}

// A document of the simulated example device onto the server, and a server
// document onto that device: full volume carries both ways (the device's
// 65535 is the server's 65536), and so does every other value, by the
// document scale.
TYPED_TEST(SoundServerTest, FullVolumeCarriesToAndFromTheSimulatedDevice) {
  // The default sink: a card's document (its lines have no server names)
  // goes to the default, whatever other sinks the server has.
  this->load_sink("q0_speakers", "QuorvelSpeakers", "front-left,front-right", 2);
  this->set_volume("sink", "q0_speakers", {1000, 1000});
  this->set_default("sink", "q0_speakers");
  // The example device with its speakers at full volume on the left.
  std::string example = read_file(testing::source_dir() / "examples" / "soundcard.xml");
  const std::string master = "Master Volume<value ch=\"1\">45875</value>";
  ASSERT_NE(example.find(master), std::string::npos);
  example.replace(example.find(master), master.size(), "Master Volume<value ch=\"1\">65535</value>");
  const std::filesystem::path device = this->dir_ / "device.xml";
  testing::write_file(device, example);
  const std::string sim = "sim:" + device.string();
  ProgramResult full = this->quorvel({"-out", "full.xml"}, sim);
  ASSERT_EQ(full.exit_code, 0) << full.err;

  ProgramResult onto_server = this->quorvel({"full.xml"});
  EXPECT_EQ(onto_server.exit_code, 0) << onto_server.err;
  EXPECT_EQ(this->volume("sink", "q0_speakers"), (std::vector<long>{65536, 45876}));

  // Back: the server at 100 % saves as 65535, and the device takes it.
  this->set_volume("sink", "q0_speakers", {65536, 32768});
  ProgramResult server_saved = this->quorvel({"-out", "server.xml"});
  ASSERT_EQ(server_saved.exit_code, 0) << server_saved.err;
  ProgramResult onto_device = this->quorvel({"server.xml", "-out", "after.xml"}, sim);
  EXPECT_EQ(onto_device.exit_code, 0) << onto_device.err;
  EXPECT_THAT(this->document("after.xml"),
              ContainsRegex("Master Volume<value ch=\"1\">65535</value>\\s*"
                            "<value ch=\"2\">32767</value>"));
}

// With QUORVEL_MIXER unset the server is the mixer when one answers (the
// file is named after it); `pulse` alone is the same server.
TYPED_TEST(SoundServerTest, UnsetPicksTheServer) {
  this->load_sink("qa_only", "QuorvelOnly", "front-left,front-right", 2);
  const std::string name = this->kPipeWire ? "PulseAudio (on PipeWire " : "pulseaudio";
  ProgramResult unset = this->quorvel({"-out"}, "");
  ASSERT_EQ(unset.exit_code, 0) << unset.err;
  bool found = false;
  for (const auto& entry : std::filesystem::directory_iterator(this->dir_.path())) {
    const std::string file = entry.path().filename().string();
    if (file.rfind(name, 0) == 0) found = true;
  }
  EXPECT_TRUE(found) << "no file named after " << name;
  ProgramResult bare = this->quorvel({"-out", "bare.xml"});
  ASSERT_EQ(bare.exit_code, 0) << bare.err;
  EXPECT_THAT(this->document("bare.xml"), HasSubstr("server_name=\"qa_only\""));
}

// ---- The mixer itself, on PulseAudio -----------------------------------------

class PulseAudioMixerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const std::string missing = PulseAudioServer::missing_parts();
    if (!missing.empty()) GTEST_SKIP() << "PulseAudio cannot run here: " << missing;
    server_ = std::make_unique<PulseAudioServer>();
    ASSERT_TRUE(server_->started()) << server_->failure();
    server_->pactl({"load-module", "module-null-sink", "sink_name=qa_front",
                    "sink_properties=device.description=Front"});
    server_->pactl({"load-module", "module-null-sink", "sink_name=qb_rear",
                    "sink_properties=device.description=Rear"});
    server_->pactl({"set-default-sink", "qa_front"});
    reopen();
  }

  // A mixer opened anew, as the next run opens it: it reads what the
  // server holds now.
  void reopen() {
    layout_ = nullptr;
    mixer_.reset();
    mixer_ = testing::value_of(open_pulse_mixer(server_->server()));
    ASSERT_NE(mixer_, nullptr);
    ASSERT_EQ(mixer_->describe(0, layout_), kMixerOk);
  }

  // The control `name` of the line for the server's `device`, as the mixer
  // describes it now.
  const ModelControl& control(const std::string& device, const std::string& name) {
    static const ModelControl none;
    for (const ModelControl& c : layout_->controls) {
      if (c.name == name && layout_->lines[c.line].device_name == device) return c;
    }
    ADD_FAILURE() << "no control " << name << " on " << device;
    return none;
  }
  MixerResult write(const ModelControl& c, std::vector<std::int32_t> values) {
    return write_control(*mixer_, c.id, std::move(values));
  }
  std::vector<std::int32_t> read(const ModelControl& c, std::uint32_t channels) {
    std::vector<std::int32_t> values;
    EXPECT_EQ(read_control(*mixer_, c.id, channels, values), kMixerOk);
    return values;
  }
  std::string default_sink() {
    std::string name = server_->pactl({"get-default-sink"});
    return name.substr(0, name.find('\n'));
  }

  std::unique_ptr<PulseAudioServer> server_;
  std::unique_ptr<Mixer> mixer_;
  const ModelLayout* layout_ = nullptr;
};

// A 1 makes a line the default; a 0 changes nothing on a line that is not
// it, and is refused on the one that is.
TEST_F(PulseAudioMixerTest, TheDefaultSwitchOnlyMovesTheDefaultOnto) {
  const ModelControl& front = control("qa_front", "Default");
  const ModelControl& rear = control("qb_rear", "Default");
  EXPECT_EQ(read(front, 1), std::vector<std::int32_t>{1});
  EXPECT_EQ(read(rear, 1), std::vector<std::int32_t>{0});
  EXPECT_EQ(write(rear, {0}), kMixerOk);
  EXPECT_EQ(write(front, {0}), kMixerRefused);
  EXPECT_EQ(default_sink(), "qa_front");
  EXPECT_EQ(write(rear, {1}), kMixerOk);
  EXPECT_EQ(default_sink(), "qb_rear");
  EXPECT_EQ(read(front, 1), std::vector<std::int32_t>{0});
  EXPECT_EQ(write(front, {0}), kMixerOk);
}

// A volume above the bounds goes to the server, and the bounds then cover
// it; what the server cannot hold is refused, changing nothing. A mixer
// opened after another client set a volume sees it.
TEST_F(PulseAudioMixerTest, VolumesAboveTheBoundsAreTakenUpToTheServersTop) {
  const ModelControl& volume = control("qa_front", "Volume");
  EXPECT_EQ(volume.max, 65535);
  EXPECT_TRUE(volume.device_bounds);
  EXPECT_EQ(write(volume, {131070, 98302}), kMixerOk);
  EXPECT_EQ(volumes_in(server_->pactl({"get-sink-volume", "qa_front"})),
            (std::vector<long>{131072, 98304}));
  EXPECT_EQ(volume.max, 131070);
  for (std::int32_t bad : {-1, 2147450880}) {
    EXPECT_EQ(write(volume, {bad, 10}), kMixerRefused) << bad;
  }
  EXPECT_EQ(read(volume, 2), (std::vector<std::int32_t>{131070, 98302}));
  server_->pactl({"set-sink-volume", "qa_front", "200000", "3"});
  reopen();
  const ModelControl& again = control("qa_front", "Volume");
  EXPECT_EQ(read(again, 2), (std::vector<std::int32_t>{199996, 2}));
  EXPECT_EQ(again.max, 199996);
}

// A write sends only the channels whose value differs from what the server
// holds: a channel at k * 65536 + 1 raw, which reads as the value written,
// keeps its raw value, and a write of what is held sends nothing.
TEST_F(PulseAudioMixerTest, OnlyChannelsThatDifferAreSent) {
  server_->pactl({"set-sink-volume", "qa_front", "65537", "1000"});
  reopen();
  const ModelControl& volume = control("qa_front", "Volume");
  ASSERT_EQ(read(volume, 2), (std::vector<std::int32_t>{65535, 999}));
  EXPECT_EQ(write(volume, {65535, 5000}), kMixerOk);
  EXPECT_EQ(volumes_in(server_->pactl({"get-sink-volume", "qa_front"})),
            (std::vector<long>{65537, 5001}));
  ProgramResult events;
  std::thread listener([&] {
    events = testing::run_command({"timeout", "2", "pactl", "subscribe"}, server_->env());
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(500));
  EXPECT_EQ(write(volume, {65535, 5000}), kMixerOk);
  EXPECT_EQ(write(control("qa_front", "Mute"), {0}), kMixerOk);
  EXPECT_EQ(write(control("qa_front", "Default"), {1}), kMixerOk);
  listener.join();
  EXPECT_THAT(events.out, Not(HasSubstr("'change' on sink"))) << events.out;
  EXPECT_THAT(events.out, Not(HasSubstr("'change' on server"))) << events.out;
}

// What the server's names and channel maps become.
TEST_F(PulseAudioMixerTest, LinesCarryTheServersNamesAndPositions) {
  std::vector<std::string> names;
  for (const ModelLine& line : layout_->lines) {
    names.push_back(line.name + "|" + line.device_name + "|" +
                    std::to_string(line.component_type) + "|" +
                    (line.positions.empty() ? "" : line.positions.front()));
  }
  EXPECT_EQ(names, (std::vector<std::string>{
                       "Front|qa_front|4|front-left", "Rear|qb_rear|4|front-left",
                       "Monitor of Front|qa_front.monitor|3|front-left",
                       "Monitor of Rear|qb_rear.monitor|3|front-left"}));
}

// ---- Without a server ---------------------------------------------------------

// A listening socket that never answers: the server the machine names is
// its mixer, so its failure, after the bound, is the run's, unset and named
// alike; no other mixer is tried in its place.
TEST(PulseWithoutServerTest, ADeadServerSocketCostsTheBoundOnly) {
  TempDir dir;
  const std::string path = (dir / "native").string();
  const int listener = socket(AF_UNIX, SOCK_STREAM, 0);
  ASSERT_GE(listener, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  ASSERT_LT(path.size(), sizeof(address.sun_path));
  path.copy(address.sun_path, path.size());
  ASSERT_EQ(bind(listener, reinterpret_cast<const sockaddr*>(&address), sizeof(address)), 0);
  ASSERT_EQ(listen(listener, 4), 0);
  testing::write_file(dir / "empty.conf", "");

  const std::string binary = testing::quorvel_binary().string();
  const std::map<std::string, std::string> env{
      {"PULSE_SERVER", "unix:" + path}, {"ALSA_CONFIG_PATH", (dir / "empty.conf").string()}};
  // `timeout` ends a run that hangs with status 124.
  ProgramResult unset = testing::run_command({"timeout", "20", binary, "-out"}, env, dir.path());
  EXPECT_EQ(unset.exit_code, 1);
  EXPECT_EQ(unset.err, "quorvel: error: the sound server unix:" + path +
                           " did not answer within 2 s\n");
  std::map<std::string, std::string> named = env;
  named["QUORVEL_MIXER"] = "pulse";
  ProgramResult bare = testing::run_command({"timeout", "20", binary, "-out"}, named, dir.path());
  EXPECT_EQ(bare.exit_code, 1);
  EXPECT_EQ(bare.err,
            "quorvel: error: QUORVEL_MIXER=pulse: the sound server did not answer within 2 s\n");
  close(listener);
}

// Without a server named (no PULSE_SERVER, no socket in the runtime folder)
// the card is the mixer (here ALSA's default control device, the virtual
// server card), and no word is said of the server.
TEST(PulseWithoutServerTest, WithoutAServerTheCardIsTheMixer) {
  if (!alsa_card_devices().empty()) GTEST_SKIP() << "this machine has a sound card";
  TempDir dir;
  testing::write_file(dir / "server.conf", std::string("<") + QUORVEL_ALSA_TEST_CONFIG +
                                               ">\nctl.!default { type quorveltest model server }\n");
  ProgramResult result = testing::run_quorvel(
      {"-out"},
      {{"ALSA_CONFIG_PATH", (dir / "server.conf").string()},
       {"PULSE_SERVER", ""},
       {"PULSE_RUNTIME_PATH", ""},
       {"XDG_RUNTIME_DIR", dir.path().string()}},
      dir.path());
  EXPECT_EQ(result.err, kSaved);
  EXPECT_EQ(result.exit_code, 0);
  EXPECT_TRUE(std::filesystem::exists(dir / "Quorvel Test Server.xml"));
}

}  // namespace
}  // namespace quorvel
