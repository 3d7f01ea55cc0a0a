#include "db/IBCommon.h"

#include <vector>

#include "platform/Errors.h"

namespace kv {

namespace {

// The text seen as characters: the byte offset where each character starts, and the end. The
// bytes that continue a UTF-8 sequence belong to its lead byte, so a cut never splits one; a byte
// that continues nothing (malformed text) is a character of its own, so no byte is ever glued to
// a separator and lost with it.
class Characters {
 public:
  explicit Characters(const std::string& text) : text_(text) {
    for (std::size_t i = 0; i < text.size();) {
      starts_.push_back(i);
      const auto lead = static_cast<unsigned char>(text[i]);
      const std::size_t length = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 1;
      std::size_t next = i + 1;
      while (next < text.size() && next < i + length &&
             (static_cast<unsigned char>(text[next]) & 0xC0) == 0x80)
        ++next;
      i = next;
    }
    starts_.push_back(text.size());
  }

  std::size_t Length() const { return starts_.size() - 1; }

  // The 1-based character position of the first occurrence of an ASCII pattern, 0 when absent.
  std::size_t Pos(const std::string& pattern) const {
    const std::size_t byte = text_.find(pattern);
    if (byte == std::string::npos) return 0;
    std::size_t index = 0;
    while (starts_[index] < byte) ++index;
    return index + 1;
  }

  // At most `count` characters from the 1-based position `index`; empty past the end.
  std::string Copy(std::size_t index, std::size_t count) const {
    if (index < 1 || index > Length() || count == 0) return {};
    const std::size_t first = index - 1;
    const std::size_t last = first + count < Length() ? first + count : Length();
    return text_.substr(starts_[first], starts_[last] - starts_[first]);
  }

 private:
  const std::string& text_;
  std::vector<std::size_t> starts_;
};

}  // namespace

TConnectionType GetConnectionType(const std::string& text) {
  if (text.empty()) return ibctTCPIP;
  const Characters chars(text);
  const std::size_t a = chars.Pos(":/");
  const std::size_t b = chars.Pos("\\\\");
  const std::size_t c = chars.Pos("@");
  const std::size_t d = chars.Pos(":");
  const std::size_t e = chars.Pos(":\\");
  if (a > 0) return ibctUNIX;
  if (b > 0) return ibctNetBEUI;
  if (c > 0) return ibctNetWare;
  if (d >= 1 && e >= 1 && e == d + 2) return ibctTCPIP;
  if (e == 2) return ibctLocal;
  return ibctUnknown;
}

void SplitConnectionString(const std::string& text, std::string& server, std::string& path) {
  switch (GetConnectionType(text)) {
    case ibctLocal:
      server.clear();
      path = text;
      return;
    case ibctTCPIP: {
      const Characters chars(text);
      const std::size_t p = chars.Pos(":");
      server = p > 1 ? chars.Copy(1, p - 1) : std::string();
      path = chars.Copy(p + 1, kMaxDatabasePathLength);
      return;
    }
    case ibctNetBEUI: {
      const std::string remainder = Characters(text).Copy(3, kMaxDatabasePathLength);
      const Characters chars(remainder);
      const std::size_t q = chars.Pos("\\");
      // A remainder without a backslash names the server alone.
      if (q == 0) {
        server = "\\\\" + remainder;
        path.clear();
        return;
      }
      server = "\\\\" + chars.Copy(1, q - 1);
      path = chars.Copy(q + 1, kMaxDatabasePathLength);
      return;
    }
    default:
      throw Error("error 0203130939");
  }
}

}  // namespace kv
