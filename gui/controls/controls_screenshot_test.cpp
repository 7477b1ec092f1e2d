// Each control in a small harness window, for people to look at.
#include <gtest/gtest.h>

#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QVBoxLayout>

#include "gui/controls/circle_graph.h"
#include "gui/controls/gradient_frame.h"
#include "gui/controls/numeric_up_down.h"
#include "gui/controls/splitter.h"
#include "gui/controls/view_box.h"
#include "testing/gui/screenshot.h"

namespace sorvel {
namespace {

QFont JapaneseFont(int points) {
  QFont font(QStringLiteral("Noto Sans CJK JP"));
  font.setPointSize(points);
  return font;
}

TEST(ControlsScreenshotTest, NumericUpDown) {
  QWidget window;
  window.setWindowTitle(QStringLiteral("NumericUpDown"));
  auto* layout = new QVBoxLayout(&window);
  struct Row {
    const char* label;
    qint32 min, max, value, align;
    bool locked;
  };
  const Row rows[] = {
      {"リトライ回数", 0, 255, 20, 1, false},
      {"ポート番号", 0, 65535, 5000, 0, false},
      {"マージン", -150, 0, -75, 2, true},
  };
  for (const Row& row : rows) {
    auto* line = new QHBoxLayout;
    auto* label = new QLabel(QString::fromUtf8(row.label));
    label->setFont(JapaneseFont(9));
    line->addWidget(label);
    auto* box = new NumericUpDown;
    box->readProperties(PropertyBag{{"TextAlign", row.align},
                                    {"Font", JapaneseFont(9)},
                                    {"Locked", row.locked},
                                    {"Max", row.max},
                                    {"Min", row.min},
                                    {"Value", row.value}});
    box->setFixedSize(120, 24);
    line->addWidget(box);
    layout->addLayout(line);
  }
  window.resize(280, 120);
  testing::SaveScreenshot(&window, QStringLiteral("NumericUpDown"));
}

TEST(ControlsScreenshotTest, GradientFrame) {
  QWidget window;
  window.setWindowTitle(QStringLiteral("GradientFrame"));
  auto* title = new GradientFrame(&window);
  title->setObjectName(QStringLiteral("fraTitle"));
  title->setGeometry(0, 0, 480, 60);
  title->readProperties(PropertyBag{{"StartColor", 0x80000008},
                                    {"EndColor", 0x8000000F},
                                    {"Orientation", 2},
                                    {"BorderStyle", 0},
                                    {"Enabled", true},
                                    {"Position", 0},
                                    {"AnimationWait", 0},
                                    {"AnimationScale", 50}});
  auto* caption = new QLabel(QStringLiteral("イメージファイルの書き込み"), title);
  QFont caption_font = JapaneseFont(14);
  caption_font.setBold(true);
  caption->setFont(caption_font);
  caption->setStyleSheet(QStringLiteral("color: white"));
  caption->move(12, 8);
  auto* band = new GradientFrame(&window);
  band->setGeometry(0, 70, 480, 60);
  band->initProperties();
  band->setStartColor(0x00C0C0);
  band->setEndColor(0x800000);
  band->setPosition(3600);
  window.resize(480, 140);
  testing::SaveScreenshot(&window, QStringLiteral("GradientFrame"));
}

TEST(ControlsScreenshotTest, Splitter) {
  QWidget window;
  window.setWindowTitle(QStringLiteral("Splitter"));
  window.resize(480, 360);
  auto* splMain = new Splitter(&window);
  splMain->setObjectName(QStringLiteral("splMain"));
  splMain->setGeometry(0, 0, 480, 360);
  auto* splSub = new Splitter(splMain);
  splSub->setObjectName(QStringLiteral("splSub"));
  splSub->setGeometry(0, 0, 480, 200);
  auto* tracks = new QListWidget(splMain);
  tracks->move(0, 250);
  tracks->addItems({QStringLiteral("01  音楽トラック"), QStringLiteral("02  二曲目")});
  auto* tree = new QListWidget(splSub);
  tree->addItems({QStringLiteral("\\"), QStringLiteral("\\資料\\")});
  auto* files = new QListWidget(splSub);
  files->move(200, 0);
  files->addItems({QStringLiteral("報告書.txt"), QStringLiteral("写真.jpg")});
  for (QListWidget* list : {tracks, tree, files}) list->setFont(JapaneseFont(9));
  splSub->readProperties(PropertyBag{{"Orientation", 1}, {"SplitterPoint", 2400.0}, {"SplitterSize", 60.0}});
  splMain->readProperties(PropertyBag{{"Orientation", 0}, {"SplitterPoint", 3300.0}, {"SplitterSize", 60.0}});
  testing::SaveScreenshot(&window, QStringLiteral("Splitter"));
}

TEST(ControlsScreenshotTest, ViewBox) {
  QWidget window;
  window.setWindowTitle(QStringLiteral("ViewBox"));
  auto* view = new ViewBox(&window);
  view->setObjectName(QStringLiteral("vbxMain"));
  view->setGeometry(8, 8, 464, 184);
  view->readProperties(PropertyBag{{"MaxLine", 8192},
                                   {"Locked", false},
                                   {"Font", JapaneseFont(9)},
                                   {"BackColor", 0},
                                   {"ForeColor", 0xFFFFFF},
                                   {"Appearance", 1},
                                   {"BorderStyle", 1}});
  const char* lines[] = {"ドライブを初期化しています...",    "ディスクの情報を取得しています。",
                         "トラック 01 を書き込んでいます。", "書き込みが完了しました。",
                         "ベリファイを開始します。",         "ベリファイが完了しました。エラーはありません。"};
  for (const char* line : lines) view->LineOut(QString::fromUtf8(line));
  window.resize(480, 200);
  testing::SaveScreenshot(&window, QStringLiteral("ViewBox"));
}

TEST(ControlsScreenshotTest, CircleGraph) {
  QWidget window;
  window.setWindowTitle(QStringLiteral("CircleGraph"));
  auto* layout = new QHBoxLayout(&window);
  for (qint32 value : {0, 83250, 219780, 333000}) {
    auto* graph = new CircleGraph;
    graph->setFixedSize(120, 120);
    graph->readProperties(PropertyBag{{"Min", 0},
                                      {"Max", 333000},
                                      {"Value", value},
                                      {"ForeColor", 0xC0C000},
                                      {"BackColor", 0x8000000F},
                                      {"GraphTrueColor", 0xC0C000},
                                      {"GraphFalseColor", 0xFFFF80}});
    layout->addWidget(graph);
  }
  window.resize(540, 140);
  testing::SaveScreenshot(&window, QStringLiteral("CircleGraph"));
}

}  // namespace
}  // namespace sorvel
