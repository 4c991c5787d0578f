#include "window/launch.h"

#include <unistd.h>

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>

#include "linux/templates.h"

namespace window {
namespace {

constexpr char kInstalledEngine[] = "/usr/bin/vorninst";
constexpr char kPkexec[] = "/usr/bin/pkexec";
constexpr char kEngineName[] = "vorninst";
constexpr char kServe[] = "serve";

// --name VALUE or --name=VALUE.
bool TakeValue(const QStringList& arguments, int& index, const QString& name, QString& value) {
  const QString& word = arguments[index];
  if (word.startsWith(name + "=")) {
    value = word.mid(name.size() + 1);
  } else if (word == name && index + 1 < arguments.size()) {
    value = arguments[++index];
  } else {
    return false;
  }
  return !value.isEmpty();
}

}  // namespace

std::optional<Options> ParseOptions(const QStringList& arguments, QString& error) {
  static const QRegularExpression drive(QStringLiteral("^[A-Za-z](:|:\\\\|:/)?$"));
  Options options;
  for (int index = 0; index < arguments.size(); ++index) {
    const QString& word = arguments[index];
    const QString name = word.section('=', 0, 0);
    QString value;
    if (word == "--help" || word == "-h" || word == "--version") {
      continue;  // main() answers these before the window starts
    } else if (name == "--card" || name == "--addon" || name == "--drive") {
      if (!TakeValue(arguments, index, name, value)) {
        error = name + " needs a value";
        return std::nullopt;
      }
      if (name == "--drive" && !drive.match(value).hasMatch()) {
        error = "--drive takes a drive letter such as E:, not \"" + value + "\"";
        return std::nullopt;
      }
      options.engineOptions << name << (name == "--drive" ? value : QFileInfo(value).absoluteFilePath());
    } else {
      error = "unknown option " + word;
      return std::nullopt;
    }
  }
  return options;
}

Place ThisPlace() {
  Place place;
  place.root = ::geteuid() == 0;
  place.selfFolder = QCoreApplication::applicationDirPath();
  place.engineOverride = qEnvironmentVariable("VORN_ENGINE");
  place.pkexecOverride = qEnvironmentVariable("VORN_PKEXEC");
  return place;
}

Launch EngineLaunch(const Options& options, const Place& place) {
  QStringList command;
  if (!place.engineOverride.isEmpty()) {
    command = QProcess::splitCommand(place.engineOverride);
  } else {
    const QFileInfo beside(QDir(place.selfFolder).filePath(kEngineName));
    command << (beside.isFile() && beside.isExecutable() ? beside.absoluteFilePath() : QString(kInstalledEngine));
  }
  command << options.engineOptions << kServe;
  Launch launch;
  launch.throughPkexec = !place.pkexecOverride.isEmpty() || !place.root;
  if (launch.throughPkexec) command.prepend(place.pkexecOverride.isEmpty() ? QString(kPkexec) : place.pkexecOverride);
  launch.program = command.takeFirst();
  launch.arguments = command;
  return launch;
}

QString HelpText() {
  return QStringLiteral(
      "Usage: vorninst-window [--card PATH]... [--drive E:] [--addon DIR]\n"
      "       vorninst-window --help | --version\n\n"
      "The VORN Installer window: it prepares an SD card so that VORN starts by itself\n"
      "when the locked card is put into the camera. The window runs as you; the card\n"
      "work runs in its engine, vorninst serve, which it starts through pkexec (you are\n"
      "asked for an administrator's password once) or directly when it runs as root.\n\n"
      "Options (passed on to the engine, as vorninst takes them):\n"
      "  --card PATH   also offer this card: a block device or an image file\n"
      "  --drive E:    select this drive first\n"
      "  --addon DIR   the folder of the add-on's files (kept for later runs)\n"
      "  --help        print this help and end\n"
      "  --version     print the version and end\n\n"
      "Exit status: 0 when the window was closed; 1 when the engine could not start\n"
      "or ended early; 2 for bad usage.\n");
}

QString VersionText() {
  QString text = QStringLiteral("vorninst-window");
  for (const linuxhost::TemplateControl& control : linuxhost::TemplateControls(linuxhost::kAboutTemplate)) {
    if (control.IsStatic() && control.text.rfind("Version", 0) == 0) {
      text += " " + QString::fromUtf8(control.text.data(), static_cast<qsizetype>(control.text.size()));
    }
  }
  return text + "\n";
}

}  // namespace window
