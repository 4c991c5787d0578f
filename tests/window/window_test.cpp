// The window against a stand-in engine that plays a script of the protocol's
// lines (and checks the window's), and end to end against vorninst serve on
// a loop device. Run on Qt's offscreen platform.
#include <unistd.h>

#include <QAccessible>
#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QFileDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QProcess>
#include <QRadioButton>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>

#include <functional>
#include <memory>

#include "window/dialogs.h"
#include "window/launch.h"
#include "window/main_window.h"
#include "res/ids.h"

namespace {

using window::MainWindow;

constexpr int kWaitMs = 10000;
const QString kHead = QStringLiteral(
    "> hello version=0.21b user=me root=1 note=\n< tick\n"
    "> entry index=0 text=E:%5C device=/dev/sdb1 disk=/dev/sdb bytes=7948206080 vendor=SanDisk model=SD\n"
    "> window selection=0 status=7580%20MB%20%28FAT32%29 report=Total%20capacity%20:%207580%20MB%0A "
    "shown=206,213,210,212,207,202,208,211,222,223 enabled=1\n");
QString End(int command, int stopped = 0) {
  return QString("> end command=%1 stopped=%2 error=0 fault=\n").arg(command).arg(stopped) + kHead.section('\n', 2, 3) + "\n";
}

// A window on the stand-in engine, playing this script.
struct Session {
  QTemporaryDir dir;
  std::unique_ptr<MainWindow> window;
  explicit Session(const QString& script, const QString& pkexecStatus = {}) {
    QFile file(dir.filePath("script"));
    file.open(QIODevice::WriteOnly);
    file.write(script.toUtf8());
    file.close();
    window::Place place;
    place.root = true;
    place.engineOverride = QString("%1 %2 %3").arg(VORN_STAND_IN, file.fileName(), dir.filePath("report"));
    if (!pkexecStatus.isEmpty()) {  // a pkexec that ends before the engine runs
      place.pkexecOverride = dir.filePath("pkexec");
      QFile pkexec(place.pkexecOverride);
      pkexec.open(QIODevice::WriteOnly);
      pkexec.write("#!/bin/sh\nexit " + pkexecStatus.toUtf8() + "\n");
      pkexec.setPermissions(pkexec.permissions() | QFile::ExeOwner);
    }
    window = std::make_unique<MainWindow>(window::EngineLaunch({}, place));
    window->show();
  }
  QString Report() {
    QFile file(dir.filePath("report"));
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()).trimmed() : QString("no report");
  }
  // Closes the window and waits for the engine's bye: the script was played.
  bool Finish() {
    window->close();
    if (!QTest::qWaitFor([this] { return !window->isVisible(); }, kWaitMs)) return false;
    return Report() == "ok";
  }
};

template <typename T>
T* Modal() {
  return qobject_cast<T*>(QApplication::activeModalWidget());
}

void Click(QWidget* widget) { QTest::mouseClick(widget, Qt::LeftButton); }

}  // namespace

class WindowTest : public QObject {
  Q_OBJECT

 private slots:
  void boxesAreAnsweredWithTheButtonPressed_data();
  void boxesAreAnsweredWithTheButtonPressed();
  void dialogsRunByTheEngine();
  void progressAndCancel();
  void anEngineThatEndsEarlyGivesABox_data();
  void anEngineThatEndsEarlyGivesABox();
  void stateKeysAndNames();
  void theEngineCommand();
  void newInstallOnALoopDevice();
};

void WindowTest::boxesAreAnsweredWithTheButtonPressed_data() {
  QTest::addColumn<QString>("buttons");
  QTest::addColumn<QString>("icon");
  QTest::addColumn<QString>("press");  // a button's text, "close" (the close box) or "enter"
  QTest::addColumn<QString>("answer");
  QTest::newRow("Yes") << "yesno" << "warning" << "&Yes" << "yes";
  QTest::newRow("No of three") << "yesnocancel" << "none" << "&No" << "no";
  QTest::newRow("close box: No where no Cancel") << "yesno" << "none" << "close" << "no";
  QTest::newRow("close box: Cancel") << "yesnocancel" << "warning" << "close" << "cancel";
  QTest::newRow("Enter: OK") << "ok" << "warning" << "enter" << "ok";
}

