// kv::win::RegKey on the real registry. A RegKey keeps its root and path, as on the host, and each
// call opens the key for the time of the call: a key deleted meanwhile answers Windows' own error.
// The suite is a 32-bit program: its keys are read and written in the 32-bit view of the
// registry (KEY_WOW64_32KEY), where it finds them, as the 32-bit updater did.
#include <vector>

#include "platform/Win32.h"
#include "platform/win32/Api.h"

namespace kv::win {

using win32::Wide;

namespace {

// The system's handle of a root key: the port's number sign-extended, as <winreg.h> defines
// them (HKEY_CLASSES_ROOT 0x80000000 to HKEY_USERS 0x80000003).
::HKEY RootKey(HKEY root) {
  if (root < 0x80000000u || root > 0x80000003u) return nullptr;
  return reinterpret_cast<::HKEY>(static_cast<ULONG_PTR>(static_cast<LONG>(root)));
}

// An open key closed by its destructor.
class OpenKey {
 public:
  OpenKey(HKEY root, const std::string& path, DWORD access) {
    const ::HKEY parent = RootKey(root);
    error_ = parent == nullptr ? ERROR_INVALID_HANDLE
                               : static_cast<DWORD>(::RegOpenKeyExW(parent, Wide(path).c_str(), 0,
                                                                    access | KEY_WOW64_32KEY, &key_));
  }
  OpenKey(const OpenKey&) = delete;
  OpenKey& operator=(const OpenKey&) = delete;
  ~OpenKey() {
    if (error_ == ERROR_SUCCESS) ::RegCloseKey(key_);
  }
  DWORD Error() const { return error_; }
  ::HKEY Get() const { return key_; }

 private:
  ::HKEY key_ = nullptr;
  DWORD error_ = ERROR_SUCCESS;
};

// The longest name of the key's subkeys or values, in characters with the terminating null.
DWORD LongestName(::HKEY key, bool subKeys) {
  ::DWORD subKeyLength = 0, valueLength = 0;
  if (::RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, nullptr, &subKeyLength, nullptr, nullptr,
                         &valueLength, nullptr, nullptr, nullptr) != ERROR_SUCCESS) {
    return 256;
  }
  return (subKeys ? subKeyLength : valueLength) + 1;
}

}  // namespace

DWORD RegKey::Open(HKEY root, const std::string& path, DWORD access, RegKey& key) {
  key.open_ = false;
  const std::string normalized = NormalizedKeyPath(path);
  const OpenKey opened(root, normalized, access);
  if (opened.Error() != ERROR_SUCCESS) return opened.Error();
  key.root_ = root;
  key.path_ = normalized;
  key.access_ = access;
  key.open_ = true;
  return ERROR_SUCCESS;
}

DWORD RegKey::Create(HKEY root, const std::string& path, DWORD access, RegKey& key) {
  key.open_ = false;
  const ::HKEY parent = RootKey(root);
  if (parent == nullptr) return ERROR_INVALID_HANDLE;
  const std::string normalized = NormalizedKeyPath(path);
  ::HKEY created = nullptr;
  const auto rc = static_cast<DWORD>(::RegCreateKeyExW(parent, Wide(normalized).c_str(), 0, nullptr,
                                                       REG_OPTION_NON_VOLATILE, access | KEY_WOW64_32KEY,
                                                       nullptr, &created, nullptr));
  if (rc != ERROR_SUCCESS) return rc;
  ::RegCloseKey(created);
  key.root_ = root;
  key.path_ = normalized;
  key.access_ = access;
  key.open_ = true;
  return ERROR_SUCCESS;
}

DWORD RegKey::DeleteKey(HKEY root, const std::string& path) {
  const ::HKEY parent = RootKey(root);
  if (parent == nullptr) return ERROR_INVALID_HANDLE;
  const std::string normalized = NormalizedKeyPath(path);
  if (normalized.empty()) return ERROR_ACCESS_DENIED;  // a root cannot be deleted
  return static_cast<DWORD>(::RegDeleteKeyExW(parent, Wide(normalized).c_str(), KEY_WOW64_32KEY, 0));
}

bool RegKey::Exists(HKEY root, const std::string& path) {
  return OpenKey(root, NormalizedKeyPath(path), KEY_QUERY_VALUE).Error() == ERROR_SUCCESS;
}

