#include "formats/rtf/Keywords.h"

namespace kv::rtf::detail {

namespace {

// Every underline style draws a line; the reader keeps only whether there is one.
// clang-format off
constexpr std::string_view kUnderlineStyles[] = {
    "ul", "uld", "uldash", "uldashd", "uldashdd", "uldb", "ulhwave", "ulldash", "ulth", "ulthd", "ulthdash",
    "ulthdashd", "ulthdashdd", "ulthldash", "ululdbwave", "ulw", "ulwave"};

// Groups whose content is not text of the document: tables, pictures, objects, metadata, page
// furniture, notes, field instructions and list definitions (their visible form is the \listtext
// or \pntext group, which is kept).
constexpr std::string_view kSkippedDestinations[] = {
    "info", "stylesheet", "pict", "object", "objdata", "objclass", "objname", "result", "header", "headerl",
    "headerr", "headerf", "footer", "footerl", "footerr", "footerf", "footnote", "ftnsep", "ftnsepc", "ftncn",
    "aftnsep", "aftnsepc", "aftncn", "fldinst", "themedata", "colorschememapping", "latentstyles",
    "datastore", "xmlnstbl", "listtable", "listoverridetable", "rsidtbl", "generator", "bkmkstart", "bkmkend",
    "pn", "pntxta", "pntxtb", "pnseclvl", "filetbl", "revtbl", "annotation", "atnid", "atnauthor", "atndate",
    "atnref", "atnicn", "atrfstart", "atrfend", "txe", "xe", "tc", "tcn", "template", "userprops", "docvar",
    "shp", "shpinst", "shprslt", "shppict", "nonshppict", "do", "picprop", "blipuid", "fchars", "lchars",
    "pgdsctbl", "private", "mmathPr", "panose", "falt", "fname", "fontemb", "fontfile", "keywords", "subject",
    "title", "author", "operator", "doccomm", "comment", "company", "category", "manager", "hlinkbase",
    "passwordhash", "protusertbl", "listpicture", "background", "formfield", "datafield", "defchp", "defpap",
    "nesttableprops", "wgrffmtfilter", "xmlopen", "xmlclose", "xmlname", "xmlattrname", "xmlattrvalue",
    "factoidname", "htmltag", "mhtmltag", "oldcprops", "oldpprops", "oldsprops", "oldtprops"};
// clang-format on

}  // namespace

const std::unordered_map<std::string_view, KeywordInfo>& Keywords() {
  static const std::unordered_map<std::string_view, KeywordInfo> table = [] {
    std::unordered_map<std::string_view, KeywordInfo> t = {
        {"bin", {Keyword::Bin}},
        {"u", {Keyword::Unicode}},
        {"uc", {Keyword::UnicodeSkip}},
        {"ansi", {Keyword::Ansi}},
        {"ansicpg", {Keyword::AnsiCodePage}},
        {"mac", {Keyword::Mac}},
        {"pc", {Keyword::Pc}},
        {"pca", {Keyword::Pca}},
        {"deff", {Keyword::DefaultFont}},
        {"fonttbl", {Keyword::FontTable}},
        {"colortbl", {Keyword::ColourTable}},
        {"f", {Keyword::Font}},
        {"fcharset", {Keyword::Charset}},
        {"cpg", {Keyword::FontCodePage}},
        {"red", {Keyword::Red}},
        {"green", {Keyword::Green}},
        {"blue", {Keyword::Blue}},
        {"par", {Keyword::Par}},
        {"pard", {Keyword::Pard}},
        {"plain", {Keyword::Plain}},
        {"line", {Keyword::Line}},
        {"tab", {Keyword::Tab}},
        {"cell", {Keyword::Cell}},
        {"nestcell", {Keyword::Cell}},
        {"row", {Keyword::Row}},
        {"nestrow", {Keyword::Row}},
        {"page", {Keyword::PageBreak}},
        {"sect", {Keyword::PageBreak}},
        {"b", {Keyword::Bold}},
        {"i", {Keyword::Italic}},
        {"ulnone", {Keyword::UnderlineNone}},
        {"v", {Keyword::Hidden}},
        {"fs", {Keyword::FontSize}},
        {"cf", {Keyword::Colour}},
        {"ql", {Keyword::AlignLeft}},
        {"qr", {Keyword::AlignRight}},
        {"qc", {Keyword::AlignCentre}},
        {"qj", {Keyword::AlignJustify}},
        {"qd", {Keyword::AlignJustify}},
        {"fi", {Keyword::FirstIndent}},
        {"li", {Keyword::LeftIndent}},
        {"lin", {Keyword::LeftIndent}},
        {"ri", {Keyword::RightIndent}},
        {"rin", {Keyword::RightIndent}},
        {"emdash", {Keyword::Character, u'\u2014'}},
        {"endash", {Keyword::Character, u'\u2013'}},
        {"lquote", {Keyword::Character, u'\u2018'}},
        {"rquote", {Keyword::Character, u'\u2019'}},
        {"ldblquote", {Keyword::Character, u'\u201C'}},
        {"rdblquote", {Keyword::Character, u'\u201D'}},
        {"bullet", {Keyword::Character, u'\u2022'}},
        {"emspace", {Keyword::Character, u'\u2003'}},
        {"enspace", {Keyword::Character, u'\u2002'}},
        {"qmspace", {Keyword::Character, u'\u2005'}},
        {"zwj", {Keyword::Character, u'\u200D'}},
        {"zwnj", {Keyword::Character, u'\u200C'}},
        {"ltrmark", {Keyword::Character, u'\u200E'}},
        {"rtlmark", {Keyword::Character, u'\u200F'}},
    };
    for (std::string_view word : kUnderlineStyles) t.emplace(word, KeywordInfo{Keyword::Underline});
    for (std::string_view word : kSkippedDestinations)
      t.emplace(word, KeywordInfo{Keyword::SkippedDestination});
    return t;
  }();
  return table;
}

}  // namespace kv::rtf::detail
