#include "platform/xml/xml_parse.h"

#include <exception>
#include <limits>
#include <optional>
#include <system_error>
#include <thread>

#include "platform/xml/well_formed.h"
#include "platform/xml/xml_dom.h"

namespace quorvel {
namespace {

// The encoding to parse with. The parser recognises byte order marks, a
// document that starts with "<" in any of its encodings, and a declared
// ISO-8859-1. A UTF-16 document without a byte order mark that starts with
// anything else (white space, say) is recognised here by its zero bytes.
pugi::xml_encoding choose_encoding(std::string_view bytes) {
  if (bytes.size() < 4) return pugi::encoding_auto;
  auto b = [&](std::size_t i) { return static_cast<unsigned char>(bytes[i]); };
  bool has_bom = (b(0) == 0xEF && b(1) == 0xBB && b(2) == 0xBF) || (b(0) == 0xFF && b(1) == 0xFE) ||
                 (b(0) == 0xFE && b(1) == 0xFF) ||
                 (b(0) == 0 && b(1) == 0 && b(2) == 0xFE && b(3) == 0xFF);
  if (has_bom) return pugi::encoding_auto;
  if (b(0) != 0 && b(1) == 0 && b(2) != 0 && b(3) == 0) return pugi::encoding_utf16_le;
  if (b(0) == 0 && b(1) != 0 && b(2) == 0 && b(3) != 0) return pugi::encoding_utf16_be;
  return pugi::encoding_auto;
}

// The encoding the DOM's parser will read `bytes` in, as far as it can be
// told before parsing: what choose_encoding chose, else the byte order mark,
// else UTF-8. The parser's own answer is compared with it afterwards.
pugi::xml_encoding expected_encoding(std::string_view bytes, pugi::xml_encoding chosen) {
  if (chosen != pugi::encoding_auto) return chosen;
  if (bytes.size() < 4) return pugi::encoding_utf8;
  auto b = [&](std::size_t i) { return static_cast<unsigned char>(bytes[i]); };
  if (b(0) == 0 && b(1) == 0 && b(2) == 0xFE && b(3) == 0xFF) return pugi::encoding_utf32_be;
  if (b(0) == 0xFF && b(1) == 0xFE && b(2) == 0 && b(3) == 0) return pugi::encoding_utf32_le;
  if (b(0) == 0xFE && b(1) == 0xFF) return pugi::encoding_utf16_be;
  if (b(0) == 0xFF && b(1) == 0xFE) return pugi::encoding_utf16_le;
  return pugi::encoding_utf8;
}

// Below this size the well-formedness check runs after the DOM's parse;
// from it on, beside it on a thread of its own, each reading the source.
constexpr std::size_t kCheckAlongsideBytes = std::size_t{1} << 20;

// The well-formedness check of `bytes`, run on a thread of its own while
// the caller parses. The result counts only for the encoding it was run
// with.
class CheckAlongside {
 public:
  CheckAlongside(std::string_view bytes, pugi::xml_encoding encoding) : encoding_(encoding) {
    thread_ = std::thread([this, bytes] {
      try {
        result_ = check_well_formed(bytes, encoding_);
      } catch (...) {
        failure_ = std::current_exception();
      }
    });
  }
  ~CheckAlongside() {
    if (thread_.joinable()) thread_.join();
  }
  CheckAlongside(const CheckAlongside&) = delete;
  CheckAlongside& operator=(const CheckAlongside&) = delete;

  // The check's result when it ran with `encoding`, else nothing.
  std::optional<WellFormedness> result_for(pugi::xml_encoding encoding) {
    thread_.join();
    if (failure_) std::rethrow_exception(failure_);
    if (encoding != encoding_) return std::nullopt;
    return std::move(result_);
  }

