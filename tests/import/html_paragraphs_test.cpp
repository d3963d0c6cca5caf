// Paragraph styles of the HTML import: alignment, margins, spacing and
// lists give paragraph definitions over the item's definition in effect,
// each written once under an id above the item's, and an unstyled block
// goes back to that definition. Records written by hand as record
// scripts; one import rendered back to HTML with its alignment and lists.
#include <gtest/gtest.h>

#include <string>

#include "tests/import/html_golden_support.h"

namespace {

using html_golden::golden_case;
using html_golden::HtmlImportTest;

/* The item's definition (id 1: left and first line 1 inch, extension
 * words 1440, 0, 1440, 0, 0, 0) as an update leaves it: Flags 0x0100. */
std::string Definition(int id, const std::string& fields) {
  return "PABDEF id=" + std::to_string(id) + " " + fields +
         (fields.empty() ? "" : " ") + "ext=1440,0,1440,0,0,0\n";
}

constexpr const char* kUpdated = "flags=0x100";

TEST_F(HtmlImportTest, BlockStylesGiveParagraphDefinitions) {
  const std::string center = Definition(2, std::string("justify=center ") + kUpdated);
  const golden_case cases[] = {
      {"center, right and justify: a definition each, in the order met",
       "<p align=\"center\">a</p><p align=right>b</p><div style=\"text-align: justify\">c</div>",
       "",
       "PARAGRAPH\n" + center + "PABREF id=2\nTEXT text=\"a\"\nPARAGRAPH\n" +
           Definition(3, std::string("justify=right ") + kUpdated) +
           "PABREF id=3\nTEXT text=\"b\"\nPARAGRAPH\n" +
           Definition(4, std::string("justify=full ") + kUpdated) +
           "PABREF id=4\nTEXT text=\"c\"\n"},
      {"the center element's alignment holds in the blocks inside it",
       "<center>a<p>b</p></center>", "",
       "PARAGRAPH\n" + center +
           "PABREF id=2\nTEXT text=\"a\"\nPARAGRAPH\nPABREF id=2\nTEXT text=\"b\"\n"},
      {"the same style twice: one definition; an unstyled block goes back to the item's",
       "<p align=center>a</p><p>b</p><h3 align=\"CENTER\">c</h3>", "",
       "PARAGRAPH\n" + center +
           "PABREF id=2\nTEXT text=\"a\"\nPARAGRAPH\nPABREF id=1\nTEXT text=\"b\"\n"
           "PARAGRAPH\nPABREF id=2\nTEXT attributes=bold size=14 text=\"c\"\n"},
      {"left margins and first-line indents in pt, px, in and cm; blockquote as half an inch",
       "<p style=\"margin-left:36pt;text-indent:-18pt\">a</p><p style=\"margin-left: 48px\">b</p>"
       "<p style=\"margin-left:0.5in; text-indent:1cm\">c</p><blockquote>d</blockquote>",
       "",
       "PARAGRAPH\n" + Definition(2, std::string("left=2160 firstline=1800 ") + kUpdated) +
           "PABREF id=2\nTEXT text=\"a\"\nPARAGRAPH\n" +
           Definition(3, std::string("left=2160 ") + kUpdated) +
           "PABREF id=3\nTEXT text=\"b\"\nPARAGRAPH\n" +
           Definition(4, std::string("left=2160 firstline=2727 ") + kUpdated) +
           "PABREF id=4\nTEXT text=\"c\"\nPARAGRAPH\nPABREF id=3\nTEXT text=\"d\"\n"},
      {"space above and below by half lines; a margin below half of one asks nothing",
       "<p style=\"margin-top:12pt; margin-bottom:6pt\">a</p><p style=\"margin-top:2px\">b</p>", "",
       "PARAGRAPH\n" + Definition(2, std::string("before=2 after=1 ") + kUpdated) +
           "PABREF id=2\nTEXT text=\"a\"\nPARAGRAPH\nPABREF id=1\nTEXT text=\"b\"\n"},
      {"a bullet list inside a numbered one: half an inch per level",
       "<ol><li>one<ul><li>dot</li></ul></li><li>two</li></ol><p>after</p>", "",
       "PARAGRAPH\n" + Definition(2, "left=2160 flags=0x1100") +
           "PABREF id=2\nTEXT text=\"one\"\nPARAGRAPH\n" + Definition(3, "left=2880 flags=0x500") +
           "PABREF id=3\nTEXT text=\"dot\"\nPARAGRAPH\nPABREF id=2\nTEXT text=\"two\"\n"
           "PARAGRAPH\nPABREF id=1\nTEXT text=\"after\"\n"},
      {"list types: letters and roman numerals by type=, a square bullet by list-style-type",
       "<ol type=\"a\"><li>a</li></ol><ol type=\"I\"><li>b</li></ol>"
       "<ul style=\"list-style-type: square\"><li>c</li></ul><ol><li type=\"i\">d</li></ol>",
       "",
       "PARAGRAPH\n" + Definition(2, "left=2160 flags=0x1100 flags2=0x1802") +
           "PABREF id=2\nTEXT text=\"a\"\nPARAGRAPH\n" +
           Definition(3, "left=2160 flags=0x1100 flags2=0x802") +
           "PABREF id=3\nTEXT text=\"b\"\nPARAGRAPH\n" +
           Definition(4, "left=2160 flags=0x500 flags2=0x1000") +
           "PABREF id=4\nTEXT text=\"c\"\nPARAGRAPH\n" +
           Definition(5, "left=2160 flags=0x1100 flags2=0x1002") +
           "PABREF id=5\nTEXT text=\"d\"\n"},
      {"type=A: capital letters, where type=a gives small ones", "<ol type=\"A\"><li>a</li></ol>", "",
       "PARAGRAPH\n" + Definition(2, "left=2160 flags=0x1100 flags2=0x1800") +
           "PABREF id=2\nTEXT text=\"a\"\n"},
      {"a style that changes nothing keeps the item's definition",
       "<p align=left style=\"margin-left:0; margin-bottom:1pt\">a</p>", "", "TEXT text=\"a\"\n"},
  };
  ExpectGolden(cases);
}

/* Imports into other items: new ids come after the item's highest PABID
 * and the template is its definition in effect at the end (id 3), also
 * for the unstyled block after a styled one; a styled first block
 * restyles a paragraph without text instead of starting one. */
TEST_F(HtmlImportTest, DefinitionsFollowTheItemsOwn) {
  const struct {
    const char* name;
    const char* original;
    const char* html;
    const char* script;
  } cases[] = {
      {"ids above the item's highest",
       "PABDEF id=7 left=720\nPABREF id=7\nTEXT text=\"x\"\nPARAGRAPH\n"
       "PABDEF id=3 right=5000\nPABREF id=3\nTEXT text=\"y\"\n",
       "<p align=right>a</p><p>b</p>",
       "PARAGRAPH\nPABDEF id=8 justify=right right=5000 flags=0x100\nPABREF id=8\n"
       "TEXT text=\"a\"\nPARAGRAPH\nPABREF id=3\nTEXT text=\"b\"\n"},
      {"a paragraph without text restyled", "PABDEF id=1\nPABREF id=1\nTEXT text=\"\"\n",
       "<p align=center>a</p>",
       "PABDEF id=2 justify=center flags=0x100\nPABREF id=2\nTEXT text=\"a\"\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    original_ = c.original;
    STATUS status = 0;
    WORD secondary = 0;
    EXPECT_EQ(Append("INLINE", c.html, "", &status, &secondary), Expected(c.script));
    EXPECT_EQ(status, NOERROR);
  }
}

TEST_F(HtmlImportTest, AnImportRendersWithItsAlignmentAndLists) {
  STATUS status = 0;
  WORD secondary = 0;
  Append("INLINE",
         "<p align=center>middle</p><ol><li>one</li><li>two</li></ol><ul><li>dot</li></ul>"
         "<p>plain</p>",
         "", &status, &secondary);
  ASSERT_EQ(status, NOERROR);
  const std::string rendered = Rendered();
  const size_t middle = rendered.find("middle");
  const size_t ordered = rendered.find("<ol");
  const size_t one = rendered.find("one");
  const size_t two = rendered.find("two");
  const size_t bullets = rendered.find("<ul");
  const size_t dot = rendered.find("dot");
  const size_t plain = rendered.find("plain");
  ASSERT_NE(middle, std::string::npos) << rendered;
  EXPECT_NE(rendered.rfind("center", middle), std::string::npos) << rendered;
  EXPECT_LT(middle, ordered) << rendered;
  EXPECT_LT(ordered, one) << rendered;
  EXPECT_LT(one, two) << rendered;
  EXPECT_LT(rendered.find("<li", one), two) << rendered; // an item each
  EXPECT_LT(two, bullets) << rendered;
  EXPECT_LT(bullets, dot) << rendered;
  EXPECT_LT(dot, plain) << rendered;
  EXPECT_NE(plain, std::string::npos) << rendered;
  EXPECT_EQ(rendered.find("<li", plain), std::string::npos) << rendered;
}

} // namespace
