// Applications on the sound server back-end, on both private servers
// (PulseAudio 16 with module-stream-restore, and PipeWire with WirePlumber):
// pacat clients playing to null sinks, read, restored and followed through
// the mixer, and checked with pactl's own numbers.
#include <gtest/gtest.h>

#include <signal.h>

#include <chrono>
#include <map>
#include <thread>
#include <memory>
#include <optional>
#include <regex>
#include <string>
#include <type_traits>
#include <vector>

#include "fakes/pipewire_server.h"
#include "fakes/pulseaudio_server.h"
#include "platform/pulse/pulse_mixer.h"
#include "platform/pulse/pulse_volume_scale.h"
#include "support/process_posix.h"
#include "support/test_util.h"

namespace quorvel {
namespace {

using testing::PipeWireServer;
using testing::PulseAudioServer;
using testing::wait_until;

constexpr const char* kByName = "sink-input-by-application-name:";

// A stream as `pactl list sink-inputs` shows it.
struct Shown {
  std::string index;
  std::string sink;  // the sink's index
  std::vector<long> volume;
  bool mute = false;
};

template <typename Server>
class PulseApplicationsTest : public ::testing::Test {
 protected:
  static constexpr bool kPipeWire = std::is_same_v<Server, PipeWireServer>;

  static void SetUpTestSuite() {
    missing_ = Server::missing_parts();
    if (!missing_.empty()) return;
    server_ = std::make_unique<Server>();
    if (!server_->started()) return;
    load_modules();
  }
  // What the tests' server holds beyond the daemons' own: the two sinks,
  // the first the default, and PulseAudio's stream-restore rules.
  static void load_modules() {
    if (!kPipeWire) server_->pactl({"load-module", "module-stream-restore"});
    for (const char* sink : {"apps_a", "apps_b"}) {
      server_->pactl({"load-module", "module-null-sink", std::string("sink_name=") + sink});
    }
    server_->pactl({"set-default-sink", "apps_a"});
  }
  static void TearDownTestSuite() { server_.reset(); }

  void SetUp() override {
    if (!missing_.empty()) GTEST_SKIP() << "the sound server cannot run here: " << missing_;
    ASSERT_TRUE(server_->started()) << server_->failure();
    mixer_ = testing::value_of(open_pulse_mixer(address()));
    ASSERT_NE(mixer_, nullptr);
  }

  static std::string address() {
    return "unix:" + server_->env().at("XDG_RUNTIME_DIR") + "/pulse/native";
  }
  // The program, on the server as its mixer.
  std::map<std::string, std::string> program_env() const {
    std::map<std::string, std::string> env = server_->env();
    env["QUORVEL_MIXER"] = "pulse:" + address();
    return env;
  }
  void quorvel_ok(const std::vector<std::string>& args) {
    const testing::ProgramResult result = testing::run_quorvel(args, program_env(), dir_.path());
    EXPECT_EQ(result.exit_code, 0) << result.err;
  }
  // Sets a stream's sink, volume (both channels) and mute with pactl, each
  // where given, again until the server shows all of them and still does a
  // moment later: on PipeWire, WirePlumber may undo a change made to a
  // stream it is still setting up.
  void set_stream(const std::string& name, const std::string& sink, long volume,
                  std::optional<bool> mute = std::nullopt) {
    const auto holds = [&] {
      Shown now;
      return find_stream(name, now) && (sink.empty() || now.sink == sink_index(sink)) &&
             (volume < 0 || now.volume == std::vector<long>(now.volume.size(), volume)) &&
             (!mute || now.mute == *mute);
    };
    const bool held = wait_until([&] {
      Shown now;
      if (!find_stream(name, now)) return false;
      if (!sink.empty()) server_->try_pactl({"move-sink-input", now.index, sink});
      if (volume >= 0) {
        server_->try_pactl({"set-sink-input-volume", now.index, std::to_string(volume)});
      }
      if (mute) server_->try_pactl({"set-sink-input-mute", now.index, *mute ? "1" : "0"});
      if (!wait_until(holds, std::chrono::seconds(1))) return false;
      std::this_thread::sleep_for(std::chrono::milliseconds(300));
      return holds();
    });
    EXPECT_TRUE(held) << name << " did not take the change";
  }

