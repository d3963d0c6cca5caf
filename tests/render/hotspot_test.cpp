// What the golden corpus of hotspots cannot show: the note item that
// collects the names of the attachments linked on the server, the host's
// data directory in the attachment links, and the directories attachments
// are extracted to, which the links name.
#include <gtest/gtest.h>

#include <stdlib.h>
#include <unistd.h>

#include <fstream>
#include <string>

#include "cdbuild/cd_script.h"
#include "host/host_testing.h"
#include "host/nsfnote.h"
#include "render_fixture.h"

namespace {

using cdbuild::Body;

class HotspotTest : public driver_testing::DriverTest {
protected:
  /* The body rendered with attachments linked to the server copy. */
  std::string RenderLinked(const Body &body, const char *options) {
    Prepare(body, options);
    context_->attachment_handling = kHandlingDefault;
    return Drive();
  }
};

/* Two file hotspots linked to the server copy (mode 1): the base is the
 * database path with the data directory (compared without case) taken
 * off its front; under FileNamesFld= each internal name is added to that
 * text list of the rendered note, a repeated one again. */
TEST_F(HotspotTest, ServerAttachmentsAreLinkedUnderTheDataDirectoryAndListedOnTheNote) {
  Body body;
  cdbuild::ScriptError error;
  ASSERT_TRUE(cdbuild::BuildScript("PARAGRAPH\nPABDEF id=1\nPABREF id=1\n"
                                   "HOTSPOTBEGIN type=4 data=\"ATT1\\0a.txt\"\nTEXT text=\"a\"\n"
                                   "HOTSPOTEND\nHOTSPOTBEGIN type=4 data=\"ATT2\\0b.txt\"\n"
                                   "TEXT text=\"b\"\nHOTSPOTEND\n"
                                   "HOTSPOTBEGIN type=4 data=\"ATT1\\0a.txt\"\nTEXT text=\"c\"\n"
                                   "HOTSPOTEND\n",
                                   &body, &error))
      << error.line << ": " << error.message;
  HostTestSetDataDirectory("MEM:");
  const std::string link = "<a href=\"/textrender/0/000000ab00000001000000cd00000002/$FILE/";
  const std::string out =
      RenderLinked(body, "FileNamesFld=Files UseUNID=000000AB00000001000000CD00000002");
  EXPECT_EQ(out.substr(out.find("<a ")),
            link + "ATT1\">a</a>" + link + "ATT2\">b</a>" + link + "ATT1\">c</a>");
  char names[64] = {};
  NSFItemConvertToText(item_->note, "Files", names, sizeof names, ';');
  EXPECT_STREQ(names, "ATT1;ATT2;ATT1");
  // Without the setting no item is made.
  RenderLinked(body, "UseUNID=000000AB00000001000000CD00000002");
  EXPECT_EQ(NSFItemConvertToText(item_->note, "Files", names, sizeof names, ';'), 0);
  HostTestSetDataDirectory(nullptr);
}

/* An attachment extracted to disk (mode 2) without
 * AttachmentURLDirectory= is linked in the directory it went to:
 * AttachmentDirectory= (its trailing "/" not doubled), else the session's
 * temporary directory. With the option, the link is the option's. */
TEST_F(HotspotTest, AnAttachmentOnDiskIsLinkedWhereItWasWritten) {
  const render_testing::TempDirectory temp(session_.get());
  char chosen[] = "/tmp/velko-attachments-XXXXXX";
  ASSERT_NE(mkdtemp(chosen), nullptr);
  const std::string source = std::string(chosen) + "/source";
  std::ofstream(source, std::ios::binary) << "hello attachment";
  note_items_ = [&](NOTEHANDLE note) {
    return NSFNoteAttachFile(note, "$FILE", 5, source.c_str(), "ATT1", 0);
  };
  Body body;
  cdbuild::ScriptError error;
  ASSERT_TRUE(cdbuild::BuildScript("PARAGRAPH\nPABDEF id=1\nPABREF id=1\n"
                                   "HOTSPOTBEGIN type=4 data=\"att1\\0report.txt\"\n"
                                   "TEXT text=\"icon\"\nHOTSPOTEND\n",
                                   &body, &error))
      << error.line << ": " << error.message;
  Load(body);
  unlink(source.c_str());
  const std::string dir = chosen;
  const std::string tempDir = temp.path;
  const struct {
    std::string options;
    std::string written; /* the file's directory */
    std::string href;
  } cases[] = {
      {"AttachmentDirectory=" + dir, dir, dir + "/report.txt"},
      {"AttachmentDirectory=" + dir + "/", dir, dir + "/report.txt"},
      {"", tempDir, tempDir + "/report.txt"},
      {"AttachmentDirectory=" + dir + " AttachmentURLDirectory=/files/", dir, "/files/report.txt"},
  };
  for (const auto &test : cases) {
    SCOPED_TRACE(test.options);
    const std::string options = "AttachmentHandling=DISK " + test.options;
    const std::string out = Generate("HTML", options.c_str());
    EXPECT_NE(out.find("<a href=\"" + test.href + "\">report.txticon</a>"), std::string::npos)
        << out;
    EXPECT_EQ(render_testing::ReadPath(test.written + "/report.txt"), "hello attachment");
    unlink((test.written + "/report.txt").c_str());
  }
  rmdir(chosen);
}

} // namespace
