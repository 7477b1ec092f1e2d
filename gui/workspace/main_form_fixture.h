// The main window of the tests: the real mastering engine, a settings INI with
// two media types, a per-user store and scripted message boxes in a scratch
// folder, and helpers that run the change timers and read the views; the
// order a self-sorting tree gives, against which the directory tree is held.
#pragma once

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QSettings>
#include <QTest>
#include <QTimer>
#include <QHash>
#include <QTreeWidget>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "gui/foundation/application_setting.h"
#include "gui/model/engine_library.h"
#include "gui/model/tazol.h"
#include "gui/workspace/main_form.h"
#include "testing/file_bytes.h"
#include "testing/gui/scripted_modal_ui.h"
#include "testing/test_paths.h"

namespace sorvel::testing {

// A tree's node texts, depth first in display order, one blank per level.
inline QStringList Outline(QTreeWidget* tree) {
  QStringList lines;
  for (QTreeWidgetItemIterator it(tree); *it; ++it) {
    int depth = 0;
    for (QTreeWidgetItem* up = (*it)->parent(); up != nullptr; up = up->parent()) ++depth;
    lines << QString(depth, u' ') + (*it)->text(0);
  }
  return lines;
}

// Parent key and name of a directory node.
using NodeSpec = std::pair<QString, QString>;

// The outline a tree that sorts itself shows for these nodes added one by one:
// the order the window's tree must keep, however it fills itself.
inline QStringList SortedByTheView(const QList<NodeSpec>& specs) {
  QTreeWidget tree;
  tree.setColumnCount(1);
  tree.setSortingEnabled(true);
  tree.sortByColumn(0, Qt::AscendingOrder);
  QHash<QString, QTreeWidgetItem*> nodes{{QStringLiteral("/"), new QTreeWidgetItem(&tree, {QStringLiteral("/")})}};
  for (const auto& [parent, name] : specs) nodes.insert(parent + name + u'/', new QTreeWidgetItem(nodes.value(parent), {name}));
  tree.sortItems(0, Qt::AscendingOrder);
  return Outline(&tree);
}

class MainFormTest : public ::testing::Test {
 protected:
  void SetUp() override {
    SetEngineLibraryFolder(QFileInfo(QString::fromStdString(BuiltLibraryPath("libtazol.so"))).path());
    std::filesystem::create_directories(scratch_ / "host");
  }
  void TearDown() override {
    form_.reset();
    settings_.reset();
    store_.reset();
    SetEngineLibraryFolder(QString());
  }

  // Writes the settings INI (CR LF lines) and opens the window over it.
  MainForm& Open(const std::string& extra_ini = std::string()) {
    std::ofstream ini(scratch_ / "sorvel.INI", std::ios::binary);
    ini << "[DISCCAPACITY]\r\nMedia1=CD-R 74\t359847\r\nMedia2=DVD-R\t2295104\r\n" << extra_ini;
    ini.close();
    settings_ = std::make_unique<ApplicationSetting>(Q(scratch_ / "sorvel.INI"));
    if (!store_) store_ = std::make_unique<QSettings>(Q(scratch_ / "user.ini"), QSettings::IniFormat);
    form_ = std::make_unique<MainForm>(settings_.get(), store_.get());
    form_->show();
    Pump();
    return *form_;
  }
  QSettings& Store() {
    if (!store_) store_ = std::make_unique<QSettings>(Q(scratch_ / "user.ini"), QSettings::IniFormat);
    return *store_;
  }

  // Runs the event loop until the change timers have fired.
  void Pump() {
    QElapsedTimer clock;
    clock.start();
    do {
      QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
      QTest::qWait(2);
    } while (form_ && (form_->tmrChangeFile()->isActive() || form_->tmrChangeFileSize()->isActive() ||
                       form_->tmrChangeTrack()->isActive()) &&
             clock.elapsed() < 2000);
  }

  static QString Q(const std::filesystem::path& path) { return QString::fromStdString(path.string()); }
  std::filesystem::path Host(const std::string& name) const { return scratch_ / "host" / name; }
  static void Write(const std::filesystem::path& path, const std::string& text = "data") {
    std::filesystem::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << text;
  }

  // A host file whose name need not be UTF-8, and the name the disc shows (Joliet).
  struct OddName {
    std::string host;
    std::string disc;
  };
  // Writes into `folder` a plain name, one with a stray byte and a CP932 name.
  static std::vector<OddName> WriteNamesThatAreNotUtf8(const std::string& folder) {
    std::vector<OddName> files{
        {"a.txt", "a.txt"},
        {"\xFF.txt", "_.txt"},
        {"cp932_\x93\xFA\x96\x7B.txt", "cp932_\xE6\x97\xA5\xE6\x9C\xAC.txt"},
    };
    for (const OddName& f : files) Write(folder + "/" + f.host, std::string(5000, f.disc[0]) + f.disc);
    return files;
  }

  // A 44,100 Hz 16-bit stereo WAV file of `sectors` sectors (2,352 bytes each).
  static std::filesystem::path Wave(const std::filesystem::path& path, int sectors = 150) {
    const uint32_t data = static_cast<uint32_t>(sectors) * 2352;
    std::string bytes = "RIFF";
    auto u32 = [&bytes](uint32_t v) {
      for (int i = 0; i < 4; ++i) bytes.push_back(static_cast<char>(v >> (8 * i)));
    };
    auto u16 = [&bytes](uint16_t v) {
      bytes.push_back(static_cast<char>(v));
      bytes.push_back(static_cast<char>(v >> 8));
    };
    u32(36 + data);
    bytes += "WAVEfmt ";
    u32(16);
    u16(1);
    u16(2);
    u32(44100);
    u32(44100 * 4);
    u16(4);
    u16(16);
    bytes += "data";
    u32(data);
    bytes.append(data, '\0');
    std::filesystem::create_directories(path.parent_path());
    WriteFileBytes(path, bytes);
    return path;
  }

  // The file list's rows as "text|size" and the row of `text`.
  QStringList Rows() const {
    QStringList rows;
    for (int i = 0; i < form_->lsvFiles()->topLevelItemCount(); ++i) {
      QTreeWidgetItem* row = form_->lsvFiles()->topLevelItem(i);
      rows << row->text(0) + u'|' + row->text(1);
    }
    return rows;
  }
  QTreeWidgetItem* Row(const QString& text) const {
    for (int i = 0; i < form_->lsvFiles()->topLevelItemCount(); ++i)
      if (form_->lsvFiles()->topLevelItem(i)->text(0) == text) return form_->lsvFiles()->topLevelItem(i);
    return nullptr;
  }
  void SelectOnly(const QString& text) {
    form_->lsvFiles()->clearSelection();
    QTreeWidgetItem* row = Row(text);
    ASSERT_NE(row, nullptr) << text.toStdString();
    form_->lsvFiles()->setCurrentItem(row);
    row->setSelected(true);
  }
  // Keys of the directory tree, depth first in display order.
  QStringList NodeKeys() const {
    QStringList keys;
    for (QTreeWidgetItemIterator it(form_->trvDirectory()); *it; ++it)
      keys << (*it)->data(0, kNodeKeyRole).toString();
    return keys;
  }
  QStringList MessageTexts() const {
    QStringList texts;
    for (const ShownMessage& m : ui_.messages()) texts << m.text;
    return texts;
  }

  ScratchDir scratch_;
  ScriptedModalUi ui_;
  std::unique_ptr<ApplicationSetting> settings_;
  std::unique_ptr<QSettings> store_;
  std::unique_ptr<MainForm> form_;
};

}  // namespace sorvel::testing
