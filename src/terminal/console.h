// The terminal the program runs in, or the pipes and files that stand in
// for one: lines read from standard input, text written to standard output
// and error, one line of progress that updates, and Ctrl-C.
#pragma once

#include <chrono>
#include <string>

namespace linuxhost {

class Console {
 public:
  static Console& Get();

  // Ctrl-C, SIGTERM and SIGHUP set a flag instead of ending the program
  // (and break off a prompt); a closed pipe no longer ends it mid-write.
  void TakeSignals();

  bool InputIsTerminal() const;
  bool OutputIsTerminal() const;
  // The terminal's width in columns; 0 when the output is no terminal.
  int Width() const;

  enum class Read { Line, Interrupted, End };
  // Shows the prompt and reads one line (without its newline). A Ctrl-C,
  // now or earlier in the command, answers Interrupted; no more input, End.
  // The prompt goes to standard error when error is set (an Error box's).
  Read ReadLine(const std::string& prompt, std::string& line, bool error = false);

  // Text with its line breaks as given; errors go to standard error.
  void Print(const std::string& text, bool error = false);
  // Long work: one line that replaces the one before it on a terminal, and
  // a line now and then elsewhere.
  void Progress(const std::string& line);

  // True once a stop signal came (or the program stopped the command as if
  // one had), until Reset.
  bool Interrupted() const;
  // The signal that stopped the command (SIGINT, SIGTERM, SIGHUP); 0 when
  // none came since Reset.
  int StopSignal() const;
  void Interrupt();
  void Reset();

 private:
  void EndProgress();

  bool progressShown_ = false;
  std::string lastShape_;
  std::string held_;  // the last line not shown yet
  std::chrono::steady_clock::time_point lastProgress_{};
};

}  // namespace linuxhost
