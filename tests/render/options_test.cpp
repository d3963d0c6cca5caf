// The rendering options read into the context: every flag of the
// vocabulary, the numbers and texts with their defaults and limits, the two
// presets, the static font map and the derived directory, graphic and wiki
// defaults; and the exported table of option names.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>

#include "render_fixture.h"
#include "store/session.h"
#include "store/tracked_memory.h"
#include "store/tracked_memory_testing.h"
#include "velko/status.h"

namespace {

using render_testing::RenderContextTest;
using namespace html_flags;
namespace f2 = html_flags2;
namespace f3 = html_flags3;
namespace f4 = html_flags4;
namespace f5 = html_flags5;
namespace fi = html_image_flags;

struct run_kind {
  bool mime = false;
  bool file = false; /* MIME mode with a caller file */
  WORD generation = kGenerationHTML;
};

class OptionsTest : public RenderContextTest {
protected:
  /* Sets the context up as GenerateXML does, then reads the options. */
  STATUS Read(const char *options, run_kind kind = {}) {
    if (options != nullptr && options[0] != '\0')
      context_->options = VelkoAllocatePtrAndCopy(session_.get(), VELKO_HERE, options, 0);
    context_->generation = kind.generation;
    context_->image_handling = kHandlingDefault;
    context_->attachment_handling = kHandlingDefault;
    if (kind.mime) {
      context_->mime_mode = 1;
      if (!kind.file) {
        context_->flags |= Fragment;
        context_->flags2 |= f2::MoveStylesInline | f2::InlineCidGraphics;
      }
      context_->flags |= Translation;
    }
    return ReadRenderingOptions(context_);
  }
};

/* ---- flags ---- */

struct FlagCase {
  const char *options;
  DWORD html_render_info::*word;
  DWORD bit;
  bool set;
};

class FlagTest : public OptionsTest, public ::testing::WithParamInterface<FlagCase> {};

TEST_P(FlagTest, OptionSetsOrClearsItsBit) {
  const FlagCase &c = GetParam();
  ASSERT_EQ(Read(c.options), NOERROR);
  EXPECT_EQ((context_->*c.word & c.bit) != 0, c.set) << c.options;
}

#define FLAG(options, word, bit, set)                                                              \
  FlagCase { options, &html_render_info::word, bit, set }

INSTANTIATE_TEST_SUITE_P(
    Vocabulary, FlagTest,
    ::testing::Values(
        // flags
        FLAG("ForceParagraphs=Yes", flags, ForceParagraphs, true),
        FLAG("ForceParagraphs=yes", flags, ForceParagraphs, true),
        FLAG("", flags, ForceParagraphs, false), FLAG("Generation=Fragment", flags, Fragment, true),
        FLAG("Generation=fragment", flags, Fragment, true),
        FLAG("Ostrafine=Yes Generation=HTML", flags, Fragment, false),
        FLAG("Ostrafine=Yes Generation=HTML", flags2, f2::MoveStylesInline, true),
        FLAG("StandardFontTags=Yes", flags, StandardFontTags, true),
        FLAG("Ostrafine=Yes StandardFontTags=Yes", flags, StandardFontTags, true),
        FLAG("RaiseLinkEvent=Doclinks", flags, RaiseDocLinkEvent, true),
        FLAG("RaiseLinkEvent=Doclinks", flags, RaiseURLLinkEvent, false),
        FLAG("RaiseLinkEvent=url", flags, RaiseURLLinkEvent, true),
        FLAG("RaiseLinkEvent=ALL", flags, RaiseDocLinkEvent, true),
        FLAG("RaiseLinkEvent=ALL", flags, RaiseURLLinkEvent, true),
        FLAG("PreserveSpaces=Yes", flags, PreserveSpaces, true),
        FLAG("Ostrafine=Yes PreserveSpaces=No", flags, PreserveSpaces, false),
        FLAG("WAICompliant=Yes", flags, WAICompliant, true),
        FLAG("AddNewlines=CRLF", flags, NewlineCRLF, true),
        FLAG("AddNewlines=Yes", flags, NewlineNUL, true),
        FLAG("AddNewlines=NL", flags, NewlineNUL, true),
        FLAG("AddNewlines=Maybe", flags, NewlineNUL, false),
        FLAG("AddNewlines=NL ContentTransferEncoding=quoted-printable", flags, NewlineNUL, false),
        FLAG("AddNewlines=NL ContentTransferEncoding=quoted-printable", flags, NewlineCRLF, true),
        FLAG("Translation=Yes", flags, Translation, true),
        FLAG("OutputToEvent=Yes", flags, OutputToEvent, true),
        FLAG("OutputToEvent=500", flags, OutputToEvent, true),
        FLAG("OutputToEvent=No", flags, OutputToEvent, false),
        FLAG("CSSBorders=Yes", flags, CSSBorders, true),
        FLAG("StandardFontTags=Yes CSSBorders=Yes", flags, CSSBorders, false),
        FLAG("MakeURLHotspots=Yes", flags, MakeURLHotspots, true),
        // flags2
        FLAG("MoveStylesInline=Yes", flags2, f2::MoveStylesInline, true),
        FLAG("", flags2, f2::EncapsulateTable, true),
        FLAG("Ostrafine=Yes", flags2, f2::EncapsulateTable, false),
        FLAG("QuilEditor=1", flags2, f2::EncapsulateTable, false),
        FLAG("EncapsulateTable=No", flags2, f2::EncapsulateTable, false),
        FLAG("ImageRelativeToPage=Yes", flags2, f2::ImageRelativeToPage, true),
        FLAG("TabbedTablesInCSS=Yes", flags2, f2::TabbedTablesInCSS, true),
        FLAG("SectionsInCSS=Yes", flags2, f2::SectionsInCSS, true),
        FLAG("ExtendedSpecialCharacters=No", flags2, f2::NoExtendedSpecialCharacters, true),
        FLAG("ExtendedSpecialCharacters=Maybe", flags2, f2::NoExtendedSpecialCharacters, false),
        FLAG("ConsolidatePABIDS=Yes", flags2, f2::ConsolidatePABIDS, true),
        FLAG("ConsolidatePABIDS=Yes", flags, NewlineNUL, false),
        FLAG("RespectHiddenFormulas=Yes", flags2, f2::RespectHiddenFormulas, true),
        FLAG("DoclinksRelative=Yes", flags2, f2::DoclinksRelative, true),
        FLAG("QuilEditor=", flags2, f2::DoclinksRelative, true),
        // flags3
        FLAG("OutputToEvent=Yes OutputAllToEvent=Yes", flags3, f3::OutputAllToEvent, true),
        FLAG("OutputAllToEvent=Yes", flags3, f3::OutputAllToEvent, false),
        FLAG("AutoQuoteHTMLParams=Yes", flags3, f3::AutoQuoteHTMLParams, true),
        FLAG("FillEmptyTableCells=Yes", flags3, f3::FillEmptyTableCells, true),
        FLAG("SuppressImages=Yes", flags3, f3::SuppressImages, true),
        FLAG("SuppressAttachments=Yes", flags3, f3::SuppressAttachments, true),
        FLAG("SuppressLinks=Yes", flags3, f3::SuppressLinks, true),
        FLAG("PreviewMode=Yes", flags3, f3::PreviewMode, false),
        FLAG("RespectHiddenFormulas=Yes PreviewMode=Yes", flags3, f3::PreviewMode, true),
        FLAG("WebMode=Yes", flags3, f3::WebMode, false),
        FLAG("RespectHiddenFormulas=Yes WebMode=Yes", flags3, f3::WebMode, true),
        FLAG("MarkDelimitedHTML=Yes", flags3, f3::MarkDelimitedHTML, true),
        FLAG("UseXMLEntities=Yes", flags3, f3::UseXMLEntities, true),
        FLAG("SuppressFonts=Face", flags3, f3::SuppressFontFace, true),
        FLAG("SuppressFonts=Face", flags3, f3::SuppressFontSize, false),
        FLAG("SuppressFonts=size,colour", flags3, f3::SuppressFontSize, true),
        FLAG("SuppressFonts=size,colour", flags3, f3::SuppressFontColor, true),
        FLAG("SuppressFonts=Color", flags3, f3::SuppressFontColor, true),
        FLAG("SuppressFonts=attr", flags3, f3::SuppressFontAttr, true),
        FLAG("SuppressFonts=All", flags3, f3::SuppressFontAttr, true),
        FLAG("SuppressFonts=All", flags3, f3::SuppressFontFace, true),
        FLAG("SuppressFonts=small", flags3, f3::SuppressFontFace, false),
        // flags4
        FLAG("SparseTable=Yes", flags4, f4::SparseTable, true),
        FLAG("SparseTable=Yes", flags4, f4::SparseTableWidth, false),
        FLAG("SparseTable=Width", flags4, f4::SparseTable, true),
        FLAG("SparseTable=Width", flags4, f4::SparseTableWidth, true),
        FLAG("AutoTag=All", flags4, f4::AutoTagCell, true),
        FLAG("AutoTag=rowcell", flags4, f4::AutoTagRow, true),
        FLAG("AutoTag=rowcell", flags4, f4::AutoTagTable, false),
        FLAG("AutoClass=All", flags4, f4::AutoClassColumn, true),
        FLAG("AutoClass=All", flags4, f4::AutoClassSection, false),
        FLAG("AutoClass=Section", flags4, f4::AutoClassSection, true),
        FLAG("AutoClass=table", flags4, f4::AutoClassTable, true),
        FLAG("UsePTags=Yes", flags4, f4::UsePTags, true),
        FLAG("", flags4, f4::AllowEmptyDivs, true),
        FLAG("AllowEmptyDivs=No", flags4, f4::AllowEmptyDivs, false),
        FLAG("SuppressDivInfo=Yes", flags4, f4::SuppressDivInfo, true),
        FLAG("RelativeIndents=Yes", flags4, f4::RelativeIndents, true),
        FLAG("HybridFontTags=Yes", flags4, f4::HybridFontTags, true),
        FLAG("QuilEditor=x", flags4, f4::HybridFontTags, true),
        FLAG("Ostrafine=Yes", flags4, f4::HybridFontTags, false),
        // flags5
        FLAG("SupportRico=Yes", flags5, f5::SupportRico, true),
        FLAG("SupportDojo=Yes", flags5, f5::SupportDojo, true),
        FLAG("OpenFormData=Yes", flags5, f5::OpenFormData, true),
        FLAG("OstrafineSections=Yes", flags5, f5::OstrafineSections, true),
        FLAG("OstrafineTabs=Yes", flags5, f5::OstrafineTabs, true),
        FLAG("Ostrafine=Yes OstrafineTabs=No", flags5, f5::OstrafineTabs, false),
        FLAG("Ostrafine=Yes", flags5, f5::SeeAttachedMsgEnabled, true),
        // image flags (read only for DISK and RESOURCE)
        FLAG("ImageUNIDAsFolder=Yes", image_flags, fi::ImageUNIDAsFolder, false),
        FLAG("ImageHandling=Disk ImageUNIDAsFolder=Yes", image_flags, fi::ImageUNIDAsFolder, true),
        FLAG("ImageHandling=Disk ImageUseName=Yes", image_flags, fi::ImageUseName, true),
        FLAG("ImageHandling=Disk ImageOverwrite=No", image_flags, fi::NoImageOverwrite, true),
        FLAG("ImageHandling=Disk ImageOverwrite=Maybe", image_flags, fi::NoImageOverwrite, false),
        FLAG("ImageHandling=Disk", image_flags, fi::ImageResourceToDisk, true),
        FLAG("ImageHandling=Disk ImageResourceToDisk=No", image_flags, fi::ImageResourceToDisk,
             false),
        FLAG("", image_flags, fi::ImageResourceToDisk, false),
        FLAG("ImageHandling=Resource", flags, ImageDbIsItemDb, true),
        // encoding
        FLAG("ContentTransferEncoding=Quoted-Printable", encoding_flags, kEncodingQuotedPrintable,
             true),
        FLAG("ContentTransferEncoding=base64", encoding_flags, kEncodingQuotedPrintable, false)));

#undef FLAG

/* ---- numbers and words ---- */

struct ValueCase {
  const char *options;
  run_kind kind;
  std::function<long(const html_render_info *)> field;
  long expected;
};

class ValueTest : public OptionsTest, public ::testing::WithParamInterface<ValueCase> {};

TEST_P(ValueTest, OptionGivesItsValue) {
  const ValueCase &c = GetParam();
  ASSERT_EQ(Read(c.options, c.kind), NOERROR);
  EXPECT_EQ(c.field(context_), c.expected) << c.options;
}

long LineLength(const html_render_info *c) { return c->max_line_length; }
long ChunkSize(const html_render_info *c) { return c->event_chunk_size; }
long Charset(const html_render_info *c) { return c->charset_id; }
long Tabs(const html_render_info *c) { return c->preserve_tabs; }
long Images(const html_render_info *c) { return c->image_handling; }
long Attachments(const html_render_info *c) { return c->attachment_handling; }
long NewlineFlags(const html_render_info *c) {
  return static_cast<long>(c->flags & (NewlineNUL | NewlineCRLF));
}
long Threshold(int i, const html_render_info *c) { return c->size_thresholds[i]; }

constexpr run_kind kMime{true, false, kGenerationHTML};
constexpr run_kind kMimeFile{true, true, kGenerationHTML};
constexpr run_kind kText{false, false, kGenerationText};
constexpr run_kind kMimeText{true, false, kGenerationText};

INSTANTIATE_TEST_SUITE_P(
    Values, ValueTest,
    ::testing::Values(
        ValueCase{"", {}, LineLength, 0}, ValueCase{"", kMime, LineLength, 72},
        ValueCase{"MaxLineLength=10", {}, LineLength, 72},
        ValueCase{"MaxLineLength=20", {}, LineLength, 20},
        ValueCase{"MaxLineLength=100", {}, LineLength, 100},
        ValueCase{"MaxLineLength=100 ContentTransferEncoding=quoted-printable", {}, LineLength, 76},
        // Quoted-printable alone does not wrap.
        ValueCase{"ContentTransferEncoding=quoted-printable", {}, LineLength, 0},
        ValueCase{"AddNewlines=CRLF", {}, LineLength, 72},
        ValueCase{"AddNewlines=CRLF MaxLineLength=40", {}, LineLength, 40},
        ValueCase{"AddNewlines=NL", kMime, NewlineFlags, NewlineCRLF},
        ValueCase{"", kMime, NewlineFlags, NewlineCRLF}, ValueCase{"", {}, NewlineFlags, 0},
        ValueCase{"", {}, ChunkSize, 32703}, ValueCase{"", kMime, ChunkSize, 8192},
        ValueCase{"", kText, ChunkSize, 32703}, ValueCase{"", kMimeText, ChunkSize, 8192},
        ValueCase{"OutputToEvent=Yes", {}, ChunkSize, 8192},
        ValueCase{"OutputToEvent=20", {}, ChunkSize, 80},
        ValueCase{"OutputToEvent=70000", {}, ChunkSize, 64382},
        ValueCase{"OutputToEvent=1000", {}, ChunkSize, 1000},
        ValueCase{"OutputToEvent=No", {}, ChunkSize, 0},
        ValueCase{"OutputToEvent=0", {}, ChunkSize, 0}, ValueCase{"", {}, Charset, 32},
        ValueCase{"CharsetNum=0", {}, Charset, 32}, ValueCase{"CharsetNum=171", {}, Charset, 171},
        ValueCase{"Charset=UTF-8", {}, Charset, 171},
        ValueCase{"Charset=nonsense", {}, Charset, 32},
        ValueCase{"CharsetNum=82 Charset=UTF-8", {}, Charset, 82},
        ValueCase{"Charset=utf-8", kText, Charset, 171}, ValueCase{"", {}, Tabs, 0},
        ValueCase{"PreserveTabs=Yes", {}, Tabs, 3}, ValueCase{"PreserveTabs=12", {}, Tabs, 12},
        ValueCase{"PreserveTabs=200", {}, Tabs, 80}, ValueCase{"Ostrafine=Yes", {}, Tabs, 3},
        ValueCase{"Ostrafine=Yes PreserveTabs=No", {}, Tabs, 0},
        ValueCase{"PreserveTabs=7", kText, Tabs, 0}, ValueCase{"", {}, Images, 1},
        ValueCase{"ImageHandling=ignore", {}, Images, 0},
        ValueCase{"ImageHandling=Disk", {}, Images, 2},
        ValueCase{"ImageHandling=Resource", {}, Images, 4},
        ValueCase{"ImageHandling=Inline", {}, Images, 1}, ValueCase{"", {}, Attachments, 1},
        ValueCase{"AttachmentHandling=Ignore", {}, Attachments, 0},
        ValueCase{"AttachmentHandling=disk", {}, Attachments, 2},
        ValueCase{"AttachmentHandling=ByName", {}, Attachments, 4},
        ValueCase{"", kMimeFile, Attachments, 1},
        ValueCase{"", {}, std::bind_front(Threshold, 0), 8},
        ValueCase{"", {}, std::bind_front(Threshold, 5), 24},
        ValueCase{"", kText, std::bind_front(Threshold, 0), 0},
        ValueCase{"Font1=9", {}, std::bind_front(Threshold, 0), 8},
        ValueCase{"StandardFontTags=Yes Font1=9", {}, std::bind_front(Threshold, 0), 9},
        ValueCase{"StandardFontTags=Yes Font5=72", {}, std::bind_front(Threshold, 4), 18},
        ValueCase{"StandardFontTags=Yes Font6=72", {}, std::bind_front(Threshold, 5), 72},
        ValueCase{"StandardFontTags=Yes Font6=0", {}, std::bind_front(Threshold, 5), 24},
        ValueCase{
            "", {}, [](const html_render_info *c) { return long{c->attachment_text_in_link}; }, 1},
        ValueCase{"AttachmentTextInLink=No",
                  {},
                  [](const html_render_info *c) { return long{c->attachment_text_in_link}; },
                  0},
        ValueCase{"NewlineOnParagraph=Yes", kText,
                  [](const html_render_info *c) { return long{c->newline_on_paragraph}; }, 1},
        ValueCase{"ForceDirection=Yes",
                  {},
                  [](const html_render_info *c) { return long{c->force_direction}; },
                  1},
        ValueCase{"LocalDominoSymbols=Yes",
                  {},
                  [](const html_render_info *c) { return long{c->local_symbols}; },
                  1},
        ValueCase{"QuilEditor=x ForceFontColor=No",
                  {},
                  [](const html_render_info *c) { return long{c->force_font_color}; },
                  0},
        ValueCase{"QuilEditor=x",
                  {},
                  [](const html_render_info *c) { return long{c->force_font_color}; },
                  1},
        ValueCase{"Ostrafine=Yes",
                  {},
                  [](const html_render_info *c) { return long{c->force_font_color}; },
                  0},
        ValueCase{"Ostrafine=Yes",
                  {},
                  [](const html_render_info *c) { return long{c->force_font_size}; },
                  1}));

/* ---- texts ---- */

struct TextCase {
  const char *options;
  run_kind kind;
  char *html_render_info::*field;
  const char *expected; /* null: none */
};

class TextTest : public OptionsTest, public ::testing::WithParamInterface<TextCase> {};

TEST_P(TextTest, OptionGivesItsText) {
  const TextCase &c = GetParam();
  ASSERT_EQ(Read(c.options, c.kind), NOERROR);
  const char *value = context_->*c.field;
  if (c.expected == nullptr) {
    EXPECT_EQ(value, nullptr) << c.options;
  } else {
    ASSERT_NE(value, nullptr) << c.options;
    EXPECT_STREQ(value, c.expected) << c.options;
  }
}

#define TEXT(options, kind, field, expected)                                                       \
  TextCase { options, kind, &html_render_info::field, expected }

INSTANTIATE_TEST_SUITE_P(
    Texts, TextTest,
    ::testing::Values(
        TEXT("", {}, doclink_text, "Link"), TEXT("DoclinkText=Go", {}, doclink_text, "Go"),
        TEXT("DoclinkText=", {}, doclink_text, nullptr),
        TEXT("DefaultURLDirectory=c:\\web\\", {}, image_url_directory, "c:/web"),
        TEXT("DefaultURLDirectory=c:\\web\\", {}, attachment_url_directory, "c:/web"),
        TEXT("DefaultURLDirectory=c:\\web\\", {}, link_url_directory, "c:/web"),
        TEXT("DefaultURLDirectory=c:\\web\\", {}, inplace_image_url_directory, "c:/web"),
        TEXT("", {}, image_url_directory, ""),
        TEXT("ImageURLDirectory=/img/", {}, image_url_directory, "/img"),
        TEXT("", {}, inplace_image_url_directory, nullptr),
        TEXT("InPlaceImageURLDirectory=*NONE*", {}, inplace_image_url_directory, ""),
        TEXT("InPlaceImageURLDirectory=\\", {}, inplace_image_url_directory, nullptr),
        TEXT("InPlaceImageURLDirectory=a\\b\\", {}, inplace_image_url_directory, "a/b"),
        TEXT("AttachmentURLDirectory= DefaultURLDirectory=/d", {}, attachment_url_directory,
             nullptr),
        TEXT("InPlaceAttachmentURLDirectory=x\\y/", {}, inplace_attachment_url_directory, "x/y"),
        TEXT("", {}, link_url_directory, "/"), TEXT("", kMime, link_url_directory, "notes://"),
        TEXT("LinkURLDirectory=", {}, link_url_directory, ""),
        TEXT("", {}, attachment_directory, nullptr),
        TEXT("AttachmentHandling=Disk AttachmentDirectory=/files/", {}, attachment_directory,
             "/files"),
        TEXT("ImageDirectory=/pics/", {}, image_directory, nullptr),
        TEXT("ImageHandling=Disk ImageDirectory=/pics/", {}, image_directory, "/pics"),
        TEXT("LocalDominoSymbols=Yes ImageDirectory=\\pics\\", {}, image_directory, "\\pics"),
        TEXT("DefaultSubdirectory=", {}, default_subdirectory, ""),
        TEXT("DefaultSubdirectory=sub/", {}, default_subdirectory, "sub"),
        TEXT("", {}, dblink_graphic, nullptr), TEXT("", kMime, dblink_graphic, "cid:_a_dblink"),
        TEXT("", kMime, viewlink_graphic, "cid:_a_viewlink"),
        TEXT("", kMime, doclink_graphic, "cid:_a_doclink"),
        TEXT("", kMime, anchorlink_graphic, "cid:_an_anchorlink"),
        TEXT("", kMimeFile, dblink_graphic, nullptr),
        TEXT("DBLinkGraphic=/icons/db.gif/", kMime, dblink_graphic, "/icons/db.gif"),
        TEXT("LocalDominoSymbols=Yes DBLinkGraphic=x.gif", {}, dblink_graphic, "dblink.gif"),
        TEXT("LocalDominoSymbols=Yes", {}, anchorlink_graphic, "textlink.gif"),
        TEXT("", kMime, collapse_graphic, "cid:_a_collapse"),
        TEXT("", kMime, tab_graphic, "cid:_a_tabletab"), TEXT("", kMime, expand_graphic, nullptr),
        TEXT("ExpandGraphic=e.gif", {}, expand_graphic, "e.gif"),
        TEXT("BrokenLinkURL=/broken/", {}, broken_link_url, "/broken"),
        TEXT("BrokenLinkGraphic=b.gif", {}, broken_link_graphic, "b.gif"),
        TEXT("AttachmentGraphic=clip.gif", {}, attachment_graphic, "clip.gif"),
        TEXT("CSSBulletGraphic=b1.gif", {}, css_bullet_graphic, "b1.gif"),
        TEXT("CSSCircleBulletGraphic=b2.gif", {}, css_circle_bullet_graphic, "b2.gif"),
        TEXT("CSSSquareBulletGraphic=b3.gif", {}, css_square_bullet_graphic, "b3.gif"),
        TEXT("CSSCheckBulletGraphic=b4.gif", {}, css_check_bullet_graphic, "b4.gif"),
        TEXT("CSSTabSelTextColor=red", {}, css_tab_sel_text, nullptr),
        TEXT("TabbedTablesInCSS=Yes CSSTabSelTextColor=red", {}, css_tab_sel_text, "red"),
        TEXT("TabbedTablesInCSS=Yes CSSTabNoSelBackgroundColor=#eee", {}, css_tab_nosel_background,
             "#eee"),
        TEXT("SeeAttachedMsg=see", {}, see_attached_msg, nullptr),
        TEXT("Ostrafine=Yes SeeAttachedMsg='See it'", {}, see_attached_msg, "See it"),
        TEXT("OpenDatabaseString=?OpenDatabase", {}, open_database_string, "?OpenDatabase"),
        TEXT("OpenViewString=?OpenView", {}, open_view_string, "?OpenView"),
        TEXT("OpenDocumentString=?OpenDocument", {}, open_document_string, "?OpenDocument"),
        TEXT("OpenImageResourceString=?OpenImageResource", {}, open_image_resource_string,
             "?OpenImageResource"),
        TEXT("OpenElementString=?OpenElement", {}, open_element_string, "?OpenElement"),
        TEXT("BlankAltString=none", {}, blank_alt_string, "none"),
        TEXT("FileNamesFld=Names", {}, file_names_field, "Names"),
        TEXT("ResolveWiki=/wiki?", {}, resolve_wiki, "/wiki?"),
        TEXT("Form='Main Topic'", {}, resolve_wiki,
             "//ResolveWikiLink?OpenAgent&amp;Form=Main+Topic&amp;WikiText="),
        TEXT("Form=a\\b UseJavaScript=Yes", {}, resolve_wiki, "//a/b?OpenForm"),
        TEXT("Form=A&B UseJavaScript=no", {}, resolve_wiki,
             "//ResolveWikiLink?OpenAgent&amp;Form=A&amp;B&amp;WikiText="),
        TEXT("", {}, resolve_wiki, "//ResolveWikiLink?OpenAgent&amp;Form=Document&amp;WikiText=")));

#undef TEXT

TEST_F(OptionsTest, CurlyBracesOnlyUnderYes) {
  ASSERT_EQ(Read("UseCurlyBracesInline=yes"), NOERROR);
  EXPECT_STREQ(context_->curly_open, "{");
  EXPECT_STREQ(context_->curly_close, "}");
}

TEST_F(OptionsTest, CurlyBracesEmptyOtherwise) {
  ASSERT_EQ(Read("UseCurlyBracesInline=No"), NOERROR);
  EXPECT_STREQ(context_->curly_open, "");
  EXPECT_STREQ(context_->curly_close, "");
}

TEST_F(OptionsTest, BasePathnameIsCopied) {
  ASSERT_EQ(Read("BasePathname=/srv/site"), NOERROR);
  EXPECT_STREQ(context_->base_pathname, "/srv/site");
}

/* ---- presets ---- */

TEST_F(OptionsTest, OstrafinePresetBundle) {
  ASSERT_EQ(Read("Ostrafine=Yes"), NOERROR);
  EXPECT_EQ(context_->flags & (StandardFontTags | PreserveSpaces | CSSBorders | Fragment |
                               ForceParagraphs | WAICompliant),
            PreserveSpaces | CSSBorders | Fragment | ForceParagraphs | WAICompliant);
  EXPECT_EQ(context_->flags2 & (f2::MoveStylesInline | f2::DoclinksRelative | f2::EncapsulateTable),
            f2::MoveStylesInline);
  EXPECT_EQ(context_->flags3 & f3::FillEmptyTableCells, f3::FillEmptyTableCells);
  EXPECT_EQ(context_->flags4 & (f4::AllowEmptyDivs | f4::HybridFontTags), f4::AllowEmptyDivs);
  EXPECT_EQ(context_->flags5,
            f5::OstrafineSections | f5::OstrafineTabs | f5::SeeAttachedMsgEnabled);
  EXPECT_EQ(context_->preserve_tabs, 3);
  EXPECT_EQ(context_->force_font_size, 1u);
  EXPECT_EQ(context_->force_font_face, 1u);
  EXPECT_EQ(context_->force_font_color, 0u);
}

TEST_F(OptionsTest, QuilEditorPresetBundleEvenWithNo) {
  ASSERT_EQ(Read("QuilEditor=No"), NOERROR);
  EXPECT_EQ(context_->flags & (StandardFontTags | PreserveSpaces | CSSBorders | Fragment |
                               ForceParagraphs | WAICompliant),
            PreserveSpaces | CSSBorders | Fragment | ForceParagraphs);
  EXPECT_EQ(context_->flags2 & (f2::MoveStylesInline | f2::DoclinksRelative | f2::EncapsulateTable),
            f2::MoveStylesInline | f2::DoclinksRelative);
  EXPECT_EQ(context_->flags3 & f3::FillEmptyTableCells, f3::FillEmptyTableCells);
  EXPECT_EQ(context_->flags4 & (f4::AllowEmptyDivs | f4::HybridFontTags),
            f4::AllowEmptyDivs | f4::HybridFontTags);
  EXPECT_EQ(context_->flags5,
            f5::OstrafineSections | f5::OstrafineTabs | f5::SeeAttachedMsgEnabled);
  EXPECT_EQ(context_->preserve_tabs, 3);
  EXPECT_EQ(context_->force_font_color, 1u);
}

TEST_F(OptionsTest, OstrafineWinsOverQuilEditor) {
  ASSERT_EQ(Read("QuilEditor=Yes Ostrafine=Yes"), NOERROR);
  EXPECT_EQ(context_->flags2 & f2::DoclinksRelative, 0u);
  EXPECT_EQ(context_->force_font_color, 0u);
}

TEST_F(OptionsTest, PlainTextReadsOnlyTheFirstGroup) {
  ASSERT_EQ(
      Read("Ostrafine=Yes WAICompliant=No DoclinkText=x UsePTags=Yes MaxLineLength=30", kText),
      NOERROR);
  EXPECT_NE(context_->flags & WAICompliant, 0u); // the preset's, not changed by group B
  EXPECT_EQ(context_->doclink_text, nullptr);
  EXPECT_EQ(context_->flags4 & f4::UsePTags, 0u);
  EXPECT_EQ(context_->max_line_length, 30);
  EXPECT_EQ(context_->link_url_directory, nullptr);
}

/* ---- the static font map ---- */

TEST_F(OptionsTest, StaticFontMapFromSettingsAndOptions) {
  HostTestSetEnvironment("StaticFont1", "Arial|Helvetica");
  HostTestSetEnvironment("StaticFont0", "Times New Roman");
  HostTestSetEnvironment("StaticFont4", std::string(40, 'M').c_str());
  ASSERT_EQ(Read("InitialFont5=Segoe SubstituteFont3=abcdefghijklmnopqrstuvwxyz0123456789"),
            NOERROR);
  EXPECT_STREQ(context_->font_map_faces[0], "Default Sans Serif");
  EXPECT_STREQ(context_->font_map_substitutes[0], "Arial,sans-serif");
  EXPECT_STREQ(context_->font_map_faces[1], "Default Serif");
  EXPECT_STREQ(context_->font_map_substitutes[1], "Times New Roman,serif");
  EXPECT_STREQ(context_->font_map_faces[2], "Default Monospace");
  EXPECT_STREQ(context_->font_map_substitutes[2], "abcdefghijklmnopqrstuvwxyz01234"); // 31
  EXPECT_STREQ(context_->font_map_faces[3], "Default MultiLingual");
  EXPECT_STREQ(context_->font_map_substitutes[3], "sans-serif");
  EXPECT_STREQ(context_->font_map_faces[4], "Segoe");
  EXPECT_STREQ(context_->font_map_substitutes[4], "sans-serif");
}

TEST_F(OptionsTest, StaticFontSettingIsCutTo32Characters) {
  HostTestSetEnvironment("StaticFont4", std::string(40, 'M').c_str());
  ASSERT_EQ(Read(""), NOERROR);
  EXPECT_EQ(std::string(context_->font_map_substitutes[2]), std::string(32, 'M') + ",monospace");
}

/* ---- UNIDs, fonts and databases ---- */

TEST_F(OptionsTest, UseUNIDReadsFourHexGroups) {
  ASSERT_EQ(Read("UseUNID=0123456789ABCDEF0011223344556677"), NOERROR);
  EXPECT_EQ(context_->use_unid, 1u);
  EXPECT_EQ(context_->unid.File[1], 0x01234567u);
  EXPECT_EQ(context_->unid.File[0], 0x89ABCDEFu);
  EXPECT_EQ(context_->unid.Note.Innards[1], 0x00112233u);
  EXPECT_EQ(context_->unid.Note.Innards[0], 0x44556677u);
  EXPECT_TRUE(HostTestMessages().empty());
}

TEST_F(OptionsTest, UseUNIDGroupsStopAtTheFirstNonHexCharacter) {
  ASSERT_EQ(Read("UseUNID=0x123456000001zz00000002000000FF"), NOERROR);
  EXPECT_EQ(context_->use_unid, 1u);
  EXPECT_EQ(context_->unid.File[1], 0u);
  EXPECT_EQ(context_->unid.File[0], 0x1u); // "000001zz"
  EXPECT_EQ(context_->unid.Note.Innards[1], 0x2u);
  EXPECT_EQ(context_->unid.Note.Innards[0], 0xFFu);
}

TEST_F(OptionsTest, UseUNIDOfAnotherLengthIsIgnoredWithAMessage) {
  for (const char *options : {"UseUNID=0123", "UseUNID="}) {
    HostTestClearMessages();
    ASSERT_EQ(Read(options), NOERROR);
    EXPECT_EQ(context_->use_unid, 0u);
    EXPECT_EQ(HostTestMessages(),
              (std::vector<HostTestMessage>{
                  {"UseUNID property pair specifies invalid UNID.  Ignored!", 6}}));
    VelkoDeallocatePtr(session_.get(), context_->options);
    context_->options = nullptr;
  }
}

TEST_F(OptionsTest, AutoTHFontIsParsed) {
  ASSERT_EQ(Read("AutoTHFont='Bold 12pt Red'"), NOERROR);
  EXPECT_EQ(context_->auto_th_font_set, 1u);
  EXPECT_EQ(context_->auto_th_font.size, 12);
  EXPECT_EQ(context_->auto_th_font.color, 2);
}

TEST_F(OptionsTest, ImageFilePathThatCannotBeOpenedMarksTheChunk) {
  ASSERT_EQ(Read("ImageHandling=Resource ImageFilePath=mem:nowhere"), NOERROR);
  EXPECT_EQ(chunk_.secondary_status, VELKO_ERR_INVALID_ARGUMENT);
  EXPECT_EQ(context_->image_db_owned, 0u);
  EXPECT_EQ(context_->flags & ImageDbIsItemDb, 0u);
}

/* ---- failures ---- */

TEST_F(OptionsTest, EveryTrackedCopyThatCannotBeHadStopsReading) {
  const char *options =
      "TabbedTablesInCSS=Yes CSSTabSelTextColor=red DoclinkText=Go ImageHandling=Disk "
      "ImageDirectory=/p DefaultSubdirectory=s DefaultURLDirectory=/d AttachmentHandling=Disk "
      "MarkDelimitedHTML=Yes DelimitedHTMLStart=<s> AttachmentGraphic=a.gif DBLinkGraphic=d.gif "
      "CollapseGraphic=c.gif OpenViewString=v FileNamesFld=f";
  context_->options = VelkoAllocatePtrAndCopy(session_.get(), VELKO_HERE, options, 0);
  context_->generation = kGenerationHTML;
  const long before = VelkoTestTrackedRequests();
  ASSERT_EQ(ReadRenderingOptions(context_), NOERROR);
  const long requests = VelkoTestTrackedRequests() - before;
  ASSERT_GT(requests, 10);
  for (long nth = 1; nth <= requests; ++nth) {
    html_render_info *other = CreateRenderContext(session_.get(), &chunk_);
    ASSERT_NE(other, nullptr);
    other->options = VelkoAllocatePtrAndCopy(session_.get(), VELKO_HERE, options, 0);
    other->generation = kGenerationHTML;
    VelkoTestFailTrackedAllocation(static_cast<int>(nth));
    EXPECT_EQ(ReadRenderingOptions(other), VELKO_ERR_MEMORY) << nth;
    VelkoTestFailTrackedAllocation(0);
    ReleaseRenderContext(other);
  }
}

/* ---- the exported table ---- */

TEST(GenerateHTMLPropertiesTest, FortySevenNamesAndAnEndRow) {
  int rows = 0;
  while (GenerateHTML_Properties[rows].name != nullptr)
    ++rows;
  EXPECT_EQ(rows, 47);
  EXPECT_STREQ(GenerateHTML_Properties[0].name, "AddNewlines=");
  EXPECT_STREQ(GenerateHTML_Properties[3].name, "AttachmentGraphic");
  EXPECT_STREQ(GenerateHTML_Properties[17].name, "HeadTag=");
  EXPECT_STREQ(GenerateHTML_Properties[18].name, "HeadTag=");
  EXPECT_STREQ(GenerateHTML_Properties[46].name, "WAICompliant=");
  const generate_html_property &end = GenerateHTML_Properties[47];
  EXPECT_EQ(end.reserved, 0u);
  EXPECT_EQ(end.one, 0u);
  EXPECT_EQ(end.flags, 1u);
  for (int i = 0; i < rows; ++i) {
    const std::string name = GenerateHTML_Properties[i].name;
    const bool flagged =
        name == "PreserveSpaces=" || name == "SectionOpenTag=" || name == "ViewLinkGraphic=";
    EXPECT_EQ(GenerateHTML_Properties[i].flags, flagged ? 1u : 0u) << name;
    EXPECT_EQ(GenerateHTML_Properties[i].reserved, 0u) << name;
    EXPECT_EQ(GenerateHTML_Properties[i].one, 1u) << name;
    if (i > 0) {
      EXPECT_LE(strcasecmp(GenerateHTML_Properties[i - 1].name, name.c_str()), 0) << name;
    }
  }
}

} // namespace
