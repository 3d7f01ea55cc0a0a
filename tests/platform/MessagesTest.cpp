// Message boxes, busy cursor, error texts, names, versions, button bar, registry strings.
#include <gtest/gtest.h>

#include <functional>

#include "platform/Errors.h"
#include "platform/Messages.h"
#include "platform/host/Prefix.h"
#include "tests/support/ErrorText.h"
#include "tests/support/ScriptedUi.h"
#include "tests/support/TempPrefix.h"

namespace kv {
namespace {

using test::RaisedText;
using test::ScriptedUi;
using test::TempPrefix;

struct BoxCase {
  const char* name;
  std::function<void()> show;
  MessageKind kind;
  const char* caption;
  unsigned buttons;
  std::uint32_t beep;
};

TEST(Messages, EachKindHasItsTitleButtonsAndBeep) {
  const BoxCase cases[] = {
      {"error", [] { ShowError("e"); }, MessageKind::Error, "Erreur", mbOK, MB_ICONEXCLAMATION},
      {"warning", [] { ShowWarning("e"); }, MessageKind::Warning, "Avertissement", mbOK, MB_ICONEXCLAMATION},
      {"information", [] { ShowInformation("e"); }, MessageKind::Information, "Informations", mbOK,
       MB_ICONEXCLAMATION},
      {"ask warning", [] { AskWarning("e"); }, MessageKind::Warning, "Avertissement", mbYes | mbNo,
       MB_ICONEXCLAMATION},
      {"ask confirmation", [] { AskConfirmation("e"); }, MessageKind::Confirmation, "Confirmer", mbYes | mbNo,
       MB_ICONQUESTION},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ScriptedUi ui;
    if (c.buttons & mbYes) ui.Answer(mrNo);
    c.show();
    ASSERT_EQ(ui.Boxes().size(), 1u);
    EXPECT_EQ(ui.Boxes()[0].kind, c.kind);
    EXPECT_EQ(ui.Boxes()[0].caption, c.caption);
    EXPECT_EQ(ui.Boxes()[0].text, "e");
    EXPECT_EQ(ui.Boxes()[0].buttons, c.buttons);
    EXPECT_EQ(ui.Beeps(), std::vector<std::uint32_t>{c.beep});
  }
}

TEST(Messages, QuestionsAreTrueOnlyForYes) {
  for (const auto& ask : {AskWarning, AskConfirmation}) {
    ScriptedUi ui;
    ui.Answer(mrYes);
    ui.Answer(mrNo);
    ui.Answer(mrNone);  // closed without pressing a button
    EXPECT_TRUE(ask("q", 0));
    EXPECT_FALSE(ask("q", 0));
    EXPECT_FALSE(ask("q", 0));
  }
}

TEST(Messages, NestedBusyCursorKeepsTheHourglassUntilTheOutermostEnd) {
  ScriptedUi ui;
  BeginBusyCursor();
  BeginBusyCursor();
  EndBusyCursor();
  EXPECT_EQ(ui.CursorChanges(), std::vector<bool>{true});
  EndBusyCursor();
  EXPECT_EQ(ui.CursorChanges(), (std::vector<bool>{true, false}));
  EndBusyCursor();  // unpaired: restores the default again, depth stays 0
  EXPECT_EQ(BusyCursorDepth(), 0);
  EXPECT_EQ(ui.CursorChanges(), (std::vector<bool>{true, false, false}));
}

TEST(Messages, SystemErrorTextsAreThoseOfAFrenchWindows) {
  const std::pair<win::DWORD, const char*> cases[] = {
      {2, "Le fichier spécifié est introuvable."},
      {3, "Le chemin d’accès spécifié est introuvable."},
      {5, "Accès refusé."},
      {32, "Le processus ne peut pas accéder au fichier car ce fichier est utilisé par un autre processus."},
      {80, "Le fichier existe."},
      {112, "Espace insuffisant sur le disque."},
      {183, "Impossible de créer un fichier déjà existant."},
      {987654, "code : 987654"},
  };
  for (const auto& [code, text] : cases) EXPECT_EQ(SystemErrorText(code), text) << code;
  win::SetLastError(5);
  EXPECT_EQ(LastErrorText(), "Accès refusé.");
  EXPECT_STREQ(
      SystemError::FromCode(32).what(),
      "Erreur système.  Code : 32.\r\nLe processus ne peut pas accéder au fichier car ce fichier est "
      "utilisé par un autre processus.");
}

TEST(Messages, FileErrorsRaiseOrShowTheirTexts) {
  {
    ScriptedUi ui;
    win::SetLastError(32);
    // Raised, and not silent: the text is the error's own.
    EXPECT_EQ(RaisedText([] { FileCopyError("C:\\a.dll", "C:\\b.dll", false); }),
              "Ne peut pas copier le fichier :\r\nC:\\a.dll\r\nDestination :\r\nC:\\b.dll\r\nLe processus ne "
              "peut pas accéder au fichier car ce fichier est utilisé par un autre processus.");
    EXPECT_TRUE(ui.Boxes().empty());
  }
  {
    ScriptedUi ui;
    win::SetLastError(5);
    FileDeleteError("C:\\a.dll", true);
    ASSERT_EQ(ui.Boxes().size(), 1u);
    EXPECT_EQ(ui.Boxes()[0].caption, "Erreur");
    EXPECT_EQ(ui.Boxes()[0].text, "Ne peut pas supprimer le fichier :\r\nC:\\a.dll\r\nAccès refusé.");
  }
  {
    ScriptedUi ui;
    win::SetLastError(2);
    EXPECT_THROW(FileAttributesError("C:\\a.dll", false), SilentAbort);
    ASSERT_EQ(ui.Boxes().size(), 1u);
    EXPECT_EQ(ui.Boxes()[0].text,
              "Ne peut pas modifier les attributs du fichier : \r\nC:\\a.dll\r\nLe fichier spécifié est "
              "introuvable.");
    win::SetLastError(3);
    EXPECT_NO_THROW(ShowLastError("Cannot move", true));
    ASSERT_EQ(ui.Boxes().size(), 2u);
    EXPECT_EQ(ui.Boxes()[1].text, "Cannot move\r\nLe chemin d’accès spécifié est introuvable.");
  }
  ScriptedUi ui;
  win::SetLastError(5);
  EXPECT_THROW(ShowLastError("x", false), SilentAbort);
}

TEST(Messages, ComputerAndUserNamesComeFromTheSystem) {
  TempPrefix prefix;
  prefix.SetSystem("computer", "POSTE-COMPTA");
  prefix.SetSystem("user", "marie");
  EXPECT_EQ(GetComputerNameText(), "POSTE-COMPTA");
  EXPECT_EQ(GetUserNameText(), "marie");
  prefix.SetSystem("logged_on", "0");
  EXPECT_EQ(GetComputerNameText(), "?");
  EXPECT_EQ(GetUserNameText(), "?");
}

// The computer name goes into 16 characters and the user name into 80, the null included: a name
// that fills the buffer is refused by the system, never cut.
TEST(Messages, NamesLongerThanTheirBuffersAreRefused) {
  TempPrefix prefix;
  prefix.SetSystem("computer", std::string(15, 'C'));
  prefix.SetSystem("user", std::string(79, 'u'));
  EXPECT_EQ(GetComputerNameText(), std::string(15, 'C'));
  EXPECT_EQ(GetUserNameText(), std::string(79, 'u'));
  // Characters, not bytes: fifteen accented letters still fit.
  prefix.SetSystem("computer", "ÉÉÉÉÉÉÉÉÉÉÉÉÉÉÉ");
  EXPECT_EQ(GetComputerNameText(), "ÉÉÉÉÉÉÉÉÉÉÉÉÉÉÉ");

  prefix.SetSystem("computer", std::string(16, 'C'));
  prefix.SetSystem("user", std::string(80, 'u'));
  ScriptedUi ui;
  EXPECT_THROW(GetComputerNameText(), SilentAbort);
  ASSERT_EQ(ui.Boxes().size(), 1u);
  EXPECT_EQ(ui.Boxes()[0].caption, "Erreur");
  EXPECT_EQ(ui.Boxes()[0].text, "GetComputerName 111\r\nLe nom de fichier est trop long.");
  EXPECT_EQ(GetUserNameText(), "");
  EXPECT_EQ(ui.Boxes().size(), 1u);
}

TEST(Messages, WindowsFolderEndsWithABackslash) {
  TempPrefix prefix;
  EXPECT_EQ(GetWindowsFolder(), "C:\\Windows\\");
  std::string path = "C:\\A";
  AddTrailingBackslash(path);
  EXPECT_EQ(path, "C:\\A\\");
  AddTrailingBackslash(path);
  EXPECT_EQ(path, "C:\\A\\");
  std::string empty;
  AddTrailingBackslash(empty);
  EXPECT_EQ(empty, "");
}

TEST(Messages, ArrangeButtonsLaysTheBarOutRightToLeft) {
  ButtonPanel panel;
  panel.clientWidth = 600;
  panel.children = {{true, true, 300, 0, 75, 25},
                    {true, true, 100, 0, 75, 25},
                    {true, true, 200, 0, 80, 25},
                    {false, true, 0, 0, 40, 40} /* a label */,
                    {true, false, 0, 0, 75, 25} /* hidden */};
  ArrangeButtons(panel);
  EXPECT_EQ(panel.clientHeight, 45);
  // Right-most first: the button that was at 300 keeps the right edge.
  EXPECT_EQ(panel.children[0].left, 600 - 10 - 75);
  EXPECT_EQ(panel.children[2].left, 600 - 10 - 75 - 10 - 80);
  EXPECT_EQ(panel.children[1].left, 600 - 10 - 75 - 10 - 80 - 10 - 75);
  for (int i : {0, 1, 2}) {
    EXPECT_EQ(panel.children[i].top, 10);
    EXPECT_EQ(panel.children[i].height, 25);
    EXPECT_TRUE(panel.children[i].anchoredRightBottom);
  }
  EXPECT_EQ(panel.children[3].left, 0);
  EXPECT_FALSE(panel.children[4].anchoredRightBottom);
}

TEST(Messages, ArrangeButtonsMarginIsFortyPercentRounded) {
  const std::pair<int, int> cases[] = {{23, 9}, {25, 10},           {30, 12}, {20, 8},
                                       {15, 6}, {24, 10} /* 9.6 */, {27, 11} /* 10.8 */};
  for (const auto& [height, margin] : cases) {
    ButtonPanel panel;
    panel.clientWidth = 200;
    panel.children = {{true, true, 0, 0, 50, height}};
    ArrangeButtons(panel);
    EXPECT_EQ(panel.clientHeight, height + 2 * margin) << height;
    EXPECT_EQ(panel.children[0].left, 200 - margin - 50) << height;
  }
  ButtonPanel none;
  none.clientHeight = 77;
  ArrangeButtons(none);
  EXPECT_EQ(none.clientHeight, 77);
}

TEST(Messages, RegistryStringsReadAndWrite) {
  TempPrefix prefix;
  EXPECT_EQ(ReadRegistryString(win::HKEY_LOCAL_MACHINE, "SOFTWARE\\KORVANE S.A.\\TSV", "ProgramPath"), "");
  WriteRegistryString(win::HKEY_LOCAL_MACHINE, "SOFTWARE\\KORVANE S.A.\\TSV", "ProgramPath",
                      "C:\\WKorvane\\");
  EXPECT_EQ(ReadRegistryString(win::HKEY_LOCAL_MACHINE, "software\\korvane s.a.\\tsv", "programpath"),
            "C:\\WKorvane\\");
  EXPECT_EQ(ReadRegistryString(win::HKEY_LOCAL_MACHINE, "SOFTWARE\\KORVANE S.A.\\TSV", "Missing"), "");
}

TEST(Messages, RegistryStringAccessDeniedRaisesTheFrenchTexts) {
  TempPrefix prefix;
  WriteRegistryString(win::HKEY_LOCAL_MACHINE, "SOFTWARE\\Locked", "V", "x");
  WriteRegistryString(win::HKEY_LOCAL_MACHINE, "SOFTWARE\\Frozen", "V", "x");
  host::Prefix::Current().SetIni("registry", "deny", "HKEY_LOCAL_MACHINE\\SOFTWARE\\Locked");
  host::Prefix::Current().SetIni("registry", "readonly", "HKEY_LOCAL_MACHINE\\SOFTWARE\\Frozen");
  EXPECT_EQ(RaisedText([] { ReadRegistryString(win::HKEY_LOCAL_MACHINE, "SOFTWARE\\Locked", "V"); }),
            "Lecture d'une valeur de registre impossible : \r\nVeuillez contrôler vos droits d'accès.");
  EXPECT_EQ(ReadRegistryString(win::HKEY_LOCAL_MACHINE, "SOFTWARE\\Frozen", "V"), "x");
  EXPECT_EQ(RaisedText([] { WriteRegistryString(win::HKEY_LOCAL_MACHINE, "SOFTWARE\\Frozen", "V", "y"); }),
            "Écriture d'une valeur de registre impossible : \r\nVeuillez contrôler vos droits d'accès.");
}

}  // namespace
}  // namespace kv
