#include "window/dialogs.h"

#include <QAbstractButton>
#include <QLineEdit>
#include <QPushButton>

#include <array>

#include "res/controls.def"
#include "res/ids.h"

namespace window {
namespace {

struct Template {
  const char* name;
  std::array<int, 2> size;
};
constexpr Template kTemplates[] = {
    {"INSTSET", {VORN_SIZE_INSTSET}},
    {"INSTSET2", {VORN_SIZE_INSTSET2}},
    {"TODIR", {VORN_SIZE_TODIR}},
    {linuxhost::kAboutTemplate, {VORN_SIZE_ABOUT}},
};

const Template* Find(const QString& name) {
  for (const Template& known : kTemplates) {
    if (name == QLatin1String(known.name)) return &known;
  }
  return nullptr;
}

// A template's dialog: its title, font, size and controls.
QMap<int, QWidget*> Build(QDialog& dialog, const Template& shape) {
  dialog.setFont(TemplateFont());
  const DialogUnits units(dialog.font());
  dialog.setWindowTitle(QString::fromStdString(linuxhost::DialogTitle(shape.name)));
  dialog.setFixedSize(TemplateSize(shape.size[0], shape.size[1], units));
  return PlaceControls(linuxhost::TemplateControls(shape.name), dialog, units);
}

}  // namespace

bool IsEngineDialog(const QString& name) { return Find(name) != nullptr && name != linuxhost::kAboutTemplate; }

EngineDialog::EngineDialog(const QString& name, int number, QWidget* parent)
    : QDialog(parent), name_(name), number_(number) {
  setModal(true);
  controls_ = Build(*this, *Find(name));
  for (auto control = controls_.cbegin(); control != controls_.cend(); ++control) {
    const int id = control.key();
    if (auto* button = qobject_cast<QAbstractButton*>(control.value())) {
      connect(button, &QAbstractButton::clicked, this, [this, id] { emit Clicked(id); });
    }
  }
}

void EngineDialog::SetControl(int id, bool checked, const QString& text) {
  QWidget* control = controls_.value(id);
  if (auto* edit = qobject_cast<QLineEdit*>(control)) {
    engineTexts_[id] = text;
    if (edit->text() != text) edit->setText(text);
  } else if (auto* button = qobject_cast<QAbstractButton*>(control); button != nullptr && button->isCheckable()) {
    const QSignalBlocker quiet(button);
    button->setChecked(checked);
  }
}

void EngineDialog::SetFocusTo(int id) {
  if (QWidget* control = controls_.value(id)) control->setFocus();
}

QPair<int, QString> EngineDialog::Edited() const {
  for (auto control = controls_.cbegin(); control != controls_.cend(); ++control) {
    const auto* edit = qobject_cast<const QLineEdit*>(control.value());
    if (edit != nullptr && edit->text() != engineTexts_.value(control.key())) return {control.key(), edit->text()};
  }
  return {0, {}};
}

void EngineDialog::Finish(int result) {
  finishing_ = true;
  done(result);
}

void EngineDialog::reject() {
  if (finishing_) {
    QDialog::reject();
    return;
  }
  emit Escaped();
}

void ShowAbout(QWidget* parent) {
  auto* about = new QDialog(parent);
  about->setAttribute(Qt::WA_DeleteOnClose);
  const QMap<int, QWidget*> controls = Build(*about, *Find(linuxhost::kAboutTemplate));
  if (auto* ok = qobject_cast<QPushButton*>(controls.value(IDC_OK))) {
    QObject::connect(ok, &QPushButton::clicked, about, &QDialog::accept);
    ok->setFocus();
  }
  about->open();
}

}  // namespace window