void WindowTest::boxesAreAnsweredWithTheButtonPressed() {
  QFETCH(QString, buttons);
  QFETCH(QString, icon);
  QFETCH(QString, press);
  QFETCH(QString, answer);
  Session session(kHead + "< command id=210\n> begin command=210\n"
                  "> stake command=210 text=New%20Install%20works%20on%20/dev/sdb%20%20SanDisk%20SD\n"
                  "> box id=1 caption=Confirm text=Continue%20to%20install%20VORN%20%3F%20 buttons=" + buttons +
                  " icon=" + icon + "\n< answer id=1 button=" + answer +
                  "\n> box id=2 caption=Finish text=Install%20finished%21 buttons=ok icon=none\n< answer id=2 button=ok\n" +
                  End(210));
  QTRY_VERIFY_WITH_TIMEOUT(session.window->Button(IDC_NEW_INSTALL)->isEnabled(), kWaitMs);
  Click(session.window->Button(IDC_NEW_INSTALL));
  QTRY_VERIFY_WITH_TIMEOUT(Modal<QMessageBox>() != nullptr, kWaitMs);
  QMessageBox* box = Modal<QMessageBox>();
  QVERIFY2(box->windowTitle() == "Confirm", qPrintable(box->text()));
  QCOMPARE(box->text(), QString("Continue to install VORN ? "));
  QCOMPARE(box->icon(), icon == "warning" ? QMessageBox::Warning : QMessageBox::NoIcon);
  // What is at stake, before the first question: on the box and in the window.
  QCOMPARE(box->informativeText(), QString("New Install works on /dev/sdb  SanDisk SD"));
  QCOMPARE(session.window->Message()->text(), box->informativeText());
  if (press == "close") {
    box->close();
  } else if (press == "enter") {
    QTest::keyClick(box, Qt::Key_Return);
  } else {
    const QList<QAbstractButton*> all = box->buttons();
    Click(*std::find_if(all.begin(), all.end(), [&press](QAbstractButton* b) { return b->text() == press; }));
  }
  QTRY_VERIFY_WITH_TIMEOUT(Modal<QMessageBox>() != nullptr && Modal<QMessageBox>() != box, kWaitMs);
  QVERIFY(Modal<QMessageBox>()->informativeText().isEmpty());  // only the first question
  Modal<QMessageBox>()->button(QMessageBox::Ok)->click();
  QTRY_VERIFY_WITH_TIMEOUT(session.window->Button(IDC_NEW_INSTALL)->isEnabled(), kWaitMs);
  QVERIFY2(session.Finish(), qPrintable(session.Report()));
}

