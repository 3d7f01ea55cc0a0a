// The emulated Windows registry: <prefix>/registry.reg, a file in the text format regedit exports,
// its in-memory model and the lock-protected atomic rewrite that lets several processes share it.
//
// Keys and value names are compared without regard to case and keep the spelling of their
// creation. HKEY_CLASSES_ROOT is HKEY_LOCAL_MACHINE\SOFTWARE\Classes, as on Windows.
#pragma once

#include <array>
#include <cstddef>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/Errors.h"
#include "platform/Win32.h"

namespace kv::host {

// The roots the file stores, in the order they are written.
enum class RegistryRoot { kCurrentUser, kLocalMachine, kUsers };

// A key: its root and the names of the keys leading to it (none for the root itself).
struct RegistryPath {
  RegistryRoot root = RegistryRoot::kLocalMachine;
  std::vector<std::string> keys;
};

// "HKEY_LOCAL_MACHINE\SOFTWARE\X" or with an abbreviated root (HKLM, HKCU, HKCR, HKU). Empty
// components (leading, doubled or trailing backslashes) are ignored. nullopt for an unknown root.
std::optional<RegistryPath> ParseRegistryPath(std::string_view text);
// A path below one of the predefined keys; nullopt when the root is not a predefined key.
std::optional<RegistryPath> ResolveRegistryPath(win::HKEY root, std::string_view subPath);
// "HKEY_LOCAL_MACHINE\SOFTWARE\X"; the root alone for the root.
std::string RegistryPathText(const RegistryPath& path);
std::string RegistryRootName(RegistryRoot root);
// Whether path is base or lies below it (names compared without regard to case).
bool IsSameOrBelow(const RegistryPath& path, const RegistryPath& base);

struct RegistryValueEntry {
  std::string name;  // "" is the default value
  win::RegValue value;
};

class RegistryKeyNode {
 public:
  explicit RegistryKeyNode(std::string name = {});

  const std::string& Name() const { return name_; }
  // In creation order.
  const std::vector<RegistryValueEntry>& Values() const { return values_; }
  // Sorted by name without regard to case, as Windows enumerates them.
  const std::vector<RegistryKeyNode>& SubKeys() const { return subKeys_; }

  const RegistryValueEntry* FindValue(std::string_view name) const;
  // Replaces an existing value in place (keeping its name's spelling) or appends a new one.
  void SetValue(std::string_view name, win::RegValue value);
  bool EraseValue(std::string_view name);

  const RegistryKeyNode* FindSubKey(std::string_view name) const;
  RegistryKeyNode* FindSubKey(std::string_view name);
  RegistryKeyNode& CreateSubKey(std::string_view name);
  bool EraseSubKey(std::string_view name);  // with everything below it

 private:
  std::vector<RegistryKeyNode>::iterator LowerBound(const std::string& folded);

  std::string name_;
  std::string folded_;  // upper-case name, the sort and lookup key
  std::vector<RegistryValueEntry> values_;
  std::vector<RegistryKeyNode> subKeys_;
};

// One change a .reg file asks for, in file order.
struct RegFileOperation {
  enum class Kind { kCreateKey, kDeleteKey, kSetValue, kDeleteValue };
  Kind kind = Kind::kCreateKey;
  RegistryPath key;
  std::string valueName;
  win::RegValue value;
};

class RegistryTree {
 public:
  RegistryTree();

  const RegistryKeyNode& Root(RegistryRoot root) const;
  const RegistryKeyNode* Find(const RegistryPath& path) const;
  RegistryKeyNode* Find(const RegistryPath& path);
  // The key, created with its missing parents.
  RegistryKeyNode& Create(const RegistryPath& path);
  // Removes the key with everything below it; false when it is missing. Roots are never removed.
  bool Erase(const RegistryPath& path);
  void Apply(const RegFileOperation& operation);

