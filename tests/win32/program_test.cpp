// The built program itself under Wine, started from a folder that holds the
// add-on's file set and a decoy format.com: it finds the card on E:, formats
// through the system folder's format.com, reports a failed format, copies
// the file set and opens the card's folder. Driven from outside, as a user
// would: commands posted to its window, its message boxes answered.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "host/host.h"
#include "ids.h"
#include "prefix_support.h"
#include "stand_in/format_stand_in.h"
#include "win32/main_window.h"
#include "window_support.h"

namespace {

constexpr char kProgramFolder[] = "C:\\vorn-installer";
constexpr char kProgramName[] = "vorninst.exe";
constexpr char kMainTitle[] = "VORN Installer (SCRIPT)";
constexpr char kBoxClass[] = "#32770";
constexpr char kCardRoot[] = "E:\\";
constexpr char kInitialStatus[] = "Insert SD Card";
// Every wait ends: a window that never comes fails the test.
constexpr DWORD kWaitMilliseconds = 20000;

// The program, started in its folder; ended by force if a test leaves it running.
class Program {
 public:
  explicit Program(const std::string& folder) {
    const std::string path = folder + "\\" + kProgramName;
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION started{};
    if (CreateProcessA(path.c_str(), nullptr, nullptr, nullptr, FALSE, 0, nullptr, folder.c_str(),
                       &startup, &started)) {
      process_.reset(started.hProcess);
      ::CloseHandle(started.hThread);
      id_ = started.dwProcessId;
    }
  }
  ~Program() {
    if (process_ != nullptr && WaitForSingleObject(process_.get(), 0) == WAIT_TIMEOUT) {
      TerminateProcess(process_.get(), 1);
    }
  }
  Program(const Program&) = delete;
  Program& operator=(const Program&) = delete;

  DWORD Id() const { return id_; }
  // Its top-level window of this class and title, shown or not yet; null when none.
  HWND Find(const char* className, const char* title, bool shown = false) const {
    for (HWND window = FindWindowExA(nullptr, nullptr, className, title); window != nullptr;
         window = FindWindowExA(nullptr, window, className, title)) {
      DWORD owner = 0;
      GetWindowThreadProcessId(window, &owner);
      if (owner == id_ && (!shown || IsWindowVisible(window))) return window;
    }
    return nullptr;
  }
  // Waits until it shows such a window.
  HWND WaitFor(const char* className, const char* title) const {
    HWND window = nullptr;
    wintest::WaitUntil([&] { return (window = Find(className, title, true)) != nullptr; },
                       kWaitMilliseconds);
    return window;
  }
  // True when it ended in time with this exit code.
  bool Ended(DWORD expectedCode) const {
    DWORD code = 0;
    return WaitForSingleObject(process_.get(), kWaitMilliseconds) == WAIT_OBJECT_0 &&
           GetExitCodeProcess(process_.get(), &code) && code == expectedCode;
  }

