#include "platform/xml/xml_dom.h"

#include <array>
#include <sstream>

namespace quorvel {

Result load_xml(pugi::xml_document& document, std::string_view text) {
  document.reset();
  pugi::xml_parse_result result =
      document.load_buffer(text.data(), text.size(), kParseOptions, pugi::encoding_utf8);
  if (!result) {
    document.reset();
    return Result::failure(std::string("not well-formed XML: ") + result.description());
  }
  return Result();
}

namespace {

// XPath forms of the patterns. `self::node()[x]/x` stands where a pattern
// starts at the context node with a predicate, which XPath's abbreviated
// step "." does not allow.
const char* xpath_of(Pattern pattern) {
  switch (pattern) {
    case Pattern::kRoot: return "/audio_mixer";
    case Pattern::kDestinations: return "/audio_mixer[destination]/destination";
    case Pattern::kSources: return "self::node()[source]/source";
    case Pattern::kLineControls: return "self::node()[line_control]/line_control";
    case Pattern::kDestinationLineControls:
      return "/audio_mixer/destination[line_control]/line_control";
    case Pattern::kMuxItems: return "./mux_list[item]/item";
    case Pattern::kMixerItems: return "./mixer_list[item]/item";
    case Pattern::kDestinationChildren: return "destination";
    case Pattern::kSourceChildren: return "source";
    case Pattern::kLineControlChildren: return "line_control";
  }
  return "";
}

constexpr std::size_t kPatternCount = 10;

const pugi::xpath_query& query_for(Pattern pattern) {
  static const std::array<pugi::xpath_query, kPatternCount> queries = [] {
    std::array<pugi::xpath_query, kPatternCount> compiled;
    for (std::size_t i = 0; i < kPatternCount; ++i) {
      compiled[i] = pugi::xpath_query(xpath_of(static_cast<Pattern>(i)));
    }
    return compiled;
  }();
  return queries[static_cast<std::size_t>(pattern)];
}

}  // namespace

std::vector<pugi::xml_node> select_nodes(pugi::xml_node context, Pattern pattern) {
  std::vector<pugi::xml_node> nodes;
  if (!context) return nodes;
  pugi::xpath_node_set set = query_for(pattern).evaluate_node_set(context);
  set.sort();
  nodes.reserve(set.size());
  for (const pugi::xpath_node& selected : set) nodes.push_back(selected.node());
  return nodes;
}

std::string serialize_document(const pugi::xml_document& document) {
  std::ostringstream out(std::ios::binary);
  document.save(out, "\t", pugi::format_indent | pugi::format_write_bom, pugi::encoding_utf16_le);
  return std::move(out).str();
}

}  // namespace quorvel