 private:
  pugi::xml_encoding encoding_;
  WellFormedness result_;
  std::exception_ptr failure_;
  std::thread thread_;
};

const char* syntax_reason(pugi::xml_parse_status status) {
  switch (status) {
    case pugi::status_out_of_memory: return "Not enough memory to load the document.\n";
    case pugi::status_unrecognized_tag: return "The markup here is not recognised.\n";
    case pugi::status_bad_pi:
      return "The XML declaration or a processing instruction is malformed.\n";
    case pugi::status_bad_comment: return "A comment is malformed.\n";
    case pugi::status_bad_cdata: return "A CDATA section is malformed.\n";
    case pugi::status_bad_doctype: return "The document type declaration is malformed.\n";
    case pugi::status_bad_pcdata: return "Text is malformed.\n";
    case pugi::status_bad_start_element: return "A start tag is malformed.\n";
    case pugi::status_bad_attribute: return "An attribute is malformed.\n";
    case pugi::status_bad_end_element: return "An end tag is malformed.\n";
    case pugi::status_end_element_mismatch:
      return "An end tag does not match the start tag, or an element is not closed.\n";
    case pugi::status_no_document_element: return "The document has no root element.\n";
    default: return "The document cannot be parsed.\n";
  }
}

struct StructureProblem {
  const char* reason = nullptr;  // null: the top level is as it should be
  std::ptrdiff_t offset = -1;    // parser offset of the offending node; -1: unknown
  Anchor anchor = Anchor::kOpeningBracket;
};

// The top level must be: an optional XML declaration first, then comments
// and processing instructions with at most one document type declaration,
// then the one root element, then only comments and processing instructions.
// The parser keeps top-level text (it runs in fragment mode for that) and
// further elements without complaint; they are refused here.
StructureProblem check_top_level(const pugi::xml_document& dom) {
  bool first = true;
  bool seen_doctype = false;
  bool seen_root = false;
  for (pugi::xml_node node = dom.first_child(); node; node = node.next_sibling()) {
    const char* reason = nullptr;
    Anchor anchor = Anchor::kOpeningBracket;
    switch (node.type()) {
      case pugi::node_declaration:
        if (!first) reason = "The XML declaration must come first in the document.\n";
        break;
      case pugi::node_doctype:
        if (seen_root) {
          reason = "The document type declaration must come before the root element.\n";
        } else if (seen_doctype) {
          reason = "Only one document type declaration is allowed.\n";
        }
        seen_doctype = true;
        break;
      case pugi::node_element:
        if (seen_root) reason = "Only one root element is allowed.\n";
        seen_root = true;
        break;
      case pugi::node_pcdata:
        reason = seen_root ? "Text is not allowed after the root element.\n"
                           : "Text is not allowed before the root element.\n";
        anchor = Anchor::kNextNonSpace;
        break;
      case pugi::node_cdata:
        reason = "A CDATA section is not allowed outside the root element.\n";
        break;
      default:
        break;
    }
    first = false;
    if (reason != nullptr) return {reason, node.offset_debug(), anchor};
  }
  // No root: the error stands at the end of the source.
  if (!seen_root) {
    return {"The document has no root element.\n",
            std::numeric_limits<std::ptrdiff_t>::max(), Anchor::kAt};
  }
  return {};
}

}  // namespace

std::optional<pugi::xml_encoding> certain_xml_encoding(std::string_view bytes) {
  const pugi::xml_encoding chosen = choose_encoding(bytes);
  const pugi::xml_encoding expected = expected_encoding(bytes, chosen);
  if (chosen != pugi::encoding_auto || bytes.size() < 4 || expected != pugi::encoding_utf8) {
    return expected;
  }
  // With no byte order mark, a zero byte among the first four may be UTF-16
  // or UTF-32 the DOM's parser recognises by its "<".
  if (bytes.substr(0, 4).find('\0') != std::string_view::npos) return std::nullopt;
  return expected;
}

XmlParseOutcome parse_xml_document(pugi::xml_document& document, std::string_view bytes) {
  XmlParseOutcome outcome;
  auto fail = [&](XmlProblem problem, std::string reason, TextPosition position) {
    document.reset();
    outcome.problem = problem;
    outcome.reason = std::move(reason);
    outcome.position = position;
    return outcome;
  };
  pugi::xml_encoding encoding = choose_encoding(bytes);
  // What the source is written in, against what it declares, before any
  // markup is read.
  WellFormedness source = check_source(bytes, expected_encoding(bytes, encoding));
  if (!source.well_formed) return fail(XmlProblem::kSyntax, source.reason, source.position);
  // A large source is checked while the DOM's parser reads it: both only
  // read it, and the check's result is looked at only once the parse has
  // passed, so problems are reported in the same order either way.
  std::optional<CheckAlongside> alongside;
  if (bytes.size() >= kCheckAlongsideBytes) {
    try {
      alongside.emplace(bytes, expected_encoding(bytes, encoding));
    } catch (const std::system_error&) {
      // No thread to be had: the check runs after the parse.
    }
  }
  pugi::xml_parse_result result = document.load_buffer(
      bytes.data(), bytes.size(), kParseOptions | pugi::parse_fragment, encoding);
  if (!result) {
    TextPosition position;
    if (result.status != pugi::status_out_of_memory &&
        result.status != pugi::status_internal_error) {
      position =
          locate(bytes, result.encoding, static_cast<std::size_t>(result.offset), Anchor::kAt);
    }
    return fail(result.status == pugi::status_out_of_memory ? XmlProblem::kNoMemory
                                                            : XmlProblem::kSyntax,
                syntax_reason(result.status), position);
  }
  StructureProblem problem = check_top_level(document);
  if (problem.reason != nullptr) {
    TextPosition position;
    if (problem.offset >= 0) {
      position = locate(bytes, result.encoding, static_cast<std::size_t>(problem.offset),
                        problem.anchor);
    }
    return fail(XmlProblem::kStructure, problem.reason, position);
  }
  std::optional<WellFormedness> checked;
  if (alongside) checked = alongside->result_for(result.encoding);
  if (!checked) checked = check_well_formed(bytes, result.encoding);
  if (!checked->well_formed) {
    return fail(checked->out_of_memory ? XmlProblem::kNoMemory : XmlProblem::kSyntax,
                checked->reason, checked->position);
  }
  return outcome;
}

}  // namespace quorvel
