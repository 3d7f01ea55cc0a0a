// The emulated registry: the regedit file format, the key semantics of the Windows calls, the
// access rules of prefix.ini, several processes sharing one registry file, and kvhost reg.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "formats/Text.h"
#include "platform/Win32.h"
#include "platform/host/Prefix.h"
#include "platform/host/RegistryStore.h"
#include "tests/support/PackageFixtures.h"
#include "tests/support/TempPrefix.h"

namespace kv {
namespace {

namespace fs = std::filesystem;
using host::RegistryStore;
using host::RegistryTree;
using host::RegTextEncoding;
using host::RegTextFormat;
using test::CommandResult;
using test::ReadHostFile;
using test::TempPrefix;
using test::WriteHostFile;
using win::DWORD;
using win::HKEY;
using win::HKEY_CLASSES_ROOT;
using win::HKEY_CURRENT_USER;
using win::HKEY_LOCAL_MACHINE;
using win::RegKey;
using win::RegValue;

const std::string kHeader = "Windows Registry Editor Version 5.00\n\n";

// ---------------------------------------------------------------------------------------------
// Helpers

std::vector<std::uint8_t> Utf16z(std::u16string_view s) {
  std::vector<std::uint8_t> bytes;
  for (char16_t u : s) {
    bytes.push_back(static_cast<std::uint8_t>(u & 0xFF));
    bytes.push_back(static_cast<std::uint8_t>(u >> 8));
  }
  bytes.push_back(0);
  bytes.push_back(0);
  return bytes;
}

RegValue Value(DWORD type, std::vector<std::uint8_t> data) {
  return RegValue{type, std::move(data)};
}

std::vector<std::uint8_t> Sequence(std::size_t count) {
  std::vector<std::uint8_t> bytes(count);
  for (std::size_t i = 0; i < count; ++i) bytes[i] = static_cast<std::uint8_t>(i);
  return bytes;
}

fs::path RegistryFile() {
  return host::Prefix::Current().RegistryFile();
}

// Encodings made by hand, independently of the code under test.
std::string WithCrLf(std::string_view lf) {
  std::string out;
  for (char c : lf) {
    if (c == '\n') out += '\r';
    out += c;
  }
  return out;
}

std::string Utf16LeWithBom(std::string_view utf8) {
  const auto units = text::Utf8ToUtf16LeBytes(utf8);
  return "\xFF\xFE" + std::string(units.begin(), units.end());
}

DWORD Set(HKEY root, const std::string& path, const std::string& name, const RegValue& value) {
  RegKey key;
  if (const DWORD rc = RegKey::Create(root, path, win::KEY_ALL_ACCESS, key)) return rc;
  return key.SetValue(name, value);
}

DWORD Query(HKEY root, const std::string& path, const std::string& name, RegValue& value) {
  RegKey key;
  if (const DWORD rc = RegKey::Open(root, path, win::KEY_READ, key)) return rc;
  return key.QueryValue(name, value);
}

// The text of a value, or "error N" so a failure shows in the comparison.
std::string QueryText(HKEY root, const std::string& path, const std::string& name) {
  RegValue value;
  const DWORD rc = Query(root, path, name, value);
  return rc == win::ERROR_SUCCESS ? value.AsString() : "error " + std::to_string(rc);
}

void ExpectSameValue(const RegValue& actual, const RegValue& expected, const std::string& label) {
  EXPECT_EQ(actual.type, expected.type) << label;
  EXPECT_EQ(actual.data, expected.data) << label;
}

const RegValue* FindValue(const RegistryTree& tree, const std::string& key, const std::string& name) {
  const auto* node = tree.Find(*host::ParseRegistryPath(key));
  const auto* entry = node == nullptr ? nullptr : node->FindValue(name);
  return entry == nullptr ? nullptr : &entry->value;
}

RegistryTree TreeOf(std::string_view regFile) {
  RegistryTree tree;
  for (const auto& op : host::ParseRegFile(regFile).operations) tree.Apply(op);
  return tree;
}

// ---------------------------------------------------------------------------------------------
// The file format

struct TypeCase {
  const char* label;
  std::string name;
  RegValue value;
  std::string line;  // as regedit writes it
};

std::vector<TypeCase> TypeCases() {
  return {
      {"string", "Name", RegValue::String("text"), R"("Name"="text")"},
      {"escapes", "Say \"hi\"", RegValue::String(R"(C:\Program Files\"X")"),
       R"("Say \"hi\""="C:\\Program Files\\\"X\"")"},
      {"accents", "Société", RegValue::String("Éditeur €"), "\"Société\"=\"Éditeur €\""},
      {"empty string", "Empty", RegValue::String(""), R"("Empty"="")"},
      {"default value", "", RegValue::String("default"), R"(@="default")"},
      {"dword", "N", RegValue::Dword(10), R"("N"=dword:0000000a)"},
      {"largest dword", "Max", RegValue::Dword(0xFFFFFFFF), R"("Max"=dword:ffffffff)"},
      {"binary", "B", RegValue::Binary({1, 2}), R"("B"=hex:01,02)"},
      {"empty binary", "E", RegValue::Binary({}), R"("E"=hex:)"},
      {"expandable string", "Path", Value(win::REG_EXPAND_SZ, Utf16z(u"%A%")),
       R"("Path"=hex(2):25,00,41,00,25,00,00,00)"},
      {"multi-string", "M", RegValue::MultiString({"a", "bc"}),
       R"("M"=hex(7):61,00,00,00,62,00,63,00,00,00,00,00)"},
      {"qword", "Q", Value(11, {1, 0, 0, 0, 0, 0, 0, 0x80}), R"("Q"=hex(b):01,00,00,00,00,00,00,80)"},
      {"none", "Z", Value(win::REG_NONE, {}), R"("Z"=hex(0):)"},
      {"unknown type", "T", Value(0x20, {0xAB}), R"("T"=hex(20):ab)"},
      {"string without its null", "Raw", Value(win::REG_SZ, {0x41, 0x00}), R"("Raw"=hex(1):41,00)"},
      {"string with a line break", "Lines", RegValue::String("a\r\nb"),
       R"("Lines"=hex(1):61,00,0d,00,0a,00,62,00,00,00)"},
      {"dword of two bytes", "Short", Value(win::REG_DWORD, {1, 2}), R"("Short"=hex(4):01,02)"},
      {"long binary wraps", "Long", RegValue::Binary(Sequence(30)),
       "\"Long\"=hex:00,01,02,03,04,05,06,07,08,09,0a,0b,0c,0d,0e,0f,10,11,12,13,14,15,\\\n"
       "  16,17,18,19,1a,1b,1c,1d"},
  };
}

TEST(RegFileFormat, EveryValueTypeIsWrittenAsRegeditDoesAndReadBack) {
  const std::vector<RegTextFormat> formats = {{RegTextEncoding::kUtf16LeBom, true},
                                              {RegTextEncoding::kUtf8, false},
                                              {RegTextEncoding::kUtf8Bom, true}};
  for (const auto& c : TypeCases()) {
    RegistryTree tree;
    tree.Create(*host::ParseRegistryPath("HKLM\\SOFTWARE\\Vendor")).SetValue(c.name, c.value);
    const std::string text = host::FormatRegText(tree);
    EXPECT_EQ(text, kHeader + "[HKEY_LOCAL_MACHINE\\SOFTWARE]\n\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Vendor]\n" +
                        c.line + "\n\n")
        << c.label;
    for (const auto& format : formats) {
      const RegistryTree back = TreeOf(host::EncodeRegText(text, format));
      const auto* node = back.Find(*host::ParseRegistryPath("HKEY_LOCAL_MACHINE\\SOFTWARE\\Vendor"));
      ASSERT_NE(node, nullptr) << c.label;
      ASSERT_EQ(node->Values().size(), 1u) << c.label;
      EXPECT_EQ(node->Values()[0].name, c.name) << c.label;
      ExpectSameValue(node->Values()[0].value, c.value, c.label);
    }
  }
}

// Key names may end with blanks, as on Windows: the file written with such a key, alone or as a
// parent, reads back to the same tree (a parent once came back without its last blank, a second key).
TEST(RegFileFormat, KeyNamesEndingWithBlanksReadBackTheSame) {
  const RegistryTree tree =
      TreeOf(kHeader + "[HKEY_CURRENT_USER\\Software\\Trailing \\Child]\n\"x\"=\"y\"\n" +
             "[  HKEY_CURRENT_USER\\Software\\Last\t]\n");
  const std::string text = host::FormatRegText(tree);
  EXPECT_EQ(host::FormatRegText(TreeOf(text)), text);
  EXPECT_NE(tree.Find(*host::ParseRegistryPath("HKCU\\Software\\Trailing ")), nullptr);
  EXPECT_EQ(tree.Find(*host::ParseRegistryPath("HKCU\\Software\\Trailing")), nullptr);
  EXPECT_NE(tree.Find(*host::ParseRegistryPath("HKCU\\Software\\Last\t")), nullptr);
  const auto* software = tree.Find(*host::ParseRegistryPath("HKCU\\Software"));
  ASSERT_NE(software, nullptr);
  EXPECT_EQ(software->SubKeys().size(), 2u);
}

TEST(RegFileFormat, LongHexDataIsWrappedWithinEightyColumnsAndReadBack) {
  RegistryTree tree;
  const auto data = Sequence(200);
  tree.Create(*host::ParseRegistryPath("HKCU\\Software\\X")).SetValue("Blob", RegValue::Binary(data));
  const std::string text = host::FormatRegText(tree);
  std::istringstream lines(text);
  std::string line;
  std::size_t continued = 0;
  bool previousContinues = false;
  while (std::getline(lines, line)) {
    EXPECT_LE(line.size(), 80u) << line;
    if (previousContinues) {
      EXPECT_EQ(line.substr(0, 2), "  ") << line;
      EXPECT_NE(line[2], ' ') << line;
      ++continued;
    }
    previousContinues = !line.empty() && line.back() == '\\';
  }
  EXPECT_GE(continued, 7u);  // 200 bytes need 8 or 9 lines of at most 25 bytes
  const RegistryTree reread = TreeOf(text);
  const auto* back = FindValue(reread, "HKEY_CURRENT_USER\\Software\\X", "blob");
  ASSERT_NE(back, nullptr);
  EXPECT_EQ(back->data, data);
}

TEST(RegFileFormat, ContinuationLinesCommentsAndLaxSpacingAreRead) {
  const std::string file = kHeader +
                           "; exported by hand\n"
                           "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Vendor]   ; the vendor [main]\n"
                           "\"Bin\"=hex:01,02,\\\n"
                           "      03,04,\\\n"
                           "  05\n"
                           "\"Multi\"=hex(7):61,00,00,00,\\\n"
                           "  ; a comment inside the data\n"
                           "  62,00,00,00,00,00\n"
                           "\"Spaced\" = dword:FF\n"
                           "\"Path\"=\"C:\\Windows\"\n"
                           "@=\"after\"\n"
                           "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Odd]Name]\n";
  const RegistryTree tree = TreeOf(file);
  const std::string key = "HKLM\\software\\vendor";
  ASSERT_NE(FindValue(tree, key, "Bin"), nullptr);
  EXPECT_EQ(FindValue(tree, key, "Bin")->data, (std::vector<std::uint8_t>{1, 2, 3, 4, 5}));
  ASSERT_NE(FindValue(tree, key, "Multi"), nullptr);
  EXPECT_EQ(FindValue(tree, key, "Multi")->AsMultiString(), (std::vector<std::string>{"a", "b"}));
  ASSERT_NE(FindValue(tree, key, "Spaced"), nullptr);
  ExpectSameValue(*FindValue(tree, key, "Spaced"), RegValue::Dword(255), "Spaced");
  // A lone backslash is no escape: hand-written paths keep it.
  ASSERT_NE(FindValue(tree, key, "Path"), nullptr);
  EXPECT_EQ(FindValue(tree, key, "Path")->AsString(), "C:\\Windows");
  ASSERT_NE(FindValue(tree, key, ""), nullptr);
  EXPECT_EQ(FindValue(tree, key, "")->AsString(), "after");
  EXPECT_NE(tree.Find(*host::ParseRegistryPath("HKLM\\SOFTWARE\\Odd]Name")), nullptr);
}

TEST(RegFileFormat, Regedit4FilesHoldCodePageStrings) {
  const std::string file =
      "REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Old]\r\n\"Nom\"=\"Soci\xE9t\xE9\"\r\n"
      "\"Exp\"=hex(2):25,41,e9,25,00\r\n";
  const RegistryTree tree = TreeOf(file);
  ASSERT_NE(FindValue(tree, "HKLM\\SOFTWARE\\Old", "Nom"), nullptr);
  EXPECT_EQ(FindValue(tree, "HKLM\\SOFTWARE\\Old", "Nom")->AsString(), "Société");
  ASSERT_NE(FindValue(tree, "HKLM\\SOFTWARE\\Old", "Exp"), nullptr);
  ExpectSameValue(*FindValue(tree, "HKLM\\SOFTWARE\\Old", "Exp"), Value(win::REG_EXPAND_SZ, Utf16z(u"%Aé%")),
                  "Exp");
}

TEST(RegFileFormat, SectionsAreSortedParentsFirstAndClassesRootIsAnAlias) {
  const std::string file = kHeader +
                           "[HKEY_LOCAL_MACHINE\\SOFTWARE\\b]\n\n"
                           "[HKEY_CLASSES_ROOT\\.kv]\n@=\"KvFile\"\n\n"
                           "[HKEY_USERS\\S-1]\n\n"
                           "[HKEY_LOCAL_MACHINE\\SOFTWARE\\A\\Child]\n\n"
                           "[HKEY_CURRENT_USER\\Software]\n\"Z\"=\"z\"\n\"A\"=\"a\"\n\n";
  EXPECT_EQ(host::FormatRegText(TreeOf(file)),
            kHeader +
                "[HKEY_CURRENT_USER\\Software]\n\"Z\"=\"z\"\n\"A\"=\"a\"\n\n"
                "[HKEY_LOCAL_MACHINE\\SOFTWARE]\n\n"
                "[HKEY_LOCAL_MACHINE\\SOFTWARE\\A]\n\n"
                "[HKEY_LOCAL_MACHINE\\SOFTWARE\\A\\Child]\n\n"
                "[HKEY_LOCAL_MACHINE\\SOFTWARE\\b]\n\n"
                "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Classes]\n\n"
                "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Classes\\.kv]\n@=\"KvFile\"\n\n"
                "[HKEY_USERS\\S-1]\n\n");
}

TEST(RegFileFormat, MalformedFilesNameTheirLine) {
  const struct {
    const char* label;
    std::string file;
    std::size_t line;
  } cases[] = {
      {"no header", "[HKEY_LOCAL_MACHINE\\SOFTWARE]\n", 1},
      {"other header", "Windows Registry Editor Version 6.00\n\n", 1},
      {"unknown root", kHeader + "[HKEY_NOWHERE\\X]\n", 3},
      {"unclosed section", kHeader + "[HKEY_LOCAL_MACHINE\\X\n", 3},
      {"value outside any key", kHeader + "\"A\"=\"b\"\n", 3},
      {"bad dword", kHeader + "[HKLM\\X]\n\"N\"=dword:12345678a\n", 4},
      {"bad hex byte", kHeader + "[HKLM\\X]\n\"B\"=hex:01,234\n", 4},
      {"bad hex type", kHeader + "[HKLM\\X]\n\"B\"=hex(z):01\n", 4},
      {"unterminated name", kHeader + "[HKLM\\X]\n\"B=\"x\n", 4},
      {"unterminated string", kHeader + "[HKLM\\X]\n\n\"B\"=\"x\n", 5},
      {"unknown data", kHeader + "[HKLM\\X]\n\"B\"=str:x\n", 4},
      {"stray line", kHeader + "[HKLM\\X]\nB=x\n", 4},
      {"root deletion", kHeader + "[-HKEY_LOCAL_MACHINE]\n", 3},
  };
  for (const auto& c : cases) {
    try {
      host::ParseRegFile(c.file);
      ADD_FAILURE() << c.label << ": accepted";
    } catch (const host::RegistryFormatError& e) {
      EXPECT_EQ(e.line(), c.line) << c.label << ": " << e.what();
      EXPECT_EQ(e.code(), win::ERROR_BADDB) << c.label;
    }
  }
}

// ---------------------------------------------------------------------------------------------
// The registry file of the prefix

constexpr std::string_view kSample =
    "Windows Registry Editor Version 5.00\n"
    "\n"
    "[HKEY_LOCAL_MACHINE\\SOFTWARE\\KORVANE S.A.\\TSV]\n"
    "\"Nom\"=\"Société Générale\"\n"
    "\"Version\"=dword:00000107\n"
    "\"Dossiers\"=hex(7):43,00,3a,00,5c,00,00,00,44,00,3a,00,5c,00,00,00,00,00\n"
    "\n";

TEST(RegistryFile, EveryEncodingReadsTheSameAndIsKeptOnRewrite) {
  const struct {
    const char* label;
    std::string bytes;
    std::string bom;
    bool crlf;
  } cases[] = {
      {"UTF-16LE with BOM, CR LF", Utf16LeWithBom(WithCrLf(kSample)), "\xFF\xFE", true},
      {"UTF-8 with BOM, CR LF", "\xEF\xBB\xBF" + WithCrLf(kSample), "\xEF\xBB\xBF", true},
      {"UTF-8, LF", std::string(kSample), "", false},
      {"UTF-8, CR LF", WithCrLf(kSample), "", true},
  };
  for (const auto& c : cases) {
    TempPrefix prefix;
    WriteHostFile(RegistryFile(), c.bytes);
    const std::string key = "SOFTWARE\\KORVANE S.A.\\TSV";
    EXPECT_EQ(QueryText(HKEY_LOCAL_MACHINE, key, "Nom"), "Société Générale") << c.label;
    RegValue value;
    ASSERT_EQ(Query(HKEY_LOCAL_MACHINE, key, "Version", value), win::ERROR_SUCCESS) << c.label;
    ExpectSameValue(value, RegValue::Dword(0x107), c.label);
    ASSERT_EQ(Query(HKEY_LOCAL_MACHINE, key, "Dossiers", value), win::ERROR_SUCCESS) << c.label;
    EXPECT_EQ(value.AsMultiString(), (std::vector<std::string>{"C:\\", "D:\\"})) << c.label;

    ASSERT_EQ(Set(HKEY_LOCAL_MACHINE, key, "Ajout", RegValue::String("é")), win::ERROR_SUCCESS) << c.label;
    const std::string rewritten = ReadHostFile(RegistryFile());
    EXPECT_EQ(rewritten.substr(0, c.bom.size()), c.bom) << c.label;
    const std::string text =
        c.bom == "\xFF\xFE"
            ? text::Utf16LeBytesToUtf8(reinterpret_cast<const std::uint8_t*>(rewritten.data()) + 2,
                                       rewritten.size() - 2)
            : rewritten.substr(c.bom.size());
    EXPECT_EQ(text.find("\r\n") != std::string::npos, c.crlf) << c.label;
    EXPECT_NE(text.find("\"Ajout\"=\"é\""), std::string::npos) << c.label;
    EXPECT_EQ(QueryText(HKEY_LOCAL_MACHINE, key, "Nom"), "Société Générale") << c.label;
  }
}

TEST(RegistryFile, ANewRegistryIsUtf16WithCrLf) {
  TempPrefix prefix;
  fs::remove(RegistryFile());
  ASSERT_EQ(Set(HKEY_CURRENT_USER, "Software\\New", "V", RegValue::Dword(1)), win::ERROR_SUCCESS);
  const std::string bytes = ReadHostFile(RegistryFile());
  const std::string expected = Utf16LeWithBom(
      WithCrLf(kHeader + "[HKEY_CURRENT_USER\\Software]\n\n[HKEY_CURRENT_USER\\Software\\New]\n"
                         "\"V\"=dword:00000001\n\n"));
  EXPECT_EQ(bytes, expected);
}

TEST(RegistryFile, AMalformedFileIsReportedAndNeverOverwritten) {
  TempPrefix prefix;
  const std::string broken = kHeader + "[HKEY_LOCAL_MACHINE\\SOFTWARE\\X]\n\"N\"=dword:zz\n";
  WriteHostFile(RegistryFile(), broken);
  RegKey key;
  EXPECT_EQ(RegKey::Open(HKEY_LOCAL_MACHINE, "SOFTWARE\\X", win::KEY_READ, key), win::ERROR_BADDB);
  EXPECT_FALSE(key.IsOpen());
  EXPECT_EQ(Set(HKEY_LOCAL_MACHINE, "SOFTWARE\\Y", "V", RegValue::Dword(1)), win::ERROR_BADDB);
  EXPECT_EQ(ReadHostFile(RegistryFile()), broken);
}

TEST(RegistryFile, ChangesByHandAreSeenByTheNextCall) {
  TempPrefix prefix;
  ASSERT_EQ(Set(HKEY_LOCAL_MACHINE, "SOFTWARE\\X", "V", RegValue::String("one")), win::ERROR_SUCCESS);
  EXPECT_EQ(QueryText(HKEY_LOCAL_MACHINE, "SOFTWARE\\X", "V"), "one");
  // Same size, same second: only the content tells the two files apart.
  WriteHostFile(RegistryFile(), kHeader + "[HKEY_LOCAL_MACHINE\\SOFTWARE\\X]\n\"V\"=\"two\"\n");
  EXPECT_EQ(QueryText(HKEY_LOCAL_MACHINE, "SOFTWARE\\X", "V"), "two");
  WriteHostFile(RegistryFile(), kHeader + "[HKEY_LOCAL_MACHINE\\SOFTWARE\\X]\n\"V\"=\"six\"\n");
  EXPECT_EQ(QueryText(HKEY_LOCAL_MACHINE, "SOFTWARE\\X", "V"), "six");
}

// ---------------------------------------------------------------------------------------------
// Keys and values as the Windows calls handle them

TEST(RegistryKeys, NamesIgnoreCaseAndKeepTheSpellingOfTheirCreation) {
  TempPrefix prefix;
  ASSERT_EQ(Set(HKEY_LOCAL_MACHINE, "SOFTWARE\\Vendor\\App", "InstallPath", RegValue::String("C:\\App")),
            win::ERROR_SUCCESS);
  ASSERT_EQ(Set(HKEY_LOCAL_MACHINE, "software\\VENDOR\\app", "INSTALLPATH", RegValue::String("D:\\App")),
            win::ERROR_SUCCESS);
  EXPECT_EQ(QueryText(HKEY_LOCAL_MACHINE, "\\Software\\Vendor\\APP\\", "installpath"), "D:\\App");

  RegKey vendor;
  ASSERT_EQ(RegKey::Open(HKEY_LOCAL_MACHINE, "\\SOFTWARE\\vendor", win::KEY_READ, vendor),
            win::ERROR_SUCCESS);
  EXPECT_EQ(vendor.SubKeyNames(), (std::vector<std::string>{"App"}));
  RegKey app;
  ASSERT_EQ(RegKey::Open(HKEY_LOCAL_MACHINE, "SOFTWARE\\VENDOR\\APP", win::KEY_READ, app),
            win::ERROR_SUCCESS);
  EXPECT_EQ(app.ValueNames(), (std::vector<std::string>{"InstallPath"}));
  // Accented capitals fold as Windows folds them.
  ASSERT_EQ(Set(HKEY_LOCAL_MACHINE, "SOFTWARE\\Société", "Élément", RegValue::Dword(1)), win::ERROR_SUCCESS);
  RegValue value;
  EXPECT_EQ(Query(HKEY_LOCAL_MACHINE, "SOFTWARE\\SOCIÉTÉ", "élément", value), win::ERROR_SUCCESS);
}

TEST(RegistryKeys, ClassesRootIsTheClassesKeyOfTheMachine) {
  TempPrefix prefix;
  ASSERT_EQ(Set(HKEY_CLASSES_ROOT, ".kv", "", RegValue::String("KvFile")), win::ERROR_SUCCESS);
  EXPECT_EQ(QueryText(HKEY_LOCAL_MACHINE, "SOFTWARE\\Classes\\.kv", ""), "KvFile");
  EXPECT_TRUE(RegKey::Exists(HKEY_CLASSES_ROOT, ".KV"));
  RegKey key;
  EXPECT_EQ(RegKey::Open(0x12345678, "SOFTWARE", win::KEY_READ, key), win::ERROR_INVALID_HANDLE);
}

TEST(RegistryKeys, OpenCreateQueryAndDeleteAnswerAsWindows) {
  TempPrefix prefix;
  RegKey key;
  EXPECT_EQ(RegKey::Open(HKEY_LOCAL_MACHINE, "SOFTWARE\\A", win::KEY_READ, key), win::ERROR_FILE_NOT_FOUND);
  EXPECT_FALSE(key.IsOpen());

  ASSERT_EQ(RegKey::Create(HKEY_LOCAL_MACHINE, "SOFTWARE\\A\\B\\C", win::KEY_ALL_ACCESS, key),
            win::ERROR_SUCCESS);
  EXPECT_TRUE(key.IsOpen());
  EXPECT_EQ(key.Path(), "SOFTWARE\\A\\B\\C");
  EXPECT_TRUE(RegKey::Exists(HKEY_LOCAL_MACHINE, "SOFTWARE\\A"));
  EXPECT_TRUE(RegKey::Exists(HKEY_LOCAL_MACHINE, "SOFTWARE\\A\\B"));
  RegValue value;
  EXPECT_EQ(key.QueryValue("Missing", value), win::ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(key.DeleteValue("Missing"), win::ERROR_FILE_NOT_FOUND);

  EXPECT_EQ(RegKey::DeleteKey(HKEY_LOCAL_MACHINE, "SOFTWARE\\A"), win::ERROR_ACCESS_DENIED);
  RegKey a;
  ASSERT_EQ(RegKey::Open(HKEY_LOCAL_MACHINE, "SOFTWARE\\A", win::KEY_ALL_ACCESS, a), win::ERROR_SUCCESS);
  EXPECT_EQ(a.DeleteSubKey("B"), win::ERROR_ACCESS_DENIED);
  EXPECT_TRUE(RegKey::Exists(HKEY_LOCAL_MACHINE, "SOFTWARE\\A\\B"));
  EXPECT_EQ(a.DeleteSubKey("Nothing"), win::ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(a.DeleteSubKey("B\\C"), win::ERROR_SUCCESS);
  EXPECT_EQ(a.DeleteSubKey("b"), win::ERROR_SUCCESS);
  EXPECT_EQ(RegKey::DeleteKey(HKEY_LOCAL_MACHINE, "SOFTWARE\\A"), win::ERROR_SUCCESS);
  EXPECT_EQ(RegKey::DeleteKey(HKEY_LOCAL_MACHINE, "SOFTWARE\\A"), win::ERROR_FILE_NOT_FOUND);
  EXPECT_FALSE(RegKey::Exists(HKEY_LOCAL_MACHINE, "SOFTWARE\\A"));
  EXPECT_EQ(RegKey::DeleteKey(HKEY_LOCAL_MACHINE, ""), win::ERROR_ACCESS_DENIED);
}

TEST(RegistryKeys, WritesNeedTheRightsGivenAtOpen) {
  TempPrefix prefix;
  ASSERT_EQ(Set(HKEY_LOCAL_MACHINE, "SOFTWARE\\Vendor\\Sub", "V", RegValue::String("kept")),
            win::ERROR_SUCCESS);
  ASSERT_EQ(Set(HKEY_LOCAL_MACHINE, "SOFTWARE\\Vendor", "V", RegValue::String("kept")), win::ERROR_SUCCESS);
  RegKey key;
  ASSERT_EQ(RegKey::Open(HKEY_LOCAL_MACHINE, "SOFTWARE\\Vendor", win::KEY_READ, key), win::ERROR_SUCCESS);
  EXPECT_EQ(key.SetValue("V", RegValue::String("changed")), win::ERROR_ACCESS_DENIED);
  EXPECT_EQ(key.DeleteValue("V"), win::ERROR_ACCESS_DENIED);
  EXPECT_EQ(key.DeleteSubKey("Sub"), win::ERROR_ACCESS_DENIED);
  EXPECT_EQ(QueryText(HKEY_LOCAL_MACHINE, "SOFTWARE\\Vendor", "V"), "kept");
  EXPECT_TRUE(RegKey::Exists(HKEY_LOCAL_MACHINE, "SOFTWARE\\Vendor\\Sub"));
  // And reads need read rights.
  RegKey writeOnly;
  ASSERT_EQ(RegKey::Open(HKEY_LOCAL_MACHINE, "SOFTWARE\\Vendor", win::KEY_SET_VALUE, writeOnly),
            win::ERROR_SUCCESS);
  RegValue value;
  EXPECT_EQ(writeOnly.QueryValue("V", value), win::ERROR_ACCESS_DENIED);
  EXPECT_EQ(writeOnly.SetValue("V", RegValue::String("changed")), win::ERROR_SUCCESS);
  EXPECT_EQ(QueryText(HKEY_LOCAL_MACHINE, "SOFTWARE\\Vendor", "V"), "changed");
}

TEST(RegistryKeys, InfoCountsAndNamesEnumerateInStoredOrder) {
  TempPrefix prefix;
  RegKey key;
  ASSERT_EQ(RegKey::Create(HKEY_CURRENT_USER, "Software\\List", win::KEY_ALL_ACCESS, key),
            win::ERROR_SUCCESS);
  for (const char* sub : {"Zeta", "alpha", "Mid"}) {
    RegKey child;
    ASSERT_EQ(RegKey::Create(HKEY_CURRENT_USER, std::string("Software\\List\\") + sub, win::KEY_READ, child),
              win::ERROR_SUCCESS);
  }
  for (const char* name : {"z", "a", "M"})
    ASSERT_EQ(key.SetValue(name, RegValue::Dword(1)), win::ERROR_SUCCESS);
  ASSERT_EQ(key.SetValue("A", RegValue::Dword(2)), win::ERROR_SUCCESS);  // replaces "a" in its place
  DWORD subKeys = 0, values = 0;
  ASSERT_EQ(key.QueryInfo(subKeys, values), win::ERROR_SUCCESS);
  EXPECT_EQ(subKeys, 3u);
  EXPECT_EQ(values, 3u);
  EXPECT_EQ(key.SubKeyNames(), (std::vector<std::string>{"alpha", "Mid", "Zeta"}));
  EXPECT_EQ(key.ValueNames(), (std::vector<std::string>{"z", "a", "M"}));
  ASSERT_EQ(key.DeleteValue("Z"), win::ERROR_SUCCESS);
  EXPECT_EQ(key.ValueNames(), (std::vector<std::string>{"a", "M"}));
}

TEST(RegistryKeys, AKeyDeletedWhileOpenAnswersKeyDeleted) {
  TempPrefix prefix;
  RegKey key;
  ASSERT_EQ(RegKey::Create(HKEY_LOCAL_MACHINE, "SOFTWARE\\Gone", win::KEY_ALL_ACCESS, key),
            win::ERROR_SUCCESS);
  ASSERT_EQ(RegKey::DeleteKey(HKEY_LOCAL_MACHINE, "SOFTWARE\\Gone"), win::ERROR_SUCCESS);
  RegValue value;
  EXPECT_EQ(key.QueryValue("V", value), win::ERROR_KEY_DELETED);
  EXPECT_EQ(key.SetValue("V", RegValue::Dword(1)), win::ERROR_KEY_DELETED);
  EXPECT_FALSE(RegKey::Exists(HKEY_LOCAL_MACHINE, "SOFTWARE\\Gone"));
  EXPECT_TRUE(key.SubKeyNames().empty());
  EXPECT_EQ(win::GetLastError(), win::ERROR_KEY_DELETED);
}

// ---------------------------------------------------------------------------------------------
// RegValue

TEST(RegValueHelpers, BuildTheBytesWindowsStores) {
  EXPECT_EQ(RegValue::String("é").data, (std::vector<std::uint8_t>{0xE9, 0, 0, 0}));
  EXPECT_EQ(RegValue::String("").data, (std::vector<std::uint8_t>{0, 0}));
  EXPECT_EQ(RegValue::String("\xF0\x9D\x84\x9E").data,
            (std::vector<std::uint8_t>{0x34, 0xD8, 0x1E, 0xDD, 0, 0}));
  EXPECT_EQ(RegValue::String("x").type, win::REG_SZ);
  EXPECT_EQ(RegValue::Dword(0x0A0B0C0D).data, (std::vector<std::uint8_t>{0x0D, 0x0C, 0x0B, 0x0A}));
  EXPECT_EQ(RegValue::Dword(1).type, win::REG_DWORD);
  EXPECT_EQ(RegValue::Binary({9, 8}).type, win::REG_BINARY);
  EXPECT_EQ(RegValue::MultiString({"a", "bc"}).data,
            (std::vector<std::uint8_t>{'a', 0, 0, 0, 'b', 0, 'c', 0, 0, 0, 0, 0}));
  EXPECT_EQ(RegValue::MultiString({}).data, (std::vector<std::uint8_t>{0, 0}));
  EXPECT_EQ(RegValue::MultiString({"a"}).type, win::REG_MULTI_SZ);
}

TEST(RegValueHelpers, ReadTextBackUpToItsNulls) {
  EXPECT_EQ(Value(win::REG_SZ, Utf16z(u"ab\0cd")).AsString(), "ab");
  EXPECT_EQ(Value(win::REG_SZ, {'a', 0, 'b', 0}).AsString(), "ab");  // no terminating null
  EXPECT_EQ(Value(win::REG_EXPAND_SZ, Utf16z(u"%TEMP%")).AsString(), "%TEMP%");
  EXPECT_EQ(RegValue::String("\xF0\x9D\x84\x9E é").AsString(), "\xF0\x9D\x84\x9E é");

  const std::vector<std::vector<std::string>> lists = {
      {}, {"a"}, {"a", "bc"}, {"\\??\\C:\\old.dll", ""}, {"a", "", "b"}, {"Société"}};
  for (const auto& list : lists) EXPECT_EQ(RegValue::MultiString(list).AsMultiString(), list);
  EXPECT_EQ(Value(win::REG_MULTI_SZ, {'a', 0, 0, 0, 'b', 0}).AsMultiString(),
            (std::vector<std::string>{"a", "b"}));
  EXPECT_EQ(Value(win::REG_MULTI_SZ, {'a', 0, 0, 0, 'b', 0, 0, 0}).AsMultiString(),
            (std::vector<std::string>{"a", "b"}));
  EXPECT_TRUE(Value(win::REG_MULTI_SZ, {0, 0, 0, 0}).AsMultiString().empty());
}

// ---------------------------------------------------------------------------------------------
// Import

TEST(RegistryImport, MergesAndHonoursDeletions) {
  TempPrefix prefix;
  ASSERT_EQ(Set(HKEY_LOCAL_MACHINE, "SOFTWARE\\Vendor\\Old\\Child", "V", RegValue::Dword(1)),
            win::ERROR_SUCCESS);
  ASSERT_EQ(Set(HKEY_LOCAL_MACHINE, "SOFTWARE\\Vendor\\Kept", "V", RegValue::Dword(1)), win::ERROR_SUCCESS);
  ASSERT_EQ(Set(HKEY_LOCAL_MACHINE, "SOFTWARE\\Vendor", "Gone", RegValue::String("x")), win::ERROR_SUCCESS);
  ASSERT_EQ(Set(HKEY_LOCAL_MACHINE, "SOFTWARE\\Vendor", "Stay", RegValue::String("s")), win::ERROR_SUCCESS);
  ASSERT_EQ(Set(HKEY_LOCAL_MACHINE, "SOFTWARE\\Vendor", "", RegValue::String("d")), win::ERROR_SUCCESS);

  const std::string import = kHeader +
                             "[-HKEY_LOCAL_MACHINE\\SOFTWARE\\VENDOR\\old]\n"
                             "\"Ignored\"=\"under a deleted key\"\n\n"
                             "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Vendor]\n"
                             "\"gone\"=-\n"
                             "@=-\n"
                             "\"Stay\"=\"replaced\"\n"
                             "\"New\"=dword:00000002\n\n"
                             "[-HKEY_LOCAL_MACHINE\\SOFTWARE\\NeverThere]\n";
  RegistryStore::Current().Import(Utf16LeWithBom(WithCrLf(import)));

  EXPECT_FALSE(RegKey::Exists(HKEY_LOCAL_MACHINE, "SOFTWARE\\Vendor\\Old"));
  EXPECT_FALSE(RegKey::Exists(HKEY_LOCAL_MACHINE, "SOFTWARE\\Vendor\\Old\\Child"));
  EXPECT_TRUE(RegKey::Exists(HKEY_LOCAL_MACHINE, "SOFTWARE\\Vendor\\Kept"));
  RegKey vendor;
  ASSERT_EQ(RegKey::Open(HKEY_LOCAL_MACHINE, "SOFTWARE\\Vendor", win::KEY_READ, vendor), win::ERROR_SUCCESS);
  EXPECT_EQ(vendor.ValueNames(), (std::vector<std::string>{"Stay", "New"}));
  EXPECT_EQ(QueryText(HKEY_LOCAL_MACHINE, "SOFTWARE\\Vendor", "Stay"), "replaced");
}

TEST(RegistryImport, AMalformedFileChangesNothing) {
  TempPrefix prefix;
  ASSERT_EQ(Set(HKEY_LOCAL_MACHINE, "SOFTWARE\\Vendor", "V", RegValue::String("before")), win::ERROR_SUCCESS);
  const std::string before = ReadHostFile(RegistryFile());
  const std::string import =
      kHeader + "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Vendor]\n\"V\"=\"after\"\n\"N\"=dword:x\n";
  EXPECT_THROW(RegistryStore::Current().Import(import), host::RegistryFormatError);
  EXPECT_EQ(ReadHostFile(RegistryFile()), before);
}

// ---------------------------------------------------------------------------------------------
// Access rules of prefix.ini and of the file

class RegistryAccess : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const char* path : {"SOFTWARE\\Locked\\Sub", "SOFTWARE\\LockedOut", "SOFTWARE\\Frozen\\Child"}) {
      ASSERT_EQ(Set(HKEY_LOCAL_MACHINE, path, "V", RegValue::String("v")), win::ERROR_SUCCESS) << path;
    }
    ASSERT_EQ(Set(HKEY_LOCAL_MACHINE, "SOFTWARE\\Frozen", "V", RegValue::String("frozen")),
              win::ERROR_SUCCESS);
    ASSERT_EQ(Set(HKEY_CURRENT_USER, "Software\\Hidden", "V", RegValue::String("v")), win::ERROR_SUCCESS);
    host::Prefix::Current().SetIni("registry", "deny",
                                   "HKEY_LOCAL_MACHINE\\SOFTWARE\\Locked; HKCU\\Software\\Hidden");
    host::Prefix::Current().SetIni("registry", "readonly", "HKLM\\SOFTWARE\\Frozen");
  }

