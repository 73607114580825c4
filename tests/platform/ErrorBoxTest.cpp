// The error box's test hook: with a sink set, boxes go to it with their caption and text, and
// nothing is shown (a real box would wait for a user who is not there).
#include <gtest/gtest.h>

#include <vector>

#include "platform/ErrorBox.h"

TEST(ErrorBox, TheSinkReceivesCaptionAndTextUntilCleared) {
  std::vector<std::pair<std::u16string, std::u16string>> boxes;
  platform::setErrorBoxSink([&](const std::u16string& title, const std::u16string& text) { boxes.emplace_back(title, text); });
  platform::showErrorBox(u"Talvenook", u"Cannot create file \"C:\\image\\0.ico\". Access is denied.");
  platform::showErrorBox(u"", u"");
  platform::setErrorBoxSink(nullptr);
  ASSERT_EQ(boxes.size(), 2u);
  EXPECT_EQ(boxes[0].first, u"Talvenook");
  EXPECT_EQ(boxes[0].second, u"Cannot create file \"C:\\image\\0.ico\". Access is denied.");
  EXPECT_EQ(boxes[1].first, u"");
}
