#include "app/win32/Win32RichText.h"

#include <algorithm>

namespace kv {

namespace {

using winui::Utf8;
using winui::Wide;

// The control's window class, its library loaded once for the program's life.
const wchar_t* RichEditClass() {
  static const wchar_t* const name = [] {
    if (::LoadLibraryW(L"msftedit.dll") != nullptr) return MSFTEDIT_CLASS;
    ::LoadLibraryW(L"riched20.dll");
    return RICHEDIT_CLASSW;
  }();
  return name;
}

CHARFORMAT2W CharFormatOf(const rtf::Format& run) {
  CHARFORMAT2W format{};
  format.cbSize = sizeof format;
  format.dwMask = CFM_BOLD | CFM_ITALIC | CFM_UNDERLINE | CFM_SIZE | CFM_COLOR;
  format.dwEffects = (run.bold ? CFE_BOLD : 0) | (run.italic ? CFE_ITALIC : 0) | (run.underline ? CFE_UNDERLINE : 0);
  // Twips: 20 per point, 10 per half-point.
  format.yHeight = run.fontSizeHalfPoints * 10;
  if (run.colour) {
    format.crTextColor = RGB(run.colour->red, run.colour->green, run.colour->blue);
  } else {
    format.dwEffects |= CFE_AUTOCOLOR;
  }
  if (!run.fontFamily.empty()) {
    format.dwMask |= CFM_FACE;
    const std::wstring face = Wide(run.fontFamily);
    face.copy(format.szFaceName, std::min<std::size_t>(face.size(), LF_FACESIZE - 1));
  }
  return format;
}

PARAFORMAT2 ParaFormatOf(const rtf::Paragraph& paragraph) {
  PARAFORMAT2 format{};
  format.cbSize = sizeof format;
  format.dwMask = PFM_ALIGNMENT | PFM_STARTINDENT | PFM_OFFSET | PFM_RIGHTINDENT;
  switch (paragraph.alignment) {
    case rtf::Alignment::Left:
      format.wAlignment = PFA_LEFT;
      break;
    case rtf::Alignment::Right:
      format.wAlignment = PFA_RIGHT;
      break;
    case rtf::Alignment::Centre:
      format.wAlignment = PFA_CENTER;
      break;
    case rtf::Alignment::Justify:
      format.wAlignment = PFA_JUSTIFY;
      break;
  }
  // The control indents the first line from the left edge and the others from the first line.
  format.dxStartIndent = paragraph.leftIndentTwips + paragraph.firstLineIndentTwips;
  format.dxOffset = -paragraph.firstLineIndentTwips;
  format.dxRightIndent = paragraph.rightIndentTwips;
  return format;
}

// A line break inside a paragraph is the control's vertical tab, not a paragraph mark.
std::wstring FragmentText(const std::string& text) {
  std::wstring wide = Wide(text);
  std::replace(wide.begin(), wide.end(), L'\n', L'\v');
  return wide;
}

void SelectEnd(HWND control) {
  CHARRANGE end{-1, -1};
  ::SendMessageW(control, EM_EXSETSEL, 0, reinterpret_cast<LPARAM>(&end));
}

// The control stays read-only for the user; the program writes with the flag lifted.
class Writing {
 public:
  explicit Writing(HWND control) : control_(control) { ::SendMessageW(control_, EM_SETREADONLY, FALSE, 0); }
  ~Writing() { ::SendMessageW(control_, EM_SETREADONLY, TRUE, 0); }
  Writing(const Writing&) = delete;
  Writing& operator=(const Writing&) = delete;

