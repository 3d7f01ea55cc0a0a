// The rich-text controls of the Windows window (app/win32/Win32RichText.h), in the system's
// rich-edit control: the notice keeps the formats of its RTF, the report grows one paragraph per
// line in the size the engine gives, and what the control holds reads back as its text.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "formats/RtfReader.h"

#include "app/win32/Win32RichText.h"

namespace kv {
namespace {

constexpr wchar_t kParentClass[] = L"KorvaneRichTextTestParent";

class Win32RichTextTest : public ::testing::Test {
 protected:
  void SetUp() override {
    winui::RegisterWindowClass(kParentClass, COLOR_WINDOW);
    parent_ = ::CreateWindowExW(0, kParentClass, L"", WS_OVERLAPPEDWINDOW, 0, 0, 400, 300, nullptr, nullptr,
                                ::GetModuleHandleW(nullptr), nullptr);
    ASSERT_NE(parent_, nullptr);
    text_ = std::make_unique<Win32RichText>(parent_, 1);
    ::MoveWindow(text_->Handle(), 0, 0, 400, 300, FALSE);
  }

  void TearDown() override {
    text_.reset();
    if (parent_ != nullptr) ::DestroyWindow(parent_);
  }

  CHARFORMAT2W FormatAt(LONG position) const {
    CHARRANGE one{position, position + 1};
    ::SendMessageW(text_->Handle(), EM_EXSETSEL, 0, reinterpret_cast<LPARAM>(&one));
    CHARFORMAT2W format{};
    format.cbSize = sizeof format;
    ::SendMessageW(text_->Handle(), EM_GETCHARFORMAT, SCF_SELECTION, reinterpret_cast<LPARAM>(&format));
    return format;
  }

  PARAFORMAT2 ParagraphAt(LONG position) const {
    CHARRANGE one{position, position};
    ::SendMessageW(text_->Handle(), EM_EXSETSEL, 0, reinterpret_cast<LPARAM>(&one));
    PARAFORMAT2 format{};
    format.cbSize = sizeof format;
    ::SendMessageW(text_->Handle(), EM_GETPARAFORMAT, 0, reinterpret_cast<LPARAM>(&format));
    return format;
  }

  // The control's text as EM_STREAMOUT writes it (Unicode plain text), in UTF-8.
  std::string StreamedText() const {
    std::wstring out;
    EDITSTREAM stream{};
    stream.dwCookie = reinterpret_cast<DWORD_PTR>(&out);
    stream.pfnCallback = [](DWORD_PTR cookie, LPBYTE bytes, LONG count, LONG* written) -> DWORD {
      reinterpret_cast<std::wstring*>(cookie)->append(reinterpret_cast<const wchar_t*>(bytes),
                                                       static_cast<std::size_t>(count) / sizeof(wchar_t));
      *written = count;
      return 0;
    };
    ::SendMessageW(text_->Handle(), EM_STREAMOUT, SF_TEXT | SF_UNICODE, reinterpret_cast<LPARAM>(&stream));
    return winui::Utf8(out);
  }

  HWND parent_ = nullptr;
  std::unique_ptr<Win32RichText> text_;
};

TEST_F(Win32RichTextTest, ANoticeKeepsTheWeightsSizesSlantsAlignmentAndIndentsOfItsRtf) {
  const rtf::Document document = rtf::ParseRtf(
      R"({\rtf1\ansi\ansicpg1252{\fonttbl{\f0\fswiss Arial;}}\pard\qc\b\f0\fs28 Titre\b0\fs20\par)"
      R"(\pard\fi-200\li400 - {\i liste} d'\'e9l\'e9ments\par)"
      R"(\pard fin\line ligne})");
  text_->SetDefaultFormat(L"MS Sans Serif", 11);
  text_->LoadDocument(document);
  // The default font, set again, leaves the text's own formats alone.
  text_->SetDefaultFormat(L"MS Sans Serif", 11);

  const CHARFORMAT2W title = FormatAt(0);
  EXPECT_TRUE(title.dwEffects & CFE_BOLD);
  EXPECT_EQ(title.yHeight, 280);  // 14 pt in twips
  EXPECT_EQ(std::wstring(title.szFaceName), L"Arial");
  EXPECT_EQ(ParagraphAt(0).wAlignment, PFA_CENTER);

  const std::string plain = text_->PlainText();
  const auto item = static_cast<LONG>(std::wstring(L"Titre\r- ").size());
  const CHARFORMAT2W italic = FormatAt(item);
  EXPECT_TRUE(italic.dwEffects & CFE_ITALIC);
  EXPECT_FALSE(italic.dwEffects & CFE_BOLD);
  EXPECT_EQ(italic.yHeight, 200);
  // The first line starts 200 twips further left than the others, which start at 400.
  const PARAFORMAT2 list = ParagraphAt(item);
  EXPECT_EQ(list.dxStartIndent, 200);
  EXPECT_EQ(list.dxOffset, 200);

  EXPECT_EQ(plain, rtf::PlainText(document));
  EXPECT_EQ(plain, "Titre\n- liste d'éléments\nfin\nligne");
  EXPECT_EQ(text_->LineCount(), static_cast<int>(rtf::LineCount(document)));
}

TEST_F(Win32RichTextTest, AReportGrowsOneParagraphPerLineInTheSizeLastGiven) {
  text_->SetDefaultFormat(L"MS Sans Serif", 10);
  std::vector<std::string> logged;
  text_->OnLine([&logged](const std::string& line) { logged.push_back(line); });

  text_->AppendLine("Mise à jour : Fichiers communs", 10);
  text_->AppendLine("Copie de A\r\nvers B", 0);
  text_->AppendLine("", 0);

  EXPECT_EQ(text_->PlainText(), "Mise à jour : Fichiers communs\nCopie de A\nvers B\n");
  EXPECT_EQ(text_->LineCount(), 4);
  EXPECT_EQ(logged, (std::vector<std::string>{"Mise à jour : Fichiers communs", "Copie de A", "vers B", ""}));
  EXPECT_EQ(StreamedText(), "Mise à jour : Fichiers communs\r\nCopie de A\r\nvers B\r\n");
  // The size given stays for the lines after it; the default font is of normal weight.
  const CHARFORMAT2W later = FormatAt(static_cast<LONG>(std::wstring(L"Mise à jour : Fichiers communs\r").size()));
  EXPECT_EQ(later.yHeight, 200);
  EXPECT_FALSE(later.dwEffects & CFE_BOLD);
  EXPECT_EQ(std::wstring(later.szFaceName), L"MS Sans Serif");
  // Written by the program, read-only for the user.
  EXPECT_TRUE(::SendMessageW(text_->Handle(), EM_GETOPTIONS, 0, 0) & ECO_READONLY);
}

TEST_F(Win32RichTextTest, ClearEmptiesTheControlAndAnEmptyDocumentHoldsNoLine) {
  text_->AppendLine("une ligne", 0);
  text_->Clear();
  EXPECT_EQ(text_->LineCount(), 0);
  EXPECT_EQ(text_->PlainText(), "");
  text_->LoadDocument(rtf::ParseRtf(""));
  EXPECT_EQ(text_->LineCount(), 0);
  text_->AppendLine("première", 0);
  EXPECT_EQ(text_->PlainText(), "première");
  EXPECT_EQ(text_->LineCount(), 1);
}

}  // namespace
}  // namespace kv
