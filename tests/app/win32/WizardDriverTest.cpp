// The wizard window of korvane-update.exe, driven from another process with window messages only,
// as a user would drive it: the packed shared-files update program (KV_WIZARD_PROGRAM) is started
// on a minimal suite installation (the main product's registry key and its program folder), its
// window and buttons are found, the buttons pressed with BM_CLICK and the texts read with
// WM_GETTEXT. The report the window shows is checked against the report of an unattended run of the
// same program on the same installation. With KV_SCREENSHOTS set, the window is also captured at
// each page into that folder (BMP files).
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "formats/RtfReader.h"
#include "wizard/WizardStep.h"

#include "app/win32/WizardControls.h"

// clang-format off
#include <windows.h>
// clang-format on

namespace kv {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

constexpr auto kPatience = 60s;
const wchar_t* const kSuiteKey = L"SOFTWARE\\KORVANE S.A.\\WinTessivo\\Program";
// The test's own suite, in a folder of its own: other tests of the prefix may lay out C:\WKorvane.
const fs::path kTestFolder = L"C:\\WizardWindowTest";
const fs::path kSuiteRoot = kTestFolder / L"WKorvane";
const fs::path kProgramFile = kSuiteRoot / L"TSV\\Programs\\WinTessivo.exe";
const fs::path kCommonFolder = kSuiteRoot / L"Common\\Programs";

std::string Utf8(const std::wstring& text) {
  if (text.empty()) return {};
  const int size = ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0,
                                         nullptr, nullptr);
  std::string utf8(static_cast<std::size_t>(size), '\0');
  ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), utf8.data(), size, nullptr, nullptr);
  return utf8;
}

std::wstring Wide(const std::string& utf8) {
  if (utf8.empty()) return {};
  const int size = ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
  std::wstring wide(static_cast<std::size_t>(size), L'\0');
  ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), wide.data(), size);
  return wide;
}

// A path from the environment; a host path (as CTest gives it) becomes one of Wine's Z: drive.
fs::path PathFromEnvironment(const char* name) {
  const char* value = std::getenv(name);
  if (value == nullptr || *value == '\0') return {};
  std::string path = value;
  if (path.front() == '/') {
    std::replace(path.begin(), path.end(), '/', '\\');
    path = "Z:" + path;
  }
  return fs::path(Wide(path));
}

// The text of a window of another process, by WM_GETTEXT (which the system carries across).
std::string TextOf(HWND window) {
  DWORD_PTR length = 0;
  if (!::SendMessageTimeoutW(window, WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG, 5000, &length)) return {};
  std::wstring text(length + 1, L'\0');
  DWORD_PTR copied = 0;
  ::SendMessageTimeoutW(window, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(text.data()), SMTO_ABORTIFHUNG,
                        5000, &copied);
  text.resize(copied);
  return Utf8(text);
}

std::string ClassOf(HWND window) {
  wchar_t name[256] = {};
  ::GetClassNameW(window, name, 256);
  return Utf8(name);
}

// One line per paragraph, "\n" between them, whatever the line ends.
std::string Lines(std::string text) {
  text = std::regex_replace(text, std::regex("\r\n|\r|\v"), "\n");
  return text;
}

// A report without what differs from run to run: the date and time of the first line and the
// names of the temporary files.
std::string Comparable(const std::string& report) {
  std::string text = std::regex_replace(Lines(report), std::regex(R"(\d\d\.\d\d\.\d{4} \d\d:\d\d:\d\d)"), "<date>");
  return std::regex_replace(text, std::regex(R"(Update\d+\.tmp)"), "Update<n>.tmp");
}

bool WaitFor(const std::function<bool()>& condition, std::chrono::milliseconds patience = kPatience) {
  const auto end = std::chrono::steady_clock::now() + patience;
  while (std::chrono::steady_clock::now() < end) {
    if (condition()) return true;
    std::this_thread::sleep_for(50ms);
  }
  return condition();
}