  TempPrefix prefix_;
};

TEST_F(RegistryAccess, DeniedAndReadOnlyKeysRefuseTheirOpens) {
  const struct {
    HKEY root;
    const char* path;
    DWORD access;
    DWORD expected;
  } cases[] = {
      {HKEY_LOCAL_MACHINE, "SOFTWARE\\Locked", win::KEY_READ, win::ERROR_ACCESS_DENIED},
      {HKEY_LOCAL_MACHINE, "software\\LOCKED\\sub", win::KEY_QUERY_VALUE, win::ERROR_ACCESS_DENIED},
      {HKEY_LOCAL_MACHINE, "SOFTWARE\\LockedOut", win::KEY_ALL_ACCESS, win::ERROR_SUCCESS},
      {HKEY_CURRENT_USER, "Software\\Hidden", win::KEY_READ, win::ERROR_ACCESS_DENIED},
      {HKEY_LOCAL_MACHINE, "SOFTWARE\\Frozen", win::KEY_READ, win::ERROR_SUCCESS},
      {HKEY_LOCAL_MACHINE, "SOFTWARE\\Frozen\\Child", win::KEY_QUERY_VALUE, win::ERROR_SUCCESS},
      {HKEY_LOCAL_MACHINE, "SOFTWARE\\Frozen", win::KEY_SET_VALUE, win::ERROR_ACCESS_DENIED},
      {HKEY_LOCAL_MACHINE, "SOFTWARE\\Frozen", win::KEY_CREATE_SUB_KEY, win::ERROR_ACCESS_DENIED},
      {HKEY_LOCAL_MACHINE, "SOFTWARE\\Frozen", win::KEY_WRITE, win::ERROR_ACCESS_DENIED},
      {HKEY_LOCAL_MACHINE, "SOFTWARE\\FROZEN", win::KEY_ALL_ACCESS, win::ERROR_ACCESS_DENIED},
      {HKEY_LOCAL_MACHINE, "SOFTWARE\\Frozen\\Child", win::KEY_ALL_ACCESS, win::ERROR_ACCESS_DENIED},
      {HKEY_LOCAL_MACHINE, "SOFTWARE\\Frozen", 0x40000000 /* GENERIC_WRITE */, win::ERROR_ACCESS_DENIED},
      {HKEY_LOCAL_MACHINE, "SOFTWARE", win::KEY_ALL_ACCESS, win::ERROR_SUCCESS},
      {HKEY_LOCAL_MACHINE, "SOFTWARE\\Missing", win::KEY_READ, win::ERROR_FILE_NOT_FOUND},
  };
  for (const auto& c : cases) {
    RegKey key;
    EXPECT_EQ(RegKey::Open(c.root, c.path, c.access, key), c.expected) << c.path << " access " << c.access;
    EXPECT_EQ(key.IsOpen(), c.expected == win::ERROR_SUCCESS) << c.path;
  }
}

TEST_F(RegistryAccess, ReadOnlyKeysReadButNeverChange) {
  EXPECT_EQ(QueryText(HKEY_LOCAL_MACHINE, "SOFTWARE\\Frozen", "V"), "frozen");
  RegKey key;
  EXPECT_EQ(RegKey::Create(HKEY_LOCAL_MACHINE, "SOFTWARE\\Frozen", win::KEY_READ, key), win::ERROR_SUCCESS);
  EXPECT_EQ(RegKey::Create(HKEY_LOCAL_MACHINE, "SOFTWARE\\Frozen\\New", win::KEY_READ, key),
            win::ERROR_ACCESS_DENIED);
  EXPECT_FALSE(RegKey::Exists(HKEY_LOCAL_MACHINE, "SOFTWARE\\Frozen\\New"));
  EXPECT_EQ(RegKey::DeleteKey(HKEY_LOCAL_MACHINE, "SOFTWARE\\Frozen\\Child"), win::ERROR_ACCESS_DENIED);
  EXPECT_TRUE(RegKey::Exists(HKEY_LOCAL_MACHINE, "SOFTWARE\\Frozen\\Child"));
  RegKey software;
  ASSERT_EQ(RegKey::Open(HKEY_LOCAL_MACHINE, "SOFTWARE", win::KEY_ALL_ACCESS, software), win::ERROR_SUCCESS);
  EXPECT_EQ(software.DeleteSubKey("Locked\\Sub"), win::ERROR_ACCESS_DENIED);
  EXPECT_TRUE(RegKey::Exists(HKEY_LOCAL_MACHINE, "SOFTWARE\\Locked\\Sub"));
  EXPECT_EQ(RegKey::Create(HKEY_LOCAL_MACHINE, "SOFTWARE\\Locked\\New", win::KEY_ALL_ACCESS, key),
            win::ERROR_ACCESS_DENIED);
  // A denied key still exists: its parent lists it.
  EXPECT_TRUE(RegKey::Exists(HKEY_LOCAL_MACHINE, "SOFTWARE\\Locked"));
  const auto names = software.SubKeyNames();
  EXPECT_NE(std::find(names.begin(), names.end(), "Locked"), names.end());
}

TEST_F(RegistryAccess, AFileThatCannotBeWrittenRefusesEveryWrite) {
  const std::string before = ReadHostFile(RegistryFile());
  ASSERT_EQ(::chmod(RegistryFile().c_str(), 0444), 0);
  RegKey key;
  ASSERT_EQ(RegKey::Open(HKEY_LOCAL_MACHINE, "SOFTWARE\\LockedOut", win::KEY_ALL_ACCESS, key),
            win::ERROR_SUCCESS);
  EXPECT_EQ(key.SetValue("V", RegValue::String("changed")), win::ERROR_ACCESS_DENIED);
  EXPECT_EQ(key.DeleteValue("V"), win::ERROR_ACCESS_DENIED);
  EXPECT_EQ(RegKey::Create(HKEY_LOCAL_MACHINE, "SOFTWARE\\Brand\\New", win::KEY_ALL_ACCESS, key),
            win::ERROR_ACCESS_DENIED);
  EXPECT_EQ(RegKey::DeleteKey(HKEY_LOCAL_MACHINE, "SOFTWARE\\LockedOut"), win::ERROR_ACCESS_DENIED);
  // Reads still work and opening an existing key needs no write.
  EXPECT_EQ(QueryText(HKEY_LOCAL_MACHINE, "SOFTWARE\\LockedOut", "V"), "v");
  EXPECT_EQ(RegKey::Create(HKEY_LOCAL_MACHINE, "SOFTWARE\\LockedOut", win::KEY_ALL_ACCESS, key),
            win::ERROR_SUCCESS);
  EXPECT_EQ(ReadHostFile(RegistryFile()), before);
  ASSERT_EQ(::chmod(RegistryFile().c_str(), 0644), 0);
  EXPECT_EQ(key.SetValue("V", RegValue::String("changed")), win::ERROR_SUCCESS);
}

// ---------------------------------------------------------------------------------------------
// Several processes

// Children forked by a test: each runs its body and exits with its answer, never returning into
// the test framework.
class Children {
 public:
  Children() { EXPECT_EQ(::pipe(start_), 0); }
  ~Children() {
    Release();
    WaitAll();
  }
  Children(const Children&) = delete;
  Children& operator=(const Children&) = delete;

