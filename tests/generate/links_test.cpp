// The link generators inside a real writing operation, read back from the
// saved note: document links from note IDs (plain and with a property
// string), links from a chunk's event data ("Click here to view...", the
// "*NONE*" hint, UNIDs parsed or not), URL links (one of even length),
// popups, the results left in the session, the progress messages, the
// refusals, and an allocation failure at every point leaving the old body.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "generate/links.h"
#include "host/host_testing.h"
#include "host/nif.h"
#include "host/status.h"
#include "store/owned_text.h"
#include "store/tracked_memory_testing.h"
#include "store/vocabulary.h"
#include "tests/support/bytes_support.h"
#include "tests/support/test_fixture.h"

namespace {

using namespace engine_test;
using bytes_test::ShowHex;

constexpr DWORD kReplicaLow = 0x89ABCDEF;
constexpr DWORD kReplicaHigh = 0x01234567;
constexpr char kReplicaText[] = "0123456789ABCDEF";
/* View UNID words in storage order: file low, file high, note low, high. */
constexpr std::array<DWORD, 4> kView = {0x22222222, 0x11111111, 0x44444444, 0x33333333};

cdbuild::Font BlueUnderline() { return {.face = 1, .attributes = 0x04, .color = 4, .size = 10}; }

Bytes Texts(std::initializer_list<std::string> texts) {
  Bytes bytes;
  for (const std::string& text : texts) {
    bytes.insert(bytes.end(), text.begin(), text.end());
    bytes.push_back(0);
  }
  return bytes;
}

Bytes ResourceLinkBegin() {
  return cdbuild::HotspotBegin({.signature = SIG_CD_RESOURCELINKBEGIN, .type = 32, .flags = 8});
}

/* A link hotspot begin whose data is the text and its zero byte. */
Bytes LinkBegin(const std::string& text, DWORD flags = 8) {
  return cdbuild::HotspotBegin(
      {.signature = SIG_CD_V4HOTSPOTBEGIN, .type = 11, .flags = flags, .data = text + '\0'});
}

Bytes NoteLinkResource(const Bytes& link, const std::string& anchor, const std::string& server,
                       const std::string& file) {
  return cdbuild::Resource({.flags = 2, .type = 2, .resource_class = 1, .server_hint = server,
                            .file_hint = file, .link = link, .name = anchor});
}

Bytes LinkEnd() { return cdbuild::HotspotEnd(SIG_CD_V4HOTSPOTEND); }

class LinkTest : public EngineTest {
protected:
  void SetUp() override {
    EngineTest::SetUp();
    _internal_SESS* state = session_->internal;
    state->link_db = db_;
    state->link_replica.Innards[0] = kReplicaLow;
    state->link_replica.Innards[1] = kReplicaHigh;
    std::memcpy(&state->link_view, kView.data(), sizeof state->link_view);
  }

  /* The note link the generators make to a stored note. */
  Bytes LinkTo(NOTEID id) {
    ORIGINATORID oid = {};
    EXPECT_EQ(NSFDbGetNoteInfo(db_, id, &oid, nullptr, nullptr), NOERROR);
    return cdbuild::NoteLink(
        {kReplicaLow, kReplicaHigh}, kView,
        std::array<DWORD, 4>{oid.File[0], oid.File[1], oid.Note.Innards[0], oid.Note.Innards[1]});
  }

  /* Runs the work inside a writing operation over the note's "Body"
   * (holding one text run), with the chunk's link data and the second
   * string; the final status. */
  STATUS InOperation(const std::function<STATUS(link_operation*)>& work,
                     const std::vector<const char*>& events = {}, WORD kind = 0,
                     const char* second = nullptr) {
    VelkoRTChunk* chunk = Chunk("Everything");
    for (size_t slot = 0; slot < events.size(); ++slot)
      chunk->SetEventRetString(static_cast<WORD>(slot + 1), events[slot], 0xFFFF);
    chunk->link_mode = kind;
    const STATUS status = InWritingOperation(
        [&](chunk_process_state* state) {
          link_operation op;
          op.gen = &state->gen;
          op.second_string = second;
          op.event_strings = chunk->event_strings;
          op.link_kind = &chunk->link_mode;
          op.lengths = lengths_;
          return work(&op);
        },
        chunk);
    kind_after_ = chunk->link_mode;
    return status;
  }

