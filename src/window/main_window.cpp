#include "window/main_window.h"

#include <QAction>
#include <QCloseEvent>
#include <QDesktopServices>
#include <QDir>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QLocale>
#include <QMenuBar>
#include <QMessageBox>
#include <QRegularExpression>
#include <QShortcut>
#include <QUrl>
#include <QVBoxLayout>

#include <algorithm>
#include <array>
#include <memory>

#include "res/ids.h"
#include "res/controls.def"

namespace window {
namespace {

using linuxhost::protocol::Message;

// As Windows' refresh timer: the next scan 500 ms after the last one ended.
constexpr int kRefreshMs = 500;
constexpr std::array<int, 2> kMainSize = {VORN_SIZE_MAIN_WINDOW};
// The panel under the template's controls, in dialog units.
constexpr int kPanelMargin = 5;
constexpr int kPercentMax = 100;
constexpr int kQuitWaitMs = 10000;

#define VORN_STRING(id, text) {id, text},
struct CatalogueString {
  unsigned id;
  const char* text;
};
constexpr CatalogueString kCatalogue[] = {
#include "res/messages.def"
};
#undef VORN_STRING

QString Catalogue(unsigned id) {
  for (const CatalogueString& string : kCatalogue) {
    if (string.id == id) return QString::fromUtf8(string.text);
  }
  return {};
}

QString Field(const Message& line, std::string_view key) { return QString::fromStdString(line.Text(key)); }
int Number(const Message& line, std::string_view key) { return static_cast<int>(line.Number(key).value_or(-1)); }

QString ButtonText(int id) { return QString::fromStdString(linuxhost::ControlText(linuxhost::kMainWindowTemplate, id)); }

// The line a drive's entry shows in the list: the root, the device, the
// size and the maker, as the terminal lists drives.
QString DriveLine(const Message& entry) {
  QStringList parts = {Field(entry, "text"), Field(entry, "device")};
  if (const auto bytes = entry.Number("bytes"); bytes && *bytes > 0) {
    parts << QLocale::c().formattedDataSize(*bytes, 1, QLocale::DataSizeIecFormat);
  }
  parts << (Field(entry, "vendor") + " " + Field(entry, "model")).trimmed();
  parts.removeAll(QString());
  return parts.join(QStringLiteral("  "));
}

// The box's buttons as the protocol names them, in Windows' order.
struct BoxButtons {
  const char* name;
  QMessageBox::StandardButtons buttons;
  QMessageBox::StandardButton escape;  // the close box: Cancel, or No where there is none
};
constexpr BoxButtons kBoxButtons[] = {
    {"ok", QMessageBox::Ok, QMessageBox::Ok},
    {"yesno", QMessageBox::Yes | QMessageBox::No, QMessageBox::No},
    {"yesnocancel", QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel, QMessageBox::Cancel},
};

const char* AnswerName(QMessageBox::StandardButton button) {
  switch (button) {
    case QMessageBox::Yes: return "yes";
    case QMessageBox::No: return "no";
    case QMessageBox::Cancel: return "cancel";
    default: return "ok";
  }
}

// The engine takes full paths only: a folder typed as "~/Pictures" or
// "Pictures" is one in the user's home folder, as a file chooser reads it.
QString FullPath(const QString& typed) {
  const QString& text = typed;
  if (text.isEmpty() || QDir::isAbsolutePath(text)) return text;
  const QString home = QDir::homePath();
  if (text == "~") return home;
  return QDir::cleanPath(home + "/" + (text.startsWith("~/") ? text.mid(2) : text));
}

// A card's root as the program names it: "E:\".
bool IsDriveRoot(const QString& folder) {
  static const QRegularExpression root(QStringLiteral("^[A-Z]:\\\\$"));
  return root.match(folder).hasMatch();
}

}  // namespace

MainWindow::MainWindow(const Launch& launch, QWidget* parent) : QMainWindow(parent) {
  setWindowTitle(QString::fromStdString(linuxhost::DialogTitle(linuxhost::kMainWindowTemplate)));
  setFont(TemplateFont());
  BuildControls();
  BuildMenu();
  BuildPanel();
  layout()->setSizeConstraint(QLayout::SetFixedSize);
  tick_.setSingleShot(true);
  tick_.setInterval(kRefreshMs);
  connect(&tick_, &QTimer::timeout, this, &MainWindow::Tick);
  connect(&engine_, &Engine::Received, this, &MainWindow::OnLine);
  connect(&engine_, &Engine::Ended, this, &MainWindow::OnEnded);
  if (launch.throughPkexec) ShowMessage(tr("VORN Installer asks for an administrator's password to work on SD cards."));
  engine_.Start(launch);
}

void MainWindow::BuildControls() {
  auto* central = new QWidget(this);
  auto* column = new QVBoxLayout(central);
  column->setContentsMargins(0, 0, 0, 0);
  auto* area = new QWidget(central);
  const DialogUnits units(font());
  area->setFixedSize(TemplateSize(kMainSize[0], kMainSize[1], units));
  const QMap<int, QWidget*> controls =
      PlaceControls(linuxhost::TemplateControls(linuxhost::kMainWindowTemplate), *area, units);
  column->addWidget(area);
  setCentralWidget(central);
  for (auto control = controls.cbegin(); control != controls.cend(); ++control) {
    auto* button = qobject_cast<QPushButton*>(control.value());
    if (button == nullptr) continue;
    const int id = control.key();
    buttons_.insert(id, button);
    button->setAccessibleName(button->text());
    button->setEnabled(id == IDC_EXIT);  // until the engine's first state
    connect(button, &QPushButton::clicked, this, [this, id] { Press(id); });
  }
  combo_ = qobject_cast<DriveCombo*>(controls.value(IDC_DRIVE_COMBO));
  combo_->setAccessibleName(QStringLiteral("Drive"));
  combo_->setEnabled(false);
  connect(combo_, &QComboBox::activated, this, &MainWindow::Pick);
  status_ = qobject_cast<QLabel*>(controls.value(IDC_STATUS));
  report_ = qobject_cast<QLabel*>(controls.value(IDC_REPORT));
  status_->setAccessibleName(QStringLiteral("Card status"));
  report_->setAccessibleName(QStringLiteral("Card report"));
  status_->setAccessibleDescription(status_->text());
  // The dialog keyboard interface: Enter presses the focused button or
  // EXIT, Esc closes.
  for (const QKeySequence& key : {QKeySequence(Qt::Key_Return), QKeySequence(Qt::Key_Enter)}) {
    connect(new QShortcut(key, this), &QShortcut::activated, this, &MainWindow::Enter);
  }
  connect(new QShortcut(QKeySequence(Qt::Key_Escape), this), &QShortcut::activated, this, &MainWindow::close);
}

void MainWindow::BuildMenu() {
  QAction* exit = menuBar()->addAction(QStringLiteral(VORN_MENU_EXIT));
  connect(exit, &QAction::triggered, this, &MainWindow::close);
  QAction* about = menuBar()->addAction(QStringLiteral(VORN_MENU_ABOUT));
  about->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_A));
  about->setShortcutContext(Qt::WindowShortcut);
  addAction(about);
  connect(about, &QAction::triggered, this, [this] { ShowAbout(this); });
}

