#include "linux/templates.h"

#include <algorithm>
#include <cstdlib>

#include "res/ids.h"
#include "res/controls.def"

namespace linuxhost {
namespace {

// The style stays text: its flags are Win32's names, which only the
// resource compiler knows.
#define VORN_CONTROL(dialog, text, id, windowClass, style, x, y, cx, cy) \
  {#dialog, text, id, windowClass, #style, x, y, cx, cy},
#define VORN_MAIN_WINDOW_CONTROLS
#define VORN_ABOUT_CONTROLS
#define VORN_INSTSET_CONTROLS
#define VORN_INSTSET2_CONTROLS
#define VORN_TODIR_CONTROLS
const TemplateControl kControls[] = {
#include "res/controls.def"
};
#undef VORN_CONTROL

// Controls whose tops lie closer than this (dialog units) share a line.
constexpr int kSameLine = 6;

}  // namespace

bool TemplateControl::Has(std::string_view flag) const {
  for (std::size_t at = style.find(flag); at != std::string_view::npos; at = style.find(flag, at + 1)) {
    const std::size_t end = at + flag.size();
    const auto boundary = [this](std::size_t i) { return i >= style.size() || style[i] == ' ' || style[i] == '|'; };
    if ((at == 0 || boundary(at - 1)) && boundary(end)) return true;
  }
  return false;
}

std::vector<TemplateControl> TemplateControls(std::string_view dialog) {
  std::vector<TemplateControl> controls;
  for (const TemplateControl& control : kControls) {
    if (control.dialog == dialog) controls.push_back(control);
  }
  return controls;
}

std::vector<std::vector<TemplateControl>> ReadingLines(std::vector<TemplateControl> controls) {
  std::stable_sort(controls.begin(), controls.end(),
                   [](const TemplateControl& a, const TemplateControl& b) { return a.y < b.y; });
  // Each line starts at its topmost control.
  std::vector<std::vector<TemplateControl>> lines;
  for (const TemplateControl& control : controls) {
    if (lines.empty() || control.y - lines.back().front().y >= kSameLine) lines.emplace_back();
    lines.back().push_back(control);
  }
  for (auto& line : lines) {
    std::stable_sort(line.begin(), line.end(), [](const TemplateControl& a, const TemplateControl& b) { return a.x < b.x; });
  }
  return lines;
}

bool InGroupBox(const TemplateControl& control, const std::vector<TemplateControl>& controls) {
  return std::any_of(controls.begin(), controls.end(), [&control](const TemplateControl& group) {
    return group.IsGroupBox() && control.x > group.x && control.x < group.x + group.cx && control.y > group.y &&
           control.y < group.y + group.cy;
  });
}

std::string ControlText(std::string_view dialog, int id) {
  for (const TemplateControl& control : kControls) {
    if (control.dialog == dialog && control.id == id) return std::string(control.text);
  }
  return {};
}

std::string DialogTitle(std::string_view dialog) {
  if (dialog == kMainWindowTemplate) return VORN_TITLE_MAIN_WINDOW;
  if (dialog == kAboutTemplate) return VORN_TITLE_ABOUT;
  if (dialog == "TODIR") return VORN_TITLE_DESTINATION;
  if (dialog == "INSTSET" || dialog == "INSTSET2") return VORN_TITLE_INSTALL_SETTING;
  return {};
}

}  // namespace linuxhost
