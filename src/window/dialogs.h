// The dialogs of the templates: the install settings and the destination
// folder (run by the engine's dialog procedures: the user's clicks go to
// the engine, and it says what the dialog holds), and the About box.
#pragma once

#include <QDialog>
#include <QMap>
#include <QString>

#include "window/layout.h"

namespace window {

class EngineDialog : public QDialog {
  Q_OBJECT

 public:
  EngineDialog(const QString& name, int number, QWidget* parent);
  const QString& Name() const { return name_; }
  int Number() const { return number_; }
  // A control as the engine says it is now.
  void SetControl(int id, bool checked, const QString& text);
  void SetFocusTo(int id);
  // The edit box's text where the user changed it since the engine last
  // said it: (id, text); id 0 when unchanged.
  QPair<int, QString> Edited() const;
  // The dialog's procedure ended it.
  void Finish(int result);
  QWidget* Control(int id) const { return controls_.value(id); }

 signals:
  void Clicked(int id);
  void Escaped();

 public slots:
  // Esc and the close box go to the engine; only its dialog-end closes.
  void reject() override;

 private:
  QString name_;
  int number_;
  QMap<int, QWidget*> controls_;
  QMap<int, QString> engineTexts_;
  bool finishing_ = false;
};

// Whether a dialog of this name is one the engine may open.
bool IsEngineDialog(const QString& name);

// The About box (OK, Enter, Esc and its close box close it).
void ShowAbout(QWidget* parent);

}  // namespace window