void MainWindow::BuildPanel() {
  const DialogUnits units(font());
  auto* column = qobject_cast<QVBoxLayout*>(centralWidget()->layout());
  column->setContentsMargins(units.X(kPanelMargin), 0, units.X(kPanelMargin), units.Y(kPanelMargin));
  message_ = new QLabel(centralWidget());
  message_->setWordWrap(true);
  message_->setFixedWidth(units.X(kMainSize[0] - 2 * kPanelMargin));
  message_->setFrameStyle(QFrame::Panel | QFrame::Sunken);
  message_->setAccessibleName(QStringLiteral("Message"));
  message_->hide();
  column->addWidget(message_);

  progress_ = new QWidget(centralWidget());
  auto* rows = new QVBoxLayout(progress_);
  rows->setContentsMargins(0, 0, 0, 0);
  progressText_ = new QLabel(progress_);
  progressText_->setWordWrap(true);
  progressText_->setAccessibleName(QStringLiteral("Work in progress"));
  rows->addWidget(progressText_);
  auto* row = new QHBoxLayout;
  bar_ = new QProgressBar(progress_);
  bar_->setAccessibleName(QStringLiteral("Progress"));
  cancel_ = new QPushButton(QStringLiteral("Cancel"), progress_);
  cancel_->setAccessibleName(cancel_->text());
  connect(cancel_, &QPushButton::clicked, this, &MainWindow::Cancel);
  row->addWidget(bar_, 1);
  row->addWidget(cancel_);
  rows->addLayout(row);
  progress_->hide();
  column->addWidget(progress_);
}

