// The window's command line, and how it starts the engine.
#pragma once

#include <QString>
#include <QStringList>

#include <optional>

#include "window/engine.h"

namespace window {

struct Options {
  QStringList engineOptions;  // --card, --drive and --addon, passed on
};

// Nullopt and the error for a command line it does not take. Paths are
// made absolute here: pkexec starts the engine in root's home folder.
std::optional<Options> ParseOptions(const QStringList& arguments, QString& error);

// What it knows of where it runs, for the engine's command.
struct Place {
  bool root = false;            // the window runs as root
  QString selfFolder;           // the folder of its own executable
  QString engineOverride;       // VORN_ENGINE: a program and its arguments
  QString pkexecOverride;       // VORN_PKEXEC: pkexec's stand-in, used as root too
};
Place ThisPlace();

// vorninst [--card X]... [--drive E:] [--addon DIR] serve: the vorninst
// beside the window when there is one (the build folder), else the
// installed one; through pkexec unless the window is root.
Launch EngineLaunch(const Options& options, const Place& place);

QString HelpText();
QString VersionText();

}  // namespace window
