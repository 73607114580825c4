// String lists: text layout with CR LF and splitting.
#include <gtest/gtest.h>

#include "runtime/TStringList.h"

using rt::TStringList;

TEST(StringList, TextEndsEveryLineWithCrLf) {
  TStringList list;
  list.Add(u"a=1");
  list.Add(u"b=2");
  EXPECT_EQ(list.Text(), u"a=1\r\nb=2\r\n");
  EXPECT_EQ(TStringList().Text(), u"");
}

TEST(StringList, SetTextSplitsOnEveryLineBreakKind) {
  TStringList list;
  list.SetText(u"a\r\nb\nc\rd\r\n\r\ne");
  ASSERT_EQ(list.Count(), 6);
  EXPECT_EQ(list[3], u"d");
  EXPECT_EQ(list[4], u"");
  EXPECT_EQ(list[5], u"e");
  list.Delete(0);
  list.Insert(0, u"z");
  EXPECT_EQ(list[0], u"z");
}
