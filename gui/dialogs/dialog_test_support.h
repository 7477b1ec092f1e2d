// Shared set-up of the dialog tests: real engines from the build, settings
// and the per-user store in a scratch folder, a drive map of emulated drives,
// and a small form carrying one drive panel.
#pragma once

#include <QCoreApplication>
#include <QDialog>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QSettings>
#include <QThread>
#include <QVBoxLayout>
#include <functional>
#include <string>

#include "gui/dialogs/drive_panel.h"
#include "gui/foundation/application_setting.h"
#include "gui/foundation/file_paths.h"
#include "gui/model/engine_library.h"
#include "testing/gui/scripted_modal_ui.h"
#include "testing/scoped_env.h"
#include "testing/test_paths.h"

namespace sorvel::testing {

// Engines of the build, the program's settings file and the per-user store
// below `dir`, held for one test.
class DialogTestEnvironment {
 public:
  explicit DialogTestEnvironment(const ScratchDir& dir) : dir_(dir) {
    SetProgramPathForTesting(Path("sorvel"));
    SetEngineLibraryFolder(QFileInfo(QString::fromStdString(BuiltLibraryPath("libtrelin.so"))).path());
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, Path("config"));
    AcquireSettings();
  }
  ~DialogTestEnvironment() {
    ReleaseSettings();
    SetProgramPathForTesting(QString());
    SetEngineLibraryFolder(QString());
  }
  DialogTestEnvironment(const DialogTestEnvironment&) = delete;
  DialogTestEnvironment& operator=(const DialogTestEnvironment&) = delete;

  QString Path(const char* name) const { return QString::fromStdString((dir_ / name).string()); }
  std::string State(const char* name) const { return (dir_ / name).string(); }
  // The per-user store file.
  QString UserStore() const { return Path("config") + QStringLiteral("/sorvel/user-settings.ini"); }

 private:
  const ScratchDir& dir_;
};

// A form carrying one drive panel, as a disc dialog does.
class DrivePanelHarnessForm : public QDialog {
 public:
  DrivePanelHarnessForm(DriveSide side, const QString& form_name = QStringLiteral("DrivePanelHarnessForm")) {
    setObjectName(form_name);
    setWindowTitle(QStringLiteral("Sorvel"));
    panel = new DrivePanel(side, form_name, this);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(panel);
  }
  DrivePanel* panel;
};

// Runs the event loop until `done` holds or `milliseconds` passed.
inline bool WaitFor(const std::function<bool()>& done, int milliseconds) {
  QElapsedTimer elapsed;
  elapsed.start();
  while (!done()) {
    if (elapsed.elapsed() > milliseconds) return false;
    QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    QThread::msleep(10);
  }
  return true;
}

}  // namespace sorvel::testing