void WindowTest::dialogsRunByTheEngine() {
  QTemporaryDir chosen;
  const QString typed = QDir::homePath() + "/Pictures/typed%20here";  // typed as a folder in the home folder
  const QString install = kHead +
      "< command id=210\n> begin command=210\n"
      "> control dialog=1 id=217 checked=1 text=\n> control dialog=1 id=218 checked=0 text=\n"
      "> control dialog=1 id=219 checked=0 text=\n> control dialog=1 id=220 checked=1 text=\n"
      "> dialog dialog=1 name=INSTSET focus=1\n< click dialog=1 id=218\n"
      "> control dialog=1 id=217 checked=0 text=\n> control dialog=1 id=218 checked=1 text=\n"
      "> dialog dialog=1 name=INSTSET focus=218\n< click dialog=1 id=1\n> dialog-end dialog=1 result=1\n" + End(210);
  const QString destination = kHead +
      "< command id=213\n> begin command=213\n"
      "> control dialog=1 id=215 checked=0 text=\n> control dialog=1 id=221 checked=0 text=\n"
      "> dialog dialog=1 name=TODIR focus=1\n< type dialog=1 id=215 text=" + typed + "\n"
      "> control dialog=1 id=215 checked=0 text=" + typed + "\n> control dialog=1 id=221 checked=0 text=\n"
      "> dialog dialog=1 name=TODIR focus=215\n< click dialog=1 id=214\n"
      "> browse id=1 title=Select%20Distination%20Folder selected=" + typed + "\n< folder id=1 path=" +
      chosen.path() + "\n> control dialog=1 id=215 checked=0 text=" + chosen.path() +
      "\n> control dialog=1 id=221 checked=0 text=\n> dialog dialog=1 name=TODIR focus=214\n"
      "< escape dialog=1\n> dialog-end dialog=1 result=0\n" + End(213);
  struct Row {
    const char* name;
    QString script;
    int button;
    std::function<void(window::EngineDialog&)> user;
  };
  const Row rows[] = {
      {"INSTSET: Right, then OK", install, IDC_NEW_INSTALL,
       [](window::EngineDialog& dialog) {
         QVERIFY(qobject_cast<QRadioButton*>(dialog.Control(IDC_TWO_PARTITIONS))->isChecked());
         Click(dialog.Control(IDC_CAMERA_RIGHT));
         QTRY_VERIFY_WITH_TIMEOUT(dialog.Control(IDC_CAMERA_RIGHT)->hasFocus(), kWaitMs);  // the engine's answer
         QVERIFY(qobject_cast<QRadioButton*>(dialog.Control(IDC_TWO_PARTITIONS))->isChecked());  // another group
         Click(dialog.Control(IDC_OK));
       }},
      {"TODIR: typed, Browse.., the chooser, Esc", destination, IDC_COPY_IMAGES,
       [&chosen](window::EngineDialog& dialog) {
         QTest::keyClicks(dialog.Control(IDC_DESTINATION), "Pictures/typed here");
         Click(dialog.Control(IDC_BROWSE));
         QTRY_VERIFY_WITH_TIMEOUT(Modal<QFileDialog>() != nullptr, kWaitMs);
         QCOMPARE(Modal<QFileDialog>()->windowTitle(), QString("Select Distination Folder"));
         emit Modal<QFileDialog>()->fileSelected(chosen.path());  // as the chooser tells the folder chosen
         static_cast<QDialog*>(Modal<QFileDialog>())->done(QDialog::Accepted);
         QTRY_COMPARE_WITH_TIMEOUT(qobject_cast<QLineEdit*>(dialog.Control(IDC_DESTINATION))->text(), chosen.path(),
                                   kWaitMs);
         QTest::keyClick(&dialog, Qt::Key_Escape);
       }},
  };
  for (const Row& row : rows) {
    Session session(row.script);
    QTRY_VERIFY_WITH_TIMEOUT(session.window->Button(row.button)->isEnabled(), kWaitMs);
    Click(session.window->Button(row.button));
    QTRY_VERIFY_WITH_TIMEOUT(Modal<window::EngineDialog>() != nullptr, kWaitMs);
    QPointer<window::EngineDialog> dialog = Modal<window::EngineDialog>();
    row.user(*dialog);
    QTRY_VERIFY_WITH_TIMEOUT(dialog == nullptr || !dialog->isVisible(), kWaitMs);
    QTRY_VERIFY_WITH_TIMEOUT(session.window->Button(row.button)->isEnabled(), kWaitMs);
    QVERIFY2(session.Finish(), qPrintable(QString(row.name) + ": " + session.Report()));
  }
}

void WindowTest::progressAndCancel() {
  Session session(kHead + "< command id=202\n> begin command=202\n> progress text=Zeroing percent=-1\n"
                  "> box id=1 caption=Confirm text=Go%20on%3F buttons=yesno icon=none\n< answer id=1 button=yes\n"
                  "> progress text=Formatting%2040%20%25 percent=40\n< cancel\n" + End(202, 1));
  QTRY_VERIFY_WITH_TIMEOUT(session.window->Button(IDC_FORMAT)->isEnabled(), kWaitMs);
  Click(session.window->Button(IDC_FORMAT));
  QTRY_VERIFY_WITH_TIMEOUT(Modal<QMessageBox>() != nullptr, kWaitMs);
  QVERIFY(session.window->Bar()->isVisible());
  QCOMPARE(session.window->Bar()->maximum(), 0);  // busy: the line tells no percentage
  Modal<QMessageBox>()->button(QMessageBox::Yes)->click();
  QTRY_COMPARE_WITH_TIMEOUT(session.window->Bar()->value(), 40, kWaitMs);
  QCOMPARE(session.window->Bar()->maximum(), 100);
  Click(session.window->CancelButton());
  QTRY_VERIFY_WITH_TIMEOUT(!session.window->Bar()->isVisible(), kWaitMs);
  QVERIFY(session.window->Message()->text().contains("was stopped"));
  QVERIFY2(session.Finish(), qPrintable(session.Report()));
}

