#include "window/layout.h"

#include <QApplication>
#include <QButtonGroup>
#include <QCheckBox>
#include <QFontMetrics>
#include <QGroupBox>
#include <QIcon>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>

#include <algorithm>

#include "window/drive_combo.h"
#include "res/ids.h"

namespace window {
namespace {

using linuxhost::TemplateControl;

// Windows' average character width is the width of these 52 letters,
// over 52, rounded.
constexpr char kAverageSample[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";
constexpr int kAverageSampleLength = 52;
// Dialog units: a quarter of the average width, an eighth of the height.
constexpr int kUnitsAcross = 4;
constexpr int kUnitsDown = 8;
constexpr int kTemplatePointSize = 10;
constexpr char kGroupBoxStyle[] =
    "QGroupBox { border: 1px solid palette(mid); margin-top: 0.5em; }"
    "QGroupBox::title { subcontrol-origin: margin; left: 0.5em; padding: 0 0.2em; }";
// The icon of a template's SS_ICON control, built into the program.
constexpr char kIconResource[] = ":/vorninst.ico";

// MulDiv: a * b / c, rounded half away from zero.
int MulDiv(int a, int b, int c) {
  const long long product = static_cast<long long>(a) * b;
  const long long half = c / 2;
  return static_cast<int>(product >= 0 ? (product + half) / c : (product - half) / c);
}

QString Text(const TemplateControl& control) {
  return QString::fromUtf8(control.text.data(), static_cast<qsizetype>(control.text.size()));
}

QLabel* MakeStatic(const TemplateControl& control, QWidget& parent) {
  auto* label = new QLabel(&parent);
  if (control.IsIcon()) {
    const QSize size = QSize(control.cx, control.cy);
    label->setPixmap(QIcon(kIconResource).pixmap(QSize(32, 32).expandedTo(size)));
    label->setAccessibleName(QStringLiteral("Icon"));
    return label;
  }
  label->setText(Text(control));
  const Qt::Alignment across = control.Has("SS_CENTER") ? Qt::AlignHCenter : Qt::AlignLeft;
  label->setAlignment(across | Qt::AlignTop);
  label->setWordWrap(control.Has("SS_CENTER") || control.id == IDC_REPORT);
  if (control.Has("SS_SUNKEN")) {
    // Windows' text starts right inside the frame.
    label->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    label->setIndent(0);
  }
  return label;
}

QWidget* MakeControl(const TemplateControl& control, QWidget& parent, QButtonGroup*& radios) {
  const QString text = Text(control);
  if (!control.IsRadio()) radios = nullptr;
  if (control.IsGroupBox()) {
    // As Windows draws one: the title on the frame's top line, not above it.
    auto* group = new QGroupBox(text, &parent);
    group->setStyleSheet(QString::fromLatin1(kGroupBoxStyle));
    return group;
  }
  if (control.IsStatic()) return MakeStatic(control, parent);
  if (control.IsEdit()) return new QLineEdit(&parent);
  if (control.windowClass == "COMBOBOX") return new DriveCombo(&parent);
  if (control.IsCheckBox()) return new QCheckBox(text, &parent);
  if (control.IsRadio()) {
    if (radios == nullptr || control.Has("WS_GROUP")) radios = new QButtonGroup(&parent);
    auto* radio = new QRadioButton(text, &parent);
    radios->addButton(radio, control.id);
    return radio;
  }
  auto* button = new QPushButton(text, &parent);
  button->setDefault(control.Has("BS_DEFPUSHBUTTON"));
  return button;
}

// The label on the line of an edit box or a combo box ("Folder :"): its
// index among the controls, or -1.
int LabelOf(const TemplateControl& field, const std::vector<TemplateControl>& controls) {
  for (const auto& line : linuxhost::ReadingLines(controls)) {
    const auto same = [](const TemplateControl& a, const TemplateControl& b) { return a.x == b.x && a.y == b.y; };
    if (std::none_of(line.begin(), line.end(), [&](const TemplateControl& c) { return same(c, field); })) continue;
    for (const TemplateControl& label : line) {
      if (!label.IsStatic() || label.IsIcon() || label.id != IDC_UNADDRESSED) continue;
      const auto at = std::find_if(controls.begin(), controls.end(), [&](const TemplateControl& c) { return same(c, label); });
      return static_cast<int>(at - controls.begin());
    }
  }
  return -1;
}

}  // namespace

DialogUnits::DialogUnits(const QFont& font) {
  const QFontMetrics metrics(font);
  const int sample = metrics.horizontalAdvance(QString::fromLatin1(kAverageSample));
  averageWidth_ = MulDiv(sample, 1, kAverageSampleLength);
  height_ = metrics.height();
}

int DialogUnits::X(int units) const { return MulDiv(units, averageWidth_, kUnitsAcross); }
int DialogUnits::Y(int units) const { return MulDiv(units, height_, kUnitsDown); }

QFont TemplateFont() {
  QFont font = QApplication::font();
  font.setStyleHint(QFont::SansSerif);
  if (font.pointSizeF() < kTemplatePointSize) font.setPointSize(kTemplatePointSize);
  return font;
}

QMap<int, QWidget*> PlaceControls(const std::vector<TemplateControl>& controls, QWidget& parent,
                                  const DialogUnits& units) {
  QMap<int, QWidget*> byId;
  QButtonGroup* radios = nullptr;
  std::vector<QWidget*> made;
  for (const TemplateControl& control : controls) {
    QWidget* widget = MakeControl(control, parent, radios);
    QRect place = units.Rect(control.x, control.y, control.cx, control.cy);
    // A combo box's height in the template is that of its dropped list.
    if (control.windowClass == "COMBOBOX") place.setHeight(widget->sizeHint().height());
    // A sunken line of text keeps its whole line inside the frame.
    if (auto* label = qobject_cast<QLabel*>(widget); label != nullptr && label->frameWidth() > 0) {
      place.setHeight(std::max(place.height(), units.Height() + 2 * label->frameWidth()));
    }
    widget->setGeometry(place);
    if (control.IsGroupBox()) widget->lower();  // under what it holds, which would be hidden otherwise
    if (control.id != IDC_UNADDRESSED) byId.insert(control.id, widget);
    made.push_back(widget);
  }
  // A screen reader names an edit box or a combo box by the label on its line.
  for (std::size_t index = 0; index < controls.size(); ++index) {
    if (!controls[index].IsEdit() && controls[index].windowClass != "COMBOBOX") continue;
    const int label = LabelOf(controls[index], controls);
    if (label < 0) continue;
    auto* text = qobject_cast<QLabel*>(made[static_cast<std::size_t>(label)]);
    text->setBuddy(made[index]);
    if (controls[index].IsEdit()) made[index]->setAccessibleName(text->text().remove(':').trimmed());
  }
  return byId;
}

QSize TemplateSize(int cx, int cy, const DialogUnits& units) { return {units.X(cx), units.Y(cy)}; }

}  // namespace window
