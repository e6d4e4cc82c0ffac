// The command line: which argument asks for what.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/options.h"

namespace quorvel {
namespace {

// One command line and what it must ask for: the file name, the output
// name ("" for none), the flags set (D: -out without a name, n: preview,
// l: local, t: tree, h: help, v: version, f: follow, s: show, 8: UTF-8
// saves; [ARG]: an argument passed over) and the word refused.
struct OptionsCase {
  std::vector<std::string> args;
  std::string file_name;
  std::string output_name;
  std::string flags;
  std::string unknown;
};

class OptionsTest : public ::testing::TestWithParam<OptionsCase> {};

TEST_P(OptionsTest, ParsesAsAUserOfShortAndLongOptionsExpects) {
  const OptionsCase& c = GetParam();
  std::vector<std::string> args{"quorvel"};
  args.insert(args.end(), c.args.begin(), c.args.end());
  const Options options = parse_options(args);
  std::string flags;
  if (options.output_default) flags += 'D';
  if (options.preview) flags += 'n';
  if (options.local) flags += 'l';
  if (options.tree) flags += 't';
  if (options.help) flags += 'h';
  if (options.version) flags += 'v';
  if (options.follow) flags += 'f';
  if (options.show) flags += 's';
  if (options.utf8) flags += '8';
  // Each argument passed over with a note.
  for (const std::string& ignored : options.ignored) flags += "[" + ignored + "]";
  EXPECT_EQ(options.file_name.value_or("(none)"), c.file_name);
  EXPECT_EQ(options.output_name.value_or(""), c.output_name);
  EXPECT_EQ(flags, c.flags);
  EXPECT_EQ(options.unknown.value_or(""), c.unknown);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, OptionsTest,
    ::testing::Values(
        // The second character counts, whatever follows it.
        OptionsCase{{"-out", "a.xml"}, "(none)", "a.xml", "", ""},
        OptionsCase{{"-otherwise"}, "(none)", "", "D", ""},
        OptionsCase{{"-local", "in.xml", "-out"}, "in.xml", "", "Dl", ""},
        // -out takes the default name before an option; the last plain
        // argument is the file.
        OptionsCase{{"-local", "in.xml", "-out", "out.xml"}, "in.xml", "out.xml", "l", ""},
        OptionsCase{{"-out", "-local", "in.xml", "other.xml"}, "other.xml", "", "Dl", ""},
        OptionsCase{{"-n", "a.xml"}, "a.xml", "", "n", ""},
        OptionsCase{{"-dry-run", "a.xml"}, "a.xml", "", "n", ""},
        OptionsCase{{"-diff", "a.xml"}, "a.xml", "", "n", ""},
        OptionsCase{{"-x", "-L", "-", "a.xml"}, "a.xml", "", "[-x][-L][-]", ""},
        OptionsCase{{"-save", "backup.xml"}, "backup.xml", "", "[-save]", ""},
        OptionsCase{{"--show", "--utf8", "a.xml"}, "a.xml", "", "s8", ""},
        OptionsCase{{"--utf8", "-out"}, "(none)", "", "D8", ""},
        OptionsCase{{"-help"}, "(none)", "", "h", ""},
        // An empty argument is a file name.
        OptionsCase{{""}, "", "", "", ""},
        // Long forms are whole words that mean what their short forms mean.
        OptionsCase{{"--out", "backup.xml"}, "(none)", "backup.xml", "", ""},
        OptionsCase{{"--dry-run", "--tree", "a.xml"}, "a.xml", "", "nt", ""},
        OptionsCase{{"--diff", "--local", "a.xml"}, "a.xml", "", "nl", ""},
        OptionsCase{{"--url", "http://h/a.xml"}, "http://h/a.xml", "", "", ""},
        // --follow is a whole word only; its profile is the file.
        OptionsCase{{"--follow", "profile.xml"}, "profile.xml", "", "f", ""},
        OptionsCase{{"--url", "--follow", "http://h/p.xml"}, "http://h/p.xml", "", "f", ""},
        OptionsCase{{"-follow", "p.xml"}, "p.xml", "", "[-follow]", ""},
        // The first of help and version wins.
        OptionsCase{{"--version", "-h"}, "(none)", "", "v", ""},
        OptionsCase{{"-?", "--version"}, "(none)", "", "h", ""},
        // Any other "--" word is refused; the first one is named.
        OptionsCase{{"--outt", "x.xml", "--dryrun"}, "x.xml", "", "", "--outt"},
        OptionsCase{{"--Help"}, "(none)", "", "", "--Help"},
        // A lone "--" ends the options: what follows is a file name.
        OptionsCase{{"-n", "--", "-odd.xml"}, "-odd.xml", "", "n", ""},
        OptionsCase{{"--", "--out"}, "--out", "", "", ""},
        // -o never takes an option as its name.
        OptionsCase{{"-o", "-t"}, "(none)", "", "Dt", ""}));

}  // namespace
}  // namespace quorvel
