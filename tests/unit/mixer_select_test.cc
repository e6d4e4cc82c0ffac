// Choosing the mixer by QUORVEL_MIXER among registered back-ends: the order
// in which the machine's mixer is looked for, and what each setting opens or
// says.
#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/console_reporter.h"
#include "app/mixer_select.h"
#include "platform/sim/sim_mixer.h"
#include "support/test_util.h"

namespace quorvel {
namespace {

using testing::CaptureStream;

// What the fake back-ends were asked, in order.
std::vector<std::string> asked;

std::unique_ptr<OpenedMixer> some_mixer() {
  return opened_mixer(std::make_unique<SimMixer>(SimDevice{}));
}

MixerOpening finds_one(Reporter&) {
  asked.push_back("finds");
  return some_mixer();
}
MixerOpening finds_none(Reporter&) {
  asked.push_back("none");
  return MixerOpening(nullptr);
}
MixerOpening cannot_look(Reporter&) {
  asked.push_back("cannot");
  return Error{"no server here"};
}
MixerOpening opens(const std::string& name, Reporter&) {
  asked.push_back("opens " + name);
  return some_mixer();
}
MixerOpening refuses(const std::string& name, Reporter&) {
  asked.push_back("refuses " + name);
  return Error{"cannot open \"" + name + "\""};
}

MixerOpening opens_own(Reporter&) {
  asked.push_back("opens its own");
  return some_mixer();
}
MixerOpening own_absent(Reporter&) {
  asked.push_back("own absent");
  return Error{"nothing answers"};
}

const MixerRegistration kServer{"server", nullptr, nullptr, cannot_look, nullptr};
const MixerRegistration kEmpty{"empty", nullptr, nullptr, finds_none, nullptr};
const MixerRegistration kCard{"card", "NAME, a card", opens, finds_one, opens_own};
const MixerRegistration kFile{"file", "PATH, a file", refuses, nullptr, nullptr};
const MixerRegistration kGone{"gone", "NAME, a gone server", refuses, finds_none, own_absent};

TEST(MixerSelectTest, TheMachinesMixerIsTheFirstDefaultBackEndThatFindsOne) {
  struct Case {
    std::vector<MixerRegistration> backends;
    std::vector<std::string> asked;
    bool found;
    std::string errors;  // reported only when no back-end finds a mixer
  } cases[] = {
      {{kFile, kServer, kEmpty, kCard}, {"cannot", "none", "finds"}, true, ""},
      {{kCard, kServer}, {"finds"}, true, ""},
      {{kServer, kEmpty, kFile}, {"cannot", "none"}, false, "quorvel: error: no server here\n"},
      {{kFile}, {}, false, ""},
  };
  for (const Case& c : cases) {
    for (const std::optional<std::string>& value :
         {std::optional<std::string>(), std::optional<std::string>("")}) {
      SCOPED_TRACE(::testing::Message() << c.asked.size() << " asked, set: " << value.has_value());
      asked.clear();
      CaptureStream err(std::cerr);
      const MixerOpening opened = open_mixer(c.backends, value, console());
      ASSERT_TRUE(opened) << opened.message();
      EXPECT_EQ(asked, c.asked);
      EXPECT_EQ(*opened != nullptr, c.found);
      EXPECT_EQ(err.text(), c.errors);
    }
  }
}

TEST(MixerSelectTest, NamedMixersAndBadSettings) {
  const std::vector<MixerRegistration> backends{kServer, kCard, kFile, kGone};
  struct Case {
    std::string value;
    std::string error;  // empty: the mixer opens
    std::vector<std::string> asked;
  } cases[] = {
      {"card:hw:1", "", {"opens hw:1"}},
      {"file:x.xml", "QUORVEL_MIXER=file:x.xml: cannot open \"x.xml\"", {"refuses x.xml"}},
      {"card:", "QUORVEL_MIXER=card:: nothing named after \"card:\" (use card:NAME, a card)", {}},
      {"server:x",
       "QUORVEL_MIXER=server:x: a server mixer cannot be named (leave QUORVEL_MIXER unset for "
       "the machine's mixer)",
       {}},
      {"oss:/dev/mixer",
       "QUORVEL_MIXER=oss:/dev/mixer: unknown mixer kind \"oss\" (this build knows card:NAME, a "
       "card; file:PATH, a file; gone:NAME, a gone server)",
       {}},
      // A kind alone is that back-end's own default mixer, where it has one.
      {"card", "", {"opens its own"}},
      {"gone", "QUORVEL_MIXER=gone: nothing answers", {"own absent"}},
      {"file",
       "QUORVEL_MIXER=file: not a mixer (use KIND:NAME: card:NAME, a card; file:PATH, a file; "
       "gone:NAME, a gone server)",
       {}},
      {":x",
       "QUORVEL_MIXER=:x: not a mixer (use KIND:NAME: card:NAME, a card; file:PATH, a file; "
       "gone:NAME, a gone server)",
       {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.value);
    asked.clear();
    const MixerOpening opened = open_mixer(backends, c.value, console());
    EXPECT_EQ(opened.message(), c.error);
    EXPECT_EQ(opened && *opened != nullptr, c.error.empty());
    EXPECT_EQ(asked, c.asked);
  }
}

}  // namespace
}  // namespace quorvel
