#include "terminal/serve.h"

#include <pwd.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <climits>
#include <condition_variable>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

#include "common/card_state.h"
#include "host/host.h"
#include "linux/frontend.h"
#include "linux/linux_host.h"
#include "linux/protocol.h"
#include "linux/templates.h"
#include "res/ids.h"
#include "terminal/addon_folder.h"
#include "terminal/console.h"
#include "terminal/screen.h"
#include "terminal/terminal.h"

namespace linuxhost {
namespace {

using protocol::Message;
using Clock = std::chrono::steady_clock;

constexpr int kExitDone = 0;
constexpr int kExitRefused = 1;
constexpr int kExitBadLine = 2;
constexpr unsigned kButtonsMask = 0xF;
// A stop signal wakes no one: a wait for the window looks for it this often.
constexpr std::chrono::milliseconds kSignalPoll(100);
// A progress line of the same percent at most this often; a new percent is
// always told.
constexpr std::chrono::milliseconds kProgressEvery(100);
constexpr int kPercentUnknown = -1;
constexpr int kPercentAll = 100;
constexpr std::size_t kPercentDigits = 3;
constexpr char kVersionWord[] = "Version ";
// How much of a line it could not take the log on standard error shows.
constexpr std::size_t kShownOfRefusedLine = 80;

// What the engine waits for from the window now: a request (between
// commands), the answer to one question, or nothing (at work).
enum class Awaiting { Nothing, Request, Box, Dialog, Browse };

// The window's lines: the fields each has (all of them, and no other), and
// when the engine takes it. Fields but button, text and path are numbers.
struct Verb {
  std::string_view name;
  std::array<std::string_view, 3> fields;
  Awaiting takenAt;  // Nothing: at any time (cancel)
};
constexpr Verb kVerbs[] = {
    {"tick", {}, Awaiting::Request},
    {"select", {"index"}, Awaiting::Request},
    {"command", {"id"}, Awaiting::Request},
    {"quit", {}, Awaiting::Request},
    {"answer", {"id", "button"}, Awaiting::Box},
    {"click", {"dialog", "id"}, Awaiting::Dialog},
    {"type", {"dialog", "id", "text"}, Awaiting::Dialog},
    {"escape", {"dialog"}, Awaiting::Dialog},
    {"folder", {"id", "path"}, Awaiting::Browse},
    {"cancel", {}, Awaiting::Nothing},
};
constexpr std::string_view kButtonNames[] = {"ok", "yes", "no", "cancel"};

bool ValidField(const Message& message, std::string_view key) {
  const std::string* value = message.Find(key);
  if (value == nullptr) return false;
  if (key == "button") return std::find(std::begin(kButtonNames), std::end(kButtonNames), *value) != std::end(kButtonNames);
  // A path from the window is a full one, or none (cancelled, emptied).
  if (key == "text" || key == "path") return value->empty() || value->front() == '/';
  const std::optional<long long> number = message.Number(key);
  return number && *number >= 0 && *number <= INT_MAX;
}

// The verb of a line the window may send, with its fields as they must
// be; null for anything else.
const Verb* Parse(const Message& message) {
  for (const Verb& verb : kVerbs) {
    if (verb.name != message.verb) continue;
    std::size_t count = 0;
    for (const std::string_view key : verb.fields) {
      if (key.empty()) continue;
      if (!ValidField(message, key)) return nullptr;
      ++count;
    }
    return message.fields.size() == count ? &verb : nullptr;
  }
  return nullptr;
}

// The question an answer is for: its box, dialog or browser.
long long QuestionOf(const Message& message) {
  return message.Number(message.Find("dialog") != nullptr ? "dialog" : "id").value_or(-1);
}

// What the engine and the thread that reads the window share.
struct Channel {
  std::mutex mutex;
  std::condition_variable changed;
  Awaiting awaiting = Awaiting::Nothing;
  long long awaited = 0;            // the box, dialog or browser awaited
  std::optional<Message> handed;    // a line for the engine, not taken yet
  bool cancelled = false;           // cancel, in the command in hand
  bool ended = false;               // the input ended
  bool refused = false;             // a line the engine cannot take
  std::string why;                  // of the refusal, for the log
  // Questions the engine answered itself after a stop: an answer on its
  // way then is no fault of the window's.
  std::set<std::pair<Awaiting, long long>> withdrawn;

