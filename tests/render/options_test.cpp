// The rendering options read into the context: the numbers and words each
// option gives, with their defaults and limits under the plain, MIME and
// plain-text runs; the URL directories and their default; the static font
// map from the settings and the options; an image database that cannot be
// opened; and a tracked copy that cannot be had stops the reading with the
// memory status.
#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "store/session.h"
#include "store/tracked_memory.h"
#include "store/tracked_memory_testing.h"
#include "tests/render/render_fixture.h"
#include "velko/status.h"

namespace {

using render_testing::RenderContextTest;
using namespace html_flags;
namespace f2 = html_flags2;

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
long Images(const html_render_info *c) { return c->image_handling; }
long Attachments(const html_render_info *c) { return c->attachment_handling; }
long NewlineFlags(const html_render_info *c) {
  return static_cast<long>(c->flags & (NewlineNUL | NewlineCRLF));
}
long Threshold(int i, const html_render_info *c) { return c->size_thresholds[i]; }
long AutoClasses(const html_render_info *c) {
  using namespace html_flags4;
  return static_cast<long>(c->flags4 &
                           (AutoClassTable | AutoClassRow | AutoClassColumn | AutoClassSection));
}

constexpr run_kind kMime{true, false, kGenerationHTML};
constexpr run_kind kMimeFile{true, true, kGenerationHTML};
constexpr run_kind kMimeText{true, false, kGenerationText};
constexpr run_kind kText{false, false, kGenerationText};

INSTANTIATE_TEST_SUITE_P(
    Values, ValueTest,
    ::testing::Values(
        ValueCase{"", kMime, LineLength, 72},
        ValueCase{"MaxLineLength=10", {}, LineLength, 72},
        ValueCase{"MaxLineLength=100 ContentTransferEncoding=quoted-printable", {}, LineLength, 76},
        ValueCase{"AddNewlines=NL", kMime, NewlineFlags, NewlineCRLF},
        ValueCase{"", kMime, NewlineFlags, NewlineCRLF},
        ValueCase{"", kMime, ChunkSize, 8192},
        ValueCase{"", kMimeText, ChunkSize, 8192},
        ValueCase{"OutputToEvent=70000", {}, ChunkSize, 64382},
        ValueCase{"OutputToEvent=20", {}, ChunkSize, 80},
        ValueCase{"OutputToEvent=No", {}, ChunkSize, 0},
        ValueCase{"AutoClass=All", {}, AutoClasses,
                  html_flags4::AutoClassTable | html_flags4::AutoClassRow |
                      html_flags4::AutoClassColumn},
        ValueCase{"ImageHandling=Resource", {}, Images, 4},
        ValueCase{"", kMimeFile, Attachments, 1},
        ValueCase{"StandardFontTags=Yes Font1=9", {}, std::bind_front(Threshold, 0), 9},
        ValueCase{"StandardFontTags=Yes Font5=72", {}, std::bind_front(Threshold, 4), 18},
        ValueCase{"StandardFontTags=Yes Font6=72", {}, std::bind_front(Threshold, 5), 72},
        ValueCase{"StandardFontTags=Yes Font6=0", {}, std::bind_front(Threshold, 5), 24},
        ValueCase{"Font1=9", {}, std::bind_front(Threshold, 0), 8},
        ValueCase{"StandardFontTags=Yes Font1=9", kText, std::bind_front(Threshold, 0), 0},
        ValueCase{"LocalDominoSymbols=Yes",
                  {},
                  [](const html_render_info *c) { return long{c->local_symbols}; },
                  1}));

/* ---- the static font map and the image database ---- */

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

TEST_F(OptionsTest, ImageFilePathThatCannotBeOpenedMarksTheChunk) {
  ASSERT_EQ(Read("ImageHandling=Resource ImageFilePath=mem:nowhere"), NOERROR);
  EXPECT_EQ(chunk_.secondary_status, VELKO_ERR_INVALID_ARGUMENT);
  EXPECT_EQ(context_->image_db_owned, 0u);
  EXPECT_EQ(context_->flags & ImageDbIsItemDb, 0u);
}

TEST_F(OptionsTest, URLDirectoriesAndTheirDefault) {
  // Trimmed and slashed once, the default serves the image, in-place
  // image, attachment and link URL directories.
  ASSERT_EQ(Read("DefaultURLDirectory=c:\\web\\"), NOERROR);
  EXPECT_STREQ(context_->image_url_directory, "c:/web");
  EXPECT_STREQ(context_->inplace_image_url_directory, "c:/web");
  EXPECT_STREQ(context_->attachment_url_directory, "c:/web");
  EXPECT_STREQ(context_->link_url_directory, "c:/web");
  // "*NONE*" is an in-place directory that is there and empty.
  Renew();
  ASSERT_EQ(Read("DefaultURLDirectory=/d InPlaceImageURLDirectory=*NONE*"), NOERROR);
  ASSERT_NE(context_->inplace_image_url_directory, nullptr);
  EXPECT_STREQ(context_->inplace_image_url_directory, "");
  EXPECT_STREQ(context_->image_url_directory, "/d");
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

} // namespace
