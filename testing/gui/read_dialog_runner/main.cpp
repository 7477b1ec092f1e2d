// A process that reads a disc through the read dialog, as the program does,
// for tests that signal or kill a running read from outside:
//   sorvel_read_runner FOLDER IMAGE [MARKER [RESUME]]
// FOLDER holds the run's settings and the engines' folder is ENGINES in the
// environment; the drive map comes from SORVEL_DRIVES. With MARKER, the run
// creates that file once the first sectors are read and then waits, its
// window system running, until its job is stopped; with RESUME, until that
// file exists instead (stopped or not), and then reads on. The program's handlers of
// the terminating signals are installed as the program installs them. Exit
// status 0 when the read succeeded, 1 when it failed.
#include <QApplication>
#include <QFile>
#include <QProgressBar>
#include <QPushButton>
#include <QLineEdit>
#include <QSettings>
#include <QTimer>
#include <cstdio>
#include <cstdlib>

#include "gui/dialogs/disc_read_form.h"
#include "gui/foundation/application_setting.h"
#include "gui/foundation/file_paths.h"
#include "gui/foundation/termination.h"
#include "gui/model/engine_library.h"
#include "testing/gui/scripted_modal_ui.h"

int main(int argc, char** argv) {
  using namespace sorvel;
  if (argc < 3 || std::getenv("ENGINES") == nullptr) {
    std::fputs("usage: ENGINES=folder sorvel_read_runner FOLDER IMAGE [MARKER]\n", stderr);
    return 2;
  }
  QApplication app(argc, argv);
  Termination::Instance().Install();
  const QString folder = QFile::decodeName(argv[1]);
  SetProgramPathForTesting(folder + QStringLiteral("/sorvel"));
  SetEngineLibraryFolder(QFile::decodeName(std::getenv("ENGINES")));
  QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, folder + QStringLiteral("/config"));
  AcquireSettings();
  int status = 1;
  {
    testing::ScriptedModalUi ui;
    DiscReadForm form;
    if (argc > 3) {
      const QString marker = QFile::decodeName(argv[3]);
      const QString resume = argc > 4 ? QFile::decodeName(argv[4]) : QString();
      QObject::connect(form.prgMain(), &QProgressBar::valueChanged, &form, [&form, marker, resume](int value) {
        static bool held = false;
        if (held || value <= 0 || form.job() == nullptr) return;
        held = true;
        QFile(marker).open(QIODevice::WriteOnly);
        QTimer poll;  // wakes the loop to look for RESUME
        poll.start(10);
        while (resume.isEmpty() ? form.job() != nullptr && !form.job()->cancelled() : !QFile::exists(resume)) {
          QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
        }
      });
    }
    form.txtWriteFile()->setText(QFile::decodeName(argv[2]));
    form.cmdStartStop()->click();
    status = ui.LastText() == QStringLiteral("読み込みは正常終了しました。") ? 0 : 1;
    if (status != 0) std::fprintf(stderr, "%s\n", qPrintable(ui.LastText()));
  }
  ReleaseSettings();
  return status;
}