 private:
  wintest::UniqueHandle process_;
  DWORD id_ = 0;
};

// The texts of a message box's static controls, one after the other.
std::string BoxText(HWND box) {
  std::string text;
  for (HWND child = GetWindow(box, GW_CHILD); child != nullptr; child = GetWindow(child, GW_HWNDNEXT)) {
    if (wintest::ClassName(child) == "Static") text += wintest::WindowText(child);
  }
  return text;
}

// Returns once the program's window thread takes messages again.
bool Settled(HWND main) {
  DWORD_PTR result = 0;
  return SendMessageTimeoutA(main, WM_NULL, 0, 0, SMTO_NORMAL, kWaitMilliseconds, &result) != 0;
}

void Command(HWND main, int id) { PostMessageA(main, WM_COMMAND, MAKEWPARAM(id, 0), 0); }

// Presses the button and waits until the box has gone.
bool Answer(HWND box, int button) {
  PostMessageA(box, WM_COMMAND, MAKEWPARAM(button, 0), 0);
  return wintest::WaitUntil([&] { return !IsWindow(box); }, kWaitMilliseconds);
}

struct FormatAnswer {
  const char* name;
  int quick;  // the answer to "Quick Format ?"
  int exitCode;
  const char* commandLine;
  bool failureShown;
};

TEST(Program, FormatsThroughTheSystemFolderAndCopiesTheFileSet) {
  const std::string folder = kProgramFolder;
  wintest::FreshFolder(folder);
  wintest::PlaceFiles(folder + "\\", wintest::FileSet());
  ASSERT_TRUE(CopyFileA((wintest::BuildFolder() + kProgramName).c_str(),
                        (folder + "\\" + kProgramName).c_str(), FALSE));
  // A format.com beside the program must never be the one that runs.
  ASSERT_TRUE(wintest::PlaceFormatStandIn(folder));
  const std::string systemFolder = host::GetSystemDirectory();
  ASSERT_TRUE(wintest::PlaceFormatStandIn(systemFolder));
  const std::string systemFormat = systemFolder + "\\" + stand_in::kProgramName;
  wintest::FreshFolder(kCardRoot);

  Program program(folder);
  ASSERT_NE(program.Id(), 0u) << "the program did not start";
  const HWND main = program.WaitFor(win32::kMainClassName, kMainTitle);
  ASSERT_NE(main, nullptr) << "no main window";
  // The first scan and inspection identify the card: the status line shows it.
  const HWND status = GetDlgItem(main, IDC_STATUS);
  ASSERT_TRUE(wintest::WaitUntil(
      [&] {
        const std::string text = wintest::WindowText(status);
        return !text.empty() && text != kInitialStatus;
      },
      kWaitMilliseconds))
      << "the card was not identified";
  EXPECT_TRUE(IsWindowVisible(GetDlgItem(main, IDC_FORMAT)));
  EXPECT_TRUE(IsWindowVisible(GetDlgItem(main, IDC_COPY_VORN)));

  // Wine reports no partition layout, so the first partition counts as 0 MB
  // and 202 takes FAT without asking.
  const FormatAnswer answers[] = {
      {"quick, format.com fails", IDYES, 4, "format.com E: /q /fs:fat", true},
      {"full, format.com succeeds", IDNO, 0, "format.com E: /fs:fat", false},
  };
  for (const FormatAnswer& answer : answers) {
    SCOPED_TRACE(answer.name);
    wintest::ResetFormatRuns(answer.exitCode);
    Command(main, IDC_FORMAT);
    const HWND question = program.WaitFor(kBoxClass, "Confirm");
    ASSERT_NE(question, nullptr);
    EXPECT_EQ(BoxText(question), "Quick Format ?");
    ASSERT_TRUE(Answer(question, answer.quick));
    if (answer.failureShown) {
      const HWND failure = program.WaitFor(kBoxClass, "Error");
      ASSERT_NE(failure, nullptr);
      EXPECT_EQ(BoxText(failure), "Cannot format SD Card!");
      ASSERT_TRUE(Answer(failure, IDOK));
    }
    // format.com has run and the command has ended: no box is left.
    ASSERT_TRUE(wintest::WaitUntil([] { return !wintest::FormatRuns().empty(); }, kWaitMilliseconds));
    ASSERT_TRUE(Settled(main));
    EXPECT_EQ(program.Find(kBoxClass, nullptr), nullptr);
    EXPECT_EQ(wintest::FormatRuns(),
              std::vector<std::string>{wintest::FormatRun(systemFormat, answer.commandLine)});
  }

  Command(main, IDC_COPY_VORN);
  EXPECT_TRUE(wintest::CloseCardFolderWindow(kWaitMilliseconds)) << "the card's folder did not open";
  const wintest::FileList arrived = {
      {"DISKBOOT.BIN", "boot"},
      {"LYRE\\MODULES\\DEEP.BIN", "deep"},
      {"DCIM\\100VORN\\README.TXT", "images"},
  };
  for (const auto& [path, text] : arrived) {
    EXPECT_EQ(wintest::ReadTextFile(kCardRoot + path).value_or("(missing)"), text) << path;
  }

  PostMessageA(main, WM_CLOSE, 0, 0);
  EXPECT_TRUE(program.Ended(0));
}

}  // namespace
