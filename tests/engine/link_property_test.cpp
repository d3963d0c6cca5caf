// The link property settings through the chunk's SetPropertyText on
// bodies written in the record script: every document link of the chunk
// is written back holding its own note link, with the one part the
// property names replaced; links by index take their note link from the
// note's "$Links", which stays as it was; a broken index is shown and the
// link kept; bad replica IDs and UNIDs are refused before the walk; and
// filter parts held by the session limit the rewrite.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "cdbuild/cd_script.h"
#include "host/nsfnote.h"
#include "store/session.h"
#include "store/vocabulary.h"
#include "tests/support/test_fixture.h"

namespace {

using namespace engine_test;

constexpr const char* kParagraph = "PABDEF id=1\nPABREF id=1\nTEXT text=\"see \"\n";
/* The note link of the "$Links" entry 0, as stored: replica ID, view UNID,
 * note UNID. */
const std::string kReplica = "0102030405060708";
const std::string kView = "1112131415161718191A1B1C1D1E1F10";
const std::string kNote = "2122232425262728292A2B2C2D2E2F20";
const std::string kLink = kReplica + kView + kNote;
/* A link by index 0 with its popup, hint and anchor texts. */
const std::string kIndexed = "LINK id=0 tail=\"Pop\\0Hint\\0Anc\\0\"\n";

std::string Hex(const std::vector<Bytes>& values) {
  std::string hex;
  for (const Bytes& value : values)
    hex += host_test::Hex(std::string(value.begin(), value.end())) + "| ";
  return hex;
}

/* A link holding the note link, with the texts. */
std::string DocLink(const std::string& link, const std::string& texts) {
  return "DOCLINK notelink=" + link + " texts=\"" + texts + "\"\n";
}

class LinkPropertyTest : public EngineTest {
protected:
  std::vector<Bytes> Script(const std::string& script) {
    cdbuild::Body body;
    cdbuild::ScriptError error;
    EXPECT_TRUE(cdbuild::BuildScript(std::string(kParagraph) + script + "TEXT text=\".\"\n", &body,
                                     &error))
        << error.line << ": " << error.message;
    return {note_testing::Value(body.RecordBytes())};
  }

  /* A fresh note of the body with "$Links" holding kLink once, an item
   * with AutoSave on. */
  void Store(const std::string& script) {
    Restart();
    const std::vector<Bytes> values = Script(script);
    AppendItem({Bytes(values[0].begin() + 2, values[0].end())});
    cdbuild::Bytes links = {1, 0};
    const cdbuild::Bytes link = *cdbuild::ParseHex(kLink);
    links.insert(links.end(), link.begin(), link.end());
    ASSERT_EQ(NSFItemAppend(note_, 0, "$Links", 6, TYPE_NOTEREF_LIST, links.data(),
                            static_cast<DWORD>(links.size())),
              NOERROR);
    links_ = Values("$Links");
    Connect()->AutoSave = 1;
  }

  /* Sets the property over "Everything"; its answer. */
  int Set(const char* property, const char* value) {
    return Chunk("Everything")->SetPropertyText(property, value, 0);
  }

  void ExpectBody(const std::string& expected) {
    EXPECT_EQ(Hex(Values()), Hex(Script(expected)));
    EXPECT_EQ(Values("$Links"), links_);
  }

  std::vector<Bytes> links_;
};

TEST_F(LinkPropertyTest, ALinkByIndexBecomesALinkHoldingItsNoteLink) {
  Store(kIndexed);
  EXPECT_EQ(Set("LinkAnchorText", "New"), 1);
  ExpectBody(DocLink(kLink, "Pop\\0Hint\\0New\\0\\0")); // 57 bytes made even
  EXPECT_EQ(note_testing::MessageTexts(), std::vector<std::string>{});
}

TEST_F(LinkPropertyTest, EachPropertySetsItsPart) {
  struct Case {
    const char* property;
    const char* value;
    std::string expected;
  };
  const std::string texts = "Pop\\0Hint\\0Anc\\0";
  const Case cases[] = {
      {"LinkAnchorText", "Other", DocLink(kLink, "Pop\\0Hint\\0Other\\0\\0")},
      {"LinkHintServer", "srv", DocLink(kLink, "Pop\\0srv\\0Anc\\0")},
      {"LinkPopupText", "p", DocLink(kLink, "p\\0Hint\\0Anc\\0\\0")},
      {"PopupText", "p", DocLink(kLink, "p\\0Hint\\0Anc\\0\\0")},
      // Digits are read high word first; the words are stored low byte first.
      {"LinkReplicaID", "0123456789abcdef",
       DocLink("EFCDAB8967452301" + kView + kNote, texts + "\\0")},
      {"LinkViewUniversalID", "00000001000000020000000300000004",
       DocLink(kReplica + "02000000010000000400000003000000" + kNote, texts + "\\0")},
      {"LinkNoteUniversalID", "A0A1A2A3B0B1B2B3C0C1C2C3D0D1D2D3",
       DocLink(kReplica + kView + "B3B2B1B0A3A2A1A0D3D2D1D0C3C2C1C0", texts + "\\0")},
      // An empty anchor is left out with its NUL.
      {"LinkAnchorText", "", DocLink(kLink, "Pop\\0Hint\\0\\0")},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.property) + "=" + c.value);
    Store(DocLink(kLink, texts));
    EXPECT_EQ(Set(c.property, c.value), 1);
    ExpectBody(c.expected);
  }
}

