#include "window/engine.h"

#include <QTimer>

#include <algorithm>
#include <initializer_list>
#include <string_view>

namespace window {
namespace {

using linuxhost::protocol::Message;

// What the user sees of the engine's standard error when it ends early.
constexpr int kErrorLines = 6;
constexpr int kErrorKeep = 4096;
// A line the window could not read ends the engine's input; an engine that
// does not end then is left behind after this long.
constexpr int kEndWaitMs = 5000;
// pkexec's own exit statuses, before the engine ever ran.
constexpr int kPkexecDismissed = 126;
constexpr int kPkexecNotAuthorised = 127;
// How much of a line it could not read the user is shown.
constexpr int kShownLine = 120;

struct Verb {
  std::string_view name;
  std::initializer_list<std::string_view> keys;    // every key it takes
  std::initializer_list<std::string_view> numbers;  // those of them that are numbers
};

// The engine's messages (docs/protocol.md), each with all of its fields
// but open's device, which only a card's root has.
const Verb kVerbs[] = {
    {"hello", {"version", "user", "root", "note"}, {"root"}},
    {"refused", {"text"}, {}},
    {"entry", {"index", "text", "device", "disk", "bytes", "vendor", "model"}, {"index"}},
    {"window", {"selection", "status", "report", "shown", "enabled"}, {"selection", "enabled"}},
    {"begin", {"command"}, {"command"}},
    {"stake", {"command", "text"}, {"command"}},
    {"box", {"id", "caption", "text", "buttons", "icon"}, {"id"}},
    {"control", {"dialog", "id", "checked", "text"}, {"dialog", "id", "checked"}},
    {"dialog", {"dialog", "name", "focus"}, {"dialog", "focus"}},
    {"dialog-end", {"dialog", "result"}, {"dialog", "result"}},
    {"browse", {"id", "title", "selected"}, {"id"}},
    {"progress", {"text", "percent"}, {"percent"}},
    {"notice", {"text"}, {}},
    {"open", {"folder", "device"}, {}},
    {"end", {"command", "stopped", "error", "fault"}, {"command", "stopped", "error"}},
    {"bye", {"status"}, {"status"}},
};

bool HasKeys(const Message& message, const Verb& verb) {
  for (const auto& [key, value] : message.fields) {
    if (std::find(verb.keys.begin(), verb.keys.end(), key) == verb.keys.end()) return false;
  }
  return std::all_of(verb.keys.begin(), verb.keys.end(), [&](std::string_view key) {
    return message.Find(key) != nullptr || (verb.name == "open" && key == "device");
  });
}

}  // namespace

bool IsEngineMessage(const Message& message) {
  const auto verb = std::find_if(std::begin(kVerbs), std::end(kVerbs),
                                 [&message](const Verb& known) { return known.name == message.verb; });
  if (verb == std::end(kVerbs) || !HasKeys(message, *verb)) return false;
  return std::all_of(verb->numbers.begin(), verb->numbers.end(),
                     [&message](std::string_view key) { return message.Number(key).has_value(); });
}

Engine::Engine(QObject* parent) : QObject(parent) {
  connect(&process_, &QProcess::readyReadStandardOutput, this, &Engine::ReadLines);
  connect(&process_, &QProcess::readyReadStandardError, this, &Engine::ReadErrors);
  connect(&process_, &QProcess::finished, this, &Engine::Finished);
  connect(&process_, &QProcess::errorOccurred, this, [this](QProcess::ProcessError error) {
    if (error != QProcess::FailedToStart || ended_) return;
    ended_ = true;
    emit Ended(EngineEnd{EngineEnd::Kind::NotStarted, 0, launch_.program + ": " + process_.errorString()});
  });
}

Engine::~Engine() {
  disconnect(&process_, nullptr, this, nullptr);  // whoever listens may be gone
  // The end of input stops the engine's work; it cannot be killed when it
  // runs as root, so it is given the time to end by itself.
  if (Running()) {
    process_.closeWriteChannel();
    process_.waitForFinished(kEndWaitMs);
  }
}

void Engine::Start(const Launch& launch) {
  launch_ = launch;
  process_.start(launch.program, launch.arguments);
}

void Engine::Send(const Message& message) {
  if (!Running() || refused_) return;
  const std::string line = linuxhost::protocol::Encode(message) + "\n";
  process_.write(line.data(), static_cast<qint64>(line.size()));
}

void Engine::EndInput() {
  if (Running()) process_.closeWriteChannel();
}

QString Engine::ErrorTail() const {
  QStringList lines = errors_.split('\n', Qt::SkipEmptyParts);
  if (lines.size() > kErrorLines) lines = lines.mid(lines.size() - kErrorLines);
  return lines.join('\n');
}

void Engine::ReadErrors() {
  errors_ += QString::fromLocal8Bit(process_.readAllStandardError());
  if (errors_.size() > kErrorKeep) errors_ = errors_.right(kErrorKeep);
}

void Engine::ReadLines() {
  const QByteArray bytes = process_.readAllStandardOutput();
  buffer_.append(bytes.constData(), static_cast<std::size_t>(bytes.size()));
  std::size_t start = 0;
  for (std::size_t end = buffer_.find('\n'); end != std::string::npos && !refused_; end = buffer_.find('\n', start)) {
    Take(buffer_.substr(start, end - start));
    start = end + 1;
  }
  buffer_.erase(0, start);
  if (!refused_ && buffer_.size() > linuxhost::protocol::kMaxLine) Stop(tr("a line longer than the protocol allows"));
}

void Engine::Take(const std::string& line) {
  Message message;
  if (!linuxhost::protocol::Decode(line, message) || !IsEngineMessage(message) ||
      (!helloSeen_ && message.verb != "hello" && message.verb != "refused")) {
    Stop(QString::fromUtf8(line.data(), static_cast<qsizetype>(std::min<std::size_t>(line.size(), kShownLine))));
    return;
  }
  helloSeen_ = helloSeen_ || message.verb == "hello";
  byeSeen_ = byeSeen_ || message.verb == "bye";
  emit Received(message);
}

void Engine::Stop(const QString& why) {
  if (refused_) return;
  refused_ = true;
  unreadable_ = why;
  EndInput();
  QTimer::singleShot(kEndWaitMs, this, [this] {
    if (ended_) return;
    ended_ = true;
    emit Ended(EngineEnd{EngineEnd::Kind::Unreadable, 0, unreadable_});
  });
}

void Engine::Finished(int status, QProcess::ExitStatus how) {
  if (!refused_) {
    ReadLines();
    ReadErrors();
    if (!refused_ && !buffer_.empty()) Stop(tr("a last line cut off"));
  }
  if (ended_) return;
  ended_ = true;
  using Kind = EngineEnd::Kind;
  Kind kind = Kind::EndedEarly;
  if (refused_) {
    kind = Kind::Unreadable;
  } else if (byeSeen_) {
    kind = Kind::Bye;
  } else if (how == QProcess::CrashExit) {
    kind = Kind::Crashed;
  } else if (launch_.throughPkexec && !helloSeen_ && status == kPkexecDismissed) {
    kind = Kind::Dismissed;
  } else if (launch_.throughPkexec && !helloSeen_ && status == kPkexecNotAuthorised) {
    kind = Kind::NotAuthorised;
  }
  emit Ended(EngineEnd{kind, status, unreadable_});
}

}  // namespace window
