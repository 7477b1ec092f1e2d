#include "testing/gui/python_bus_script.h"

#include <gtest/gtest.h>

#include <QEventLoop>
#include <QProcessEnvironment>
#include <QTimer>
#include <string>

#include "testing/file_bytes.h"
#include "testing/test_paths.h"

namespace sorvel::testing {

bool RequirePythonDbus() {
  QProcess probe;
  probe.start(QString::fromLatin1(kSystemPython), {QStringLiteral("-c"), QStringLiteral("import dbus")});
  const bool ok = probe.waitForFinished(60000) && probe.exitStatus() == QProcess::NormalExit && probe.exitCode() == 0;
  if (!ok) ADD_FAILURE() << kSystemPython << " cannot import dbus (install python3-dbus, see README set-up)";
  return ok;
}

QString ReadmeScript(const QString& marker) {
  const std::string readme = ReadFileBytes(SourceTree() / "README.md");
  const std::string open = "```python\n";
  const size_t section = readme.find("\n## Automation\n");
  const size_t section_end = readme.find("\n## ", section + 1);
  for (size_t start = readme.find(open, section); section != std::string::npos && start < section_end;
       start = readme.find(open, start + 1)) {
    const size_t end = readme.find("\n```\n", start);
    if (end == std::string::npos) break;
    const QString script = QString::fromStdString(readme.substr(start + open.size(), end + 1 - start - open.size()));
    if (script.contains(marker)) return script;
  }
  ADD_FAILURE() << "no Python script with " << marker.toStdString() << " in the README's automation section";
  return {};
}

PythonBusScript::PythonBusScript(const QString& address, const QString& script, const QStringList& arguments) {
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  env.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), address);
  env.insert(QStringLiteral("PYTHONUNBUFFERED"), QStringLiteral("1"));
  process_.setProcessEnvironment(env);
  process_.start(QString::fromLatin1(kSystemPython), QStringList{QStringLiteral("-c"), script} + arguments);
}

PythonBusScript::~PythonBusScript() {
  if (process_.state() != QProcess::NotRunning) {
    process_.kill();
    process_.waitForFinished(10000);
  }
}

QString PythonBusScript::Output() {
  output_ += QString::fromUtf8(process_.readAllStandardOutput());
  errors_ += QString::fromUtf8(process_.readAllStandardError());
  return errors_.isEmpty() ? output_ : output_ + QStringLiteral("--\n") + errors_;
}

bool PythonBusScript::WaitForOutput(const QString& text, int timeout_ms) {
  QEventLoop loop;
  QTimer deadline;
  deadline.setSingleShot(true);
  QObject::connect(&deadline, &QTimer::timeout, &loop, &QEventLoop::quit);
  QObject::connect(&process_, &QProcess::readyReadStandardOutput, &loop, &QEventLoop::quit);
  QObject::connect(&process_, &QProcess::finished, &loop, &QEventLoop::quit);
  deadline.start(timeout_ms);
  while (!Output().contains(text)) {
    if (process_.state() == QProcess::NotRunning || !deadline.isActive()) return Output().contains(text);
    loop.exec();
  }
  return true;
}

bool PythonBusScript::WaitForEnd(int timeout_ms) {
  if (process_.state() != QProcess::NotRunning) {
    QEventLoop loop;
    QObject::connect(&process_, &QProcess::finished, &loop, &QEventLoop::quit);
    QTimer::singleShot(timeout_ms, &loop, &QEventLoop::quit);
    loop.exec();
  }
  Output();
  return process_.state() == QProcess::NotRunning;
}

void PythonBusScript::Kill() {
  process_.kill();
  process_.waitForFinished(10000);
}

int PythonBusScript::ExitCode() const {
  return process_.exitStatus() == QProcess::NormalExit ? process_.exitCode() : -1;
}

}  // namespace sorvel::testing
