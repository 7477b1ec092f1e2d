// Pictures of the file and track property dialogs and the missing-files list.
#include <gtest/gtest.h>

#include "gui/dialogs/list_status_form.h"
#include "gui/dialogs/property_iso_file.h"
#include "gui/dialogs/property_track.h"
#include "gui/model/tazol_records.h"
#include "testing/gui/screenshot.h"

namespace sorvel {
namespace {

TEST(DialogsScreenshot, PropertyISOFile) {
  ISOFindFile record;
  record.Name = QStringLiteral("音楽メモ.txt");
  record.OriginalFileName = QStringLiteral("/home/user/文書/音楽メモ.txt");
  record.Size = 1234567;
  record.FileAttribute = 2;
  record.TimeStamp = QDateTime(QDate(2024, 5, 6), QTime(7, 8, 9));
  PropertyISOFile form;
  form.Load(false, record, QStringLiteral("\\DOCS\\"));
  EXPECT_FALSE(testing::SaveScreenshot(&form, QStringLiteral("PropertyISOFile")).isEmpty());
}

TEST(DialogsScreenshot, ListStatusForm) {
  ListStatusForm form;
  form.Load(QStringLiteral("プロジェクトを読み込みましたが、以下のファイルについては存在が確認できないため、構造領域に配置"
                           "できませんでした。"),
            {QStringLiteral("/home/user/音楽/01 はじまり.wav"), QStringLiteral("/home/user/音楽/02 つづき.mp3"),
             QStringLiteral("/media/disc/data/a very long path name that needs a horizontal scroll bar to read.bin")});
  EXPECT_FALSE(testing::SaveScreenshot(&form, QStringLiteral("ListStatusForm")).isEmpty());
}

TEST(DialogsScreenshot, PropertyTrack) {
  ISOTrackData track;
  track.WaveFileName = QStringLiteral("/home/user/音楽/01.wav");
  track.PregapLBA = 150;
  track.PostgapLBA = 37;
  track.TrackControlFlag = 1;
  ISOTrackText english;
  english.Title = QStringLiteral("First Light");
  english.Performer = QStringLiteral("The Quartet");
  english.TitleEnabled = english.PerformerEnabled = true;
  ISOTrackText japanese;
  PropertyTrack form;
  form.Load(&track, true, english, japanese);
  EXPECT_FALSE(testing::SaveScreenshot(&form, QStringLiteral("PropertyTrack")).isEmpty());
}

TEST(DialogsScreenshot, PropertyTrackAlbum) {
  ISOTrackText english;
  english.Title = QStringLiteral("Morning Songs");
  english.TitleEnabled = true;
  ISOTrackText japanese;
  japanese.Title = QStringLiteral("朝の歌");
  japanese.Performer = QStringLiteral("四重奏団");
  japanese.TitleEnabled = japanese.PerformerEnabled = true;
  PropertyTrack form;
  form.Load(nullptr, true, english, japanese);
  EXPECT_FALSE(testing::SaveScreenshot(&form, QStringLiteral("PropertyTrack-Album")).isEmpty());
}

}  // namespace
}  // namespace sorvel
