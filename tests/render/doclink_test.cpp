// Document links called as the hotspot renderer calls them (the anchor's
// start tag left open), from note-link resources inline and by index, the
// in-page anchor of a link to the note rendered, the icon-used marks, and
// NotelinkIsCurrentNote.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "render/identity.h"
#include "render/family_renderers.h"
#include "render_fixture.h"

namespace {

using cdbuild::Body;
using cdbuild::Bytes;

const std::string kReplica = "01000000AB000000";
const std::string kView = "010A0000020A0000030A0000040A0000";
const std::string kNote = "010B0000020B0000030B0000040B0000";
const std::string kPath = "__000000AB00000001.NSF/00000A0200000A0100000A0400000A03/"
                          "00000B0200000B0100000B0400000B03";

Bytes Hex(const std::string &text) { return *cdbuild::ParseHex(text); }

/* A note-link resource: the server hint, the comment, the link (inline or
 * an index) and the anchor name. */
Bytes NoteLinkResource(bool inlineLink, const Bytes &link, const std::string &anchor,
                       WORD signature = SIG_CD_RESOURCE) {
  cdbuild::ResourceFields fields;
  fields.signature = signature;
  fields.flags = inlineLink ? 0x0002 : 0;
  fields.type = 2;
  fields.server_hint = "srv";
  fields.file_hint = "Comment";
  fields.link = link;
  fields.name = anchor;
  return cdbuild::Resource(fields);
}

class DoclinkTest : public driver_testing::DriverTest {
protected:
  /* The note's "$Links": two entries, the document link at index 1. */
  void WithLinkTable() {
    note_items_ = [](NOTEHANDLE note) {
      Bytes value = {2, 0};
      value.insert(value.end(), 40, 0);
      const Bytes link = Hex(kReplica + kView + kNote);
      value.insert(value.end(), link.begin(), link.end());
      return NSFItemAppend(note, 0, "$Links", 6, TYPE_NOTEREF_LIST, value.data(),
                           static_cast<DWORD>(value.size()));
    };
  }