 private:
  std::array<RegistryKeyNode, 3> roots_;
};

// How a registry file is encoded: regedit writes UTF-16LE with a byte-order mark and CR LF.
enum class RegTextEncoding { kUtf16LeBom, kUtf8, kUtf8Bom };
struct RegTextFormat {
  RegTextEncoding encoding = RegTextEncoding::kUtf16LeBom;
  bool crlf = true;
};

struct RegFile {
  RegTextFormat format;
  std::vector<RegFileOperation> operations;
};

// A malformed .reg file; carries ERROR_BADDB.
class RegistryFormatError : public SystemError {
 public:
  RegistryFormatError(std::size_t line, const std::string& message);
  std::size_t line() const noexcept { return line_; }

 private:
  std::size_t line_;
};

// Reads a .reg file ("Windows Registry Editor Version 5.00" or "REGEDIT4") of any of the encodings
// above, with its deletions ([-KEY], "Name"=-). Throws RegistryFormatError.
RegFile ParseRegFile(std::string_view bytes);
// The whole tree as regedit exports it, UTF-8 with '\n' line ends: the header, then one section per
// key, parents before children, each followed by a blank line.
std::string FormatRegText(const RegistryTree& tree);
// One value as regedit writes it ("Name"="text", @=dword:0000000a, "B"=hex:01,02), long hex data
// wrapped into '\n'-separated lines ending with a backslash. No final line end.
std::string FormatRegValue(std::string_view name, const win::RegValue& value);
// UTF-8 text with '\n' line ends to the bytes of a file in the given format.
std::string EncodeRegText(std::string_view utf8Text, RegTextFormat format);

// Access rules of prefix.ini, [registry] deny=KEY;KEY... and readonly=KEY;KEY...: a denied key and
// everything below it cannot be opened at all, a read-only one not with any write right.
class RegistryAccessRules {
 public:
  RegistryAccessRules(std::string_view deny, std::string_view readOnly);
  static RegistryAccessRules FromPrefix();

  bool Denies(const RegistryPath& path) const;
  bool IsReadOnly(const RegistryPath& path) const;
  // ERROR_ACCESS_DENIED when the key may not be opened with these rights, else ERROR_SUCCESS.
  win::DWORD CheckOpen(const RegistryPath& path, win::DWORD access) const;

 private:
  std::vector<RegistryPath> denied_;
  std::vector<RegistryPath> readOnly_;
};

// Rights that change a key (after generic rights are mapped).
inline constexpr win::DWORD kRegistryWriteRights = win::KEY_SET_VALUE | win::KEY_CREATE_SUB_KEY |
                                                   0x0020 /* KEY_CREATE_LINK */ | 0x00010000 /* DELETE */ |
                                                   0x00040000 /* WRITE_DAC */ | 0x00080000 /* WRITE_OWNER */;
// GENERIC_READ / GENERIC_WRITE / GENERIC_EXECUTE / GENERIC_ALL to the key rights they stand for.
win::DWORD MapGenericRegistryAccess(win::DWORD access);

// The registry file. Readers take no lock: the file is only ever replaced by a rename, so a reader
// sees the old or the new content, never a mix. Writers serialise on an flock of <file>.lock.
class RegistryStore {
 public:
  explicit RegistryStore(std::filesystem::path file);
  // The registry of the current prefix.
  static RegistryStore Current();

  const std::filesystem::path& File() const { return file_; }
  std::filesystem::path LockFile() const;

  // The registry as the file holds it now (a missing file is an empty registry). The parsed tree
  // is reused while the file's bytes are unchanged. Throws SystemError (ERROR_BADDB when the file
  // is malformed).
  std::shared_ptr<const RegistryTree> Read() const;
  // Under the lock: reads the file, lets change edit the tree and, when it answers ERROR_SUCCESS,
  // writes the result atomically in the encoding the file had (new files: UTF-16LE, CR LF).
  // Answers change's code. Throws SystemError; ERROR_ACCESS_DENIED when the file is not writable.
  win::DWORD Update(const std::function<win::DWORD(RegistryTree&)>& change) const;
  // Merges a .reg file (deletions included) in one update. Throws RegistryFormatError, SystemError.
  void Import(std::string_view regFileBytes) const;
  // False when the registry file exists without its owner's write bit or cannot be written.
  bool IsWritable() const;

 private:
  std::filesystem::path file_;
};

}  // namespace kv::host