// The visible top-level windows of a process with the given class.
std::vector<HWND> WindowsOf(DWORD process, const std::string& className) {
  struct Search {
    DWORD process;
    std::string className;
    std::vector<HWND> found;
  } search{process, className, {}};
  ::EnumWindows(
      [](HWND window, LPARAM data) -> BOOL {
        auto& s = *reinterpret_cast<Search*>(data);
        DWORD owner = 0;
        ::GetWindowThreadProcessId(window, &owner);
        if (owner == s.process && ::IsWindowVisible(window) && ClassOf(window) == s.className) s.found.push_back(window);
        return TRUE;
      },
      reinterpret_cast<LPARAM>(&search));
  return search.found;
}

std::vector<HWND> ChildrenOf(HWND parent) {
  std::vector<HWND> children;
  ::EnumChildWindows(
      parent,
      [](HWND child, LPARAM data) -> BOOL {
        reinterpret_cast<std::vector<HWND>*>(data)->push_back(child);
        return TRUE;
      },
      reinterpret_cast<LPARAM>(&children));
  return children;
}

// Presses a button as a click does. Posted: a button that opens a modal box returns only when the
// box closes.
void Click(HWND button) {
  ASSERT_NE(button, nullptr);
  ASSERT_TRUE(::PostMessageW(button, BM_CLICK, 0, 0));
}

// The control that has the keyboard focus in the thread of `window`.
HWND FocusOf(HWND window) {
  GUITHREADINFO info{};
  info.cbSize = sizeof info;
  if (!::GetGUIThreadInfo(::GetWindowThreadProcessId(window, nullptr), &info)) return nullptr;
  return info.hwndFocus;
}

// A key pressed on the control that has the focus, as the keyboard posts it.
void PressKey(HWND window, WPARAM key) {
  const HWND focus = FocusOf(window);
  ASSERT_NE(focus, nullptr);
  ASSERT_TRUE(::PostMessageW(focus, WM_KEYDOWN, key, 1));
  ASSERT_TRUE(::PostMessageW(focus, WM_KEYUP, key, 1 | (1u << 30) | (1u << 31)));
}

// The screen resolution programs started from now on get, for the guard's life.
class ScreenResolution {
 public:
  explicit ScreenResolution(DWORD dpi) {
    ::RegCreateKeyExW(HKEY_CURRENT_USER, L"Control Panel\\Desktop", 0, nullptr, 0, KEY_READ | KEY_WRITE, nullptr,
                      &key_, nullptr);
    DWORD size = sizeof previous_;
    hadValue_ = ::RegQueryValueExW(key_, L"LogPixels", nullptr, nullptr, reinterpret_cast<BYTE*>(&previous_),
                                   &size) == ERROR_SUCCESS;
    ::RegSetValueExW(key_, L"LogPixels", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&dpi), sizeof dpi);
  }
  ~ScreenResolution() {
    if (hadValue_) {
      ::RegSetValueExW(key_, L"LogPixels", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&previous_), sizeof previous_);
    } else {
      ::RegDeleteValueW(key_, L"LogPixels");
    }
    ::RegCloseKey(key_);
  }
  ScreenResolution(const ScreenResolution&) = delete;
  ScreenResolution& operator=(const ScreenResolution&) = delete;

 private:
  HKEY key_ = nullptr;
  DWORD previous_ = 0;
  bool hadValue_ = false;
};

SIZE ClientSize(HWND window) {
  RECT client{};
  ::GetClientRect(window, &client);
  return {client.right, client.bottom};
}

// Saves the window's rectangle of the screen as a 24-bit BMP file.
void Capture(HWND window, const fs::path& file) {
  RECT area{};
  ::GetWindowRect(window, &area);
  const int width = area.right - area.left;
  const int height = area.bottom - area.top;
  const HDC screen = ::GetDC(nullptr);
  const HDC memory = ::CreateCompatibleDC(screen);
  BITMAPINFO info{};
  info.bmiHeader = {sizeof(BITMAPINFOHEADER), width, height, 1, 24, BI_RGB, 0, 0, 0, 0, 0};
  void* bits = nullptr;
  const HBITMAP bitmap = ::CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  const HGDIOBJ previous = ::SelectObject(memory, bitmap);
  ::BitBlt(memory, 0, 0, width, height, screen, area.left, area.top, SRCCOPY);
  ::GdiFlush();
  const DWORD stride = ((static_cast<DWORD>(width) * 3 + 3) / 4) * 4;
  const DWORD size = stride * static_cast<DWORD>(height);
  BITMAPFILEHEADER header{0x4D42, static_cast<DWORD>(sizeof(BITMAPFILEHEADER) + sizeof(BITMAPINFOHEADER) + size), 0, 0,
                          static_cast<DWORD>(sizeof(BITMAPFILEHEADER) + sizeof(BITMAPINFOHEADER))};
  std::ofstream out(file, std::ios::binary);
  out.write(reinterpret_cast<const char*>(&header), sizeof header);
  out.write(reinterpret_cast<const char*>(&info.bmiHeader), sizeof info.bmiHeader);
  out.write(static_cast<const char*>(bits), size);
  ::SelectObject(memory, previous);
  ::DeleteObject(bitmap);
  ::DeleteDC(memory);
  ::ReleaseDC(nullptr, screen);
}

