// The regedit-format registry file on any bytes. What parses is applied to a tree, written back as
// the registry store writes its file, and must read again: a registry the program writes and
// cannot read back would lose the machine's settings. Damage may raise RegistryFormatError,
// nothing else may happen.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "platform/host/RegistryStore.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  kv::host::RegFile file;
  try {
    file = kv::host::ParseRegFile(std::string_view(reinterpret_cast<const char*>(data), size));
  } catch (const kv::host::RegistryFormatError&) {
    return 0;
  }
  kv::host::RegistryTree tree;
  for (const kv::host::RegFileOperation& operation : file.operations) tree.Apply(operation);
  const std::string text = kv::host::FormatRegText(tree);
  const std::string bytes = kv::host::EncodeRegText(text, file.format);
  const kv::host::RegFile again = kv::host::ParseRegFile(bytes);  // must not throw
  kv::host::RegistryTree copy;
  for (const kv::host::RegFileOperation& operation : again.operations) copy.Apply(operation);
  if (kv::host::FormatRegText(copy) != text) __builtin_trap();
  return 0;
}
