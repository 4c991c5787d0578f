// The combo box of drives. Closed, it is as narrow as on Windows and shows
// the drive root ("E:\"); its list shows each card's device, size and maker,
// so that the card is picked by what it is, not by a letter alone.
#pragma once

#include <QComboBox>
#include <QString>

namespace window {

class DriveCombo : public QComboBox {
  Q_OBJECT

 public:
  explicit DriveCombo(QWidget* parent = nullptr);
  // An entry: the root it stands for and the line its list shows.
  void AddDrive(const QString& root, const QString& line);
  QString Root(int index) const;

 protected:
  void paintEvent(QPaintEvent* event) override;
  void showPopup() override;
};

}  // namespace window