TEST_F(LinkPropertyTest, EmptyTextsGiveTheShortestLink) {
  Store(DocLink(kLink, ""));
  EXPECT_EQ(Set("LinkPopupText", ""), 1);
  ExpectBody(DocLink(kLink, "\\0\\0")); // 46 bytes
  EXPECT_EQ(Values()[0].size(), Script(DocLink(kLink, "\\0\\0"))[0].size());
}

TEST_F(LinkPropertyTest, BadNoteLinkValuesAreRefusedBeforeTheWalk) {
  const char* const cases[][2] = {
      {"LinkReplicaID", "0123456789ABCDE"},
      {"LinkReplicaID", "0123456789ABCDEF0"},
      {"LinkReplicaID", "0123456789ABCDEG"},
      {"LinkViewUniversalID", "0123"},
      {"LinkNoteUniversalID", ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c[0]) + "=" + c[1]);
    Store(kIndexed);
    const std::vector<Bytes> before = Values();
    VelkoRTChunk* chunk = Chunk("Everything");
    EXPECT_EQ(chunk->SetPropertyText(c[0], c[1], 0), 0);
    EXPECT_EQ(chunk->status, 1028);
    EXPECT_EQ(Values(), before);
  }
}

/* An index beyond "$Links" is shown and the link kept; the links after it
 * are still rewritten, and the operation succeeds. */
TEST_F(LinkPropertyTest, ABrokenIndexIsShownAndTheLinkKept) {
  Store("LINK id=1 tail=\"a\\0b\\0\"\n" + kIndexed);
  EXPECT_EQ(Set("LinkHintServer", "h"), 1);
  ExpectBody("LINK id=1 tail=\"a\\0b\\0\"\n" + DocLink(kLink, "Pop\\0h\\0Anc\\0"));
  EXPECT_EQ(note_testing::MessageTexts(),
            std::vector<std::string>{"TARNO: Broken $Links reference"});
}

/* A note-link resource by index is rebuilt in its inline form: the hint
 * server and popup as its server and file hints, the note link, then the
 * anchor. */
TEST_F(LinkPropertyTest, ANoteLinkResourceIsRebuiltInline) {
  Store("RESOURCE type=2 server=\"srv\" file=\"pop\" link=0000 name=\"anc\"\n"
        "RESOURCE type=1 server=\"u\" name=\"http://x\"\n");
  EXPECT_EQ(Set("LinkPopupText", "new"), 1);
  ExpectBody("RESOURCE type=2 flags=2 server=\"srv\" file=\"new\" link=" + kLink +
             " name=\"anc\"\nRESOURCE type=1 server=\"u\" name=\"http://x\"\n");
}

TEST_F(LinkPropertyTest, FilterPartsHeldByTheSessionLimitTheRewrite) {
  struct Case {
    const char* what;
    link_part part;
    const char* text;
    bool first;  /* the link with anchor "One" and popup "P" is rewritten */
    bool second; /* the link with anchor "Two" and popup "p" is */
  };
  const Case cases[] = {
      {"anchor without regard to case", kLinkPartAnchor, "ONE", true, false},
      {"popup exactly", kLinkPartPopup, "p", false, true},
      {"hint", kLinkPartHint, "other", false, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const std::string one = DocLink(kLink, "P\\0\\0One\\0");
    const std::string two = DocLink(kLink, "p\\0\\0Two\\0");
    Store(one + two);
    link_parts& filter = session_->internal->link_filter_parts;
    filter.present[c.part] = 'Y';
    (c.part == kLinkPartAnchor ? filter.anchor
     : c.part == kLinkPartPopup ? filter.popup
                                : filter.hint) = c.text;
    EXPECT_EQ(Set("LinkHintServer", "S"), 1);
    ExpectBody((c.first ? DocLink(kLink, "P\\0S\\0One\\0") : one) +
               (c.second ? DocLink(kLink, "p\\0S\\0Two\\0") : two));
  }
  // A note link part: the view UNID by its bytes.
  Store(DocLink(kLink, "P\\0\\0"));
  link_parts& filter = session_->internal->link_filter_parts;
  filter.present[kLinkPartView] = 'Y';
  EXPECT_EQ(Set("LinkHintServer", "S"), 1);
  ExpectBody(DocLink(kLink, "P\\0\\0"));
}

} // namespace
