#include "gui/foundation/start_procedure.h"

#include <QApplication>
#include <QDir>
#include <QEvent>
#include <QEventLoop>
#include <QFile>
#include <QTimer>
#include <QWidget>
#include <memory>

#include "gui/foundation/automation_host.h"
#include "gui/foundation/form_services.h"
#include "gui/foundation/application_setting.h"
#include "gui/foundation/file_paths.h"
#include "gui/foundation/message_box.h"
#include "gui/foundation/modal_ui.h"
#include "gui/foundation/regular_file.h"
#include "gui/foundation/string_module.h"
#include "platform/drive_map.h"

namespace sorvel {
namespace {

bool IsOpenWindow(const QWidget* widget) {
  if (!widget->isWindow() || !widget->isVisible()) return false;
  switch (widget->windowType()) {
    case Qt::Popup:
    case Qt::ToolTip:
    case Qt::SplashScreen:
    case Qt::Desktop:
      return false;
    default:
      return true;
  }
}

// Ends the wait once no window is open. Closing, hiding or destroying a window
// is what can end it; each such event asks for one check after it has run.
class LastWindowWatch final : public QObject {
 public:
  explicit LastWindowWatch(QEventLoop* loop) : loop_(loop) {
    check_.setSingleShot(true);
    check_.setInterval(0);
    connect(&check_, &QTimer::timeout, this, [this] {
      if (OpenWindowCount() == 0) loop_->quit();
    });
  }

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    switch (event->type()) {
      case QEvent::Hide:
      case QEvent::Close:
      case QEvent::DeferredDelete:
        if (watched->isWidgetType() && static_cast<QWidget*>(watched)->isWindow()) check_.start();
        break;
      default:
        break;
    }
    return false;
  }

 private:
  QEventLoop* loop_;
  QTimer check_;
};

}  // namespace

int OpenWindowCount() {
  int count = 0;
  for (const QWidget* widget : QApplication::topLevelWidgets())
    if (IsOpenWindow(widget)) ++count;
  return count;
}

void WaitWhileWindowsOpen() {
  if (OpenWindowCount() == 0) return;
  QEventLoop loop;
  LastWindowWatch watch(&loop);
  qApp->installEventFilter(&watch);
  loop.exec();
  qApp->removeEventFilter(&watch);
}

QString CommandLinePath(const QStringList& arguments) { return TrimSpaces(arguments.join(QLatin1Char(' '))); }

bool RunCommandLine(const QString& command_line) {
  QString path = command_line;
  if (path.size() > 1 && path.startsWith(QLatin1Char('"')) && path.endsWith(QLatin1Char('"')))
    path = path.mid(1, path.size() - 2);
  // The image or project the user named is found where the user started the
  // program: a relative path is made absolute before anything opens it.
  if (!path.isEmpty() && QDir::isRelativePath(path)) path = QDir::cleanPath(QDir::current().absoluteFilePath(path));
  const QString extension = GetExtension(path).toUpper();
  const FormFactories& forms = CurrentFormFactories();
  if (extension == QLatin1String(".ISO") || extension == QLatin1String(".CUE") ||
      extension == QLatin1String(".CCD") || extension == QLatin1String(".TSN")) {
    if (forms.disc_write_form) {
      if (std::unique_ptr<ImageWriteDialog> dialog = forms.disc_write_form()) dialog->ShowOpen(path);
    }
    return true;
  }
  std::unique_ptr<MainWindowForm> main_form = forms.main_form ? forms.main_form() : nullptr;
  if (main_form != nullptr) {
    main_form->Show();
    // The window is drawn before any loading starts.
    QCoreApplication::processEvents();
    if (extension == QLatin1String(".WPJ")) main_form->FileProjectLoad(path);
  }
  WaitWhileWindowsOpen();
  if (main_form != nullptr) main_form->Unload();
  return true;
}

QStringList UnreadableStartFiles() {
  QStringList texts;
  if (const ApplicationSetting* settings = Settings(); settings != nullptr && settings->LoadProblem())
    texts << FileProblemText(settings->FilePath(), settings->LoadProblem());
  const platform::DriveMapSources sources = platform::DefaultDriveMapSources();
  if (!sources.drives_variable) {
    const platform::FileProblem problem = platform::DriveMap::Load(sources).config_problem();
    if (problem) texts << FileProblemText(QFile::decodeName(sources.config_file.c_str()), problem);
  }
  return texts;
}

void Main(const QStringList& arguments) {
  if (IsAutomationStart(arguments)) return;
  AcquireSettings();
  // The program goes on with default settings and drives; the user is told.
  for (const QString& text : UnreadableStartFiles())
    CurrentModalUi().MessageBox(nullptr, text, kMbIconExclamation, QStringLiteral("Sorvel"));
  RunCommandLine(CommandLinePath(arguments));
  ReleaseSettings();
}

}  // namespace sorvel
