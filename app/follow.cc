#include "app/follow.h"

#include <algorithm>
#include <chrono>
#include <csignal>
#include <memory>
#include <set>
#include <string_view>
#include <thread>
#include <vector>

#include "app/console_reporter.h"
#include "app/load_step.h"
#include "app/mixer_select.h"
#include "apply/reconcile.h"
#include "docio/input_document.h"
#include "platform/document/document_format.h"
#include "platform/document/document_parse.h"
#include "platform/document/document_writer.h"
#include "platform/document/saved_writer.h"
#include "platform/os/console.h"
#include "platform/os/file_stamp.h"
#include "platform/os/text_encoding.h"
#include "snapshot/snapshot.h"

namespace quorvel {
namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

// How long one wait for something to appear lasts: the longest a signal or
// a due check waits for the loop to come round.
constexpr milliseconds kTurn{100};
// After a part is applied, it is checked again this long after, and its
// values put back where the server's own restore, running at the same
// moment, changed them.
constexpr milliseconds kRechecks[] = {milliseconds(300), milliseconds(1000),
                                      milliseconds(2500)};
// How often the profile's file is looked at for a change.
constexpr milliseconds kFileCheck{1000};
// The waits between attempts to reach a server that went away.
constexpr milliseconds kFirstRetry{100};
constexpr milliseconds kLongestRetry{5000};

volatile std::sig_atomic_t g_stop = 0;

extern "C" void stop_following(int) { g_stop = 1; }

// Sleeps for `span`, or until a signal asks to stop.
void pause_for(milliseconds span) {
  const Clock::time_point until = Clock::now() + span;
  while (g_stop == 0 && Clock::now() < until) {
    std::this_thread::sleep_for(std::min(milliseconds(50), span));
  }
}

// The profile as loaded: its document kept as saved bytes, parsed again for
// every part applied (each application pairs, and so prunes, its own copy),
// and what it names.
struct Profile {
  std::string bytes;
  std::set<std::string, std::less<>> lines;         // server names of its lines
  std::set<std::string, std::less<>> applications;  // keys of its applications
  std::optional<FileStamp> stamp;                   // of its file; none for a URL
};

// What one application of the profile covers: all of it, the lines of
// some server names (those that appeared together: a sink and its
// monitor), or the application of one key.
struct Part {
  enum Kind { kWhole, kLines, kApplication } kind = kWhole;
  std::vector<std::string> names;

