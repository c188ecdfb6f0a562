#include "binding/yaml_reader.h"

#include <yaml.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <initializer_list>
#include <limits>
#include <memory>
#include <new>
#include <stdexcept>
#include <string>
#include <unordered_map>
#include <vector>

#include "binding/field_converters.h"
#include "binding/reader_limits.h"
#include "platform/format.h"

namespace mau {

namespace {

// Aliases may copy this many nodes per byte of text in one document, and at least
// kAliasNodeFloor: far more than any real document needs (a hundred thousand nodes are a
// few megabytes of tree), far less than a small text of nested aliases could otherwise
// expand to.
constexpr size_t kAliasNodesPerByte = 2;
constexpr size_t kAliasNodeFloor = 100'000;

constexpr std::string_view kTagStr = "tag:yaml.org,2002:str";
constexpr std::string_view kTagInt = "tag:yaml.org,2002:int";
constexpr std::string_view kTagFloat = "tag:yaml.org,2002:float";
constexpr std::string_view kTagBool = "tag:yaml.org,2002:bool";

constexpr char kFieldName[] = "yaml";

bool IsOneOf(std::string_view text, std::initializer_list<std::string_view> spellings) {
  return std::find(spellings.begin(), spellings.end(), text) != spellings.end();
}

bool IsNullSpelling(std::string_view text) {
  return IsOneOf(text, {"", "~", "null", "Null", "NULL"});
}

bool IsTrueSpelling(std::string_view text) {
  return IsOneOf(text, {"true", "True", "TRUE", "y", "Y", "yes", "Yes", "YES", "on", "On", "ON"});
}

bool IsFalseSpelling(std::string_view text) {
  return IsOneOf(text,
                 {"false", "False", "FALSE", "n", "N", "no", "No", "NO", "off", "Off", "OFF"});
}

// False when no null or bool spelling and nothing strtod reads as a finite number can
// start like text: most plain texts are settled by their first character.
bool MayBeNonText(std::string_view text) {
  if (text.empty()) return true;
  switch (text[0]) {
    case '0':
    case '1':
    case '2':
    case '3':
    case '4':
    case '5':
    case '6':
    case '7':
    case '8':
    case '9':
    case '+':
    case '-':
    case '.':
    case ' ':
    case '\t':
    case '\n':
    case '\v':
    case '\f':
    case '\r':
    case '~':
    case 'n':
    case 'N':
    case 't':
    case 'T':
    case 'f':
    case 'F':
    case 'y':
    case 'Y':
    case 'o':
    case 'O':
      return true;
    default:
      return false;
  }
}

std::string_view TextOf(const yaml_char_t* text) {
  return text != nullptr ? std::string_view(reinterpret_cast<const char*>(text)) : "";
}

enum class ExactOutcome { Exact, OtherSpelling, OutOfRange };

// Reads a whole number's text as an exact integer, for numbers beyond a double's 53 bits:
// decimal, or hexadecimal after 0x, with an optional sign. OtherSpelling when the text is
// no such integer (1e20, 0x1p60), OutOfRange when it is one beyond Integer's range.
template <typename Integer>
ExactOutcome ExactInteger(const char* text, size_t length, Integer& out) {
  const char* digits = text;
  if (*digits == '-' || *digits == '+') ++digits;
  const int base = digits[0] == '0' && (digits[1] == 'x' || digits[1] == 'X') ? 16 : 10;
  errno = 0;
  char* end = nullptr;
  if constexpr (std::is_signed_v<Integer>) {
    out = std::strtoll(text, &end, base);
  } else {
    out = std::strtoull(text, &end, base);
  }
  if (end != text + length) return ExactOutcome::OtherSpelling;
  return errno == ERANGE ? ExactOutcome::OutOfRange : ExactOutcome::Exact;
}

// A plain or block scalar that strtod reads whole: a whole number in the 64-bit range
// becomes unsigned (from 0) or signed (below 0), any other finite number float. Integers
// beyond 2^53 keep every digit. Infinities and NaN are not numbers here; their texts stay
// strings.
bool ResolveNumber(BindingValue& target, const char* text, size_t length) {
  if (length == 0) return false;
  double d = 0;
  // from_chars reads the common spellings (12, -3, 1.5e3) several times faster than
  // strtod, to the same correctly rounded double; whatever it does not read whole (0x10,
  // +7, leading blanks, overflow) goes to strtod.
  const std::from_chars_result quick = std::from_chars(text, text + length, d);
  if (quick.ec != std::errc() || quick.ptr != text + length) {
    char* end = nullptr;
    d = std::strtod(text, &end);
    if (end != text + length) return false;
  }
  if (!std::isfinite(d)) return false;
  constexpr double kTwoTo53 = 9007199254740992.0;
  constexpr double kTwoTo63 = 9223372036854775808.0;
  constexpr double kTwoTo64 = 18446744073709551616.0;
  if (d != std::trunc(d)) {
    target.SetDouble(d);
  } else if (d > -kTwoTo53 && d < kTwoTo53) {
    if (d >= 0) {
      target.SetUnsigned(static_cast<uint64_t>(d));
    } else {
      target.SetSigned(static_cast<int64_t>(d));
    }
  } else if (d > 0) {
    uint64_t exact = 0;
    const ExactOutcome outcome = ExactInteger(text, length, exact);
    if (outcome == ExactOutcome::Exact) {
      target.SetUnsigned(exact);
    } else if (outcome == ExactOutcome::OtherSpelling && d < kTwoTo64) {
      target.SetUnsigned(static_cast<uint64_t>(d));
    } else {
      target.SetDouble(d);
    }
  } else {
    int64_t exact = 0;
    const ExactOutcome outcome = ExactInteger(text, length, exact);
    if (outcome == ExactOutcome::Exact) {
      target.SetSigned(exact);
    } else if (outcome == ExactOutcome::OtherSpelling && d >= -kTwoTo63) {
      target.SetSigned(static_cast<int64_t>(d));
    } else {
      target.SetDouble(d);
    }
  }
  return true;
}

// One step from a node to one of its children.
struct PathStep {
  static constexpr size_t kMember = SIZE_MAX;
  size_t index = kMember;  // kMember for a member of a structure
  std::string name;