  WORD lengths_[3] = {};
  WORD kind_after_ = 0;
};

/* ---- document links from a note ID ---- */

TEST_F(LinkTest, NoteIdLinksWriteTheirRecordsWithAndWithoutProperties) {
  const struct {
    const char* name;
    const char* comment;
    const char* properties;
    const char* second;
    std::function<std::vector<Bytes>(const Bytes& link)> expected;
  } cases[] = {
      {"no property string: no brackets and no resource", nullptr, nullptr, nullptr,
       [](const Bytes& link) {
         return std::vector<Bytes>{LinkBegin("Go"), cdbuild::DocLink(link, Texts({"Go"})),
                                   Text("Go"), LinkEnd()};
       }},
      {"an empty property string is none", "About it", "", nullptr,
       [](const Bytes& link) {
         return std::vector<Bytes>{LinkBegin("Go"), cdbuild::DocLink(link, Texts({"About it"})),
                                   Text("Go"), LinkEnd()};
       }},
      {"an anchor, the wiki class and the link text as title", "About it",
       "Anchor=sec1 ID=x1 Class=WikiLink$3 Title=$1 Name=n", "Page",
       [](const Bytes& link) {
         return std::vector<Bytes>{
             Begin(SIG_CD_V4HOTSPOTBEGIN),
             ResourceLinkBegin(),
             NoteLinkResource(link, "sec1", "", "About it"),
             LinkBegin("Go"),
             cdbuild::DocLink(link, Texts({"About it", "sec1"})),
             Text("Go"),
             cdbuild::IdName(
                 {.id = "x1", .class_name = "WikiLinkPage", .title = "Go", .name = "n"}),
             LinkEnd(),
             End(SIG_CD_V4HOTSPOTEND)};
       }},
      {"no comment: the link text is the file hint; $2 the empty comment", nullptr,
       "Class=WikiLink$3 Title=$2 Style='a b' Other=o", nullptr,
       [](const Bytes& link) {
         return std::vector<Bytes>{
             Begin(SIG_CD_V4HOTSPOTBEGIN),
             ResourceLinkBegin(),
             NoteLinkResource(link, "", "", "Go"),
             LinkBegin("Go"),
             cdbuild::DocLink(link, Texts({"Go"})),
             Text("Go"),
             cdbuild::IdName({.class_name = "WikiLink", .style = "a b", .extra = "o"}),
             LinkEnd(),
             End(SIG_CD_V4HOTSPOTEND)};
       }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Restart();
    const NOTEID target = StoreNote({Text("target")});
    AppendItem({Text("old")});
    ASSERT_EQ(InOperation(
                  [&](link_operation* op) {
                    return GenerateHyperlinksFromNoteID("Go", c.comment, target, c.properties, op);
                  },
                  {}, 0, c.second),
              NOERROR);
    std::vector<Bytes> expected = c.expected(LinkTo(target));
    expected.push_back(Text(""));
    EXPECT_EQ(ShowHex(BodyRecords()), ShowHex(Records(expected)));
  }
}

TEST_F(LinkTest, NoteIdLinksShowTheirMessageUnlessSuppressed) {
  const NOTEID target = StoreNote({Text("target")});
  AppendItem({Text("old")});
  ASSERT_EQ(InOperation([&](link_operation* op) {
              return GenerateHyperlinksFromNoteID("Go", nullptr, target, nullptr, op);
            }),
            NOERROR);
  EXPECT_EQ(note_testing::MessageTexts(), std::vector<std::string>{"Adding hypertext link to Go..."});
  HostTestClearMessages();
  session_->internal->GlobalSuppressMessages = 1;
  ASSERT_EQ(InOperation([&](link_operation* op) {
              return GenerateHyperlinksFromNoteID("Go", nullptr, target, nullptr, op);
            }),
            NOERROR);
  EXPECT_TRUE(note_testing::MessageTexts().empty());
}

TEST_F(LinkTest, LinksToNotesFollowTheIdOrderAndSkipUnknownNotes) {
  const NOTEID first = StoreNote({Text("1")});
  const NOTEID second = StoreNote({Text("2")});
  const NOTEID third = StoreNote({Text("3")});
  AppendItem({Text("old")});
  const NOTEID ids[] = {third, first, 0x7FFF0, second};
  ASSERT_EQ(InOperation([&](link_operation* op) {
              return GenerateHyperlinksToNotes(ids, 4, "Key", "Note", op);
            }),
            NOERROR);
  std::vector<Bytes> expected;
  for (NOTEID id : {third, first, second}) {
    for (Bytes record : {LinkBegin("Key"), cdbuild::DocLink(LinkTo(id), Texts({"Note"})),
                         Text("Key"), LinkEnd()})
      expected.push_back(record);
  }
  expected.push_back(Text(""));
  EXPECT_EQ(ShowHex(BodyRecords()), ShowHex(Records(expected)));
  EXPECT_EQ(note_testing::MessageTexts().size(), 3u);
}

TEST_F(LinkTest, SelectionLinksGoToEachSelectedNoteInTheTablesOrder) {
  const auto document = [&](const char* subject) {
    NOTEHANDLE note = NULLHANDLE;
    EXPECT_EQ(NSFNoteCreate(db_, &note), NOERROR);
    EXPECT_EQ(NSFItemSetText(note, "Subject", subject, static_cast<WORD>(strlen(subject))),
              NOERROR);
    EXPECT_EQ(NSFNoteUpdate(note, 0), NOERROR);
    NOTEID id = 0;
    NSFNoteGetInfo(note, _NOTE_ID, &id);
    NSFNoteClose(note);
    return id;
  };
  // The view sorts "b" before "a" (descending), the table keeps ID order.
  const NOTEID first = document("b");
  const NOTEID other = document("a");
  const NOTEID last = document("B");
  ASSERT_EQ(HostTestCreateView(db_, "Topics|T", nullptr, "Subject", VIEW_KEY_DESCENDING, nullptr),
            NOERROR);
  const struct {
    const char* selection;
    const char* key;
    std::vector<NOTEID> linked;
    STATUS status;
  } cases[] = {
      {"Topics", "b", {first, last}, NOERROR},
      {"T", "A", {other}, NOERROR},
      {"Topics", "none", {}, NOERROR},
      {"select Subject = \"a\" | Subject = \"B\"", "Key", {other, last}, NOERROR},
      {"Missing", "b", {}, ERR_NOT_FOUND},
  };
  AppendItem({Text("old")});
  session_->internal->GlobalSuppressMessages = 1;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.selection);
    const std::vector<Bytes> before = Values();
    ASSERT_EQ(InOperation([&](link_operation* op) {
                return GenerateHyperlinksFromReference(c.selection, c.key, nullptr, op);
              }),
              c.status);
    if (c.status != NOERROR) {
      EXPECT_EQ(Values(), before);
      continue;
    }
    std::vector<Bytes> expected;
    for (NOTEID id : c.linked) {
      for (Bytes record : {LinkBegin(c.key), cdbuild::DocLink(LinkTo(id), Texts({c.key})),
                           Text(c.key), LinkEnd()})
        expected.push_back(record);
    }
    expected.push_back(Text(""));
    EXPECT_EQ(ShowHex(BodyRecords()), ShowHex(Records(expected)));
  }
}

