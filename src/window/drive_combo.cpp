#include "window/drive_combo.h"

#include <QAbstractItemView>
#include <QStyleOptionComboBox>
#include <QStylePainter>

namespace window {
namespace {

constexpr int kRootRole = Qt::UserRole;
// Room for the list's scroll bar and frame beside its longest line.
constexpr int kListMargin = 32;

}  // namespace

DriveCombo::DriveCombo(QWidget* parent) : QComboBox(parent) {}

void DriveCombo::AddDrive(const QString& root, const QString& line) {
  addItem(line, root);
  setItemData(count() - 1, line, Qt::ToolTipRole);
}

QString DriveCombo::Root(int index) const { return itemData(index, kRootRole).toString(); }

void DriveCombo::paintEvent(QPaintEvent*) {
  QStylePainter painter(this);
  QStyleOptionComboBox option;
  initStyleOption(&option);
  if (currentIndex() >= 0) option.currentText = Root(currentIndex());
  painter.drawComplexControl(QStyle::CC_ComboBox, option);
  painter.drawControl(QStyle::CE_ComboBoxLabel, option);
}

void DriveCombo::showPopup() {
  view()->setMinimumWidth(view()->sizeHintForColumn(0) + kListMargin);
  QComboBox::showPopup();
}

}  // namespace window
