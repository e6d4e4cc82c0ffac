// alsa-lib loaded at run time: the table of its functions, what a missing
// or unsuitable library says, and that runs which do not use ALSA never
// load it.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <string>

#include "fakes/alsa_card/virtual_card.h"
#include "platform/alsa/alsa_lib.h"
#include "support/test_util.h"

namespace quorvel {
namespace {

using alsa::AlsaLib;
using alsa::load_alsa_lib;
using testing::ProgramResult;

TEST(AlsaLibTest, TheLibraryGivesEveryFunction) {
  AlsaLib table;
  ASSERT_TRUE(testing::succeeded(load_alsa_lib(alsa::kAlsaLibName, table)));
  int missing = 0;
#define QUORVEL_ALSA_COUNT_MISSING(name) missing += table.name == nullptr ? 1 : 0;
  QUORVEL_ALSA_FUNCTIONS(QUORVEL_ALSA_COUNT_MISSING)
#undef QUORVEL_ALSA_COUNT_MISSING
  EXPECT_EQ(missing, 0);
  // The process's own copy is the same library.
  ASSERT_TRUE(alsa::alsa_lib());
  EXPECT_EQ((*alsa::alsa_lib())->snd_mixer_open, table.snd_mixer_open);
  EXPECT_STREQ(table.snd_strerror(-2), "No such file or directory");
}

TEST(AlsaLibTest, AMissingOrUnsuitableLibraryIsNamedWithWhatItLacks) {
  AlsaLib table;
  Result result = load_alsa_lib("libquorvel-no-such-library.so.2", table);
  ASSERT_FALSE(result);
  EXPECT_NE(result.message().find("cannot load the ALSA library libquorvel-no-such-library.so.2"),
            std::string::npos)
      << result.message();
  EXPECT_NE(result.message().find("libasound2"), std::string::npos) << result.message();
  EXPECT_EQ(table.snd_mixer_open, nullptr);

  // A library that loads but is not alsa-lib lacks its functions.
  result = load_alsa_lib("libc.so.6", table);
  ASSERT_FALSE(result);
  EXPECT_EQ(result.message(),
            "the ALSA library libc.so.6 has no function snd_lib_error_set_handler "
            "(too old an alsa-lib?)");
  EXPECT_EQ(table.snd_mixer_open, nullptr);
}

// The dynamic loader's own account of the files it loads (LD_DEBUG=files).
bool loads_alsa_lib(const std::vector<std::string>& args,
                    std::map<std::string, std::string> env, const std::filesystem::path& dir) {
  env["LD_DEBUG"] = "files";
  ProgramResult result = testing::run_quorvel(args, env, dir);
  EXPECT_NE(result.err.find("file=libc.so.6"), std::string::npos) << "no loader output";
  return result.err.find("file=libasound.so.2") != std::string::npos;
}

TEST(AlsaLibTest, OnlyRunsThatUseAlsaLoadIt) {
  testing::VirtualCard card("quorvel_laptop");
  std::filesystem::copy_file(testing::source_dir() / "examples" / "soundcard.xml",
                             card.dir() / "device.xml");
  std::map<std::string, std::string> sim = card.env();
  sim["QUORVEL_MIXER"] = "sim:" + (card.dir() / "device.xml").string();
  EXPECT_FALSE(loads_alsa_lib({}, sim, card.dir().path()));
  EXPECT_FALSE(loads_alsa_lib({"-out", "saved.xml"}, sim, card.dir().path()));
  EXPECT_FALSE(loads_alsa_lib({"--version"}, card.env(), card.dir().path()));
  EXPECT_TRUE(loads_alsa_lib({"-out", "saved.xml"}, card.env(), card.dir().path()));
}

}  // namespace
}  // namespace quorvel
