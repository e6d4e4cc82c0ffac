// The command line: what each argument asks for.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quorvel {

// What the command line asks the run to do.
struct Options {
  std::optional<std::string> file_name;    // the last argument that is not an option
  std::optional<std::string> output_name;  // -out NAME, as given
  bool output_default = false;             // -out without a name: the device's name
  bool local = false;                      // -local: read the file as a stream
  bool url = false;                        // -url: fetch the file
  bool tree = false;                       // -t: print the loaded document
  bool preview = false;                    // -n, -d, --dry-run, --diff: write nothing
  bool help = false;                       // -h, -?, --help (the first request wins)
  bool version = false;                    // --version (the first request wins)
  bool follow = false;                     // --follow: apply the file, then keep to it
  bool show = false;                       // --show: list the file, or the mixer, readably
  bool utf8 = false;                       // --utf8: save in UTF-8 rather than UTF-16
  std::optional<std::string> unknown;      // the first "--" word that is no option
  std::vector<std::string> ignored;        // single-dash arguments whose letter is no option
};

// Reads the arguments after the program name (`args[0]`). An argument that
// begins with "-" is an option of which only the second character counts
// (`-l`, `-u`, `-t`, `-o`, `-n`, `-d`, `-h`, `-?`; an argument with any
// other letter, or none, is ignored and recorded in `ignored`, so that the
// run can say so), except that one beginning with "--" is a whole word:
// `--out`, `--local`, `--url`, `--tree`, `--dry-run`, `--diff`, `--help`,
// `--version`, `--follow`, `--show`, `--utf8`, or a lone `--`, after which
// every argument is a file name.
// Any other "--" word is recorded in `unknown` so that the run can refuse
// it before it does anything. The output option takes the next argument as
// its name unless there is none or it begins with "-".
Options parse_options(const std::vector<std::string>& args);

// The first of the options that preview, print or save a run ("-n", "-t",
// "-out") that `options` gives; empty when it gives none. A run that only
// lists or only applies refuses them by this name.
std::string_view output_option(const Options& options);

}  // namespace quorvel
