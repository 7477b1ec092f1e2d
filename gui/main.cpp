// The sorvel program: the GUI of the suite, and its automation server when
// started with "--automation".
#include <QApplication>
#include <QDialog>
#include <QDialogButtonBox>
#include <QFile>
#include <QLabel>
#include <QLibraryInfo>
#include <QLineEdit>
#include <QLocale>
#include <QStringList>
#include <QTranslator>
#include <QVBoxLayout>
#include <cstdio>
#include <memory>

#include "gui/foundation/automation_host.h"
#include "gui/foundation/form_services.h"
#include "gui/foundation/qt_modal_ui.h"
#include "gui/foundation/start_procedure.h"
#include "gui/workspace/main_form_host.h"

namespace sorvel {
namespace {

// How long the automation server waits for its first object.
constexpr int kAutomationIdleMs = 30000;

// Stand-in until the disc operation dialogs exist: a write-image dialog that
// only names its image.
class PlaceholderImageWriteDialog final : public ImageWriteDialog {
 public:
  void ShowOpen(const QString& image_file) override {
    QDialog dialog;
    dialog.setWindowTitle(QStringLiteral("Sorvel"));
    auto* layout = new QVBoxLayout(&dialog);
    auto* file = new QLineEdit(image_file);
    file->setReadOnly(true);
    layout->addWidget(file);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close);
    QObject::connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
    layout->addWidget(buttons);
    dialog.resize(520, dialog.sizeHint().height());
    dialog.exec();
  }
};

// Publishes the automation service on the session bus; not available yet.
bool PublishAutomationService() {
  std::fputs("sorvel: the automation service is not available in this build\n", stderr);
  return false;
}

}  // namespace
}  // namespace sorvel

int main(int argc, char** argv) {
  using namespace sorvel;
  QStringList arguments;
  for (int i = 1; i < argc; ++i) arguments << QFile::decodeName(argv[i]);
  // Every argument belongs to the command-line path: Qt reads no option from it
  // (its settings come from the environment, QT_QPA_PLATFORM and the like).
  int qt_argc = 1;
  char* qt_argv[] = {argv[0], nullptr};
  QApplication app(qt_argc, qt_argv);
  QApplication::setOrganizationName(QStringLiteral("sorvel"));
  QApplication::setApplicationName(QStringLiteral("sorvel"));
  // The start procedure decides when the program ends, not the last window.
  QApplication::setQuitOnLastWindowClosed(false);
  // Standard buttons and dialogs in the desktop's language, as the platform's
  // own boxes would be, when Qt's translations are installed.
  QTranslator qt_texts;
  if (qt_texts.load(QLocale(), QStringLiteral("qtbase"), QStringLiteral("_"),
                    QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
    QApplication::installTranslator(&qt_texts);

  QtModalUi modal_ui;
  InstallModalUi(&modal_ui);
  FormFactories forms;
  forms.main_form = [] { return std::make_unique<MainFormHost>(); };
  forms.disc_write_form = [] { return std::make_unique<PlaceholderImageWriteDialog>(); };
  InstallFormFactories(&forms);

  int status = 0;
  if (IsAutomationStart(arguments)) {
    if (PublishAutomationService()) RunWhileAutomationObjectsLive(kAutomationIdleMs);
    else status = 1;
  } else {
    Main(arguments);
    // Automation objects that clients made meanwhile keep the program running.
    RunWhileAutomationObjectsLive(0);
  }
  InstallFormFactories(nullptr);
  InstallModalUi(nullptr);
  return status;
}
