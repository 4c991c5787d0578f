// vorninst serve: the engine of the window on Linux. The window runs as the
// user and draws what the engine tells it; the engine, root through pkexec,
// runs the same host and logic as the terminal, and speaks the line protocol
// of docs/protocol.md on its standard input and output, and nowhere else.
#pragma once

#include <string>

#include "terminal/command_line.h"

namespace linuxhost {

// Serves the window until it quits, its input ends or a stop signal comes
// (0), a card named is refused (1), or a line it cannot take (2, and
// nothing more written). programFolder: where the program lies, which may
// hold the add-on.
int Serve(const Invocation& invocation, const std::string& programFolder);

}  // namespace linuxhost
