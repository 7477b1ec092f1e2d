// The sorvel program: the GUI of the suite, and its automation server when
// started with "--automation".
#include <QApplication>
#include <QDBusConnection>
#include <QEventLoop>
#include <QFile>
#include <QLabel>
#include <QStringList>
#include <QTimer>
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "gui/dialogs/dialog_forms.h"
#include "gui/dialogs/well_save_form.h"
#include "gui/automation/automation_service.h"
#include "gui/foundation/automation_host.h"
#include "gui/foundation/form_services.h"
#include "gui/foundation/program_icon.h"
#include "gui/foundation/qt_modal_ui.h"
#include "gui/foundation/qt_translations.h"
#include "gui/foundation/start_procedure.h"
#include "gui/foundation/termination.h"
#include "gui/foundation/wheel_guard.h"
#include "gui/workspace/main_form_host.h"
#include "gui/workspace/workspace_dialogs.h"
#include "platform/local_time_zone.h"

namespace sorvel {
namespace {

// How long the automation server waits for its first object (after that,
// kAutomationGraceMs without objects and calls ends it).
constexpr int kAutomationIdleMs = 30000;
constexpr int kAutomationDrainMs = 200;

// Serves the automation objects on the session bus until it has been idle for
// the grace period.
int RunAutomationServer() {
  {
    AutomationService service(QDBusConnection::sessionBus());
    if (!service.Publish()) {
      std::fputs("sorvel: the automation service could not be published on the session bus\n", stderr);
      return 1;
    }
    RunWhileAutomationObjectsLive(kAutomationIdleMs);
  }
  // The replies of the last calls leave through the bus connection's own
  // thread: give them a moment before the process ends.
  QEventLoop drain;
  QTimer::singleShot(kAutomationDrainMs, &drain, &QEventLoop::quit);
  drain.exec();
  return 0;
}

// The engines print their diagnostic lines to standard output (a line per
// poll of a drive, per block of sectors written). This program's own output
// goes nowhere unless SORVEL_DEBUG=1 asks for it, so that a terminal it was
// started from is not flooded; its messages to standard error stay.
void QuietStandardOutput() {
  const char* debug = std::getenv("SORVEL_DEBUG");
  if (debug != nullptr && std::strcmp(debug, "1") == 0) return;
  std::fflush(stdout);
  const int null = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
  if (null < 0) return;
  ::dup2(null, STDOUT_FILENO);
  ::close(null);
}

}  // namespace
}  // namespace sorvel

int main(int argc, char** argv) {
  using namespace sorvel;
  platform::PinLocalTimeZone();
  QuietStandardOutput();
  QStringList arguments;
  for (int i = 1; i < argc; ++i) arguments << QFile::decodeName(argv[i]);
  // The automation server started by the bus on a session without a display
  // (ssh, a headless machine) runs on the offscreen platform instead of
  // aborting for want of one; a platform the environment names stays.
  if (IsAutomationStart(arguments) && std::getenv("DISPLAY") == nullptr &&
      std::getenv("WAYLAND_DISPLAY") == nullptr && std::getenv("QT_QPA_PLATFORM") == nullptr) {
    ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
  }
  // Every argument belongs to the command-line path: Qt reads no option from it
  // (its settings come from the environment, QT_QPA_PLATFORM and the like).
  int qt_argc = 1;
  char* qt_argv[] = {argv[0], nullptr};
  QApplication app(qt_argc, qt_argv);
  QApplication::setOrganizationName(QStringLiteral("sorvel"));
  QApplication::setApplicationName(QStringLiteral("sorvel"));
  // The start procedure decides when the program ends, not the last window.
  QApplication::setQuitOnLastWindowClosed(false);
  // SIGTERM, SIGINT and SIGHUP stop a running job as its stop button does, then end the program.
  Termination::Instance().Install();
  SetProgramIcon();
  // Scrolling over a form changes none of its choices.
  WheelGuard::Install();
  // Standard buttons and dialogs read Japanese, as the rest of the program.
  QtJapaneseTexts qt_texts;
  if (!qt_texts.installed())
    std::fputs("sorvel: Qt's Japanese translations are not installed; Qt's own texts stay in English\n", stderr);

  QtModalUi modal_ui;
  InstallModalUi(&modal_ui);
  FormFactories forms = DialogFormFactories();
  forms.main_form = [] { return std::make_unique<MainFormHost>(); };
  InstallFormFactories(&forms);
  WorkspaceDialogs dialogs;
  dialogs.well_save = ShowWellSaveDialog;
  dialogs.show_modal = [](QWidget* owner, const QString& form_name) { ShowDialogForm(owner, form_name); };
  InstallWorkspaceDialogs(&dialogs);

  int status = 0;
  if (IsAutomationStart(arguments)) {
    status = RunAutomationServer();
  } else {
    Main(arguments);
    // Automation objects that clients made meanwhile keep the program running.
    RunWhileAutomationObjectsLive(0);
  }
  InstallWorkspaceDialogs(nullptr);
  InstallFormFactories(nullptr);
  InstallModalUi(nullptr);
  return status;
}