  bool operator==(const PathStep& other) const {
    return index == other.index && (index != kMember || name == other.name);
  }
};

// A path from the root, as its last step and the path of the parent; null is the root
// itself. Anchors share the nodes of their common prefix, so that many anchors deep in a
// tree cost one node each, not a copy of their whole path.
struct PathNode;
using PathRef = std::shared_ptr<const PathNode>;
struct PathNode {
  PathRef parent;
  PathStep step;
  size_t depth;  // steps from the root
};

size_t DepthOf(const PathRef& path) { return path != nullptr ? path->depth : 0; }

PathRef Extend(PathRef parent, PathStep step) {
  const size_t depth = DepthOf(parent) + 1;
  return std::make_shared<const PathNode>(PathNode{std::move(parent), std::move(step), depth});
}

// True when a lies on b: a is b or one of its ancestors.
bool IsPrefix(const PathNode* a, const PathNode* b) {
  const size_t depthA = a != nullptr ? a->depth : 0;
  size_t depthB = b != nullptr ? b->depth : 0;
  if (depthA > depthB) return false;
  for (; depthB > depthA; --depthB) b = b->parent.get();
  for (; a != nullptr; a = a->parent.get(), b = b->parent.get()) {
    if (a == b) return true;
    if (!(a->step == b->step)) return false;
  }
  return true;
}

// What an anchor names: a node, by its path from the root, or a mapping key's text.
struct Anchor {
  bool isKey = false;
  std::string keyText;
  PathRef path;
};

struct OpenNode {
  BindingValue* value;
  bool isMap;
  // The step from the parent: an element index, or PathStep::kMember for the member whose
  // name is kept in YamlBuilder::memberNames_ at this node's depth. Unused for the root.
  size_t index;
  std::string anchor;  // empty when the node has none
  PathRef path;        // made when an anchor or alias first needs it
};

struct TreeSize {
  size_t nodes = 0;
  size_t depth = 0;  // containers nested in the deepest branch, the node's own included
};

// Counts the nodes and nesting of a tree, stopping once nodes exceeds limit. Recurses
// once per level; reader trees are at most kMaxReaderNesting deep.
void Measure(const BindingValue& value, size_t level, size_t limit, TreeSize& size) {
  if (++size.nodes > limit) return;
  if (value.kind() == BindingValueKind::Collection) {
    size.depth = std::max(size.depth, level + 1);
    for (const BindingValue& element : value.Elements()) {
      Measure(element, level + 1, limit, size);
      if (size.nodes > limit) return;
    }
  } else if (value.kind() == BindingValueKind::Structure) {
    size.depth = std::max(size.depth, level + 1);
    for (const BindingMember member : value.Members()) {
      Measure(member.value, level + 1, limit, size);
      if (size.nodes > limit) return;
    }
  }
}

// Builds the value from libyaml's events. Pointers to open nodes stay valid while they are
// open: only the innermost open node grows, and members never move.
class YamlBuilder {
 public:
  YamlBuilder(BindingResult& result, BindingValue& root, size_t textSize)
      : result_(result),
        root_(root),
        aliasBudget_(std::max(kAliasNodeFloor, textSize * kAliasNodesPerByte)) {
    open_.reserve(16);
  }

