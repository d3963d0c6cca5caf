// The comparison settings: the texts and words they start with, and who owns
// their three items.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "host/host_testing.h"
#include "velko/velko.h"

namespace {

class ComparisonTest : public ::testing::Test {
protected:
  void SetUp() override { HostTestReset(); }

  std::vector<VelkoRTItem*> SessionItems() const {
    std::vector<VelkoRTItem*> items;
    for (VelkoRTItem* item = session_->items; item != nullptr; item = item->next)
      items.push_back(item);
    return items;
  }

  std::unique_ptr<LSXLsiSession> session_ = std::make_unique<LSXLsiSession>();
};

std::string Text(const char* text) { return text == nullptr ? "<null>" : std::string(text); }

TEST_F(ComparisonTest, ConstructorSetsTheMarksFontsAndNotes) {
  VelkoRTComparison comparison(session_.get());
  EXPECT_EQ(comparison.session, session_.get());
  EXPECT_EQ(Text(comparison.removed_marker), std::string("(\x02-)", 4));
  EXPECT_EQ(Text(comparison.added_marker), std::string("(\x02+)", 4));
  EXPECT_EQ(Text(comparison.removed_font), "RED +STRIKETHROUGH");
  EXPECT_EQ(comparison.unset_text_1, nullptr);
  EXPECT_EQ(Text(comparison.removed_mark), "(-)");
  EXPECT_EQ(Text(comparison.added_mark), "(+)");
  EXPECT_EQ(Text(comparison.removed_style), "RED +Strikethrough");
  EXPECT_EQ(Text(comparison.added_style), "Blue");
  EXPECT_EQ(Text(comparison.added_font), "BLUE");
  EXPECT_EQ(comparison.unset_text_2, nullptr);
  EXPECT_EQ(Text(comparison.removed_marker_2), std::string("(\x01-)", 4));
  EXPECT_EQ(Text(comparison.added_marker_2), std::string("(\x01+)", 4));
  EXPECT_EQ(comparison.unset_text_3, nullptr);
  EXPECT_EQ(comparison.unset_text_4, nullptr);
  EXPECT_EQ(Text(comparison.columns_decreased), "** The number of columns has decreased **");
  EXPECT_EQ(Text(comparison.columns_increased), "** The number of columns has increased **");
  EXPECT_EQ(Text(comparison.rows_decreased), "** The number of rows has decreased **");
  EXPECT_EQ(Text(comparison.rows_increased), "** The number of rows has increased **");
}

TEST_F(ComparisonTest, ConstructorSetsTheWords) {
  VelkoRTComparison comparison(session_.get());
  const WORD words[6] = {0, 0, 0, 1, 0, 0};
  for (int i = 0; i < 6; ++i)
    EXPECT_EQ(comparison.words[i], words[i]) << i;
  EXPECT_EQ(comparison.limit, 999);
  int ones = 0;
  for (WORD word : comparison.further_words) {
    EXPECT_TRUE(word == 0 || word == 1);
    ones += word;
  }
  EXPECT_EQ(ones, 1);
}

TEST_F(ComparisonTest, ItemsJoinTheSessionAndOutliveTheComparison) {
  VelkoRTItem* existing = new VelkoRTItem(session_.get());
  auto comparison = std::make_unique<VelkoRTComparison>(session_.get());
  VelkoRTItem* items[3] = {comparison->items[0], comparison->items[1], comparison->items[2]};
  for (VelkoRTItem* item : items) {
    ASSERT_NE(item, nullptr);
    EXPECT_EQ(item->session, session_.get());
  }
  EXPECT_NE(items[0], items[1]);
  EXPECT_NE(items[1], items[2]);
  EXPECT_NE(items[0], items[2]);
  // Items are pushed at the front of the list.
  const std::vector<VelkoRTItem*> expected = {items[2], items[1], items[0], existing};
  EXPECT_EQ(SessionItems(), expected);

  comparison.reset(); // frees the texts only; ASan reports a leak or double free
  EXPECT_EQ(SessionItems(), expected);
  session_.reset(); // deletes the four items
}

TEST_F(ComparisonTest, WithoutSessionNoItemsAreMade) {
  VelkoRTComparison comparison(nullptr);
  for (VelkoRTItem* item : comparison.items)
    EXPECT_EQ(item, nullptr);
  EXPECT_EQ(Text(comparison.added_style), "Blue");
}

TEST_F(ComparisonTest, DestructorFreesTextsSetLater) {
  auto comparison = std::make_unique<VelkoRTComparison>(session_.get());
  const char* const later = "set later";
  for (char** slot : {&comparison->unset_text_1, &comparison->unset_text_2,
                      &comparison->unset_text_3, &comparison->unset_text_4}) {
    *slot = new char[std::char_traits<char>::length(later) + 1];
    std::char_traits<char>::copy(*slot, later, std::char_traits<char>::length(later) + 1);
  }
  comparison.reset(); // ASan reports any of the four left behind
  EXPECT_EQ(SessionItems().size(), 3u);
}

} // namespace
