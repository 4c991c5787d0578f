// The program's window and dialog templates as the resource script builds
// them (res/controls.def): what a front end without Win32 shows of them.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace linuxhost {

// The templates of the main window and of the About box.
constexpr char kMainWindowTemplate[] = "VORNINST";
constexpr char kAboutTemplate[] = "ABOUT";

struct TemplateControl {
  std::string_view dialog;  // "VORNINST", "ABOUT", "INSTSET", "INSTSET2", "TODIR"
  std::string_view text;
  int id = 0;
  std::string_view windowClass;  // "BUTTON", "STATIC", "EDIT", "COMBOBOX"
  std::string_view style;        // as the script writes it: "BS_AUTORADIOBUTTON | WS_GROUP"
  int x = 0;
  int y = 0;
  int cx = 0;
  int cy = 0;

  // One flag of the style, by its name.
  bool Has(std::string_view flag) const;
  bool IsGroupBox() const { return Has("BS_GROUPBOX"); }
  bool IsRadio() const { return Has("BS_AUTORADIOBUTTON"); }
  bool IsCheckBox() const { return Has("BS_AUTOCHECKBOX"); }
  bool IsPushButton() const { return Has("BS_PUSHBUTTON") || Has("BS_DEFPUSHBUTTON"); }
  bool IsIcon() const { return Has("SS_ICON"); }
  bool IsEdit() const { return windowClass == "EDIT"; }
  bool IsStatic() const { return windowClass == "STATIC"; }
};

// A template's controls, in template order; empty for a name it has none of.
std::vector<TemplateControl> TemplateControls(std::string_view dialog);

// The same controls as a reader meets them: in lines from top to bottom,
// each line left to right.
std::vector<std::vector<TemplateControl>> ReadingLines(std::vector<TemplateControl> controls);

// True when the control lies inside one of the group boxes among controls.
bool InGroupBox(const TemplateControl& control, const std::vector<TemplateControl>& controls);

// The text of a control by its id; empty when the template has none.
std::string ControlText(std::string_view dialog, int id);

// A template's title.
std::string DialogTitle(std::string_view dialog);

// A text of the program's string table, as LoadString gives it (in
// catalogue_text.cpp: it needs the host).
std::string CatalogueText(unsigned id);

}  // namespace linuxhost
