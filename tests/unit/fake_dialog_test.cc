// The fake's message boxes are what the sequences' tests read their error
// and question boxes from, so their recording and answering is pinned here.
#include <gtest/gtest.h>

#include "platform/dialog.h"
#include "platform/fake/fake.h"

namespace {

using namespace platform;

class FakeMessageBoxTest : public ::testing::Test {
 protected:
  void SetUp() override { fake::Reset(); }
};

TEST_F(FakeMessageBoxTest, UnscriptedBoxesGiveTheAnswerThatChangesNothing) {
  struct Case {
    uint32_t type;
    int32_t answer;
  } cases[] = {
      {kMbOk | kMbIconError, kIdOk},
      {kMbOk | kMbIconInformation, kIdOk},
      {kMbYesNo | kMbIconQuestion, kIdNo},
      {kMbYesNo | kMbIconWarning, kIdNo},
      {kMbOkCancel, kIdCancel},
      {kMbYesNoCancel, kIdCancel},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(c.answer, MessageBoxW(nullptr, L"text", L"caption", c.type)) << "type " << c.type;
  }
}

TEST_F(FakeMessageBoxTest, ScriptedAnswersAreUsedInOrderThenTheDefaultAgain) {
  fake::AnswerMessageBoxes({kIdYes, kIdNo});
  fake::AnswerMessageBoxes({kIdYes});
  std::vector<int32_t> got;
  for (int i = 0; i < 4; ++i) got.push_back(MessageBoxW(nullptr, L"?", L"Q", kMbYesNo));
  EXPECT_EQ((std::vector<int32_t>{kIdYes, kIdNo, kIdYes, kIdNo}), got);
}

TEST_F(FakeMessageBoxTest, RecordsOwnerTextCaptionTypeAndAnswerInOrder) {
  WindowHandle window = fake::CreateWindowForTesting(L"Tessaline Setup");
  fake::AnswerMessageBoxes({kIdYes});
  MessageBoxW(window, L"Are you sure you want to cancel?", L"Cancel Operation",
              kMbYesNo | kMbIconQuestion);
  MessageBoxW(nullptr, L"line 1\nline 2 \u2022", L"Administrator Required", kMbIconError);

  const auto& boxes = fake::MessageBoxes();
  ASSERT_EQ(2u, boxes.size());
  EXPECT_EQ(window, boxes[0].owner);
  EXPECT_EQ(L"Are you sure you want to cancel?", boxes[0].text);
  EXPECT_EQ(L"Cancel Operation", boxes[0].caption);
  EXPECT_EQ(0x24u, boxes[0].type);
  EXPECT_EQ(kIdYes, boxes[0].answer);
  EXPECT_EQ(nullptr, boxes[1].owner);
  EXPECT_EQ(L"line 1\nline 2 \u2022", boxes[1].text);
  EXPECT_EQ(L"Administrator Required", boxes[1].caption);
  EXPECT_EQ(0x10u, boxes[1].type);
  EXPECT_EQ(kIdOk, boxes[1].answer);
}

TEST_F(FakeMessageBoxTest, AnOwnerThatIsNoWindowShowsNothing) {
  SetLastError(0xdeadbeef);
  EXPECT_EQ(0, MessageBoxW(reinterpret_cast<WindowHandle>(0x1234), L"t", L"c", kMbOk));
  EXPECT_EQ(kErrorInvalidWindowHandle, GetLastError());
  EXPECT_TRUE(fake::MessageBoxes().empty());
}

TEST_F(FakeMessageBoxTest, HookRunsWhileTheBoxIsOpen) {
  size_t seenWhileOpen = 0;
  fake::OnMessageBox([&](const fake::MessageBoxRecord& box) {
    seenWhileOpen = fake::MessageBoxes().size();
    EXPECT_EQ(L"Installation Error", box.caption);
  });
  MessageBoxW(nullptr, L"Failed", L"Installation Error", kMbOk | kMbIconError);
  EXPECT_EQ(1u, seenWhileOpen);
}

TEST(FakeMessageBoxDeathTest, AnAnswerTheBoxDoesNotOfferStopsTheTest) {
  fake::Reset();
  fake::AnswerMessageBoxes({kIdYes});
  EXPECT_DEATH(MessageBoxW(nullptr, L"t", L"c", kMbOk | kMbIconError),
               "not a button of this box");
}

}  // namespace