// The update program, started for one test and stopped at its end whatever happens.
class UpdateProgram {
 public:
  explicit UpdateProgram(const fs::path& program, const std::wstring& arguments = {}) {
    std::wstring commandLine = L"\"" + program.wstring() + L"\" " + arguments;
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    started_ = ::CreateProcessW(program.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                                &startup, &process_) != FALSE;
    if (started_) ::CloseHandle(process_.hThread);
  }
  ~UpdateProgram() {
    if (!started_) return;
    if (::WaitForSingleObject(process_.hProcess, 0) == WAIT_TIMEOUT) {
      ::TerminateProcess(process_.hProcess, 99);
      ::WaitForSingleObject(process_.hProcess, 10000);
    }
    ::CloseHandle(process_.hProcess);
  }
  UpdateProgram(const UpdateProgram&) = delete;
  UpdateProgram& operator=(const UpdateProgram&) = delete;

  bool Started() const { return started_; }
  DWORD Id() const { return process_.dwProcessId; }
  // The exit code once the program has ended, or STILL_ACTIVE.
  DWORD WaitForExit(std::chrono::milliseconds patience = kPatience) const {
    ::WaitForSingleObject(process_.hProcess, static_cast<DWORD>(patience.count()));
    DWORD code = STILL_ACTIVE;
    ::GetExitCodeProcess(process_.hProcess, &code);
    return code;
  }

 private:
  bool started_ = false;
  PROCESS_INFORMATION process_{};
};

// The wizard window of a running program and what the user sees of it.
class Wizard {
 public:
  explicit Wizard(const UpdateProgram& program) : program_(program) {}

  bool Find() {
    return WaitFor([this] {
      const std::vector<HWND> found = WindowsOf(program_.Id(), Utf8(kWizardClass));
      window_ = found.empty() ? nullptr : found.front();
      return window_ != nullptr;
    });
  }
  HWND Window() const { return window_; }
  HWND Button(int id) const { return ::GetDlgItem(window_, id); }
  std::string Text(int id) const { return TextOf(Button(id)); }
  bool Enabled(int id) const { return ::IsWindowEnabled(Button(id)) != FALSE; }

  // The page shown, by its window text (the step name); nullptr before the first.
  HWND ShownPage() const {
    for (HWND child : ChildrenOf(window_)) {
      if (ClassOf(child) == Utf8(kPageClass) && ::IsWindowVisible(child)) return child;
    }
    return nullptr;
  }
  std::string ShownPageName() const {
    const HWND page = ShownPage();
    return page == nullptr ? std::string() : TextOf(page);
  }
  bool WaitForPage(const std::string& name) const {
    return WaitFor([&] { return ShownPageName() == name; });
  }
  std::string PageText(int id) const { return TextOf(::GetDlgItem(ShownPage(), id)); }
  HWND PageControl(int id) const { return ::GetDlgItem(ShownPage(), id); }

  // The message box the program shows, if any.
  HWND Box() const {
    const std::vector<HWND> boxes = WindowsOf(program_.Id(), "#32770");
    return boxes.empty() ? nullptr : boxes.front();
  }
  bool WaitForBox() const {
    return WaitFor([this] { return Box() != nullptr; });
  }
  bool WaitForNoBox() const {
    return WaitFor([this] { return Box() == nullptr; });
  }
  // The box's texts other than its buttons'.
  std::string BoxText() const {
    std::string text;
    for (HWND child : ChildrenOf(Box())) {
      if (ClassOf(child) == "Static") text += TextOf(child);
    }
    return text;
  }

