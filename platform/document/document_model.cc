#include "platform/document/document_model.h"

#include <charconv>
#include <cstring>
#include <limits>
#include <new>

#include "platform/document/document_format.h"

namespace quorvel {

// --- Handles -----------------------------------------------------------------

std::string_view DocAttribute::name() const {
  return document_ == nullptr ? std::string_view()
                              : document_->name_of(document_->attributes_[index_].name);
}

std::string_view DocAttribute::value() const {
  return document_ == nullptr ? std::string_view()
                              : document_->text(document_->attributes_[index_].value);
}

NodeKind DocNode::kind() const { return document_->nodes_[index_].kind; }

bool DocNode::is_text() const {
  if (document_ == nullptr) return false;
  const NodeKind k = kind();
  return k == NodeKind::kText || k == NodeKind::kCdata;
}

std::string_view DocNode::name() const {
  return document_ == nullptr ? std::string_view()
                              : document_->name_of(document_->nodes_[index_].name);
}

std::string_view DocNode::value() const {
  if (document_ == nullptr || !document_->nodes_[index_].holds_text()) return {};
  return document_->text(document_->nodes_[index_].value);
}

namespace {

DocNode handle(Document* document, std::uint32_t index, std::uint32_t none) {
  return index == none ? DocNode() : DocNode(document, index);
}

}  // namespace

DocNode DocNode::parent() const {
  if (document_ == nullptr) return {};
  return handle(document_, document_->nodes_[index_].parent, Document::kNone);
}

DocNode DocNode::first_child() const {
  if (document_ == nullptr || document_->nodes_[index_].holds_text()) return {};
  return handle(document_, document_->nodes_[index_].tree.first_child, Document::kNone);
}

DocNode DocNode::next_sibling() const {
  if (document_ == nullptr) return {};
  return handle(document_, document_->nodes_[index_].next, Document::kNone);
}

DocNode DocNode::child(std::string_view name) const {
  if (document_ == nullptr || document_->nodes_[index_].holds_text()) return {};
  const std::uint32_t wanted = document_->find_name(name);
  if (wanted == Document::kNone) return {};
  for (std::uint32_t i = document_->nodes_[index_].tree.first_child; i != Document::kNone;
       i = document_->nodes_[i].next) {
    const Document::Node& node = document_->nodes_[i];
    if (node.kind == NodeKind::kElement && node.name == wanted) return DocNode(document_, i);
  }
  return {};
}

std::string_view DocNode::text() const {
  const DocNode first = first_child();
  return first.is_text() ? first.value() : std::string_view();
}

std::uint32_t DocNode::attribute_count() const {
  return document_ == nullptr ? 0 : document_->nodes_[index_].attribute_count;
}

DocAttribute DocNode::attribute_at(std::uint32_t i) const {
  if (i >= attribute_count()) return {};
  return DocAttribute(document_, document_->nodes_[index_].tree.first_attribute + i);
}

DocAttribute DocNode::attribute(std::string_view name) const {
  if (document_ == nullptr) return {};
  const std::uint32_t wanted = document_->find_name(name);
  if (wanted == Document::kNone) return {};
  const Document::Node& node = document_->nodes_[index_];
  for (std::uint32_t i = 0; i < node.attribute_count; ++i) {
    if (document_->attributes_[node.tree.first_attribute + i].name == wanted) {
      return DocAttribute(document_, node.tree.first_attribute + i);
    }
  }
  return {};
}

void DocNode::append_children(std::string_view name, std::vector<DocNode>& found) const {
  if (document_ == nullptr || document_->nodes_[index_].holds_text()) return;
  const std::uint32_t wanted = document_->find_name(name);
  if (wanted == Document::kNone) return;
  for (std::uint32_t i = document_->nodes_[index_].tree.first_child; i != Document::kNone;
       i = document_->nodes_[i].next) {
    const Document::Node& node = document_->nodes_[i];
    if (node.kind == NodeKind::kElement && node.name == wanted) found.emplace_back(document_, i);
  }
}

std::vector<DocNode> DocNode::children(std::string_view name) const {
  std::vector<DocNode> found;
  append_children(name, found);
  return found;
}

// --- The document -------------------------------------------------------------

Document::Document() { nodes_.push_back(Node()); }

DocNode Document::document_element() {
  for (std::uint32_t i = nodes_[0].tree.first_child; i != kNone; i = nodes_[i].next) {
    if (nodes_[i].kind == NodeKind::kElement) return DocNode(this, i);
  }
  return {};
}

void Document::remove(DocNode node) {
  const std::uint32_t i = node.index();
  if (node.document() != this || i == 0) return;
  Node& removed = nodes_[i];
  if (removed.prev != kNone) {
    nodes_[removed.prev].next = removed.next;
  } else if (removed.parent != kNone) {
    nodes_[removed.parent].tree.first_child = removed.next;
  }
  if (removed.next != kNone) nodes_[removed.next].prev = removed.prev;
  removed.parent = removed.prev = removed.next = kNone;
}

void Document::set_attribute(DocNode node, std::string_view name,
                             std::optional<std::string_view> value) {
  Node& element = nodes_[node.index()];
  const std::uint32_t wanted = value ? intern(name) : find_name(name);
  if (wanted == kNone) return;
  for (std::uint32_t i = 0; i < element.attribute_count; ++i) {
    Attribute& attribute = attributes_[element.tree.first_attribute + i];
    if (attribute.name != wanted) continue;
    if (value) {
      attribute.value = store(*value);
    } else {
      // The ones after it move up one.
      for (std::uint32_t j = element.tree.first_attribute + i;
           j + 1 < element.tree.first_attribute + element.attribute_count; ++j) {
        attributes_[j] = attributes_[j + 1];
      }
      --element.attribute_count;
    }
    return;
  }
  if (!value) return;
  // A new attribute: the element's run moves to the end, where it can grow.
  const Text stored = store(*value);
  if (element.tree.first_attribute + element.attribute_count != attributes_.size()) {
    const std::uint32_t first = attributes_.size();
    for (std::uint32_t i = 0; i < element.attribute_count; ++i) {
      attributes_.push_back(attributes_[element.tree.first_attribute + i]);
    }
    element.tree.first_attribute = first;
  }
  attributes_.push_back(Attribute{wanted, stored});
  ++element.attribute_count;
}

void Document::set_value(DocNode node, std::string_view value) {
  if (nodes_[node.index()].holds_text()) nodes_[node.index()].value = store(value);
}

void Document::reset() {
  nodes_.clear();
  nodes_.push_back(Node());
  attributes_.clear();
  std::vector<Text>().swap(names_);
  arena_.clear();
}

std::size_t Document::bytes() const {
  return nodes_.bytes() + attributes_.bytes() + names_.capacity() * sizeof(Text) + arena_.bytes();
}

std::uint32_t Document::find_name(std::string_view name) const {
  // A document uses a few dozen names at most: a look along them is as
  // quick as a hash, and costs no memory.
  for (std::size_t i = 0; i < names_.size(); ++i) {
    if (text(names_[i]) == name) return static_cast<std::uint32_t>(i);
  }
  return kNone;
}

std::uint32_t Document::intern(std::string_view name) {
  const std::uint32_t found = find_name(name);
  if (found != kNone) return found;
  // Kept with a NUL after it, for a writer that takes names as C strings.
  std::string terminated(name);
  terminated += '\0';
  Text stored = store(terminated);
  --stored.size;
  names_.push_back(stored);
  return static_cast<std::uint32_t>(names_.size() - 1);
}

Document::Text Document::store(std::string_view value) { return arena_.store(value); }

// --- Blocks ---------------------------------------------------------------------

TextArena::Text TextArena::store(std::string_view text) {
  if (text.empty()) return {};
  const std::uint64_t block = std::uint64_t{kMask} + 1;
  std::uint64_t at = used_;
  // A text never straddles two blocks: one that does not fit in what is
  // left of this block starts the next.
  if ((at & kMask) != 0 && (at & kMask) + text.size() > block) at = (at | kMask) + 1;
  const std::uint64_t places = (text.size() + block - 1) / block;
  if ((at & kMask) == 0 && at + places * block > (std::uint64_t{1} << 32)) throw std::bad_alloc();
  if (at + text.size() > (std::uint64_t{1} << 32)) throw std::bad_alloc();
  if ((at & kMask) == 0) {
    // A new block, or the places of a long text: the first holds it whole.
    blocks_.reserve(blocks_.size() + places);
    blocks_.push_back(std::make_unique_for_overwrite<char[]>(places * block));
    for (std::uint64_t i = 1; i < places; ++i) blocks_.emplace_back();
  }
  std::memcpy(blocks_[at >> kShift].get() + (at & kMask), text.data(), text.size());
  used_ = at + text.size();
  // After a long text, the next starts a block of its own.
  if (places > 1) used_ = at + places * block;
  return Text{static_cast<std::uint32_t>(at), static_cast<std::uint32_t>(text.size())};
}

void TextArena::clear() {
  blocks_.clear();
  blocks_.shrink_to_fit();
  used_ = 0;
}

// --- Building -------------------------------------------------------------------

DocumentBuilder::DocumentBuilder(Document& document) : document_(document) {
  document_.reset();
  last_.push_back(Document::kNone);
}

bool DocumentBuilder::append(Document::Node node) {
  const std::uint32_t index = document_.nodes_.size();
  node.parent = open_.empty() ? 0 : open_.back();
  node.prev = last_.back();
  document_.nodes_.push_back(node);
  if (node.prev != Document::kNone) {
    document_.nodes_[node.prev].next = index;
  } else {
    document_.nodes_[node.parent].tree.first_child = index;
  }
  last_.back() = index;
  return true;
}

bool DocumentBuilder::declaration(std::string_view version,
                                  std::optional<std::string_view> encoding,
                                  std::optional<std::string_view> standalone) {
  try {
    Document::Node node;
    node.kind = NodeKind::kDeclaration;
    node.tree.first_attribute = document_.attributes_.size();
    auto add = [&](std::string_view name, std::string_view value) {
      document_.attributes_.push_back(
          Document::Attribute{document_.intern(name), document_.store(value)});
      ++node.attribute_count;
    };
    add("version", version);
    if (encoding) add("encoding", *encoding);
    if (standalone) add("standalone", *standalone);
    return append(node);
  } catch (const std::bad_alloc&) {
    return false;
  }
}

bool DocumentBuilder::text_like(NodeKind kind, std::string_view name, std::string_view value) {
  try {
    Document::Node node;
    node.kind = kind;
    if (!name.empty()) node.name = document_.intern(name);
    node.value = document_.store(value);
    return append(node);
  } catch (const std::bad_alloc&) {
    return false;
  }
}

bool DocumentBuilder::doctype_node(std::string_view value) {
  return text_like(NodeKind::kDoctype, {}, value);
}

bool DocumentBuilder::comment_node(std::string_view value) {
  return text_like(NodeKind::kComment, {}, value);
}

bool DocumentBuilder::instruction(std::string_view target, std::string_view value) {
  return text_like(NodeKind::kInstruction, target, value);
}

bool DocumentBuilder::text_node(std::string_view value, bool cdata) {
  return text_like(cdata ? NodeKind::kCdata : NodeKind::kText, {}, value);
}

bool DocumentBuilder::start_element(std::string_view name) {
  try {
    Document::Node node;
    node.kind = NodeKind::kElement;
    node.name = document_.intern(name);
    node.tree.first_attribute = document_.attributes_.size();
    append(node);
    open_.push_back(last_.back());
    last_.push_back(Document::kNone);
    return true;
  } catch (const std::bad_alloc&) {
    return false;
  }
}

bool DocumentBuilder::add_attribute(std::string_view name, std::string_view value) {
  if (open_.empty()) return false;
  try {
    document_.attributes_.push_back(
        Document::Attribute{document_.intern(name), document_.store(value)});
    ++document_.nodes_[open_.back()].attribute_count;
    return true;
  } catch (const std::bad_alloc&) {
    return false;
  }
}

bool DocumentBuilder::end_element() {
  if (open_.empty()) return false;
  open_.pop_back();
  last_.pop_back();
  return true;
}

void DocumentBuilder::prolog() {
  document_.reset();
  open_.clear();
  last_.assign(1, Document::kNone);
  failed_ = false;
  keep(declaration(doc::kDeclarationVersion, std::string_view(doc::kDeclarationEncoding),
                   std::nullopt));
  keep(comment_node(doc::kComment));
  keep(doctype_node(doc::kDoctype));
}

void DocumentBuilder::attribute(const char* name, std::int32_t value) {
  char digits[16];
  const auto written = std::to_chars(digits, digits + sizeof digits, value);
  keep(add_attribute(name, std::string_view(digits, static_cast<std::size_t>(written.ptr - digits))));
}

void DocumentBuilder::attribute(const char* name, std::string_view utf8) {
  keep(add_attribute(name, utf8.substr(0, utf8.find('\0'))));
}

void DocumentBuilder::text(std::string_view utf8) {
  // An empty text is no node, as a document read from its saved form has
  // none there.
  utf8 = utf8.substr(0, utf8.find('\0'));
  if (!utf8.empty()) keep(text_node(utf8, false));
}

void DocumentBuilder::cdata(std::string_view utf8) {
  keep(text_node(utf8.substr(0, utf8.find('\0')), true));
}

}  // namespace quorvel
