// The kind of a connection string and its split into server and database path.
#include <gtest/gtest.h>

#include <string>

#include "db/IBCommon.h"
#include "tests/support/ErrorText.h"

namespace kv::test {

namespace {

struct KindCase {
  const char* label;
  std::string text;
  TConnectionType kind;
  // Expected split of the kinds that can be split.
  std::string server;
  std::string path;
};

void PrintTo(const KindCase& c, std::ostream* os) {
  *os << c.label;
}

bool Splits(TConnectionType kind) {
  return kind == ibctLocal || kind == ibctTCPIP || kind == ibctNetBEUI;
}

// Characters, not bytes: the length of a UTF-8 text in code points.
std::size_t CharacterCount(const std::string& text) {
  std::size_t count = 0;
  for (const char c : text) {
    if ((static_cast<unsigned char>(c) & 0xC0) != 0x80) ++count;
  }
  return count;
}

std::string Repeat(const std::string& piece, int times) {
  std::string out;
  for (int i = 0; i < times; ++i) out += piece;
  return out;
}

}  // namespace

class ConnectionKind : public ::testing::TestWithParam<KindCase> {};

TEST_P(ConnectionKind, IsRecognisedAndSplit) {
  const KindCase& c = GetParam();
  EXPECT_EQ(GetConnectionType(c.text), c.kind);
  std::string server = "stale", path = "stale";
  if (Splits(c.kind)) {
    SplitConnectionString(c.text, server, path);
    EXPECT_EQ(server, c.server);
    EXPECT_EQ(path, c.path);
  } else {
    EXPECT_EQ(RaisedText([&] { SplitConnectionString(c.text, server, path); }), "error 0203130939");
    EXPECT_EQ(server, "stale");
    EXPECT_EQ(path, "stale");
  }
}

INSTANTIATE_TEST_SUITE_P(
    Forms, ConnectionKind,
    ::testing::Values(
        KindCase{"LocalFile", "C:\\data\\a.fdb", ibctLocal, "", "C:\\data\\a.fdb"},
        KindCase{"LocalDriveRoot", "C:\\", ibctLocal, "", "C:\\"},
        KindCase{"TcpHostName", "srv:C:\\data\\a.fdb", ibctTCPIP, "srv", "C:\\data\\a.fdb"},
        KindCase{"TcpAddress", "10.0.0.1:D:\\x.fdb", ibctTCPIP, "10.0.0.1", "D:\\x.fdb"},
        KindCase{"TcpDialogForm", "192.168.0.5:C:\\data\\a.fdb", ibctTCPIP, "192.168.0.5", "C:\\data\\a.fdb"},
        KindCase{"TcpNothingBeforeTheColon", ":C:\\a.fdb", ibctTCPIP, "", "C:\\a.fdb"},
        KindCase{"EmptyText", "", ibctTCPIP, "", ""}, KindCase{"Unix", "srv:/opt/a.fdb", ibctUNIX, "", ""},
        KindCase{"UnixData", "srv:/data/a.fdb", ibctUNIX, "", ""},
        KindCase{"NetBeui", "\\\\srv\\data\\a.fdb", ibctNetBEUI, "\\\\srv", "data\\a.fdb"},
        KindCase{"NetBeuiServerAlone", "\\\\srv", ibctNetBEUI, "\\\\srv", ""},
        KindCase{"NetWare", "srv@vol", ibctNetWare, "", ""},
        KindCase{"NetWareData", "srv@data", ibctNetWare, "", ""},
        KindCase{"BareFileName", "a.fdb", ibctUnknown, "", ""},
        KindCase{"Alias", "srv:alias", ibctUnknown, "", ""},
        KindCase{"DriveWithoutBackslash", "C:", ibctUnknown, "", ""},
        KindCase{"PortBeforeThePath", "srv:3050:C:\\a.fdb", ibctUnknown, "", ""},
        // The rules are tried in order: the first that matches decides.
        KindCase{"UnixBeforeNetBeui", "\\\\srv\\C:/a.fdb", ibctUNIX, "", ""},
        KindCase{"NetBeuiBeforeNetWare", "\\\\srv@x\\a.fdb", ibctNetBEUI, "\\\\srv@x", "a.fdb"},
        KindCase{"NetWareBeforeTcp", "srv@x:C:\\a.fdb", ibctNetWare, "", ""},
        // Positions count characters: an accented letter is one, whatever its bytes.
        KindCase{"AccentBetweenTheColons", "srv:\xC3\xA9:\\x.fdb", ibctTCPIP, "srv", "\xC3\xA9:\\x.fdb"},
        KindCase{"AccentedDriveLetter", "\xC3\x89:\\x.fdb", ibctLocal, "", "\xC3\x89:\\x.fdb"},
        KindCase{"AccentedServer", "s\xC3\xA9rv:C:\\a.fdb", ibctTCPIP, "s\xC3\xA9rv", "C:\\a.fdb"}),
    [](const auto& info) { return std::string(info.param.label); });

TEST(ConnectionString, TcpPathIsCutTo255Characters) {
  const std::string longPath = "C:\\" + std::string(300, 'x');
  std::string server, path;
  SplitConnectionString("srv:" + longPath, server, path);
  EXPECT_EQ(server, "srv");
  EXPECT_EQ(path, longPath.substr(0, 255));
}

TEST(ConnectionString, TcpPathOfExactly255CharactersIsKept) {
  const std::string path255 = "C:\\" + std::string(252, 'x');
  std::string server, path;
  SplitConnectionString("srv:" + path255, server, path);
  EXPECT_EQ(path, path255);
}

TEST(ConnectionString, NetBeuiRemainderIsCutTo255Characters) {
  // The remainder starts at the third character: "srv\" and 251 more characters fit.
  const std::string text = "\\\\srv\\" + std::string(300, 'y');
  std::string server, path;
  SplitConnectionString(text, server, path);
  EXPECT_EQ(server, "\\\\srv");
  EXPECT_EQ(path, std::string(251, 'y'));
}

TEST(ConnectionString, LocalPathIsNeverCut) {
  const std::string text = "C:\\" + std::string(300, 'z');
  std::string server = "x", path;
  SplitConnectionString(text, server, path);
  EXPECT_EQ(server, "");
  EXPECT_EQ(path, text);
}

TEST(ConnectionString, CutsCountCharactersAndNeverSplitOne) {
  // Two-, three- and four-byte characters: 255 characters are far more than 255 bytes.
  const std::string piece = "\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80";  // é € 😀
  const std::string text = "srv:C:\\" + Repeat(piece, 100);
  std::string server, path;
  SplitConnectionString(text, server, path);
  EXPECT_EQ(CharacterCount(path), 255u);
  EXPECT_EQ(path, "C:\\" + Repeat(piece, 84));  // 3 + 252 characters
  EXPECT_GT(path.size(), 255u);

  std::string netServer, netPath;
  SplitConnectionString("\\\\srv\\" + Repeat(piece, 100), netServer, netPath);
  EXPECT_EQ(netServer, "\\\\srv");
  EXPECT_EQ(CharacterCount(netPath), 251u);
  EXPECT_EQ(netPath, Repeat(piece, 83) + "\xC3\xA9\xE2\x82\xAC");
}

}  // namespace kv::test

namespace kv::test {

// Malformed UTF-8 (a stray continuation byte, a cut sequence): each such byte counts as a character
// of its own, so none is glued to the ":" of a split and dropped from the path.
TEST(ConnectionString, BytesOfMalformedUtf8AreCharactersOfTheirOwnAndNeverLost) {
  // The stray byte stands between ":" and the drive: not the "server:X:\" form.
  EXPECT_EQ(GetConnectionType("srv:\xB2G:\\a.fdb"), ibctUnknown);
  struct Case {
    std::string text, server, path;
  };
  for (const Case& c :
       {Case{"srv:C:\\\xB2\xB2.fdb", "srv", "C:\\\xB2\xB2.fdb"},
        Case{"s\xB2:C:\\a.fdb", "s\xB2", "C:\\a.fdb"}, Case{"srv:C:\\\xE2\x82", "srv", "C:\\\xE2\x82"}}) {
    ASSERT_EQ(GetConnectionType(c.text), ibctTCPIP) << c.text;
    std::string server, path;
    SplitConnectionString(c.text, server, path);
    EXPECT_EQ(server, c.server);
    EXPECT_EQ(path, c.path);
  }
}

}  // namespace kv::test
