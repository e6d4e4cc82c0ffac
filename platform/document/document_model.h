// A mixer document in memory: the one form every reader of a document
// uses (pairing, the plan, the preview, the tree dump, the simulated
// device), filled by the parse of a source (parse_document, below) or by
// the writer (DocumentBuilder, a DocumentSink).
//
// Compact: a node is a few indexes into flat arrays, an element's
// attributes one run of small records, and every name and value text lives
// once in one arena; element and attribute names are kept once each,
// however often they occur. Nothing of the source is held once it is
// parsed.
//
// Every node of the document is kept as written, in document order: the
// XML declaration (its pseudo-attributes as attributes), the document type
// declaration (its text after "<!DOCTYPE"), comments, processing
// instructions, elements of any name and their attributes (namespace
// declarations among them, where they stand), and text: one node per run
// of text between two pieces of markup, with its references expanded and
// its line ends made LF; a run that is only white space in the source is no
// node.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

#include "platform/document/document_sink.h"

namespace quorvel {

class Document;

// Records in blocks of a fixed count that never move: growing costs no
// copy. A block's room is made a record at a time (pages not yet reached
// cost no memory), so a small document costs little.
template <typename T>
class BlockArray {
  static_assert(std::is_trivially_destructible_v<T>);

 public:
  static constexpr std::uint32_t kShift = 14;  // 16,384 records a block
  static constexpr std::uint32_t kMask = (std::uint32_t{1} << kShift) - 1;

  T& operator[](std::uint32_t i) { return blocks_[i >> kShift].get()[i & kMask]; }
  const T& operator[](std::uint32_t i) const { return blocks_[i >> kShift].get()[i & kMask]; }
  std::uint32_t size() const { return size_; }
  void push_back(const T& value) {
    if ((size_ & kMask) == 0) {
      blocks_.reserve(blocks_.size() + 1);
      blocks_.emplace_back(std::allocator<T>().allocate(std::size_t{kMask} + 1));
    }
    std::construct_at(blocks_.back().get() + (size_ & kMask), value);
    ++size_;
  }
  void clear() {
    blocks_.clear();
    blocks_.shrink_to_fit();
    size_ = 0;
  }
  // The records held, in bytes.
  std::size_t bytes() const { return std::size_t{size_} * sizeof(T); }

 private:
  struct Free {
    void operator()(T* block) const {
      std::allocator<T>().deallocate(block, std::size_t{kMask} + 1);
    }
  };
  std::vector<std::unique_ptr<T, Free>> blocks_;
  std::uint32_t size_ = 0;
};

// Texts in blocks that never move, each text whole in one block (a text
// longer than a block has one of its own, over as many of the blocks'
// places as it needs), up to 4 GB in all.
class TextArena {
 public:
  struct Text {
    std::uint32_t offset = 0;
    std::uint32_t size = 0;
  };
  // `text` added; throws std::bad_alloc when there is no room.
  Text store(std::string_view text);
  std::string_view view(Text text) const {
    return text.size == 0 ? std::string_view()
                          : std::string_view(blocks_[text.offset >> kShift].get() +
                                                 (text.offset & kMask),
                                             text.size);
  }
  void clear();
  // The texts held, in bytes.
  std::size_t bytes() const { return used_; }

 private:
  static constexpr std::uint32_t kShift = 18;  // 256 KB a block
  static constexpr std::uint32_t kMask = (std::uint32_t{1} << kShift) - 1;
  std::vector<std::unique_ptr<char[]>> blocks_;  // null: a place a long text took
  std::uint64_t used_ = 0;                        // the offset the next text may start at
};

// What a node is.
enum class NodeKind : std::uint8_t {
  kDocument,     // the document itself: the parent of the top-level nodes
  kElement,      // name and attributes
  kText,         // value
  kCdata,        // value
  kComment,      // value
  kInstruction,  // name (the target) and value
  kDeclaration,  // attributes: version, encoding, standalone as written
  kDoctype,      // value
};

// An attribute of an element or the declaration, or none (false).
class DocAttribute {
 public:
  DocAttribute() = default;
  DocAttribute(const Document* document, std::uint32_t index)
      : document_(document), index_(index) {}

  explicit operator bool() const { return document_ != nullptr; }
  // Followed by a NUL in memory.
  std::string_view name() const;
  // The value as written, references expanded; "" for none.
  std::string_view value() const;

 private:
  const Document* document_ = nullptr;
  std::uint32_t index_ = 0;
};

// A node of a document, or none (false): a small handle that stays valid as
// long as its document and the node is in it.
class DocNode {
 public:
  DocNode() = default;
  DocNode(Document* document, std::uint32_t index) : document_(document), index_(index) {}

  explicit operator bool() const { return document_ != nullptr; }
  bool operator==(const DocNode& other) const = default;

  NodeKind kind() const;
  bool is_element() const { return document_ != nullptr && kind() == NodeKind::kElement; }
  // Whether the node is text or a CDATA section.
  bool is_text() const;
  // An element's name or an instruction's target (followed by a NUL in
  // memory); "" for other nodes.
  std::string_view name() const;
  // Whether this is an element named `name`.
  bool is(std::string_view name) const { return is_element() && this->name() == name; }
  // The text of a text, CDATA, comment, instruction or doctype node.
  std::string_view value() const;

  DocNode parent() const;
  DocNode first_child() const;
  DocNode next_sibling() const;
  // The first element child named `name`; none without one.
  DocNode child(std::string_view name) const;
  // The value of the first child when that is text or CDATA, else "" (an
  // element's name text, a value element's number).
  std::string_view text() const;