  // Handles one event; true once the stream has ended.
  bool Handle(const yaml_event_t& event) {
    switch (event.type) {
      case YAML_STREAM_END_EVENT:
        return true;
      case YAML_NO_EVENT:
      case YAML_STREAM_START_EVENT:
      case YAML_DOCUMENT_END_EVENT:
        return false;
      case YAML_DOCUMENT_START_EVENT:
        // A second document fails whatever the first held, an empty one included.
        if (inDocument_) result_.Fail("Multi-document YAML is not supported.");
        inDocument_ = true;
        return false;
      case YAML_SEQUENCE_END_EVENT:
      case YAML_MAPPING_END_EVENT:
        if (!open_.empty()) open_.pop_back();
        return false;
      default:
        break;
    }
    Settle();
    switch (event.type) {
      case YAML_SCALAR_EVENT:
        Scalar(event);
        break;
      case YAML_SEQUENCE_START_EVENT:
        Open(event, false, TextOf(event.data.sequence_start.anchor));
        break;
      case YAML_MAPPING_START_EVENT:
        Open(event, true, TextOf(event.data.mapping_start.anchor));
        break;
      case YAML_ALIAS_EVENT:
        Alias(event);
        break;
      default:
        break;
    }
    return false;
  }

 private:
  // Finds the node the next event fills: a new element of an open sequence, the member
  // named by the pending key, the root, or none when the event is a mapping's key.
  void Settle() {
    keyPosition_ = false;
    if (open_.empty()) {
      target_ = &root_;
      return;
    }
    OpenNode& top = open_.back();
    if (!top.isMap) {
      target_ = &top.value->AppendElement();
      targetIndex_ = top.value->size() - 1;
    } else if (hasPendingKey_) {
      target_ = &top.value->MemberForWriting(pendingKey_);
      targetIndex_ = PathStep::kMember;  // the step's name is pendingKey_
      hasPendingKey_ = false;
    } else {
      target_ = nullptr;
      keyPosition_ = true;
    }
  }

  // The step from the innermost open node to the target.
  PathStep TargetStep() const {
    return targetIndex_ == PathStep::kMember ? PathStep{PathStep::kMember, pendingKey_}
                                             : PathStep{targetIndex_, {}};
  }

  // The step from open node index's parent to it.
  PathStep OpenStep(size_t index) const {
    return open_[index].index == PathStep::kMember
               ? PathStep{PathStep::kMember, memberNames_[index]}
               : PathStep{open_[index].index, {}};
  }

  // The path of open node index (the root's is null), made for it and the open nodes
  // above it that lack one.
  PathRef OpenPath(size_t index) {
    size_t made = index;
    while (made > 0 && open_[made].path == nullptr) --made;
    for (size_t i = made + 1; i <= index; ++i)
      open_[i].path = Extend(open_[i - 1].path, OpenStep(i));
    return open_[index].path;
  }

  // The target's path from the root.
  PathRef TargetPath() {
    return open_.empty() ? nullptr : Extend(OpenPath(open_.size() - 1), TargetStep());
  }

  void FailAt(const char* pattern, const yaml_event_t& event) {
    result_.Fail(FormatText(pattern, event.start_mark.line + 1, event.start_mark.column + 1));
  }

  void FailNamed(const char* pattern, std::string_view name, const yaml_event_t& event) {
    result_.Fail(FormatText(pattern, name, event.start_mark.line + 1, event.start_mark.column + 1));
  }

  // Records an anchor; a name defined again means the new node from here on. An open node
  // that carried the name no longer does: an alias inside it copies the newer node.
  void AddAnchor(std::string_view name, Anchor anchor) {
    for (OpenNode& node : open_) {
      if (node.anchor == name) node.anchor.clear();
    }
    anchors_.insert_or_assign(std::string(name), std::move(anchor));
  }

  void Scalar(const yaml_event_t& event) {
    const auto& scalar = event.data.scalar;
    const char* text = reinterpret_cast<const char*>(scalar.value);
    const std::string_view view(text, scalar.length);
    const std::string_view tag = TextOf(scalar.tag);
    const std::string_view anchor = TextOf(scalar.anchor);
    if (keyPosition_) {
      if (scalar.tag != nullptr && tag != kTagStr) {
        return FailAt(
            "Invalid mapping key. Only string scalar keys are allowed. At line: %1 col: %2", event);
      }
      pendingKey_.assign(view);
      hasPendingKey_ = true;
      if (!anchor.empty()) AddAnchor(anchor, Anchor{true, pendingKey_, {}});
      return;
    }
    if (!Resolve(*target_, text, scalar.length, scalar.tag != nullptr, tag, scalar.style)) return;
    if (!anchor.empty()) AddAnchor(anchor, Anchor{false, {}, TargetPath()});
  }