  // Ends the application `name` started by play().
  void stop(const std::string& name) {
    players_.erase(name);
    Shown gone;
    EXPECT_TRUE(wait_until([&] { return !find_stream(name, gone); })) << name << " still plays";
  }
  // The raw volume of a sink's first channel; -1 when there is no such sink.
  long sink_volume(const std::string& sink) {
    const testing::ProgramResult shown = server_->try_pactl({"get-sink-volume", sink});
    const std::vector<long> volume = testing::volumes_in(shown.out);
    return shown.exit_code == 0 && !volume.empty() ? volume[0] : -1;
  }
  // Loads a null sink for the test; unloaded with it (or before, by unload).
  void load_sink(const std::string& name) {
    std::string module = server_->pactl({"load-module", "module-null-sink", "sink_name=" + name});
    while (!module.empty() && module.back() == '\n') module.pop_back();
    modules_[name] = module;
    ASSERT_TRUE(wait_until([&] { return sink_volume(name) >= 0; }));
  }
  void unload_sink(const std::string& name) {
    auto found = modules_.find(name);
    if (found == modules_.end()) return;
    server_->pactl({"unload-module", found->second});
    modules_.erase(found);
  }
  void TearDown() override {
    while (!modules_.empty()) unload_sink(modules_.begin()->first);
  }
  // Whether the program's standard error (the file `file`) holds `text`.
  bool said(const std::string& file, const std::string& text) {
    return testing::read_file(dir_.path() / file).find(text) != std::string::npos;
  }

  // Starts pacat as the application `name`, playing to `sink` (empty: where
  // the server puts it), and waits until the server shows its stream.
  Shown play(const std::string& name, const std::string& sink = "") {
    std::vector<std::string> argv{"pacat", "--client-name=" + name, "-p"};
    if (!sink.empty()) argv.push_back("--device=" + sink);
    argv.push_back("/dev/zero");
    auto& player = players_[name];
    player = std::make_unique<testing::ServerGroup>();
    EXPECT_TRUE(player->start(argv, server_->env(), (dir_.path() / (name + ".log")).string()));
    Shown shown;
    EXPECT_TRUE(wait_until([&] { return find_stream(name, shown); })) << name << " never played";
    return shown;
  }

  // The stream of application `name` as pactl shows it; false when none.
  bool find_stream(const std::string& name, Shown& out) {
    const std::string list = server_->pactl({"list", "sink-inputs"});
    for (std::size_t at = list.find("Sink Input #"); at != std::string::npos;) {
      const std::size_t next = list.find("Sink Input #", at + 1);
      const std::string text = list.substr(at, next - at);
      at = next;
      if (text.find("application.name = \"" + name + "\"") == std::string::npos) continue;
      std::smatch field;
      std::regex_search(text, field, std::regex(R"(#(\d+))"));
      out.index = field[1];
      if (std::regex_search(text, field, std::regex(R"(Sink: (\d+))"))) out.sink = field[1];
      out.mute = text.find("Mute: yes") != std::string::npos;
      std::regex_search(text, field, std::regex(R"(Volume:[^\n]*)"));
      out.volume = testing::volumes_in(field[0].str());
      return !out.volume.empty();
    }
    return false;
  }

  std::string sink_index(const std::string& name) {
    const std::string list = server_->pactl({"list", "short", "sinks"});
    std::smatch found;
    std::regex_search(list, found, std::regex("(\\d+)\\s+" + name + "\\s"));
    return found[1].str();
  }

  std::vector<MixerApplication> applications() {
    std::vector<MixerApplication> read;
    EXPECT_EQ(mixer_->read_applications(0, read), kMixerOk);
    return read;
  }
  static const MixerApplication* find(const std::vector<MixerApplication>& read,
                                      const std::string& key) {
    for (const MixerApplication& application : read) {
      if (application.key == key) return &application;
    }
    return nullptr;
  }

