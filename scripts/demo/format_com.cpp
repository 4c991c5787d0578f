// The demo's stand-in for Windows' own format.com, which Wine lacks: the run
// command puts it into its Wine prefix's system folder. It formats the demo
// card's image with mkfs.fat as its command line asks: the drive (the demo
// card's only), /q for a quick format (a full one zeroes the volume first),
// /fs:fat or /fs:fat32. Wine shows the card's files from a folder of their
// own, which it empties too. Exit codes as Windows' format.com gives them.
#include <windows.h>

#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <memory>
#include <optional>
#include <string>
#include <system_error>
#include <vector>

namespace {

constexpr int kFormatted = 0;
constexpr int kBadCommandLine = 1;
constexpr int kFailed = 4;

// Set by the run command: the demo card's drive ("E:"), the Unix path of its
// image, and the Windows path of the script that formats it.
constexpr char kDriveVariable[] = "VORN_DEMO_CARD_DRIVE";
constexpr char kImageVariable[] = "VORN_DEMO_CARD_IMAGE";
constexpr char kHelperVariable[] = "VORN_DEMO_FORMAT_HELPER";

// Wine starts a Unix program with no handle to wait on: the script writes
// its exit status to this file beside the image, last, and is waited for
// through it. Its output goes beside it too.
constexpr char kStatusSuffix[] = ".format-status";
constexpr char kLogSuffix[] = ".format-log";
constexpr DWORD kPollMilliseconds = 100;
constexpr ULONGLONG kScriptMilliseconds = 120000;

constexpr char kQuickSwitch[] = "/Q";
constexpr char kFatSwitch[] = "/FS:FAT";
constexpr char kFat32Switch[] = "/FS:FAT32";
constexpr char kFat[] = "FAT";
constexpr char kFat32[] = "FAT32";

struct Request {
  std::string drive;  // "E:"
  bool quick = false;
  std::string fileSystem = kFat;
};

std::string Upper(std::string text) {
  for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return text;
}

bool IsDrive(const std::string& word) {
  return word.size() == 2 && std::isalpha(static_cast<unsigned char>(word[0])) && word[1] == ':';
}

// The words after the program's name; none when one is not understood.
std::optional<Request> Parse(const std::vector<std::string>& words) {
  Request request;
  for (const std::string& original : words) {
    const std::string word = Upper(original);
    if (word == kQuickSwitch) {
      request.quick = true;
    } else if (word == kFatSwitch) {
      request.fileSystem = kFat;
    } else if (word == kFat32Switch) {
      request.fileSystem = kFat32;
    } else if (IsDrive(word) && request.drive.empty()) {
      request.drive = word;
    } else {
      std::cerr << "Invalid parameter - " << original << '\n';
      return std::nullopt;
    }
  }
  if (request.drive.empty()) {
    std::cerr << "Required parameter missing - the drive\n";
    return std::nullopt;
  }
  return request;
}

std::string Variable(const char* name) {
  const char* value = std::getenv(name);
  return value == nullptr ? std::string() : std::string(value);
}

// A Unix path as this program opens it: Wine's Z: is the Unix root.
std::string WindowsPath(std::string unixPath) {
  for (char& c : unixPath) {
    if (c == '/') c = '\\';
  }
  return "Z:" + unixPath;
}

struct HandleCloser {
  void operator()(HANDLE handle) const { CloseHandle(handle); }
};
using UniqueHandle = std::unique_ptr<void, HandleCloser>;

bool StartScript(const std::string& script, const std::vector<std::string>& arguments) {
  std::string line = "\"" + script + "\"";
  for (const std::string& argument : arguments) line += " \"" + argument + "\"";
  std::vector<char> writable(line.begin(), line.end());
  writable.push_back('\0');
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION started{};
  if (!CreateProcessA(nullptr, writable.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                      &startup, &started)) {
    return false;
  }
  const UniqueHandle process(started.hProcess);
  const UniqueHandle thread(started.hThread);
  return true;
}

// The script's exit status; none when it did not end in time.
std::optional<int> WaitForStatus(const std::string& statusFile) {
  const ULONGLONG end = GetTickCount64() + kScriptMilliseconds;
  while (GetTickCount64() < end) {
    int status = 0;
    if (std::ifstream(statusFile) >> status) return status;
    Sleep(kPollMilliseconds);
  }
  return std::nullopt;
}

void ShowLog(const std::string& logFile) {
  std::ifstream log(logFile);
  for (std::string line; std::getline(log, line);) std::cout << "  " << line << '\n';
}

// The files Wine shows for the drive, which a format removes.
bool EmptyDrive(const std::string& drive) {
  std::error_code error;
  bool emptied = true;
  for (const auto& entry : std::filesystem::directory_iterator(drive + "\\", error)) {
    std::filesystem::remove_all(entry.path(), error);
    if (error) emptied = false;
  }
  return emptied && !error;
}

int Format(const Request& request) {
  const std::string cardDrive = Upper(Variable(kDriveVariable));
  const std::string image = Variable(kImageVariable);
  const std::string script = Variable(kHelperVariable);
  if (cardDrive.empty() || image.empty() || script.empty()) {
    std::cerr << "This demo format.com runs only under scripts/run.sh, which sets it up.\n";
    return kFailed;
  }
  if (request.drive != cardDrive) {
    std::cerr << "This demo format.com formats only the demo card, " << cardDrive << '\n';
    return kFailed;
  }
  std::cout << "VORN Installer demo format.com, the demo's stand-in for Windows' own.\n"
            << (request.quick ? "Quick formatting " : "Formatting (the volume zeroed first) ")
            << request.drive << " as " << request.fileSystem << ": " << image << '\n';
  const std::string statusFile = image + kStatusSuffix;
  DeleteFileA(WindowsPath(statusFile).c_str());
  if (!StartScript(script, {image, request.fileSystem, request.quick ? "quick" : "full",
                            statusFile, image + kLogSuffix})) {
    std::cerr << "Cannot start " << script << '\n';
    return kFailed;
  }
  const std::optional<int> status = WaitForStatus(WindowsPath(statusFile));
  ShowLog(WindowsPath(image + kLogSuffix));
  if (!status) {
    std::cerr << "mkfs.fat did not end in time.\n";
    return kFailed;
  }
  if (*status != 0) {
    std::cerr << "mkfs.fat failed with " << *status << ".\n";
    return kFailed;
  }
  if (!EmptyDrive(request.drive)) {
    std::cerr << "Formatted, but the files Wine shows for " << request.drive
              << " could not all be removed.\n";
    return kFailed;
  }
  std::cout << "Format complete.\n";
  return kFormatted;
}

}  // namespace

int main(int argc, char** argv) {
  const std::vector<std::string> words(argv + 1, argv + argc);
  const std::optional<Request> request = Parse(words);
  return request ? Format(*request) : kBadCommandLine;
}