  bool Resolve(BindingValue& target, const char* text, size_t length, bool tagged,
               std::string_view tag, yaml_scalar_style_t style) {
    const std::string_view view(text, length);
    if (tagged) {
      if (tag == kTagStr) {
        target.SetString(view);
      } else if (tag == kTagInt) {
        if (length > 0 && text[0] == '-') {
          int64_t value = 0;
          if (!ParseSignedText(result_, text, length, kFieldName, "int64_t",
                               std::numeric_limits<int64_t>::min(),
                               std::numeric_limits<int64_t>::max(), value)) {
            return false;
          }
          target.SetSigned(value);
        } else {
          uint64_t value = 0;
          if (!ParseUnsignedText(result_, text, length, kFieldName, "uint64_t",
                                 std::numeric_limits<uint64_t>::max(), value)) {
            return false;
          }
          target.SetUnsigned(value);
        }
      } else if (tag == kTagFloat) {
        double value = 0;
        if (!ParseFloatingText(result_, text, length, kFieldName, "double", 1.7976931348623157e308,
                               value)) {
          return false;
        }
        target.SetDouble(value);
      } else if (tag == kTagBool) {
        if (IsTrueSpelling(view)) {
          target.SetBool(true);
        } else if (IsFalseSpelling(view)) {
          target.SetBool(false);
        } else {
          target.Reset();
        }
      } else {
        result_.Fail(FormatText("Unsupported YAML tag '%1'.", tag));
        return false;
      }
      return true;
    }
    if (style == YAML_SINGLE_QUOTED_SCALAR_STYLE || style == YAML_DOUBLE_QUOTED_SCALAR_STYLE ||
        !MayBeNonText(view)) {
      target.SetString(view);
    } else if (IsNullSpelling(view)) {
      target.Reset();
    } else if (ResolveNumber(target, text, length)) {
    } else if (IsTrueSpelling(view)) {
      target.SetBool(true);
    } else if (IsFalseSpelling(view)) {
      target.SetBool(false);
    } else {
      target.SetString(view);
    }
    return true;
  }

  void Open(const yaml_event_t& event, bool isMap, std::string_view anchor) {
    if (keyPosition_) {
      return FailAt(isMap ? "Unexpected start of mapping. At line: %1 col: %2"
                          : "Unexpected start of sequence. At line: %1 col: %2",
                    event);
    }
    if (open_.size() >= kMaxReaderNesting) {
      return FailAt("Nesting is too deep. At line: %1 col: %2", event);
    }
    target_->Reset();  // a repeated key's later value replaces the earlier one
    if (isMap) {
      target_->EnsureStructure();
    } else {
      target_->EnsureCollection();
    }
    // A member's name is kept per depth, in a string whose buffer the next node opened at
    // that depth reuses.
    const size_t depth = open_.size();
    if (depth > 0 && targetIndex_ == PathStep::kMember) {
      if (memberNames_.size() <= depth) memberNames_.resize(depth + 1);
      memberNames_[depth].assign(pendingKey_);
    }
    open_.push_back({target_, isMap, depth > 0 ? targetIndex_ : 0, {}, {}});
    if (!anchor.empty()) {
      AddAnchor(anchor, Anchor{false, {}, OpenPath(open_.size() - 1)});
      open_.back().anchor.assign(anchor);
    }
  }

  const BindingValue& Walk(const PathRef& path) const {
    std::vector<const PathStep*> steps(DepthOf(path));
    size_t i = steps.size();
    for (const PathNode* n = path.get(); n != nullptr; n = n->parent.get()) steps[--i] = &n->step;
    const BindingValue* node = &root_;
    for (const PathStep* s : steps) {
      const PathStep& step = *s;
      node =
          step.index == PathStep::kMember ? &node->Member(step.name) : &node->Element(step.index);
    }
    return *node;
  }

