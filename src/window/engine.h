// The engine, vorninst serve, as a child process: the window's requests go
// to its standard input, its lines come from its standard output, and its
// standard error is kept for the user when it ends early. Every line it
// sends is checked before the window acts on it: a line that is no message,
// or a message the protocol does not have, ends the session.
#pragma once

#include <QObject>
#include <QProcess>
#include <QString>
#include <QStringList>

#include <string>

#include "linux/protocol.h"

namespace window {

// How to start the engine: a program and its arguments, and whether pkexec
// stands in front of it (its 126 and 127 then mean what pkexec says).
struct Launch {
  QString program;
  QStringList arguments;
  bool throughPkexec = false;
};

// Why the session ended before the engine said bye.
struct EngineEnd {
  enum class Kind { NotStarted, Dismissed, NotAuthorised, EndedEarly, Crashed, Unreadable, Bye };
  Kind kind = Kind::EndedEarly;
  int status = 0;
  QString detail;  // the start's error, or the line it could not read
};

class Engine : public QObject {
  Q_OBJECT

 public:
  explicit Engine(QObject* parent = nullptr);
  ~Engine() override;
  Engine(const Engine&) = delete;
  Engine& operator=(const Engine&) = delete;

  void Start(const Launch& launch);
  void Send(const linuxhost::protocol::Message& message);
  // The end of its input: cancel, then quit.
  void EndInput();
  bool Running() const { return process_.state() != QProcess::NotRunning; }
  // The last lines the engine wrote to its standard error.
  QString ErrorTail() const;
  // A message the window cannot take where it came: the session ends as
  // for a line it could not read.
  void Stop(const QString& why);

 signals:
  void Received(const linuxhost::protocol::Message& message);
  // Once, however the engine ended or could not start.
  void Ended(const window::EngineEnd& end);

 private:
  void ReadLines();
  void ReadErrors();
  void Take(const std::string& line);
  void Finished(int status, QProcess::ExitStatus how);

  QProcess process_;
  Launch launch_;
  std::string buffer_;
  QString errors_;
  bool helloSeen_ = false;
  bool byeSeen_ = false;
  bool refused_ = false;  // a line it could not read: the rest is not read
  QString unreadable_;
  bool ended_ = false;
};

// Whether the message is one the engine may send: a known verb, with the
// fields that verb takes and no other, numbers where numbers go.
bool IsEngineMessage(const linuxhost::protocol::Message& message);

}  // namespace window
