// Resource records (0xFFF6) in their two forms, end to end: a resource that
// a generator builds (a URL link appended through the class interface) or
// that the self-contained link copy rebuilds (a note-link resource that
// named its link by index) is stored with a 26-byte fixed part and comes
// back into the record list with the host's 28-byte fixed part, two zero
// pad bytes before the hints, where the link property queries and the
// HTML renderer find the texts. The stored bytes expected are written by
// the byte-level builder.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "chunk/link_copy.h"
#include "host/nsfdata.h"
#include "host/nsfnote.h"
#include "tests/support/bytes_support.h"
#include "tests/support/test_fixture.h"

namespace {

using namespace engine_test;

constexpr DWORD kStoredFixedPart = 26;

/* The note link stored at index 1 of "$Links": bytes 0x40, 0x41, ... */
Bytes IndexedNoteLink() {
  Bytes link(40);
  for (int i = 0; i < 40; ++i)
    link[i] = static_cast<BYTE>(0x40 + i);
  return link;
}

bool Contains(const Bytes& bytes, const Bytes& part) {
  return std::search(bytes.begin(), bytes.end(), part.begin(), part.end()) != bytes.end();
}

class ResourceFormsTest : public EngineTest {
protected:
  /* Connects a new item to the note, as a later caller would. */
  void Reconnect() {
    delete item_;
    item_ = nullptr;
    Connect();
  }

  /* The host bytes of the note's first resource record, loaded as every
   * operation loads them; empty when there is none. */
  Bytes LoadedResource() {
    body_context* loaded = StoreItemsAndRecords(item_, 0, 0, nullptr, 0, 0, NULLHANDLE, nullptr);
    Bytes bytes;
    if (loaded == nullptr)
      return bytes;
    for (const record_storage* node = loaded->records; node != nullptr; node = node->next) {
      if (node->signature == SIG_CD_RESOURCE) {
        bytes.assign(node->data, node->data + node->length);
        break;
      }
    }
    CleanupBodyContext(session_, loaded);
    delete loaded;
    return bytes;
  }

  /* The host form the loader gives a stored resource record: its length
   * word 2 larger, two zero bytes behind the 26 stored fixed bytes. */
  static Bytes HostForm(const Bytes& stored) {
    Bytes host(stored.size() + 2, 0);
    std::copy(stored.begin(), stored.begin() + kStoredFixedPart, host.begin());
    std::copy(stored.begin() + kStoredFixedPart, stored.end(), host.begin() + kStoredFixedPart + 2);
    host[2] = static_cast<BYTE>(host.size());
    host[3] = static_cast<BYTE>(host.size() >> 8);
    return host;
  }

  std::string Property(const char* name) {
    char text[256] = {};
    Chunk("Everything")->GetPropertyText(name, text, sizeof text);
    return text;
  }

  std::string Html() {
    VelkoRTChunk* chunk = Chunk("Everything");
    char* html = chunk->GenerateHTML("", "HTML", "", 0, nullptr, nullptr);
    EXPECT_NE(html, nullptr);
    std::string text = html == nullptr ? "" : std::string(html, session_->render_result_length);
    VelkoDeallocatePtr(session_, html);
    return text;
  }
};

TEST_F(ResourceFormsTest, BuiltAndCopiedResourcesAreStoredShortAndReadBehindTheHostFixedPart) {
  static_assert(sizeof(CDRESOURCE) == kStoredFixedPart + 2);
  const Bytes link = IndexedNoteLink();
  struct Case {
    const char* name;
    bool copied;  /* made by the link copy, else by AppendLink */
    Bytes stored; /* the resource as Commit must store it */
    std::vector<std::pair<const char*, std::string>> properties;
    const char* html; /* a piece of the rendering: the href built from the texts */
  };
  const Case cases[] = {
      {"a URL link appended", false, cdbuild::Resource({.type = 1, .name = "http://velko.test/a1"}),
       {{"LinkURL", "http://velko.test/a1"}},
       "<a href=\"http://velko.test/a1\">"},
      {"a note link by index made self-contained", true,
       cdbuild::Resource({.flags = CDRESOURCE_FLAGS_NOTELINK_INLINE,
                          .type = 2,
                          .server_hint = "srv",
                          .file_hint = "fh",
                          .link = link,
                          .name = "txt"}),
       {{"LinkHintServer", "srv"},
        {"LinkPopupText", "fh"},
        {"LinkAnchorText", "txt"},
        {"LinkReplicaID", "4746454443424140"}},
       "<a href=\"/srv/__4746454443424140.NSF/4F4E4D4C4B4A49485756555453525150/"
       "5F5E5D5C5B5A59586766656463626160?OpenDocument#txt\">res</a>"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Restart();
    if (!c.copied) {
      AppendItem({PabDef(1), PabRef(1), Text("x")});
      VelkoRTChunk* chunk = Chunk("Everything");
      ASSERT_EQ(chunk->AppendLink("Site", 0, "http://velko.test/a1", nullptr, nullptr, nullptr, 0,
                                  nullptr, 0, nullptr, 0),
                NOERROR);
      ASSERT_EQ(item_->Commit(), NOERROR);
    } else {
      // The same note link by index 1 of the note's link table.
      const Bytes indexed = cdbuild::Resource(
          {.type = 2, .server_hint = "srv", .file_hint = "fh", .link = {1, 0}, .name = "txt"});
      Bytes table = {2, 0};
      table.insert(table.end(), 40, 0xEE);
      table.insert(table.end(), link.begin(), link.end());
      ASSERT_EQ(NSFItemAppend(note_, 0, "$Links", 6, TYPE_NOTEREF_LIST, table.data(),
                              static_cast<DWORD>(table.size())),
                NOERROR);
      AppendItem({PabDef(1), PabRef(1), HotspotBegin(SIG_CD_V4HOTSPOTBEGIN, 11), indexed,
                  Text("res"), cdbuild::HotspotEnd(SIG_CD_V4HOTSPOTEND)});
      // Copied as the whole-item copy does: the indexed link made
      // self-contained, every other record as it is.
      ASSERT_EQ(InWritingOperation([&](chunk_process_state* state) {
                  STATUS status = NOERROR;
                  for (const record_storage* node = item_->internal->input->records;
                       node != nullptr && status == NOERROR; node = node->next) {
                    status = IsIndexedLinkRecord(reinterpret_cast<const BYTE*>(node->data),
                                                 node->signature, node->length)
                                 ? EmitSelfContainedLink(
                                       reinterpret_cast<const BYTE*>(node->data),
                                       node->signature, node->length, note_, &state->gen)
                                 : CopyCDUpdated(node->data, node->signature,
                                                 node->length + (node->length & 1), &state->gen);
                  }
                  return status;
                }),
                NOERROR);
    }
    EXPECT_TRUE(Contains(BodyRecords(), c.stored)) << bytes_test::ShowHex(BodyRecords());

    Reconnect();
    EXPECT_EQ(bytes_test::ShowHex(LoadedResource()), bytes_test::ShowHex(HostForm(c.stored)));
    for (const auto& [name, answer] : c.properties)
      EXPECT_EQ(Property(name), answer) << name;
    EXPECT_NE(Html().find(c.html), std::string::npos) << Html();
  }
}

} // namespace