void MainWindow::Request(const Line& request) {
  if (phase_ != Phase::Idle) return;
  tick_.stop();
  phase_ = Phase::Asking;
  if (request.verb == "command") {
    command_ = Number(request, "id");
    // Nothing else starts until the engine's state after the command.
    combo_->setEnabled(false);
    for (QPushButton* button : buttons_) button->setEnabled(button == buttons_.value(IDC_EXIT));
  }
  engine_.Send(request);
}

void MainWindow::Tick() { Request(Line("tick")); }

void MainWindow::Press(int id) {
  if (id == IDC_EXIT) {
    close();
    return;
  }
  Line request("command");
  request.Add("id", id);
  if (phase_ == Phase::Asking) queued_ = request;
  Request(request);
}

void MainWindow::Pick(int index) {
  if (index == selection_) return;  // the list opened and closed on the same drive: no inspection
  Line request("select");
  request.Add("index", index);
  if (phase_ == Phase::Asking) queued_ = request;
  Request(request);
}

void MainWindow::Enter() {
  auto* focused = qobject_cast<QPushButton*>(focusWidget());
  if (focused != nullptr && focused->isVisible() && focused->isEnabled()) {
    focused->click();
  } else {
    close();
  }
}

void MainWindow::Cancel() {
  if (phase_ != Phase::Running || cancelled_) return;
  cancelled_ = true;
  cancel_->setEnabled(false);
  progressText_->setText(QStringLiteral("Stopping: the step in hand ends, and nothing more is written to the card."));
  engine_.Send(Line("cancel"));
}

void MainWindow::Quit() {
  phase_ = Phase::Quitting;
  tick_.stop();
  engine_.Send(Line("quit"));
  engine_.EndInput();
  // An engine that does not end is left to end by itself.
  QTimer::singleShot(kQuitWaitMs, this, [this] {
    mayClose_ = true;
    close();
  });
}

void MainWindow::closeEvent(QCloseEvent* event) {
  if (mayClose_ || phase_ == Phase::Ended) {
    event->accept();
    return;
  }
  event->ignore();
  closeWanted_ = true;
  switch (phase_) {
    case Phase::Starting: engine_.EndInput(); break;  // the end of input ends it once it starts
    case Phase::Idle: Quit(); break;
    case Phase::Running: Cancel(); break;  // the quit follows the state after the command's end
    default: break;  // the state on its way, then the quit
  }
}

void MainWindow::ShowMessage(const QString& text) {
  message_->setText(text);
  message_->setAccessibleDescription(text);
  message_->setVisible(!text.isEmpty());
}