  void Refuse(const std::string& reason) {
    if (!refused) why = reason;
    refused = true;
    changed.notify_all();
  }
};

// A line for the log: its bytes that are no text as %XX, cut short.
std::string Shown(const std::string& line) {
  constexpr char kHex[] = "0123456789ABCDEF";
  std::string shown;
  for (const char c : line.substr(0, kShownOfRefusedLine)) {
    const auto byte = static_cast<unsigned char>(c);
    if (std::isprint(byte) != 0) {
      shown += c;
    } else {
      shown += std::string("%") + kHex[byte >> 4] + kHex[byte & 0xF];
    }
  }
  return shown + (line.size() > kShownOfRefusedLine ? "..." : "");
}

// One line of the window, with the channel locked; false when nothing more
// is to be read.
bool TakeLine(Channel& channel, std::unique_lock<std::mutex>& lock, protocol::LineReader::Result result,
              const std::string& line) {
  using Result = protocol::LineReader::Result;
  // A last line cut off counts as the end, as a window that died writing.
  if (result == Result::End || result == Result::Failed) {
    channel.ended = true;
    channel.changed.notify_all();
    return false;
  }
  Message message;
  const Verb* verb = nullptr;
  if (result == Result::TooLong) {
    channel.Refuse("a line longer than " + std::to_string(protocol::kMaxLine) + " bytes");
    return false;
  }
  if (!protocol::Decode(line, message) || (verb = Parse(message)) == nullptr) {
    channel.Refuse("no message it takes: \"" + Shown(line) + "\"");
    return false;
  }
  if (verb->takenAt == Awaiting::Nothing) {  // cancel: late ones, between commands, are no stop
    channel.cancelled = channel.cancelled || channel.awaiting != Awaiting::Request;
    channel.changed.notify_all();
    return true;
  }
  if (channel.withdrawn.count({verb->takenAt, QuestionOf(message)}) != 0) return true;
  if (verb->takenAt != channel.awaiting ||
      (verb->takenAt != Awaiting::Request && QuestionOf(message) != channel.awaited)) {
    channel.Refuse("nothing asked for \"" + Shown(line) + "\"");
    return false;
  }
  channel.handed = std::move(message);
  channel.changed.notify_all();
  // The next line is judged by what this one did.
  channel.changed.wait(lock, [&channel] { return !channel.handed || channel.refused; });
  return !channel.refused && verb->name != "quit";
}

// The thread that reads the window: a cancel and the end of the input stop
// the command in hand at once, while the engine works.
void ReadWindow(const std::shared_ptr<Channel>& channel) {
  protocol::LineReader reader(STDIN_FILENO);
  for (bool more = true; more;) {
    std::string line;
    const protocol::LineReader::Result result = reader.Next(line);
    std::unique_lock<std::mutex> lock(channel->mutex);
    more = TakeLine(*channel, lock, result, line);
  }
}

// What a box answers when no one does: Cancel, or No where there is none.
int NoAnswer(unsigned buttons) {
  if (buttons == host::kMbYesNoCancel) return host::kIdCancel;
  return buttons == host::kMbYesNo ? host::kIdNo : host::kIdOk;
}

std::string ButtonsName(unsigned buttons) {
  if (buttons == host::kMbYesNoCancel) return "yesnocancel";
  return buttons == host::kMbYesNo ? "yesno" : "ok";
}

// The window's answer as the box's button; 0 for one the box lacks.
int Chosen(const std::string& button, unsigned buttons) {
  if (button == "ok" && buttons == host::kMbOk) return host::kIdOk;
  if (button == "yes" && buttons != host::kMbOk) return host::kIdYes;
  if (button == "no" && buttons != host::kMbOk) return host::kIdNo;
  if (button == "cancel" && buttons == host::kMbYesNoCancel) return host::kIdCancel;
  return 0;
}

// The number ending just before `end` or starting at `start` in the text
// ("12", "3.4"); nullopt when there is none.
std::optional<double> NumberBefore(const std::string& text, std::size_t end) {
  std::size_t start = end;
  while (start > 0 && (std::isdigit(static_cast<unsigned char>(text[start - 1])) != 0 || text[start - 1] == '.')) --start;
  if (start == end) return std::nullopt;
  return std::strtod(text.substr(start, end - start).c_str(), nullptr);
}
std::optional<double> NumberAfter(const std::string& text, std::size_t start) {
  std::size_t end = start;
  while (end < text.size() && (std::isdigit(static_cast<unsigned char>(text[end])) != 0 || text[end] == '.')) ++end;
  if (start == end) return std::nullopt;
  return std::strtod(text.substr(start, end - start).c_str(), nullptr);
}

// The percent a progress line tells: "Testing SD Card : 40 %", or its last
// count of a total ("Copying: 2 of 5 files, 1.5 of 3.0 MB": the bytes).
int Percent(const std::string& line) {
  const std::size_t sign = line.find('%');
  if (sign != std::string::npos) {
    const std::size_t end = sign > 0 && line[sign - 1] == ' ' ? sign - 1 : sign;
    std::size_t start = end;
    while (start > 0 && end - start < kPercentDigits && std::isdigit(static_cast<unsigned char>(line[start - 1])) != 0) {
      --start;
    }
    const int percent = start < end ? std::atoi(line.substr(start, end - start).c_str()) : kPercentUnknown;
    if (percent <= kPercentAll) return percent;
  }
  constexpr std::string_view kOf = " of ";
  for (std::size_t at = line.rfind(kOf); at != std::string::npos && at > 0; at = line.rfind(kOf, at - 1)) {
    const std::optional<double> done = NumberBefore(line, at);
    const std::optional<double> total = NumberAfter(line, at + kOf.size());
    if (done && total && *total > 0) return static_cast<int>(std::min(*done / *total, 1.0) * kPercentAll);
  }
  return kPercentUnknown;
}

std::string UserName(unsigned uid) {
  const passwd* entry = ::getpwuid(uid);
  return entry != nullptr ? entry->pw_name : std::to_string(uid);
}

std::string Version() {
  const std::string text = VersionText();
  const std::size_t at = text.find(kVersionWord);
  if (at == std::string::npos) return {};
  const std::string version = text.substr(at + sizeof kVersionWord - 1);
  return version.substr(0, version.find('\n'));
}

std::string WithoutLastBreak(std::string text) {
  if (!text.empty() && text.back() == '\n') text.pop_back();
  return text;
}

class Engine : public Frontend {
 public:
  Engine(const Invocation& invocation, std::string programFolder)
      : invocation_(invocation), programFolder_(std::move(programFolder)) {}
  Engine(const Engine&) = delete;
  Engine& operator=(const Engine&) = delete;
  ~Engine() override { SetFrontend(nullptr); }

