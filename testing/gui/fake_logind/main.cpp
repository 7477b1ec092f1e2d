// A stand-in for systemd-logind on a private bus: owns org.freedesktop.login1,
// answers the Manager's Inhibit, Suspend, Hibernate, PowerOff and Reboot, and
// appends one line per call (and per released inhibitor) to the log file named
// by its one argument. It never touches the machine.
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusUnixFileDescriptor>
#include <QFile>
#include <QList>
#include <QObject>
#include <QTimer>
#include <cstdio>

class FakeManager : public QObject {
  Q_OBJECT
  Q_CLASSINFO("D-Bus Interface", "org.freedesktop.login1.Manager")

 public:
  explicit FakeManager(QString log_path) : log_path_(std::move(log_path)) {
    connect(&watch_, &QTimer::timeout, this, &FakeManager::WatchInhibitors);
    watch_.start(10);
  }

 public slots:
  QDBusUnixFileDescriptor Inhibit(const QString& what, const QString& who, const QString& why, const QString& mode) {
    Log(QStringLiteral("Inhibit %1|%2|%3|%4").arg(what, who, why, mode));
    int pair[2];
    if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair) != 0) return {};
    held_.append(pair[0]);
    QDBusUnixFileDescriptor result(pair[1]);  // duplicates the descriptor
    close(pair[1]);
    return result;
  }
  void Suspend(bool interactive) { Log(QStringLiteral("Suspend %1").arg(interactive)); }
  void Hibernate(bool interactive) { Log(QStringLiteral("Hibernate %1").arg(interactive)); }
  void PowerOff(bool interactive) { Log(QStringLiteral("PowerOff %1").arg(interactive)); }
  void Reboot(bool interactive) { Log(QStringLiteral("Reboot %1").arg(interactive)); }

 private:
  // An inhibitor is released when the client closes its end of the pair.
  void WatchInhibitors() {
    for (int i = held_.size() - 1; i >= 0; --i) {
      pollfd p{held_[i], POLLIN, 0};
      if (poll(&p, 1, 0) > 0 && (p.revents & (POLLHUP | POLLIN)) != 0) {
        char byte;
        if (recv(held_[i], &byte, 1, MSG_DONTWAIT) == 0) {
          close(held_[i]);
          held_.removeAt(i);
          Log(QStringLiteral("Release"));
        }
      }
    }
  }
  void Log(const QString& line) {
    QFile file(log_path_);
    if (file.open(QIODevice::Append)) file.write((line + QLatin1Char('\n')).toUtf8());
  }

  QString log_path_;
  QList<int> held_;
  QTimer watch_;
};

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  if (argc != 2) {
    std::fprintf(stderr, "usage: fake_logind LOGFILE\n");
    return 2;
  }
  QDBusConnection bus = QDBusConnection::sessionBus();
  FakeManager manager(QString::fromLocal8Bit(argv[1]));
  if (!bus.registerObject(QStringLiteral("/org/freedesktop/login1"), &manager, QDBusConnection::ExportAllSlots) ||
      !bus.registerService(QStringLiteral("org.freedesktop.login1"))) {
    std::fprintf(stderr, "fake_logind: cannot register on the bus\n");
    return 1;
  }
  // Stops by itself so that a test that dies leaves nothing running for long.
  QTimer::singleShot(120000, &app, &QCoreApplication::quit);
  return app.exec();
}

#include "main.moc"