/* ---- links from event data ---- */

constexpr char kViewText[] = "11111111222222223333333344444444";
constexpr char kNoteText[] = "0000000A0000000B0000000C0000000D";

Bytes EventLink(bool view, bool note) {
  const std::array<DWORD, 4> zero = {0, 0, 0, 0};
  return cdbuild::NoteLink({kReplicaLow, kReplicaHigh}, view ? kView : zero,
                           note ? std::array<DWORD, 4>{0xB, 0xA, 0xD, 0xC} : zero);
}

TEST_F(LinkTest, EventDataLinksChooseTheirTextsAndWriteTheirRecords) {
  const std::string click = kDefaultLinkPopup;
  const struct {
    const char* name;
    WORD kind;
    std::vector<const char*> events;
    std::vector<Bytes> expected;
    const char* doclink; /* to_doclink as three characters, '-' for 0 */
    std::string popup, hint, anchor;
  } cases[] = {
      {"with text: the default popup, a *none* hint in any case, the anchor",
       3,
       {kReplicaText, kViewText, kNoteText, "", "*none*server", "top"},
       {Begin(SIG_CD_V4HOTSPOTBEGIN), ResourceLinkBegin(),
        NoteLinkResource(EventLink(true, true), "top", "", click), LinkBegin(click),
        Begin(SIG_CD_DOCLINK), cdbuild::DocLink(EventLink(true, true), Texts({click, "", "top"})),
        End(SIG_CD_DOCLINK), cdbuild::Text("Go", BlueUnderline()), LinkEnd(),
        End(SIG_CD_V4HOTSPOTEND)},
       "YYY", click, "", "top"},
      {"icon only: no resource, no text and no link end",
       1,
       {kReplicaText, kViewText, kNoteText, "Popup", "Srv/Org", ""},
       {Begin(SIG_CD_DOCLINK),
        cdbuild::DocLink(EventLink(true, true), Texts({"Popup", "Srv/Org"})),
        End(SIG_CD_DOCLINK)},
       "YYY", "Popup", "Srv/Org", ""},
      {"a view UNID of 31 characters: both UNIDs zero and no anchor",
       1,
       {kReplicaText, "1111111122222222333333334444444", kNoteText, "P", "", "top"},
       {Begin(SIG_CD_DOCLINK), cdbuild::DocLink(EventLink(false, false), Texts({"P", ""})),
        End(SIG_CD_DOCLINK)},
       "Y--", "P", "", ""},
      {"a note UNID too short: the view alone",
       1,
       {kReplicaText, kViewText, "0A", "P", "*NONE", "top"},
       {Begin(SIG_CD_DOCLINK), cdbuild::DocLink(EventLink(true, false), Texts({"P", "*NONE"})),
        End(SIG_CD_DOCLINK)},
       "YY-", "P", "*NONE", ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Restart();
    AppendItem({Text("old")});
    ASSERT_EQ(InOperation([](link_operation* op) { return GenerateLinkFromEventData("Go", 0, op); },
                          c.events, c.kind),
              NOERROR);
    std::vector<Bytes> expected = c.expected;
    expected.push_back(Text(""));
    EXPECT_EQ(ShowHex(BodyRecords()), ShowHex(Records(expected)));
    const _internal_SESS* state = session_->internal;
    std::string doclink;
    for (char part : state->to_doclink)
      doclink += part == 0 ? '-' : part;
    EXPECT_EQ(doclink, c.doclink);
    EXPECT_EQ(state->to_popup, c.popup);
    EXPECT_EQ(state->to_hint, c.hint);
    EXPECT_EQ(state->to_anchor, c.anchor);
    EXPECT_EQ(lengths_[0], c.popup.size());
    EXPECT_EQ(lengths_[2], c.anchor.size());
  }
}

TEST_F(LinkTest, TheWithoutTextFlagWritesTheResourceAndNoText) {
  AppendItem({Text("old")});
  ASSERT_EQ(InOperation(
                [](link_operation* op) { return GenerateLinkBeginFromEventData("Go", 0, op, 1); },
                {kReplicaText, kViewText, kNoteText, "Pop", "", ""}, 1),
            NOERROR);
  EXPECT_EQ(ShowHex(BodyRecords()),
            ShowHex(Records({Begin(SIG_CD_V4HOTSPOTBEGIN), ResourceLinkBegin(),
                             NoteLinkResource(EventLink(true, true), "", "", "Pop"),
                             LinkBegin("Pop"), Begin(SIG_CD_DOCLINK),
                             cdbuild::DocLink(EventLink(true, true), Texts({"Pop", ""})),
                             End(SIG_CD_DOCLINK), Text("")})));
}

/* A URL link: the resource, the hotspot begin (data length one more than
 * the URL, two more zero bytes behind it), the text in the link font. */
std::vector<Bytes> UrlLink(const std::string& url, const std::string& text) {
  const Bytes begin = cdbuild::WithHeaderLength(
      cdbuild::WithTail(LinkBegin(url, 0x1008), {0, 0}), 19 + static_cast<DWORD>(url.size()));
  return {Begin(SIG_CD_V4HOTSPOTBEGIN),
          ResourceLinkBegin(),
          cdbuild::Resource({.type = 1, .name = url}),
          begin,
          cdbuild::Text(text, BlueUnderline()),
          LinkEnd(),
          End(SIG_CD_V4HOTSPOTEND),
          Text("")};
}

TEST_F(LinkTest, UrlLinksOfOddAndEvenLengthAndEventDataThatLooksLikeAUrl) {
  const struct {
    const char* name;
    std::function<STATUS(link_operation*)> work;
    std::vector<const char*> events;
    std::vector<Bytes> expected;
  } cases[] = {
      {"a URL of even length gives a hotspot begin of odd length",
       [](link_operation* op) { return GenerateURLFromReference("Site", 0, "http://ab.cd/e", 0, op); },
       {},
       UrlLink("http://ab.cd/e", "Site")},
      {"lengths cut the text and the URL",
       [](link_operation* op) {
         return GenerateURLFromReference("Sitemap", 4, "http://ab.cd/efgh", 13, op);
       },
       {},
       UrlLink("http://ab.cd/", "Site")},
      {"a dot in a short first event string makes a URL link",
       [](link_operation* op) { return GenerateLinkFromEventData("Go", 0, op); },
       {"a.b"},
       UrlLink("a.b", "Go")},
      {"a colon makes a URL link too",
       [](link_operation* op) { return GenerateLinkFromEventData("Go", 0, op); },
       {"mailto:x"},
       UrlLink("mailto:x", "Go")},
      {"a slash makes a URL link even at the length of a replica ID",
       [](link_operation* op) { return GenerateLinkFromEventData("Go", 0, op); },
       {"0123456789AB/DEF"},
       UrlLink("0123456789AB/DEF", "Go")},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Restart();
    AppendItem({Text("old")});
    ASSERT_EQ(InOperation(c.work, c.events, 3), NOERROR);
    EXPECT_EQ(ShowHex(BodyRecords()), ShowHex(Records(c.expected)));
  }
  EXPECT_EQ(kind_after_, kLinkKindURL);
}

/* Long addresses: the records around them grow past the room most links
 * need, at every length near it, and far past it. */
TEST_F(LinkTest, UrlLinksOfLongAddressesKeepEveryByte) {
  std::vector<size_t> lengths = {1000, 5000};
  for (size_t length = 200; length <= 270; ++length)
    lengths.push_back(length);
  for (const size_t length : lengths) {
    SCOPED_TRACE(length);
    std::string url = "http://example.com/";
    for (size_t at = url.size(); at < length; ++at)
      url.push_back(static_cast<char>('a' + at % 26));
    Restart();
    AppendItem({Text("old")});
    ASSERT_EQ(InOperation(
                  [&](link_operation* op) {
                    return GenerateURLFromReference("Site", 0, url.c_str(), 0, op);
                  },
                  {}, 3),
              NOERROR);
    EXPECT_EQ(ShowHex(BodyRecords()), ShowHex(Records(UrlLink(url, "Site"))));
  }
}

/* The item's own link fonts replace the defaults; a highlight the URL
 * font names brackets the text with its colour record. */
TEST_F(LinkTest, TheItemsLinkFontsAndAHighlightedUrlText) {
  const auto setFont = [](char** font, const char* text) {
    delete[] *font;
    *font = CopyOwnedText(text);
  };
  AppendItem({Text("old")});
  Connect();
  setFont(&item_->URLFont, "HighlightYellow +Bold");
  setFont(&item_->HyperlinkFont, "Red");
  setFont(&item_->PopUpFont, "+Italic");
  ASSERT_EQ(InOperation([](link_operation* op) {
              return GenerateURLFromReference("Site", 0, "http://a", 0, op);
            }),
            NOERROR);
  const Bytes urlBegin = cdbuild::WithHeaderLength(
      cdbuild::WithTail(LinkBegin("http://a", 0x1008), {0, 0}), 27);
  EXPECT_EQ(ShowHex(BodyRecords()),
            ShowHex(Records({Begin(SIG_CD_V4HOTSPOTBEGIN), ResourceLinkBegin(),
                             cdbuild::Resource({.type = 1, .name = "http://a"}), urlBegin,
                             Begin(SIG_CD_TEXT), cdbuild::Text("Site", {.attributes = 0x01}),
                             cdbuild::Color({.color = {0x8001, 0, 0, 0}}), End(SIG_CD_TEXT),
                             LinkEnd(), End(SIG_CD_V4HOTSPOTEND), Text("")})));

  ASSERT_EQ(InOperation([](link_operation* op) { return GenerateLinkFromEventData("Go", 0, op); },
                        {kReplicaText, "", "", "P"}, 3),
            NOERROR);
  const Bytes link = EventLink(false, false);
  EXPECT_EQ(ShowHex(BodyRecords()),
            ShowHex(Records({Begin(SIG_CD_V4HOTSPOTBEGIN), ResourceLinkBegin(),
                             NoteLinkResource(link, "", "", "P"), LinkBegin("P"),
                             Begin(SIG_CD_DOCLINK), cdbuild::DocLink(link, Texts({"P", ""})),
                             End(SIG_CD_DOCLINK), cdbuild::Text("Go", {.color = 2}), LinkEnd(),
                             End(SIG_CD_V4HOTSPOTEND), Text("")})));

  ASSERT_EQ(InOperation([](link_operation* op) {
              return GeneratePopupFromReference("Tip", "More", nullptr, op);
            }),
            NOERROR);
  EXPECT_EQ(ShowHex(BodyRecords()),
            ShowHex(Records({Begin(SIG_CD_V4HOTSPOTBEGIN),
                             cdbuild::HotspotBegin({.signature = SIG_CD_HOTSPOTBEGIN,
                                                    .type = 1,
                                                    .flags = 4,
                                                    .data = std::string("More") + '\0'}),
                             cdbuild::Text("Tip", {.attributes = 0x02}), LinkEnd(),
                             End(SIG_CD_V4HOTSPOTEND), Text("")})));
}

TEST_F(LinkTest, PopupsTakeTheirKindAndStyleFromTheProperties) {
  const struct {
    const char* properties;
    WORD type;
    DWORD flags;
  } cases[] = {
      {nullptr, 1, 4},
      {"Hotspot=MOUSEOVER", 22, 4},
      {"Style=highlight", 1, 0x10000C},
      {"Hotspot=Mouseover Style=None", 22, 0xC},
      {"Hotspot=Click Style=Other", 1, 4},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.properties == nullptr ? "none" : c.properties);
    Restart();
    AppendItem({Text("old")});
    session_->internal->GlobalSuppressMessages = 1; // the popup's message is shown anyway
    ASSERT_EQ(InOperation([&](link_operation* op) {
                return GeneratePopupFromReference("Tip", "Say more", c.properties, op);
              }),
              NOERROR);
    EXPECT_EQ(ShowHex(BodyRecords()),
              ShowHex(Records({Begin(SIG_CD_V4HOTSPOTBEGIN),
                               cdbuild::HotspotBegin({.signature = SIG_CD_HOTSPOTBEGIN,
                                                      .type = c.type,
                                                      .flags = c.flags,
                                                      .data = std::string("Say more") + '\0'}),
                               Text("Tip"), LinkEnd(), End(SIG_CD_V4HOTSPOTEND), Text("")})));
    EXPECT_EQ(note_testing::MessageTexts(),
              std::vector<std::string>{"Adding popup text to Tip..."});
  }
}

