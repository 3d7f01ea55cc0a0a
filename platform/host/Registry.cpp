// kv::win::RegKey on the host: the registry file of the prefix, read again by
// every call and rewritten atomically by every change (platform/host/RegistryStore.h).
#include <new>

#include "formats/Text.h"
#include "platform/Errors.h"
#include "platform/Win32.h"
#include "platform/host/RegistryStore.h"

namespace kv::win {

using host::RegistryAccessRules;
using host::RegistryKeyNode;
using host::RegistryPath;
using host::RegistryStore;
using host::RegistryTree;

namespace {

// Runs a registry operation; an error of the store becomes the code a Windows call would answer.
template <typename Operation>
DWORD Guarded(Operation operation) noexcept {
  try {
    return operation();
  } catch (const SystemError& e) {
    return e.code();
  } catch (const std::bad_alloc&) {
    return ERROR_NOT_ENOUGH_MEMORY;
  } catch (...) {
    return ERROR_GEN_FAILURE;
  }
}

// Deletes a key that has no subkeys, after the access rules and the store's own checks.
DWORD DeleteLeafKey(const RegistryPath& path) {
  if (path.keys.empty()) return ERROR_ACCESS_DENIED;  // a root cannot be deleted
  if (RegistryAccessRules::FromPrefix().CheckOpen(path, KEY_ALL_ACCESS) != ERROR_SUCCESS)
    return ERROR_ACCESS_DENIED;
  return RegistryStore::Current().Update([&](RegistryTree& tree) {
    const RegistryKeyNode* key = tree.Find(path);
    if (key == nullptr) return ERROR_FILE_NOT_FOUND;
    if (!key->SubKeys().empty()) return ERROR_ACCESS_DENIED;
    tree.Erase(path);
    return ERROR_SUCCESS;
  });
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// RegKey

DWORD RegKey::Open(HKEY root, const std::string& path, DWORD access, RegKey& key) {
  key.Close();
  return Guarded([&] {
    const auto resolved = host::ResolveRegistryPath(root, path);
    if (!resolved) return ERROR_INVALID_HANDLE;
    access = host::MapGenericRegistryAccess(access);
    if (const DWORD rc = RegistryAccessRules::FromPrefix().CheckOpen(*resolved, access)) return rc;
    if (RegistryStore::Current().Read()->Find(*resolved) == nullptr) return ERROR_FILE_NOT_FOUND;
    key.root_ = root;
    key.path_ = NormalizedKeyPath(path);
    key.access_ = access;
    key.open_ = true;
    return ERROR_SUCCESS;
  });
}

DWORD RegKey::Create(HKEY root, const std::string& path, DWORD access, RegKey& key) {
  key.Close();
  return Guarded([&] {
    const auto resolved = host::ResolveRegistryPath(root, path);
    if (!resolved) return ERROR_INVALID_HANDLE;
    access = host::MapGenericRegistryAccess(access);
    const auto rules = RegistryAccessRules::FromPrefix();
    if (const DWORD rc = rules.CheckOpen(*resolved, access)) return rc;
    const RegistryStore store = RegistryStore::Current();
    if (store.Read()->Find(*resolved) == nullptr) {
      // Making a key below a read-only one needs a write right there.
      if (rules.IsReadOnly(*resolved)) return ERROR_ACCESS_DENIED;
      const DWORD rc = store.Update([&](RegistryTree& tree) {
        tree.Create(*resolved);
        return ERROR_SUCCESS;
      });
      if (rc != ERROR_SUCCESS) return rc;
    }
    key.root_ = root;
    key.path_ = NormalizedKeyPath(path);
    key.access_ = access;
    key.open_ = true;
    return ERROR_SUCCESS;
  });
}

DWORD RegKey::DeleteKey(HKEY root, const std::string& path) {
  return Guarded([&] {
    const auto resolved = host::ResolveRegistryPath(root, path);
    if (!resolved) return ERROR_INVALID_HANDLE;
    return DeleteLeafKey(*resolved);
  });
}

bool RegKey::Exists(HKEY root, const std::string& path) {
  const DWORD rc = Guarded([&] {
    const auto resolved = host::ResolveRegistryPath(root, path);
    if (!resolved) return ERROR_INVALID_HANDLE;
    return RegistryStore::Current().Read()->Find(*resolved) != nullptr ? ERROR_SUCCESS : ERROR_FILE_NOT_FOUND;
  });
  if (rc != ERROR_SUCCESS) SetLastError(rc);
  return rc == ERROR_SUCCESS;
}

namespace {

// The open key's place in the store (root_ and path_ were checked when it was opened).
RegistryPath PathOf(HKEY root, const std::string& path) {
  auto resolved = host::ResolveRegistryPath(root, path);
  return resolved ? std::move(*resolved) : RegistryPath{};
}

// Runs a read of the open key on the registry as it is now; a key that another handle or process
// deleted since it was opened answers ERROR_KEY_DELETED.
template <typename Reader>
DWORD ReadKey(HKEY root, const std::string& path, Reader reader) {
  return Guarded([&] {
    const auto tree = RegistryStore::Current().Read();
    const RegistryKeyNode* key = tree->Find(PathOf(root, path));
    if (key == nullptr) return ERROR_KEY_DELETED;
    return reader(*key);
  });
}

template <typename Writer>
DWORD WriteKey(HKEY root, const std::string& path, Writer writer) {
  return Guarded([&] {
    const RegistryPath keyPath = PathOf(root, path);
    return RegistryStore::Current().Update([&](RegistryTree& tree) {
      RegistryKeyNode* key = tree.Find(keyPath);
      if (key == nullptr) return ERROR_KEY_DELETED;
      return writer(*key);
    });
  });
}

// The enumerations answer no code: a failure leaves them empty with the thread's last error set.
template <typename Lister>
DWORD ListNames(bool open, DWORD access, DWORD needed, Lister lister) {
  const DWORD rc = !open ? ERROR_INVALID_HANDLE : (access & needed) == 0 ? ERROR_ACCESS_DENIED : lister();
  if (rc != ERROR_SUCCESS) SetLastError(rc);
  return rc;
}

}  // namespace

DWORD RegKey::QueryValue(const std::string& name, RegValue& value) const {
  if (!open_) return ERROR_INVALID_HANDLE;
  if ((access_ & KEY_QUERY_VALUE) == 0) return ERROR_ACCESS_DENIED;
  return ReadKey(root_, path_, [&](const RegistryKeyNode& key) {
    const auto* entry = key.FindValue(name);
    if (entry == nullptr) return ERROR_FILE_NOT_FOUND;
    value = entry->value;
    return ERROR_SUCCESS;
  });
}

DWORD RegKey::SetValue(const std::string& name, const RegValue& value) {
  if (!open_) return ERROR_INVALID_HANDLE;
  if ((access_ & KEY_SET_VALUE) == 0) return ERROR_ACCESS_DENIED;
  return WriteKey(root_, path_, [&](RegistryKeyNode& key) {
    key.SetValue(name, value);
    return ERROR_SUCCESS;
  });
}

DWORD RegKey::DeleteValue(const std::string& name) {
  if (!open_) return ERROR_INVALID_HANDLE;
  if ((access_ & KEY_SET_VALUE) == 0) return ERROR_ACCESS_DENIED;
  return WriteKey(root_, path_, [&](RegistryKeyNode& key) {
    return key.EraseValue(name) ? ERROR_SUCCESS : ERROR_FILE_NOT_FOUND;
  });
}

DWORD RegKey::DeleteSubKey(const std::string& name) {
  if (!open_) return ERROR_INVALID_HANDLE;
  if ((access_ & (KEY_SET_VALUE | KEY_CREATE_SUB_KEY)) == 0) return ERROR_ACCESS_DENIED;
  return Guarded([&] {
    const auto subKey = host::ResolveRegistryPath(root_, path_ + "\\" + name);
    if (!subKey) return ERROR_INVALID_HANDLE;
    return DeleteLeafKey(*subKey);
  });
}

DWORD RegKey::QueryInfo(DWORD& subKeys, DWORD& values) const {
  if (!open_) return ERROR_INVALID_HANDLE;
  if ((access_ & KEY_QUERY_VALUE) == 0) return ERROR_ACCESS_DENIED;
  return ReadKey(root_, path_, [&](const RegistryKeyNode& key) {
    subKeys = static_cast<DWORD>(key.SubKeys().size());
    values = static_cast<DWORD>(key.Values().size());
    return ERROR_SUCCESS;
  });
}

std::vector<std::string> RegKey::SubKeyNames() const {
  std::vector<std::string> names;
  const DWORD rc = ListNames(open_, access_, KEY_ENUMERATE_SUB_KEYS, [&] {
    return ReadKey(root_, path_, [&](const RegistryKeyNode& key) {
      for (const auto& sub : key.SubKeys()) names.push_back(sub.Name());
      return ERROR_SUCCESS;
    });
  });
  if (rc != ERROR_SUCCESS) names.clear();
  return names;
}

std::vector<std::string> RegKey::ValueNames() const {
  std::vector<std::string> names;
  const DWORD rc = ListNames(open_, access_, KEY_QUERY_VALUE, [&] {
    return ReadKey(root_, path_, [&](const RegistryKeyNode& key) {
      for (const auto& entry : key.Values()) names.push_back(entry.name);
      return ERROR_SUCCESS;
    });
  });
  if (rc != ERROR_SUCCESS) names.clear();
  return names;
}

}  // namespace kv::win
