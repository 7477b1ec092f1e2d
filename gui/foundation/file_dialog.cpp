#include "gui/foundation/file_dialog.h"

#include <QDir>
#include <QFileInfo>
#include <QFileSystemModel>
#include <QSortFilterProxyModel>
#include <QShowEvent>
#include <QWidget>

#include "gui/foundation/window_module.h"

namespace sorvel {
namespace {

// The rows of a file dialog's folder that name a folder or a file the user
// may run.
class ExecutablesOnly final : public QSortFilterProxyModel {
 public:
  using QSortFilterProxyModel::QSortFilterProxyModel;

 protected:
  bool filterAcceptsRow(int row, const QModelIndex& parent) const override {
    const auto* files = qobject_cast<const QFileSystemModel*>(sourceModel());
    if (files == nullptr) return true;
    const QModelIndex index = files->index(row, 0, parent);
    if (files->isDir(index)) return true;
    return QFileInfo(files->filePath(index)).isExecutable();
  }
};

}  // namespace

CenteredFileDialog::CenteredFileDialog(QWidget* owner)
    : QFileDialog(owner != nullptr ? owner->window() : nullptr), owner_(owner) {}

void CenteredFileDialog::showEvent(QShowEvent* event) {
  QFileDialog::showEvent(event);
  if (!event->spontaneous()) CenterForm(this, owner_ != nullptr ? owner_->window() : nullptr);
}

QStringList ConvertDialogFilter(const QString& filter) {
  QStringList result;
  if (filter.isEmpty()) return result;
  QStringList parts = filter.split(QLatin1Char('|'));
  for (qsizetype i = 0; i < parts.size(); i += 2) {
    QString description = parts[i].trimmed();
    QStringList patterns;
    if (i + 1 < parts.size()) {
      for (const QString& pattern : parts[i + 1].split(QLatin1Char(';'), Qt::SkipEmptyParts)) {
        QString p = pattern.trimmed();
        if (!p.isEmpty()) patterns << p;
      }
    }
    if (patterns.isEmpty()) patterns << QStringLiteral("*");
    // "*.*" means every file, also those without a dot.
    for (QString& p : patterns)
      if (p == QLatin1String("*.*")) p = QStringLiteral("*");
    if (description.isEmpty()) description = patterns.join(QLatin1Char(' '));
    result << description + QStringLiteral(" (") + patterns.join(QLatin1Char(' ')) + QLatin1Char(')');
  }
  return result;
}

namespace {

// Splits a default path at its last "/" into the starting folder and the name.
void SplitDefaultPath(const QString& default_path, QString* folder, QString* name) {
  qsizetype slash = default_path.lastIndexOf(QLatin1Char('/'));
  if (slash < 0) {
    folder->clear();
    *name = default_path;
  } else {
    *folder = default_path.left(slash + 1);
    *name = default_path.mid(slash + 1);
  }
}

}  // namespace

QString DefaultSuffixOf(const QString& default_path) {
  QString folder, name;
  SplitDefaultPath(default_path, &folder, &name);
  qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
  return dot < 0 ? QString() : name.mid(dot + 1);
}

QString SuffixOfNameFilter(const QString& name_filter) {
  const qsizetype open = name_filter.lastIndexOf(QLatin1Char('('));
  const qsizetype close = name_filter.lastIndexOf(QLatin1Char(')'));
  if (open < 0 || close < open) return {};
  const QString first = name_filter.mid(open + 1, close - open - 1).split(QLatin1Char(' '), Qt::SkipEmptyParts).value(0);
  if (!first.startsWith(QLatin1String("*."))) return {};
  const QString suffix = first.mid(2);
  if (suffix.isEmpty() || suffix.contains(QLatin1Char('*')) || suffix.contains(QLatin1Char('?'))) return {};
  return suffix;
}

std::unique_ptr<CenteredFileDialog> MakeFileDialog(QWidget* owner, FileDialogKind kind, const QString& filter,
                                            const QString& default_path, int flags) {
  auto dialog = std::make_unique<CenteredFileDialog>(owner);
  // Qt's own dialog everywhere: the same behaviour on every desktop and under test.
  dialog->setOption(QFileDialog::DontUseNativeDialog, true);
  dialog->setOption(QFileDialog::HideNameFilterDetails, true);
  dialog->setFilter(dialog->filter() & ~QDir::CaseSensitive);
  if (flags & kFileDialogExecutables) dialog->setProxyModel(new ExecutablesOnly(dialog.get()));
  bool save = kind == FileDialogKind::kSave;
  dialog->setWindowTitle(save ? QStringLiteral("名前を付けて保存") : QStringLiteral("ファイルを開く"));
  dialog->setAcceptMode(save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
  if (save) {
    dialog->setFileMode(QFileDialog::AnyFile);
    dialog->setOption(QFileDialog::DontConfirmOverwrite, (flags & kOfnOverwritePrompt) == 0);
    dialog->setDefaultSuffix(DefaultSuffixOf(default_path));
    // The suffix follows the chosen filter: "Disc" typed under "*.ccd" is Disc.ccd.
    CenteredFileDialog* raw = dialog.get();
    QObject::connect(raw, &QFileDialog::filterSelected, raw, [raw](const QString& chosen) {
      const QString suffix = SuffixOfNameFilter(chosen);
      if (!suffix.isEmpty()) raw->setDefaultSuffix(suffix);
    });
  } else if (flags & kOfnAllowMultiSelect) {
    dialog->setFileMode(QFileDialog::ExistingFiles);
  } else {
    dialog->setFileMode((flags & kOfnFileMustExist) ? QFileDialog::ExistingFile : QFileDialog::AnyFile);
  }
  QStringList filters = ConvertDialogFilter(filter);
  if (!filters.isEmpty()) dialog->setNameFilters(filters);
  QString folder, name;
  SplitDefaultPath(default_path, &folder, &name);
  if (!folder.isEmpty() && QFileInfo(folder).isDir()) dialog->setDirectory(folder);
  if (!name.isEmpty()) dialog->selectFile(name);
  return dialog;
}

std::unique_ptr<CenteredFileDialog> MakeFolderDialog(QWidget* owner, const QString& title) {
  auto dialog = std::make_unique<CenteredFileDialog>(owner);
  dialog->setOption(QFileDialog::DontUseNativeDialog, true);
  dialog->setWindowTitle(title);
  dialog->setFileMode(QFileDialog::Directory);
  dialog->setOption(QFileDialog::ShowDirsOnly, true);
  return dialog;
}

}  // namespace sorvel