  int Run() {
    std::string refusal;
    if (!SetUp(refusal)) {
      Send(Message("refused").Add("text", refusal));
      return kExitRefused;
    }
    Send(Message("hello")
             .Add("version", Version())
             .Add("user", UserName(TheUser().uid))
             .Add("root", ::geteuid() == 0 ? 1 : 0)
             .Add("note", WithoutLastBreak(RootNote() + NoAddOnFolderNote(addOn_))),
         Awaiting::Request);
    // The reader may outlive the engine, blocked in a read of a window
    // that neither writes nor closes: it holds its own share of the channel.
    std::thread(ReadWindow, channel_).detach();
    for (;;) {
      const std::optional<Message> request = Await();
      if (!request || request->verb == "quit") break;
      if (!TakeRequest(*request)) Refuse("the last state offered no \"" + Shown(protocol::Encode(*request)) + "\"");
      if (Refused() || Window().quitPosted) break;
    }
    if (Refused()) {
      Console::Get().Print("vorninst serve: " + Why() + "\n", true);
      return kExitBadLine;
    }
    Send(Message("bye").Add("status", kExitDone));
    return kExitDone;
  }

  int MessageBox(const std::string& text, const std::string& caption, unsigned flags) override {
    const unsigned buttons = flags & kButtonsMask;
    errorBox_ = errorBox_ || caption == CatalogueText(MSG_CAPTION_ERROR);
    // Asked only in a command, and never after a stop.
    if (!inCommand_ || Interrupted()) return NoAnswer(buttons);
    // The window has shown the card and what it holds (stake) before this
    // command's first question, as the terminal does: the same facts as a
    // box of their own would only say it twice.
    if (cardNamed_ && caption == CatalogueText(MSG_CAPTION_CARD_AT_STAKE)) return host::kIdYes;
    const long long id = ++boxes_;
    Send(Message("box")
             .Add("id", id)
             .Add("caption", caption)
             .Add("text", ShownText(text))
             .Add("buttons", ButtonsName(buttons))
             .Add("icon", (flags & host::kMbIconWarning) != 0 ? "warning" : "none"),
         Awaiting::Box, id);
    const std::optional<Message> answer = Await();
    if (!answer) return NoAnswer(buttons);
    const bool forIt = answer->verb == "answer" && QuestionOf(*answer) == id;
    const int chosen = forIt ? Chosen(answer->Text("button"), buttons) : 0;
    if (chosen == 0) Refuse("box " + std::to_string(id) + " takes no \"" + Shown(protocol::Encode(*answer)) + "\"");
    return chosen != 0 ? chosen : NoAnswer(buttons);
  }