void MainWindow::OnLine(const Line& line) {
  const std::string& verb = line.verb;
  const bool running = phase_ == Phase::Running;
  bool fine = true;
  if (verb == "hello" || verb == "refused") {
    fine = phase_ == Phase::Starting;
    if (verb == "refused") refusal_ = Field(line, "text");
    if (fine && verb == "hello") {
      phase_ = Phase::Idle;
      ShowMessage(Field(line, "note"));
      Tick();
    }
  } else if (verb == "entry") {
    fine = phase_ == Phase::Asking && Number(line, "index") == static_cast<int>(entries_.size());
    entries_.push_back(line);
  } else if (verb == "window") {
    fine = phase_ == Phase::Asking && OnState(line);
  } else if (verb == "begin") {
    fine = phase_ == Phase::Asking && Number(line, "command") == command_;
    phase_ = Phase::Running;
    cancelled_ = false;
    ShowMessage({});
    progressText_->clear();
    bar_->setRange(0, 0);
    cancel_->setEnabled(true);
    progress_->show();
  } else if (verb == "stake" || verb == "notice") {
    fine = running;
    ShowMessage(Field(line, "text"));
    if (verb == "stake") stake_ = shownStake_ = Field(line, "text");
  } else if (verb == "control") {
    fine = running;
    controls_[Number(line, "dialog")].push_back(line);
  } else if (verb == "end") {
    fine = running && Number(line, "command") == command_;
    OnEnd(line);
  } else if (verb == "bye") {
    phase_ = Phase::Quitting;
  } else {
    fine = running && ((verb == "box" && OnBox(line)) || (verb == "dialog" && OnDialog(line)) ||
                       (verb == "dialog-end" && OnDialogEnd(line)) || (verb == "browse" && OnBrowse(line)) ||
                       (verb == "progress" && OnProgress(line)) || (verb == "open" && OnOpen(line)));
  }
  if (!fine) engine_.Stop(tr("%1, where the window expected no such line").arg(QString::fromStdString(verb)));
}

bool MainWindow::OnState(const Line& line) {
  std::vector<Line> entries;
  entries.swap(entries_);
  const int selection = Number(line, "selection");
  const int enabled = Number(line, "enabled");
  if (selection < -1 || selection >= static_cast<int>(entries.size()) || (enabled != 0 && enabled != 1)) return false;
  QList<int> shown;
  for (const QString& id : Field(line, "shown").split(',', Qt::SkipEmptyParts)) {
    bool number = false;
    shown << id.toInt(&number);
    if (!number || !buttons_.contains(shown.last()) || shown.last() == IDC_EXIT) return false;
  }
  {
    const QSignalBlocker quiet(combo_);
    combo_->clear();
    for (const Line& entry : entries) combo_->AddDrive(Field(entry, "text"), DriveLine(entry));
    combo_->setCurrentIndex(selection);
  }
  selection_ = selection;
  const QString drive = selection >= 0 ? combo_->itemText(selection) : QString();
  combo_->setToolTip(drive);
  combo_->setAccessibleDescription(drive);
  combo_->setEnabled(enabled == 1);
  for (auto [text, label] : {std::pair{Field(line, "status"), status_}, std::pair{Field(line, "report"), report_}}) {
    label->setText(text);
    label->setAccessibleDescription(text);
  }
  for (auto button = buttons_.cbegin(); button != buttons_.cend(); ++button) {
    if (button.key() == IDC_EXIT) continue;
    button.value()->setVisible(shown.contains(button.key()));
    button.value()->setEnabled(enabled == 1);
  }
  phase_ = Phase::Idle;
  command_ = 0;
  if (closeWanted_) {
    Quit();
  } else if (queued_) {
    const Line request = *queued_;
    queued_.reset();
    Request(request);
  } else {
    tick_.start();
  }
  return true;
}

bool MainWindow::OnBox(const Line& line) {
  const std::string buttons = line.Text("buttons");
  const std::string icon = line.Text("icon");
  const auto shape = std::find_if(std::begin(kBoxButtons), std::end(kBoxButtons),
                                  [&buttons](const BoxButtons& known) { return buttons == known.name; });
  if (shape == std::end(kBoxButtons) || (icon != "warning" && icon != "none") || box_ != nullptr) return false;
  const int id = Number(line, "id");
  auto* box = new QMessageBox(icon == "warning" ? QMessageBox::Warning : QMessageBox::NoIcon, Field(line, "caption"),
                              Field(line, "text"), shape->buttons, this);
  box->setAttribute(Qt::WA_DeleteOnClose);
  box->setTextFormat(Qt::PlainText);
  box->setEscapeButton(shape->escape);
  box->setDefaultButton(shape->buttons.testFlag(QMessageBox::Yes) ? QMessageBox::Yes : QMessageBox::Ok);
  if (!stake_.isEmpty()) {
    box->setInformativeText(stake_);  // which card, before the first question of a command that erases
    stake_.clear();
  }
  const QMessageBox::StandardButton escape = shape->escape;
  connect(box, &QMessageBox::finished, this, [this, box, id, escape] {
    QAbstractButton* clicked = box->clickedButton();
    const QMessageBox::StandardButton pressed = clicked != nullptr ? box->standardButton(clicked) : escape;
    Line answer("answer");
    answer.Add("id", id).Add("button", AnswerName(pressed == QMessageBox::NoButton ? escape : pressed));
    engine_.Send(answer);
  });
  box_ = box;
  box->open();
  return true;
}

