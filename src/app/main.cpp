// morvent: the desktop application's entry: the command line, the application object, the main window,
// the message loop.
#include <QApplication>
#include <QFileInfo>
#include <QMessageBox>
#include <QTimer>
#include <cstdio>
#include <exception>
#include <filesystem>
#include <string>
#include <vector>

#include "app/Mainform.h"
#include "app/Startoptions.h"
#include "script/Halinit.h"
#include "scriptlib/ScriptLibrary.h"

namespace {

std::vector<std::string> Words(int argc, char** argv) { return std::vector<std::string>(argv + 1, argv + argc); }

int UsageError(const std::string& message) {
  std::fprintf(stderr, "morvent: %s\n%s", message.c_str(), kMorventUsage);
  return 2;
}

// A settings file that is there must be a readable file; a new one needs its folder.
std::string SettingsFileProblem(const std::string& file) {
  namespace fs = std::filesystem;
  std::error_code ec;
  const fs::path path = fs::absolute(file, ec);
  if (fs::exists(path, ec)) {
    if (!fs::is_regular_file(path, ec) || !QFileInfo(QString::fromStdString(path.string())).isReadable())
      return "--settings: \"" + file + "\" is not a readable file";
    return {};
  }
  if (!fs::is_directory(path.parent_path(), ec)) return "--settings: the folder of \"" + file + "\" does not exist";
  return {};
}

// What the command line settles before any window: the exit code, or -1 to start the program.
int Answer(const TStartOptions& options) {
  if (options.action == TStartOptions::TAction::Help) {
    std::fputs(kMorventUsage, stdout);
    return 0;
  }
  if (options.action == TStartOptions::TAction::Version) {
    std::printf("morvent %s\n", MORVENT_VERSION);
    return 0;
  }
  if (!options.settingsFile.empty())
    if (std::string problem = SettingsFileProblem(options.settingsFile); !problem.empty()) return UsageError(problem);
  return -1;
}

}  // namespace

int main(int argc, char** argv) {
  // Our own options are checked before the application object exists, so that --help, --version and
  // their errors need no display; words we do not know may be Qt's, which QApplication takes out.
  TStartOptions options;
  bool parsed = false;
  try {
    options = ParseStartOptions(Words(argc, argv));
    parsed = true;
  } catch (const TStartOptionsError& e) {
    if (!e.unknownArgument) return UsageError(e.message);
  }
  if (parsed)
    if (int rc = Answer(options); rc >= 0) return rc;

  QApplication app(argc, argv);
  QApplication::setApplicationName("Morvent");
  QApplication::setApplicationVersion(MORVENT_VERSION);
  QGuiApplication::setDesktopFileName("morvent");  // window managers find the icon through the entry
  if (!parsed) {
    try {
      options = ParseStartOptions(Words(argc, argv));
    } catch (const TStartOptionsError& e) {
      return UsageError(e.message);
    }
    if (int rc = Answer(options); rc >= 0) return rc;
  }

  THalinit scriptEngine;  // the script engine and its general library live for the whole run
  RegisterGeneralLibrary();
  try {
    TMainForm mainForm(QCoreApplication::applicationDirPath(), options);
    mainForm.show();
    if (options.connect) QTimer::singleShot(0, &mainForm, &TMainForm::ConnectLastClick);
    return QApplication::exec();
  } catch (const std::exception& e) {
    QMessageBox::critical(nullptr, "Morvent", QString::fromLocal8Bit(e.what()));
  } catch (...) {
    QMessageBox::critical(nullptr, "Morvent", "Unexpected error");
  }
  return 1;
}
