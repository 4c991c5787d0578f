#include "linux/dialog.h"

#include <stdexcept>

#include "linux/templates.h"
#include "res/ids.h"

namespace linuxhost {
namespace {

using Kind = Dialog::Control::Kind;

constexpr std::uintptr_t kBnClicked = 0;
constexpr int kNotifyShift = 16;

}  // namespace

std::unique_ptr<Dialog> Dialog::FromTemplate(const std::string& name, host::DialogWindow window,
                                             host::DialogProcedure procedure) {
  const std::vector<TemplateControl> controls = TemplateControls(name);
  // The main window is a template too, but no dialog of the logic's.
  if (controls.empty() || name == kMainWindowTemplate || procedure == nullptr) return nullptr;
  auto dialog = std::make_unique<Dialog>();
  dialog->name_ = name;
  dialog->window_ = window;
  dialog->procedure_ = procedure;
  int group = 0;
  for (const TemplateControl& control : controls) {
    if (control.id == IDC_UNADDRESSED) continue;  // labels and group boxes
    Control& made = dialog->controls_[control.id];
    made.kind = control.IsEdit() ? Kind::Edit
                : control.IsRadio() ? Kind::Radio
                : control.IsCheckBox() ? Kind::Check
                                      : Kind::Button;
    // A radio button with WS_GROUP starts a group; the ones after it join it.
    if (made.kind == Kind::Radio && (control.Has("WS_GROUP") || group == 0)) ++group;
    if (made.kind == Kind::Radio) made.group = group;
    dialog->order_.push_back(control.id);
  }
  return dialog;
}

bool Dialog::Exists(int id) const { return controls_.count(id) != 0; }

Dialog::Control::Kind Dialog::KindOf(int id) const {
  const auto it = controls_.find(id);
  return it == controls_.end() ? Kind::Button : it->second.kind;
}

bool Dialog::Checked(int id) const {
  const auto it = controls_.find(id);
  return it != controls_.end() && it->second.checked;
}

std::string Dialog::Text(int id) const {
  const auto it = controls_.find(id);
  return it == controls_.end() ? std::string() : it->second.text;
}

void Dialog::Initialize() { procedure_(window_, host::kWmInitDialog, 0, 0); }

void Dialog::Click(int id) {
  if (!Exists(id)) throw std::invalid_argument(name_ + " has no control " + std::to_string(id));
  Control& clicked = controls_[id];
  focused_ = id;
  if (clicked.kind == Kind::Radio) {
    for (auto& [otherId, other] : controls_) {
      if (other.kind == Kind::Radio && other.group == clicked.group) other.checked = otherId == id;
    }
  } else if (clicked.kind == Kind::Check) {
    clicked.checked = !clicked.checked;
  }
  Command(id);
}

void Dialog::Type(int id, const std::string& text) {
  if (!Exists(id)) throw std::invalid_argument(name_ + " has no control " + std::to_string(id));
  Control& edit = controls_[id];
  focused_ = id;
  edit.text = edit.limit > 0 ? text.substr(0, static_cast<std::size_t>(edit.limit)) : text;
}

void Dialog::Command(int id) {
  if (ended_) throw std::logic_error(name_ + " has ended");
  procedure_(window_, host::kWmCommand, static_cast<std::uintptr_t>(id) | kBnClicked << kNotifyShift, 0);
}

void Dialog::End(std::intptr_t result) {
  ended_ = true;
  result_ = result;
}

void Dialog::CheckRadio(int firstId, int lastId, int checkId) {
  for (int id = firstId; id <= lastId; ++id) {
    if (Exists(id)) controls_[id].checked = id == checkId;
  }
}

void Dialog::SetChecked(int id, bool checked) {
  if (Exists(id)) controls_[id].checked = checked;
}

void Dialog::SetText(int id, const std::string& text) {
  if (Exists(id)) controls_[id].text = text;
}

void Dialog::Limit(int id, int maximumCharacters) {
  if (Exists(id)) controls_[id].limit = maximumCharacters;
}

}  // namespace linuxhost