  // The attributes, in document order.
  std::uint32_t attribute_count() const;
  DocAttribute attribute_at(std::uint32_t i) const;
  // The first attribute named `name`; none without one.
  DocAttribute attribute(std::string_view name) const;
  // Its value, "" without one.
  std::string_view attribute_value(std::string_view name) const {
    return attribute(name).value();
  }

  // The element children named `name`, in document order, appended to
  // `found`.
  void append_children(std::string_view name, std::vector<DocNode>& found) const;
  std::vector<DocNode> children(std::string_view name) const;

  Document* document() const { return document_; }
  std::uint32_t index() const { return index_; }

 private:
  Document* document_ = nullptr;
  std::uint32_t index_ = 0;
};

class Document {
 public:
  Document();
  Document(Document&&) noexcept = default;
  Document& operator=(Document&&) noexcept = default;
  Document(const Document&) = delete;
  Document& operator=(const Document&) = delete;

  // The document node: the parent of the top-level nodes.
  DocNode root() { return DocNode(this, 0); }
  // The first top-level element; none in an empty document.
  DocNode document_element();
  // Whether the document holds no node at all.
  bool empty() const { return nodes_.size() <= 1; }

  // Takes `node` (not the document node) and everything below it out of
  // the document. Its handle and those below it must not be used after.
  void remove(DocNode node);
  // Gives the element `node` the attribute `name` with `value` (replacing
  // the value of one it has), or with no value takes it away.
  void set_attribute(DocNode node, std::string_view name, std::optional<std::string_view> value);
  // Gives a text, CDATA, comment, instruction or doctype node `value`
  // (other nodes hold no text and are left as they are).
  void set_value(DocNode node, std::string_view value);

  // Empties the document and gives its memory back.
  void reset();
  // Nodes held, the document node among them.
  std::size_t size() const { return nodes_.size(); }
  // Bytes held, for measuring.
  std::size_t bytes() const;

 private:
  friend class DocNode;
  friend class DocAttribute;
  friend class DocumentBuilder;

  static constexpr std::uint32_t kNone = 0xFFFFFFFFu;

  using Text = TextArena::Text;
  // 32 bytes: a node of text has no children and no attributes, one that
  // may have them no text, so the two share their room.
  struct Node {
    NodeKind kind = NodeKind::kDocument;
    std::uint32_t attribute_count = 0;
    std::uint32_t name = kNone;  // index into names_
    union {
      Text value;  // text, CDATA, comment, instruction, doctype
      struct {
        std::uint32_t first_child;
        std::uint32_t first_attribute;  // index into attributes_
      } tree;  // document, element, declaration
    };
    std::uint32_t parent = kNone;
    std::uint32_t prev = kNone;
    std::uint32_t next = kNone;

    Node() : tree{kNone, 0} {}
    bool holds_text() const { return kind > NodeKind::kElement && kind != NodeKind::kDeclaration; }
  };
  static_assert(sizeof(Node) == 32);
  struct Attribute {
    std::uint32_t name = 0;  // index into names_
    Text value;
  };

  std::string_view text(Text text) const { return arena_.view(text); }
  std::string_view name_of(std::uint32_t name) const {
    return name == kNone ? std::string_view() : text(names_[name]);
  }
  // The index of `name` among the names, added when it is new.
  std::uint32_t intern(std::string_view name);
  // The index of `name` among the names; kNone when it is not there.
  std::uint32_t find_name(std::string_view name) const;
  // `value` added to the arena.
  Text store(std::string_view value);

  BlockArray<Node> nodes_;  // [0] the document node; the rest in document order
  BlockArray<Attribute> attributes_;
  std::vector<Text> names_;
  TextArena arena_;
};

// Appends nodes to a document in document order: what the parser and the
// writer make a document with. Replaces the document's content at once.
// Every call returns false when there was no memory for it (or the arena
// would outgrow its 4 GB); the document is then incomplete and must be
// reset.
class DocumentBuilder final : public DocumentSink {
 public:
  explicit DocumentBuilder(Document& document);

  bool declaration(std::string_view version, std::optional<std::string_view> encoding,
                   std::optional<std::string_view> standalone);
  bool doctype_node(std::string_view value);
  bool comment_node(std::string_view value);
  bool instruction(std::string_view target, std::string_view value);
  // Starts an element as the next child of the element open (or at the
  // top level); its attributes follow with add_attribute, before any child.
  bool start_element(std::string_view name);
  bool add_attribute(std::string_view name, std::string_view value);
  bool text_node(std::string_view value, bool cdata);
  bool end_element();
  // Elements open.
  std::size_t depth() const { return open_.size(); }

  // The writer's calls (DocumentSink): the same, with failed() kept.
  void prolog() override;
  void start(const char* name) override { keep(start_element(name)); }
  void attribute(const char* name, std::int32_t value) override;
  void attribute(const char* name, std::string_view utf8) override;
  void text(std::string_view utf8) override;
  void cdata(std::string_view utf8) override;
  void end() override { keep(end_element()); }
  bool failed() const override { return failed_; }

 private:
  // A node that holds a text (`name`: an instruction's target, else "").
  bool text_like(NodeKind kind, std::string_view name, std::string_view value);
  bool append(Document::Node node);
  void keep(bool done) { failed_ = failed_ || !done; }

  Document& document_;
  // The element open at each depth, and the last child appended under it
  // (last_[0]: under the document node).
  std::vector<std::uint32_t> open_;
  std::vector<std::uint32_t> last_;
  bool failed_ = false;
};

}  // namespace quorvel
