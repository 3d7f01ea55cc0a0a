// The PE reader: headers of both formats, resource lookups, and its behaviour on damaged files.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "formats/PeImage.h"
#include "formats/PeWriter.h"
#include "formats/VersionResource.h"
#include "tests/support/PeFixtures.h"

namespace kv {
namespace {

std::vector<std::uint8_t> Bytes(std::string_view s) {
  return {s.begin(), s.end()};
}
std::string Text(std::span<const std::uint8_t> s) {
  return {s.begin(), s.end()};
}

std::uint32_t Get32(const std::vector<std::uint8_t>& b, std::size_t at) {
  return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | static_cast<std::uint32_t>(b[at + 3]) << 24;
}
void Set16(std::vector<std::uint8_t>& b, std::size_t at, std::uint32_t v) {
  b[at] = static_cast<std::uint8_t>(v);
  b[at + 1] = static_cast<std::uint8_t>(v >> 8);
}
void Set32(std::vector<std::uint8_t>& b, std::size_t at, std::uint32_t v) {
  Set16(b, at, v & 0xFFFF);
  Set16(b, at + 2, v >> 16);
}

win::VersionResource SampleVersion() {
  win::VersionResource v;
  v.hasFixedInfo = true;
  v.fileVersionMS = 0x00050002;
  v.fileVersionLS = 0x001A0007;
  v.productVersionMS = 0x00050000;
  v.translations = {0x04E4040C};
  v.stringTables = {{"040C04E4", {{"FileVersion", "5.2.26.7"}, {"CompanyName", "KORVANE S.A."}}}};
  return v;
}

// Several types, names and ids, two languages of one name, an empty resource, a named type.
PeWriter SampleWriter(PeFormat format = PeFormat::Pe32Plus) {
  PeWriter w(format);
  w.Add(win::RT_RCDATA, "UPDATES.TXT", 0, Bytes("WinTessivo\r\n"));
  w.Add(win::RT_RCDATA, "NOTICE.RTF", 0x040C, Bytes("{\\rtf1 fr}"));
  w.Add(win::RT_RCDATA, "NOTICE.RTF", 0x0409, Bytes("{\\rtf1 en}"));
  w.Add(win::RT_RCDATA, "SOCIÉTÉ.TXT", 0, Bytes("accents"));
  w.Add(win::RT_RCDATA, 7u, 0, Bytes("seven"));
  w.Add(win::RT_RCDATA, "EMPTY", 0, {});
  w.Add(win::RT_VERSION, win::VS_VERSION_INFO, 0x040C, win::BuildVersionResource(SampleVersion()));
  w.Add("CUSTOM", 3u, 0, Bytes("custom type"));
  return w;
}

class PeFormats : public ::testing::TestWithParam<PeFormat> {};

TEST_P(PeFormats, HeadersDescribeAResourceOnlyDll) {
  const auto bytes = SampleWriter(GetParam()).Build();
  const PeImage image(bytes);
  const bool pe32 = GetParam() == PeFormat::Pe32;
  const PeHeaders& h = image.Headers();
  EXPECT_EQ(image.Is64(), !pe32);
  EXPECT_EQ(h.magic, pe32 ? 0x10B : 0x20B);
  EXPECT_EQ(h.machine, pe32 ? 0x014C : 0x8664);
  EXPECT_EQ(h.imageBase, pe32 ? 0x10000000u : 0x180000000u);
  EXPECT_NE(h.characteristics & 0x2000, 0) << "DLL";
  EXPECT_EQ(h.timeDateStamp, 0u);
  EXPECT_EQ(h.fileAlignment, 0x200u);
  EXPECT_EQ(h.sectionAlignment, 0x1000u);
  EXPECT_EQ(h.sizeOfHeaders, 0x200u);
  ASSERT_EQ(image.Sections().size(), 1u);
  const PeSection& rsrc = image.Sections()[0];
  EXPECT_EQ(rsrc.name, ".rsrc");
  EXPECT_EQ(rsrc.pointerToRawData, h.sizeOfHeaders);
  EXPECT_EQ(rsrc.sizeOfRawData % 0x200, 0u);
  EXPECT_EQ(rsrc.pointerToRawData + rsrc.sizeOfRawData, bytes.size());
  EXPECT_GE(rsrc.sizeOfRawData, rsrc.virtualSize);
  EXPECT_EQ(h.sizeOfImage, (rsrc.virtualAddress + rsrc.virtualSize + 0xFFF) / 0x1000 * 0x1000);
  EXPECT_EQ(image.DataDirectory(kResourceDataDirectory).rva, rsrc.virtualAddress);
  EXPECT_EQ(image.DataDirectory(kResourceDataDirectory).size, rsrc.virtualSize);
  EXPECT_EQ(image.Resources().size(), 8u);
  const auto version = win::ReadVersionResource(image);
  ASSERT_TRUE(version);
  EXPECT_EQ(version->QueryString("040C04E4", "FileVersion"), "5.2.26.7");
}

INSTANTIATE_TEST_SUITE_P(BothFormats, PeFormats, ::testing::Values(PeFormat::Pe32Plus, PeFormat::Pe32),
                         [](const auto& info) { return info.param == PeFormat::Pe32 ? "Pe32" : "Pe32Plus"; });

class PeLookup : public ::testing::Test {
 protected:
  std::vector<std::uint8_t> bytes_ = SampleWriter().Build();
  PeImage image_{bytes_};
};

TEST_F(PeLookup, NamesAreFoundWithoutRegardToCase) {
  for (const char* name : {"UPDATES.TXT", "Updates.txt", "updates.TXT"}) {
    const auto found = image_.FindResource(win::RT_RCDATA, name);
    ASSERT_TRUE(found) << name;
    EXPECT_EQ(Text(found->data), "WinTessivo\r\n");
    EXPECT_EQ(found->id.name, "UPDATES.TXT");
  }
  const auto accented = image_.FindResource(win::RT_RCDATA, "Société.txt");
  ASSERT_TRUE(accented);
  EXPECT_EQ(Text(accented->data), "accents");
  EXPECT_FALSE(image_.FindResource(win::RT_RCDATA, "UPDATES.TX"));
  EXPECT_FALSE(image_.FindResource(win::RT_RCDATA, "UPDATES.TXT2"));
  EXPECT_FALSE(image_.FindResource(win::RT_VERSION, "UPDATES.TXT")) << "another type";
}

TEST_F(PeLookup, IdsAndNamesAreDistinctKeys) {
  const auto seven = image_.FindResource(win::RT_RCDATA, 7u);
  ASSERT_TRUE(seven);
  EXPECT_EQ(Text(seven->data), "seven");
  EXPECT_FALSE(image_.FindResource(win::RT_RCDATA, "7"));
  EXPECT_FALSE(image_.FindResource(win::RT_RCDATA, "#7"));
  EXPECT_FALSE(image_.FindResource(win::RT_RCDATA, 8u));
  const auto version = image_.FindResource(win::RT_VERSION, 1u);
  ASSERT_TRUE(version);
  EXPECT_EQ(version->language, 0x040C);
}

TEST_F(PeLookup, LanguageIsChosenOrTheFirstIsTaken) {
  const auto english = image_.FindResource(win::RT_RCDATA, "notice.rtf", 0x0409);
  const auto french = image_.FindResource(win::RT_RCDATA, "notice.rtf", 0x040C);
  ASSERT_TRUE(english && french);
  EXPECT_EQ(Text(english->data), "{\\rtf1 en}");
  EXPECT_EQ(Text(french->data), "{\\rtf1 fr}");
  EXPECT_FALSE(image_.FindResource(win::RT_RCDATA, "notice.rtf", 0x0407));
  const auto any = image_.FindResource(win::RT_RCDATA, "notice.rtf");
  ASSERT_TRUE(any);
  EXPECT_EQ(any->language, 0x0409) << "languages are listed in ascending order";
}

TEST_F(PeLookup, FirstOfATypeAndListingFollowDirectoryOrder) {
  const auto first = image_.FindFirstResource(win::RT_VERSION);
  ASSERT_TRUE(first);
  EXPECT_EQ(first->id, ResourceId(1u));
  EXPECT_FALSE(image_.FindFirstResource(3));  // no icon

  std::vector<std::string> listed;
  for (const ResourceEntry& e : image_.ListResources(win::RT_RCDATA)) {
    listed.push_back(e.id.ToString() + "/" + std::to_string(e.language) + "=" + Text(e.data));
  }
  const std::vector<std::string> expected = {"EMPTY/0=",
                                             "NOTICE.RTF/1033={\\rtf1 en}",
                                             "NOTICE.RTF/1036={\\rtf1 fr}",
                                             "SOCIÉTÉ.TXT/0=accents",
                                             "UPDATES.TXT/0=WinTessivo\r\n",
                                             "#7/0=seven"};
  EXPECT_EQ(listed, expected);
  const auto custom = image_.Resources().front();
  EXPECT_EQ(custom.type, ResourceId("CUSTOM")) << "named types come before integer types";
  EXPECT_EQ(Text(custom.data), "custom type");
}

TEST_F(PeLookup, DataAreViewsIntoTheImage) {
  for (const ResourceEntry& e : image_.Resources()) {
    EXPECT_GE(e.data.data(), bytes_.data());
    EXPECT_LE(e.data.data() + e.data.size(), bytes_.data() + bytes_.size());
  }
  const auto offset = image_.FindResource(win::RT_RCDATA, 7u)->data.data() - bytes_.data();
  EXPECT_EQ(offset % 8, 0) << "data are aligned to 8 bytes";
}

TEST(PeImageRva, OffsetsStayInsideTheFileBackedPartOfASection) {
  const auto bytes = SampleWriter().Build();
  const PeImage image(bytes);
  const PeSection& s = image.Sections()[0];
  EXPECT_EQ(image.RvaToOffset(s.virtualAddress, 16), s.pointerToRawData);
  EXPECT_EQ(image.RvaToOffset(s.virtualAddress + 5, s.virtualSize - 5), s.pointerToRawData + 5);
  EXPECT_FALSE(image.RvaToOffset(s.virtualAddress, s.virtualSize + 1));
  EXPECT_FALSE(image.RvaToOffset(s.virtualAddress + s.virtualSize, 1));
  EXPECT_FALSE(image.RvaToOffset(0xFFFFFFFF, 0xFFFFFFFF));
  EXPECT_EQ(image.RvaToOffset(0x3C, 4), 0x3Cu) << "headers are mapped at RVA 0";
}

TEST(PeImageSignature, TellsPeFilesFromOthers) {
  const auto bytes = SampleWriter().Build();
  EXPECT_TRUE(PeImage::HasPeSignature(bytes));
  EXPECT_FALSE(PeImage::HasPeSignature(Bytes("MZ but nothing else")));
  EXPECT_FALSE(PeImage::HasPeSignature({}));
  auto elf = bytes;
  elf[0] = 0x7F;
  EXPECT_FALSE(PeImage::HasPeSignature(elf));
}

// ---------------------------------------------------------------------------------------------
// Damaged files

// Offsets of the sample image as the writer lays it out, read from the image itself.
struct Layout {
  explicit Layout(const std::vector<std::uint8_t>& b) {
    pe = Get32(b, 0x3C);
    coff = pe + 4;
    opt = coff + 20;
    sections = opt + (b[coff + 16] | b[coff + 17] << 8);
    const std::uint32_t rsrcRva = Get32(b, opt + 112 + 8 * 2);
    tree = Get32(b, sections + 20);
    rva = rsrcRva;
    // Root entries: type "CUSTOM" (named), then 10 (RT_RCDATA), then 16 (RT_VERSION).
    rcdataEntry = tree + 16 + 8;
    rcdataDir = tree + (Get32(b, rcdataEntry + 4) & 0x7FFFFFFF);
    firstNameEntry = rcdataDir + 16;  // "EMPTY"
    const std::uint32_t languages = tree + (Get32(b, firstNameEntry + 4) & 0x7FFFFFFF);
    firstLanguageEntry = languages + 16;
    firstDataEntry = tree + Get32(b, firstLanguageEntry + 4);
  }
  std::uint32_t pe, coff, opt, sections, tree, rva, rcdataEntry, rcdataDir, firstNameEntry,
      firstLanguageEntry, firstDataEntry;
};

struct Damage {
  const char* name;
  void (*apply)(std::vector<std::uint8_t>& b, const Layout& l);
  const char* message;  // part of the error; nullptr: the image reads, with `resources` entries
  std::size_t resources = 0;
};

void PrintTo(const Damage& damage, std::ostream* out) {
  *out << damage.name;
}

const Damage kDamages[] = {
    {"EmptyFile", [](auto& b, const auto&) { b.clear(); }, "n'est pas une image PE : signature MZ absente"},
    {"NotMz", [](auto& b, const auto&) { b[0] = 'Z'; }, "signature MZ absente"},
    {"DosHeaderTruncated", [](auto& b, const auto&) { b.resize(30); }, "en-tête DOS tronqué"},
    {"PeOffsetPastEnd", [](auto& b, const auto&) { Set32(b, 0x3C, 0xFFFFFFF0); },
     "en-tête PE hors du fichier"},
    {"PeOffsetAtEnd", [](auto& b, const auto&) { Set32(b, 0x3C, static_cast<std::uint32_t>(b.size() - 2)); },
     "en-tête PE hors du fichier"},
    {"NoPeSignature", [](auto& b, const auto& l) { b[l.pe + 1] = 'X'; }, "signature PE absente"},
    {"CoffHeaderTruncated", [](auto& b, const auto& l) { b.resize(l.coff + 10); }, "en-tête COFF tronqué"},
    {"OptionalHeaderPastEnd", [](auto& b, const auto& l) { Set16(b, l.coff + 16, 0xFFFF); },
     "en-tête optionnel tronqué"},
    {"OptionalHeaderMissing", [](auto& b, const auto& l) { Set16(b, l.coff + 16, 0); },
     "en-tête optionnel absent"},
    {"OptionalHeaderTooShort", [](auto& b, const auto& l) { Set16(b, l.coff + 16, 64); },
     "en-tête optionnel trop court"},
    {"UnknownMagic", [](auto& b, const auto& l) { Set16(b, l.opt, 0x10C); },
     "type d'en-tête optionnel inconnu (0x10C)"},
    {"DirectoriesPastOptionalHeader", [](auto& b, const auto& l) { Set16(b, l.coff + 16, 112 + 8); },
     "répertoires de données hors de l'en-tête optionnel"},
    {"HugeDirectoryCountIsCapped", [](auto& b, const auto& l) { Set32(b, l.opt + 108, 0xFFFFFFFF); }, nullptr,
     8},
    {"NoResourceDirectory", [](auto& b, const auto& l) { Set32(b, l.opt + 108, 2); }, nullptr, 0},
    {"ResourceDirectoryZero", [](auto& b, const auto& l) { Set32(b, l.opt + 112 + 16, 0); }, nullptr, 0},
    {"SectionTableTruncated", [](auto& b, const auto& l) { Set16(b, l.coff + 2, 0xFFFF); },
     "table des sections tronquée"},
    {"ResourcesOutsideSections", [](auto& b, const auto& l) { Set32(b, l.opt + 112 + 16, 0x50000); },
     "répertoire des ressources hors du fichier (RVA 0x50000)"},
    {"SectionDataPastEnd", [](auto& b, const auto& l) { Set32(b, l.sections + 20, 0x7FFFFFF0); },
     "répertoire des ressources hors du fichier"},
    {"SectionWithoutRawData", [](auto& b, const auto& l) { Set32(b, l.sections + 16, 0); },
     "répertoire des ressources hors du fichier"},
    {"HugeEntryCount", [](auto& b, const auto& l) { Set16(b, l.tree + 14, 0xFFFF); },
     "entrées d'un répertoire de ressources hors de la section des ressources"},
    {"DirectoryLoop", [](auto& b, const auto& l) { Set32(b, l.rcdataEntry + 4, 0x80000000); },
     "boucle dans l'arborescence des ressources"},
    {"SharedDirectory",
     [](auto& b, const auto& l) { Set32(b, l.rcdataEntry + 8 + 4, Get32(b, l.rcdataEntry + 4)); },
     "boucle dans l'arborescence des ressources"},
    {"TypeEntryWithoutDirectory", [](auto& b, const auto& l) { Set32(b, l.rcdataEntry + 4, 0x10); },
     "entrée de ressource sans sous-répertoire"},
    {"LanguageEntryIsADirectory",
     [](auto& b, const auto& l) {
       Set32(b, l.firstLanguageEntry + 4, Get32(b, l.firstLanguageEntry + 4) | 0x80000000);
     },
     "sous-répertoire au niveau des langues"},
    {"NamedLanguage", [](auto& b, const auto& l) { Set32(b, l.firstLanguageEntry, 0x80000000); },
     "langue de ressource invalide"},
    {"NamePastEnd", [](auto& b, const auto& l) { Set32(b, l.firstNameEntry, 0xFFFFFF00); },
     "nom de ressource hors de la section des ressources"},
    {"NameLengthPastEnd",
     [](auto& b, const auto& l) { Set16(b, l.tree + (Get32(b, l.firstNameEntry) & 0x7FFFFFFF), 0xFFFF); },
     "nom de ressource hors de la section des ressources"},
    {"DataEntryPastEnd", [](auto& b, const auto& l) { Set32(b, l.firstLanguageEntry + 4, 0x7FFFFFF0); },
     "entrée de données de ressource hors de la section des ressources"},
    {"DataRvaPastEnd", [](auto& b, const auto& l) { Set32(b, l.firstDataEntry, 0xFFFFFFF0); },
     "données de la ressource #10/EMPTY hors du fichier (RVA 0xFFFFFFF0, 0 octets)"},
    {"DataSizeHuge", [](auto& b, const auto& l) { Set32(b, l.firstDataEntry + 4, 0xFFFFFFFF); },
     "données de la ressource #10/EMPTY hors du fichier"},
    {"DataPastSectionEnd",
     [](auto& b, const auto& l) { Set32(b, l.firstDataEntry + 4, Get32(b, l.sections + 8)); },
     "hors du fichier"},
    {"TruncatedInsideTree", [](auto& b, const auto& l) { b.resize(l.tree + 0x30); },
     "hors de la section des ressources"},
    {"TruncatedInsideData",
     [](auto& b, const auto&) {
       const std::string_view data = "WinTessivo";
       b.resize(
           static_cast<std::size_t>(std::search(b.begin(), b.end(), data.begin(), data.end()) - b.begin()) +
           2);
     },
     "données de la ressource #10/UPDATES.TXT hors du fichier"},
};

class PeDamage : public ::testing::TestWithParam<Damage> {};

TEST_P(PeDamage, GivesAClearErrorOrReadsSafely) {
  auto bytes = SampleWriter().Build();
  const Layout layout(bytes);
  GetParam().apply(bytes, layout);
  if (GetParam().message == nullptr) {
    const PeImage image(bytes);
    EXPECT_EQ(image.Resources().size(), GetParam().resources);
    return;
  }
  try {
    const PeImage image(bytes);
    FAIL() << "read without error, " << image.Resources().size() << " resources";
  } catch (const PeFormatError& e) {
    EXPECT_NE(std::string(e.what()).find(GetParam().message), std::string::npos) << e.what();
  }
}

INSTANTIATE_TEST_SUITE_P(Table, PeDamage, ::testing::ValuesIn(kDamages),
                         [](const auto& info) { return std::string(info.param.name); });

// Random flips and cuts of a sound image: the reader either reads it, with every view inside the
// bytes, or raises PeFormatError; nothing else (no crash, no other exception, no overrun, which
// the sanitizer build checks).
TEST(PeFuzz, RandomDamageNeverEscapesTheBytes) {
  const auto sound = SampleWriter().Build();
  std::mt19937 random(20240611);
  int read = 0, refused = 0;
  for (int round = 0; round < 4000; ++round) {
    auto bytes = sound;
    const int flips = 1 + static_cast<int>(random() % 8);
    for (int i = 0; i < flips; ++i) {
      // Mostly in the headers and the tree, where the structure is.
      const std::size_t span = random() % 4 == 0 ? bytes.size() : 0x400;
      if (random() % 3 == 0) {
        // A field set to a limit, where sums of offsets and sizes overflow.
        static constexpr std::uint32_t kLimits[] = {0,          1,      0x7FFFFFFF, 0x80000000,
                                                    0xFFFFFFFF, 0xFFFF, 0x10000};
        Set32(bytes, (random() % (span - 4)) & ~std::size_t{1}, kLimits[random() % std::size(kLimits)]);
      } else {
        bytes[random() % span] = static_cast<std::uint8_t>(random());
      }
    }
    if (round % 5 == 0) bytes.resize(random() % bytes.size());
    try {
      const PeImage image(bytes);
      ++read;
      for (const ResourceEntry& e : image.Resources()) {
        ASSERT_TRUE(e.data.empty() || (e.data.data() >= bytes.data() &&
                                       e.data.data() + e.data.size() <= bytes.data() + bytes.size()));
        if (e.type == ResourceId(win::RT_VERSION)) {
          try {
            const auto version = win::ParseVersionResource(e.data);
            (void)version.QueryString("040C04E4", "FileVersion");
          } catch (const PeFormatError&) {
          }
        }
      }
    } catch (const PeFormatError&) {
      ++refused;
    }
  }
  // Both outcomes must occur, or the loop did not exercise the reader.
  EXPECT_GT(read, 100);
  EXPECT_GT(refused, 100);
}

}  // namespace
}  // namespace kv