  void Alias(const yaml_event_t& event) {
    const std::string_view name = TextOf(event.data.alias.anchor);
    const char* const kCyclic =
        "Cannot deserialize cyclic aliases. Alias \"%1\". At line: %2 col: %3";
    for (const OpenNode& node : open_) {
      if (node.anchor == name) return FailNamed(kCyclic, name, event);
    }
    const auto it = anchors_.find(std::string(name));
    if (it == anchors_.end()) {
      return FailNamed("Undefined alias encountered: \"%1\". At line: %2 col: %3", name, event);
    }
    const Anchor& anchor = it->second;
    if (keyPosition_) {
      // An alias as a mapping key stands for the text of an anchored key or string.
      const BindingValue* node = anchor.isKey ? nullptr : &Walk(anchor.path);
      if (node != nullptr && node->kind() != BindingValueKind::String) {
        return FailAt(
            "Invalid mapping key. Only string scalar keys are allowed. At line: %1 col: %2", event);
      }
      pendingKey_.assign(node != nullptr ? node->AsString() : std::string_view(anchor.keyText));
      hasPendingKey_ = true;
      return;
    }
    if (anchor.isKey) {
      if (!Spend(1, name, event)) return;
      target_->SetString(anchor.keyText);
      return;
    }
    // A node that encloses the target is still being built (its path was taken over by a
    // repeated key): copying it into itself is a cycle too.
    const PathRef target = TargetPath();
    if (DepthOf(anchor.path) < DepthOf(target) && IsPrefix(anchor.path.get(), target.get())) {
      return FailNamed(kCyclic, name, event);
    }
    const BindingValue& source = Walk(anchor.path);
    TreeSize size;
    Measure(source, 0, aliasBudget_ - aliasNodes_, size);
    if (!Spend(size.nodes, name, event)) return;
    if (open_.size() + size.depth > kMaxReaderNesting) {
      return FailAt("Nesting is too deep. At line: %1 col: %2", event);
    }
    *target_ = source;
  }

  bool Spend(size_t nodes, std::string_view name, const yaml_event_t& event) {
    if (nodes > aliasBudget_ - aliasNodes_) {
      FailNamed("Alias expansion limit exceeded. Alias \"%1\". At line: %2 col: %3", name, event);
      return false;
    }
    aliasNodes_ += nodes;
    return true;
  }

  BindingResult& result_;
  BindingValue& root_;
  std::vector<OpenNode> open_;
  std::vector<std::string> memberNames_;  // see OpenNode::index
  std::unordered_map<std::string, Anchor> anchors_;
  std::string pendingKey_;
  bool hasPendingKey_ = false;
  // The node the current event fills (null in key position) and its index in the open
  // sequence, or PathStep::kMember when it is the member named pendingKey_.
  BindingValue* target_ = nullptr;
  size_t targetIndex_ = PathStep::kMember;
  bool keyPosition_ = false;
  const size_t aliasBudget_;
  size_t aliasNodes_ = 0;
  bool inDocument_ = false;  // a document has started
};

// libyaml's parser and one event, released however the read ends.
struct Parser {
  yaml_parser_t parser;
  yaml_event_t event{};
  bool initialized = false;
  Parser() { initialized = yaml_parser_initialize(&parser) != 0; }
  ~Parser() {
    yaml_event_delete(&event);
    if (initialized) yaml_parser_delete(&parser);
  }
  Parser(const Parser&) = delete;
  Parser& operator=(const Parser&) = delete;
};

void FailParser(BindingResult& result, const yaml_parser_t& parser) {
  result.Fail(FormatText("YAML parser error: %1. At line: %2 col: %3",
                         parser.problem != nullptr ? parser.problem : "out of memory",
                         parser.problem_mark.line, parser.problem_mark.column));
}

}  // namespace

void ReadYaml(BindingResult& result, std::string_view text) {
  if (!result.ok()) return;
  Parser p;
  if (!p.initialized) return FailParser(result, p.parser);
  yaml_parser_set_encoding(&p.parser, YAML_UTF8_ENCODING);
  // libyaml insists on a non-null input, even an empty one.
  const char* input = text.data() != nullptr ? text.data() : "";
  yaml_parser_set_input_string(&p.parser, reinterpret_cast<const unsigned char*>(input),
                               text.size());
  BindingValue value;
  try {
    YamlBuilder builder(result, value, text.size());
    bool ended = false;
    while (!ended && result.ok()) {
      if (yaml_parser_parse(&p.parser, &p.event) == 0) break;
      ended = builder.Handle(p.event);
      yaml_event_delete(&p.event);
    }
  } catch (const std::bad_alloc&) {
    return result.Fail("Out of memory while reading YAML.");
  } catch (const std::length_error& e) {
    return result.Fail(e.what());
  }
  if (result.ok() && p.parser.error != YAML_NO_ERROR) return FailParser(result, p.parser);
  if (result.ok()) result.value() = std::move(value);
}

}  // namespace mau
