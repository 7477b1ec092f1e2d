// Qt's own texts in Japanese: the standard buttons of the message boxes and
// the file dialog's buttons and labels, from the installed catalogue.
#include "gui/foundation/qt_translations.h"

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QDialogButtonBox>
#include <QLabel>
#include <QPushButton>

#include "gui/foundation/file_dialog.h"
#include "gui/foundation/message_box.h"
#include "gui/foundation/modal_ui.h"

namespace sorvel {
namespace {

struct ButtonCase {
  int style;
  int id;
  const char* text;
};

TEST(QtJapaneseTextsTest, MessageBoxButtonsReadJapanese) {
  QtJapaneseTexts texts;
  ASSERT_TRUE(texts.installed()) << "Qt's Japanese translations (qt6-translations-l10n) are missing";
  for (const ButtonCase& c : {ButtonCase{36, kIdYes, "はい"}, ButtonCase{36, kIdNo, "いいえ"},
                              ButtonCase{292, kIdYes, "はい"}, ButtonCase{64, kIdOk, "OK"},
                              ButtonCase{1, kIdCancel, "キャンセル"}, ButtonCase{2, kIdAbort, "中止"},
                              ButtonCase{2, kIdRetry, "再試行"}, ButtonCase{2, kIdIgnore, "無視"}}) {
    CenteredMessageBox box(nullptr, QStringLiteral("本文"), c.style, QStringLiteral("題"));
    QAbstractButton* button = box.ButtonOf(c.id);
    ASSERT_NE(button, nullptr) << c.style << " " << c.id;
    EXPECT_EQ(QString(button->text()).remove(QLatin1Char('&')).section(QLatin1Char('('), 0, 0),
              QString::fromUtf8(c.text))
        << button->text().toStdString();
  }
}

TEST(QtJapaneseTextsTest, FileDialogReadsJapaneseAndEnglishComesBackWithoutTheCatalogue) {
  QStringList japanese;
  {
    QtJapaneseTexts texts;
    ASSERT_TRUE(texts.installed());
    auto dialog = MakeFileDialog(nullptr, FileDialogKind::kOpen, QStringLiteral("全て (*.*)|*.*"), QString(), 0);
    for (QPushButton* button : dialog->findChildren<QPushButton*>()) japanese << button->text();
    for (QLabel* label : dialog->findChildren<QLabel*>()) japanese << label->text();
    EXPECT_TRUE(japanese.contains(QStringLiteral("キャンセル"))) << japanese.join(u'|').toStdString();
  }
  CenteredMessageBox box(nullptr, QStringLiteral("本文"), 36, QStringLiteral("題"));
  EXPECT_EQ(QString(box.ButtonOf(kIdYes)->text()).remove(QLatin1Char('&')), QStringLiteral("Yes"));
}

}  // namespace
}  // namespace sorvel