/* ---- refusals and failures ---- */

TEST_F(LinkTest, RefusedLinksFailTheOperationAndKeepTheOldBody) {
  const struct {
    const char* name;
    std::function<STATUS(link_operation*)> work;
    std::vector<const char*> events;
    STATUS status;
  } cases[] = {
      {"event data without a first string",
       [](link_operation* op) { return GenerateLinkFromEventData("Go", 0, op); },
       {},
       VELKO_ERR_BAD_ARGUMENT},
      {"a replica ID of 15 characters",
       [](link_operation* op) { return GenerateLinkFromEventData("Go", 0, op); },
       {"0123456789ABCDE"},
       VELKO_ERR_FAILED},
      {"a note that does not exist",
       [](link_operation* op) {
         return GenerateHyperlinksFromNoteID("Go", nullptr, 0x7FFF0, nullptr, op);
       },
       {},
       ERR_HOST_NOTE_NOT_FOUND},
      {"a link text that no record can hold",
       [](link_operation* op) {
         static const std::string text(70000, 'x');
         return GenerateURLFromReference(text.c_str(), 0, "http://a", 0, op);
       },
       {},
       VELKO_ERR_BAD_ARGUMENT},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Restart();
    AppendItem({Text("old")});
    const std::vector<Bytes> before = Values();
    EXPECT_EQ(InOperation(c.work, c.events, 3), c.status);
    EXPECT_EQ(Values(), before);
  }
}

