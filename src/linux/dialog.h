// The dialogs whose procedure is the program's logic (INSTSET, INSTSET2,
// TODIR), as controls a front end plays: it clicks, types and presses Esc,
// and the logic's procedure decides, as the dialog manager would hand it
// the messages.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "host/host.h"

namespace linuxhost {

class Dialog {
 public:
  struct Control {
    enum class Kind { Button, Radio, Check, Edit } kind = Kind::Button;
    int group = 0;  // radio buttons of one group share it
    int limit = 0;  // an edit box's EM_LIMITTEXT; 0: none
    bool checked = false;
    std::string text;
  };

  // The named template's controls; null when the program has no such
  // dialog with a procedure of its own.
  static std::unique_ptr<Dialog> FromTemplate(const std::string& name, host::DialogWindow window,
                                              host::DialogProcedure procedure);

  const std::string& Name() const { return name_; }
  host::DialogWindow Window() const { return window_; }
  // The ids of the controls, in template (tab) order.
  const std::vector<int>& Ids() const { return order_; }
  bool Exists(int id) const;
  Control::Kind KindOf(int id) const;
  bool Checked(int id) const;
  std::string Text(int id) const;

  // WM_INITDIALOG, before the user sees it.
  void Initialize();
  // The user clicks a button, radio button or check box: automatic ones
  // change their state first, then the procedure gets the command.
  void Click(int id);
  // The user types into an edit box (the text replaces what was there, cut
  // to the box's limit).
  void Type(int id, const std::string& text);
  // Esc or the close box: the dialog manager sends IDCANCEL.
  void Escape() { Command(host::kIdDialogCancel); }
  void Command(int id);
  bool Ended() const { return ended_; }
  std::intptr_t Result() const { return result_; }
  // The control clicked, typed into or given the focus last.
  int Focused() const { return focused_; }

  // What the procedure calls on it (host.h's dialog primitives).
  void End(std::intptr_t result);
  void CheckRadio(int firstId, int lastId, int checkId);
  void SetChecked(int id, bool checked);
  void SetText(int id, const std::string& text);
  void Limit(int id, int maximumCharacters);
  void Focus(int id) { focused_ = id; }

 private:
  std::string name_;
  host::DialogWindow window_ = 0;
  host::DialogProcedure procedure_ = nullptr;
  std::map<int, Control> controls_;
  std::vector<int> order_;
  bool ended_ = false;
  std::intptr_t result_ = 0;
  int focused_ = 0;
};

}  // namespace linuxhost