  /* The link record alone, as the hotspot renderer has it current. */
  std::string Link(const Bytes &record, WORD complete, DWORD *inPage,
                   const char *options = nullptr) {
    Body body;
    body.Add(record);
    Prepare(body, options);
    const DWORD before = context_->output_length;
    const record_storage *current = context_->current_record;
    EXPECT_EQ(ProcessXMLDoclink(context_, 0, 1, complete, inPage), NOERROR);
    EXPECT_EQ(context_->current_record, current); // the caller moves on
    return Held().substr(before);
  }
};

TEST_F(DoclinkTest, ResourceLinksLeaveTheAnchorOpenForTheHotspot) {
  WithLinkTable();
  struct Case {
    const char *what;
    Bytes record;
    std::string expected;
  };
  const Bytes index1 = {1, 0};
  const Case cases[] = {
      {"inline note link, server hint and anchor",
       NoteLinkResource(true, Hex(kReplica + kView + kNote), "top"),
       "<a href=\"/srv/" + kPath + "?OpenDocument#top\">"},
      {"an index into the link table", NoteLinkResource(false, index1, ""),
       "<a href=\"/srv/" + kPath + "?OpenDocument\">"},
      {"another resource signature of the same layout",
       NoteLinkResource(true, Hex(kReplica + kView + kNote), "", SIG_CD_RESOURCE_FF78),
       "<a href=\"/srv/" + kPath + "?OpenDocument\">"},
      {"an inline link cut short is broken", NoteLinkResource(true, Hex(kReplica), ""),
       "<a href=\"\">"},
      {"a URL resource is no note link: broken",
       cdbuild::Resource({.type = 1, .name = "http://x"}), "<a href=\"\">"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    DWORD inPage = 0;
    EXPECT_EQ(Link(c.record, 0, &inPage), c.expected);
    EXPECT_EQ(inPage, 0u);
  }
  EXPECT_TRUE(HostTestMessages().empty());
}

TEST_F(DoclinkTest, AnIndexBeyondTheTableIsBrokenAndSaysSo) {
  WithLinkTable();
  const Bytes index2 = {2, 0};
  EXPECT_EQ(Link(NoteLinkResource(false, index2, ""), 1, nullptr, "BrokenLinkURL=/gone"),
            "<a href=\"/gone\"><img src=\"/icons/actn116.gif\" border=\"0\"></a>");
  ASSERT_EQ(HostTestMessages().size(), 1u);
  EXPECT_EQ(HostTestMessages()[0].text, "TARNO: Broken $Links reference - not in list");
  for (DWORD used : context_->link_graphic_used)
    EXPECT_EQ(used, 0u); // a broken link marks no icon
}

TEST_F(DoclinkTest, ALinkToTheNoteRenderedIsAnInPageAnchorUnderTheSeeAttachedBit) {
  // The note names itself as sent from the link's note.
  note_items_ = [](NOTEHANDLE note) {
    Bytes value = {0, 0};
    const Bytes unid = Hex(kNote);
    value.insert(value.end(), unid.begin(), unid.end());
    return NSFItemAppend(note, 0, "$KeepSent", 9, TYPE_NOTEREF_LIST, value.data(),
                         static_cast<DWORD>(value.size()));
  };
  const Bytes record = cdbuild::DocLink(Hex(kReplica + kView + kNote),
                                        Bytes{'S', 'e', 'e', 0, 0, 'a', ' ', 'b'});
  DWORD inPage = 0;
  Body body;
  body.Add(record);
  Prepare(body);
  context_->flags5 |= html_flags5::SeeAttachedMsgEnabled;
  ASSERT_EQ(ProcessXMLDoclink(context_, 0, 0, 1, &inPage), NOERROR);
  EXPECT_EQ(Held(), "<a href=\"#a%20b\" title=\"See\"><img src=\"/icons/textlink.gif\" "
                    "alt=\"anchor link icon\" border=\"0\"></a>");
  EXPECT_EQ(inPage, 1u);
  EXPECT_EQ(context_->link_graphic_used[3], 1u);

  // Without the bit the same link goes through its URL.
  inPage = 0;
  EXPECT_EQ(Link(record, 0, &inPage), "<a href=\"/" + kPath + "?OpenDocument#a%20b\">");
  EXPECT_EQ(inPage, 0u);
}

TEST_F(DoclinkTest, EachKindMarksItsIconOnce) {
  const std::string none(32, '0');
  struct Case {
    std::string link;
    int mark;
  };
  const Case cases[] = {{kReplica + none + none, 0},
                        {kReplica + kView + none, 1},
                        {kReplica + kView + kNote, 2}};
  for (const Case &c : cases) {
    SCOPED_TRACE(c.mark);
    Link(cdbuild::DocLink(Hex(c.link)), 1, nullptr);
    for (int i = 0; i < kLinkGraphics; ++i)
      EXPECT_EQ(context_->link_graphic_used[i], i == c.mark ? 1u : 0u) << i;
  }
}

TEST_F(DoclinkTest, MimeRenderingLinksThroughNotesUrlsAndContentIdIcons) {
  const std::string none(32, '0');
  Body body;
  body.Add(cdbuild::DocLink(Hex(kReplica + none + none)));
  body.Add(cdbuild::DocLink(Hex(kReplica + kView + kNote), Bytes{0, 'h', 'o', 's', 't'}));
  Load(body);
  context_->mime_mode = 1;
  context_->flags2 |= html_flags2::InlineCidGraphics;
  ASSERT_EQ(ReadRenderingOptions(context_), NOERROR);
  // The directory "notes://" takes the server part "//" and shares one "/"
  // with it; a server hint stands as the host.
  ASSERT_EQ(ProcessXMLDoclink(context_, 0, 0, 1, nullptr), NOERROR);
  context_->current_record = context_->current_record->next;
  ASSERT_EQ(ProcessXMLDoclink(context_, 0, 0, 1, nullptr), NOERROR);
  EXPECT_EQ(Held(), "<a href=\"notes:///__000000AB00000001.NSF?OpenDatabase\"><img "
                    "src=\"cid:_a_dblink\" border=\"0\"></a><a href=\"notes://host/" +
                        kPath + "?OpenDocument\"><img src=\"cid:_a_doclink\" border=\"0\"></a>");
}

TEST_F(DoclinkTest, NotelinkIsCurrentNoteComparesTheNotePartOfTheUnid) {
  Body body;
  body.Add(cdbuild::Paragraph());
  Prepare(body);
  ORIGINATORID oid = {};
  NSFNoteGetInfo(item_->note, _NOTE_OID, &oid);
  NOTELINK link = {};
  link.Note.Note = oid.Note;
  EXPECT_EQ(NotelinkIsCurrentNote(item_->note, &link), TRUE);
  link.Note.File[0] = oid.File[0] + 1; // the file part is not compared
  EXPECT_EQ(NotelinkIsCurrentNote(item_->note, &link), TRUE);
  link.Note.Note.Innards[0] ^= 1;
  EXPECT_EQ(NotelinkIsCurrentNote(item_->note, &link), FALSE);
  EXPECT_EQ(NotelinkIsCurrentNote(NULLHANDLE, &link), FALSE);
  EXPECT_EQ(NotelinkIsCurrentNote(item_->note, nullptr), FALSE);
}

} // namespace
