// The open, save and folder dialogs of the program: the "|" filter form
// ("description|pattern;pattern|description|pattern") and the dialog flags
// turned into a Qt file dialog.
#pragma once

#include <QFileDialog>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <memory>

class QWidget;

namespace sorvel {

// Dialog flags of the callers.
enum FileDialogFlag : int {
  kOfnOverwritePrompt = 0x2,
  kOfnHideReadOnly = 0x4,
  kOfnAllowMultiSelect = 0x200,
  kOfnPathMustExist = 0x800,
  kOfnFileMustExist = 0x1000,
  kOfnExplorer = 0x80000,
  // This program's own: only files the user may run (and folders) are listed.
  kFileDialogExecutables = 0x40000000,
};

// "ログファイル(*.log)|*.log|全て (*.*)|*.*" -> Qt name filters, the
// description shown as written ("ログファイル(*.log) (*.log)", whose last
// parenthesised part the dialog reads as its patterns and hides). Patterns
// separated by ";" become space-separated; a description without a pattern
// gets "*". Empty when the filter is empty.
QStringList ConvertDialogFilter(const QString& filter);

// The default extension a save dialog appends: the text after the last "." of
// the default path's name part (a dot in a folder name does not count); "" when
// the name has none.
QString DefaultSuffixOf(const QString& default_path);

// The suffix a Qt name filter names by its first pattern ("CCDファイル(*.ccd)
// (*.ccd)" -> "ccd"); "" for "*" or a pattern with wildcards in its suffix.
QString SuffixOfNameFilter(const QString& name_filter);

enum class FileDialogKind { kOpen, kSave };

// A Qt file dialog centred, when shown, on its owner (on the screen without one).
class CenteredFileDialog final : public QFileDialog {
  Q_OBJECT
 public:
  explicit CenteredFileDialog(QWidget* owner);

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  QPointer<QWidget> owner_;
};

// A file dialog set up as the callers expect: title "ファイルを開く" or
// "名前を付けて保存", the converted filter (patterns match without regard to
// letter case), the default path's folder as the starting folder and its name
// filled in, several files when the flags ask for it, the save dialog's default
// extension and overwrite question. Not yet shown.
std::unique_ptr<CenteredFileDialog> MakeFileDialog(QWidget* owner, FileDialogKind kind, const QString& filter,
                                            const QString& default_path, int flags);

// A folder chooser titled `title`, showing folders only.
std::unique_ptr<CenteredFileDialog> MakeFolderDialog(QWidget* owner, const QString& title);

}  // namespace sorvel
