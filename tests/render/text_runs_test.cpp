// Text runs whose answers depend on the records around them (the sole-run
// test, the colour of a begin/end group's runs) give the same text when
// the walk comes back over runs it has already passed.
#include <gtest/gtest.h>

#include <string>

#include "render_fixture.h"
#include "cdbuild/cd_script.h"

namespace {

cdbuild::Body Script(const std::string &script) {
  cdbuild::Body body;
  cdbuild::ScriptError error;
  EXPECT_TRUE(cdbuild::BuildScript(script, &body, &error)) << error.line << ": " << error.message;
  return body;
}

class TextRunsTest : public driver_testing::DriverTest {};

TEST_F(TextRunsTest, AWalkOverRunsAlreadyPassedGivesTheSameText) {
  Prepare(Script(R"(PARAGRAPH
PABDEF id=1
PABREF id=1
BEGIN sig=CDHOTSPOTBEGIN
TEXT attributes=bold text="One"
COLOR rgb=0x112233
TEXT text="Two"
COLOR rgb=0x445566
END sig=CDHOTSPOTBEGIN
PARAGRAPH
PABREF id=1
TEXT attributes=bold text=""
TEXT attributes=italic text=""
TEXT text="Three"
PARAGRAPH
PABREF id=1
TEXT attributes=bold text=""
TEXT attributes=italic text=""
)"));
  const std::string first = Drive();
  const size_t body = first.find(driver_testing::kBody);
  ASSERT_NE(body, std::string::npos) << first;
  const std::string text = first.substr(body + driver_testing::kBody.size());
  EXPECT_EQ(text, "<span style=\"color: rgb(68,85,102); \"><b>One</b></span>"
                  "<span style=\"color: rgb(68,85,102); \">Two</span>"
                  "<div class=\"pabid1\">Three</div>"
                  "<div class=\"pabid1\"><b><br></b><i></i></div>");
  // Again from the first record, every run lying behind those passed; the
  // head is not written twice.
  context_->current_record = records_->records;
  EXPECT_EQ(Drive(), text);
}

} // namespace