  bool covers(std::string_view name) const {
    return std::find(names.begin(), names.end(), name) != names.end();
  }
};

bool is_url(const Options& options) { return options.url && !options.local; }

// Loads the profile as a run's load step does, saying what the load says.
Result load_profile(const Options& options, Profile& profile) {
  InputDocument input;
  const std::string& name = *options.file_name;
  Profile loaded;
  if (!is_url(options)) loaded.stamp = regular_file_stamp(system_to_utf8(name));
  Result result = run_load_step(input, name, options.local, options.url);
  if (!result) return result;
  SavedDocumentWriter writer(loaded.bytes);
  write_document(input.document, writer);
  for (DocNode root : input.document.root().children(doc::kAudioMixer)) {
    for (DocNode line : root.children(doc::kDestination)) {
      const std::string_view server = line.attribute_value(doc::kServerName);
      if (!server.empty()) loaded.lines.emplace(server);
    }
    for (DocNode application : root.children(doc::kApplication)) {
      const std::string_view key = application.attribute_value(doc::kKey);
      if (!key.empty()) loaded.applications.emplace(key);
    }
  }
  profile = std::move(loaded);
  return Result();
}

// The profile reduced to `part`: for lines, those alone (by their server
// names) and no application; for an application, that one alone.
Result profile_part(const Profile& profile, const Part& part, Document& document) {
  if (!parse_document(profile.bytes, document)) {
    return Result::failure("the profile could not be read again");
  }
  if (part.kind == Part::kWhole) return Result();
  for (DocNode root : document.root().children(doc::kAudioMixer)) {
    for (DocNode line : root.children(doc::kDestination)) {
      if (part.kind != Part::kLines || !part.covers(line.attribute_value(doc::kServerName))) {
        document.remove(line);
      }
    }
    for (DocNode application : root.children(doc::kApplication)) {
      if (part.kind != Part::kApplication || !part.covers(application.attribute_value(doc::kKey))) {
        document.remove(application);
      }
    }
  }
  return Result();
}

// The console without its notes: a part applied again a moment after it
// was applied would only repeat them (a line of the profile this mixer
// lacks, each time).
class WithoutNotes final : public Reporter {
 public:
  void error(std::string_view message) override { console().error(message); }
  void note(std::string_view) override {}
  void status(std::string_view message) override { console().status(message); }
  void text(std::string_view text) override { console().text(text); }
  void progress(std::string_view what, std::uint64_t done, std::uint64_t total) override {
    console().progress(what, done, total);
  }
};

// Applies `part` of the profile as a restore does, saying to `reporter`
// what it runs into; false when the mixer went away meanwhile.
bool apply_part(const Profile& profile, const Part& part, Mixer& mixer, Reporter& reporter) {
  Document input;
  if (Result made = profile_part(profile, part, input); !made) {
    reporter.error(made.message());
    return true;
  }
  Document snapshot;
  std::optional<std::string> default_name;
  // What kept the mixer from being read whole is reported already; nothing
  // is applied against a part of it.
  if (!build_snapshot(snapshot, mixer, default_name, reporter)) return true;
  const ApplyReport report = reconcile_documents(input, snapshot, mixer, reporter);
  return !report.gone;
}

std::string describe(const Part& part) {
  if (part.kind == Part::kWhole) return "the mixer";
  std::string text = part.kind == Part::kApplication ? "the application "
                     : part.names.size() == 1        ? "the line "
                                                     : "the lines ";
  for (std::size_t k = 0; k < part.names.size(); ++k) {
    if (k > 0) text += k + 1 == part.names.size() ? " and " : ", ";
    text += quote_name(part.names[k]);
  }
  return text;
}

// A part applied, to be checked again at `due`.
struct Recheck {
  Part part;
  Clock::time_point due;
};

class Follower {
 public:
  Follower(const Options& options, const std::optional<std::string>& mixer_value)
      : options_(options), mixer_value_(mixer_value),
        label_(quote_name(system_to_utf8(*options.file_name))) {}

  int run() {
    if (Result loaded = load_profile(options_, profile_); !loaded) return 1;
    if (Result opened = open(); !opened) {
      report_error(opened.message());
      return 1;
    }
    apply(Part{}, "applied " + label_ + " to the mixer; following it");
    while (g_stop == 0) {
      std::vector<MixerAppearance> appeared;
      const MixerResult waited = mixer().wait_for_appearances(kTurn, appeared);
      if (waited == kMixerGone) {
        reconnect();
        continue;
      }
      // The lines that appeared together are applied together; each
      // application on its own.
      Part lines{Part::kLines, {}};
      std::vector<Part> applications;
      for (const MixerAppearance& appearance : appeared) {
        if (appearance.application) {
          if (profile_.applications.count(appearance.name) != 0) {
            applications.push_back({Part::kApplication, {appearance.name}});
          }
        } else if (profile_.lines.count(appearance.name) != 0) {
          lines.names.push_back(appearance.name);
        }
      }
      if (!lines.names.empty()) applications.insert(applications.begin(), lines);
      for (const Part& part : applications) {
        apply(part, "applied " + label_ + " to " + describe(part) + ", which appeared");
      }
      recheck_due();
      check_file();
    }
    return 0;
  }

 private:
  Mixer& mixer() { return opened_->mixer(); }