  void RunDialog(Dialog& dialog) override {
    if (!inCommand_ || Interrupted()) {
      dialog.Escape();
      return;
    }
    const long long number = ++dialogs_;
    while (!dialog.Ended()) {
      // A stop in a box or the browser over the dialog closes it too.
      if (Interrupted()) {
        Withdraw(Awaiting::Dialog, number);
        dialog.Escape();
        break;
      }
      SendDialog(dialog, number);
      const std::optional<Message> action = Await();
      if (!action || QuestionOf(*action) != number || !Play(dialog, *action)) {
        if (action) Refuse("dialog " + std::to_string(number) + " has no control for \"" + Shown(protocol::Encode(*action)) + "\"");
        dialog.Escape();
      }
    }
    if (dialog.Ended()) Send(Message("dialog-end").Add("dialog", number).Add("result", dialog.Result()));
  }

  std::string BrowseForFolder(const std::string& title, const std::string& selected) override {
    if (!inCommand_ || Interrupted()) return {};
    const long long id = ++browses_;
    Send(Message("browse").Add("id", id).Add("title", title).Add("selected", selected), Awaiting::Browse, id);
    const std::optional<Message> chosen = Await();
    if (!chosen) return {};
    if (chosen->verb == "folder" && QuestionOf(*chosen) == id) return chosen->Text("path");
    Refuse("browser " + std::to_string(id) + " takes no \"" + Shown(protocol::Encode(*chosen)) + "\"");
    return {};
  }

  // The window shows the About box itself, from the same template: the
  // engine takes no menu command.
  void About() override {}

  void OpenFolder(const std::string& folder) override {
    std::string device;
    for (const Drive& drive : Drives()) {
      if (folder.size() == 3 && std::toupper(static_cast<unsigned char>(folder[0])) == drive.letter) device = drive.device;
    }
    Send(Message("open").Add("folder", folder).Add("device", device));
  }

  void Progress(const std::string& line) override {
    const std::string text = ShownText(line);
    const int percent = Percent(text);
    const Clock::time_point now = Clock::now();
    if (!inCommand_ || text == lastProgress_ || (percent == lastPercent_ && now - lastProgressAt_ < kProgressEvery)) {
      return;
    }
    lastProgress_ = text;
    lastPercent_ = percent;
    lastProgressAt_ = now;
    Send(Message("progress").Add("text", text).Add("percent", percent));
  }

  void Notice(const std::string& line) override { Send(Message("notice").Add("text", ShownText(line))); }

  // A cancel stops the command in hand only; the others stop the session.
  bool Interrupted() override {
    const std::lock_guard<std::mutex> lock(channel_->mutex);
    return channel_->refused || channel_->ended || (inCommand_ && channel_->cancelled) || Console::Get().Interrupted();
  }

 private:
  bool SetUp(std::string& refusal) {
    const std::optional<std::string> named =
        invocation_.addOn ? std::optional(FullPath(*invocation_.addOn)) : std::nullopt;
    addOn_ = FindAddOnFolder(named, programFolder_);
    if (addOn_.source != AddOnSource::None && !SetAddOnFolder(addOn_.folder, refusal)) {
      if (named) {
        refusal = "--addon: " + refusal;
        return false;
      }
      addOn_ = AddOnFolder{};
    }
    if (named) RememberAddOnFolder(*named);  // a settings file that cannot be written changes nothing
    SetFrontend(this);
    CreateMainWindow();
    for (const std::string& path : invocation_.cards) {
      if (!NameCard(path, refusal)) return false;
    }
    Tick();
    if (invocation_.drive && ComboIndex(*invocation_.drive) >= 0) SelectDrive(ComboIndex(*invocation_.drive));
    return true;
  }