bool MainWindow::OnDialog(const Line& line) {
  const int number = Number(line, "dialog");
  const QString name = Field(line, "name");
  if (dialog_ != nullptr && (dialog_->Number() != number || dialog_->Name() != name)) return false;
  if (dialog_ == nullptr) {
    if (!IsEngineDialog(name)) return false;
    dialog_ = new EngineDialog(name, number, this);
    dialog_->setAttribute(Qt::WA_DeleteOnClose);
    connect(dialog_, &EngineDialog::Clicked, this, [this](int id) {
      const auto [edit, text] = dialog_->Edited();
      if (edit != 0) {
        DialogRequest(Line("type").Add("dialog", dialog_->Number()).Add("id", edit).Add("text", FullPath(text).toStdString()));
      }
      DialogRequest(Line("click").Add("dialog", dialog_->Number()).Add("id", id));
    });
    connect(dialog_, &EngineDialog::Escaped, this,
            [this] { DialogRequest(Line("escape").Add("dialog", dialog_->Number())); });
    dialog_->open();
  }
  for (const Line& control : controls_.take(number)) {
    if (dialog_->Control(Number(control, "id")) == nullptr) return false;
    dialog_->SetControl(Number(control, "id"), Number(control, "checked") == 1, Field(control, "text"));
  }
  dialog_->SetFocusTo(Number(line, "focus"));
  dialogAsked_ = false;
  SendDialogRequests();
  return true;
}

bool MainWindow::OnDialogEnd(const Line& line) {
  if (dialog_ == nullptr || dialog_->Number() != Number(line, "dialog")) return false;
  dialog_->Finish(Number(line, "result"));
  dialog_ = nullptr;
  dialogRequests_.clear();
  dialogAsked_ = false;
  return true;
}

void MainWindow::DialogRequest(Line request) {
  dialogRequests_.push_back(std::move(request));
  SendDialogRequests();
}

void MainWindow::SendDialogRequests() {
  if (dialogAsked_ || dialogRequests_.empty()) return;
  dialogAsked_ = true;
  engine_.Send(dialogRequests_.front());
  dialogRequests_.pop_front();
}

bool MainWindow::OnBrowse(const Line& line) {
  if (dialog_ == nullptr) return false;
  const int id = Number(line, "id");
  // The desktop's own folder chooser where it has one; it runs as the user.
  auto* chooser = new QFileDialog(dialog_, Field(line, "title"), Field(line, "selected"));
  chooser->setAttribute(Qt::WA_DeleteOnClose);
  chooser->setFileMode(QFileDialog::Directory);
  chooser->setOption(QFileDialog::ShowDirsOnly);
  // The folder chosen comes before the chooser ends; an end without one is
  // its Cancel.
  auto chosen = std::make_shared<QString>();
  connect(chooser, &QFileDialog::fileSelected, this, [chosen](const QString& folder) { *chosen = folder; });
  connect(chooser, &QFileDialog::finished, this, [this, chosen, id](int result) {
    const QString path = result == QDialog::Accepted && !chosen->isEmpty() ? QDir::cleanPath(*chosen) : QString();
    engine_.Send(Line("folder").Add("id", id).Add("path", path.toStdString()));
  });
  chooser->open();
  return true;
}

