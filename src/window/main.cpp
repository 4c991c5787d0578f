// vorninst-window: the VORN Installer window on Linux. It runs as the user
// and starts the engine (vorninst serve) for the card work.
#include <QApplication>
#include <QIcon>

#include <cstdio>

#include "window/launch.h"
#include "window/main_window.h"

namespace {

constexpr int kExitDone = 0;
constexpr int kExitEndedEarly = 1;
constexpr int kExitUsage = 2;

void Print(const QString& text, FILE* stream) {
  std::fputs(text.toLocal8Bit().constData(), stream);
}

}  // namespace

int main(int argc, char** argv) {
  // --help and --version need no display.
  for (int index = 1; index < argc; ++index) {
    const QString word = QString::fromLocal8Bit(argv[index]);
    if (word == "--help" || word == "-h" || word == "--version") {
      Print(word == "--version" ? window::VersionText() : window::HelpText(), stdout);
      return kExitDone;
    }
  }
  QApplication app(argc, argv);
  QApplication::setApplicationName(QStringLiteral("vorninst-window"));
  QApplication::setDesktopFileName(QStringLiteral("vorninst-window"));
  QApplication::setWindowIcon(QIcon(QStringLiteral(":/vorninst.ico")));
  QString error;
  const std::optional<window::Options> options = window::ParseOptions(app.arguments().mid(1), error);
  if (!options) {
    Print("vorninst-window: " + error + "\nTry vorninst-window --help.\n", stderr);
    return kExitUsage;
  }
  window::MainWindow main(window::EngineLaunch(*options, window::ThisPlace()));
  main.show();
  QApplication::exec();
  return main.Failed() ? kExitEndedEarly : kExitDone;
}
