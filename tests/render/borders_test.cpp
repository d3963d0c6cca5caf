// Border strings: the CSS of a CDBORDERINFO record, part by part (style,
// colour, widths, margin, padding), with and without a drop shadow.
#include <gtest/gtest.h>

#include <string.h>

#include <string>

#include "tests/render/render_fixture.h"

namespace {

using cdbuild::Body;
using driver_testing::Border;
using driver_testing::BorderFields;

struct BorderCase {
  const char *name;
  BorderFields fields;
  const char *css;
};

class BorderStringTest : public driver_testing::DriverTest,
                         public ::testing::WithParamInterface<BorderCase> {
protected:
  /* The CSS of the one record of a loaded body. */
  std::string Css(const cdbuild::Bytes &record) {
    Prepare(Body().Add(record));
    EXPECT_EQ(CalculateXMLBorderString(records_->records, context_), NOERROR);
    return session_->scratch_second;
  }
};

TEST_F(BorderStringTest, ANullRecordIsABlankAlone) {
  Prepare(Body().Add(driver_testing::Text("x")));
  strcpy(session_->scratch_second, "left over");
  EXPECT_EQ(CalculateXMLBorderString(nullptr, context_), NOERROR);
  EXPECT_STREQ(session_->scratch_second, " ");
}

TEST_P(BorderStringTest, CssOfTheRecord) {
  EXPECT_EQ(Css(Border(GetParam().fields)), GetParam().css);
}

INSTANTIATE_TEST_SUITE_P(
    Records, BorderStringTest,
    ::testing::Values(
        BorderCase{"NoneZeroWidths", {.style = 0}, " border-style:none;border-width:0;"},
        BorderCase{"Inset", {.style = 3}, " border-style:inset;border-width:0;"},
        BorderCase{"Outset", {.style = 4}, " border-style:outset;border-width:0;"},
        BorderCase{"Ridge", {.style = 5}, " border-style:ridge;border-width:0;"},
        BorderCase{"Dashed", {.style = 8}, " border-style:dashed;border-width:0;"},
        BorderCase{"PictureIsSolid", {.style = 9}, " border-style:solid;border-width:0;"},
        BorderCase{"UnknownIsSolid", {.style = 12}, " border-style:solid;border-width:0;"},
        BorderCase{"ColourNotSet",
                   {.style = 1, .coloured = false, .red = 9},
                   " border-style:solid;border-width:0;"},
        BorderCase{
            "MarginAndPadding",
            {.style = 1, .widths = {2, 2, 2, 2}, .inner = {5, 5, 5, 5}, .outer = {10, 0, 20, 0}},
            " border-style:solid;border-width:2;margin: 10 0 20 0;padding:5;"},
        BorderCase{"EqualMarginUnequalPadding",
                   {.style = 1, .inner = {1, 2, 3, 4}, .outer = {8, 8, 8, 8}},
                   " border-style:solid;border-width:0;margin:8;padding: 1 4 3 2;"},
        BorderCase{"ShadowKeepsOtherStyles",
                   {.style = 5, .widths = {12, 12, 12, 12}, .flags = 1},
                   " border-style:ridge;border-color:rgb(211,211,211);border-width:12;"},
        BorderCase{"ShadowWithColour",
                   {.style = 0, .widths = {1, 2, 1, 2}, .flags = 1, .coloured = true, .red = 10},
                   " border-style:inset;border-color:rgb(10,0,0);border-width:0px 12px 12px 0px;"},
        BorderCase{"ShadowWithBlackColour",
                   {.style = 0, .flags = 1, .coloured = true},
                   " border-style:inset;border-color:rgb(211,211,211);"
                   "border-width: 0px 12px 12px 0px;"}),
    [](const ::testing::TestParamInfo<BorderCase> &info) { return info.param.name; });

} // namespace