void WindowTest::anEngineThatEndsEarlyGivesABox_data() {
  QTest::addColumn<QString>("script");
  QTest::addColumn<QString>("pkexec");  // its exit status; empty: no pkexec
  QTest::addColumn<QString>("says");
  const QString midCommand = kHead + "< command id=202\n> begin command=202\n> progress text=Formatting percent=10\n";
  QTest::newRow("dies in a command") << midCommand + "err mkfs.fat: the device went away\nexit 3\n" << ""
                                     << "exit status 3|mkfs.fat: the device went away|did not finish";
  QTest::newRow("killed") << midCommand + "kill\n" << "" << "crashed|did not finish";
  QTest::newRow("a line it cannot read") << kHead.section('\n', 0, 0) + "\n> this is%ZZ no line\n" << ""
                                         << "cannot take|this is%ZZ no line";
  QTest::newRow("bye never said") << kHead + "exit 0\n" << "" << "exit status 0";
  QTest::newRow("refused") << "> refused text=--card%20/dev/sda%20is%20a%20system%20disk\nexit 1\n" << ""
                           << "--card /dev/sda is a system disk";
  QTest::newRow("pkexec 126: dismissed") << "" << "126" << "dismissed";
  QTest::newRow("pkexec 127: not authorised") << "" << "127" << "not authorised|authentication agent";
}

void WindowTest::anEngineThatEndsEarlyGivesABox() {
  QFETCH(QString, script);
  QFETCH(QString, pkexec);
  QFETCH(QString, says);
  Session session(script, pkexec);
  if (script.contains("command id=202")) {
    QTRY_VERIFY_WITH_TIMEOUT(session.window->Button(IDC_FORMAT)->isEnabled(), kWaitMs);
    Click(session.window->Button(IDC_FORMAT));
  }
  QTRY_VERIFY_WITH_TIMEOUT(Modal<QMessageBox>() != nullptr, kWaitMs);
  QMessageBox* box = Modal<QMessageBox>();
  QCOMPARE(box->windowTitle(), QString("Error"));
  for (const QString& part : says.split('|')) {
    QVERIFY2((box->text() + box->informativeText()).contains(part), qPrintable(box->text() + box->informativeText()));
  }
  box->button(QMessageBox::Ok)->click();
  QTRY_VERIFY_WITH_TIMEOUT(!session.window->isVisible(), kWaitMs);  // closed, no hang
  QVERIFY(session.window->Failed());
}

void WindowTest::stateKeysAndNames() {
  const QString second = "> entry index=1 text=F:%5C device=/root/card.img disk=/root/card.img bytes=1000 vendor= model=\n";
  Session session(kHead.section('\n', 0, 2) + "\n" + second + kHead.section('\n', 3, 3) + "\n< select index=1\n" +
                  kHead.section('\n', 2, 2) + "\n" + second + "> window selection=1 status=Bootable report= shown=201,206 enabled=1\n");
  QTRY_VERIFY_WITH_TIMEOUT(session.window->Button(IDC_FORMAT)->isEnabled(), kWaitMs);
  MainWindow& window = *session.window;
  QCOMPARE(window.windowTitle(), QString("VORN Installer (SCRIPT)"));
  QCOMPARE(window.Combo()->itemText(0), QString("E:\\  /dev/sdb1  7.4 GiB  SanDisk SD"));
  QCOMPARE(window.Combo()->Root(0), QString("E:\\"));
  QCOMPARE(window.Status()->text(), QString("7580 MB (FAT32)"));
  // Every control a screen reader meets is named; the statics' texts are read.
  for (QWidget* control : window.findChildren<QWidget*>()) {
    QAccessibleInterface* face = QAccessible::queryAccessibleInterface(control);
    if (control->focusPolicy() == Qt::NoFocus && !qobject_cast<QLabel*>(control)) continue;
    QVERIFY2(face != nullptr && !face->text(QAccessible::Name).isEmpty(), control->metaObject()->className());
  }
  QCOMPARE(window.Status()->accessibleName(), QString("Card status"));
  QCOMPARE(window.Status()->accessibleDescription(), QString("7580 MB (FAT32)"));
  QCOMPARE(window.Combo()->accessibleName(), QString("Drive"));
  // Ctrl+A: the About box, which Esc closes.
  QTest::keyClick(&window, Qt::Key_A, Qt::ControlModifier);
  QTRY_VERIFY_WITH_TIMEOUT(Modal<QDialog>() != nullptr, kWaitMs);
  QCOMPARE(Modal<QDialog>()->windowTitle(), QString("About VORN Installer"));
  QTest::keyClick(Modal<QDialog>(), Qt::Key_Escape);
  QTRY_VERIFY_WITH_TIMEOUT(Modal<QDialog>() == nullptr, kWaitMs);
  // A pick in the combo box: the engine's new state shows its buttons only.
  emit window.Combo()->activated(0);  // the same drive: no inspection
  emit window.Combo()->activated(1);
  QTRY_COMPARE_WITH_TIMEOUT(window.Status()->text(), QString("Bootable"), kWaitMs);
  QVERIFY(window.Button(IDC_MAKE_BOOTABLE)->isVisible());
  QVERIFY(!window.Button(IDC_FORMAT)->isVisible());
  QVERIFY(window.Button(IDC_EXIT)->isVisible());
  // Esc closes the window: quit, bye.
  window.activateWindow();
  QVERIFY(QTest::qWaitForWindowActive(&window));
  QTest::keyClick(&window, Qt::Key_Escape);
  QTRY_VERIFY_WITH_TIMEOUT(!window.isVisible(), kWaitMs);
  QCOMPARE(session.Report(), QString("ok"));
  QVERIFY(!window.Failed());
}

