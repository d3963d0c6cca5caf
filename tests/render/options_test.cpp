// The rendering options read into the context: the flags and what they
// depend on, the numbers and texts with their defaults and limits, the two
// presets, the static font map, UNIDs, the failures of a tracked copy, and
// the exported table of option names.
#include <gtest/gtest.h>

#include <cstring>
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

constexpr run_kind kMime{true, false, kGenerationHTML};
constexpr run_kind kMimeFile{true, true, kGenerationHTML};
constexpr run_kind kText{false, false, kGenerationText};

class OptionsTest : public RenderContextTest {
protected:
  /* A fresh context set up as GenerateXML does, then the options read. */
  STATUS Read(const char *options, run_kind kind = {}) {
    Renew();
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

TEST_F(OptionsTest, EveryYesNoOptionSetsItsBit) {
  ASSERT_EQ(Read("Translation=Yes MakeURLHotspots=Yes ForceParagraphs=yes StandardFontTags=Yes "
                 "PreserveSpaces=Yes WAICompliant=Yes MoveStylesInline=Yes ImageRelativeToPage=Yes "
                 "TabbedTablesInCSS=Yes SectionsInCSS=Yes ConsolidatePABIDS=Yes "
                 "RespectHiddenFormulas=Yes DoclinksRelative=Yes AutoQuoteHTMLParams=Yes "
                 "FillEmptyTableCells=Yes SuppressImages=Yes SuppressAttachments=Yes "
                 "SuppressLinks=Yes MarkDelimitedHTML=Yes UseXMLEntities=Yes UsePTags=Yes "
                 "SuppressDivInfo=Yes RelativeIndents=Yes HybridFontTags=Yes SupportRico=Yes "
                 "SupportDojo=Yes OpenFormData=Yes OstrafineSections=Yes OstrafineTabs=Yes"),
            NOERROR);
  const DWORD flags = Translation | MakeURLHotspots | ForceParagraphs | StandardFontTags |
                      PreserveSpaces | WAICompliant;
  const DWORD flags2 = f2::MoveStylesInline | f2::ImageRelativeToPage | f2::TabbedTablesInCSS |
                       f2::SectionsInCSS | f2::ConsolidatePABIDS | f2::RespectHiddenFormulas |
                       f2::DoclinksRelative;
  const DWORD flags3 = f3::AutoQuoteHTMLParams | f3::FillEmptyTableCells | f3::SuppressImages |
                       f3::SuppressAttachments | f3::SuppressLinks | f3::MarkDelimitedHTML |
                       f3::UseXMLEntities;
  const DWORD flags4 =
      f4::UsePTags | f4::SuppressDivInfo | f4::RelativeIndents | f4::HybridFontTags;
  const DWORD flags5 = f5::SupportRico | f5::SupportDojo | f5::OpenFormData |
                       f5::OstrafineSections | f5::OstrafineTabs;
  EXPECT_EQ(context_->flags & flags, flags);
  EXPECT_EQ(context_->flags2 & flags2, flags2);
  EXPECT_EQ(context_->flags3 & flags3, flags3);
  EXPECT_EQ(context_->flags4 & flags4, flags4);
  EXPECT_EQ(context_->flags5, flags5);
}

TEST_F(OptionsTest, FlagsWithValuesDefaultsAndDependencies) {
  struct Case {
    const char *options;
    DWORD html_render_info::*word;
    DWORD mask;
    DWORD expected; /* the bits of the mask that are set */
  };
  using R = html_render_info;
  const DWORD links = RaiseDocLinkEvent | RaiseURLLinkEvent;
  const DWORD newlines = NewlineNUL | NewlineCRLF;
  const DWORD fonts =
      f3::SuppressFontFace | f3::SuppressFontSize | f3::SuppressFontColor | f3::SuppressFontAttr;
  const DWORD sparse = f4::SparseTable | f4::SparseTableWidth;
  const DWORD tags = f4::AutoTagTable | f4::AutoTagRow | f4::AutoTagCell;
  const DWORD classes =
      f4::AutoClassTable | f4::AutoClassRow | f4::AutoClassColumn | f4::AutoClassSection;
  const DWORD images = fi::ImageUNIDAsFolder | fi::ImageUseName | fi::NoImageOverwrite;
  const Case cases[] = {
      {"", &R::flags, ForceParagraphs | Fragment | CSSBorders, 0},
      {"Generation=fragment", &R::flags, Fragment, Fragment},
      {"Generation=Fragment", &R::flags2, f2::MoveStylesInline, f2::MoveStylesInline},
      {"Ostrafine=Yes Generation=HTML", &R::flags, Fragment, 0},
      {"Ostrafine=Yes Generation=HTML", &R::flags2, f2::MoveStylesInline, f2::MoveStylesInline},
      {"Ostrafine=Yes StandardFontTags=Yes", &R::flags, StandardFontTags, StandardFontTags},
      {"Ostrafine=Yes PreserveSpaces=No", &R::flags, PreserveSpaces, 0},
      {"RaiseLinkEvent=Doclinks", &R::flags, links, RaiseDocLinkEvent},
      {"RaiseLinkEvent=url", &R::flags, links, RaiseURLLinkEvent},
      {"RaiseLinkEvent=ALL", &R::flags, links, links},
      {"AddNewlines=CRLF", &R::flags, newlines, NewlineCRLF},
      {"AddNewlines=Yes", &R::flags, newlines, NewlineNUL},
      {"AddNewlines=NL", &R::flags, newlines, NewlineNUL},
      {"AddNewlines=Maybe", &R::flags, newlines, 0},
      {"AddNewlines=NL ContentTransferEncoding=quoted-printable", &R::flags, newlines, NewlineCRLF},
      {"OutputToEvent=500", &R::flags, OutputToEvent, OutputToEvent},
      {"OutputToEvent=No", &R::flags, OutputToEvent, 0},
      {"CSSBorders=Yes", &R::flags, CSSBorders, CSSBorders},
      {"StandardFontTags=Yes CSSBorders=Yes", &R::flags, CSSBorders, 0},
      {"", &R::flags2, f2::EncapsulateTable, f2::EncapsulateTable},
      {"Ostrafine=Yes", &R::flags2, f2::EncapsulateTable, 0},
      {"QuilEditor=1", &R::flags2, f2::EncapsulateTable, 0},
      {"EncapsulateTable=No", &R::flags2, f2::EncapsulateTable, 0},
      {"ExtendedSpecialCharacters=No", &R::flags2, f2::NoExtendedSpecialCharacters,
       f2::NoExtendedSpecialCharacters},
      {"ExtendedSpecialCharacters=Maybe", &R::flags2, f2::NoExtendedSpecialCharacters, 0},
      {"QuilEditor=", &R::flags2, f2::DoclinksRelative, f2::DoclinksRelative},
      {"OutputToEvent=Yes OutputAllToEvent=Yes", &R::flags3, f3::OutputAllToEvent,
       f3::OutputAllToEvent},
      {"OutputAllToEvent=Yes", &R::flags3, f3::OutputAllToEvent, 0},
      {"PreviewMode=Yes WebMode=Yes", &R::flags3, f3::PreviewMode | f3::WebMode, 0},
      {"RespectHiddenFormulas=Yes PreviewMode=Yes WebMode=Yes", &R::flags3,
       f3::PreviewMode | f3::WebMode, f3::PreviewMode | f3::WebMode},
      {"SuppressFonts=Face", &R::flags3, fonts, f3::SuppressFontFace},
      {"SuppressFonts=size,colour", &R::flags3, fonts,
       f3::SuppressFontSize | f3::SuppressFontColor},
      {"SuppressFonts=Color", &R::flags3, fonts, f3::SuppressFontColor},
      {"SuppressFonts=attr", &R::flags3, fonts, f3::SuppressFontAttr},
      {"SuppressFonts=All", &R::flags3, fonts, fonts},
      {"SuppressFonts=small", &R::flags3, fonts, 0},
      {"SparseTable=Yes", &R::flags4, sparse, f4::SparseTable},
      {"SparseTable=Width", &R::flags4, sparse, sparse},
      {"AutoTag=All", &R::flags4, tags, tags},
      {"AutoTag=rowcell", &R::flags4, tags, f4::AutoTagRow | f4::AutoTagCell},
      {"AutoClass=All", &R::flags4, classes, classes & ~f4::AutoClassSection},
      {"AutoClass=Section,table", &R::flags4, classes, f4::AutoClassSection | f4::AutoClassTable},
      {"", &R::flags4, f4::AllowEmptyDivs | f4::HybridFontTags, f4::AllowEmptyDivs},
      {"AllowEmptyDivs=No", &R::flags4, f4::AllowEmptyDivs, 0},
      {"QuilEditor=x", &R::flags4, f4::HybridFontTags, f4::HybridFontTags},
      {"Ostrafine=Yes OstrafineTabs=No", &R::flags5, f5::OstrafineTabs, 0},
      // Image flags are read only for DISK and RESOURCE.
      {"ImageUNIDAsFolder=Yes ImageUseName=Yes ImageOverwrite=No", &R::image_flags, images, 0},
      {"ImageHandling=Disk ImageUNIDAsFolder=Yes ImageUseName=Yes ImageOverwrite=No",
       &R::image_flags, images, images},
      {"ImageHandling=Resource ImageOverwrite=Maybe", &R::image_flags, fi::NoImageOverwrite, 0},
      {"", &R::image_flags, fi::ImageResourceToDisk, 0},
      {"ImageHandling=Disk", &R::image_flags, fi::ImageResourceToDisk, fi::ImageResourceToDisk},
      {"ImageHandling=Disk ImageResourceToDisk=No", &R::image_flags, fi::ImageResourceToDisk, 0},
      {"ImageHandling=Resource", &R::flags, ImageDbIsItemDb, ImageDbIsItemDb},
      {"ContentTransferEncoding=Quoted-Printable", &R::encoding_flags, kEncodingQuotedPrintable,
       kEncodingQuotedPrintable},
      {"ContentTransferEncoding=base64", &R::encoding_flags, kEncodingQuotedPrintable, 0},
  };
  for (const Case &c : cases) {
    ASSERT_EQ(Read(c.options), NOERROR) << c.options;
    EXPECT_EQ(context_->*c.word & c.mask, c.expected) << c.options;
  }
}

/* ---- numbers ---- */

#define FIELD(name) [](const html_render_info *c) { return long{c->name}; }

TEST_F(OptionsTest, NumbersWithTheirDefaultsAndLimits) {
  struct Case {
    const char *options;
    run_kind kind;
    long (*field)(const html_render_info *);
    long expected;
  };
  const Case cases[] = {
      {"", {}, FIELD(max_line_length), 0},
      {"", kMime, FIELD(max_line_length), 72},
      {"MaxLineLength=19", {}, FIELD(max_line_length), 72},
      {"MaxLineLength=20", {}, FIELD(max_line_length), 20},
      {"MaxLineLength=100 ContentTransferEncoding=quoted-printable",
       {},
       FIELD(max_line_length),
       76},
      {"ContentTransferEncoding=quoted-printable", {}, FIELD(max_line_length), 0},
      {"AddNewlines=CRLF", {}, FIELD(max_line_length), 72},
      {"AddNewlines=CRLF MaxLineLength=40", {}, FIELD(max_line_length), 40},
      {"AddNewlines=NL", kMime,
       [](const html_render_info *c) { return long{c->flags & (NewlineNUL | NewlineCRLF)}; },
       NewlineCRLF},
      {"", {}, FIELD(event_chunk_size), 32703},
      {"", kMime, FIELD(event_chunk_size), 8192},
      {"", kText, FIELD(event_chunk_size), 32703},
      {"OutputToEvent=Yes", {}, FIELD(event_chunk_size), 8192},
      {"OutputToEvent=79", {}, FIELD(event_chunk_size), 80},
      {"OutputToEvent=64382", {}, FIELD(event_chunk_size), 64382},
      {"OutputToEvent=64383", {}, FIELD(event_chunk_size), 64382},
      {"OutputToEvent=No", {}, FIELD(event_chunk_size), 0},
      {"OutputToEvent=0", {}, FIELD(event_chunk_size), 0},
      {"", {}, FIELD(charset_id), 32},
      {"CharsetNum=0", {}, FIELD(charset_id), 32},
      {"CharsetNum=171", {}, FIELD(charset_id), 171},
      {"Charset=UTF-8", {}, FIELD(charset_id), 171},
      {"Charset=nonsense", {}, FIELD(charset_id), 32},
      {"CharsetNum=82 Charset=UTF-8", {}, FIELD(charset_id), 82},
      {"", {}, FIELD(preserve_tabs), 0},
      {"PreserveTabs=Yes", {}, FIELD(preserve_tabs), 3},
      {"PreserveTabs=12", {}, FIELD(preserve_tabs), 12},
      {"PreserveTabs=200", {}, FIELD(preserve_tabs), 80},
      {"Ostrafine=Yes PreserveTabs=No", {}, FIELD(preserve_tabs), 0},
      {"PreserveTabs=7", kText, FIELD(preserve_tabs), 0},
      {"", {}, FIELD(image_handling), 1},
      {"ImageHandling=ignore", {}, FIELD(image_handling), 0},
      {"ImageHandling=Disk", {}, FIELD(image_handling), 2},
      {"ImageHandling=Resource", {}, FIELD(image_handling), 4},
      {"", {}, FIELD(attachment_handling), 1},
      {"AttachmentHandling=Ignore", {}, FIELD(attachment_handling), 0},
      {"AttachmentHandling=disk", {}, FIELD(attachment_handling), 2},
      {"AttachmentHandling=ByName", {}, FIELD(attachment_handling), 4},
      {"", {}, FIELD(size_thresholds[0]), 8},
      {"", {}, FIELD(size_thresholds[5]), 24},
      {"", kText, FIELD(size_thresholds[0]), 0},
      {"Font1=9", {}, FIELD(size_thresholds[0]), 8},
      {"StandardFontTags=Yes Font1=9", {}, FIELD(size_thresholds[0]), 9},
      {"StandardFontTags=Yes Font5=72", {}, FIELD(size_thresholds[4]), 18},
      {"StandardFontTags=Yes Font6=72", {}, FIELD(size_thresholds[5]), 72},
      {"StandardFontTags=Yes Font6=0", {}, FIELD(size_thresholds[5]), 24},
      {"", {}, FIELD(attachment_text_in_link), 1},
      {"AttachmentTextInLink=No", {}, FIELD(attachment_text_in_link), 0},
      {"QuilEditor=x ForceFontColor=No", {}, FIELD(force_font_color), 0},
  };
  for (const Case &c : cases) {
    ASSERT_EQ(Read(c.options, c.kind), NOERROR) << c.options;
    EXPECT_EQ(c.field(context_), c.expected) << c.options;
  }
}

#undef FIELD

/* ---- texts ---- */

TEST_F(OptionsTest, TextsWithTheirDefaultsAndDependencies) {
  struct Case {
    const char *options;
    run_kind kind;
    char *html_render_info::*field;
    const char *expected; /* null: none */
  };
  using R = html_render_info;
  const Case cases[] = {
      {"", {}, &R::doclink_text, "Link"},
      {"DoclinkText=Go", {}, &R::doclink_text, "Go"},
      {"DoclinkText=", {}, &R::doclink_text, nullptr},
      {"DefaultURLDirectory=c:\\web\\", {}, &R::image_url_directory, "c:/web"},
      {"", {}, &R::image_url_directory, ""},
      {"ImageURLDirectory=/img/", {}, &R::image_url_directory, "/img"},
      {"", {}, &R::inplace_image_url_directory, nullptr},
      {"InPlaceImageURLDirectory=*NONE*", {}, &R::inplace_image_url_directory, ""},
      {"InPlaceImageURLDirectory=\\", {}, &R::inplace_image_url_directory, nullptr},
      {"InPlaceImageURLDirectory=a\\b\\", {}, &R::inplace_image_url_directory, "a/b"},
      {"AttachmentURLDirectory= DefaultURLDirectory=/d", {}, &R::attachment_url_directory, nullptr},
      {"", {}, &R::link_url_directory, "/"},
      {"", kMime, &R::link_url_directory, "notes://"},
      {"AttachmentDirectory=/files/", {}, &R::attachment_directory, nullptr},
      {"AttachmentHandling=Disk AttachmentDirectory=/files/",
       {},
       &R::attachment_directory,
       "/files"},
      {"ImageDirectory=/pics/", {}, &R::image_directory, nullptr},
      {"ImageHandling=Disk ImageDirectory=/pics/", {}, &R::image_directory, "/pics"},
      {"LocalDominoSymbols=Yes ImageDirectory=\\pics\\", {}, &R::image_directory, "\\pics"},
      {"DefaultSubdirectory=sub/", {}, &R::default_subdirectory, "sub"},
      {"", {}, &R::dblink_graphic, nullptr},
      {"", kMime, &R::dblink_graphic, "cid:_a_dblink"},
      {"", kMime, &R::anchorlink_graphic, "cid:_an_anchorlink"},
      {"", kMime, &R::expand_graphic, nullptr},
      {"", kMimeFile, &R::dblink_graphic, nullptr},
      {"DBLinkGraphic=/icons/db.gif/", kMime, &R::dblink_graphic, "/icons/db.gif"},
      {"LocalDominoSymbols=Yes DBLinkGraphic=x.gif", {}, &R::dblink_graphic, "dblink.gif"},
      {"CSSTabSelTextColor=red", {}, &R::css_tab_sel_text, nullptr},
      {"TabbedTablesInCSS=Yes CSSTabSelTextColor=red", {}, &R::css_tab_sel_text, "red"},
      {"SeeAttachedMsg=see", {}, &R::see_attached_msg, nullptr},
      {"Ostrafine=Yes SeeAttachedMsg='See it'", {}, &R::see_attached_msg, "See it"},
      {"ResolveWiki=/wiki?", {}, &R::resolve_wiki, "/wiki?"},
      {"Form='Main Topic'",
       {},
       &R::resolve_wiki,
       "//ResolveWikiLink?OpenAgent&amp;Form=Main+Topic&amp;WikiText="},
      {"Form=a\\b UseJavaScript=Yes", {}, &R::resolve_wiki, "//a/b?OpenForm"},
      {"Form=A&B UseJavaScript=no",
       {},
       &R::resolve_wiki,
       "//ResolveWikiLink?OpenAgent&amp;Form=A&amp;B&amp;WikiText="},
      {"", {}, &R::resolve_wiki, "//ResolveWikiLink?OpenAgent&amp;Form=Document&amp;WikiText="},
  };
  for (const Case &c : cases) {
    ASSERT_EQ(Read(c.options, c.kind), NOERROR) << c.options;
    const char *value = context_->*c.field;
    if (c.expected == nullptr)
      EXPECT_EQ(value, nullptr) << c.options;
    else
      EXPECT_STREQ(value, c.expected) << c.options;
  }
  ASSERT_EQ(Read("UseCurlyBracesInline=yes"), NOERROR);
  EXPECT_STREQ(context_->curly_open, "{");
  EXPECT_STREQ(context_->curly_close, "}");
  ASSERT_EQ(Read("UseCurlyBracesInline=No"), NOERROR);
  EXPECT_STREQ(context_->curly_open, "");
}

/* ---- presets ---- */

TEST_F(OptionsTest, PresetBundles) {
  const DWORD flagsMask =
      StandardFontTags | PreserveSpaces | CSSBorders | Fragment | ForceParagraphs | WAICompliant;
  const DWORD flags2Mask = f2::MoveStylesInline | f2::DoclinksRelative | f2::EncapsulateTable;
  const DWORD flags5 = f5::OstrafineSections | f5::OstrafineTabs | f5::SeeAttachedMsgEnabled;
  ASSERT_EQ(Read("Ostrafine=Yes"), NOERROR);
  EXPECT_EQ(context_->flags & flagsMask,
            PreserveSpaces | CSSBorders | Fragment | ForceParagraphs | WAICompliant);
  EXPECT_EQ(context_->flags2 & flags2Mask, f2::MoveStylesInline);
  EXPECT_EQ(context_->flags3 & f3::FillEmptyTableCells, f3::FillEmptyTableCells);
  EXPECT_EQ(context_->flags4 & (f4::AllowEmptyDivs | f4::HybridFontTags), f4::AllowEmptyDivs);
  EXPECT_EQ(context_->flags5, flags5);
  EXPECT_EQ(context_->preserve_tabs, 3);
  EXPECT_EQ(context_->force_font_size, 1u);
  EXPECT_EQ(context_->force_font_face, 1u);
  EXPECT_EQ(context_->force_font_color, 0u);

  // QuilEditor applies its bundle whatever its value.
  ASSERT_EQ(Read("QuilEditor=No"), NOERROR);
  EXPECT_EQ(context_->flags & flagsMask, PreserveSpaces | CSSBorders | Fragment | ForceParagraphs);
  EXPECT_EQ(context_->flags2 & flags2Mask, f2::MoveStylesInline | f2::DoclinksRelative);
  EXPECT_EQ(context_->flags3 & f3::FillEmptyTableCells, f3::FillEmptyTableCells);
  EXPECT_EQ(context_->flags4 & (f4::AllowEmptyDivs | f4::HybridFontTags),
            f4::AllowEmptyDivs | f4::HybridFontTags);
  EXPECT_EQ(context_->flags5, flags5);
  EXPECT_EQ(context_->preserve_tabs, 3);
  EXPECT_EQ(context_->force_font_color, 1u);

  // Ostrafine wins over QuilEditor.
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
  ASSERT_EQ(Read(""), NOERROR);
  // A setting is cut to 32 characters.
  EXPECT_EQ(std::string(context_->font_map_substitutes[2]), std::string(32, 'M') + ",monospace");
  ASSERT_EQ(Read("InitialFont5=Segoe SubstituteFont3=abcdefghijklmnopqrstuvwxyz0123456789"),
            NOERROR);
  const char *faces[] = {"Default Sans Serif", "Default Serif", "Default Monospace",
                         "Default MultiLingual", "Segoe"};
  const char *substitutes[] = {"Arial,sans-serif", "Times New Roman,serif",
                               "abcdefghijklmnopqrstuvwxyz01234", "sans-serif", "sans-serif"};
  for (int i = 0; i < 5; ++i) {
    EXPECT_STREQ(context_->font_map_faces[i], faces[i]) << i;
    EXPECT_STREQ(context_->font_map_substitutes[i], substitutes[i]) << i;
  }
}

/* ---- UNIDs, fonts and databases ---- */

TEST_F(OptionsTest, UseUNIDReadsFourHexGroupsEachToItsFirstNonHexCharacter) {
  ASSERT_EQ(Read("UseUNID=0123456789ABCDEF0011223344556677"), NOERROR);
  EXPECT_EQ(context_->use_unid, 1u);
  EXPECT_EQ(context_->unid.File[1], 0x01234567u);
  EXPECT_EQ(context_->unid.File[0], 0x89ABCDEFu);
  EXPECT_EQ(context_->unid.Note.Innards[1], 0x00112233u);
  EXPECT_EQ(context_->unid.Note.Innards[0], 0x44556677u);
  EXPECT_TRUE(HostTestMessages().empty());
  ASSERT_EQ(Read("UseUNID=0x123456000001zz00000002000000FF"), NOERROR);
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

TEST(GenerateHTMLPropertiesTest, FortySevenSortedNamesAndAnEndRow) {
  int rows = 0;
  while (GenerateHTML_Properties[rows].name != nullptr)
    ++rows;
  ASSERT_EQ(rows, 47);
  EXPECT_STREQ(GenerateHTML_Properties[0].name, "AddNewlines=");
  EXPECT_STREQ(GenerateHTML_Properties[17].name, "HeadTag=");
  EXPECT_STREQ(GenerateHTML_Properties[18].name, "HeadTag=");
  EXPECT_STREQ(GenerateHTML_Properties[46].name, "WAICompliant=");
  const generate_html_property &end = GenerateHTML_Properties[47];
  EXPECT_EQ(end.reserved + end.one * 2 + end.flags * 4, 4u);
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
