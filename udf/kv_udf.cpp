#include "udf/kv_udf.h"

#include <dlfcn.h>
#include <sys/stat.h>
#include <sys/statvfs.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// The engine calls these entries from C: no exception may leave them. Each entry catches
// everything and answers its "cannot tell" value.

namespace {

// ---- ISO8859_1 text ----

unsigned char Lower(unsigned char c) {
  if ((c >= 'A' && c <= 'Z') || (c >= 0xC0 && c <= 0xDE && c != 0xD7))
    return static_cast<unsigned char>(c + 0x20);
  return c;
}

// ß (0xDF) and ÿ (0xFF) have no upper case in ISO8859_1.
unsigned char Upper(unsigned char c) {
  if ((c >= 'a' && c <= 'z') || (c >= 0xE0 && c <= 0xFE && c != 0xF7))
    return static_cast<unsigned char>(c - 0x20);
  return c;
}

std::string LowerText(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = static_cast<char>(Lower(static_cast<unsigned char>(c)));
  return out;
}

bool IsSeparator(char c, char separator) {
  return separator == ' ' ? (c == ' ' || c == '\t' || c == '\r' || c == '\n') : c == separator;
}

struct Word {
  std::size_t start;
  std::size_t length;
};

std::vector<Word> Words(std::string_view text, char separator = ' ') {
  std::vector<Word> words;
  std::size_t i = 0;
  while (i < text.size()) {
    while (i < text.size() && IsSeparator(text[i], separator)) ++i;
    const std::size_t start = i;
    while (i < text.size() && !IsSeparator(text[i], separator)) ++i;
    if (i > start) words.push_back({start, i - start});
  }
  return words;
}

std::string_view View(const char* text) {
  return text == nullptr ? std::string_view() : std::string_view(text);
}

// Every word of `words` in at least one of the texts, without regard to case.
int AllWordsFound(std::string_view words, const std::vector<std::string_view>& texts) {
  std::vector<std::string> lowered;
  lowered.reserve(texts.size());
  for (auto t : texts) lowered.push_back(LowerText(t));
  const std::string needle = LowerText(words);
  for (const Word& w : Words(needle)) {
    const std::string_view word(needle.data() + w.start, w.length);
    const bool found = std::any_of(lowered.begin(), lowered.end(),
                                   [&](const std::string& t) { return t.find(word) != std::string::npos; });
    if (!found) return 0;
  }
  return 1;
}

char Separator(const int* code) {
  if (code == nullptr || *code <= 0 || *code > 255) return ' ';
  return static_cast<char>(static_cast<unsigned char>(*code));
}

std::optional<Word> WordAt(std::string_view text, const int* index, const int* separator) {
  if (index == nullptr || *index < 1) return std::nullopt;
  const auto words = Words(text, Separator(separator));
  if (static_cast<std::size_t>(*index) > words.size()) return std::nullopt;
  return words[static_cast<std::size_t>(*index) - 1];
}

// ---- Results the engine frees ----

using MallocFunction = void* (*)(long);

// The engine frees FREE_IT results through its copy of libib_util: ours must be that same copy,
// which dlopen by its soname finds already loaded.
MallocFunction EngineMalloc() {
  static const MallocFunction function = [] {
    if (void* symbol = dlsym(RTLD_DEFAULT, "ib_util_malloc")) return reinterpret_cast<MallocFunction>(symbol);
    void* library = dlopen("libib_util.so", RTLD_NOW | RTLD_GLOBAL);
    if (library == nullptr) return MallocFunction{};
    return reinterpret_cast<MallocFunction>(dlsym(library, "ib_util_malloc"));
  }();
  return function;
}

// A null result is SQL NULL, the only honest answer when memory cannot be had.
char* EngineString(std::string_view text) {
  const MallocFunction allocate = EngineMalloc();
  if (allocate == nullptr) return nullptr;
  auto* out = static_cast<char*>(allocate(static_cast<long>(text.size() + 1)));
  if (out == nullptr) return nullptr;
  std::memcpy(out, text.data(), text.size());
  out[text.size()] = '\0';
  return out;
}

// ---- Blobs ----

// CSTRING(32767) holds its terminating null.
constexpr std::size_t kMaxBlobString = 32766;

std::string ReadBlob(BLOBCALLBACK blob, std::size_t limit) {
  std::string out;
  if (blob == nullptr || blob->blob_handle == nullptr || blob->blob_get_segment == nullptr) return out;
  const auto total = static_cast<std::size_t>(std::max<ISC_LONG>(blob->blob_total_length, 0));
  std::vector<ISC_UCHAR> buffer(32768);
  while (out.size() < std::min(total, limit)) {
    ISC_USHORT got = 0;
    if (!blob->blob_get_segment(blob->blob_handle, buffer.data(), static_cast<ISC_USHORT>(buffer.size()),
                                &got) ||
        got == 0) {
      break;
    }
    out.append(reinterpret_cast<const char*>(buffer.data()), got);
  }
  if (out.size() > limit) out.resize(limit);
  return out;
}

void WriteBlob(BLOBCALLBACK blob, std::string_view data) {
  if (blob == nullptr || blob->blob_handle == nullptr || blob->blob_put_segment == nullptr) return;
  constexpr std::size_t kSegment = 32768;
  for (std::size_t at = 0; at < data.size(); at += kSegment) {
    const std::size_t n = std::min(kSegment, data.size() - at);
    blob->blob_put_segment(blob->blob_handle, reinterpret_cast<const ISC_UCHAR*>(data.data() + at),
                           static_cast<ISC_USHORT>(n));
  }
}

// ---- The host prefix (its layout is the platform's: <prefix>/drives/<letter>/, prefix.ini) ----

std::string PrefixRoot() {
  if (const char* env = std::getenv("KORVANE_PREFIX"); env != nullptr && *env != '\0') return env;
  const char* home = std::getenv("HOME");
  return std::string(home != nullptr && *home != '\0' ? home : "/tmp") + "/.korvane";
}

std::string Trim(std::string_view s) {
  const auto first = s.find_first_not_of(" \t\r\n");
  if (first == std::string_view::npos) return {};
  const auto last = s.find_last_not_of(" \t\r\n");
  return std::string(s.substr(first, last - first + 1));
}

// A value of prefix.ini, section and key without regard to case.
std::optional<std::string> IniValue(const std::string& file, std::string_view section, std::string_view key) {
  std::ifstream in(file);
  if (!in) return std::nullopt;
  const std::string wantedSection = LowerText(section);
  const std::string wantedKey = LowerText(key);
  std::string line;
  std::string current;
  while (std::getline(in, line)) {
    const std::string t = Trim(line);
    if (t.empty() || t[0] == ';' || t[0] == '#') continue;
    if (t.front() == '[' && t.back() == ']') {
      current = LowerText(Trim(std::string_view(t).substr(1, t.size() - 2)));
      continue;
    }
    const auto eq = t.find('=');
    if (eq == std::string::npos || current != wantedSection) continue;
    if (LowerText(Trim(std::string_view(t).substr(0, eq))) == wantedKey)
      return Trim(std::string_view(t).substr(eq + 1));
  }
  return std::nullopt;
}

std::optional<ISC_INT64> ParseInteger(const std::string& text) {
  if (text.empty()) return std::nullopt;
  char* end = nullptr;
  errno = 0;
  const long long value = std::strtoll(text.c_str(), &end, 10);
  if (errno != 0 || end == text.c_str() || *end != '\0') return std::nullopt;
  return static_cast<ISC_INT64>(value);
}

bool IsFolder(const std::string& path) {
  struct stat st {};
  return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

ISC_INT64 FreeBytes(const std::string& folder) {
  struct statvfs fs {};
  if (statvfs(folder.c_str(), &fs) != 0) return -1;
  return static_cast<ISC_INT64>(fs.f_bavail) * static_cast<ISC_INT64>(fs.f_frsize);
}

// ---- The Firebird root this process uses ----

std::string LibraryFolder() {
  Dl_info info{};
  if (dladdr(reinterpret_cast<void*>(&GetDLLVersion), &info) == 0 || info.dli_fname == nullptr) return {};
  std::string path = info.dli_fname;
  const auto slash = path.rfind('/');
  return slash == std::string::npos ? std::string(".") : path.substr(0, slash);
}

std::string FirebirdRoot() {
  if (const char* env = std::getenv("FIREBIRD"); env != nullptr && *env != '\0') return env;
  const std::string udf = LibraryFolder();  // <root>/UDF
  const auto slash = udf.rfind('/');
  return slash == std::string::npos ? std::string(".") : udf.substr(0, slash);
}

constexpr std::size_t kMaxLog = 64 * 1024;

std::string LogTail(const std::string& file) {
  std::ifstream in(file, std::ios::binary);
  if (!in) return {};
  in.seekg(0, std::ios::end);
  const std::streamoff size = in.tellg();
  if (size <= 0) return {};
  const std::streamoff start = size > static_cast<std::streamoff>(kMaxLog) ? size - kMaxLog : 0;
  in.seekg(start);
  std::string data(static_cast<std::size_t>(size - start), '\0');
  in.read(data.data(), static_cast<std::streamsize>(data.size()));
  data.resize(static_cast<std::size_t>(in.gcount()));
  if (start > 0) {  // begin with a whole line
    const auto newline = data.find('\n');
    data.erase(0, newline == std::string::npos ? data.size() : newline + 1);
  }
  return data;
}

}  // namespace

extern "C" {

int FindStringsInBlob(BLOBCALLBACK text, const char* words) {
  try {
    const std::string content = ReadBlob(text, SIZE_MAX);
    return AllWordsFound(View(words), {content});
  } catch (...) {
    return 0;
  }
}

int FindStringsInString(const char* words, const char* text) {
  try {
    return AllWordsFound(View(words), {View(text)});
  } catch (...) {
    return 0;
  }
}

int FindStringsIn5Strings(const char* words, const char* text1, const char* text2, const char* text3,
                          const char* text4, const char* text5) {
  try {
    return AllWordsFound(View(words), {View(text1), View(text2), View(text3), View(text4), View(text5)});
  } catch (...) {
    return 0;
  }
}

char* CapitalizeFirst(const char* text) {
  try {
    std::string out = LowerText(View(text));
    const auto words = Words(out);
    if (!words.empty()) {
      char& first = out[words.front().start];
      first = static_cast<char>(Upper(static_cast<unsigned char>(first)));
    }
    return EngineString(out);
  } catch (...) {
    return nullptr;
  }
}

char* Capitalize(const char* text) {
  try {
    std::string out = LowerText(View(text));
    for (const Word& w : Words(out)) {
      out[w.start] = static_cast<char>(Upper(static_cast<unsigned char>(out[w.start])));
    }
    return EngineString(out);
  } catch (...) {
    return nullptr;
  }
}

ISC_INT64 GetFreeDiskSpace(const char* letter) {
  try {
    const std::string given = Trim(View(letter));
    if (given.size() != 1 || !std::isalpha(static_cast<unsigned char>(given[0]))) return -1;
    const char upper = static_cast<char>(std::toupper(static_cast<unsigned char>(given[0])));
    const char lower = static_cast<char>(std::tolower(static_cast<unsigned char>(given[0])));
    const std::string root = PrefixRoot();
    if (auto setting = IniValue(root + "/prefix.ini", "udf", std::string("free_space_") + upper)) {
      return ParseInteger(*setting).value_or(-1);
    }
    const std::string folder = root + "/drives/" + lower;
    if (IsFolder(folder)) return FreeBytes(folder);
    if (upper == 'Z') return FreeBytes("/");  // as the drive map: Z: reaches the host's root
    return -1;
  } catch (...) {
    return -1;
  }
}

int GetDLLVersion() {
  return KV_UDF_VERSION_NUMBER;
}

int IsANumber(const char* text) {
  const std::string t = Trim(View(text));
  std::size_t i = 0;
  if (i < t.size() && (t[i] == '+' || t[i] == '-')) ++i;
  std::size_t digits = 0;
  while (i < t.size() && std::isdigit(static_cast<unsigned char>(t[i]))) ++i, ++digits;
  if (i < t.size() && (t[i] == '.' || t[i] == ',')) {
    ++i;
    while (i < t.size() && std::isdigit(static_cast<unsigned char>(t[i]))) ++i, ++digits;
  }
  return digits > 0 && i == t.size() ? 1 : 0;
}

void GetLogData(BLOBCALLBACK result) {
  try {
    WriteBlob(result, LogTail(FirebirdRoot() + "/firebird.log"));
  } catch (...) {
    // The blob stays as written so far: a log cut short is still a log.
  }
}

int GetStrWordIndex(const char* text, const int* index, const int* separator) {
  try {
    const auto word = WordAt(View(text), index, separator);
    return word ? static_cast<int>(word->start + 1) : 0;
  } catch (...) {
    return 0;
  }
}

char* GetStrWordAt(const char* text, const int* index, const int* separator) {
  try {
    const std::string_view t = View(text);
    const auto word = WordAt(t, index, separator);
    return EngineString(word ? t.substr(word->start, word->length) : std::string_view());
  } catch (...) {
    return nullptr;
  }
}

int GetStrLen(const char* text) {
  return static_cast<int>(View(text).size());
}

char* GetBlobString(BLOBCALLBACK blob) {
  try {
    std::string content = ReadBlob(blob, kMaxBlobString);
    if (const auto nul = content.find('\0'); nul != std::string::npos) content.resize(nul);
    return EngineString(content);
  } catch (...) {
    return nullptr;
  }
}

}  // extern "C"
