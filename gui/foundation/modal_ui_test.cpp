#include "gui/foundation/modal_ui.h"

#include <gtest/gtest.h>

#include "testing/gui/scripted_modal_ui.h"

namespace sorvel {
namespace {

TEST(ModalUiTest, HeadlessDefaultNeverBlocksAndAnswersAsCancelled) {
  ModalUi& ui = CurrentModalUi();
  EXPECT_EQ(ui.MessageBox(nullptr, "x", 64, "t"), kIdOk);
  EXPECT_EQ(ui.MessageBox(nullptr, "x", 292, "t"), kIdNo);
  EXPECT_TRUE(ui.OpenFileNames(nullptr, "a|*.a", "", 0).isEmpty());
  EXPECT_TRUE(ui.SaveFileName(nullptr, "a|*.a", "", 0).isEmpty());
  EXPECT_TRUE(ui.BrowseForFolder(nullptr, "t", 1).isEmpty());
}

TEST(ModalUiTest, ScriptedInstanceRecordsAndRestoresThePrevious) {
  {
    testing::ScriptedModalUi scripted;
    scripted.QueueAnswer(kIdYes);
    EXPECT_EQ(CurrentModalUi().MessageBox(nullptr, "止めますか", 292, "媒体読込"), kIdYes);
    EXPECT_EQ(CurrentModalUi().MessageBox(nullptr, "再度", 308, "媒体読込"), kIdNo);
    ASSERT_EQ(scripted.messages().size(), 2);
    EXPECT_EQ(scripted.messages()[0].text, QString("止めますか"));
    EXPECT_EQ(scripted.messages()[1].style, 308);
  }
  EXPECT_EQ(CurrentModalUi().MessageBox(nullptr, "x", 36, "t"), kIdNo);
}

}  // namespace
}  // namespace sorvel