  // A request between commands; false for one the last state did not offer.
  bool TakeRequest(const Message& request) {
    if (request.verb == "select") {
      const long long index = request.Number("index").value_or(-1);
      if (index >= static_cast<long long>(listed_)) return false;
      SelectDrive(static_cast<int>(index));
    } else if (request.verb == "command") {
      const int id = static_cast<int>(request.Number("id").value_or(-1));
      if (!enabled_ || std::find(shown_.begin(), shown_.end(), id) == shown_.end()) return false;
      RunCommand(id);
    } else if (request.verb == "tick") {
      Tick();
    } else {
      return false;
    }
    SendState();
    return true;
  }

  void RunCommand(int id) {
    const std::string root = common::gCardState.driveRoot;
    const char letter = root.empty() ? '\0' : root[0];
    const std::string disk = letter != '\0' ? DiskOf(letter) : std::string();
    inCommand_ = true;
    errorBox_ = false;
    lastProgress_.clear();
    Send(Message("begin").Add("command", id));
    const std::string stake = letter != '\0' ? StakeLine(id, letter) : std::string();
    if (!stake.empty()) Send(Message("stake").Add("command", id).Add("text", stake));
    cardNamed_ = !stake.empty();
    Command(static_cast<unsigned>(id));
    const bool stopped = Interrupted();
    inCommand_ = false;
    if (!disk.empty()) Reinspect(disk, letter);
    // Where the program showed no error, the card's own refusal is the why.
    Send(Message("end")
             .Add("command", id)
             .Add("stopped", stopped ? 1 : 0)
             .Add("error", errorBox_ ? 1 : 0)
             .Add("fault", errorBox_ ? std::string() : CardFault()));
  }

  // The window's state: its combo box entries, then the rest; the window
  // may ask again once it has the last line.
  void SendState() {
    const WindowState& window = Window();
    const std::vector<Drive> drives = Drives();
    for (std::size_t i = 0; i < window.comboEntries.size(); ++i) {
      const std::string& entry = window.comboEntries[i];
      const auto drive = std::find_if(drives.begin(), drives.end(), [&entry](const Drive& d) {
        return !entry.empty() && d.letter == std::toupper(static_cast<unsigned char>(entry[0]));
      });
      const Drive shown = drive != drives.end() ? *drive : Drive{};
      Send(Message("entry")
               .Add("index", static_cast<long long>(i))
               .Add("text", entry)
               .Add("device", shown.device)
               .Add("disk", shown.disk)
               .Add("bytes", static_cast<long long>(shown.bytes))
               .Add("vendor", shown.vendor)
               .Add("model", shown.model));
    }
    listed_ = window.comboEntries.size();
    shown_.clear();
    std::string shownList;
    for (const int button : MenuButtons()) {
      if (!window.Visible(button)) continue;
      shown_.push_back(button);
      shownList += (shownList.empty() ? "" : ",") + std::to_string(button);
    }
    enabled_ = window.enabled;
    Send(Message("window")
             .Add("selection", window.comboSelection)
             .Add("status", ShownText(window.Text(IDC_STATUS)))
             .Add("report", ShownText(window.Text(IDC_REPORT)))
             .Add("shown", shownList)
             .Add("enabled", enabled_ ? 1 : 0),
         Awaiting::Request);
  }

  // The dialog's controls the user changes (all but OK and CANCEL), then
  // the dialog itself; an edit box's text is a Linux path.
  void SendDialog(const Dialog& dialog, long long number) {
    for (const int id : dialog.Ids()) {
      if (id == IDC_OK || id == IDC_CANCEL) continue;
      std::string text;
      if (dialog.KindOf(id) == Dialog::Control::Kind::Edit) {
        text = ToLinuxPath(dialog.Text(id));
        if (text.empty()) text = dialog.Text(id);
      }
      Send(Message("control")
               .Add("dialog", number)
               .Add("id", id)
               .Add("checked", dialog.Checked(id) ? 1 : 0)
               .Add("text", text));
    }
    Send(Message("dialog").Add("dialog", number).Add("name", dialog.Name()).Add("focus", dialog.Focused()),
         Awaiting::Dialog, number);
  }

