#include "app/options.h"

#include <string_view>

namespace quorvel {
namespace {

// Stands for --version, which has no one-letter form.
constexpr char kVersionLetter = '\x01';
// Stands for --follow, which has none either.
constexpr char kFollowLetter = '\x02';
constexpr char kShowLetter = '\x03';
constexpr char kUtf8Letter = '\x04';

// The one-letter form of each whole word; '\0' for a word that is no option.
char long_option_letter(std::string_view word) {
  struct LongOption {
    std::string_view word;
    char letter;
  };
  static constexpr LongOption kLongOptions[] = {
      {"--out", 'o'},  {"--local", 'l'},   {"--url", 'u'},  {"--tree", 't'},
      {"--dry-run", 'n'}, {"--diff", 'd'}, {"--help", 'h'}, {"--version", kVersionLetter},
      {"--follow", kFollowLetter}, {"--show", kShowLetter}, {"--utf8", kUtf8Letter},
  };
  for (const LongOption& option : kLongOptions) {
    if (option.word == word) return option.letter;
  }
  return '\0';
}

bool is_option(const std::string& arg) { return !arg.empty() && arg[0] == '-'; }

}  // namespace

Options parse_options(const std::vector<std::string>& args) {
  Options options;
  bool options_ended = false;
  for (std::size_t i = 1; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (options_ended || !is_option(arg)) {
      options.file_name = arg;
      continue;
    }
    char letter = arg.size() > 1 ? arg[1] : '\0';
    if (letter == '-') {
      if (arg == "--") {
        options_ended = true;
        continue;
      }
      letter = long_option_letter(arg);
      if (letter == '\0') {
        if (!options.unknown) options.unknown = arg;
        continue;
      }
    }
    switch (letter) {
      case 'l': options.local = true; break;
      case 'u': options.url = true; break;
      case 't': options.tree = true; break;
      case 'n':
      case 'd': options.preview = true; break;
      case 'h':
      case '?':
        if (!options.version) options.help = true;
        break;
      case kVersionLetter:
        if (!options.help) options.version = true;
        break;
      case kFollowLetter: options.follow = true; break;
      case kShowLetter: options.show = true; break;
      case kUtf8Letter: options.utf8 = true; break;
      case 'o':
        if (i + 1 < args.size() && !is_option(args[i + 1])) {
          options.output_name = args[++i];
          options.output_default = false;
        } else {
          options.output_name.reset();
          options.output_default = true;
        }
        break;
      default: options.ignored.push_back(arg); break;
    }
  }
  return options;
}

std::string_view output_option(const Options& options) {
  if (options.preview) return "-n";
  if (options.tree) return "-t";
  if (options.output_name || options.output_default) return "-out";
  return {};
}

}  // namespace quorvel
