#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <optional>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "formats/RtfReader.h"

namespace kv::rtf {
namespace {

using namespace std::string_literals;

std::string Text(std::string_view rtf) {
  return PlainText(ParseRtf(rtf));
}

std::string TextOf(const Paragraph& paragraph) {
  std::string out;
  for (const rtf::Run& run : paragraph.runs) out += run.text;
  return out;
}

// Readable failure output for run lists.
std::string Describe(const std::vector<rtf::Run>& runs) {
  std::string out;
  for (const rtf::Run& run : runs) {
    const Format& f = run.format;
    out += "[\"" + run.text + "\" b=" + std::to_string(f.bold) + " i=" + std::to_string(f.italic) +
           " u=" + std::to_string(f.underline) + " fs=" + std::to_string(f.fontSizeHalfPoints) + " cf=";
    out += f.colour ? std::to_string(f.colour->red) + "," + std::to_string(f.colour->green) + "," +
                          std::to_string(f.colour->blue)
                    : std::string("auto");
    out += " font=" + f.fontFamily + "] ";
  }
  return out;
}

bool IsValidUtf8(std::string_view s) {
  for (std::size_t i = 0; i < s.size();) {
    const auto b = static_cast<unsigned char>(s[i]);
    std::size_t length = b < 0x80 ? 1 : (b >> 5) == 0x6 ? 2 : (b >> 4) == 0xE ? 3 : (b >> 3) == 0x1E ? 4 : 0;
    if (length == 0 || i + length > s.size()) return false;
    for (std::size_t k = 1; k < length; ++k) {
      if ((static_cast<unsigned char>(s[i + k]) & 0xC0) != 0x80) return false;
    }
    i += length;
  }
  return true;
}

// What every parse must give, however damaged the input.
void ExpectWellFormed(const Document& document, std::string_view context) {
  SCOPED_TRACE(std::string(context.substr(0, 80)));
  ASSERT_FALSE(document.paragraphs.empty());
  const std::string plain = PlainText(document);
  EXPECT_TRUE(IsValidUtf8(plain));
  EXPECT_EQ(LineCount(document), static_cast<std::size_t>(std::count(plain.begin(), plain.end(), '\n')) + 1);
  for (const Paragraph& paragraph : document.paragraphs) {
    for (std::size_t i = 0; i < paragraph.runs.size(); ++i) {
      const rtf::Run& run = paragraph.runs[i];
      EXPECT_FALSE(run.text.empty());
      EXPECT_GE(run.format.fontSizeHalfPoints, 1);
      EXPECT_LE(run.format.fontSizeHalfPoints, 3276);
      if (i > 0) {
        EXPECT_FALSE(paragraph.runs[i - 1].format == run.format);
      }
    }
  }
}

// Builds expected formats: F().Bold().Size(28).Font("Calibri").
struct F {
  Format format;
  F& Bold() {
    format.bold = true;
    return *this;
  }
  F& Italic() {
    format.italic = true;
    return *this;
  }
  F& Underline() {
    format.underline = true;
    return *this;
  }
  F& Size(int halfPoints) {
    format.fontSizeHalfPoints = halfPoints;
    return *this;
  }
  F& Colour(Rgb colour) {
    format.colour = colour;
    return *this;
  }
  F& Font(std::string family) {
    format.fontFamily = std::move(family);
    return *this;
  }
  operator Format() const { return format; }
};

struct TextCase {
  const char* name;
  std::string rtf;
  std::string plain;
};

void ExpectTexts(const std::vector<TextCase>& cases) {
  for (const TextCase& c : cases) {
    SCOPED_TRACE(c.name);
    const Document document = ParseRtf(c.rtf);
    EXPECT_EQ(PlainText(document), c.plain) << c.rtf;
    ExpectWellFormed(document, c.rtf);
  }
}

TEST(RtfReaderText, ControlWordsSymbolsAndSpecialCharacters) {
  ExpectTexts({
      {"plain text", R"({\rtf1\ansi Bonjour tout le monde})", "Bonjour tout le monde"},
      {"delimiter space is consumed, the second one is text", R"({\rtf1 a\b  b})", "a b"},
      {"non-letter ends a word without being consumed", R"({\rtf1 a\b;b})", "a;b"},
      {"numeric parameter ends at the first non-digit", R"({\rtf1 \fs20x})", "x"},
      {"negative parameter", R"({\rtf1 \fi-360x})", "x"},
      {"CR and LF are not text", "{\\rtf1 ab\r\ncd\ref\ngh}", "abcdefgh"},
      {"backslash before a newline ends the paragraph", "{\\rtf1 a\\\r\nb}", "a\nb"},
      {"escaped braces and backslash", R"({\rtf1 \{x\}\\})", "{x}\\"},
      {"tab, line break, literal tab", "{\\rtf1 a\\tab b\\line c\td}", "a\tb\nc\td"},
      {"non-breaking space, optional and non-breaking hyphens", R"({\rtf1 a\~b\-c\_d})",
       "a\u00A0b\u00ADc\u2011d"},
      {"typographic characters", R"({\rtf1 \lquote a\rquote  \ldblquote b\rdblquote \emdash\endash\bullet})",
       "\u2018a\u2019 \u201Cb\u201D\u2014\u2013\u2022"},
      {"unknown control words are ignored, their text kept", R"({\rtf1 \foo12 a{\bar b}})", "ab"},
      {"unknown symbols are ignored", R"({\rtf1 a\:b\|c})", "abc"},
      {"table cells become tabs, rows paragraphs",
       R"({\rtf1 \trowd\cellx100\cellx200 a\cell b\cell\row \trowd c\cell d\cell\row})", "a\tb\nc\td\n"},
      {"field result kept, instruction dropped",
       R"({\rtf1 Voir {\field{\*\fldinst HYPERLINK "https://x.fr"}{\fldrslt {\ul le site}}}.})",
       "Voir le site."},
      {"field instruction without the ignorable mark", R"({\rtf1 {\field{\fldinst PAGE}{\fldrslt 3}}})", "3"},
      {"hidden text is not shown", R"({\rtf1 a{\v cach\'e9}b\v c\v0 d})", "abd"},
      {"list bullets written as \\pntext and \\listtext are kept",
       R"({\rtf1 {\pntext *\tab}a\par{\listtext -\tab}b})", "*\ta\n-\tb"},
      {"text after the outermost group is not read", "{\\rtf1 a}b\r\n\0"s, "a"},
      {"page and section breaks end a paragraph holding text", R"({\rtf1 a\page b\par\sect c})", "a\nb\nc"},
  });
}

TEST(RtfReaderText, CodePages) {
  ExpectTexts({
      {"1252 by default", R"({\rtf1 caf\'e9 \'80 \'9c\'85})", "café € œ…"},
      {"1252 declared", R"({\rtf1\ansi\ansicpg1252 \'c0 l\'27\'e9t\'e9})", "À l'été"},
      {"unescaped 8-bit bytes in the code page", "{\\rtf1 caf\xe9}", "café"},
      {"upper-case hex digits", R"({\rtf1 \'E9\'C9})", "éÉ"},
      {"1250 declared", R"({\rtf1\ansi\ansicpg1250 \'9a\'e8\'b9})", "ščą"},
      {"Cyrillic font charset overrides the document",
       R"({\rtf1\ansi\ansicpg1252{\fonttbl{\f0\fnil\fcharset0 Arial;}{\f1\fnil\fcharset204 Arial CYR;}})"
       R"(\f0\'e8 \f1\'cf\'f0\'e8\'e2\'e5\'f2})",
       "è Привет"},
      {"Central European font charset", R"({\rtf1{\fonttbl{\f0\fcharset238 Arial CE;}}\f0\'e8})", "č"},
      {"charset 0 is 1252 even under another document code page",
       R"({\rtf1\ansi\ansicpg1251{\fonttbl{\f0\fcharset0 Arial;}{\f1\fcharset1 Arial;}}\f0\'e8\f1\'e8})",
       "èи"},
      {"font code page", R"({\rtf1{\fonttbl{\f0\cpg1253 Arial;}}\f0\'e1})", "α"},
      {"default font's charset", R"({\rtf1\deff0{\fonttbl{\f0\fcharset161 Arial Greek;}}\'e1})", "α"},
      {"Macintosh", R"({\rtf1\mac \'8e})", "é"},
      {"OEM 850", R"({\rtf1\pca \'82})", "é"},
      {"Symbol font bullet and Greek letters", R"({\rtf1{\fonttbl{\f1\fnil\fcharset2 Symbol;}}{\f1\'b7ab}c})",
       "•αβc"},
      {"Wingdings bullets", R"({\rtf1{\fonttbl{\f2\fnil\fcharset2 Wingdings;}}\f2\'a7\'d8})", "▪➢"},
      {"Symbol character written in the private-use page",
       R"({\rtf1{\fonttbl{\f3\fcharset2 Symbol;}}\f3\u-3913?})", "•"},
  });
}

TEST(RtfReaderText, UnicodeAndReplacementCharacters) {
  ExpectTexts({
      {"\\u with a skipped question mark", R"({\rtf1 \u8364?})", "€"},
      {"\\u with a skipped escape", R"({\rtf1 \u233\'e9t\u233\'e9})", "été"},
      {"negative values wrap to 16 bits", R"({\rtf1 \u-1279?})", "\uFB01"},
      {"surrogate pair", R"({\rtf1 \u-10179?\u-8704?})", "😀"},
      {"\\uc0 skips nothing", R"({\rtf1\uc0\u8364 ?})", "€?"},
      {"\\uc2 skips two escapes", R"({\rtf1\uc2\u8364\'80\'80x})", "€x"},
      {"\\uc2 skips two plain characters", R"({\rtf1\uc2\u20013 ab c})", "中 c"},
      {"\\uc is scoped to its group", R"({\rtf1 {\uc2\u233\'e9\'e9}\u233\'e9x})", "ééx"},
      {"a control word counts as one skipped character", R"({\rtf1 \u8217\rquote s})", "’s"},
      {"a closing brace ends the skipping", R"({\rtf1 {\uc3\u233}ab})", "éab"},
      {"an opening brace ends the skipping", R"({\rtf1 \uc3\u233{ab}c})", "éabc"},
      {"\\u in a font name", R"({\rtf1{\fonttbl{\f0\u197?rial;}}\f0 x})", "x"},
  });
  const Document named = ParseRtf(R"({\rtf1{\fonttbl{\f0\u197?rial;}}\f0 x})");
  EXPECT_EQ(named.paragraphs[0].runs[0].format.fontFamily, "Årial");
}

TEST(RtfReaderText, SkippedDestinations) {
  ExpectTexts({
      {"generator", R"({\rtf1{\*\generator Riched20 10.0.19041;}a})", "a"},
      {"unknown ignorable destination", R"({\rtf1 a{\*\nouveau texte {b} c}d})", "ad"},
      {"picture with hex data",
       R"({\rtf1 Logo{\pict\pngblip\picw10\pich10 89504e470d0a1a0a
0000000d49484452}.})",
       "Logo."},
      {"picture with binary data holding braces and backslashes",
       std::string(R"({\rtf1 a{\pict\bin6 )") + "}{\\'\x01\xff" + "}b}", "ab"},
      {"binary data outside a picture", R"({\rtf1 a\bin3 xyzb})", "ab"},
      {"binary data as the skipped replacement of \\u", R"({\rtf1 \u233\bin2 zzb})", "éb"},
      {"font and colour tables are not text",
       R"({\rtf1{\fonttbl{\f0\fswiss Arial;}}{\colortbl;\red1\green2\blue3;}a})", "a"},
      {"font table with alternative names and panose",
       R"({\rtf1{\fonttbl{\f0\froman{\*\panose 02020603050405020304}Times New Roman{\*\falt Times};}}a})",
       "a"},
  });
  // Each of these destinations holds no text of the document.
  for (const char* word : {"info",
                           "stylesheet",
                           "pict",
                           "object",
                           "header",
                           "footer",
                           "headerl",
                           "footerf",
                           "footnote",
                           "fldinst",
                           "themedata",
                           "colorschememapping",
                           "latentstyles",
                           "datastore",
                           "xmlnstbl",
                           "listtable",
                           "listoverridetable",
                           "rsidtbl",
                           "generator",
                           "bkmkstart",
                           "bkmkend",
                           "pn",
                           "annotation",
                           "shp",
                           "nonshppict",
                           "ftnsep",
                           "mmathPr"}) {
    SCOPED_TRACE(word);
    EXPECT_EQ(Text(std::string(R"({\rtf1 a{\)") + word + R"( cach\'e9{\b x}\par y}b})"), "ab");
  }
}