  static std::string missing_;
  static std::unique_ptr<Server> server_;
  testing::TempDir dir_;
  std::unique_ptr<Mixer> mixer_;
  // Ended with the test; each by its application's name.
  std::map<std::string, std::unique_ptr<testing::ServerGroup>> players_;
  std::map<std::string, std::string> modules_;  // by sink name
};

template <typename Server>
std::string PulseApplicationsTest<Server>::missing_;
template <typename Server>
std::unique_ptr<Server> PulseApplicationsTest<Server>::server_;

using Servers = ::testing::Types<PulseAudioServer, PipeWireServer>;
TYPED_TEST_SUITE(PulseApplicationsTest, Servers);

// A rule written for an application not running is what it takes when it
// starts: volume and mute on both servers, the sink on PulseAudio (PipeWire
// lists the rule's device but does not apply it). A second write replaces the rule, keeping
// the volume it leaves unset.
TYPED_TEST(PulseApplicationsTest, RuleIsTakenByAnApplicationStartedLater) {
  const std::string key = std::string(kByName) + "Latecomer";
  const auto rule_of = [&]() -> std::optional<MixerApplication> {
    const std::vector<MixerApplication> read = this->applications();
    const MixerApplication* found = this->find(read, key);
    return found != nullptr ? std::optional(*found) : std::nullopt;
  };
  std::vector<ApplicationWrite> writes{ApplicationWrite{
      key, true, {"front-left", "front-right"}, {19660, 39321}, true, false, ""}};
  this->mixer_->write_applications(0, writes);
  ASSERT_EQ(writes[0].result, kMixerOk);
  // PipeWire shows a rule in its reads a moment after it took it.
  ASSERT_TRUE(wait_until([&] { return rule_of().has_value(); }));
  writes = {ApplicationWrite{key, true, {}, {}, true, true, "apps_b"}};
  this->mixer_->write_applications(0, writes);
  ASSERT_EQ(writes[0].result, kMixerOk);

  std::optional<MixerApplication> rule;
  EXPECT_TRUE(wait_until([&] { return (rule = rule_of()) && rule->mute; }));
  ASSERT_TRUE(rule.has_value());
  EXPECT_FALSE(rule->running);
  EXPECT_EQ(rule->name, "Latecomer");
  ASSERT_EQ(rule->volume.size(), 2u);
  // PipeWire keeps a rule's volume as a float: one raw step may go.
  EXPECT_NEAR(rule->volume[0], 19660, this->kPipeWire ? 1 : 0);
  EXPECT_NEAR(rule->volume[1], 39321, this->kPipeWire ? 1 : 0);
  EXPECT_EQ(rule->device, "apps_b");

  const Shown started = this->play("Latecomer");
  Shown shown;
  EXPECT_TRUE(wait_until([&] { return this->find_stream("Latecomer", shown) && shown.mute; }));
  ASSERT_EQ(shown.volume.size(), 2u);
  const long step = this->kPipeWire ? 1 : 0;
  EXPECT_NEAR(shown.volume[0], *pulse::raw_of_document(19660), step);
  EXPECT_NEAR(shown.volume[1], *pulse::raw_of_document(39321), step);
  if (!this->kPipeWire) {
    EXPECT_EQ(started.sink, this->sink_index("apps_b"));
  }
}

// The program: a save holds both applications; changed with pactl, a
// restore brings back their volumes, mutes and sinks exactly; and one that
// is not running when the document is restored gets its volume (and, where
// the server keeps it, its sink) when it starts, over what the server
// remembered of it.
TYPED_TEST(PulseApplicationsTest, ProgramRestoresApplicationsRunningOrNot) {
  auto& server = *this->server_;
  this->play("Musicbox", "apps_a");
  this->play("Talkie", "apps_a");
  this->set_stream("Musicbox", "apps_b", 26214);
  this->set_stream("Talkie", "", 85197, true);
  const std::string apps_a = this->sink_index("apps_a");
  const std::string apps_b = this->sink_index("apps_b");
  const auto restored = [&] {
    Shown music;
    Shown talk;
    return this->find_stream("Musicbox", music) && this->find_stream("Talkie", talk) &&
           music.volume == std::vector<long>{26214, 26214} && music.sink == apps_b &&
           talk.volume == std::vector<long>{85197, 85197} && talk.mute && talk.sink == apps_a;
  };
  ASSERT_TRUE(wait_until(restored));
  this->quorvel_ok({"-out", "saved.xml"});
  const std::string saved =
      testing::utf16le_to_utf8(testing::read_file(this->dir_.path() / "saved.xml"));
  EXPECT_NE(saved.find("<application key=\"sink-input-by-application-name:Musicbox\" "
                       "channels=\"2\" mute=\"0\" server_name=\"apps_b\">Musicbox"),
            std::string::npos)
      << saved;

  this->set_stream("Musicbox", "apps_a", 65536);
  this->set_stream("Talkie", "", 30000, false);
  ASSERT_TRUE(wait_until([&] { return !restored(); }));
  this->quorvel_ok({"saved.xml"});
  EXPECT_TRUE(wait_until(restored)) << server.pactl({"list", "sink-inputs"});

  // The server remembers Musicbox at 90 % on apps_a when it ends.
  this->stop("Musicbox");
  this->play("Musicbox", "apps_a");
  this->set_stream("Musicbox", "", 58982);
  Shown shown;
  ASSERT_TRUE(wait_until(
      [&] { return this->find_stream("Musicbox", shown) && shown.volume[0] == 58982; }));
  this->stop("Musicbox");
  this->quorvel_ok({"saved.xml"});
  const long step = this->kPipeWire ? 1 : 0;
  this->play("Musicbox");
  // A stream is listed a moment before it is linked to a sink (its sink
  // then reads as no index): waited for too.
  EXPECT_TRUE(wait_until([&] {
    return this->find_stream("Musicbox", shown) && shown.sink != "4294967295" &&
           shown.volume.size() == 2 &&
           std::abs(shown.volume[0] - 26214) <= step && std::abs(shown.volume[1] - 26214) <= step;
  })) << server.pactl({"list", "sink-inputs"});
  // PipeWire's rules keep no sink: there the stream plays to the default.
  EXPECT_EQ(shown.sink, this->kPipeWire ? apps_a : apps_b);
}

// --follow: a sink loaded and an application started after it began get
// the profile's values, over what the server remembered of them, and
// SIGTERM ends it with exit status 0.
TYPED_TEST(PulseApplicationsTest, FollowAppliesTheProfileToWhatAppears) {
  auto& server = *this->server_;
  this->load_sink("apps_late");
  server.pactl({"set-sink-volume", "apps_late", "19661"});
  this->play("Meeting", "apps_a");
  this->set_stream("Meeting", "apps_b", 58982);
  Shown shown;
  ASSERT_TRUE(wait_until([&] {
    return this->find_stream("Meeting", shown) && shown.volume[0] == 58982 &&
           shown.sink == this->sink_index("apps_b") && this->sink_volume("apps_late") == 19661;
  }));
  this->quorvel_ok({"-out", "profile.xml"});
  // What the server remembers of both from now on is something else.
  this->stop("Meeting");
  this->play("Meeting", "apps_a");
  this->set_stream("Meeting", "", 13107);
  ASSERT_TRUE(wait_until(
      [&] { return this->find_stream("Meeting", shown) && shown.volume[0] == 13107; }));
  this->stop("Meeting");
  server.pactl({"set-sink-volume", "apps_late", "45875"});
  this->unload_sink("apps_late");

  testing::StartedProgram follow({"--follow", "profile.xml"}, this->program_env(),
                                 this->dir_.path(), "follow.out", "follow.err");
  ASSERT_TRUE(wait_until([&] { return this->said("follow.err", "; following it\n"); }))
      << testing::read_file(this->dir_.path() / "follow.err");
  this->load_sink("apps_late");
  EXPECT_TRUE(wait_until([&] { return this->sink_volume("apps_late") == 19661; }))
      << this->sink_volume("apps_late");
  this->play("Meeting");
  const std::string apps_b = this->sink_index("apps_b");
  EXPECT_TRUE(wait_until([&] {
    return this->find_stream("Meeting", shown) && shown.volume[0] == 58982 && shown.sink == apps_b;
  })) << server.pactl({"list", "sink-inputs"}) << testing::read_file(this->dir_.path() / "follow.err");
  // Still so once the server's own restore is long over.
  std::this_thread::sleep_for(std::chrono::milliseconds(1500));
  EXPECT_EQ(this->sink_volume("apps_late"), 19661);
  EXPECT_TRUE(this->find_stream("Meeting", shown) && shown.volume[0] == 58982);

  kill(follow.pid(), SIGTERM);
  EXPECT_EQ(follow.wait(), 0);
  const std::string err = testing::read_file(this->dir_.path() / "follow.err");
  EXPECT_NE(err.find("quorvel: applied \"profile.xml\" to the lines \"apps_late\" and "
                     "\"apps_late.monitor\", which appeared\n"),
            std::string::npos)
      << err;
  EXPECT_NE(err.find("quorvel: applied \"profile.xml\" to the application "
                     "\"sink-input-by-application-name:Meeting\", which appeared\n"),
            std::string::npos)
      << err;
}

// --follow through a restart of the server: it says so, connects again and
// applies the profile again. Restarts the suite's server, so it runs last.
TYPED_TEST(PulseApplicationsTest, FollowConnectsAgainAfterTheServerRestarts) {
  auto& server = *this->server_;
  server.pactl({"set-sink-volume", "apps_a", "21627"});
  this->quorvel_ok({"-out", "profile.xml"});
  server.pactl({"set-sink-volume", "apps_a", "65536"});
  testing::StartedProgram follow({"--follow", "profile.xml"}, this->program_env(),
                                 this->dir_.path(), "follow.out", "follow.err");
  ASSERT_TRUE(wait_until([&] { return this->said("follow.err", "; following it\n"); }));
  EXPECT_EQ(this->sink_volume("apps_a"), 21627);

  this->players_.clear();
  ASSERT_TRUE(server.restart()) << server.failure();
  // The sinks come back at full volume (loaded anew, or as the server
  // remembers them).
  this->load_modules();
  EXPECT_TRUE(wait_until([&] {
    return this->said("follow.err", "quorvel: the sound server went away; connecting again\n") &&
           this->said("follow.err", "quorvel: connected to the sound server again; applied") &&
           this->sink_volume("apps_a") == 21627;
  })) << testing::read_file(this->dir_.path() / "follow.err");
  kill(follow.pid(), SIGTERM);
  EXPECT_EQ(follow.wait(), 0);
}

}  // namespace
}  // namespace quorvel