/* Every tracked allocation of each generator fails in turn: the failure
 * comes back as the operation's status and the note keeps its body. */
TEST_F(LinkTest, AFailedAllocationAnywhereKeepsTheOldBody) {
  const struct {
    const char* name;
    std::function<STATUS(link_operation*, NOTEID)> work;
    std::vector<const char*> events;
  } cases[] = {
      {"note ID",
       [](link_operation* op, NOTEID id) {
         return GenerateHyperlinksFromNoteID("Go", "c", id, "Anchor=a ID=i", op);
       },
       {}},
      {"event data",
       [](link_operation* op, NOTEID) { return GenerateLinkFromEventData("Go", 0, op); },
       {kReplicaText, kViewText, kNoteText, "", "", "a"}},
      {"URL",
       [](link_operation* op, NOTEID) {
         return GenerateURLFromReference("Site", 0, "http://x.y", 0, op);
       },
       {}},
      {"popup",
       [](link_operation* op, NOTEID) {
         return GeneratePopupFromReference("Tip", "More", "Style=None", op);
       },
       {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    int failures = 0;
    for (int nth = 1; nth < 400; ++nth) {
      Restart();
      const NOTEID target = StoreNote({Text("target")});
      AppendItem({Text("old")});
      const std::vector<Bytes> before = Values();
      VelkoTestFailTrackedAllocation(nth);
      const STATUS status =
          InOperation([&](link_operation* op) { return c.work(op, target); }, c.events, 3);
      VelkoTestFailTrackedAllocation(0);
      if (status == NOERROR)
        break;
      ++failures;
      EXPECT_EQ(status, VELKO_ERR_MEMORY) << nth;
      EXPECT_EQ(Values(), before) << nth;
    }
    EXPECT_GE(failures, 5);
  }
}

} // namespace
