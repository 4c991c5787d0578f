// A stand-in for vorninst serve: plays a script of the lines it sends
// ("> line") and the lines it expects from the window ("< line"), answering
// every tick it did not expect with its last state. "exit N" ends it with
// that status, "kill" by SIGKILL, "err TEXT" writes to its standard error.
// It writes "ok" to the report file once the script is played, or what
// went wrong; then it answers ticks until quit (bye) or the end of input.
// Usage: stand_in SCRIPT REPORT [the window's arguments...]
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <string>
#include <vector>

namespace {

std::string gReport;
std::vector<std::string> gState = {"window selection=-1 status=Insert%20SD%20Card report= shown= enabled=1"};

void Report(const std::string& text, int status) {
  std::ofstream(gReport, std::ios::trunc) << text << "\n";
  if (status >= 0) std::exit(status);
}

void Send(const std::string& line) {
  if (line.rfind("entry ", 0) == 0 || line.rfind("window ", 0) == 0) {
    static bool inState = false;
    if (!inState) gState.clear();
    gState.push_back(line);
    inState = line.rfind("entry ", 0) == 0;
  }
  std::cout << line << "\n" << std::flush;
}

// The next line from the window; ticks it did not expect get the state.
bool Next(std::string& line, const std::string& expected = {}) {
  while (std::getline(std::cin, line)) {
    if (line != "tick" || expected == "tick") return true;
    for (const std::string& state : gState) std::cout << state << "\n";
    std::cout << std::flush;
  }
  return false;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) return 2;
  gReport = argv[2];
  std::ifstream script(argv[1]);
  std::string step;
  std::string got;
  for (int number = 1; std::getline(script, step); ++number) {
    const std::string rest = step.size() > 2 ? step.substr(2) : "";
    if (step.rfind("> ", 0) == 0) {
      Send(rest);
    } else if (step.rfind("< ", 0) == 0) {
      if (!Next(got, rest)) Report("line " + std::to_string(number) + ": expected '" + rest + "', got the end of input", 3);
      if (got != rest) Report("line " + std::to_string(number) + ": expected '" + rest + "', got '" + got + "'", 3);
    } else if (step.rfind("exit ", 0) == 0) {
      Report("ok", std::atoi(step.c_str() + 5));
    } else if (step == "kill") {
      Report("ok", -1);
      std::raise(SIGKILL);
    } else if (step.rfind("err ", 0) == 0) {
      std::cerr << step.substr(4) << std::endl;
    }
  }
  Report("ok", -1);
  if (Next(got)) {
    if (got != "quit") Report("after the script: '" + got + "'", 3);
    Send("bye status=0");
  }
  return 0;
}
