// The file property dialog against its record: what OK, cancel and the close
// box leave in it, the kinds of entry, the dummy mode and the date range.
#include "gui/dialogs/property_iso_file.h"

#include <gtest/gtest.h>

#include <QCheckBox>
#include <QDateTimeEdit>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

#include "gui/controls/numeric_up_down.h"
#include "gui/model/tazol_records.h"
#include "testing/gui/modal_answer.h"
#include "testing/gui/scripted_modal_ui.h"

namespace sorvel {
namespace {

const QDateTime kStamp(QDate(2001, 2, 3), QTime(4, 5, 6));
const QDateTime kPicked(QDate(2020, 7, 8), QTime(9, 10, 11));

ISOFindFile FileRecord(int16_t attribute) {
  ISOFindFile record;
  record.Name = QStringLiteral("読んでね.txt");
  record.OriginalFileName = QStringLiteral("/home/user/読んでね.txt");
  record.FileAttribute = attribute;
  record.Size = -1073741824;  // 3 GiB taken as unsigned
  record.TimeStamp = kStamp;
  return record;
}

struct EndCase {
  const char* name;
  int16_t attribute;
  bool tick_hidden;
  enum { kOk, kCancel, kClose, kEscape } end;
  bool confirmed;
  int16_t attribute_after;
};

class PropertyEndTest : public ::testing::TestWithParam<EndCase> {};

TEST_P(PropertyEndTest, RecordAfterTheDialog) {
  const EndCase& c = GetParam();
  ISOFindFile record = FileRecord(c.attribute);
  const ISOFindFile before = record;
  testing::WhenModalShown([&c](QWidget* w) {
    auto* form = qobject_cast<PropertyISOFile*>(w);
    ASSERT_NE(form, nullptr);
    EXPECT_EQ(form->chkHidden()->isChecked(), (c.attribute & 2) != 0);
    form->dtpFileTimestamp()->setDateTime(kPicked);
    form->chkHidden()->setChecked(c.tick_hidden);
    switch (c.end) {
      case EndCase::kOk: form->cmdOK()->click(); break;
      case EndCase::kCancel: form->cmdCancel()->click(); break;
      case EndCase::kClose: form->close(); break;
      case EndCase::kEscape: QTest::keyClick(form, Qt::Key_Escape); break;
    }
  });
  EXPECT_EQ(PropertyISOFile::ShowOpen(false, record, QStringLiteral("\\A\\"), nullptr), c.confirmed);
  EXPECT_EQ(record.Name, before.Name);
  EXPECT_EQ(record.OriginalFileName, before.OriginalFileName);
  EXPECT_EQ(record.Size, before.Size);
  EXPECT_EQ(record.FileAttribute, c.attribute_after);
  EXPECT_EQ(record.TimeStamp, c.confirmed ? kPicked : kStamp);
}

INSTANTIATE_TEST_SUITE_P(
    Ends, PropertyEndTest,
    ::testing::Values(EndCase{"OkHides", 0, true, EndCase::kOk, true, 2},
                      EndCase{"OkDropsOtherBits", 0x23, true, EndCase::kOk, true, 2},
                      EndCase{"OkUnhidesAndDropsBits", 0x21, false, EndCase::kOk, true, 0},
                      EndCase{"CancelKeepsAll", 0x23, false, EndCase::kCancel, false, 0x23},
                      EndCase{"CloseBoxIsCancel", 2, false, EndCase::kClose, false, 2},
                      EndCase{"EscapeIsCancel", 0, true, EndCase::kEscape, false, 0}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(PropertyISOFileTest, FileAndDirectoryShowTheirKindAndSize) {
  PropertyISOFile form;
  form.Load(false, FileRecord(0), QStringLiteral("\\A\\"));
  EXPECT_EQ(form.windowTitle(), QStringLiteral("ファイルのプロパティ"));
  EXPECT_EQ(form.lblFileType()->text(), QStringLiteral("ファイル"));
  EXPECT_EQ(form.lblPath()->text(), QStringLiteral("\\A\\"));
  EXPECT_EQ(form.lblFileSize()->text(), QStringLiteral("3,221,225,472 バイト"));
  EXPECT_TRUE(form.txtFileName()->isReadOnly());
  EXPECT_TRUE(form.txtOriginalFileName()->isReadOnly());
  EXPECT_FALSE(form.nudFileSize()->isEnabled());
  EXPECT_TRUE(form.lblFileSize()->isVisibleTo(&form));
  EXPECT_FALSE(form.nudFileSize()->isVisibleTo(&form));

  ISOFindFile directory = FileRecord(2);
  directory.IsDirectory = true;
  form.Load(false, directory, QStringLiteral("\\"));
  EXPECT_EQ(form.lblFileType()->text(), QStringLiteral("ディレクトリ"));
  EXPECT_FALSE(form.lblFileSize()->isVisibleTo(&form));
  EXPECT_TRUE(form.chkHidden()->isChecked());
}

// OK without an edit hands the stamp back exactly as it came, across the
// picker's whole range (1601-01-01 to 9999-12-31); an edit hands back the
// picked date; the picker refuses dates beyond its range.
TEST(PropertyISOFileTest, OkWithoutAnEditKeepsTheStampExactly) {
  const QDateTime stamps[] = {
      QDateTime(QDate(1965, 1, 1), QTime(0, 0)),
      QDateTime(QDate(2100, 1, 1), QTime(0, 0)),
      QDateTime(QDate(1601, 1, 1), QTime(0, 0)),
      QDateTime(QDate(9999, 12, 31), QTime(23, 59, 59)),
      QDateTime(QDate(1901, 12, 13), QTime(20, 45, 52)),
      QDateTime(QDate(2038, 1, 19), QTime(3, 14, 8), Qt::UTC),
      QDateTime(QDate(2001, 2, 3), QTime(4, 5, 6, 789)),
  };
  for (const QDateTime& stamp : stamps) {
    SCOPED_TRACE(stamp.toString(Qt::ISODateWithMs).toStdString());
    ISOFindFile record = FileRecord(0);
    record.TimeStamp = stamp;
    testing::WhenModalShown([&](QWidget* w) {
      auto* form = qobject_cast<PropertyISOFile*>(w);
      ASSERT_NE(form, nullptr);
      EXPECT_EQ(form->dtpFileTimestamp()->date(), stamp.toLocalTime().date());
      form->cmdOK()->click();
    });
    ASSERT_TRUE(PropertyISOFile::ShowOpen(false, record, QStringLiteral("\\"), nullptr));
    EXPECT_EQ(record.TimeStamp, stamp);
    EXPECT_EQ(record.TimeStamp.timeSpec(), stamp.timeSpec());
    EXPECT_EQ(record.TimeStamp.time().msec(), stamp.time().msec());
  }

  PropertyISOFile form;
  form.Load(false, FileRecord(0), QStringLiteral("\\"));
  EXPECT_EQ(form.dtpFileTimestamp()->displayFormat(), QStringLiteral("yyyy/MM/dd HH:mm:ss"));
  EXPECT_EQ(form.dtpFileTimestamp()->minimumDateTime(), QDateTime(QDate(1601, 1, 1), QTime(0, 0)));
  EXPECT_EQ(form.dtpFileTimestamp()->maximumDateTime(), QDateTime(QDate(9999, 12, 31), QTime(23, 59, 59)));
  const QDateTime edited(QDate(1700, 6, 7), QTime(8, 9, 10));
  form.dtpFileTimestamp()->setDateTime(edited);
  ISOFindFile out = FileRecord(0);
  form.Store(out);
  EXPECT_EQ(out.TimeStamp, edited);
  form.dtpFileTimestamp()->setDateTime(QDateTime(QDate(1500, 1, 1), QTime(0, 0)));
  EXPECT_EQ(form.dtpFileTimestamp()->dateTime(), QDateTime(QDate(1601, 1, 1), QTime(0, 0)));
}

TEST(PropertyISOFileTest, DummyModeTakesNameAndSizeAndRefusesAnEmptyName) {
  testing::ScriptedModalUi ui;
  ISOFindFile record;
  testing::WhenModalShown([&ui](QWidget* w) {
    auto* form = qobject_cast<PropertyISOFile*>(w);
    ASSERT_NE(form, nullptr);
    EXPECT_EQ(form->windowTitle(), QStringLiteral("ダミーファイルのプロパティ"));
    EXPECT_FALSE(form->txtFileName()->isReadOnly());
    EXPECT_TRUE(form->nudFileSize()->isEnabled());
    EXPECT_LE(std::abs(form->dtpFileTimestamp()->dateTime().secsTo(QDateTime::currentDateTime())), 5);
    form->txtFileName()->setText(QStringLiteral("   "));
    form->cmdOK()->click();
    ASSERT_EQ(ui.messages().size(), 1);
    EXPECT_EQ(ui.messages()[0].text, QStringLiteral("ファイル名が入力されていません。"));
    EXPECT_EQ(ui.messages()[0].style, 48);
    EXPECT_EQ(ui.messages()[0].caption, QStringLiteral("ダミーファイルのプロパティ"));
    EXPECT_TRUE(form->isVisible());
    form->txtFileName()->setText(QStringLiteral(" pad.bin "));
    form->nudFileSize()->setValue(4096);
    form->cmdOK()->click();
  });
  ASSERT_TRUE(PropertyISOFile::ShowOpen(true, record, QStringLiteral("\\"), nullptr));
  EXPECT_EQ(record.Name, QStringLiteral("pad.bin"));
  EXPECT_EQ(record.Size, 4096);
  EXPECT_EQ(record.FileAttribute, 0);
}

TEST(FormatGroupedTest, GroupsByThreeWithCommas) {
  EXPECT_EQ(FormatGrouped(0), QStringLiteral("0"));
  EXPECT_EQ(FormatGrouped(999), QStringLiteral("999"));
  EXPECT_EQ(FormatGrouped(1000), QStringLiteral("1,000"));
  EXPECT_EQ(FormatGrouped(719694), QStringLiteral("719,694"));
  EXPECT_EQ(FormatGrouped(4294967295LL), QStringLiteral("4,294,967,295"));
  EXPECT_EQ(FormatGrouped(-1234), QStringLiteral("-1,234"));
}

}  // namespace
}  // namespace sorvel
