#include "platform/alsa/alsa_names.h"

#include <algorithm>
#include <cctype>
#include <vector>

#include "platform/mixer/mixer.h"

namespace quorvel {
namespace {

std::string lower(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

std::vector<std::string> words_of(const std::string& name) {
  std::vector<std::string> words;
  std::string word;
  for (char c : name) {
    if (c == ' ' || c == '-' || c == '_') {
      if (!word.empty()) words.push_back(lower(word));
      word.clear();
    } else {
      word += c;
    }
  }
  if (!word.empty()) words.push_back(lower(word));
  return words;
}

// Whether `word` is `key`, or `key` followed by digits ("mic2").
bool word_matches(const std::string& word, const std::string& key) {
  if (word.compare(0, key.size(), key) != 0) return false;
  return std::all_of(word.begin() + static_cast<std::ptrdiff_t>(key.size()), word.end(),
                     [](char c) { return std::isdigit(static_cast<unsigned char>(c)) != 0; });
}

}  // namespace

std::uint32_t alsa_source_component_type(const std::string& name) {
  struct Match {
    std::vector<std::string> words;
    std::uint32_t type;
  };
  static const std::vector<Match> kMatches = {
      {{"pcm"}, 0x1008},        {{"mic"}, 0x1003},   {{"microphone"}, 0x1003},
      {{"cd"}, 0x1005},         {{"line"}, 0x1002},  {{"synth"}, 0x1004},
      {{"pc", "speaker"}, 0x1007}, {{"beep"}, 0x1007}, {{"phone"}, 0x1006},
      {{"aux"}, 0x1009},
  };
  const std::vector<std::string> words = words_of(name);
  for (std::size_t at = 0; at < words.size(); ++at) {
    for (const Match& match : kMatches) {
      if (at + match.words.size() > words.size()) continue;
      bool all = true;
      for (std::size_t w = 0; w < match.words.size() && all; ++w) {
        const std::string& word = words[at + w];
        all = w + 1 < match.words.size() ? word == match.words[w]
                                         : word_matches(word, match.words[w]);
      }
      if (all) return match.type;
    }
  }
  return kComponentSrcUndefined;
}

}  // namespace quorvel
