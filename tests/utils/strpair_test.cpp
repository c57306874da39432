#include <gtest/gtest.h>

#include "frame/strpair.h"

namespace zk {
namespace {

TStringPair& AddPair(TStringPairList& list, const char* first, const char* second) {
  TStringPair& pair = list.Add();
  pair.First = first;
  pair.Second = second;
  return pair;
}

TEST(TStringPairList, IndexOfFindsFirstExactMatchOfSecond) {
  TStringPairList list;
  EXPECT_EQ(list.IndexOf(""), -1);
  AddPair(list, "1.2.643.2.2.9", "GOST R 34.11-94");
  AddPair(list, "1.3.14.3.2.26", "sha1");
  AddPair(list, "2.16.840.1.101.3.4.2.1", "sha1");
  EXPECT_EQ(list.IndexOf("sha1"), 1);
  EXPECT_EQ(list.IndexOf("SHA1"), -1);
  EXPECT_EQ(list.IndexOf("1.3.14.3.2.26"), -1);  // First is not searched
  EXPECT_EQ(list.IndexOf("GOST R 34.11-94"), 0);
}

TEST(TStringPairList, AddedPairsStayInPlaceUntilClear) {
  TStringPairList list;
  TStringPair& early = list.Add();
  EXPECT_TRUE(early.First.empty() && early.Second.empty());
  for (int i = 0; i < 100; ++i) AddPair(list, "id", "name");
  early.Second = "filled late";  // the caller fills a pair after more were added
  EXPECT_EQ(list.IndexOf("filled late"), 0);
  EXPECT_EQ(&list.Items(0), &early);
  list.Clear();
  EXPECT_EQ(list.Count(), 0);
  EXPECT_EQ(list.IndexOf("name"), -1);
}

}  // namespace
}  // namespace zk
