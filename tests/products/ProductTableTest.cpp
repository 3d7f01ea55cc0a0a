#include <gtest/gtest.h>

#include "products/ProductTable.h"

namespace kv {
namespace {

TEST(ProductTable, KeysAndAliasesMapToCodesWithoutRegardToCase) {
  const std::pair<const char*, ProductCode> cases[] = {
      {"winTESSIVO", 1},
      {"WinTessivo Ingenieur", 2},
      {"TSV_ING", 2},
      {"tsv_pro", 1},
      {"TS_Adresses", 3},
      {"Adresses", 3},
      {"Common", 12},
      {"common", 12},
      {"VLX", 14},
      {"Optaris", 13},
      {"", 0},
      {"Tessivo", 0},
      {"Common ", 0},
      {"Inconnu", 0},
  };
  for (const auto& [name, code] : cases) EXPECT_EQ(ProductKeyToCode(name), code) << name;
}

TEST(ProductTable, EveryCodeHasItsNameAndTheKnownTextListsThemInOrder) {
  std::string expected;
  for (ProductCode code = 1; code <= kLastProductCode; ++code) {
    const std::string name = ProductKeyName(code);
    ASSERT_FALSE(name.empty()) << int(code);
    EXPECT_EQ(ProductKeyToCode(name), code) << name;
    expected += name + "\r\n";
  }
  EXPECT_EQ(KnownKeyText(), expected);
  EXPECT_TRUE(KnownKeyText().starts_with("WinTessivo\r\nWinTessivo Ingenieur\r\nAdresses\r\n"));
  EXPECT_EQ(ProductKeyName(0), "");
  EXPECT_EQ(ProductKeyName(15), "");
}

}  // namespace
}  // namespace kv