 private:
  HWND control_;
};

}  // namespace

PrinterChoice::~PrinterChoice() {
  if (devMode_ != nullptr) ::GlobalFree(devMode_);
  if (devNames_ != nullptr) ::GlobalFree(devNames_);
}

HDC PrinterChoice::Choose(HWND owner) {
  PRINTDLGW dialog{};
  dialog.lStructSize = sizeof dialog;
  dialog.hwndOwner = owner;
  // The last choice comes back; the dialog replaces it.
  dialog.hDevMode = devMode_;
  dialog.hDevNames = devNames_;
  dialog.Flags = PD_RETURNDC | PD_NOSELECTION | PD_NOPAGENUMS | PD_USEDEVMODECOPIESANDCOLLATE;
  const bool confirmed = ::PrintDlgW(&dialog) != FALSE;
  devMode_ = dialog.hDevMode;
  devNames_ = dialog.hDevNames;
  return confirmed ? dialog.hDC : nullptr;
}

Win32RichText::Win32RichText(HWND parent, int id)
    : window_(winui::CreateChild(parent, RichEditClass(), L"",
                                 WS_TABSTOP | WS_VSCROLL | ES_MULTILINE | ES_READONLY | ES_AUTOVSCROLL, id,
                                 WS_EX_CLIENTEDGE)) {
  // The report may grow past the control's default limit of 32 767 characters.
  ::SendMessageW(window_, EM_EXLIMITTEXT, 0, 0x7FFFFFFE);
  ::SendMessageW(window_, EM_SETUNDOLIMIT, 0, 0);
}

void Win32RichText::Clear() {
  const Writing writing(window_);
  ::SetWindowTextW(window_, L"");
  lineCount_ = 0;
  endSizePoints_ = 0;
}

void Win32RichText::InsertAtEnd(const std::wstring& text, const CHARFORMAT2W& format) {
  SelectEnd(window_);
  ::SendMessageW(window_, EM_SETCHARFORMAT, SCF_SELECTION, reinterpret_cast<LPARAM>(&format));
  ::SendMessageW(window_, EM_REPLACESEL, FALSE, reinterpret_cast<LPARAM>(text.c_str()));
}

void Win32RichText::LoadDocument(const rtf::Document& document) {
  Clear();
  const Writing writing(window_);
  bool first = true;
  for (const rtf::Paragraph& paragraph : document.paragraphs) {
    // The paragraph mark takes the format of the paragraph's first run.
    const CHARFORMAT2W mark = CharFormatOf(paragraph.runs.empty() ? rtf::Format{} : paragraph.runs.front().format);
    if (!first) InsertAtEnd(L"\r", mark);
    first = false;
    SelectEnd(window_);
    PARAFORMAT2 format = ParaFormatOf(paragraph);
    ::SendMessageW(window_, EM_SETPARAFORMAT, 0, reinterpret_cast<LPARAM>(&format));
    for (const rtf::Run& run : paragraph.runs) InsertAtEnd(FragmentText(run.text), CharFormatOf(run.format));
  }
  // An empty document is an empty control, which holds no line.
  lineCount_ = rtf::PlainText(document).empty() ? 0 : static_cast<int>(rtf::LineCount(document));
  CHARRANGE start{0, 0};
  ::SendMessageW(window_, EM_EXSETSEL, 0, reinterpret_cast<LPARAM>(&start));
}

void Win32RichText::AppendLine(const std::string& text, int sizePoints) {
  if (sizePoints != 0) endSizePoints_ = sizePoints;
  CHARFORMAT2W format{};
  format.cbSize = sizeof format;
  if (endSizePoints_ != 0) {
    format.dwMask = CFM_SIZE;
    format.yHeight = endSizePoints_ * 20;
  }
  const Writing writing(window_);
  std::size_t start = 0;
  for (;;) {
    const std::size_t end = text.find("\r\n", start);
    const std::string line = text.substr(start, end == std::string::npos ? std::string::npos : end - start);
    // The first line of an empty control takes its one empty paragraph.
    InsertAtEnd((lineCount_ == 0 ? L"" : L"\r") + Wide(line), format);
    ++lineCount_;
    if (listener_) listener_(line);
    if (end == std::string::npos) break;
    start = end + 2;
  }
}

bool Win32RichText::CanFocus() const {
  return ::IsWindowVisible(window_) && ::IsWindowEnabled(window_);
}

std::string Win32RichText::PlainText() const {
  GETTEXTLENGTHEX length{GTL_NUMCHARS | GTL_PRECISE, 1200};
  const auto size = ::SendMessageW(window_, EM_GETTEXTLENGTHEX, reinterpret_cast<WPARAM>(&length), 0);
  std::wstring text(static_cast<std::size_t>(std::max<LRESULT>(size, 0)) + 1, L'\0');
  GETTEXTEX request{};
  request.cb = static_cast<DWORD>(text.size() * sizeof(wchar_t));
  request.flags = GT_DEFAULT;
  request.codepage = 1200;
  const auto copied = ::SendMessageW(window_, EM_GETTEXTEX, reinterpret_cast<WPARAM>(&request),
                                     reinterpret_cast<LPARAM>(text.data()));
  text.resize(static_cast<std::size_t>(std::max<LRESULT>(copied, 0)));
  // Paragraph marks and line breaks both end a line.
  for (wchar_t& c : text) {
    if (c == L'\r' || c == L'\v') c = L'\n';
  }
  return Utf8(text);
}

void Win32RichText::SetDefaultFormat(const wchar_t* family, int pixels) {
  CHARFORMAT2W format{};
  format.cbSize = sizeof format;
  // Every attribute: the control's own default is the system font, bold on some systems.
  format.dwMask = CFM_FACE | CFM_SIZE | CFM_CHARSET | CFM_BOLD | CFM_ITALIC | CFM_UNDERLINE | CFM_STRIKEOUT |
                  CFM_WEIGHT | CFM_COLOR;
  format.dwEffects = CFE_AUTOCOLOR;
  format.wWeight = FW_NORMAL;
  format.bCharSet = DEFAULT_CHARSET;
  // Twips: 1440 an inch, 96 pixels an inch at the design's resolution.
  format.yHeight = ::MulDiv(pixels, 1440, USER_DEFAULT_SCREEN_DPI);
  const std::wstring face = family;
  face.copy(format.szFaceName, std::min<std::size_t>(face.size(), LF_FACESIZE - 1));
  ::SendMessageW(window_, EM_SETCHARFORMAT, SCF_DEFAULT, reinterpret_cast<LPARAM>(&format));
}

void Win32RichText::ScrollToEnd() {
  SelectEnd(window_);
  ::SendMessageW(window_, EM_SCROLLCARET, 0, 0);
  ::SendMessageW(window_, WM_VSCROLL, SB_BOTTOM, 0);
}

void Win32RichText::Print(HDC printer, const std::string& title) const {
  const std::wstring name = Wide(title);
  DOCINFOW document{};
  document.cbSize = sizeof document;
  document.lpszDocName = name.c_str();
  if (::StartDocW(printer, &document) <= 0) return;

  // The printable area in twips, from the device's pixels.
  const int dpiX = ::GetDeviceCaps(printer, LOGPIXELSX);
  const int dpiY = ::GetDeviceCaps(printer, LOGPIXELSY);
  FORMATRANGE range{};
  range.hdc = printer;
  range.hdcTarget = printer;
  range.rcPage = {0, 0, ::MulDiv(::GetDeviceCaps(printer, HORZRES), 1440, dpiX),
                  ::MulDiv(::GetDeviceCaps(printer, VERTRES), 1440, dpiY)};
  // Half an inch of margin all round.
  range.rc = {720, 720, range.rcPage.right - 720, range.rcPage.bottom - 720};
  GETTEXTLENGTHEX length{GTL_NUMCHARS | GTL_PRECISE, 1200};
  const auto end = static_cast<LONG>(::SendMessageW(window_, EM_GETTEXTLENGTHEX, reinterpret_cast<WPARAM>(&length), 0));
  range.chrg = {0, -1};
  bool printed = true;
  do {
    if (::StartPage(printer) <= 0) {
      printed = false;
      break;
    }
    const RECT area = range.rc;
    const auto next = static_cast<LONG>(::SendMessageW(window_, EM_FORMATRANGE, TRUE, reinterpret_cast<LPARAM>(&range)));
    range.rc = area;
    if (::EndPage(printer) <= 0) {
      printed = false;
      break;
    }
    // A page that takes nothing would repeat for ever.
    if (next <= range.chrg.cpMin) break;
    range.chrg.cpMin = next;
  } while (range.chrg.cpMin < end);
  // Frees the control's cached printer information.
  ::SendMessageW(window_, EM_FORMATRANGE, FALSE, 0);
  if (printed) {
    ::EndDoc(printer);
  } else {
    ::AbortDoc(printer);
  }
}

}  // namespace kv