DWORD RegKey::QueryValue(const std::string& name, RegValue& value) const {
  if (!open_) return ERROR_INVALID_HANDLE;
  const OpenKey key(root_, path_, access_);
  if (key.Error() != ERROR_SUCCESS) return key.Error();
  const std::wstring wideName = Wide(name);
  ::DWORD type = REG_NONE;
  ::DWORD size = 0;
  auto rc =
      static_cast<DWORD>(::RegQueryValueExW(key.Get(), wideName.c_str(), nullptr, &type, nullptr, &size));
  // The value may grow between the size query and the read: then ask again with more room.
  while (rc == ERROR_SUCCESS || rc == ERROR_MORE_DATA) {
    std::vector<std::uint8_t> data(size);
    ::DWORD got = size;
    rc = static_cast<DWORD>(::RegQueryValueExW(key.Get(), wideName.c_str(), nullptr, &type,
                                               data.empty() ? nullptr : data.data(), &got));
    if (rc == ERROR_SUCCESS && got <= size) {
      data.resize(got);
      value.type = type;
      value.data = std::move(data);
      return ERROR_SUCCESS;
    }
    size = got;
  }
  return rc;
}

DWORD RegKey::SetValue(const std::string& name, const RegValue& value) {
  if (!open_) return ERROR_INVALID_HANDLE;
  const OpenKey key(root_, path_, access_);
  if (key.Error() != ERROR_SUCCESS) return key.Error();
  return static_cast<DWORD>(::RegSetValueExW(key.Get(), Wide(name).c_str(), 0, value.type, value.data.data(),
                                             static_cast<::DWORD>(value.data.size())));
}

DWORD RegKey::DeleteValue(const std::string& name) {
  if (!open_) return ERROR_INVALID_HANDLE;
  const OpenKey key(root_, path_, access_);
  if (key.Error() != ERROR_SUCCESS) return key.Error();
  return static_cast<DWORD>(::RegDeleteValueW(key.Get(), Wide(name).c_str()));
}

DWORD RegKey::DeleteSubKey(const std::string& name) {
  if (!open_) return ERROR_INVALID_HANDLE;
  if ((access_ & (KEY_SET_VALUE | KEY_CREATE_SUB_KEY)) == 0) return ERROR_ACCESS_DENIED;
  return DeleteKey(root_, path_ + "\\" + name);
}

DWORD RegKey::QueryInfo(DWORD& subKeys, DWORD& values) const {
  if (!open_) return ERROR_INVALID_HANDLE;
  const OpenKey key(root_, path_, access_);
  if (key.Error() != ERROR_SUCCESS) return key.Error();
  ::DWORD keyCount = 0, valueCount = 0;
  const auto rc =
      static_cast<DWORD>(::RegQueryInfoKeyW(key.Get(), nullptr, nullptr, nullptr, &keyCount, nullptr, nullptr,
                                            &valueCount, nullptr, nullptr, nullptr, nullptr));
  if (rc != ERROR_SUCCESS) return rc;
  subKeys = keyCount;
  values = valueCount;
  return ERROR_SUCCESS;
}

namespace {

// Enumerates subkey or value names; a failure leaves the list empty with the last error set.
template <typename Enumerate>
std::vector<std::string> Names(bool open, HKEY root, const std::string& path, DWORD access, bool subKeys,
                               Enumerate enumerate) {
  std::vector<std::string> names;
  if (!open) {
    ::SetLastError(ERROR_INVALID_HANDLE);
    return names;
  }
  const OpenKey key(root, path, access);
  if (key.Error() != ERROR_SUCCESS) {
    ::SetLastError(key.Error());
    return names;
  }
  std::wstring buffer(LongestName(key.Get(), subKeys), L'\0');
  for (::DWORD index = 0;; ++index) {
    ::DWORD length = static_cast<::DWORD>(buffer.size());
    const auto rc = static_cast<DWORD>(enumerate(key.Get(), index, buffer.data(), &length));
    if (rc == ERROR_NO_MORE_ITEMS) break;
    if (rc != ERROR_SUCCESS) {
      ::SetLastError(rc);
      return {};
    }
    names.push_back(win32::Utf8(std::wstring_view(buffer.data(), length)));
  }
  return names;
}

}  // namespace

std::vector<std::string> RegKey::SubKeyNames() const {
  return Names(open_, root_, path_, access_, true,
               [](::HKEY key, ::DWORD index, wchar_t* name, ::DWORD* length) {
                 return ::RegEnumKeyExW(key, index, name, length, nullptr, nullptr, nullptr, nullptr);
               });
}

std::vector<std::string> RegKey::ValueNames() const {
  return Names(open_, root_, path_, access_, false,
               [](::HKEY key, ::DWORD index, wchar_t* name, ::DWORD* length) {
                 return ::RegEnumValueW(key, index, name, length, nullptr, nullptr, nullptr, nullptr);
               });
}

}  // namespace kv::win