// How the engine is started: its options passed on with full paths (pkexec
// starts it in root's home folder), the vorninst beside the window or the
// installed one, pkexec unless the window is root.
void WindowTest::theEngineCommand() {
  QTemporaryDir build;  // a build folder: vorninst beside the window
  QFile beside(build.filePath("vorninst"));
  QVERIFY(beside.open(QIODevice::WriteOnly));
  beside.setPermissions(beside.permissions() | QFile::ExeOwner);
  struct Row {
    QStringList arguments;
    bool root;
    QString folder;
    QString command;  // program and arguments, joined by spaces
  };
  const QString here = QDir::currentPath();
  const Row rows[] = {
      {{"--card", "card.img", "--drive", "e:"}, false, "/usr/bin",
       "/usr/bin/pkexec /usr/bin/vorninst --card " + here + "/card.img --drive e: serve"},
      {{"--addon=addon"}, true, build.path(), build.filePath("vorninst") + " --addon " + here + "/addon serve"},
      {{}, false, build.path(), "/usr/bin/pkexec " + build.filePath("vorninst") + " serve"},
  };
  for (const Row& row : rows) {
    QString error;
    const std::optional<window::Options> options = window::ParseOptions(row.arguments, error);
    QVERIFY2(options.has_value(), qPrintable(error));
    window::Place place;
    place.root = row.root;
    place.selfFolder = row.folder;
    const window::Launch launch = window::EngineLaunch(*options, place);
    QCOMPARE(QStringList(launch.program) + launch.arguments, row.command.split(' '));
    QCOMPARE(launch.throughPkexec, !row.root);
  }
  QString error;
  for (const QStringList& bad : {QStringList{"--drive", "EE"}, QStringList{"--card"}, QStringList{"--yes"}}) {
    QVERIFY(!window::ParseOptions(bad, error).has_value());
  }
}

namespace {

// Runs a tool: whether it succeeded, and its output.
bool Tool(const QStringList& command, QString* output = nullptr) {
  QProcess tool;
  QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
  environment.insert("MTOOLS_SKIP_CHECK", "1");
  tool.setProcessEnvironment(environment);
  tool.start(command.front(), command.mid(1));
  const bool done = tool.waitForFinished(kWaitMs * 6) && tool.exitCode() == 0;
  if (!done) qWarning() << command << tool.readAllStandardError();
  if (output != nullptr) *output = QString::fromUtf8(tool.readAllStandardOutput());
  return done;
}

// A loop device over a byte range of the image, detached at the end.
struct Loop {
  QString device;
  Loop(const QString& image, qint64 offset = 0, qint64 size = 0, bool readOnly = false) {
    QStringList command = {"losetup", "-f", "--show"};
    if (readOnly) command << "-r" << "-o" << QString::number(offset) << "--sizelimit" << QString::number(size);
    Tool(command << image, &device);
    device = device.trimmed();
  }
  ~Loop() {
    if (!device.isEmpty()) Tool({"losetup", "-d", device});
  }
};

}  // namespace

