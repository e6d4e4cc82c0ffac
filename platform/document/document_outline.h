// The outline of a mixer document: what pairing a document with a mixer
// reads of the mixer's side, and nothing else. For each mixer, destination,
// source and line control (the elements the pairing selections reach) it
// keeps its key text, a line's device name and product identity and whether
// its default switch is on, and a control's ctrl_id, in a few dozen bytes an element; the tree of
// the same document costs hundreds. Values, items, names and every other
// attribute are dropped.
//
// An outline is written like any document (OutlineSink, a DocumentSink), so
// the snapshot's builder makes it straight from the mixer, and a tree is
// outlined by replaying it (outline_tree).
#pragma once

#include <pugixml.hpp>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/document/document_sink.h"

namespace quorvel {

class DocumentOutline;

// The element kinds an outline keeps.
enum class OutlineKind : std::uint8_t { kMixer, kDestination, kSource, kLineControl };

// One element of an outline, or none (false): a small handle that stays
// valid as long as its outline.
class OutlineItem {
 public:
  OutlineItem() = default;
  OutlineItem(const DocumentOutline* outline, std::uint32_t index)
      : outline_(outline), index_(index) {}

  explicit operator bool() const { return outline_ != nullptr; }
  OutlineKind kind() const;
  // The text of the element's key attribute (audio_mixer: id, destination:
  // component_type, source: line_type, line_control: ctrl_type); none
  // without one.
  std::optional<std::string_view> key() const;
  // A line's server_name; empty without one.
  std::string_view server_name() const;
  // A line's product_id; empty without one.
  std::string_view product_id() const;
  // A line_control's ctrl_id; none without one.
  std::optional<std::string_view> ctrl_id() const;
  // Whether a line's first line_control of the default switch type has a
  // first value of 1.
  bool is_default() const;
  // The element's children of `kind`, in document order.
  std::vector<OutlineItem> children(OutlineKind kind) const;

 private:
  const DocumentOutline* outline_ = nullptr;
  std::uint32_t index_ = 0;
};

class DocumentOutline {
 public:
  // The document's audio_mixer elements, in document order.
  std::vector<OutlineItem> roots() const;
  // Elements kept.
  std::size_t size() const { return nodes_.size(); }
  // Bytes held, for measuring.
  std::size_t bytes() const {
    return nodes_.capacity() * sizeof(Node) + texts_.capacity();
  }
  // Empties the outline and gives its memory back.
  void reset();

 private:
  friend class OutlineItem;
  friend class OutlineSink;

  // A text of texts_; size kAbsent when the attribute is missing.
  struct Text {
    static constexpr std::uint32_t kAbsent = 0xFFFFFFFFu;
    std::uint32_t offset = 0;
    std::uint32_t size = kAbsent;
  };
  struct Node {
    OutlineKind kind = OutlineKind::kMixer;
    bool is_default = false;
    bool default_decided = false;  // the line's first default switch was met
    Text key;
    Text server_name;
    // A line's product_id, or a line_control's ctrl_id: no element has both,
    // so they share the room.
    Text own_id;
    std::uint32_t end = 0;  // the index after the element's last descendant
  };

  std::string_view text(Text text) const {
    return std::string_view(texts_).substr(text.offset, text.size);
  }

  std::vector<Node> nodes_;  // in document order, each before its descendants
  std::string texts_;
};

// Writes an outline of the document written to it. Replaces the outline's
// content at prolog().
class OutlineSink final : public DocumentSink {
 public:
  explicit OutlineSink(DocumentOutline& outline);

  void prolog(const pugi::xml_document& prototype) override;
  void start(const char* name) override;
  void attribute(const char* name, std::int32_t value) override;
  void attribute(const char* name, std::string_view utf8) override;
  void text(std::string_view utf8) override;
  void cdata(std::string_view utf8) override { text(utf8); }
  void end() override;
  bool failed() const override { return failed_; }

 private:
  // An element open: the outline's node it made, or kNone when the outline
  // keeps nothing of it (a first value of a line control is followed for
  // its text, though).
  static constexpr std::uint32_t kNone = 0xFFFFFFFFu;
  struct Open {
    std::uint32_t node = kNone;
    bool first_value = false;  // the first value element of the control open above
  };

  bool store(DocumentOutline::Text& text, std::string_view utf8);

  DocumentOutline& outline_;
  std::vector<Open> open_;
  bool value_seen_ = false;     // the control open has had its first value element
  bool value_text_seen_ = false;
  std::string value_text_;      // the text of the control's first value
  bool failed_ = false;
};

// The outline of a tree: what an OutlineSink makes of the same document.
// False when there was no memory for it.
bool outline_tree(const pugi::xml_document& document, DocumentOutline& outline);

}  // namespace quorvel