  // The child waits for Release, so that all of them start together.
  template <typename Body>
  void Spawn(Body body) {
    const pid_t pid = ::fork();
    if (pid == 0) {
      ::close(start_[1]);
      char c;
      while (::read(start_[0], &c, 1) < 0 && errno == EINTR) {
      }
      ::_exit(body());
    }
    children_.push_back({pid, std::nullopt});
  }
  void Release() {
    if (start_[1] >= 0) ::close(start_[1]);
    start_[1] = -1;
  }
  // Whether a child has not exited yet; never blocks.
  bool AnyRunning() {
    bool running = false;
    for (auto& child : children_) {
      if (!child.code) Reap(child, WNOHANG);
      running = running || !child.code;
    }
    return running;
  }
  // Exit codes in spawn order (-1 for a child killed by a signal).
  std::vector<int> WaitAll() {
    std::vector<int> codes;
    for (auto& child : children_) {
      if (!child.code) Reap(child, 0);
      codes.push_back(child.code.value_or(-1));
    }
    return codes;
  }

 private:
  struct Child {
    pid_t pid;
    std::optional<int> code;
  };
  static void Reap(Child& child, int options) {
    int status = 0;
    const pid_t done = ::waitpid(child.pid, &status, options);
    if (done == child.pid) child.code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    if (done < 0 && errno != EINTR) child.code = -1;
  }