  // Opens the mixer and makes sure it is a sound server.
  Result open() {
    opened_.reset();
    MixerOpening chosen = open_mixer(mixer_value_, console());
    if (!chosen) return chosen.error();
    std::unique_ptr<OpenedMixer> opened = std::move(chosen).value();
    if (!opened) return Result::failure("there is no mixer to follow the profile on");
    std::vector<MixerAppearance> none;
    if (opened->mixer().wait_for_appearances(milliseconds(0), none) == kMixerUnsupported) {
      return Result::failure(
          "--follow follows a sound server (PulseAudio, or PipeWire's Pulse server); this "
          "mixer is not one, and nothing was applied");
    }
    opened_ = std::move(opened);
    return Result();
  }

  // Applies `part`, says so, and has it checked again shortly.
  void apply(const Part& part, const std::string& said) {
    if (!apply_part(profile_, part, mixer(), console())) return;
    report_status(said);
    const Clock::time_point now = Clock::now();
    for (milliseconds after : kRechecks) rechecks_.push_back({part, now + after});
  }

  void recheck_due() {
    const Clock::time_point now = Clock::now();
    std::vector<Recheck> due;
    for (auto it = rechecks_.begin(); it != rechecks_.end();) {
      if (it->due <= now) {
        due.push_back(std::move(*it));
        it = rechecks_.erase(it);
      } else {
        ++it;
      }
    }
    WithoutNotes quiet;
    for (const Recheck& recheck : due) {
      if (!apply_part(profile_, recheck.part, mixer(), quiet)) return;
    }
  }

  // Reads the profile again when its file changed, and applies it whole.
  void check_file() {
    if (is_url(options_)) return;
    const Clock::time_point now = Clock::now();
    if (now < next_file_check_) return;
    next_file_check_ = now + kFileCheck;
    const std::optional<FileStamp> stamp =
        regular_file_stamp(system_to_utf8(*options_.file_name));
    if (!stamp || stamp == profile_.stamp) return;
    Profile changed;
    if (Result loaded = load_profile(options_, changed); !loaded) {
      // Kept as it was; the file is looked at again when it changes again.
      profile_.stamp = stamp;
      report_note(label_ + " did not load; still following it as it was");
      return;
    }
    profile_ = std::move(changed);
    rechecks_.clear();
    apply(Part{}, label_ + " changed; applied it again");
  }

  // Waits for the server to come back, longer each time, then applies the
  // whole profile again (a URL fetched again first).
  void reconnect() {
    opened_.reset();
    rechecks_.clear();
    report_status("the sound server went away; connecting again");
    milliseconds wait = kFirstRetry;
    while (g_stop == 0) {
      pause_for(wait);
      if (g_stop != 0) return;
      if (open()) break;
      wait = std::min(wait * 2, kLongestRetry);
    }
    if (g_stop != 0) return;
    if (is_url(options_)) {
      Profile fetched;
      if (load_profile(options_, fetched)) {
        profile_ = std::move(fetched);
      } else {
        report_note(label_ + " did not load; following it as it was");
      }
    }
    apply(Part{}, "connected to the sound server again; applied " + label_);
  }

  const Options& options_;
  const std::optional<std::string>& mixer_value_;
  std::string label_;
  Profile profile_;
  std::unique_ptr<OpenedMixer> opened_;
  std::vector<Recheck> rechecks_;
  Clock::time_point next_file_check_ = Clock::now() + kFileCheck;
};

}  // namespace

int follow_profile(const Options& options, const std::optional<std::string>& mixer_value) {
  // A follower only ever applies: what would preview, print or save is
  // refused rather than left undone without a word.
  if (const std::string_view refused = output_option(options); !refused.empty()) {
    report_error("--follow does not go with " + std::string(refused) +
                 ": it applies the profile and saves or prints nothing; nothing was done");
    return options.preview ? 2 : 1;
  }
  if (!options.file_name) {
    report_error("--follow needs a profile: quorvel --follow PROFILE");
    return 1;
  }
  g_stop = 0;
  std::signal(SIGINT, stop_following);
  std::signal(SIGTERM, stop_following);
  Follower follower(options, mixer_value);
  return follower.run();
}

}  // namespace quorvel