  // The user's action on the dialog; false for a control it does not have
  // (or a click on its edit box, a text typed into a button).
  bool Play(Dialog& dialog, const Message& action) {
    if (action.verb == "escape") {
      dialog.Escape();
      return true;
    }
    const int id = static_cast<int>(action.Number("id").value_or(-1));
    if (!dialog.Exists(id)) return false;
    const bool edit = dialog.KindOf(id) == Dialog::Control::Kind::Edit;
    if (action.verb == "click") {
      if (!edit) dialog.Click(id);
      return !edit;
    }
    if (action.verb != "type" || !edit) return false;
    const std::string typed = action.Text("text");
    std::string windows;
    std::string refusal;
    if (typed.empty() || ToWindowsPath(typed, windows, refusal)) {
      dialog.Type(id, windows);
    } else {
      MessageBox(refusal, CatalogueText(MSG_CAPTION_ERROR), host::kMbIconWarning);
    }
    return true;
  }

  // A line to the window; then, when awaiting says so, the engine waits for
  // its answer (set before the line goes, so that the answer finds it).
  void Send(const Message& message, Awaiting awaiting = Awaiting::Nothing, long long awaited = 0) {
    {
      const std::lock_guard<std::mutex> lock(channel_->mutex);
      if (channel_->refused) return;  // nothing more after a line it could not take
      if (awaiting != Awaiting::Nothing) {
        channel_->awaiting = awaiting;
        channel_->awaited = awaited;
      }
    }
    const std::string line = protocol::Encode(message) + "\n";
    for (std::size_t written = 0; written < line.size();) {
      const ssize_t count = ::write(STDOUT_FILENO, line.data() + written, line.size() - written);
      if (count < 0 && errno == EINTR) continue;
      if (count <= 0) return;  // the window is gone: its end of input stops the engine
      written += static_cast<std::size_t>(count);
    }
  }

  // The window's line for what the engine awaits; nullopt when a stop came
  // first (the question is then the engine's to answer).
  std::optional<Message> Await() {
    std::unique_lock<std::mutex> lock(channel_->mutex);
    Channel& channel = *channel_;
    for (;;) {
      if (channel.handed) {
        Message line = std::move(*channel.handed);
        channel.handed.reset();
        if (line.verb == "command") channel.cancelled = false;  // a cancel before it was for the command before
        channel.awaiting = Awaiting::Nothing;
        channel.changed.notify_all();
        return line;
      }
      const bool question = channel.awaiting != Awaiting::Request;
      if (channel.refused || channel.ended || (question && channel.cancelled) || Console::Get().Interrupted()) {
        if (question) channel.withdrawn.insert({channel.awaiting, channel.awaited});
        channel.awaiting = Awaiting::Nothing;
        return std::nullopt;
      }
      channel.changed.wait_for(lock, kSignalPoll);
    }
  }

  void Withdraw(Awaiting question, long long id) {
    const std::lock_guard<std::mutex> lock(channel_->mutex);
    channel_->withdrawn.insert({question, id});
  }

  void Refuse(const std::string& why) {
    const std::lock_guard<std::mutex> lock(channel_->mutex);
    channel_->Refuse(why);
  }

  bool Refused() {
    const std::lock_guard<std::mutex> lock(channel_->mutex);
    return channel_->refused;
  }

  std::string Why() {
    const std::lock_guard<std::mutex> lock(channel_->mutex);
    return channel_->why;
  }

  const Invocation& invocation_;
  const std::string programFolder_;
  std::shared_ptr<Channel> channel_ = std::make_shared<Channel>();
  AddOnFolder addOn_;
  bool inCommand_ = false;
  bool cardNamed_ = false;  // the stake line was sent for the command in hand
  bool errorBox_ = false;
  long long boxes_ = 0;
  long long dialogs_ = 0;
  long long browses_ = 0;
  // What the last state offered.
  std::size_t listed_ = 0;
  std::vector<int> shown_;
  bool enabled_ = false;
  std::string lastProgress_;
  int lastPercent_ = kPercentUnknown;
  Clock::time_point lastProgressAt_{};
};

}  // namespace

int Serve(const Invocation& invocation, const std::string& programFolder) {
  return Engine(invocation, programFolder).Run();
}

}  // namespace linuxhost