bool MainWindow::OnProgress(const Line& line) {
  const int percent = Number(line, "percent");
  if (percent < -1 || percent > kPercentMax) return false;
  if (!cancelled_) progressText_->setText(Field(line, "text"));
  bar_->setRange(0, percent < 0 ? 0 : kPercentMax);  // a busy bar where the line tells no percentage
  if (percent >= 0) bar_->setValue(percent);
  bar_->setAccessibleDescription(Field(line, "text"));
  return true;
}

bool MainWindow::OnOpen(const Line& line) {
  const QString folder = Field(line, "folder");
  if (IsDriveRoot(folder)) {
    // The engine reads the card by its bytes; nothing of it is mounted here.
    ShowMessage(tr("%1 is the card's own folder (%2): it is not mounted on this PC, so there is no folder to open.")
                    .arg(folder, Field(line, "device")));
    return true;
  }
  if (!QDir::isAbsolutePath(folder)) return false;
  QDesktopServices::openUrl(QUrl::fromLocalFile(folder));
  return true;
}

void MainWindow::OnEnd(const Line& line) {
  progress_->hide();
  phase_ = Phase::Asking;  // the state follows
  const QString fault = Field(line, "fault");
  if (Number(line, "stopped") == 1) {
    ShowMessage(tr("%1 was stopped; nothing was written after the stop.").arg(ButtonText(command_)));
  } else if (!fault.isEmpty()) {
    ShowMessage(tr("%1 ended early: %2").arg(ButtonText(command_), fault));
  } else if (!shownStake_.isEmpty() && message_->text() == shownStake_) {
    ShowMessage({});  // done: what was at stake is no longer news
  }
  stake_.clear();
  shownStake_.clear();
  if (dialog_ != nullptr) dialog_->Finish(0);
}

void MainWindow::OnEnded(const EngineEnd& end) {
  const bool working = phase_ == Phase::Running;
  phase_ = Phase::Ended;
  tick_.stop();
  if (dialog_ != nullptr) dialog_->Finish(0);  // Esc would only ask the engine, which is gone
  if (box_ != nullptr) box_->close();
  if (end.kind == EngineEnd::Kind::Bye || closeWanted_) {
    mayClose_ = true;
    close();
    return;
  }
  failed_ = true;
  QString text = EndText(end);
  if (working) text += tr("\n\nThe command in hand did not finish: look at the card before you use it.");
  auto* box = new QMessageBox(QMessageBox::Warning, Catalogue(MSG_CAPTION_ERROR), text, QMessageBox::Ok, this);
  box->setAttribute(Qt::WA_DeleteOnClose);
  box->setTextFormat(Qt::PlainText);
  const QString said = engine_.ErrorTail();
  if (!said.isEmpty() && end.kind != EngineEnd::Kind::Dismissed) box->setInformativeText(tr("It said last:\n%1").arg(said));
  connect(box, &QMessageBox::finished, this, [this] {
    mayClose_ = true;
    close();
  });
  box->open();
}

QString MainWindow::EndText(const EngineEnd& end) const {
  using Kind = EngineEnd::Kind;
  if (!refusal_.isEmpty()) return refusal_;
  switch (end.kind) {
    case Kind::NotStarted:
      return tr("VORN Installer could not start its engine, which works on the cards:\n%1").arg(end.detail);
    case Kind::Dismissed:
      return tr("VORN Installer needs administrator rights to work on SD cards, and the request for them was "
                "dismissed.\nStart VORN Installer again to be asked once more.");
    case Kind::NotAuthorised:
      return tr("VORN Installer was not allowed to work on SD cards: you are not authorised, or no "
                "authentication agent was there to ask for your password.\nStart it from a desktop session, "
                "or ask an administrator.");
    case Kind::Crashed: return tr("The engine of VORN Installer, which works on the cards, crashed.");
    case Kind::Unreadable:
      return tr("The engine of VORN Installer sent a line the window cannot take, so the window stopped it:\n%1")
          .arg(end.detail);
    default:
      return tr("The engine of VORN Installer, which works on the cards, ended before it was done (exit status %1).")
          .arg(end.status);
  }
}

}  // namespace window
