// kvhost reg: the prefix registry from the shell. As an administration tool it works on the registry
// file itself, so prefix.ini's deny and readonly rules (which emulate access rights of the program
// under test) do not apply to it.
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "formats/Text.h"
#include "platform/Win32.h"
#include "platform/host/RegistryStore.h"
#include "tools/kvhost/Commands.h"

namespace kvhost {

namespace {

using kv::host::RegistryPath;
using kv::host::RegistryStore;
using kv::host::RegistryTree;
using kv::win::RegValue;

constexpr const char* kName = "reg";

std::string ValueLabel(const std::string& name) {
  return name.empty() ? "(default)" : "\"" + name + "\"";
}

std::string ValueName(const std::string& arg) {
  return arg == "@" ? std::string() : arg;
}

std::string HexBytes(const std::vector<std::uint8_t>& data) {
  static const char* digits = "0123456789abcdef";
  std::string out;
  for (std::size_t i = 0; i < data.size(); ++i) {
    if (i > 0) out += ',';
    out += digits[data[i] >> 4];
    out += digits[data[i] & 0x0F];
  }
  return out;
}

std::uint64_t LittleEndian(const std::vector<std::uint8_t>& data) {
  std::uint64_t number = 0;
  for (std::size_t i = data.size(); i-- > 0;) number = (number << 8) | data[i];
  return number;
}

// The value's data as a user reads it: strings as they are, numbers in decimal, bytes in hex.
std::string DataText(const RegValue& value) {
  switch (value.type) {
    case kv::win::REG_SZ:
    case kv::win::REG_EXPAND_SZ:
      return value.AsString();
    case kv::win::REG_MULTI_SZ: {
      std::string out;
      for (const auto& s : value.AsMultiString()) out += s + "\n";
      if (!out.empty()) out.pop_back();
      return out;
    }
    case kv::win::REG_DWORD:
    case 11:  // REG_QWORD
      if (value.data.size() == (value.type == kv::win::REG_DWORD ? 4u : 8u)) {
        return std::to_string(LittleEndian(value.data));
      }
      return HexBytes(value.data);
    default:
      return HexBytes(value.data);
  }
}

std::optional<RegistryPath> KeyArgument(const std::string& arg) {
  auto path = kv::host::ParseRegistryPath(arg);
  if (!path) Fail("unknown registry root in " + arg + " (HKEY_LOCAL_MACHINE, HKLM, HKCU, HKCR, HKU)");
  return path;
}

std::optional<std::string> ReadFile(const std::string& name) {
  std::ifstream in(name, std::ios::binary);
  if (!in) return std::nullopt;
  std::ostringstream bytes;
  bytes << in.rdbuf();
  return bytes.str();
}

std::optional<std::uint32_t> ParseDword(const std::string& s) {
  const bool hex = s.size() > 2 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X');
  const std::string digits = hex ? s.substr(2) : s;
  if (digits.empty() ||
      digits.find_first_not_of(hex ? "0123456789abcdefABCDEF" : "0123456789") != std::string::npos) {
    return std::nullopt;
  }
  errno = 0;
  const unsigned long long number = std::strtoull(digits.c_str(), nullptr, hex ? 16 : 10);
  if (errno == ERANGE || number > 0xFFFFFFFFull) return std::nullopt;
  return static_cast<std::uint32_t>(number);
}

std::optional<std::vector<std::uint8_t>> ParseBytes(const std::string& s) {
  std::string digits;
  for (char c : s) {
    if (c != ',' && c != ' ') digits += c;
  }
  if (digits.size() % 2 != 0 || digits.find_first_not_of("0123456789abcdefABCDEF") != std::string::npos) {
    return std::nullopt;
  }
  std::vector<std::uint8_t> bytes;
  for (std::size_t i = 0; i < digits.size(); i += 2) {
    bytes.push_back(static_cast<std::uint8_t>(std::stoul(digits.substr(i, 2), nullptr, 16)));
  }
  return bytes;
}

int Import(const std::vector<std::string>& args) {
  if (args.size() != 2) return Usage(kName);
  const auto bytes = ReadFile(args[1]);
  if (!bytes) return Fail("cannot read " + args[1] + ": " + std::strerror(errno));
  try {
    RegistryStore::Current().Import(*bytes);
  } catch (const kv::host::RegistryFormatError& e) {
    return Fail(args[1] + ", " + e.what());
  }
  return 0;
}

int Export(const std::vector<std::string>& args) {
  if (args.size() != 1) return Usage(kName);
  std::cout << kv::host::FormatRegText(*RegistryStore::Current().Read()) << std::flush;
  return std::cout ? 0 : 1;
}

int Get(const std::vector<std::string>& args) {
  if (args.size() != 2 && args.size() != 3) return Usage(kName);
  const auto path = KeyArgument(args[1]);
  if (!path) return 1;
  const auto tree = RegistryStore::Current().Read();
  const auto* key = tree->Find(*path);
  if (key == nullptr) return Fail("no registry key " + kv::host::RegistryPathText(*path));
  if (args.size() == 2) {
    for (const auto& entry : key->Values())
      std::cout << kv::host::FormatRegValue(entry.name, entry.value) << "\n";
    return 0;
  }
  const std::string name = ValueName(args[2]);
  const auto* entry = key->FindValue(name);
  if (entry == nullptr) {
    return Fail("no value " + ValueLabel(name) + " in " + kv::host::RegistryPathText(*path));
  }
  std::cout << DataText(entry->value) << "\n";
  return 0;
}

int Set(const std::vector<std::string>& args) {
  std::vector<std::string> words;
  std::string type = "sz";
  for (std::size_t i = 1; i < args.size(); ++i) {
    if (args[i] == "--type") {
      if (++i == args.size()) return Usage(kName);
      type = args[i];
    } else if (args[i].rfind("--type=", 0) == 0) {
      type = args[i].substr(7);
    } else {
      words.push_back(args[i]);
    }
  }
  if (words.size() != 3) return Usage(kName);
  const auto path = KeyArgument(words[0]);
  if (!path) return 1;
  const std::string& data = words[2];
  RegValue value;
  if (type == "sz") {
    value = RegValue::String(data);
  } else if (type == "expand") {
    value = RegValue::String(data);
    value.type = kv::win::REG_EXPAND_SZ;
  } else if (type == "dword") {
    const auto number = ParseDword(data);
    if (!number) return Fail("not a 32-bit number (decimal or 0x hex): " + data);
    value = RegValue::Dword(*number);
  } else if (type == "binary") {
    auto bytes = ParseBytes(data);
    if (!bytes) return Fail("not hex bytes (\"01,02\" or \"0102\"): " + data);
    value = RegValue::Binary(std::move(*bytes));
  } else if (type == "multi") {
    value = RegValue::MultiString(data.empty() ? std::vector<std::string>() : kv::text::Split(data, '|'));
  } else {
    std::cerr << "kvhost: unknown value type " << type << " (sz, expand, dword, binary, multi)\n";
    return Usage(kName);
  }
  const std::string name = ValueName(words[1]);
  RegistryStore::Current().Update([&](RegistryTree& tree) {
    tree.Create(*path).SetValue(name, value);
    return kv::win::ERROR_SUCCESS;
  });
  return 0;
}

int Reg(const std::vector<std::string>& args) {
  if (args.empty()) return Usage(kName);
  const std::string& verb = args[0];
  if (verb == "import") return Import(args);
  if (verb == "export") return Export(args);
  if (verb == "get") return Get(args);
  if (verb == "set") return Set(args);
  std::cerr << "kvhost: unknown reg command " << verb << "\n";
  return Usage(kName);
}

const KvhostCommand kRegCommand(
    kName,
    "reg import FILE | reg export | reg get KEY [VALUE] | "
    "reg set KEY NAME VALUE [--type sz|expand|dword|binary|multi]\n"
    "      KEY: HKEY_LOCAL_MACHINE\\SOFTWARE\\X or HKLM\\..., HKCU, HKCR, HKU; NAME @ is the default value;\n"
    "      binary: \"01,02\" or \"0102\"; multi: values separated by '|'; export writes UTF-8 regedit text",
    Reg);

}  // namespace

}  // namespace kvhost
