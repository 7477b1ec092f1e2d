#include "gui/foundation/modal_ui.h"

namespace sorvel {
namespace {

class HeadlessModalUi final : public ModalUi {
 public:
  int MessageBox(QWidget*, const QString&, int style, const QString&) override {
    // A box with only an OK button answers OK; a question answers its "no" choice.
    switch (style & 0xF) {
      case 0: return kIdOk;
      case 4: return kIdNo;
      default: return kIdCancel;
    }
  }
  QStringList OpenFileNames(QWidget*, const QString&, const QString&, int) override { return {}; }
  QString SaveFileName(QWidget*, const QString&, const QString&, int) override { return {}; }
  QString BrowseForFolder(QWidget*, const QString&, int) override { return {}; }
};

HeadlessModalUi g_headless;
ModalUi* g_current = nullptr;

}  // namespace

int ModalUi::PopupMenu(const QList<MenuEntry>&, const QPoint&) { return 0; }

bool ModalUi::OpenDocument(const QString&) { return false; }

ModalUi& CurrentModalUi() { return g_current != nullptr ? *g_current : g_headless; }

ModalUi* InstallModalUi(ModalUi* ui) {
  ModalUi* previous = g_current;
  g_current = ui;
  return previous;
}

}  // namespace sorvel
