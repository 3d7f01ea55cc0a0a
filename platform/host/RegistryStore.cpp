#include "platform/host/RegistryStore.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <mutex>
#include <utility>

#include "formats/Text.h"
#include "platform/host/Prefix.h"

namespace kv::host {

namespace fs = std::filesystem;
using win::DWORD;

namespace {

constexpr std::string_view kHeader = "Windows Registry Editor Version 5.00";
constexpr std::string_view kHeaderRegedit4 = "REGEDIT4";
// Regedit breaks a hex line once it reaches this many characters.
constexpr std::size_t kHexLineLimit = 77;

// ---------------------------------------------------------------------------------------------
// Paths

struct RootName {
  std::string_view full;
  std::string_view brief;
  RegistryRoot root;
};
constexpr std::array<RootName, 3> kRootNames = {{
    {"HKEY_CURRENT_USER", "HKCU", RegistryRoot::kCurrentUser},
    {"HKEY_LOCAL_MACHINE", "HKLM", RegistryRoot::kLocalMachine},
    {"HKEY_USERS", "HKU", RegistryRoot::kUsers},
}};

std::vector<std::string> SplitKeyNames(std::string_view path) {
  std::vector<std::string> names;
  for (std::string& part : text::Split(path, '\\')) {
    if (!part.empty()) names.push_back(std::move(part));
  }
  return names;
}

RegistryPath ClassesRoot() {
  return {RegistryRoot::kLocalMachine, {"SOFTWARE", "Classes"}};
}

std::size_t RootIndex(RegistryRoot root) {
  return static_cast<std::size_t>(root);
}

// ---------------------------------------------------------------------------------------------
// Small helpers of the text format

bool IsBlankOrComment(std::string_view rest) {
  for (char c : rest) {
    if (c == ';') return true;
    if (c != ' ' && c != '\t') return false;
  }
  return true;
}

std::string_view TrimLeft(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  return s;
}

std::string_view TrimRight(std::string_view s) {
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r')) s.remove_suffix(1);
  return s;
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

std::optional<std::uint32_t> ParseHexNumber(std::string_view s) {
  if (s.empty() || s.size() > 8) return std::nullopt;
  std::uint32_t value = 0;
  for (char c : s) {
    const int d = HexDigit(c);
    if (d < 0) return std::nullopt;
    value = value * 16 + static_cast<std::uint32_t>(d);
  }
  return value;
}

const char* kHexDigits = "0123456789abcdef";

void AppendHexByte(std::string& out, std::uint8_t b) {
  out += kHexDigits[b >> 4];
  out += kHexDigits[b & 0x0F];
}

std::string HexNumber(std::uint32_t value, int minDigits) {
  std::string digits;
  do {
    digits.insert(digits.begin(), kHexDigits[value & 0x0F]);
    value >>= 4;
  } while (value != 0);
  while (static_cast<int>(digits.size()) < minDigits) digits.insert(digits.begin(), '0');
  return digits;
}

std::string EscapeString(std::string_view s) {
  std::string out;
  out.reserve(s.size() + 2);
  for (char c : s) {
    if (c == '\\' || c == '"') out += '\\';
    out += c;
  }
  return out;
}

std::size_t CodePointCount(std::string_view utf8) {
  return static_cast<std::size_t>(std::count_if(
      utf8.begin(), utf8.end(), [](char c) { return (static_cast<unsigned char>(c) & 0xC0) != 0x80; }));
}

bool IsValidUtf8(std::string_view s) {
  for (std::size_t i = 0; i < s.size();) {
    const auto b = static_cast<unsigned char>(s[i]);
    std::size_t length = 0;
    if (b < 0x80) {
      length = 1;
    } else if ((b & 0xE0) == 0xC0 && b >= 0xC2) {
      length = 2;
    } else if ((b & 0xF0) == 0xE0) {
      length = 3;
    } else if ((b & 0xF8) == 0xF0 && b <= 0xF4) {
      length = 4;
    } else {
      return false;
    }
    if (i + length > s.size()) return false;
    for (std::size_t k = 1; k < length; ++k) {
      if ((static_cast<unsigned char>(s[i + k]) & 0xC0) != 0x80) return false;
    }
    i += length;
  }
  return true;
}

// The text of a REG_SZ value when regedit's quoted form carries it exactly: one terminating null,
// no other null, no line break, nothing lost through UTF-8.
std::optional<std::string> QuotableString(const win::RegValue& value) {
  const auto& data = value.data;
  if (value.type != win::REG_SZ || data.size() < 2 || data.size() % 2 != 0) return std::nullopt;
  if (data[data.size() - 1] != 0 || data[data.size() - 2] != 0) return std::nullopt;
  for (std::size_t i = 0; i + 2 < data.size(); i += 2) {
    if (data[i] == 0 && data[i + 1] == 0) return std::nullopt;
  }
  std::string utf8 = text::Utf16LeBytesToUtf8(data.data(), data.size() - 2);
  if (utf8.find_first_of("\r\n") != std::string::npos) return std::nullopt;
  const auto back = text::Utf8ToUtf16LeBytes(utf8);
  if (back.size() != data.size() - 2 || !std::equal(back.begin(), back.end(), data.begin()))
    return std::nullopt;
  return utf8;
}

// ---------------------------------------------------------------------------------------------
// Parser

class RegParser {
 public:
  explicit RegParser(std::string_view bytes) { Decode(bytes); }

  RegFile Parse() {
    std::vector<std::string_view> lines;
    std::string_view rest = text_;
    while (!rest.empty()) {
      const auto end = rest.find('\n');
      lines.push_back(TrimRight(rest.substr(0, end)));
      rest = end == std::string_view::npos ? std::string_view() : rest.substr(end + 1);
    }
    const std::string header = lines.empty() ? std::string() : text::Trim(lines[0]);
    if (header == kHeaderRegedit4) {
      regedit4_ = true;
    } else if (header != kHeader) {
      throw RegistryFormatError(1, "en-tête \"" + std::string(kHeader) + "\" ou \"REGEDIT4\" attendu");
    }
    for (std::size_t i = 1; i < lines.size(); ++i) {
      const std::size_t lineNumber = i + 1;
      const std::string_view line = TrimLeft(lines[i]);
      if (line.empty() || line.front() == ';') continue;
      if (line.front() == '[') {
        ParseSection(line, lineNumber);
      } else if (line.front() == '"' || line.front() == '@') {
        std::string logical(line);
        // Long hex data goes on over the following lines, each after a trailing backslash.
        while (!logical.empty() && logical.back() == '\\' && i + 1 < lines.size()) {
          const std::string_view next = TrimLeft(lines[i + 1]);
          ++i;
          if (!next.empty() && next.front() == ';') continue;
          logical.pop_back();
          logical += next;
        }
        ParseValue(logical, lineNumber);
      } else {
        throw RegistryFormatError(lineNumber, "ligne inattendue : " + std::string(line));
      }
    }
    return std::move(result_);
  }

 private:
  void Decode(std::string_view bytes) {
    auto& format = result_.format;
    if (bytes.size() >= 2 && static_cast<unsigned char>(bytes[0]) == 0xFF &&
        static_cast<unsigned char>(bytes[1]) == 0xFE) {
      format.encoding = RegTextEncoding::kUtf16LeBom;
      text_ =
          text::Utf16LeBytesToUtf8(reinterpret_cast<const std::uint8_t*>(bytes.data()) + 2, bytes.size() - 2);
    } else {
      format.encoding = RegTextEncoding::kUtf8;
      if (bytes.size() >= 3 && bytes.substr(0, 3) == "\xEF\xBB\xBF") {
        format.encoding = RegTextEncoding::kUtf8Bom;
        bytes.remove_prefix(3);
      }
      // Files written by hand in the Windows code page still read as their author meant them.
      text_ = IsValidUtf8(bytes) ? std::string(bytes) : text::Cp1252ToUtf8(bytes);
    }
    const bool anyLineEnd = text_.find('\n') != std::string::npos;
    format.crlf = anyLineEnd ? text_.find("\r\n") != std::string::npos
                             : format.encoding == RegTextEncoding::kUtf16LeBom;
  }

  RegistryPath KeyPath(std::string_view text, std::size_t lineNumber) const {
    const auto path = ParseRegistryPath(text);
    if (!path) throw RegistryFormatError(lineNumber, "racine de registre inconnue : " + std::string(text));
    return *path;
  }

  void ParseSection(std::string_view line, std::size_t lineNumber) {
    // The section ends at the first ']' followed by nothing but a comment (key names may hold ']').
    auto close = line.find(']');
    while (close != std::string_view::npos && !IsBlankOrComment(line.substr(close + 1))) {
      close = line.find(']', close + 1);
    }
    if (close == std::string_view::npos) {
      throw RegistryFormatError(lineNumber, "section mal formée : " + std::string(line));
    }
    std::string_view name = line.substr(1, close - 1);
    RegFileOperation op;
    if (!name.empty() && name.front() == '-') {
      op.kind = RegFileOperation::Kind::kDeleteKey;
      op.key = KeyPath(name.substr(1), lineNumber);
      if (op.key.keys.empty()) {
        throw RegistryFormatError(lineNumber, "une racine ne peut pas être supprimée : " + std::string(name));
      }
      // The values regedit finds under a deleted key go nowhere.
      current_.reset();
    } else {
      op.kind = RegFileOperation::Kind::kCreateKey;
      op.key = KeyPath(name, lineNumber);
      current_ = op.key;
    }
    seenSection_ = true;
    result_.operations.push_back(std::move(op));
  }

  // A quoted string starting at s[pos] == '"'; pos ends after the closing quote.
  static std::optional<std::string> QuotedString(std::string_view s, std::size_t& pos) {
    std::string out;
    for (++pos; pos < s.size(); ++pos) {
      const char c = s[pos];
      if (c == '"') {
        ++pos;
        return out;
      }
      if (c == '\\' && pos + 1 < s.size() && (s[pos + 1] == '\\' || s[pos + 1] == '"')) ++pos;
      out += s[pos];
    }
    return std::nullopt;
  }

  void ParseValue(std::string_view line, std::size_t lineNumber) {
    const auto fail = [&](const std::string& what) {
      throw RegistryFormatError(lineNumber, what + " : " + std::string(line));
    };
    if (!seenSection_) fail("valeur hors de toute clé");
    std::size_t pos = 0;
    RegFileOperation op;
    if (line[0] == '@') {
      pos = 1;
    } else {
      auto name = QuotedString(line, pos);
      if (!name) fail("nom de valeur non terminé");
      op.valueName = std::move(*name);
    }
    std::string_view rest = TrimLeft(line.substr(pos));
    if (rest.empty() || rest.front() != '=') fail("'=' attendu");
    rest = TrimLeft(rest.substr(1));
    if (!current_) return;
    op.key = *current_;

    if (!rest.empty() && rest.front() == '-') {
      if (!IsBlankOrComment(rest.substr(1))) fail("suppression mal formée");
      op.kind = RegFileOperation::Kind::kDeleteValue;
    } else if (!rest.empty() && rest.front() == '"') {
      std::size_t end = 0;
      auto textValue = QuotedString(rest, end);
      if (!textValue || !IsBlankOrComment(rest.substr(end))) fail("chaîne mal formée");
      op.kind = RegFileOperation::Kind::kSetValue;
      op.value = win::RegValue::String(*textValue);
    } else if (text::IStartsWith(rest, "dword:")) {
      rest.remove_prefix(6);
      const auto semicolon = rest.find(';');
      const auto number = ParseHexNumber(text::Trim(rest.substr(0, semicolon)));
      if (!number) fail("nombre dword mal formé");
      op.kind = RegFileOperation::Kind::kSetValue;
      op.value = win::RegValue::Dword(*number);
    } else if (text::IStartsWith(rest, "hex")) {
      rest.remove_prefix(3);
      DWORD type = win::REG_BINARY;
      if (!rest.empty() && rest.front() == '(') {
        const auto close = rest.find(')');
        const auto number =
            close == std::string_view::npos ? std::nullopt : ParseHexNumber(rest.substr(1, close - 1));
        if (!number) fail("type hex(N) mal formé");
        type = *number;
        rest.remove_prefix(close + 1);
      }
      if (rest.empty() || rest.front() != ':') fail("':' attendu après hex");
      op.kind = RegFileOperation::Kind::kSetValue;
      op.value.type = type;
      op.value.data = HexBytes(rest.substr(1), fail);
      if (regedit4_ && (type == win::REG_SZ || type == win::REG_EXPAND_SZ || type == win::REG_MULTI_SZ)) {
        // REGEDIT4 files hold these strings in the Windows code page, one byte a character.
        const std::string bytes(op.value.data.begin(), op.value.data.end());
        op.value.data = text::Utf8ToUtf16LeBytes(text::Cp1252ToUtf8(bytes));
      }
    } else {
      fail("donnée de valeur non reconnue");
    }
    result_.operations.push_back(std::move(op));
  }

  template <typename Fail>
  static std::vector<std::uint8_t> HexBytes(std::string_view s, const Fail& fail) {
    s = s.substr(0, s.find(';'));
    std::vector<std::uint8_t> bytes;
    if (text::Trim(s).empty()) return bytes;
    const auto tokens = text::Split(s, ',');
    for (std::size_t i = 0; i < tokens.size(); ++i) {
      const std::string token = text::Trim(tokens[i]);
      if (token.empty() && i + 1 == tokens.size()) break;  // a trailing comma
      const auto number = token.size() <= 2 ? ParseHexNumber(token) : std::nullopt;
      if (!number) fail("octet hexadécimal mal formé \"" + token + "\"");
      bytes.push_back(static_cast<std::uint8_t>(*number));
    }
    return bytes;
  }

  std::string text_;
  RegFile result_;
  bool regedit4_ = false;
  bool seenSection_ = false;
  std::optional<RegistryPath> current_;
};

// ---------------------------------------------------------------------------------------------
// Writer

void AppendSection(std::string& out, const std::string& path, const RegistryKeyNode& key) {
  out += '[';
  out += path;
  out += "]\n";
  for (const auto& entry : key.Values()) {
    out += FormatRegValue(entry.name, entry.value);
    out += '\n';
  }
  out += '\n';
}

void AppendSubKeys(std::string& out, const std::string& path, const RegistryKeyNode& key) {
  for (const auto& sub : key.SubKeys()) {
    const std::string subPath = path + "\\" + sub.Name();
    AppendSection(out, subPath, sub);
    AppendSubKeys(out, subPath, sub);
  }
}

// ---------------------------------------------------------------------------------------------
// Files

[[noreturn]] void ThrowErrno(const std::string& what, const fs::path& path, int err) {
  throw SystemError(WindowsErrorFromErrno(err), what + " " + path.string() + " : " + std::strerror(err));
}

class UniqueFd {
 public:
  explicit UniqueFd(int fd = -1) : fd_(fd) {}
  UniqueFd(const UniqueFd&) = delete;
  UniqueFd& operator=(const UniqueFd&) = delete;
  ~UniqueFd() {
    if (fd_ >= 0) ::close(fd_);
  }
  int get() const { return fd_; }
  int release() { return std::exchange(fd_, -1); }

 private:
  int fd_;
};

// An exclusive flock for the writer's whole read-change-write.
class ExclusiveLock {
 public:
  explicit ExclusiveLock(const fs::path& lockFile)
      : fd_(::open(lockFile.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666)) {
    if (fd_.get() < 0) ThrowErrno("Verrouillage du registre impossible :", lockFile, errno);
    while (::flock(fd_.get(), LOCK_EX) != 0) {
      if (errno != EINTR) ThrowErrno("Verrouillage du registre impossible :", lockFile, errno);
    }
  }
  ExclusiveLock(const ExclusiveLock&) = delete;
  ExclusiveLock& operator=(const ExclusiveLock&) = delete;
  ~ExclusiveLock() { ::flock(fd_.get(), LOCK_UN); }

 private:
  UniqueFd fd_;
};

// The file's bytes; nullopt when it does not exist.
std::optional<std::string> ReadWholeFile(const fs::path& path) {
  UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (fd.get() < 0) {
    if (errno == ENOENT) return std::nullopt;
    ThrowErrno("Lecture du registre impossible :", path, errno);
  }
  std::string bytes;
  char buffer[65536];
  for (;;) {
    const ssize_t n = ::read(fd.get(), buffer, sizeof buffer);
    if (n == 0) break;
    if (n < 0) {
      if (errno == EINTR) continue;
      ThrowErrno("Lecture du registre impossible :", path, errno);
    }
    bytes.append(buffer, static_cast<std::size_t>(n));
  }
  return bytes;
}

// Writes a sibling temporary file, flushes it to disk and renames it over the target, so the
// target always holds either the old or the new content in full.
void ReplaceFile(const fs::path& target, const std::string& bytes, mode_t mode) {
  std::string temp = target.string() + ".XXXXXX";
  UniqueFd fd(::mkostemp(temp.data(), O_CLOEXEC));
  if (fd.get() < 0) ThrowErrno("Écriture du registre impossible :", target, errno);
  struct TempGuard {
    const std::string& path;
    bool keep = false;
    ~TempGuard() {
      if (!keep) ::unlink(path.c_str());
    }
  } guard{temp};
  if (::fchmod(fd.get(), mode) != 0) ThrowErrno("Écriture du registre impossible :", temp, errno);
  for (std::size_t done = 0; done < bytes.size();) {
    const ssize_t n = ::write(fd.get(), bytes.data() + done, bytes.size() - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      ThrowErrno("Écriture du registre impossible :", temp, errno);
    }
    done += static_cast<std::size_t>(n);
  }
  if (::fsync(fd.get()) != 0) ThrowErrno("Écriture du registre impossible :", temp, errno);
  if (::close(fd.release()) != 0) ThrowErrno("Écriture du registre impossible :", temp, errno);
  if (::rename(temp.c_str(), target.c_str()) != 0)
    ThrowErrno("Écriture du registre impossible :", target, errno);
  guard.keep = true;
  // The rename itself reaches the disk with the folder.
  UniqueFd dir(::open(target.parent_path().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (dir.get() >= 0) ::fsync(dir.get());
}

struct ParsedFile {
  RegistryTree tree;
  RegTextFormat format;
  bool exists = false;
};

ParsedFile ParseFileBytes(const fs::path& file, const std::string& bytes) {
  ParsedFile parsed;
  parsed.exists = true;
  std::string_view body = bytes;
  if (body.size() >= 2 && body.substr(0, 2) == "\xFF\xFE") {
    body.remove_prefix(2);
  } else if (body.size() >= 3 && body.substr(0, 3) == "\xEF\xBB\xBF") {
    parsed.format.encoding = RegTextEncoding::kUtf8Bom;
    body.remove_prefix(3);
  } else if (!bytes.empty()) {
    parsed.format.encoding = RegTextEncoding::kUtf8;
  }
  // A file created empty (or holding only its byte-order mark) is an empty registry.
  if (body.find_first_not_of(std::string_view("\0 \t\r\n", 5)) == std::string_view::npos) {
    parsed.format.crlf =
        parsed.format.encoding == RegTextEncoding::kUtf16LeBom || body.find("\r\n") != std::string_view::npos;
    return parsed;
  }
  try {
    RegFile regFile = ParseRegFile(bytes);
    parsed.format = regFile.format;
    for (const auto& op : regFile.operations) parsed.tree.Apply(op);
  } catch (const RegistryFormatError& e) {
    throw SystemError(win::ERROR_BADDB, "Registre illisible " + file.string() + ", " + e.what());
  }
  return parsed;
}

// The last file read or written in this process, kept while its bytes stay the same. Comparing the
// bytes, not times or inode numbers, cannot be fooled by a coarse clock or a reused inode.
struct Cache {
  std::mutex mutex;
  fs::path file;
  std::string bytes;
  std::shared_ptr<const ParsedFile> parsed;
};

Cache& TheCache() {
  static Cache cache;
  return cache;
}

std::shared_ptr<const ParsedFile> Load(const fs::path& file) {
  const auto bytes = ReadWholeFile(file);
  if (!bytes) return std::make_shared<const ParsedFile>();
  Cache& cache = TheCache();
  {
    std::lock_guard lock(cache.mutex);
    if (cache.parsed && cache.file == file && cache.bytes == *bytes) return cache.parsed;
  }
  auto parsed = std::make_shared<const ParsedFile>(ParseFileBytes(file, *bytes));
  std::lock_guard lock(cache.mutex);
  cache.file = file;
  cache.bytes = *bytes;
  cache.parsed = parsed;
  return parsed;
}

void Remember(const fs::path& file, std::string bytes, std::shared_ptr<const ParsedFile> parsed) {
  Cache& cache = TheCache();
  std::lock_guard lock(cache.mutex);
  cache.file = file;
  cache.bytes = std::move(bytes);
  cache.parsed = std::move(parsed);
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// Paths

std::optional<RegistryPath> ParseRegistryPath(std::string_view text) {
  // Only blanks before the root go: a key name may end with blanks, as Windows allows, and the file
  // written with such a name must read back the same.
  std::vector<std::string> names = SplitKeyNames(TrimLeft(text));
  if (names.empty()) return std::nullopt;
  const std::string& rootName = names.front();
  RegistryPath path;
  if (text::IEquals(rootName, "HKEY_CLASSES_ROOT") || text::IEquals(rootName, "HKCR")) {
    path = ClassesRoot();
  } else {
    const auto it = std::find_if(kRootNames.begin(), kRootNames.end(), [&](const RootName& r) {
      return text::IEquals(rootName, r.full) || text::IEquals(rootName, r.brief);
    });
    if (it == kRootNames.end()) return std::nullopt;
    path.root = it->root;
  }
  path.keys.insert(path.keys.end(), std::make_move_iterator(names.begin() + 1),
                   std::make_move_iterator(names.end()));
  return path;
}

std::optional<RegistryPath> ResolveRegistryPath(win::HKEY root, std::string_view subPath) {
  RegistryPath path;
  switch (root) {
    case win::HKEY_CLASSES_ROOT:
      path = ClassesRoot();
      break;
    case win::HKEY_CURRENT_USER:
      path.root = RegistryRoot::kCurrentUser;
      break;
    case win::HKEY_LOCAL_MACHINE:
      path.root = RegistryRoot::kLocalMachine;
      break;
    case win::HKEY_USERS:
      path.root = RegistryRoot::kUsers;
      break;
    default:
      return std::nullopt;
  }
  for (std::string& name : SplitKeyNames(subPath)) path.keys.push_back(std::move(name));
  return path;
}

std::string RegistryRootName(RegistryRoot root) {
  return std::string(kRootNames[RootIndex(root)].full);
}

std::string RegistryPathText(const RegistryPath& path) {
  std::string out = RegistryRootName(path.root);
  for (const auto& name : path.keys) {
    out += '\\';
    out += name;
  }
  return out;
}

bool IsSameOrBelow(const RegistryPath& path, const RegistryPath& base) {
  if (path.root != base.root || path.keys.size() < base.keys.size()) return false;
  return std::equal(base.keys.begin(), base.keys.end(), path.keys.begin(),
                    [](const std::string& a, const std::string& b) { return text::IEquals(a, b); });
}

// ---------------------------------------------------------------------------------------------
// Tree

RegistryKeyNode::RegistryKeyNode(std::string name) : name_(std::move(name)), folded_(text::ToUpper(name_)) {}

const RegistryValueEntry* RegistryKeyNode::FindValue(std::string_view name) const {
  const auto it = std::find_if(values_.begin(), values_.end(),
                               [&](const RegistryValueEntry& e) { return text::IEquals(e.name, name); });
  return it == values_.end() ? nullptr : &*it;
}

void RegistryKeyNode::SetValue(std::string_view name, win::RegValue value) {
  if (auto* existing = const_cast<RegistryValueEntry*>(FindValue(name))) {
    existing->value = std::move(value);
    return;
  }
  values_.push_back(RegistryValueEntry{std::string(name), std::move(value)});
}

bool RegistryKeyNode::EraseValue(std::string_view name) {
  const auto it = std::find_if(values_.begin(), values_.end(),
                               [&](const RegistryValueEntry& e) { return text::IEquals(e.name, name); });
  if (it == values_.end()) return false;
  values_.erase(it);
  return true;
}

std::vector<RegistryKeyNode>::iterator RegistryKeyNode::LowerBound(const std::string& folded) {
  return std::lower_bound(subKeys_.begin(), subKeys_.end(), folded,
                          [](const RegistryKeyNode& key, const std::string& f) { return key.folded_ < f; });
}

const RegistryKeyNode* RegistryKeyNode::FindSubKey(std::string_view name) const {
  return const_cast<RegistryKeyNode*>(this)->FindSubKey(name);
}

RegistryKeyNode* RegistryKeyNode::FindSubKey(std::string_view name) {
  const std::string folded = text::ToUpper(name);
  const auto it = LowerBound(folded);
  return it != subKeys_.end() && it->folded_ == folded ? &*it : nullptr;
}

RegistryKeyNode& RegistryKeyNode::CreateSubKey(std::string_view name) {
  RegistryKeyNode key{std::string(name)};
  const auto it = LowerBound(key.folded_);
  if (it != subKeys_.end() && it->folded_ == key.folded_) return *it;
  return *subKeys_.insert(it, std::move(key));
}

bool RegistryKeyNode::EraseSubKey(std::string_view name) {
  const std::string folded = text::ToUpper(name);
  const auto it = LowerBound(folded);
  if (it == subKeys_.end() || it->folded_ != folded) return false;
  subKeys_.erase(it);
  return true;
}

RegistryTree::RegistryTree()
    : roots_{RegistryKeyNode(RegistryRootName(RegistryRoot::kCurrentUser)),
             RegistryKeyNode(RegistryRootName(RegistryRoot::kLocalMachine)),
             RegistryKeyNode(RegistryRootName(RegistryRoot::kUsers))} {}

const RegistryKeyNode& RegistryTree::Root(RegistryRoot root) const {
  return roots_[RootIndex(root)];
}

const RegistryKeyNode* RegistryTree::Find(const RegistryPath& path) const {
  return const_cast<RegistryTree*>(this)->Find(path);
}

RegistryKeyNode* RegistryTree::Find(const RegistryPath& path) {
  RegistryKeyNode* key = &roots_[RootIndex(path.root)];
  for (const auto& name : path.keys) {
    key = key->FindSubKey(name);
    if (key == nullptr) return nullptr;
  }
  return key;
}

RegistryKeyNode& RegistryTree::Create(const RegistryPath& path) {
  RegistryKeyNode* key = &roots_[RootIndex(path.root)];
  for (const auto& name : path.keys) key = &key->CreateSubKey(name);
  return *key;
}

bool RegistryTree::Erase(const RegistryPath& path) {
  if (path.keys.empty()) return false;
  RegistryPath parentPath{path.root, {path.keys.begin(), path.keys.end() - 1}};
  RegistryKeyNode* parent = Find(parentPath);
  return parent != nullptr && parent->EraseSubKey(path.keys.back());
}

void RegistryTree::Apply(const RegFileOperation& operation) {
  using Kind = RegFileOperation::Kind;
  switch (operation.kind) {
    case Kind::kCreateKey:
      Create(operation.key);
      break;
    case Kind::kDeleteKey:
      Erase(operation.key);
      break;
    case Kind::kSetValue:
      Create(operation.key).SetValue(operation.valueName, operation.value);
      break;
    case Kind::kDeleteValue:
      if (auto* key = Find(operation.key)) key->EraseValue(operation.valueName);
      break;
  }
}

// ---------------------------------------------------------------------------------------------
// Text format

RegistryFormatError::RegistryFormatError(std::size_t line, const std::string& message)
    : SystemError(win::ERROR_BADDB, "ligne " + std::to_string(line) + " : " + message), line_(line) {}

RegFile ParseRegFile(std::string_view bytes) {
  return RegParser(bytes).Parse();
}

std::string FormatRegValue(std::string_view name, const win::RegValue& value) {
  std::string out = name.empty() ? std::string("@=") : "\"" + EscapeString(name) + "\"=";
  if (const auto quoted = QuotableString(value)) return out + "\"" + EscapeString(*quoted) + "\"";
  const auto& data = value.data;
  if (value.type == win::REG_DWORD && data.size() == 4) {
    const std::uint32_t number =
        data[0] | (data[1] << 8) | (data[2] << 16) | (static_cast<std::uint32_t>(data[3]) << 24);
    return out + "dword:" + HexNumber(number, 8);
  }
  std::size_t column = CodePointCount(out);
  const std::string type = value.type == win::REG_BINARY ? "hex:" : "hex(" + HexNumber(value.type, 1) + "):";
  out += type;
  column += type.size();
  for (std::size_t i = 0; i < data.size(); ++i) {
    AppendHexByte(out, data[i]);
    if (i + 1 == data.size()) break;
    out += ',';
    column += 3;
    if (column >= kHexLineLimit) {
      out += "\\\n  ";
      column = 2;
    }
  }
  return out;
}

std::string FormatRegText(const RegistryTree& tree) {
  std::string out(kHeader);
  out += "\n\n";
  for (const auto& [full, brief, root] : kRootNames) {
    const RegistryKeyNode& key = tree.Root(root);
    if (!key.Values().empty()) AppendSection(out, std::string(full), key);
    AppendSubKeys(out, std::string(full), key);
  }
  return out;
}

std::string EncodeRegText(std::string_view utf8Text, RegTextFormat format) {
  std::string text;
  text.reserve(utf8Text.size() + utf8Text.size() / 16);
  for (char c : utf8Text) {
    if (c == '\n' && format.crlf) text += '\r';
    text += c;
  }
  switch (format.encoding) {
    case RegTextEncoding::kUtf16LeBom: {
      const auto units = text::Utf8ToUtf16LeBytes(text);
      std::string out("\xFF\xFE");
      out.append(units.begin(), units.end());
      return out;
    }
    case RegTextEncoding::kUtf8Bom:
      return "\xEF\xBB\xBF" + text;
    case RegTextEncoding::kUtf8:
      break;
  }
  return text;
}

// ---------------------------------------------------------------------------------------------
// Access rules

namespace {

std::vector<RegistryPath> ParseRuleList(std::string_view list) {
  std::vector<RegistryPath> paths;
  for (const std::string& item : text::Split(list, ';')) {
    if (auto path = ParseRegistryPath(item)) paths.push_back(std::move(*path));
  }
  return paths;
}

bool AnyCovers(const std::vector<RegistryPath>& bases, const RegistryPath& path) {
  return std::any_of(bases.begin(), bases.end(),
                     [&](const RegistryPath& base) { return IsSameOrBelow(path, base); });
}

}  // namespace

RegistryAccessRules::RegistryAccessRules(std::string_view deny, std::string_view readOnly)
    : denied_(ParseRuleList(deny)), readOnly_(ParseRuleList(readOnly)) {}

RegistryAccessRules RegistryAccessRules::FromPrefix() {
  const Prefix& prefix = Prefix::Current();
  return RegistryAccessRules(prefix.Ini("registry", "deny", ""), prefix.Ini("registry", "readonly", ""));
}

bool RegistryAccessRules::Denies(const RegistryPath& path) const {
  return AnyCovers(denied_, path);
}

bool RegistryAccessRules::IsReadOnly(const RegistryPath& path) const {
  return AnyCovers(readOnly_, path);
}

DWORD RegistryAccessRules::CheckOpen(const RegistryPath& path, DWORD access) const {
  if (Denies(path)) return win::ERROR_ACCESS_DENIED;
  if ((MapGenericRegistryAccess(access) & kRegistryWriteRights) != 0 && IsReadOnly(path)) {
    return win::ERROR_ACCESS_DENIED;
  }
  return win::ERROR_SUCCESS;
}

DWORD MapGenericRegistryAccess(DWORD access) {
  constexpr DWORD kGenericRead = 0x80000000, kGenericWrite = 0x40000000, kGenericExecute = 0x20000000,
                  kGenericAll = 0x10000000;
  DWORD mapped = access & ~(kGenericRead | kGenericWrite | kGenericExecute | kGenericAll);
  if (access & (kGenericRead | kGenericExecute)) mapped |= win::KEY_READ;
  if (access & kGenericWrite) mapped |= win::KEY_WRITE;
  if (access & kGenericAll) mapped |= win::KEY_ALL_ACCESS;
  return mapped;
}

// ---------------------------------------------------------------------------------------------
// Store

RegistryStore::RegistryStore(fs::path file) : file_(std::move(file)) {}

RegistryStore RegistryStore::Current() {
  return RegistryStore(Prefix::Current().RegistryFile());
}

fs::path RegistryStore::LockFile() const {
  return file_.string() + ".lock";
}

std::shared_ptr<const RegistryTree> RegistryStore::Read() const {
  auto parsed = Load(file_);
  return std::shared_ptr<const RegistryTree>(parsed, &parsed->tree);
}

bool RegistryStore::IsWritable() const {
  struct stat st {};
  if (::stat(file_.c_str(), &st) != 0) return true;  // a missing file is created by the next write
  // The owner's write bit decides even for root, as the read-only attribute does on Windows.
  return (st.st_mode & S_IWUSR) != 0 && ::access(file_.c_str(), W_OK) == 0;
}

DWORD RegistryStore::Update(const std::function<DWORD(RegistryTree&)>& change) const {
  const auto denied = [&] {
    return SystemError(win::ERROR_ACCESS_DENIED, "Le registre " + file_.string() + " est en lecture seule");
  };
  if (!IsWritable()) throw denied();
  ExclusiveLock lock(LockFile());
  if (!IsWritable()) throw denied();
  const auto current = Load(file_);
  auto next = std::make_shared<ParsedFile>();
  next->tree = current->tree;
  next->format = current->exists ? current->format : RegTextFormat{};
  next->exists = true;
  const DWORD code = change(next->tree);
  if (code != win::ERROR_SUCCESS) return code;

  mode_t mode = 0644;
  if (struct stat st{}; ::stat(file_.c_str(), &st) == 0) mode = st.st_mode & 07777;
  std::string bytes = EncodeRegText(FormatRegText(next->tree), next->format);
  ReplaceFile(file_, bytes, mode);
  Remember(file_, std::move(bytes), std::move(next));
  return win::ERROR_SUCCESS;
}

void RegistryStore::Import(std::string_view regFileBytes) const {
  const RegFile regFile = ParseRegFile(regFileBytes);
  Update([&](RegistryTree& tree) {
    for (const auto& op : regFile.operations) tree.Apply(op);
    return win::ERROR_SUCCESS;
  });
}

}  // namespace kv::host
