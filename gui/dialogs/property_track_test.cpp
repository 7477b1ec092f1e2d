// The track property dialog against its records: gaps in seconds and frames
// with the minutes kept, the two flag bits, the width checks in CP932, the
// question for empty ticked fields, the opening page and the album mode.
#include "gui/dialogs/property_track.h"

#include <gtest/gtest.h>

#include <QCheckBox>
#include <QGroupBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTabBar>

#include "gui/controls/numeric_up_down.h"
#include "gui/model/tazol_records.h"
#include "testing/gui/modal_answer.h"
#include "testing/gui/scripted_modal_ui.h"

namespace sorvel {
namespace {

ISOTrackText Record(const QString& title, bool title_enabled) {
  ISOTrackText text;
  text.Title = title;
  text.TitleEnabled = title_enabled;
  return text;
}

struct GapCase {
  const char* name;
  int32_t pregap;
  int second_shown, frame_shown;
  int second_set, frame_set;
  int32_t stored;
};

class PropertyTrackGapTest : public ::testing::TestWithParam<GapCase> {};

TEST_P(PropertyTrackGapTest, SecondsAndFramesWithTheMinutesKept) {
  const GapCase& c = GetParam();
  ISOTrackData track;
  track.PregapLBA = c.pregap;
  track.PostgapLBA = c.pregap;
  track.TrackControlFlag = 4;
  ISOTrackText english, japanese;
  bool enabled = false;
  testing::ScriptedModalUi ui;
  PropertyTrack form;
  form.Load(&track, enabled, english, japanese);
  EXPECT_EQ(form.nudPregapSecond()->Value(), c.second_shown);
  EXPECT_EQ(form.nudPregapFrame()->Value(), c.frame_shown);
  EXPECT_EQ(form.nudPostgapSecond()->Value(), c.second_shown);
  EXPECT_EQ(form.nudPostgapFrame()->Value(), c.frame_shown);
  form.nudPregapSecond()->setValue(c.second_set);
  form.nudPregapFrame()->setValue(c.frame_set);
  form.cmdOK()->click();
  ASSERT_TRUE(form.Confirmed());
  form.Store(&track, enabled, english, japanese);
  EXPECT_EQ(track.PregapLBA, c.stored);
  EXPECT_EQ(track.PostgapLBA, c.pregap);
  EXPECT_EQ(track.TrackControlFlag, 4);
  EXPECT_TRUE(ui.messages().isEmpty());
}

INSTANTIATE_TEST_SUITE_P(Gaps, PropertyTrackGapTest,
                         ::testing::Values(GapCase{"TwoSeconds", 150, 2, 0, 2, 74, 224},
                                           GapCase{"Zero", 0, 0, 0, 0, 0, 0},
                                           GapCase{"MinuteKept", 4500 + 150 + 10, 2, 10, 2, 10, 4660},
                                           GapCase{"MinuteKeptWhenEdited", 2 * 4500 + 74, 0, 74, 59, 0, 9000 + 4425}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(PropertyTrack, FlagBitsFollowTheBoxesOtherBitsStay) {
  for (int flag = 0; flag < 8; ++flag) {
    ISOTrackData track;
    track.TrackControlFlag = flag | 0x10;
    ISOTrackText english, japanese;
    bool enabled = false;
    PropertyTrack form;
    form.Load(&track, enabled, english, japanese);
    EXPECT_EQ(form.chkPreemphasis()->isChecked(), (flag & 1) != 0);
    // Ticked: copying not permitted, the flag bit 2 clear.
    EXPECT_EQ(form.chkCopypemitterd()->isChecked(), (flag & 2) == 0);
    form.chkPreemphasis()->setChecked((flag & 1) == 0);
    form.chkCopypemitterd()->setChecked((flag & 2) != 0);
    form.cmdOK()->click();
    form.Store(&track, enabled, english, japanese);
    EXPECT_EQ(track.TrackControlFlag, (flag ^ 3) | 0x10) << flag;
  }
}

struct WidthCase {
  const char* name;
  int page;
  const char16_t* text;
  int field;
  const char* message;  // "" when accepted
};

class PropertyTrackWidthTest : public ::testing::TestWithParam<WidthCase> {};

// The checks run whatever the CD-Text and language boxes say; here CD-Text is off.
TEST_P(PropertyTrackWidthTest, WidthChecks) {
  const WidthCase& c = GetParam();
  ISOTrackData track;
  ISOTrackText english = Record(QStringLiteral("Keep"), true);
  ISOTrackText japanese;
  const ISOTrackText english_before = english;
  bool enabled = false;
  testing::ScriptedModalUi ui;
  PropertyTrack form;
  form.Load(&track, enabled, english, japanese);
  form.txtTitle(0)->clear();
  form.chkTitle(0)->setChecked(false);
  form.txtField(c.page, c.field)->setText(QString::fromUtf16(c.text));
  form.cmdOK()->click();
  if (*c.message == 0) {
    EXPECT_TRUE(form.Confirmed());
    EXPECT_TRUE(ui.messages().isEmpty());
    form.Store(&track, enabled, english, japanese);
    // CD-Text off: the records come back as they went in.
    EXPECT_FALSE(enabled);
    EXPECT_EQ(english.Title, english_before.Title);
    EXPECT_TRUE(english.TitleEnabled);
    return;
  }
  EXPECT_FALSE(form.Confirmed());
  ASSERT_EQ(ui.messages().size(), 1);
  EXPECT_EQ(ui.messages()[0].text, QString::fromUtf8(c.message));
  EXPECT_EQ(ui.messages()[0].style, 48);
  EXPECT_EQ(ui.messages()[0].caption, QString());
  // Everything stays as typed.
  EXPECT_EQ(form.txtField(c.page, c.field)->text(), QString::fromUtf16(c.text));
}

const char kHalf[] = "英名は半角で入力してください。";
const char kFull[] = "和名は全角で入力してください。";

INSTANTIATE_TEST_SUITE_P(
    Widths, PropertyTrackWidthTest,
    ::testing::Values(WidthCase{"AsciiEnglish", 0, u"Song 1", 0, ""},
                      WidthCase{"HalfWidthKatakanaEnglish", 0, u"ｿﾝｸﾞ", 1, ""},
                      WidthCase{"FullWidthInEnglish", 0, u"Ａbc", 2, kHalf},
                      WidthCase{"BlanksInEnglish", 0, u"   ", 3, kHalf},
                      WidthCase{"NotInCp932English", 0, u"Caf\u00e9", 5, kHalf},
                      WidthCase{"KanjiJapanese", 1, u"曲名　一", 0, ""},
                      WidthCase{"HalfSpaceInJapanese", 1, u"曲 名", 0, kFull},
                      WidthCase{"AsciiInJapanese", 1, u"曲A", 4, kFull},
                      WidthCase{"NotInCp932Japanese", 1, u"曲\uD55C", 1, kFull}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(PropertyTrack, EmptyTickedFieldsAskOnceWithTheirNames) {
  ISOTrackData track;
  ISOTrackText english = Record(QString(), true);
  ISOTrackText japanese = Record(QString(), true);
  japanese.ArrangerEnabled = true;
  bool enabled = true;
  testing::ScriptedModalUi ui;
  PropertyTrack form;
  form.Load(&track, enabled, english, japanese);
  ui.QueueAnswer(kIdNo);
  form.cmdOK()->click();
  EXPECT_FALSE(form.Confirmed());
  ASSERT_EQ(ui.messages().size(), 1);
  EXPECT_EQ(ui.messages()[0].text, QStringLiteral("Title、曲名、編曲者が入力されていませんが、宜しいですか。"));
  EXPECT_EQ(ui.messages()[0].style, 308);
  EXPECT_EQ(ui.messages()[0].caption, QString());
  ui.QueueAnswer(kIdYes);
  form.cmdOK()->click();
  EXPECT_TRUE(form.Confirmed());
}

TEST(PropertyTrack, StoreTrimsAndAnUnusedLanguageClearsItsFlags) {
  ISOTrackData track;
  ISOTrackText english = Record(QStringLiteral("A"), true);
  ISOTrackText japanese = Record(QStringLiteral("曲"), true);
  bool enabled = true;
  PropertyTrack form;
  form.Load(&track, enabled, english, japanese);
  EXPECT_TRUE(form.chkLanguage(0)->isChecked());
  form.txtTitle(0)->setText(QStringLiteral("  Title  "));
  form.chkPerformer(0)->setChecked(true);
  form.txtPerformer(0)->setText(QStringLiteral("Band"));
  form.chkLanguage(1)->setChecked(false);
  form.cmdOK()->click();
  ASSERT_TRUE(form.Confirmed());
  form.Store(&track, enabled, english, japanese);
  EXPECT_TRUE(enabled);
  EXPECT_EQ(english.Title, QStringLiteral("Title"));
  EXPECT_EQ(english.Performer, QStringLiteral("Band"));
  EXPECT_TRUE(english.TitleEnabled && english.PerformerEnabled);
  EXPECT_EQ(japanese.Title, QStringLiteral("曲"));
  EXPECT_FALSE(japanese.LanguageEnabled());
}

TEST(PropertyTrack, EnablingFollowsTheBoxes) {
  ISOTrackData track;
  ISOTrackText english = Record(QStringLiteral("A"), true);
  ISOTrackText japanese;
  bool enabled = false;
  PropertyTrack form;
  form.Load(&track, enabled, english, japanese);
  EXPECT_FALSE(form.chkLanguage(0)->isEnabled());
  EXPECT_TRUE(form.chkTitle(0)->isEnabled());
  EXPECT_TRUE(form.txtTitle(0)->isEnabled());
  EXPECT_FALSE(form.txtPerformer(0)->isEnabled());
  EXPECT_FALSE(form.chkTitle(1)->isEnabled());
  form.chkCDText()->click();
  EXPECT_TRUE(form.chkLanguage(0)->isEnabled());
  form.chkPerformer(0)->click();
  EXPECT_TRUE(form.txtPerformer(0)->isEnabled());
  form.chkLanguage(1)->click();
  EXPECT_TRUE(form.chkTitle(1)->isEnabled());
  EXPECT_FALSE(form.txtTitle(1)->isEnabled());
  // The English page is shown first.
  EXPECT_EQ(form.tabLanguage()->currentIndex(), 0);
  EXPECT_FALSE(form.fraLanguage(1)->isVisibleTo(&form));
  EXPECT_TRUE(form.fraLanguage(0)->isVisibleTo(&form));
}

TEST(PropertyTrack, JapaneseInUseOpensOnItsPage) {
  ISOTrackData track;
  ISOTrackText english = Record(QStringLiteral("A"), true);
  ISOTrackText japanese = Record(QStringLiteral("曲"), true);
  bool enabled = true;
  testing::WhenModalShown([](QWidget* w) {
    auto* form = qobject_cast<PropertyTrack*>(w);
    ASSERT_NE(form, nullptr);
    EXPECT_EQ(form->tabLanguage()->currentIndex(), 1);
    EXPECT_EQ(form->tabLanguage()->tabText(1), QStringLiteral("日本語"));
    EXPECT_TRUE(form->fraLanguage(1)->isVisible());
    EXPECT_FALSE(form->fraLanguage(0)->isVisible());
    form->txtTitle(1)->setText(QStringLiteral("変更"));
    form->close();
  });
  EXPECT_FALSE(PropertyTrack::ShowOpen(&track, enabled, english, japanese));
  EXPECT_EQ(japanese.Title, QStringLiteral("曲"));
}

TEST(PropertyTrack, AlbumModeIsShorterAndLeavesTheTrackNull) {
  ISOTrackData track;
  ISOTrackText english, japanese;
  bool enabled = false;
  int track_height = 0;
  testing::WhenModalShown([&track_height](QWidget* w) {
    auto* form = qobject_cast<PropertyTrack*>(w);
    ASSERT_NE(form, nullptr);
    EXPECT_EQ(form->windowTitle(), QStringLiteral("トラックの設定"));
    track_height = form->height();
    form->cmdCancel()->click();
  });
  EXPECT_FALSE(PropertyTrack::ShowOpen(&track, enabled, english, japanese));
  testing::WhenModalShown([track_height](QWidget* w) {
    auto* form = qobject_cast<PropertyTrack*>(w);
    ASSERT_NE(form, nullptr);
    EXPECT_EQ(form->windowTitle(), QStringLiteral("アルバムの設定"));
    EXPECT_FALSE(form->fraAttribute()->isVisible());
    EXPECT_LT(form->height(), track_height);
    form->chkCDText()->click();
    form->chkLanguage(0)->click();
    form->chkTitle(0)->click();
    form->txtTitle(0)->setText(QStringLiteral("Album"));
    form->cmdOK()->click();
  });
  EXPECT_TRUE(PropertyTrack::ShowOpen(nullptr, enabled, english, japanese));
  EXPECT_TRUE(enabled);
  EXPECT_EQ(english.Title, QStringLiteral("Album"));
  EXPECT_TRUE(english.TitleEnabled);
}

}  // namespace
}  // namespace sorvel
