// The front end of the program on Linux: boxes, dialogs and the folder
// browser as prompts in a terminal, answered by the user or, for a scripted
// command, by its options.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "terminal/console.h"
#include "linux/frontend.h"

namespace linuxhost {

// The answers a scripted command was given; empty ones are asked, or left
// without an answer when there is no terminal to ask.
struct Answers {
  bool yes = false;                  // --yes: every confirmation
  std::optional<int> camera;         // --camera left|right: 0, 1
  std::optional<int> layout;         // --layout one|two: 0, 1
  std::optional<bool> quick;         // --quick, --full
  std::optional<bool> fat32;         // --fat, --fat32
  std::optional<std::string> to;     // --to DIR, in the logic's form
  bool move = false;                 // --move
};

// What a command showed: from it comes its exit status.
struct Outcome {
  std::vector<std::string> boxes;  // the texts, as the logic gave them
  bool errorBox = false;           // a box of the Error caption
  bool folderOpened = false;
  bool stopped = false;            // Ctrl-C, or a question left without an answer
};

class Terminal : public Frontend {
 public:
  // Scripted: the options answer, a box with only OK needs no one, and what
  // they leave open is asked only when the input is a terminal.
  Terminal(Answers answers, bool scripted);

  // A command starts: nothing shown yet, no Ctrl-C.
  void BeginCommand();
  // The card the command is about to erase or rewrite has been named, with
  // what it holds, in the program's own line: the logic's box that names it
  // again is taken as read.
  void CardNamed() { cardNamed_ = true; }
  const Outcome& LastOutcome() const { return outcome_; }

  int MessageBox(const std::string& text, const std::string& caption, unsigned flags) override;
  void RunDialog(Dialog& dialog) override;
  std::string BrowseForFolder(const std::string& title, const std::string& selected) override;
  void About() override;
  void OpenFolder(const std::string& folder) override;
  void Progress(const std::string& line) override;
  void Notice(const std::string& line) override;
  bool Interrupted() override;

 private:
  // The option that answers a box, and its answer; nullopt when none does.
  std::optional<int> Preset(const std::string& text, unsigned buttons, std::string& option) const;
  int Ask(unsigned buttons);
  bool PlayAnswers(Dialog& dialog, std::string& missing);
  void AskDialog(Dialog& dialog);
  void TypeFolder(Dialog& dialog, int id);
  // No answer: the command ends as it would at Cancel (No where there is no
  // Cancel), after the step in hand.
  void Stop(const std::string& why);
  bool CanAsk() const;

  Answers answers_;
  bool scripted_;
  bool cardNamed_ = false;
  Outcome outcome_;
};

// A text with the PC paths the logic writes (C:\DUMP.BIN, Z:\home\me) in
// their Linux form (~/DUMP.BIN, /home/me).
std::string ShownText(const std::string& text);

// What the user typed at a prompt, in lower case without blanks around it.
std::string Typed(std::string line);

// A folder the user typed (~/Pictures, ../cards, /media/me) as a full path.
std::string FullPath(const std::string& typed);

}  // namespace linuxhost
