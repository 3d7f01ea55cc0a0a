// The reader's pass over the input: groups, control symbols, control words read and their
// parameters, plain bytes by destination.
#include "formats/rtf/Parser.h"

#include <algorithm>
#include <cstdint>
#include <string_view>

namespace kv::rtf::detail {

namespace {

bool IsLetter(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}
bool IsDigit(char c) {
  return c >= '0' && c <= '9';
}

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

}  // namespace

Document Parser::Parse() {
  stack_.push_back(GroupState{});  // text before any brace still reads, as a header-less file
  SkipPreamble();
  while (pos_ < in_.size() && !finished_) {
    const char c = in_[pos_++];
    switch (c) {
      case '{':
        OpenGroup();
        break;
      case '}':
        CloseGroup();
        break;
      case '\\':
        ControlSequence();
        break;
      case '\r':
      case '\n':
        break;
      default:
        PlainCharacter(static_cast<std::uint8_t>(c));
        break;
    }
  }
  EndParagraph();
  return std::move(document_);
}

// A byte-order mark or blank lines that an editor put before the document are not its text.
void Parser::SkipPreamble() {
  std::size_t start = in_.starts_with("\xEF\xBB\xBF") ? 3 : 0;
  while (start < in_.size() &&
         (in_[start] == ' ' || in_[start] == '\t' || in_[start] == '\r' || in_[start] == '\n')) {
    ++start;
  }
  if (start < in_.size() && in_[start] == '{') pos_ = start;
}

void Parser::OpenGroup() {
  pendingSkip_ = 0;  // a group brace ends the replacement text of a \u
  if (stack_.size() >= kMaxDepth) {
    ++overflow_;
    return;
  }
  stack_.push_back(stack_.back());
}

void Parser::CloseGroup() {
  pendingSkip_ = 0;
  if (overflow_ > 0) {
    --overflow_;
    return;
  }
  if (stack_.size() == 1) return;  // a stray brace outside the document
  // The last entry of a table may lack its semicolon.
  if (Top().destination == Destination::FontTable) CommitFont();
  if (Top().destination == Destination::ColourTable && colourGiven_) CommitColour();
  // The document ends with its outermost group, as word processors read it; what follows
  // (WordPad's trailing null, junk) is not text. The group's state stays for the last paragraph.
  if (stack_.size() == 2) {
    finished_ = true;
    return;
  }
  stack_.pop_back();
}

void Parser::ControlSequence() {
  if (pos_ >= in_.size()) return;
  if (!IsLetter(in_[pos_])) {
    ControlSymbol(in_[pos_++]);
    return;
  }
  const std::size_t start = pos_;
  while (pos_ < in_.size() && IsLetter(in_[pos_])) ++pos_;
  // Longer words are damage: they match nothing but still end where their letters end.
  const std::string_view word = in_.substr(start, std::min(pos_ - start, kMaxWordLength + 1));
  bool hasParam = false;
  long long value = 0;
  bool negative = false;
  if (pos_ + 1 < in_.size() && in_[pos_] == '-' && IsDigit(in_[pos_ + 1])) {
    negative = true;
    ++pos_;
  }
  while (pos_ < in_.size() && IsDigit(in_[pos_])) {
    hasParam = true;
    value = std::min(value * 10 + (in_[pos_] - '0'), 1LL << 31);
    ++pos_;
  }
  if (pos_ < in_.size() && in_[pos_] == ' ') ++pos_;
  value = negative ? -value : value;
  const int param = static_cast<int>(std::clamp<long long>(value, INT32_MIN, INT32_MAX));
  ControlWord(word, hasParam, param);
}

void Parser::ControlSymbol(char c) {
  if (c == '\'') {
    int byte = -1;
    if (pos_ + 1 < in_.size() && HexValue(in_[pos_]) >= 0 && HexValue(in_[pos_ + 1]) >= 0) {
      byte = HexValue(in_[pos_]) * 16 + HexValue(in_[pos_ + 1]);
      pos_ += 2;
    } else if (pos_ < in_.size() && HexValue(in_[pos_]) >= 0) {
      ++pos_;  // half an escape: dropped
    }
    if (ConsumesPendingSkip() || byte < 0) return;
    EscapedByte(static_cast<std::uint8_t>(byte));
    return;
  }
  if (ConsumesPendingSkip()) return;
  switch (c) {
    case '\\':
    case '{':
    case '}':
      Emit(static_cast<char16_t>(c));
      break;
    case '~':
      Emit(u'\u00A0');
      break;
    case '-':
      Emit(u'\u00AD');
      break;
    case '_':
      Emit(u'\u2011');
      break;
    case '*':
      Top().destination = Destination::Skip;
      break;
    case '\r':
    case '\n':
      if (Top().destination == Destination::Text) EndParagraph();
      break;
    case '\t':
      if (Top().destination == Destination::Text) AppendUnit(u'\t');
      break;
    default:
      break;  // \: \| and unknown symbols
  }
}

// After \uN, the next \uc characters are the replacement for readers without Unicode.
bool Parser::ConsumesPendingSkip() {
  if (pendingSkip_ == 0) return false;
  --pendingSkip_;
  return true;
}

void Parser::PlainCharacter(std::uint8_t b) {
  if (ConsumesPendingSkip()) return;
  switch (Top().destination) {
    case Destination::Skip:
      return;
    case Destination::FontTable:
      if (b == ';') {
        CommitFont();
      } else {
        EscapedByte(b);
      }
      return;
    case Destination::ColourTable:
      if (b == ';') CommitColour();
      return;
    case Destination::Text:
      if (b == '\t') {
        AppendUnit(u'\t');
      } else {
        EscapedByte(b);
      }
      return;
  }
}

}  // namespace kv::rtf::detail
