// Writes the introspection file of every interface of the automation server
// into the folder given as the only argument (the build's
// share/dbus-1/interfaces), each under its interface's name.
#include <QDir>
#include <QFile>
#include <cstdio>

#include "gui/automation/automation_service.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fputs("usage: sorvel_interface_files FOLDER\n", stderr);
    return 2;
  }
  const QString folder = QString::fromLocal8Bit(argv[1]);
  if (!QDir().mkpath(folder)) {
    std::fprintf(stderr, "sorvel_interface_files: cannot make %s\n", argv[1]);
    return 1;
  }
  for (const auto& [name, xml] : sorvel::AutomationService::InterfaceFiles(sorvel::AutomationClasses())) {
    QFile file(folder + QLatin1Char('/') + name);
    const QByteArray bytes = xml.toUtf8();
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(bytes) != bytes.size()) {
      std::fprintf(stderr, "sorvel_interface_files: cannot write %s\n", qPrintable(file.fileName()));
      return 1;
    }
  }
  return 0;
}
