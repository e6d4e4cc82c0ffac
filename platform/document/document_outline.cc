#include "platform/document/document_outline.h"

#include <charconv>
#include <cstring>
#include <limits>
#include <new>

#include "common/number_text.h"
#include "platform/document/document_format.h"
#include "platform/mixer/control_types.h"

namespace quorvel {
namespace {

bool named(const char* name, const char* constant) {
  return name == constant || std::strcmp(name, constant) == 0;
}

// The key attribute of each kind.
const char* key_name(OutlineKind kind) {
  switch (kind) {
    case OutlineKind::kMixer:
      return doc::kId;
    case OutlineKind::kDestination:
      return doc::kComponentType;
    case OutlineKind::kSource:
      return doc::kLineType;
    case OutlineKind::kLineControl:
      return doc::kCtrlType;
  }
  return doc::kId;
}

bool is_line(OutlineKind kind) {
  return kind == OutlineKind::kDestination || kind == OutlineKind::kSource;
}

}  // namespace

OutlineKind OutlineItem::kind() const { return outline_->nodes_[index_].kind; }

std::optional<std::string_view> OutlineItem::key() const {
  const DocumentOutline::Text key = outline_->nodes_[index_].key;
  if (key.size == DocumentOutline::Text::kAbsent) return std::nullopt;
  return outline_->text(key);
}

std::string_view OutlineItem::server_name() const {
  const DocumentOutline::Text name = outline_->nodes_[index_].server_name;
  if (name.size == DocumentOutline::Text::kAbsent) return {};
  return outline_->text(name);
}

std::string_view OutlineItem::product_id() const {
  const DocumentOutline::Node& node = outline_->nodes_[index_];
  if (!is_line(node.kind) || node.own_id.size == DocumentOutline::Text::kAbsent) return {};
  return outline_->text(node.own_id);
}

std::optional<std::string_view> OutlineItem::ctrl_id() const {
  const DocumentOutline::Node& node = outline_->nodes_[index_];
  const DocumentOutline::Text id = node.own_id;
  if (node.kind != OutlineKind::kLineControl || id.size == DocumentOutline::Text::kAbsent) {
    return std::nullopt;
  }
  return outline_->text(id);
}

bool OutlineItem::is_default() const { return outline_->nodes_[index_].is_default; }

std::vector<OutlineItem> OutlineItem::children(OutlineKind kind) const {
  std::vector<OutlineItem> found;
  const auto& nodes = outline_->nodes_;
  for (std::uint32_t child = index_ + 1; child < nodes[index_].end; child = nodes[child].end) {
    if (nodes[child].kind == kind) found.emplace_back(outline_, child);
  }
  return found;
}

std::vector<OutlineItem> DocumentOutline::roots() const {
  std::vector<OutlineItem> found;
  for (std::uint32_t node = 0; node < nodes_.size(); node = nodes_[node].end) {
    found.emplace_back(this, node);
  }
  return found;
}

void DocumentOutline::reset() {
  std::vector<Node>().swap(nodes_);
  std::string().swap(texts_);
}

OutlineSink::OutlineSink(DocumentOutline& outline) : outline_(outline) {}

void OutlineSink::prolog(const pugi::xml_document&) {
  outline_.reset();
  open_.clear();
  failed_ = false;
}

bool OutlineSink::store(DocumentOutline::Text& text, std::string_view utf8) {
  // The first attribute of a name counts, as the DOM finds it.
  if (text.size != DocumentOutline::Text::kAbsent) return true;
  // Text up to its first NUL, as the tree would hold it.
  utf8 = utf8.substr(0, utf8.find('\0'));
  std::string& texts = outline_.texts_;
  constexpr std::size_t kLimit = std::numeric_limits<std::uint32_t>::max() - 1;
  if (texts.size() + utf8.size() > kLimit) return false;
  text.offset = static_cast<std::uint32_t>(texts.size());
  text.size = static_cast<std::uint32_t>(utf8.size());
  texts.append(utf8);
  return true;
}

void OutlineSink::start(const char* name) {
  if (failed_) return;
  // What the element is: an outline node when the pairing selections reach
  // it (audio_mixer at the top, destination in a mixer, source in a
  // destination, line_control in either line), else nothing.
  Open open;
  std::optional<OutlineKind> kind;
  if (open_.empty()) {
    if (named(name, doc::kAudioMixer)) kind = OutlineKind::kMixer;
  } else if (open_.back().node != kNone) {
    const OutlineKind parent = outline_.nodes_[open_.back().node].kind;
    if (parent == OutlineKind::kMixer && named(name, doc::kDestination)) {
      kind = OutlineKind::kDestination;
    } else if (parent == OutlineKind::kDestination && named(name, doc::kSource)) {
      kind = OutlineKind::kSource;
    } else if (is_line(parent) && named(name, doc::kLineControl)) {
      kind = OutlineKind::kLineControl;
    } else if (parent == OutlineKind::kLineControl && named(name, doc::kValue) && !value_seen_) {
      value_seen_ = true;
      open.first_value = true;
    }
  }
  if (kind) {
    try {
      DocumentOutline::Node node;
      node.kind = *kind;
      outline_.nodes_.push_back(node);
    } catch (const std::bad_alloc&) {
      failed_ = true;
      return;
    }
    if (outline_.nodes_.size() >= kNone) {
      failed_ = true;
      return;
    }
    open.node = static_cast<std::uint32_t>(outline_.nodes_.size() - 1);
    if (*kind == OutlineKind::kLineControl) {
      value_seen_ = false;
      value_text_seen_ = false;
      value_text_.clear();
    }
  }
  try {
    open_.push_back(open);
  } catch (const std::bad_alloc&) {
    failed_ = true;
  }
}

void OutlineSink::attribute(const char* name, std::int32_t value) {
  char digits[16];
  const auto written = std::to_chars(digits, digits + sizeof digits, value);
  attribute(name, std::string_view(digits, static_cast<std::size_t>(written.ptr - digits)));
}

void OutlineSink::attribute(const char* name, std::string_view utf8) {
  if (failed_ || open_.empty() || open_.back().node == kNone) return;
  DocumentOutline::Node& node = outline_.nodes_[open_.back().node];
  DocumentOutline::Text* text = nullptr;
  if (named(name, key_name(node.kind))) {
    text = &node.key;
  } else if (is_line(node.kind) && named(name, doc::kServerName)) {
    text = &node.server_name;
  } else if (is_line(node.kind) && named(name, doc::kProductId)) {
    text = &node.own_id;
  } else if (node.kind == OutlineKind::kLineControl && named(name, doc::kCtrlId)) {
    text = &node.own_id;
  }
  if (text == nullptr) return;
  try {
    if (!store(*text, utf8)) failed_ = true;
  } catch (const std::bad_alloc&) {
    failed_ = true;
  }
}

void OutlineSink::text(std::string_view utf8) {
  // Only the first text of a control's first value is read: its value.
  if (failed_ || open_.empty() || !open_.back().first_value || value_text_seen_) return;
  value_text_seen_ = true;
  try {
    value_text_.assign(utf8.substr(0, utf8.find('\0')));
  } catch (const std::bad_alloc&) {
    failed_ = true;
  }
}

void OutlineSink::end() {
  if (failed_ || open_.empty()) return;
  const Open closed = open_.back();
  open_.pop_back();
  if (closed.node == kNone) return;
  auto& nodes = outline_.nodes_;
  nodes[closed.node].end = static_cast<std::uint32_t>(nodes.size());
  // A line is the default when its first control of the default switch type
  // holds 1 as its first value.
  const DocumentOutline::Node& control = nodes[closed.node];
  if (control.kind != OutlineKind::kLineControl || open_.empty()) return;
  DocumentOutline::Node& line = nodes[open_.back().node];
  if (line.default_decided || control.key.size == DocumentOutline::Text::kAbsent) return;
  if (parse_uint32(outline_.text(control.key)) != ctrl::kDefaultSwitch) return;
  line.default_decided = true;
  line.is_default = parse_int_strict(value_text_) == 1;
}

namespace {

// Writes `node` and everything below it into `sink`, elements and their
// texts: what an outline reads of a tree.
void replay(pugi::xml_node node, DocumentSink& sink) {
  for (pugi::xml_node child : node.children()) {
    switch (child.type()) {
      case pugi::node_element:
        sink.start(child.name());
        for (pugi::xml_attribute attribute : child.attributes()) {
          sink.attribute(attribute.name(), std::string_view(attribute.value()));
        }
        replay(child, sink);
        sink.end();
        break;
      case pugi::node_pcdata:
        sink.text(child.value());
        break;
      case pugi::node_cdata:
        sink.cdata(child.value());
        break;
      default:
        break;
    }
    if (sink.failed()) return;
  }
}

}  // namespace

bool outline_tree(const pugi::xml_document& document, DocumentOutline& outline) {
  OutlineSink sink(outline);
  sink.prolog(document);
  replay(document, sink);
  sink.finish();
  return !sink.failed();
}

}  // namespace quorvel
