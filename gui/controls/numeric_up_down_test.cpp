#include "gui/controls/numeric_up_down.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QClipboard>
#include <QInputMethodEvent>
#include <QSignalSpy>
#include <QTest>
#include <memory>

namespace sorvel {
namespace {

class NumericUpDownTest : public ::testing::Test {
 protected:
  void SetUp() override {
    window.resize(300, 80);
    box = new NumericUpDown(&window);
    box->setGeometry(10, 10, 120, 24);
    other = new QLineEdit(&window);
    other->setGeometry(10, 40, 120, 24);
    box->setMax(100);
    box->setMin(0);
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    txt = box->txtMain();
    spy = std::make_unique<QSignalSpy>(box, &NumericUpDown::Change);
  }
  void Focus(QWidget* widget) {
    window.activateWindow();
    widget->setFocus(Qt::TabFocusReason);
    QApplication::processEvents();
  }
  void Type(const QString& keys) {
    txt->selectAll();
    QTest::keyClicks(txt, keys);
  }
  void Paste(const QString& text) {
    QApplication::clipboard()->setText(text);
    QTest::keySequence(txt, QKeySequence::Paste);
  }

  QWidget window;
  NumericUpDown* box = nullptr;
  QLineEdit* other = nullptr;
  QLineEdit* txt = nullptr;
  std::unique_ptr<QSignalSpy> spy;
};

TEST_F(NumericUpDownTest, SettingTheValueClampsToMaxThenMin) {
  struct Case {
    qint32 min, max, asked, expected;
  };
  for (const Case& c : {Case{0, 100, 150, 100}, Case{0, 100, -5, 0}, Case{10, 5, 7, 10}, Case{10, 5, 100, 10},
                        Case{-150, 0, -75, -75}}) {
    box->setMax(c.max);
    box->setMin(c.min);
    box->setValue(c.asked);
    EXPECT_EQ(box->Value(), c.expected) << c.min << ".." << c.max << " " << c.asked;
    EXPECT_EQ(txt->text(), QString::number(c.expected));
  }
}

TEST_F(NumericUpDownTest, TypingFilterDropsLettersAndBlanks) {
  box->setMax(99999);
  Focus(txt);
  txt->clear();
  spy->clear();
  QTest::keyClicks(txt, "1a 2-b3");
  EXPECT_EQ(txt->text(), "12-3");
  EXPECT_EQ(spy->count(), 4);
  QTest::keyClick(txt, Qt::Key_Backspace);
  EXPECT_EQ(txt->text(), "12-");
  // A double-byte character of the Japanese code page passes; a character the
  // code page holds in one byte (half-width katakana) does not.
  txt->clear();
  for (QString key : {QStringLiteral("１"), QStringLiteral("ｱ"), QStringLiteral("é"), QStringLiteral("神")}) {
    QKeyEvent press(QEvent::KeyPress, 0, Qt::NoModifier, key);
    QApplication::sendEvent(txt, &press);
  }
  EXPECT_EQ(txt->text(), QStringLiteral("１神"));
}

TEST_F(NumericUpDownTest, InputMethodCommitsPass) {
  Focus(txt);
  txt->clear();
  QInputMethodEvent commit;
  commit.setCommitString(QStringLiteral("５０"));
  QApplication::sendEvent(txt, &commit);
  EXPECT_EQ(txt->text(), QStringLiteral("５０"));
  EXPECT_EQ(box->updMain()->value(), 0);  // not a number: reads 0
}

TEST_F(NumericUpDownTest, TextChangesRaiseChangeOnceEvenWhenTheValueStays) {
  box->setValue(5);
  spy->clear();
  Focus(txt);
  txt->setCursorPosition(0);
  QTest::keyClick(txt, Qt::Key_0);  // "05"
  EXPECT_EQ(txt->text(), "05");
  EXPECT_EQ(spy->count(), 1);
  EXPECT_EQ(box->updMain()->value(), 5);
  box->setValue(5);  // rewrites "05" as "5"
  EXPECT_EQ(spy->count(), 2);
  box->setValue(5);  // the same text: no change
  EXPECT_EQ(spy->count(), 2);
}

TEST_F(NumericUpDownTest, PastedTextTakesItsLeadingNumber) {
  box->setMax(2147483647);
  Focus(txt);
  txt->selectAll();
  Paste("12abc");
  EXPECT_EQ(txt->text(), "12abc");  // pasted text is not filtered
  EXPECT_EQ(box->updMain()->value(), 12);
  EXPECT_EQ(box->Value(), 12);
  txt->selectAll();
  Paste("  -7x");
  EXPECT_EQ(box->updMain()->value(), 12);  // below Min: the value stays
}

TEST_F(NumericUpDownTest, AnEmptyTextReadsZeroWhenZeroIsInRange) {
  box->setValue(40);
  Focus(txt);
  txt->selectAll();
  QTest::keyClick(txt, Qt::Key_Delete);
  EXPECT_EQ(box->updMain()->value(), 0);
  box->setMin(5);
  box->setValue(7);
  txt->selectAll();
  QTest::keyClick(txt, Qt::Key_Delete);
  EXPECT_EQ(box->updMain()->value(), 7);
}

TEST_F(NumericUpDownTest, LosingTheFocusBringsTheTextIntoRange) {
  box->setMin(10);
  box->setMax(200);
  Focus(txt);
  EXPECT_EQ(txt->selectedText(), txt->text());  // focus selects the whole text
  Type("500");
  EXPECT_EQ(txt->text(), "500");
  spy->clear();
  Focus(other);
  EXPECT_EQ(txt->text(), "200");
  EXPECT_EQ(box->updMain()->value(), 200);
  EXPECT_EQ(spy->count(), 1);
  Focus(txt);
  Type("3");
  Focus(other);
  EXPECT_EQ(txt->text(), "10");
  Focus(txt);
  Type("150");
  Focus(other);
  EXPECT_EQ(txt->text(), "150");
}

TEST_F(NumericUpDownTest, ReadingTheValueReconcilesTheText) {
  box->setMax(26);
  txt->setText("99");
  EXPECT_EQ(box->Value(), 26);
  EXPECT_EQ(txt->text(), "26");
  box->setMax(2147483647);
  txt->setText("9999999999");
  EXPECT_EQ(box->Value(), 2147483647);
  EXPECT_EQ(txt->text(), "2147483647");
}

TEST_F(NumericUpDownTest, LengthLimitFollowsTheRangeAndBindsOnlyTheUser) {
  struct Case {
    qint32 min, max;
    int length;
  };
  for (const Case& c : {Case{0, 2147483647, 10}, Case{-150, 0, 4}, Case{0, 65535, 5}, Case{-2147483647 - 1, 0, 11}}) {
    box->setMax(c.max);
    box->setMin(c.min);
    EXPECT_EQ(box->maxTextLength(), c.length);
  }
  box->setMin(0);
  box->setMax(999);
  Focus(txt);
  Type("12345");
  EXPECT_EQ(txt->text(), "123");
  txt->selectAll();
  Paste("98765abc");
  EXPECT_EQ(txt->text(), "987");
  txt->setCursorPosition(1);
  Paste("55");
  EXPECT_EQ(txt->text(), "987");
  txt->setText("123456789");  // text set by code is never cut
  EXPECT_EQ(txt->text(), "123456789");
  txt->setCursorPosition(9);
  QTest::keyClick(txt, Qt::Key_Backspace);  // shortening stays possible
  EXPECT_EQ(txt->text(), "12345678");
}

TEST_F(NumericUpDownTest, ButtonsStepWithinTheRangeEvenWhenLocked) {
  box->setIncrement(30);
  box->setValue(50);
  box->setLocked(true);
  spy->clear();
  QTest::mouseClick(box->updMain()->upButton(), Qt::LeftButton);
  EXPECT_EQ(box->Value(), 80);
  EXPECT_EQ(txt->text(), "80");
  QTest::mouseClick(box->updMain()->upButton(), Qt::LeftButton);
  EXPECT_EQ(box->Value(), 100);  // stops at the limit
  QTest::mouseClick(box->updMain()->upButton(), Qt::LeftButton);
  EXPECT_EQ(spy->count(), 2);
  Focus(txt);
  QTest::keyClicks(txt, "7");
  EXPECT_EQ(txt->text(), "100");  // typing blocked
  QTest::mouseClick(box->updMain()->downButton(), Qt::LeftButton);
  EXPECT_EQ(box->Value(), 70);
}

TEST_F(NumericUpDownTest, StepsNearTheEndsOfTheIntegerRangeStopAtTheLimit) {
  box->setMax(2147483647);
  box->setMin(-2147483647 - 1);
  box->setIncrement(100);
  box->setValue(2147483600);
  QTest::mouseClick(box->updMain()->upButton(), Qt::LeftButton);
  EXPECT_EQ(box->Value(), 2147483647);
  box->setValue(-2147483600);
  QTest::mouseClick(box->updMain()->downButton(), Qt::LeftButton);
  EXPECT_EQ(box->Value(), -2147483647 - 1);
  EXPECT_EQ(txt->text(), "-2147483648");
}

TEST_F(NumericUpDownTest, ButtonsSitAtTheRightEdge) {
  for (qint32 align : {0, 1}) {
    box->setUpDownAlign(align);
    box->resize(130, 24);
    QApplication::processEvents();
    EXPECT_EQ(box->updMain()->geometry().right(), box->contentsRect().right());
    EXPECT_EQ(txt->geometry().right() + 1, box->updMain()->geometry().left());
  }
  box->setBorderStyle(0);  // the inner area grows to the whole control
  EXPECT_EQ(txt->geometry().topLeft(), QPoint(0, 0));
  EXPECT_EQ(box->updMain()->geometry().right(), box->width() - 1);
}

TEST(NumericUpDownBagTest, RoundTripsAndClampsTheStoredValueToTheStoredRange) {
  NumericUpDown source;
  QFont font("Noto Sans CJK JP", 9);
  source.readProperties(PropertyBag{{"TextAlign", 1},
                                    {"Appearance", 0},
                                    {"BackColor", 0x112233},
                                    {"BorderStyle", 0},
                                    {"Enabled", false},
                                    {"Font", font},
                                    {"ForeColor", static_cast<qint32>(0x80000012)},
                                    {"Locked", true},
                                    {"Max", 500},
                                    {"Min", -20},
                                    {"Increment", 5},
                                    {"Value", 42},
                                    {"UpDownAlign", 0}});
  PropertyBag bag;
  source.writeProperties(bag);
  EXPECT_EQ(bag.keys(), QStringList({"TextAlign", "Appearance", "BackColor", "BorderStyle", "Enabled", "Font",
                                     "ForeColor", "Locked", "Max", "Min", "Increment", "Value", "UpDownAlign"}));
  NumericUpDown copy;
  copy.readProperties(bag);
  EXPECT_EQ(copy.TextAlign(), 1);
  EXPECT_EQ(copy.Appearance(), 0);
  EXPECT_EQ(copy.BackColor(), 0x112233u);
  EXPECT_EQ(copy.BorderStyle(), 0);
  EXPECT_FALSE(copy.Enabled());
  EXPECT_EQ(copy.Font(), font);
  EXPECT_EQ(copy.ForeColor(), 0x80000012u);
  EXPECT_TRUE(copy.Locked());
  EXPECT_EQ(copy.Max(), 500);
  EXPECT_EQ(copy.Min(), -20);
  EXPECT_EQ(copy.Increment(), 5);
  EXPECT_EQ(copy.Value(), 42);
  EXPECT_EQ(copy.UpDownAlign(), 0);
  EXPECT_EQ(copy.txtMain()->alignment() & Qt::AlignHorizontal_Mask, Qt::AlignRight);
  EXPECT_EQ(copy.txtMain()->palette().color(QPalette::Base), QColor(0x33, 0x22, 0x11));

  NumericUpDown clamped;
  clamped.readProperties(PropertyBag{{"max", 26}, {"MIN", 3}, {"value", 99}});
  EXPECT_EQ(clamped.Value(), 26);
  clamped.readProperties(PropertyBag{{"Value", -4}, {"Increment", "many"}});
  EXPECT_EQ(clamped.Value(), 3);
  EXPECT_EQ(clamped.Max(), 26);       // a missing key keeps the property
  EXPECT_EQ(clamped.Increment(), 1);  // a value of the wrong type is skipped
}

}  // namespace
}  // namespace sorvel