  void Shot(const std::string& name, HWND window = nullptr) const {
    const fs::path folder = PathFromEnvironment("KV_SCREENSHOTS");
    if (folder.empty()) return;
    // Let the window finish painting.
    std::this_thread::sleep_for(700ms);
    Capture(window != nullptr ? window : window_, folder / (name + ".bmp"));
  }

 private:
  const UpdateProgram& program_;
  HWND window_ = nullptr;
};

class WizardDriverTest : public ::testing::Test {
 protected:
  // The installation the shared-files package updates: the main product registered for the user,
  // its program folder present.
  static void SetUpTestSuite() {
    // The wizard's sizes as the system gives them to the window, not scaled for this program.
    ::SetProcessDPIAware();
    HKEY key = nullptr;
    ASSERT_EQ(::RegCreateKeyExW(HKEY_CURRENT_USER, kSuiteKey, 0, nullptr, 0, KEY_READ | KEY_WRITE, nullptr, &key,
                                nullptr),
              ERROR_SUCCESS);
    // The registration of the prefix's own installation, if any, comes back afterwards.
    wchar_t previous[1024] = {};
    DWORD size = sizeof previous - sizeof(wchar_t);
    if (::RegQueryValueExW(key, L"Filename", nullptr, nullptr, reinterpret_cast<BYTE*>(previous), &size) ==
        ERROR_SUCCESS) {
      previousProgram_ = previous;
    }
    SetProgramFile(key, kProgramFile.wstring());
    ::RegCloseKey(key);
    fs::create_directories(kProgramFile.parent_path());
  }

  static void TearDownTestSuite() {
    HKEY key = nullptr;
    if (::RegOpenKeyExW(HKEY_CURRENT_USER, kSuiteKey, 0, KEY_WRITE, &key) == ERROR_SUCCESS) {
      if (previousProgram_) {
        SetProgramFile(key, *previousProgram_);
      } else {
        ::RegDeleteValueW(key, L"Filename");
      }
      ::RegCloseKey(key);
    }
    std::error_code ignored;
    fs::remove_all(kTestFolder, ignored);
  }