// A two-partition New Install through the window's buttons and boxes, by
// the real engine on an 8 GB loop-backed card.
void WindowTest::newInstallOnALoopDevice() {
  if (::geteuid() != 0) QSKIP("needs root for a loop device");
  constexpr qint64 kSectors = 16777216;
  constexpr qint64 kSector = 512;
  QTemporaryDir dir;
  const QString image = dir.filePath("card.img");
  QVERIFY(Tool({"truncate", "-s", QString::number(kSectors * kSector), image}));
  const Loop card(image);
  QVERIFY(card.device.startsWith("/dev/loop"));
  for (const char* name : {"DISKBOOT.BIN", "PS.FIR", "LYRE/LYRE.BIN", "DCIM/100TEST/README.TXT", "LYRE.CFG.L", "LYRE.CFG.R"}) {
    QDir(dir.path()).mkpath(QFileInfo(dir.filePath(QString("addon/") + name)).path());
    QFile file(dir.filePath(QString("addon/") + name));
    QVERIFY(file.open(QIODevice::WriteOnly) && file.write(name) > 0);
  }
  qputenv("HOME", dir.path().toUtf8());
  qunsetenv("SUDO_USER");
  qunsetenv("XDG_CONFIG_HOME");
  window::Options options;
  options.engineOptions = QStringList{"--card", card.device, "--addon", dir.filePath("addon")};
  window::Place place;
  place.root = true;
  place.selfFolder = QFileInfo(VORN_PROGRAM).absolutePath();
  MainWindow window(window::EngineLaunch(options, place));
  window.show();
  QTRY_VERIFY_WITH_TIMEOUT(window.Button(IDC_NEW_INSTALL)->isVisible() && window.Button(IDC_NEW_INSTALL)->isEnabled(),
                           kWaitMs * 2);
  QElapsedTimer clock;
  clock.start();
  Click(window.Button(IDC_NEW_INSTALL));
  QStringList seen;
  for (bool finished = false; !finished;) {
    QVERIFY2(QTest::qWaitFor([] { return QApplication::activeModalWidget() != nullptr; }, kWaitMs * 12),
             qPrintable(seen.join(" / ")));
    if (QPointer<window::EngineDialog> dialog = Modal<window::EngineDialog>()) {
      QVERIFY(qobject_cast<QRadioButton*>(dialog->Control(IDC_TWO_PARTITIONS))->isChecked());  // 4000 MB or more
      Click(dialog->Control(IDC_OK));
      QTRY_VERIFY_WITH_TIMEOUT(dialog == nullptr || !dialog->isVisible(), kWaitMs);
      continue;
    }
    QPointer<QMessageBox> box = Modal<QMessageBox>();
    QVERIFY(box != nullptr);
    seen << box->text();
    finished = box->text().startsWith("Install finished!");
    if (finished) qInfo("New Install, from its button to \"Install finished!\": %lld ms", clock.elapsed());
    (box->button(QMessageBox::Yes) != nullptr ? box->button(QMessageBox::Yes) : box->button(QMessageBox::Ok))->click();
    QTRY_VERIFY_WITH_TIMEOUT(box == nullptr || !box->isVisible(), kWaitMs);
  }
  QTRY_VERIFY_WITH_TIMEOUT(window.Button(IDC_NEW_INSTALL)->isEnabled(), kWaitMs * 3);
  window.close();
  QTRY_VERIFY_WITH_TIMEOUT(!window.isVisible(), kWaitMs);
  QVERIFY(!window.Failed());
  // The card, as tools no one here wrote read it.
  QString table;
  QVERIFY(Tool({"sfdisk", "-d", card.device}, &table));
  QVERIFY2(QRegularExpression("start= *1, size= *4096, type=1\n").match(table).hasMatch(), qPrintable(table));
  QVERIFY2(QRegularExpression("start= *4097, size= *16773118, type=b\n").match(table).hasMatch(), qPrintable(table));
  const struct {
    qint64 first, sectors;
    const char* holds;
  } partitions[] = {{1, 4096, "DISKBOOT BIN"}, {4097, 16773118, "LYRE"}};
  for (const auto& partition : partitions) {
    const Loop volume(image, partition.first * kSector, partition.sectors * kSector, true);
    QVERIFY(Tool({"fsck.fat", "-n", volume.device}));
    QString files;
    QVERIFY(Tool({"mdir", "-i", QString("%1@@%2").arg(image).arg(partition.first * kSector), "::/"}, &files));
    QVERIFY2(files.contains(partition.holds), qPrintable(files));
  }
}

QTEST_MAIN(WindowTest)
#include "window_test.moc"
