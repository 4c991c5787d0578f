// The main window: the template's controls drawn as the engine's last state
// says, its menu and keys, and the boxes, dialogs, folder chooser and
// progress of the command in hand. It runs as the user and touches no
// card: every click is a request to the engine, every change on the screen
// one of the engine's lines.
#pragma once

#include <QLabel>
#include <QMainWindow>
#include <QMap>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>

#include <deque>
#include <optional>

#include "linux/protocol.h"
#include "window/dialogs.h"
#include "window/drive_combo.h"
#include "window/engine.h"

class QMessageBox;

namespace window {

class MainWindow : public QMainWindow {
  Q_OBJECT

 public:
  explicit MainWindow(const Launch& launch, QWidget* parent = nullptr);

  // What the tests look at.
  QPushButton* Button(int id) const { return buttons_.value(id); }
  DriveCombo* Combo() const { return combo_; }
  QLabel* Status() const { return status_; }
  QLabel* Report() const { return report_; }
  QLabel* Message() const { return message_; }
  QProgressBar* Bar() const { return bar_; }
  QPushButton* CancelButton() const { return cancel_; }
  // The engine ended early, or could not start.
  bool Failed() const { return failed_; }

 protected:
  void closeEvent(QCloseEvent* event) override;

 private:
  using Line = linuxhost::protocol::Message;
  enum class Phase { Starting, Idle, Asking, Running, Quitting, Ended };

  void BuildControls();
  void BuildMenu();
  void BuildPanel();

  void Request(const Line& request);
  void Tick();
  void Press(int id);
  void Pick(int index);
  void Quit();
  void Cancel();
  void Enter();

  void OnLine(const Line& line);
  void OnEnded(const EngineEnd& end);
  bool OnState(const Line& line);
  bool OnBox(const Line& line);
  bool OnDialog(const Line& line);
  bool OnDialogEnd(const Line& line);
  bool OnBrowse(const Line& line);
  bool OnProgress(const Line& line);
  bool OnOpen(const Line& line);
  void OnEnd(const Line& line);
  void ShowMessage(const QString& text);
  void DialogRequest(Line request);
  void SendDialogRequests();
  QString EndText(const EngineEnd& end) const;

  Engine engine_;
  Phase phase_ = Phase::Starting;
  QTimer tick_;
  DriveCombo* combo_ = nullptr;
  QLabel* status_ = nullptr;
  QLabel* report_ = nullptr;
  QMap<int, QPushButton*> buttons_;
  QLabel* message_ = nullptr;
  QWidget* progress_ = nullptr;
  QLabel* progressText_ = nullptr;
  QProgressBar* bar_ = nullptr;
  QPushButton* cancel_ = nullptr;

  std::vector<Line> entries_;  // of the state being read
  QString stake_;              // for the first box of the command
  QString shownStake_;
  QString refusal_;
  int command_ = 0;            // the command in hand
  int selection_ = -1;         // the combo box's entry in the engine's last state
  bool cancelled_ = false;
  bool closeWanted_ = false;
  bool mayClose_ = false;
  bool failed_ = false;
  std::optional<Line> queued_;  // a click that came while a request was out
  QPointer<QMessageBox> box_;
  QPointer<EngineDialog> dialog_;
  QMap<int, std::vector<Line>> controls_;  // control lines before their dialog line
  std::deque<Line> dialogRequests_;
  bool dialogAsked_ = false;
};

}  // namespace window