// Every \par opens a new paragraph, so a trailing \par leaves an empty last line, as a rich-edit
// control shows a WordPad file; text without a final \par is a paragraph of its own.
TEST(RtfReaderParagraphs, ParagraphsAndLineCount) {
  struct Case {
    const char* name;
    std::string rtf;
    std::size_t paragraphs;
    std::size_t lines;
    std::string plain;
  };
  const std::vector<Case> cases = {
      {"empty input", "", 1, 1, ""},
      {"empty document", R"({\rtf1\ansi})", 1, 1, ""},
      {"text without \\par", R"({\rtf1 abc})", 1, 1, "abc"},
      {"trailing \\par as WordPad writes it", "{\\rtf1 abc\\par\r\n}", 2, 2, "abc\n"},
      {"text after the last \\par", R"({\rtf1 abc\par def})", 2, 2, "abc\ndef"},
      {"three lines, the last one empty", "{\\rtf1 a\\par b\\par\r\n}", 3, 3, "a\nb\n"},
      {"empty paragraphs", R"({\rtf1 \par\par})", 3, 3, "\n\n"},
      {"line break inside a paragraph", R"({\rtf1 a\line b\par})", 2, 3, "a\nb\n"},
      {"\\par inside a group", R"({\rtf1 {\b a\par}b})", 2, 2, "a\nb"},
      {"\\par in a skipped group counts for nothing", R"({\rtf1 a{\*\x \par}{\header \par}})", 1, 1, "a"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const Document document = ParseRtf(c.rtf);
    EXPECT_EQ(document.paragraphs.size(), c.paragraphs);
    EXPECT_EQ(LineCount(document), c.lines);
    EXPECT_EQ(PlainText(document), c.plain);
  }
}

TEST(RtfReaderParagraphs, AlignmentAndIndents) {
  const Document document = ParseRtf(
      R"({\rtf1 \qc a\par b\par\pard\qr c\par\qj d\par\pard e\par\fi-360\li720\ri120 f\par\pard g\par)"
      R"({\qc h}\par\qd i})");
  struct Expected {
    const char* text;
    Alignment alignment;
    int firstLine, left, right;
  };
  const std::vector<Expected> expected = {
      {"a", Alignment::Centre, 0, 0, 0},
      {"b", Alignment::Centre, 0, 0, 0},
      {"c", Alignment::Right, 0, 0, 0},
      {"d", Alignment::Justify, 0, 0, 0},
      {"e", Alignment::Left, 0, 0, 0},
      {"f", Alignment::Left, -360, 720, 120},
      {"g", Alignment::Left, 0, 0, 0},
      // Paragraph properties set in a group that closes before \par do not reach the \par.
      {"h", Alignment::Left, 0, 0, 0},
      {"i", Alignment::Justify, 0, 0, 0},
  };
  ASSERT_EQ(document.paragraphs.size(), expected.size());
  for (std::size_t i = 0; i < expected.size(); ++i) {
    SCOPED_TRACE(expected[i].text);
    const Paragraph& paragraph = document.paragraphs[i];
    EXPECT_EQ(TextOf(paragraph), expected[i].text);
    EXPECT_EQ(paragraph.alignment, expected[i].alignment);
    EXPECT_EQ(paragraph.firstLineIndentTwips, expected[i].firstLine);
    EXPECT_EQ(paragraph.leftIndentTwips, expected[i].left);
    EXPECT_EQ(paragraph.rightIndentTwips, expected[i].right);
  }
}

TEST(RtfReaderFormat, CharacterFormatting) {
  const Rgb red{255, 0, 0};
  const Rgb green{0, 128, 0};
  struct Case {
    const char* name;
    std::string rtf;
    std::vector<rtf::Run> runs;  // of the first paragraph
  };
  const std::vector<Case> cases = {
      {"bold toggles",
       R"({\rtf1 a\b b\b0 c\b1 d})",
       {{"a", {}}, {"b", F().Bold()}, {"c", {}}, {"d", F().Bold()}}},
      {"italic ends with its group",
       R"({\rtf1 a{\i b{\b c}d}e})",
       {{"a", {}}, {"b", F().Italic()}, {"c", F().Bold().Italic()}, {"d", F().Italic()}, {"e", {}}}},
      {"underline on and off",
       R"({\rtf1 \ul a\ulnone b\ul c\ul0 d\uldb e\ulwave0 f})",
       {{"a", F().Underline()},
        {"b", {}},
        {"c", F().Underline()},
        {"d", {}},
        {"e", F().Underline()},
        {"f", {}}}},
      {"font size in half-points, \\fs alone restores 12 pt",
       R"({\rtf1 \fs20 a{\fs32 b}c\fs d})",
       {{"a", F().Size(20)}, {"b", F().Size(32)}, {"c", F().Size(20)}, {"d", {}}}},
      {"colours from the table, index 0 and unknown indexes are automatic",
       R"({\rtf1{\colortbl;\red255\green0\blue0;\red0\green128\blue0;}\cf1 a\cf2 b\cf0 c\cf9 d})",
       {{"a", F().Colour(red)}, {"b", F().Colour(green)}, {"cd", {}}}},
      {"colour table whose first entry is a colour",
       R"({\rtf1{\colortbl\red255\green0\blue0;}\cf0 a})",
       {{"a", F().Colour(red)}}},
      {"missing components are zero, an entry without any is automatic",
       R"({\rtf1{\colortbl;\red255;\blue255;;}\cf1 a\cf2 b\cf3 c})",
       {{"a", F().Colour(red)}, {"b", F().Colour(Rgb{0, 0, 255})}, {"c", {}}}},
      {"last colour without a semicolon",
       R"({\rtf1{\colortbl;\red255\green0\blue0}\cf1 a})",
       {{"a", F().Colour(red)}}},
      {"colour components are clamped",
       R"({\rtf1{\colortbl;\red300\green-5\blue0;}\cf1 a})",
       {{"a", F().Colour(red)}}},
      {"fonts from the table, default font, \\plain",
       R"({\rtf1\deff1{\fonttbl{\f0\fswiss\fcharset0 Arial;}{\f1\froman\fprq2 Times New Roman;}})"
       R"(a\f0\b b\plain c\f7 d})",
       {{"a", F().Font("Times New Roman")},
        {"b", F().Bold().Font("Arial")},
        {"c", F().Font("Times New Roman")},
        {"d", {}}}},
      {"font table without entry groups",
       R"({\rtf1{\fonttbl\f0\fmodern Courier New;\f1\fswiss Arial;}\f1 a})",
       {{"a", F().Font("Arial")}}},
      {"last font entry without a semicolon",
       R"({\rtf1{\fonttbl{\f0\fnil Tahoma}}\f0 a})",
       {{"a", F().Font("Tahoma")}}},
      {"\\plain resets every property",
       R"({\rtf1{\colortbl;\red255\green0\blue0;}\b\i\ul\fs40\cf1 a\plain b})",
       {{"a", F().Bold().Italic().Underline().Size(40).Colour(red)}, {"b", {}}}},
      {"\\pard keeps character formatting", R"({\rtf1 \b a\pard b})", {{"ab", F().Bold()}}},
      {"format changes without text between them make one run", R"({\rtf1 a\b\b0 b{\i}c})", {{"abc", {}}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const Document document = ParseRtf(c.rtf);
    ASSERT_FALSE(document.paragraphs.empty());
    EXPECT_EQ(document.paragraphs[0].runs, c.runs)
        << "got " << Describe(document.paragraphs[0].runs) << "\nwanted " << Describe(c.runs);
  }
}

TEST(RtfReaderFormat, FormattingCarriesAcrossParagraphs) {
  const Document document = ParseRtf(R"({\rtf1 \b\fs28 Titre\par Suite\b0\par})");
  ASSERT_EQ(document.paragraphs.size(), 3u);
  EXPECT_EQ(document.paragraphs[1].runs, (std::vector<rtf::Run>{{"Suite", F().Bold().Size(28)}}));
  EXPECT_TRUE(document.paragraphs[2].runs.empty());
}

// What WordPad writes for a short list of changes.
const std::string kWordPadDocument =
    "{\\rtf1\\ansi\\ansicpg1252\\deff0\\nouicompat\\deflang1036{\\fonttbl{\\f0\\fnil\\fcharset0 Calibri;}"
    "{\\f1\\fnil\\fcharset2 Symbol;}}\r\n"
    "{\\colortbl ;\\red0\\green0\\blue255;\\red192\\green0\\blue0;}\r\n"
    "{\\*\\generator Riched20 10.0.19041}\\viewkind4\\uc1 \r\n"
    "\\pard\\sa200\\sl276\\slmult1\\qc\\b\\f0\\fs32\\lang12 Liste des modifications\\par\r\n"
    "\\pard\\sa200\\sl276\\slmult1\\b0\\fs22 Version 4.2 du 12 mars 2024\\~:\\par\r\n"
    "\\pard{\\pntext\\f1\\'B7\\tab}{\\*\\pn\\pnlvlblt\\pnf1\\pnindent0{\\pntxtb\\'B7}}\\fi-360\\li720\\sa200"
    "\\sl276\\slmult1 Nouvel \\'e9cran de s\\'e9lection des modules\\par\r\n"
    "{\\pntext\\f1\\'B7\\tab}Correction du calcul de l'espace disque n\\'e9cessaire\\par\r\n"
    "{\\pntext\\f1\\'B7\\tab}Prise en charge de l'euro (\\'80) dans les montants \\i "
    "(facturation)\\i0\\par\r\n"
    "\\pard\\sa200\\sl276\\slmult1\\cf2\\ul Attention\\cf0\\ulnone  : red\\'e9marrez l'ordinateur apr\\'e8s "
    "l'installation.\\par\r\n"
    "}\r\n\0"s;

TEST(RtfReaderDocuments, WordPadListOfChanges) {
  const Document document = ParseRtf(kWordPadDocument);
  EXPECT_EQ(PlainText(document),
            "Liste des modifications\n"
            "Version 4.2 du 12 mars 2024\u00A0:\n"
            "•\tNouvel écran de sélection des modules\n"
            "•\tCorrection du calcul de l'espace disque nécessaire\n"
            "•\tPrise en charge de l'euro (€) dans les montants (facturation)\n"
            "Attention : redémarrez l'ordinateur après l'installation.\n");
  EXPECT_EQ(LineCount(document), 7u);
  ASSERT_EQ(document.paragraphs.size(), 7u);

  const Paragraph& title = document.paragraphs[0];
  EXPECT_EQ(title.alignment, Alignment::Centre);
  EXPECT_EQ(title.runs,
            (std::vector<rtf::Run>{{"Liste des modifications", F().Bold().Size(32).Font("Calibri")}}));
  EXPECT_EQ(document.paragraphs[1].alignment, Alignment::Left);

  const Format body = F().Size(22).Font("Calibri");
  const Paragraph& bullet = document.paragraphs[4];
  EXPECT_EQ(bullet.firstLineIndentTwips, -360);
  EXPECT_EQ(bullet.leftIndentTwips, 720);
  Format symbol = body;
  symbol.fontFamily = "Symbol";
  Format italic = body;
  italic.italic = true;
  EXPECT_EQ(bullet.runs, (std::vector<rtf::Run>{{"•\t", symbol},
                                                {"Prise en charge de l'euro (€) dans les montants ", body},
                                                {"(facturation)", italic}}))
      << Describe(bullet.runs);

  const Paragraph& warning = document.paragraphs[5];
  EXPECT_EQ(warning.firstLineIndentTwips, 0);
  Format highlighted = body;
  highlighted.underline = true;
  highlighted.colour = Rgb{192, 0, 0};
  ASSERT_EQ(warning.runs.size(), 2u);
  EXPECT_EQ(warning.runs[0], (rtf::Run{"Attention", highlighted}));
  EXPECT_EQ(warning.runs[1].format, body);
  EXPECT_TRUE(document.paragraphs[6].runs.empty());
}

// What Word writes: a large header of tables and metadata, fields, pictures, lists.
const std::string kWordDocument =
    R"({\rtf1\adeflang1025\ansi\ansicpg1252\uc1\adeff0\deff0\stshfdbch0\stshfloch31506\stshfhich31506)"
    R"(\stshfbi31506\deflang1036\deflangfe1036\themelang1036\themelangfe0\themelangcs0)"
    "\r\n"
    R"({\fonttbl{\f0\fbidi \froman\fcharset0\fprq2{\*\panose 02020603050405020304}Times New Roman;})"
    R"({\f3\fbidi \froman\fcharset2\fprq2{\*\panose 05050102010706020507}Symbol;})"
    "\r\n"
    R"({\f34\fbidi \froman\fcharset0\fprq2{\*\panose 02040503050406030204}Cambria Math;})"
    R"({\f37\fbidi \fswiss\fcharset0\fprq2{\*\panose 020f0502020204030204}Calibri;})"
    "\r\n"
    R"({\flomajor\f31500\fbidi \froman\fcharset0\fprq2{\*\panose 02020603050405020304}Times New Roman;}})"
    "\r\n"
    R"({\colortbl;\red0\green0\blue0;\red0\green0\blue255;\red0\green255\blue255;\red192\green0\blue0;})"
    "\r\n"
    R"({\*\defchp \f31506\fs22\lang1036\langfe1033\langfenp1033 }{\*\defpap \ql \li0\ri0\sa160\sl259\slmult1)"
    R"(\widctlpar\wrapdefault\aspalpha\aspnum\faauto\adjustright\rin0\lin0\itap0 })"
    "\r\n"
    R"(\noqfpromote {\stylesheet{\ql \li0\ri0\sa160\sl259\slmult1\widctlpar\wrapdefault\aspalpha\aspnum)"
    R"(\faauto\adjustright\rin0\lin0\itap0 \rtlch\fcs1 \af0\afs22\alang1025 \ltrch\fcs0 \f31506\fs22\lang1036)"
    R"(\langfe1033\cgrid\langnp1036\langfenp1033 \snext0 \sqformat \spriority0 Normal;})"
    R"({\*\cs10 \additive \ssemihidden \sunhideused \spriority1 Default Paragraph Font;}})"
    "\r\n"
    R"({\*\listtable{\list\listtemplateid-1{\listlevel\levelnfc23\levelnfcn23\leveljc0\leveljcn0\levelfollow0)"
    R"(\levelstartat1\levelspace0\levelindent0{\leveltext\leveltemplateid67895297\'01\u-3913 ?;}{\levelnumbers;})"
    R"(\f3\fbias0 \fi-360\li720\lin720 }{\listname ;}\listid1}})"
    "\r\n"
    R"({\*\listoverridetable{\listoverride\listid1\listoverridecount0\ls1}})"
    R"({\*\rsidtbl \rsid1\rsid2}{\mmathPr\mmathFont34\mbrkBin0})"
    "\r\n"
    R"({\info{\title Liste des modifications}{\author Service informatique})"
    R"({\creatim\yr2024\mo3\dy12\hr9\min30}{\*\company Korvane}})"
    R"({\*\xmlnstbl {\xmlns1 http://schemas.microsoft.com/office/word/2003/wordml}})"
    "\r\n"
    R"(\paperw11906\paperh16838\margl1417\margr1417\margt1417\margb1417\gutter0\ltrsect)"
    "\r\n"
    R"({\header \ltrpar \pard\plain \qc En-t\'eate de page\par})"
    R"({\footer \pard\plain Page {\field{\*\fldinst {PAGE}}{\fldrslt {1}}}\par})"
    "\r\n"
    R"(\pard\plain \ltrpar\s1\qc \li0\ri0\sa160\widctlpar\rtlch\fcs1 \af0\afs22 \ltrch\fcs0 \f0\fs22)"
    R"({\rtlch\fcs1 \ab\af0 \ltrch\fcs0 \b\f37\fs28\cf2\insrsid2 Liste des modifications}{\insrsid2 \par })"
    "\r\n"
    R"(\pard \ltrpar\qj \li0\ri0\sa160 {\insrsid2 Cette version apporte les corrections suivantes\~:})"
    R"({\insrsid2 \par })"
    "\r\n"
    R"({\listtext\pard\plain\ltrpar \rtlch\fcs1 \af0 \ltrch\fcs0 \f3\fs22\insrsid2 \loch\af3\hich\af3\dbch\af0)"
    R"(\hich\f3 \'b7\tab}\pard \ltrpar\ql \fi-360\li720\ri0\sa160\widctlpar\ls1\rin0\lin720 {\insrsid2 Mise )"
    R"(\'e0 jour de la base des tarifs {\i (fichier} {\i\f37 tarifs.dat}{\i )}}{\insrsid2 \par })"
    "\r\n"
    R"({\listtext\pard\plain\ltrpar \f3\fs22\insrsid2 \'b7\tab}{\insrsid2 Le bouton \ldblquote Suivant)"
    R"(\rdblquote  reste d\'e9sactiv\'e9 tant que la licence n\u8217\'92est pas accept\'e9e{\*\bkmkstart)"
    R"( licence}{\*\bkmkend licence}}{\insrsid2 \par })"
    "\r\n"
    R"({\listtext\pard\plain\ltrpar \f3\fs22\insrsid2 \'b7\tab}{\insrsid2 Nouveau site\~: })"
    R"({\field{\*\fldinst {\insrsid2  HYPERLINK "https://www.korvane.fr/" }}{\fldrslt {\cs15\ul\cf2\insrsid2 )"
    R"(www.korvane.fr}}}{\insrsid2 \par })"
    "\r\n"
    R"(\pard \ltrpar\ql \li0\ri0\sa160 {\insrsid2 Logo\~: }{\*\shppict{\pict{\*\picprop\shplid1025{\sp{\sn )"
    R"(shapeType}{\sv 75}}}\picscalex100\picscaley100\picw100\pich100\pngblip)"
    "\r\n"
    R"(89504e470d0a1a0a0000000d4948445200000010000000100806000000}}{\nonshppict{\pict\wmetafile8 0100090000})"
    R"(}{\insrsid2 \par })"
    "\r\n"
    R"({\insrsid2 Prix\~: 12\u8364\'80 TTC{\footnote \pard\plain Hors frais de port.\par}\par })"
    "\r\n"
    R"({\*\themedata 504b030414000600080000002100e9de0fbfff0000001c020000130000005b436f6e74656e745f54797065735d2e78)"
    R"(6d6c}{\*\colorschememapping 3c3f786d6c2076657273696f6e3d22312e30})"
    R"({\*\latentstyles\lsdstimax376\lsdlockeddef0{\lsdlockedexcept \lsdqformat1 \lsdpriority0 \lsdlocked0 Normal;}})"
    R"({\*\datastore 010500000200000018000000}})"
    "\r\n";

TEST(RtfReaderDocuments, WordListOfChanges) {
  const Document document = ParseRtf(kWordDocument);
  EXPECT_EQ(PlainText(document),
            "Liste des modifications\n"
            "Cette version apporte les corrections suivantes\u00A0:\n"
            "•\tMise à jour de la base des tarifs (fichier tarifs.dat)\n"
            "•\tLe bouton “Suivant” reste désactivé tant que la licence n’est pas acceptée\n"
            "•\tNouveau site\u00A0: www.korvane.fr\n"
            "Logo\u00A0: \n"
            "Prix\u00A0: 12€ TTC\n");
  EXPECT_EQ(LineCount(document), 8u);
  ASSERT_EQ(document.paragraphs.size(), 8u);

  const Paragraph& title = document.paragraphs[0];
  EXPECT_EQ(title.alignment, Alignment::Centre);
  EXPECT_EQ(title.runs,
            (std::vector<rtf::Run>{
                {"Liste des modifications", F().Bold().Size(28).Colour(Rgb{0, 0, 255}).Font("Calibri")}}));
  EXPECT_EQ(document.paragraphs[1].alignment, Alignment::Justify);

  const Paragraph& item = document.paragraphs[2];
  EXPECT_EQ(item.alignment, Alignment::Left);
  EXPECT_EQ(item.firstLineIndentTwips, -360);
  EXPECT_EQ(item.leftIndentTwips, 720);
  const Format body = F().Size(22).Font("Times New Roman");
  Format italic = body;
  italic.italic = true;
  Format italicCalibri = italic;
  italicCalibri.fontFamily = "Calibri";
  Format symbol = body;
  symbol.fontFamily = "Symbol";
  EXPECT_EQ(item.runs, (std::vector<rtf::Run>{{"•\t", symbol},
                                              {"Mise à jour de la base des tarifs ", body},
                                              {"(fichier", italic},
                                              {" ", body},
                                              {"tarifs.dat", italicCalibri},
                                              {")", italic}}))
      << Describe(item.runs);

  const Paragraph& link = document.paragraphs[4];
  ASSERT_FALSE(link.runs.empty());
  Format linkFormat = body;
  linkFormat.underline = true;
  linkFormat.colour = Rgb{0, 0, 255};
  EXPECT_EQ(link.runs.back(), (rtf::Run{"www.korvane.fr", linkFormat}));
}

TEST(RtfReaderDamaged, GivesWhatCouldBeRead) {
  const std::string deep(100000, '{');
  const std::string deepEnd(100000, '}');
  std::string noise;
  std::uint32_t seed = 12345;
  for (int i = 0; i < 4096; ++i) {
    seed = seed * 1103515245u + 12345u;
    noise += static_cast<char>(seed >> 24);
  }
  struct Case {
    const char* name;
    std::string rtf;
    std::optional<std::string> plain;  // nothing: only the invariants hold
  };
  const std::vector<Case> cases = {
      {"opening brace only", "{", ""},
      {"closing braces only", "}}}", ""},
      {"byte-order mark and blank lines before the document", "\xEF\xBB\xBF\r\n {\\rtf1 a}", "a"},
      {"missing header", "Bonjour\\par le monde", "Bonjour\nle monde"},
      {"missing closing brace", R"({\rtf1 abc)", "abc"},
      {"unclosed inner groups", R"({\rtf1 {\b abc{\i d)", "abcd"},
      {"too many closing braces", R"({\rtf1 a}}}b)", "a"},
      {"stray closing braces before the document", R"(}}{\rtf1 a})", "a"},
      {"lone backslash at the end", R"({\rtf1 abc\)", "abc"},
      {"truncated escape", R"({\rtf1 abc\')", "abc"},
      {"half an escape", R"({\rtf1 abc\'e)", "abc"},
      {"escape with bad hex digits", R"({\rtf1 a\'zzb})", "azzb"},
      {"escape with one hex digit", R"({\rtf1 a\'eg})", "ag"},
      {"truncated control word", R"({\rtf1 a\pa)", "a"},
      {"truncated \\u", R"({\rtf1 a\u)", "a"},
      {"\\u followed by a lone minus", R"({\rtf1 \u-})", "-"},
      {"\\u cut before its replacement", R"({\rtf1 \u233)", "é"},
      {"huge \\u parameter", R"({\rtf1 \u99999999999999999 x})", std::nullopt},
      {"huge \\uc is bounded by the group", R"({\rtf1 {\uc99999999\u233 abc}d})", "éd"},
      {"negative \\uc", R"({\rtf1 \uc-3\u233 x})", "éx"},
      {"\\bin longer than the input", R"({\rtf1 a\bin99999999 bc})", "a"},
      {"negative \\bin", R"({\rtf1 a\bin-5 bc})", "abc"},
      {"huge font size", R"({\rtf1 \fs99999999999 big})", "big"},
      {"truncated font table", R"({\rtf1 {\fonttbl{\f0 Arial)", ""},
      {"truncated colour table", R"({\rtf1 {\colortbl;\red255)", ""},
      {"unclosed ignorable destination", R"({\rtf1 a{\*\generator never closed)", "a"},
      {"overlong control word", R"({\rtf1 \abcdefghijklmnopqrstuvwxyzabcdefghijklmnopqrstuvwxyz123 x})", "x"},
      {"null and control bytes in text",
       "{\\rtf1 a\0b\x01\x1f"
       "c}"s,
       "abc"},
      {"deep nesting, closed", deep + "profond" + deepEnd, "profond"},
      {"deep nesting, never closed", deep + "x\\par y", "x\ny"},
      {"deep nesting then more text", "{\\rtf1 " + deep + "\\b a" + deepEnd + "b}", "ab"},
      {"random bytes", noise, std::nullopt},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const Document document = ParseRtf(c.rtf);
    ExpectWellFormed(document, c.rtf);
    if (c.plain) {
      EXPECT_EQ(PlainText(document), *c.plain);
    }
  }
}

TEST(RtfReaderDamaged, EveryTruncationOfTheSampleDocuments) {
  for (const std::string* sample : {&kWordPadDocument, &kWordDocument}) {
    const std::string full = PlainText(ParseRtf(*sample));
    for (std::size_t length = 0; length <= sample->size(); ++length) {
      const Document document = ParseRtf(std::string_view(*sample).substr(0, length));
      ExpectWellFormed(document, sample->substr(0, length));
      // Cutting the input never invents text: what a prefix reads is no longer than the whole.
      EXPECT_LE(PlainText(document).size(), full.size()) << length;
    }
  }
}

// Deterministic mutations of the sample documents: byte flips, inserted markup characters,
// deleted spans. Every parse must end and give a well-formed document.
TEST(RtfReaderDamaged, MutatedSampleDocuments) {
  std::mt19937 random(20240312u);
  const std::string_view markup = "{}\\'*;0123456789-abfu ";
  for (int round = 0; round < 3000; ++round) {
    std::string input = round % 2 == 0 ? kWordPadDocument : kWordDocument;
    const int edits = 1 + static_cast<int>(random() % 8);
    for (int e = 0; e < edits && !input.empty(); ++e) {
      const std::size_t at = random() % input.size();
      switch (random() % 4) {
        case 0:
          input[at] = static_cast<char>(random() & 0xFF);
          break;
        case 1:
          input.insert(at, 1, markup[random() % markup.size()]);
          break;
        case 2:
          input.erase(at, 1 + random() % 16);
          break;
        default:
          input.resize(at);
          break;
      }
    }
    const Document document = ParseRtf(input);
    ExpectWellFormed(document, input);
    if (HasFailure()) {
      ADD_FAILURE() << "round " << round;
      return;
    }
  }
}

}  // namespace
}  // namespace kv::rtf
