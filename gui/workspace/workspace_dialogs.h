// The dialogs the main window opens that live in other parts of the program:
// the layout save dialog and the disc operation dialogs. Their parts install
// factories; until then a call opens nothing and answers as a dialog the user
// closed at once would. The layout write dialog and the write-image dialog with
// a file go through the form services of the foundation.
#pragma once

#include <QString>
#include <functional>

class QWidget;

namespace sorvel {

class Tazol;

// Names of the plain modal dialogs.
inline const char kDiscWriteForm[] = "DiscWriteForm";
inline const char kDiscCopyForm[] = "DiscCopyForm";
inline const char kDiscReadForm[] = "DiscReadForm";
inline const char kDiscEraseForm[] = "DiscEraseForm";
inline const char kDiscAnalyzeForm[] = "DiscAnalyzeForm";
inline const char kTrackRippingForm[] = "TrackRippingForm";
inline const char kPropertyConfigurationForm[] = "PropertyConfigurationForm";
inline const char kAboutInformationForm[] = "AboutInformationForm";

struct WorkspaceDialogs {
  // The layout save dialog: writes `layout` to `image_file`; true unless the user stopped it.
  std::function<bool(QWidget* owner, Tazol& layout, const QString& image_file, const QString& title)> well_save;
  // A dialog without arguments, shown modally by its name (kDiscCopyForm, ...).
  std::function<void(QWidget* owner, const QString& form_name)> show_modal;
};

const WorkspaceDialogs& CurrentWorkspaceDialogs();
// Installs `dialogs` (not owned); null restores the empty set. Returns the previous.
const WorkspaceDialogs* InstallWorkspaceDialogs(const WorkspaceDialogs* dialogs);

// The calls as the main window makes them: false / nothing without a factory.
bool ShowWellSaveForm(QWidget* owner, Tazol& layout, const QString& image_file, const QString& title);
void ShowModalForm(QWidget* owner, const QString& form_name);

}  // namespace sorvel
