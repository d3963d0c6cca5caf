// Paragraph styles of the HTML import: alignment, margins, spacing and
// lists give paragraph definitions over the item's definition in effect,
// each written once under an id above the item's, and an unstyled block
// goes back to that definition, which is written first when the item has
// none behind it. Records written by hand as record scripts; imports
// rendered back to HTML with their alignment and lists, also in cells.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "cdbuild/cd_builder.h"
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

/* A definition made from the one an operation starts from on an item
 * without any (id 1: margins of an inch, a tab interval of half an inch,
 * flags 0x100 and 0x494, offsets of an inch, the right margin at 100 per
 * cent), as a script line. */
std::string FromBlank(WORD id, WORD justify = 0, WORD left = 1440, WORD right = 0,
                      WORD flags = 0x100, WORD flags2 = 0x494) {
  cdbuild::PabDefFields fields;
  fields.id = id;
  fields.justify = justify;
  fields.left = left;
  fields.right = right;
  fields.tabs = {720};
  fields.tab_count = 0;
  fields.flags = flags;
  fields.flags2 = flags2;
  fields.extension = {{1440, 0, 1440, 0, 0, 100}};
  std::string line = "HEX";
  char hex[4];
  for (BYTE byte : cdbuild::PabDef(fields)) {
    snprintf(hex, sizeof hex, " %02X", byte);
    line += hex;
  }
  return line + "\n";
}

/* An item without definitions: the operation's definition (id 1) has
 * nothing behind it, so the import writes it, once, before the first
 * reference to it, an unstyled paragraph's or a table's last. */
TEST_F(HtmlImportTest, AnItemWithoutDefinitionsGetsTheTemplateWritten) {
  original_ = "TEXT text=\"x\"\n";
  const golden_case cases[] = {
      {"styled and unstyled paragraphs by turns",
       "<p align=center>a</p><p>b</p><p align=center>c</p><p>d</p>", "",
       "PARAGRAPH\n" + FromBlank(2, 3) + "PABREF id=2\nTEXT text=\"a\"\nPARAGRAPH\n" +
           FromBlank(1) +
           "PABREF id=1\nTEXT text=\"b\"\nPARAGRAPH\nPABREF id=2\nTEXT text=\"c\"\n"
           "PARAGRAPH\nPABREF id=1\nTEXT text=\"d\"\n"},
      {"a table: before it, as its last paragraph refers to it",
       "a<table><tr><td>b</td></tr></table>", "",
       "TEXT text=\"a\"\n" + FromBlank(1) +
           "PARAGRAPH\nHEX A3 0E A0 05 28 00 3C 00 00 00 00 00 02 00\n"
           "TABLECELL row=0 column=0 left=1440 right=10080 flags=2\nPARAGRAPH\n" +
           FromBlank(2, 0, 1480, 10040, 0x186, 0x440) +
           "PABREF id=2\nTEXT text=\"b\"\nTABLEEND\nPARAGRAPH\nPABREF id=1\nTEXT text=\"\"\n"},
      {"the same style outside, in and after a cell: over the cell's definition its own id",
       "<p align=center>a</p><table><tr><td><p align=center>b</p></td></tr></table>"
       "<p align=center>c</p>",
       "",
       "PARAGRAPH\n" + FromBlank(2, 3) + "PABREF id=2\nTEXT text=\"a\"\n" + FromBlank(1) +
           "PARAGRAPH\nHEX A3 0E A0 05 28 00 3C 00 00 00 00 00 02 00\n"
           "TABLECELL row=0 column=0 left=1440 right=10080 flags=2\nPARAGRAPH\n" +
           FromBlank(3, 0, 1480, 10040, 0x186, 0x440) +
           FromBlank(4, 3, 1480, 10040, 0x186, 0x440) +
           "PABREF id=4\nTEXT text=\"b\"\nTABLEEND\nPARAGRAPH\nPABREF id=2\nTEXT text=\"\"\n"
           "TEXT text=\"c\"\n"},
      {"nothing refers to it: not written", "<p>a</p><p style=\"margin-left:0\">b</p>"
       "<p align=center>c</p>", "",
       "TEXT text=\"a\"\nPARAGRAPH\nTEXT text=\"b\"\nPARAGRAPH\n" + FromBlank(2, 3) +
           "PABREF id=2\nTEXT text=\"c\"\n"},
  };
  ExpectGolden(cases);
}

TEST_F(HtmlImportTest, AnImportRendersWithItsAlignmentAndLists) {
  const std::string rendered = RenderedImport(
      "<p align=center>middle</p><ol><li>one</li><li>two</li></ol><ul><li>dot</li></ul>"
      "<p>plain</p>");
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

/* A cell's align= and a centred paragraph in a cell render as the cells'
 * paragraphs' alignment; the paragraphs after them and after the table
 * have none. */
TEST_F(HtmlImportTest, ACellsAlignmentRendersInItsParagraphs) {
  const std::string rendered = RenderedImport(
      "<table><tr><td align=\"right\">r<p>s</p></td><td><p align=center>c</p>d</td></tr>"
      "</table><p>after</p>");
  // The opening tag of the element that holds the text.
  const auto opening = [&](const std::string& text) {
    const size_t at = rendered.find(">" + text + "<");
    if (at == std::string::npos)
      return std::string("(no " + text + ")");
    const size_t tag = rendered.rfind('<', at);
    return rendered.substr(tag, at + 1 - tag);
  };
  EXPECT_NE(opening("r").find("align='right'"), std::string::npos) << rendered;
  EXPECT_NE(opening("s").find("align='right'"), std::string::npos) << rendered;
  EXPECT_NE(opening("c").find("align='center'"), std::string::npos) << rendered;
  EXPECT_EQ(opening("d").find("align="), std::string::npos) << rendered;
  EXPECT_EQ(opening("after").find("align="), std::string::npos) << rendered;
  const size_t table = rendered.find("<table");
  EXPECT_LT(table, rendered.find(">r<")) << rendered;
  EXPECT_LT(rendered.find(">d<"), rendered.find("</table>")) << rendered;
  EXPECT_LT(rendered.find("</table>"), rendered.find(">after<")) << rendered;
}

} // namespace
