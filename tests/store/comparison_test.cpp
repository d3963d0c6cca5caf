// The comparison settings: who owns their three items and their texts.
#include <gtest/gtest.h>

#include <cstring>
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

TEST_F(ComparisonTest, ItemsJoinTheSessionAndOutliveTheComparison) {
  VelkoRTItem* existing = new VelkoRTItem(session_.get());
  auto comparison = std::make_unique<VelkoRTComparison>(session_.get());
  VelkoRTItem* items[3] = {comparison->items[0], comparison->items[1], comparison->items[2]};
  for (VelkoRTItem* item : items) {
    ASSERT_NE(item, nullptr);
    EXPECT_EQ(item->session, session_.get());
  }
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
}

TEST_F(ComparisonTest, DestructorFreesTextsSetLater) {
  auto comparison = std::make_unique<VelkoRTComparison>(session_.get());
  for (char** slot : {&comparison->unset_text_1, &comparison->unset_text_2,
                      &comparison->unset_text_3, &comparison->unset_text_4}) {
    *slot = new char[10];
    std::strcpy(*slot, "set later");
  }
  comparison.reset(); // ASan reports any of the four left behind
  EXPECT_EQ(SessionItems().size(), 3u);
}

} // namespace
