// Python scripts as D-Bus clients (the system's python3 with its dbus
// module, Debian python3-dbus): the private bus is their session bus, and this
// process's event loop runs while they do, so that a service living in the
// test process answers them.
#pragma once

#include <QProcess>
#include <QString>
#include <QStringList>

namespace sorvel::testing {

// The interpreter that has the dbus module.
inline constexpr char kSystemPython[] = "/usr/bin/python3";

// Fails the current test unless the system's python3 imports dbus.
bool RequirePythonDbus();

// The README's Python script of its automation section that holds `marker`;
// empty (and a failure of the current test) when none does.
QString ReadmeScript(const QString& marker);

class PythonBusScript {
 public:
  // Starts `script` with `arguments` on the bus at `address`.
  PythonBusScript(const QString& address, const QString& script, const QStringList& arguments = {});
  ~PythonBusScript();
  PythonBusScript(const PythonBusScript&) = delete;
  PythonBusScript& operator=(const PythonBusScript&) = delete;

  // Runs the event loop until the script's output holds `text` (true), it
  // ended, or `timeout_ms` passed.
  bool WaitForOutput(const QString& text, int timeout_ms);
  // Runs the event loop until the script ends (true) or `timeout_ms` passed.
  bool WaitForEnd(int timeout_ms);
  // Ends the script at once (SIGKILL), as a crash would.
  void Kill();

  int ExitCode() const;
  // Standard output so far; standard error appended after a line "--".
  QString Output();

 private:
  QProcess process_;
  QString output_;
  QString errors_;
};

}  // namespace sorvel::testing