  int start_[2] = {-1, -1};
  std::vector<Child> children_;
};

TEST(RegistryProcesses, ConcurrentWritersLoseNoWrite) {
  TempPrefix prefix;
  constexpr int kProcesses = 4;
  constexpr int kWrites = 50;
  Children children;
  for (int p = 0; p < kProcesses; ++p) {
    children.Spawn([p] {
      for (int n = 0; n < kWrites; ++n) {
        const std::string name = "P" + std::to_string(p) + "_" + std::to_string(n);
        if (Set(HKEY_LOCAL_MACHINE, "SOFTWARE\\Race", name, RegValue::Dword(p * 1000 + n)) !=
            win::ERROR_SUCCESS) {
          return 1;
        }
        // Some writes make keys too, so both kinds of change interleave.
        RegKey key;
        if (n % 10 == 0 &&
            RegKey::Create(HKEY_LOCAL_MACHINE, "SOFTWARE\\Race\\" + name, win::KEY_READ, key) != 0) {
          return 2;
        }
      }
      return 0;
    });
  }
  children.Release();
  EXPECT_EQ(children.WaitAll(), std::vector<int>(kProcesses, 0));

  RegKey race;
  ASSERT_EQ(RegKey::Open(HKEY_LOCAL_MACHINE, "SOFTWARE\\Race", win::KEY_READ, race), win::ERROR_SUCCESS);
  DWORD subKeys = 0, values = 0;
  ASSERT_EQ(race.QueryInfo(subKeys, values), win::ERROR_SUCCESS);
  EXPECT_EQ(values, static_cast<DWORD>(kProcesses * kWrites));
  EXPECT_EQ(subKeys, static_cast<DWORD>(kProcesses * kWrites / 10));
  for (int p = 0; p < kProcesses; ++p) {
    for (int n = 0; n < kWrites; ++n) {
      const std::string name = "P" + std::to_string(p) + "_" + std::to_string(n);
      RegValue value;
      ASSERT_EQ(race.QueryValue(name, value), win::ERROR_SUCCESS) << name;
      ExpectSameValue(value, RegValue::Dword(p * 1000 + n), name);
    }
  }
}

TEST(RegistryProcesses, AReaderNeverSeesAHalfWrittenFile) {
  TempPrefix prefix;
  ASSERT_EQ(Set(HKEY_LOCAL_MACHINE, "SOFTWARE\\Steady", "Constant", RegValue::String("unchanging")),
            win::ERROR_SUCCESS);
  Children children;
  children.Spawn([] {
    for (int n = 0; n < 300; ++n) {
      // The file grows and shrinks by kilobytes, so a torn read could not parse or would miss keys.
      const RegValue blob =
          RegValue::Binary(std::vector<std::uint8_t>(static_cast<std::size_t>(n % 7) * 700, 0x5A));
      if (Set(HKEY_LOCAL_MACHINE, "SOFTWARE\\Churn", "Blob", blob) != win::ERROR_SUCCESS) return 1;
    }
    return 0;
  });
  children.Release();
  int reads = 0, failures = 0;
  std::string firstFailure;
  const auto readOnce = [&] {
    const std::string text = QueryText(HKEY_LOCAL_MACHINE, "SOFTWARE\\Steady", "Constant");
    ++reads;
    if (text != "unchanging") {
      if (failures++ == 0) firstFailure = text;
    }
  };
  while (children.AnyRunning()) readOnce();
  readOnce();
  EXPECT_EQ(failures, 0) << "first failed read: " << firstFailure;
  EXPECT_GT(reads, 1);
  EXPECT_EQ(children.WaitAll(), std::vector<int>{0});
}

// ---------------------------------------------------------------------------------------------
// kvhost reg

CommandResult RunKvhost(const std::vector<std::string>& args) {
  std::vector<std::string> argv{KV_BIN_DIR "/kvhost"};
  argv.insert(argv.end(), args.begin(), args.end());
  return test::RunProgram(argv);
}

TEST(KvhostReg, SetGetExportAndImportWorkOnThePrefixRegistry) {
  TempPrefix prefix;
  const std::string key = "HKLM\\SOFTWARE\\Korvane";
  const struct {
    std::vector<std::string> set;
    std::string name;
    std::string shown;
  } values[] = {
      {{"Path", "C:\\WKorvane\\TSV\\"}, "Path", "C:\\WKorvane\\TSV\\\n"},
      {{"Count", "0x2A", "--type", "dword"}, "count", "42\n"},
      {{"--type=dword", "Big", "4294967295"}, "Big", "4294967295\n"},
      {{"Bytes", "01,02,ff", "--type", "binary"}, "Bytes", "01,02,ff\n"},
      {{"Packed", "0a0B", "--type", "binary"}, "Packed", "0a,0b\n"},
      {{"List", "a|b c|d", "--type", "multi"}, "List", "a\nb c\nd\n"},
      {{"Expand", "%TEMP%\\x", "--type", "expand"}, "Expand", "%TEMP%\\x\n"},
      {{"@", "Défaut"}, "@", "Défaut\n"},
  };
  for (const auto& v : values) {
    std::vector<std::string> args = {"reg", "set", key};
    args.insert(args.end(), v.set.begin(), v.set.end());
    const CommandResult set = RunKvhost(args);
    EXPECT_EQ(set.exitCode, 0) << v.name << ": " << set.err;
    const CommandResult get = RunKvhost({"reg", "get", "HKEY_LOCAL_MACHINE\\software\\KORVANE", v.name});
    EXPECT_EQ(get.exitCode, 0) << v.name << ": " << get.err;
    EXPECT_EQ(get.out, v.shown) << v.name;
  }
  // This process sees what kvhost wrote.
  RegValue value;
  ASSERT_EQ(Query(HKEY_LOCAL_MACHINE, "SOFTWARE\\Korvane", "Count", value), win::ERROR_SUCCESS);
  ExpectSameValue(value, RegValue::Dword(42), "Count");
  ASSERT_EQ(Query(HKEY_LOCAL_MACHINE, "SOFTWARE\\Korvane", "Expand", value), win::ERROR_SUCCESS);
  EXPECT_EQ(value.type, win::REG_EXPAND_SZ);
  EXPECT_EQ(QueryText(HKEY_LOCAL_MACHINE, "SOFTWARE\\Korvane", ""), "Défaut");

  const CommandResult lines = RunKvhost({"reg", "get", key});
  EXPECT_EQ(lines.exitCode, 0);
  EXPECT_NE(lines.out.find("\"Count\"=dword:0000002a\n"), std::string::npos) << lines.out;
  EXPECT_NE(lines.out.find("\"Path\"=\"C:\\\\WKorvane\\\\TSV\\\\\"\n"), std::string::npos) << lines.out;
  EXPECT_NE(lines.out.find("@=\"Défaut\"\n"), std::string::npos) << lines.out;

  const CommandResult missingValue = RunKvhost({"reg", "get", key, "Nothing"});
  EXPECT_EQ(missingValue.exitCode, 1);
  EXPECT_NE(missingValue.err.find("Nothing"), std::string::npos) << missingValue.err;
  EXPECT_EQ(RunKvhost({"reg", "get", "HKLM\\SOFTWARE\\Nowhere"}).exitCode, 1);
  EXPECT_EQ(RunKvhost({"reg", "get", "HKXX\\SOFTWARE"}).exitCode, 1);
  EXPECT_EQ(RunKvhost({"reg", "set", key, "N", "12x", "--type", "dword"}).exitCode, 1);
  EXPECT_EQ(RunKvhost({"reg", "set", key, "N", "0x100000000", "--type", "dword"}).exitCode, 1);
  EXPECT_EQ(RunKvhost({"reg", "set", key, "N", "123", "--type", "binary"}).exitCode, 1);
  EXPECT_EQ(RunKvhost({"reg", "set", key, "N", "1", "--type", "float"}).exitCode, 2);
  EXPECT_EQ(RunKvhost({"reg", "frobnicate"}).exitCode, 2);

  const CommandResult exported = RunKvhost({"reg", "export"});
  EXPECT_EQ(exported.exitCode, 0) << exported.err;
  EXPECT_EQ(exported.out.substr(0, kHeader.size()), kHeader);
  EXPECT_NE(exported.out.find("[HKEY_LOCAL_MACHINE\\SOFTWARE\\Korvane]\n"), std::string::npos);
  EXPECT_EQ(exported.out.find('\r'), std::string::npos);

  // Import, in regedit's own encoding, with deletions.
  ASSERT_EQ(Set(HKEY_LOCAL_MACHINE, "SOFTWARE\\Korvane\\Old", "V", RegValue::Dword(1)), win::ERROR_SUCCESS);
  test::TempDir dir;
  const fs::path importFile = dir.Path() / "changes.reg";
  WriteHostFile(
      importFile,
      Utf16LeWithBom(WithCrLf(kHeader + "[-HKEY_LOCAL_MACHINE\\SOFTWARE\\Korvane\\Old]\n\n"
                                        "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Korvane]\n"
                                        "\"Path\"=-\n\"Imported\"=\"oui\"\n\n"
                                        "[HKEY_CURRENT_USER\\Software\\Korvane]\n\"User\"=dword:7\n\n")));
  const CommandResult imported = RunKvhost({"reg", "import", importFile.string()});
  EXPECT_EQ(imported.exitCode, 0) << imported.err;
  EXPECT_FALSE(RegKey::Exists(HKEY_LOCAL_MACHINE, "SOFTWARE\\Korvane\\Old"));
  EXPECT_EQ(RunKvhost({"reg", "get", key, "Path"}).exitCode, 1);
  EXPECT_EQ(RunKvhost({"reg", "get", key, "Imported"}).out, "oui\n");
  EXPECT_EQ(RunKvhost({"reg", "get", "HKCU\\Software\\Korvane", "User"}).out, "7\n");

  const fs::path badFile = dir.Path() / "bad.reg";
  WriteHostFile(badFile, kHeader + "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Korvane]\n\"Imported\"=-\n\"X\"=hex:zz\n");
  const CommandResult bad = RunKvhost({"reg", "import", badFile.string()});
  EXPECT_EQ(bad.exitCode, 1);
  EXPECT_NE(bad.err.find("ligne 5"), std::string::npos) << bad.err;
  EXPECT_EQ(RunKvhost({"reg", "get", key, "Imported"}).out, "oui\n");
  EXPECT_EQ(RunKvhost({"reg", "import", (dir.Path() / "none.reg").string()}).exitCode, 1);

  // An export imported into an empty prefix gives the same registry.
  const std::string all = RunKvhost({"reg", "export"}).out;
  const fs::path exportFile = dir.Path() / "all.reg";
  WriteHostFile(exportFile, all);
  TempPrefix other;
  EXPECT_EQ(RunKvhost({"reg", "import", exportFile.string()}).exitCode, 0);
  EXPECT_EQ(RunKvhost({"reg", "export"}).out, all);
}

}  // namespace
}  // namespace kv