  static void SetProgramFile(HKEY key, const std::wstring& value) {
    ::RegSetValueExW(key, L"Filename", 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                     static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
  }

  static inline std::optional<std::wstring> previousProgram_;

  void SetUp() override {
    program_ = PathFromEnvironment("KV_WIZARD_PROGRAM");
    package_ = PathFromEnvironment("KV_WIZARD_PACKAGE");
    ASSERT_TRUE(fs::exists(program_)) << "KV_WIZARD_PROGRAM names no program";
    ASSERT_TRUE(fs::exists(package_ / "UpdateInfo.txt")) << "KV_WIZARD_PACKAGE names no package folder";
    // Every test starts on an installation without the shared files.
    std::error_code ignored;
    fs::remove_all(kSuiteRoot / "Common", ignored);
  }

  // The report of an unattended run of the program on this installation.
  std::string UnattendedReport() {
    const fs::path log = fs::temp_directory_path() / "korvane-wizard-driver.log";
    const UpdateProgram silent(program_, L"/SILENT \"/LOG=" + log.wstring() + L"\"");
    EXPECT_TRUE(silent.Started());
    EXPECT_EQ(silent.WaitForExit(), 0u);
    std::ifstream in(log, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    in.close();
    fs::remove(log);
    std::error_code ignored;
    fs::remove_all(kSuiteRoot / "Common", ignored);
    return text.str();
  }

  fs::path program_;
  fs::path package_;
};

TEST_F(WizardDriverTest, CancelAsksFirstNoKeepsTheWizardAndYesEndsItWithoutUpdating) {
  const UpdateProgram program(program_);
  ASSERT_TRUE(program.Started());
  Wizard wizard(program);
  ASSERT_TRUE(wizard.Find());
  ASSERT_TRUE(wizard.WaitForPage(kWelcomeStepName));

  Click(wizard.Button(kIdButtonCancel));
  ASSERT_TRUE(wizard.WaitForBox());
  EXPECT_EQ(wizard.BoxText(), "Voulez-vous annuler cette mise à jour");
  // The system's own buttons, in the system's language.
  EXPECT_EQ(TextOf(::GetDlgItem(wizard.Box(), IDYES)), "&Oui");
  EXPECT_EQ(TextOf(::GetDlgItem(wizard.Box(), IDNO)), "&Non");
  wizard.Shot("windows-cancel-question", wizard.Box());
  Click(::GetDlgItem(wizard.Box(), IDNO));
  ASSERT_TRUE(wizard.WaitForNoBox());
  EXPECT_EQ(program.WaitForExit(500ms), static_cast<DWORD>(STILL_ACTIVE));
  EXPECT_EQ(wizard.ShownPageName(), kWelcomeStepName);
  EXPECT_TRUE(wizard.Enabled(kIdButtonNext));

  Click(wizard.Button(kIdButtonCancel));
  ASSERT_TRUE(wizard.WaitForBox());
  Click(::GetDlgItem(wizard.Box(), IDYES));
  // Cancelled before the run: "not performed", and nothing installed.
  EXPECT_EQ(program.WaitForExit(), 2u);
  EXPECT_FALSE(fs::exists(kCommonFolder / "wPDF200A.dll"));
}

TEST_F(WizardDriverTest, GoesForwardAndBackThroughEveryPageRunsTheUpdateAndShowsTheUnattendedReport) {
  const std::string expected = UnattendedReport();
  ASSERT_NE(expected.find("La mise à jour est terminée avec succès."), std::string::npos) << expected;

  const UpdateProgram program(program_);
  ASSERT_TRUE(program.Started());
  Wizard wizard(program);
  ASSERT_TRUE(wizard.Find());

  // The welcome page: the package's title in the band, the warning, Next only.
  ASSERT_TRUE(wizard.WaitForPage(kWelcomeStepName));
  EXPECT_EQ(wizard.Text(kIdTitle), "Fichiers communs");
  EXPECT_EQ(wizard.PageText(kIdWarning),
            "Veuillez fermer les applications Korvane sur tous les postes de travail avant d'installer cette mise à "
            "jour !");
  EXPECT_NE(wizard.PageText(kIdInfo).find("Fichiers communs"), std::string::npos);
  EXPECT_EQ(wizard.Text(kIdButtonPrev), "< Précédant");
  EXPECT_FALSE(wizard.Enabled(kIdButtonPrev));
  EXPECT_EQ(wizard.Text(kIdButtonNext), "Suivant >");
  EXPECT_TRUE(wizard.Enabled(kIdButtonNext));
  EXPECT_EQ(wizard.Text(kIdButtonCancel), "Annuler");
  EXPECT_TRUE(wizard.Enabled(kIdButtonCancel));
  wizard.Shot("windows-welcome");

  // The notice page: the package's list of changes, as its RTF reads.
  Click(wizard.Button(kIdButtonNext));
  ASSERT_TRUE(wizard.WaitForPage(kNoticeStepName));
  EXPECT_EQ(wizard.PageText(kIdHeading), "La liste des modifications");
  std::ifstream notice(package_ / "UpdateInfo.txt", std::ios::binary);
  std::stringstream rtf;
  rtf << notice.rdbuf();
  EXPECT_EQ(Lines(wizard.PageText(kIdRichText)), rtf::PlainText(rtf::ParseRtf(rtf.str())));
  EXPECT_EQ(wizard.Text(kIdButtonNext), "Démarrer");
  EXPECT_TRUE(wizard.Enabled(kIdButtonPrev));
  wizard.Shot("windows-notice");

  // Back to the welcome page, and forward again.
  Click(wizard.Button(kIdButtonPrev));
  ASSERT_TRUE(wizard.WaitForPage(kWelcomeStepName));
  EXPECT_FALSE(wizard.Enabled(kIdButtonPrev));
  EXPECT_EQ(wizard.Text(kIdButtonNext), "Suivant >");
  Click(wizard.Button(kIdButtonNext));
  ASSERT_TRUE(wizard.WaitForPage(kNoticeStepName));

  // The run: the report page, and Quitter once the run has ended.
  Click(wizard.Button(kIdButtonNext));
  ASSERT_TRUE(wizard.WaitForPage(kReportStepName));
  ASSERT_TRUE(WaitFor([&] { return wizard.Text(kIdButtonNext) == "Quitter" && wizard.Enabled(kIdButtonNext); }));
  EXPECT_EQ(wizard.PageText(kIdHeading), "Rapport d'installation");
  EXPECT_EQ(Comparable(wizard.PageText(kIdRichText)), Comparable(expected));
  EXPECT_TRUE(fs::exists(kCommonFolder / "wPDF200A.dll"));
  wizard.Shot("windows-report");

  // The print button opens the system's print dialog (on a system without printer, the system's
  // box that says so); cancelled, it prints nothing.
  Click(wizard.PageControl(kIdPrint));
  ASSERT_TRUE(wizard.WaitForBox());
  wizard.Shot("windows-print-dialog", wizard.Box());
  ASSERT_TRUE(::PostMessageW(wizard.Box(), WM_COMMAND, IDCANCEL, 0));
  ASSERT_TRUE(wizard.WaitForNoBox());

  Click(wizard.Button(kIdButtonNext));
  EXPECT_EQ(program.WaitForExit(), 0u);
}

TEST_F(WizardDriverTest, TabMovesTheFocusEnterPressesTheFocusedButtonAndEscapeDoesNothing) {
  const UpdateProgram program(program_);
  ASSERT_TRUE(program.Started());
  Wizard wizard(program);
  ASSERT_TRUE(wizard.Find());
  ASSERT_TRUE(wizard.WaitForPage(kWelcomeStepName));
  const HWND next = wizard.Button(kIdButtonNext);
  ASSERT_TRUE(WaitFor([&] { return FocusOf(wizard.Window()) != nullptr; }));
  // Tab goes round the enabled controls and reaches Next.
  for (int press = 0; press < 6 && FocusOf(wizard.Window()) != next; ++press) {
    const HWND before = FocusOf(wizard.Window());
    PressKey(wizard.Window(), VK_TAB);
    ASSERT_TRUE(WaitFor([&] { return FocusOf(wizard.Window()) != before; }, 5s));
  }
  ASSERT_EQ(FocusOf(wizard.Window()), next);

  PressKey(wizard.Window(), VK_ESCAPE);
  EXPECT_FALSE(WaitFor([&] { return wizard.Box() != nullptr || wizard.ShownPageName() != kWelcomeStepName; }, 1s));
  EXPECT_EQ(program.WaitForExit(0ms), static_cast<DWORD>(STILL_ACTIVE));

  PressKey(wizard.Window(), VK_RETURN);
  EXPECT_TRUE(wizard.WaitForPage(kNoticeStepName));
}

TEST_F(WizardDriverTest, TheLayoutIsScaledFromItsDesignToTheScreenResolution) {
  for (const int dpi : {96, 144}) {
    SCOPED_TRACE(dpi);
    const ScreenResolution resolution(static_cast<DWORD>(dpi));
    const UpdateProgram program(program_);
    ASSERT_TRUE(program.Started());
    Wizard wizard(program);
    ASSERT_TRUE(wizard.Find());
    ASSERT_TRUE(wizard.WaitForPage(kWelcomeStepName));
    // The designed client area of 579 x 383 pixels at 96 dpi, the title band 37 pixels high, the
    // buttons 25 pixels high: each scaled as MulDiv rounds.
    const SIZE client = ClientSize(wizard.Window());
    EXPECT_EQ(client.cx, ::MulDiv(579, dpi, 96));
    EXPECT_EQ(client.cy, ::MulDiv(383, dpi, 96));
    EXPECT_EQ(ClientSize(wizard.Button(kIdTitle)).cy, ::MulDiv(37, dpi, 96));
    EXPECT_EQ(ClientSize(wizard.Button(kIdButtonNext)).cy, ::MulDiv(25, dpi, 96));
    ASSERT_TRUE(::PostMessageW(wizard.Window(), WM_CLOSE, 0, 0));
    EXPECT_EQ(program.WaitForExit(), 2u);
  }
}

}  // namespace
}  // namespace kv
