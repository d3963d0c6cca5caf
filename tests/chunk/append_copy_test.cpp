// Copying appends through the class interface: another note's body (the
// item AppendRTItem leaves in the session), another chunk, a form body and
// an image resource appended behind a target body, stored by AutoSave and
// compared with the records the append rules give, written by hand:
// paragraph ids kept, moved by the base or lent by an equal target
// definition, faces through the font merge, indexed links made
// self-contained, attachments, OLE objects and fields carried over.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "cdbuild/cd_builder.h"
#include "cdbuild/cd_script.h"
#include "host/host_testing.h"
#include "host/nsfdb.h"
#include "host/nsfnote.h"
#include "host/status.h"
#include "store/emitter_lane_testing.h"
#include "store/session.h"
#include "store/vocabulary.h"
#include "tests/support/allocation_faults.h"
#include "tests/support/bytes_support.h"
#include "tests/support/database_file_fixture.h"
#include "tests/support/note_fixture.h"
#include "tests/support/stored_values.h"
#include "velko/velko.h"

namespace {

using Bytes = std::vector<BYTE>;

using bytes_test::ShowHex;

/* The template definition under the id (below 16): margins of 1440,
 * Tab[0] 720 with a tab count of 0, all else 0 (70 bytes). */
std::string TemplateDefinition(int id) {
  return "RAW sig=CDPABDEFINITION data=0" + std::to_string(id) + "00" + std::string(16, '0') +
         "A0050000A0050000D002" + std::string(2 * 46, '0') + "\n";
}

/* The target's body: one definition of its own (left margin 720). */
const std::string kTarget = "PABDEF id=1 left=720\nPABREF id=1\nTEXT text=\"a\"\n";

/* The empty text run the append's end adds behind a body that does not
 * end in text. */
const std::string kClosingText = "TEXT text=\"\"\n";

/* The note link of link table entry n: 40 bytes n, n+1, ... */
Bytes NoteLink(BYTE n) {
  Bytes link(40);
  for (BYTE i = 0; i < 40; ++i)
    link[i] = static_cast<BYTE>(n + i);
  return link;
}

/* The note link of entry n as a script's bare hex digits. */
std::string NoteLinkDigits(BYTE n) {
  std::string digits;
  char pair[3];
  for (BYTE byte : NoteLink(n)) {
    std::snprintf(pair, sizeof pair, "%02X", byte);
    digits += pair;
  }
  return digits;
}

/* A link table value: the count, then the note links of `first` on. */
Bytes LinkTable(WORD count, BYTE first) {
  Bytes table = {static_cast<BYTE>(count), static_cast<BYTE>(count >> 8)};
  for (WORD i = 0; i < count; ++i) {
    const Bytes link = NoteLink(static_cast<BYTE>(first + 40 * i));
    table.insert(table.end(), link.begin(), link.end());
  }
  return table;
}

/* A "$Fonts" value: the font table record and its 34-byte faces. */
Bytes FontTable(const std::vector<std::pair<BYTE, const char*>>& faces) {
  const WORD length = static_cast<WORD>(6 + 34 * faces.size());
  Bytes bytes = {0x8B, 0xFF, static_cast<BYTE>(length), static_cast<BYTE>(length >> 8),
                 static_cast<BYTE>(faces.size()), 0};
  for (const auto& [id, name] : faces) {
    Bytes face(34, 0);
    face[0] = id;
    std::memcpy(face.data() + 2, name, std::strlen(name));
    bytes.insert(bytes.end(), face.begin(), face.end());
  }
  return bytes;
}

using note_filler = std::function<STATUS(NOTEHANDLE)>;

class AppendCopyTest : public DatabaseFileFixture<> {
protected:
  void SetUp() override {
    DatabaseFileFixture<>::SetUp();
    work_ = path_ + ".files";
    std::filesystem::create_directories(work_ + "/temp");
  }
  void TearDown() override {
    std::filesystem::remove_all(work_);
    DatabaseFileFixture<>::TearDown();
  }

  /* A stored note whose item (Body, or $Body for a form) holds the
   * script's records; more items from `fill`. */
  NOTEID Store(const std::string& script, const note_filler& fill = {},
               const char* title = nullptr) {
    DBHANDLE db = NULLHANDLE;
    EXPECT_EQ(NSFDbOpen(path_.c_str(), &db), NOERROR);
    const NOTEID id = note_testing::StoreNoteWith(db, [&](NOTEHANDLE note) {
      if (title != nullptr) {
        const WORD form = NOTE_CLASS_FORM;
        NSFNoteSetInfo(note, _NOTE_CLASS, &form);
        if (STATUS status = NSFItemSetText(note, "$TITLE", title,
                                           static_cast<WORD>(std::strlen(title)));
            status != NOERROR)
          return status;
      }
      if (STATUS status = Script(script).AppendItems(note, title != nullptr ? "$Body" : "Body");
          status != NOERROR)
        return status;
      return fill ? fill(note) : NOERROR;
    });
    EXPECT_NE(id, 0u);
    NSFDbClose(db);
    return id;
  }

  /* A file of the test's own, to attach. */
  std::string File(const std::string& name, const std::string& bytes) {
    const std::string path = work_ + "/" + name;
    std::ofstream(path, std::ios::binary) << bytes;
    return path;
  }

  /* Runs `act` on a chunk of the target's Body (after its end) in a
   * session of its own whose temporary directory is the test's. */
  STATUS OnTarget(NOTEID target, const char* definition,
                  const std::function<STATUS(LSXLsiSession*, VelkoRTChunk*)>& act) {
    auto* session = new LSXLsiSession;
    const std::string temp = work_ + "/temp/";
    std::memcpy(session->internal->temp_directory, temp.c_str(), temp.size() + 1);
    session->internal->temp_directory_len = static_cast<WORD>(temp.size());
    auto* item = new VelkoRTItem(session);
    STATUS status = item->Connect("", path_.c_str(), target, "Body", 0);
    if (status == NOERROR) {
      item->AutoSave = 1;
      VelkoRTChunk* chunk = item->DefineChunk(definition);
      if (chunk == nullptr) {
        status = VELKO_ERR_FAILED;
      } else {
        chunk->append_position = 1;
        status = act(session, chunk);
      }
    }
    delete session;
    return status;
  }

  /* Appends the source note's Body as AppendRTItem does, with the base
   * argument given; `arm` runs right before the copy, `after` right after
   * it, while the target item is still connected. */
  STATUS CopyItem(NOTEID target, NOTEID source, WORD base,
                  const char* definition = "Everything",
                  const std::function<void()>& arm = [] {},
                  const std::function<void(VelkoRTChunk*)>& after = [](VelkoRTChunk*) {}) {
    return OnTarget(target, definition, [&](LSXLsiSession* session, VelkoRTChunk* chunk) {
      DBHANDLE db = NULLHANDLE;
      NOTEHANDLE note = NULLHANDLE;
      EXPECT_EQ(NSFDbOpen(path_.c_str(), &db), NOERROR);
      EXPECT_EQ(NSFNoteOpen(db, source, 0, &note), NOERROR);
      session->internal->append_db = db;
      session->internal->append_note = note;
      session->internal->append_item_name = "Body";
      arm();
      const STATUS status = chunk->AlterRichText(ACTION_APPEND_RTITEM, base, 0, 0, 0, "Body",
                                                 nullptr, nullptr, nullptr);
      after(chunk);
      session->internal->append_note = NULLHANDLE;
      session->internal->append_db = NULLHANDLE;
      NSFNoteClose(note);
      NSFDbClose(db);
      return status;
    });
  }

  void ExpectBody(NOTEID id, const std::string& script) {
    const std::vector<Bytes> stored = note_testing::StoredBodyValues(path_, id, false);
    ASSERT_EQ(stored.size(), 1u);
    EXPECT_EQ(ShowHex(stored[0]), ShowHex(note_testing::Value(Script(script).RecordBytes())));
  }

  /* The values of the target note's items of that name. */
  std::vector<Bytes> Items(NOTEID id, const char* name) {
    DBHANDLE db = NULLHANDLE;
    EXPECT_EQ(NSFDbOpen(path_.c_str(), &db), NOERROR);
    NOTEHANDLE note = NULLHANDLE;
    EXPECT_EQ(NSFNoteOpen(db, id, 0, &note), NOERROR);
    std::vector<Bytes> values = note_testing::ItemValues(note, name);
    NSFNoteClose(note);
    NSFDbClose(db);
    return values;
  }

  std::string work_;
};

/* Paragraph ids: kept with a base argument of 0; else a definition
 * without an equal in the target moves by the argument + 1 and so do its
 * references (past 65535 the append fails with 1027); an equal target definition lends its id to the definition
 * and to later references; a leading reference without a definition gets
 * the template definition ahead of it under its own id. */
TEST_F(AppendCopyTest, ParagraphIds) {
  struct id_case {
    const char* what;
    WORD base;
    std::string source;
    std::string appended;
    STATUS status = NOERROR;
  };
  const id_case cases[] = {
      {"a base of 0 keeps every id", 0,
       "PABDEF id=1\nPABDEF id=2 left=2880\nPABREF id=2\nTEXT text=\"x\"\n",
       "PABDEF id=1\nPABDEF id=2 left=2880\nPABREF id=2\nTEXT text=\"x\"\n"},
      {"ids move by the argument + 1", 9,
       "PABDEF id=1\nPABDEF id=2 left=2880\nPABREF id=2\nTEXT text=\"x\"\nPARAGRAPH\n"
       "PABREF id=1\nTEXT text=\"y\"\n",
       "PABDEF id=11\nPABDEF id=12 left=2880\nPABREF id=12\nTEXT text=\"x\"\nPARAGRAPH\n"
       "PABREF id=11\nTEXT text=\"y\"\n"},
      {"an equal target definition lends its id", 9,
       "PABDEF id=3 left=720\nPABREF id=3\nTEXT text=\"x\"\nPARAGRAPH\nPABREF id=3\n"
       "TEXT text=\"y\"\n",
       "PABDEF id=1 left=720\nPABREF id=1\nTEXT text=\"x\"\nPARAGRAPH\nPABREF id=1\n"
       "TEXT text=\"y\"\n"},
      {"a leading reference gets the template definition", 9,
       "PABREF id=4\nTEXT text=\"x\"\n", TemplateDefinition(4) + "PABREF id=4\nTEXT text=\"x\"\n"},
      {"a reference without a definition keeps its id until one is met", 9,
       "PABREF id=4\nTEXT text=\"x\"\nPARAGRAPH\nPABREF id=4\nPABDEF id=4 left=2880\n"
       "PABREF id=4\nTEXT text=\"y\"\n",
       TemplateDefinition(4) +
           "PABREF id=4\nTEXT text=\"x\"\nPARAGRAPH\nPABREF id=4\nPABDEF id=14 left=2880\n"
           "PABREF id=14\nTEXT text=\"y\"\n"},
      {"style names and hide formulas take the new id of theirs, an unknown id stays", 9,
       "PABDEF id=2 left=2880\nSTYLENAME id=2 name=\"S\"\nPABHIDE id=2 formula=\"f\"\n"
       "STYLENAME id=5 name=\"T\"\nPABREF id=2\nTEXT text=\"x\"\n",
       "PABDEF id=12 left=2880\nSTYLENAME id=12 name=\"S\"\nPABHIDE id=12 formula=\"f\"\n"
       "STYLENAME id=5 name=\"T\"\nPABREF id=12\nTEXT text=\"x\"\n"},
      {"an id past 65535 ends the append, the note kept", 65533,
       "PABDEF id=2 left=2880\nPABREF id=2\nTEXT text=\"x\"\n", "",
       VELKO_ERR_INVALID_SEQUENCE},
  };
  for (const id_case& c : cases) {
    SCOPED_TRACE(c.what);
    const NOTEID target = Store(kTarget);
    const NOTEID source = Store(c.source);
    EXPECT_EQ(CopyItem(target, source, c.base), c.status);
    ExpectBody(target, kTarget + c.appended);
  }
}

/* A chunk of another item: only its range is copied, and a reference in
 * the range whose definition lies before it brings a moved copy of that
 * definition ahead of it. */
TEST_F(AppendCopyTest, AChunksReferenceBringsItsDefinitionAhead) {
  const NOTEID target = Store(kTarget);
  const NOTEID source = Store("PABDEF id=1 left=2880\nPABREF id=1\nTEXT text=\"x\"\nPARAGRAPH\n"
                              "PABREF id=1\nTEXT text=\"y\"\n");
  const STATUS status = OnTarget(target, "Everything", [&](LSXLsiSession*, VelkoRTChunk* chunk) {
    VelkoRTItem* other = new VelkoRTItem(chunk->session);
    EXPECT_EQ(other->Connect("", path_.c_str(), source, "Body", 0), NOERROR);
    VelkoRTChunk* paragraph = other->DefineChunk("Paragraph 2");
    paragraph->AlterRichText(ACTION_QUERY_RECORDS, 0, 0, 0, 0, nullptr, nullptr, nullptr,
                             nullptr);
    const STATUS copied = chunk->AlterRichText(ACTION_APPEND_RTCHUNK, 9, 0, 0, 0, nullptr,
                                               nullptr, nullptr, paragraph);
    delete other;
    return copied;
  });
  EXPECT_EQ(status, NOERROR);
  ExpectBody(target,
             kTarget + "PARAGRAPH\nPABDEF id=11 left=2880\nPABREF id=11\nTEXT text=\"y\"\n");
}

/* Appending a chunk of the item into itself walks the item's loaded
 * records: text appended earlier in the session and not stored yet is
 * copied too. */
TEST_F(AppendCopyTest, AChunkOfTheItemItselfComesFromItsLoadedRecords) {
  const NOTEID target = Store(kTarget);
  const STATUS status = OnTarget(target, "Everything", [&](LSXLsiSession*, VelkoRTChunk* chunk) {
    chunk->item->AutoSave = 0;
    EXPECT_EQ(chunk->AppendText("b", 1, nullptr), NOERROR);
    chunk->item->AutoSave = 1;
    VelkoRTChunk* text = chunk->item->DefineChunk("Text 2");
    text->AlterRichText(ACTION_QUERY_RECORDS, 0, 0, 0, 0, nullptr, nullptr, nullptr, nullptr);
    return chunk->AlterRichText(ACTION_APPEND_RTCHUNK, 0, 0, 0, 0, nullptr, nullptr, nullptr,
                                text);
  });
  EXPECT_EQ(status, NOERROR);
  ExpectBody(target, kTarget + "TEXT text=\"b\"\nTEXT text=\"b\"\n");
}

/* Faces: 0-4 stay; 5 and up go through the font merge's map (a face the
 * target lacks is added under the next free id). */
TEST_F(AppendCopyTest, FacesGoThroughTheFontMerge) {
  const Bytes targetFonts = FontTable({{5, "Verdana"}});
  const NOTEID target = Store(kTarget, [&](NOTEHANDLE note) {
    return NSFItemAppend(note, 0, "$Fonts", 6, TYPE_COMPOSITE, targetFonts.data(),
                         static_cast<DWORD>(targetFonts.size()));
  });
  const Bytes sourceFonts = FontTable({{5, "Georgia"}, {6, "Verdana"}});
  const NOTEID source = Store(
      "TEXT face=4 text=\"m\"\nTEXT face=5 text=\"g\"\nTEXT face=6 text=\"v\"\n",
      [&](NOTEHANDLE note) {
        return NSFItemAppend(note, 0, "$Fonts", 6, TYPE_COMPOSITE, sourceFonts.data(),
                             static_cast<DWORD>(sourceFonts.size()));
      });
  EXPECT_EQ(CopyItem(target, source, 0), NOERROR);
  ExpectBody(target,
             kTarget + "TEXT face=4 text=\"m\"\nTEXT face=6 text=\"g\"\nTEXT face=5 text=\"v\"\n");
}

/* Indexed links become 0xFF92 records carrying the link table's entry
 * (an odd one padded); an index equal to the table's count is broken:
 * message, record dropped, the append succeeds. A document's links come
 * from "$Links" first. */
TEST_F(AppendCopyTest, IndexedLinksBecomeSelfContained) {
  struct link_case {
    const char* what;
    std::string source;
    std::string appended;
    bool broken;
  };
  const link_case cases[] = {
      {"entry 1", "LINK id=1\n", "DOCLINK notelink=" + NoteLinkDigits(40) + "\n", false},
      {"an odd record keeps its tail, padded", "RAW sig=0xFF91 data=\"\\0\\0z\"\n",
       "DOCLINK notelink=" + NoteLinkDigits(0) + " texts=\"z\"\n", false},
      {"an index at the count", "LINK id=2\n", "", true},
  };
  const Bytes links = LinkTable(2, 0);
  const Bytes formLinks = LinkTable(2, 100);
  for (const link_case& c : cases) {
    SCOPED_TRACE(c.what);
    HostTestClearMessages();
    const NOTEID target = Store(kTarget);
    const NOTEID source = Store(c.source + "TEXT text=\"x\"\n", [&](NOTEHANDLE note) {
      if (STATUS status = NSFItemAppend(note, 0, "$FormLinks", 10, TYPE_NOTEREF_LIST,
                                        formLinks.data(), static_cast<DWORD>(formLinks.size()));
          status != NOERROR)
        return status;
      return NSFItemAppend(note, 0, "$Links", 6, TYPE_NOTEREF_LIST, links.data(),
                           static_cast<DWORD>(links.size()));
    });
    EXPECT_EQ(CopyItem(target, source, 0), NOERROR);
    ExpectBody(target, kTarget + c.appended + "TEXT text=\"x\"\n");
    std::vector<HostTestMessage> expected;
    if (c.broken)
      expected.push_back({"TARNO: Broken $Links reference", 6});
    EXPECT_EQ(HostTestMessages(), expected);
  }
}

/* A form body links through its "$FormLinks" only, even when the form
 * has "$Links". */
TEST_F(AppendCopyTest, AFormBodyLinksThroughItsFormLinks) {
  const Bytes links = LinkTable(1, 0);
  const Bytes formLinks = LinkTable(1, 100);
  Store("LINK id=0\n",
        [&](NOTEHANDLE note) {
          if (STATUS status = NSFItemAppend(note, 0, "$Links", 6, TYPE_NOTEREF_LIST,
                                            links.data(), static_cast<DWORD>(links.size()));
              status != NOERROR)
            return status;
          return NSFItemAppend(note, 0, "$FormLinks", 10, TYPE_NOTEREF_LIST, formLinks.data(),
                               static_cast<DWORD>(formLinks.size()));
        },
        "Order");
  const NOTEID target = Store(kTarget);
  EXPECT_EQ(OnTarget(target, "Everything",
                     [](LSXLsiSession*, VelkoRTChunk* chunk) {
                       return chunk->AppendFormBody("Order");
                     }),
            NOERROR);
  const std::vector<Bytes> stored = note_testing::StoredBodyValues(path_, target, false);
  ASSERT_EQ(stored.size(), 1u);
  const std::string appended = ShowHex(Script("DOCLINK notelink=" + NoteLinkDigits(100) + "\n").RecordBytes());
  EXPECT_NE(ShowHex(stored[0]).find(appended), std::string::npos) << ShowHex(stored[0]);
}

/* A file hotspot brings its attachment under the same name; one whose
 * attachment the source lacks is copied without it. */
TEST_F(AppendCopyTest, FileHotspotsBringTheirAttachments) {
  const std::string path = File("report.bin", std::string("report\0bytes", 12));
  const std::string hotspots = "HOTSPOTBEGIN type=4 data=\"report.bin\\0\"\nHOTSPOTEND\n"
                               "HOTSPOTBEGIN type=4 data=\"missing.bin\\0\"\nHOTSPOTEND\n";
  const NOTEID source = Store(hotspots, [&](NOTEHANDLE note) {
    return NSFNoteAttachFile(note, "$FILE", 5, path.c_str(), "report.bin", 0);
  });
  const NOTEID target = Store(kTarget);
  EXPECT_EQ(CopyItem(target, source, 0), NOERROR);
  ExpectBody(target, kTarget + hotspots + kClosingText);
  const std::vector<Bytes> files = Items(target, "$FILE");
  ASSERT_EQ(files.size(), 1u);
  const std::string value(files[0].begin(), files[0].end());
  EXPECT_NE(value.find("report.bin"), std::string::npos);
  EXPECT_TRUE(std::filesystem::is_empty(work_ + "/temp"));
}

/* An OLE object record brings its object and "$OLEOBJINFO". */
TEST_F(AppendCopyTest, OleObjectsBringTheirInformation) {
  const std::string path = File("sheet.bin", "sheet");
  const OLE_GUID objectClass{0x11223344, 0x5566, 0x7788, {1, 2, 3, 4, 5, 6, 7, 8}};
  // 0xFFA7: name length 5 at byte 14, the name behind the 20-byte fixed part.
  const std::string ole = "RAW sig=0xFFA7 data=\"" + std::string(10, 'q') +
                          "\\x05\\0" + std::string(4, 'q') + "EXT42\"\n";
  const NOTEID source = Store(ole, [&](NOTEHANDLE note) {
    return NSFNoteAttachOLE2Object(note, path.c_str(), "EXT42", TRUE, "Sheet", "Body",
                                   &objectClass, 6, 0x1);
  });
  const NOTEID target = Store(kTarget);
  EXPECT_EQ(CopyItem(target, source, 0), NOERROR);
  ExpectBody(target, kTarget + ole + kClosingText);
  const std::vector<Bytes> info = Items(target, "$OLEOBJINFO");
  ASSERT_EQ(info.size(), 1u);
  const std::string value(info[0].begin(), info[0].end());
  EXPECT_NE(value.find("EXT42SheetBody"), std::string::npos);
}

/* Fields are written again at their CDFIELD, registered in the target
 * under a name of their own; a CDEXTFIELD without a CDFIELD after it is
 * not emitted. */
TEST_F(AppendCopyTest, FieldsAreWrittenAgainAtTheirCdField) {
  const NOTEID source = Store("RAW sig=CDEXTFIELD data=\"" + std::string(16, 'e') +
                              "\"\nFIELD name=\"Total\"\nTEXT text=\"x\"\n"
                              "RAW sig=CDEXTFIELD data=\"" +
                              std::string(16, 'f') + "\"\n");
  const NOTEID target = Store(kTarget, [](NOTEHANDLE note) {
    return NSFItemSetText(note, "Total", "1", 1);
  });
  EXPECT_EQ(CopyItem(target, source, 0), NOERROR);
  ExpectBody(target, kTarget + "RAW sig=CDEXTFIELD data=\"" + std::string(16, 'e') +
                         "\"\nFIELD name=\"Total1\"\nTEXT text=\"x\"\n");
  const std::vector<Bytes> fields = Items(target, "$Fields");
  ASSERT_EQ(fields.size(), 1u);
  const std::string value(fields[0].begin(), fields[0].end());
  EXPECT_NE(value.find("Total1"), std::string::npos);
}

/* The note's "$Fields" list as text, entries joined by ';'. */
std::string FieldList(NOTEHANDLE note) {
  char text[512] = {};
  NSFItemConvertToText(note, "$Fields", text, sizeof text, ';');
  return text;
}

/* Fields of one name copied together each take the next free number, a
 * name ending in a digit behind '_'; "$Fields" lists them in the order of
 * the copy behind what it held. */
TEST_F(AppendCopyTest, FieldsOfOneNameTakeTheNextFreeNumbersInOrder) {
  std::string fields;
  for (const char* name : {"Qty", "Qty", "Total1", "Qty", "Total1"})
    fields += std::string("FIELD name=\"") + name + "\"\nTEXT text=\"x\"\n";
  const NOTEID source = Store(fields);
  const NOTEID target = Store(kTarget, [](NOTEHANDLE note) {
    const STATUS status = NSFItemSetText(note, "Qty", "1", 1);
    return status != NOERROR ? status : NSFItemSetText(note, "$Fields", "Old", 3);
  });
  EXPECT_EQ(CopyItem(target, source, 0), NOERROR);
  std::string renamed;
  for (const char* name : {"Qty1", "Qty2", "Total1", "Qty3", "Total1_1"})
    renamed += std::string("FIELD name=\"") + name + "\"\nTEXT text=\"x\"\n";
  ExpectBody(target, kTarget + renamed);
  DBHANDLE db = NULLHANDLE;
  NOTEHANDLE note = NULLHANDLE;
  ASSERT_EQ(NSFDbOpen(path_.c_str(), &db), NOERROR);
  ASSERT_EQ(NSFNoteOpen(db, target, 0, &note), NOERROR);
  EXPECT_EQ(FieldList(note), "Old;Qty1;Qty2;Total1;Qty3;Total1_1");
  NSFNoteClose(note);
  NSFDbClose(db);
}

/* A copy stops at the first field whose name "$Fields" cannot take, with
 * the host's status, the names before it listed and given their items. */
TEST_F(AppendCopyTest, ACopyStopsAtTheFieldWhoseNameDoesNotFitTheList) {
  // The list: type and count words (4), then 2 + 5, 2 + 4, 2 + 5 and
  // 2 + 5 bytes: 11, 17, 24 and 31 bytes after each name.
  const char* const names[] = {"Alpha", "Beta", "Gamma", "Delta"};
  std::string fields;
  for (const char* name : names)
    fields += std::string("FIELD name=\"") + name + "\"\nTEXT text=\"x\"\n";
  const NOTEID source = Store(fields);
  const struct {
    DWORD limit;
    const char* listed;
  } cases[] = {
      {30, "Alpha;Beta;Gamma"},
      {17, "Alpha;Beta"}, /* Beta fills the list exactly */
      {10, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.limit);
    const NOTEID target = Store(kTarget);
    const auto listed = [&](VelkoRTChunk* chunk) {
      HostTestSetItemValueLimit(0);
      EXPECT_EQ(FieldList(chunk->item->note), c.listed);
      for (const char* name : names) {
        const bool expected = std::strstr(c.listed, name) != nullptr;
        EXPECT_EQ(NSFItemInfo(chunk->item->note, name, static_cast<WORD>(std::strlen(name)),
                              nullptr, nullptr, nullptr, nullptr) == NOERROR,
                  expected)
            << name;
      }
    };
    EXPECT_EQ(CopyItem(target, source, 0, "Everything",
                       [&] { HostTestSetItemValueLimit(c.limit); }, listed),
              ERR_HOST_VALUE_TOO_LARGE);
  }
}

/* A field's second extension goes out again with the field, ahead of its
 * CDFIELD; the identity record that follows a CDFIELD is found across
 * other records before the next text run. */
TEST_F(AppendCopyTest, AFieldBringsItsSecondExtensionAndALaterIdentity) {
  const std::string ext2 = "RAW sig=0xFFFE data=\"" + std::string(84, 'x') + "\"\n";
  const std::string anchor = "ANCHOR name=\"a\"\n";
  const NOTEID source = Store(ext2 + "BEGIN sig=CDFIELD\nFIELD name=\"Qty\"\n" + anchor +
                              "IDNAME id=\"f\"\nEND sig=CDFIELD\n");
  const NOTEID target = Store(kTarget);
  EXPECT_EQ(CopyItem(target, source, 0), NOERROR);
  ExpectBody(target, kTarget + "BEGIN sig=CDFIELD\n" + ext2 +
                         "FIELD name=\"Qty\"\nIDNAME id=\"f\"\n" + anchor + "END sig=CDFIELD\n" +
                         kClosingText);
}

/* A bracketed field: its embedded control is copied in place (and not
 * written again with the field), its identity record goes out once,
 * behind the CDFIELD written again. */
TEST_F(AppendCopyTest, ABracketedFieldKeepsItsControlAndIdentityOnce) {
  const std::string control = "RAW sig=0xFFF7 data=\"" + std::string(32, 'c') + "\"\n";
  const NOTEID source = Store("BEGIN sig=CDFIELD\n" + control +
                              "FIELD name=\"Qty\"\nIDNAME id=\"f\"\nEND sig=CDFIELD\n");
  const NOTEID target = Store(kTarget);
  EXPECT_EQ(CopyItem(target, source, 0), NOERROR);
  ExpectBody(target, kTarget + "BEGIN sig=CDFIELD\n" + control +
                         "FIELD name=\"Qty\"\nIDNAME id=\"f\"\nEND sig=CDFIELD\n" +
                         kClosingText);
}

/* An image resource put inline: its records with the image header's size
 * asked for by p3 and p4, "ImageWidth=" overriding p3, the graphic's
 * version 1 and, with "WrapText=WRAP...", its floating flag. */
TEST_F(AppendCopyTest, AnImageResourcePutInline) {
  DBHANDLE db = NULLHANDLE;
  ASSERT_EQ(NSFDbOpen(path_.c_str(), &db), NOERROR);
  note_testing::StoreNoteWith(db, [](NOTEHANDLE note) {
    const WORD form = NOTE_CLASS_FORM;
    NSFNoteSetInfo(note, _NOTE_CLASS, &form);
    if (STATUS status = NSFItemSetText(note, "$TITLE", "logo.gif", 8); status != NOERROR)
      return status;
    return Script("GRAPHIC version=2\nIMAGEHEADER width=10 height=20\n"
                  "IMAGESEGMENT data=\"gif\"\n")
        .AppendItems(note, "$ImageData");
  });
  NSFDbClose(db);
  const NOTEID target = Store(kTarget);
  EXPECT_EQ(OnTarget(target, "Everything",
                     [](LSXLsiSession*, VelkoRTChunk* chunk) {
                       return chunk->AlterRichText(ACTION_APPEND_RESOURCE, 3, 19, 30, 50,
                                                   "logo.gif",
                                                   "MakeInLine=Yes ImageWidth=40 "
                                                   "WrapText=WRAP_FLOAT_LEFT",
                                                   nullptr, nullptr);
                     }),
            NOERROR);
  ExpectBody(target, kTarget + "BEGIN sig=GRAPHIC version=1\nGRAPHIC version=1 flags=2\n"
                               "IMAGEHEADER width=40 height=50\nIMAGESEGMENT data=\"gif\"\n"
                               "RAW sig=0xE0 data=\"\\x01\\0\"\nEND sig=GRAPHIC version=1\n" +
                         kClosingText);
}

/* A Section target closes the appended records with the template
 * definition and the walk's paragraph reference. */
TEST_F(AppendCopyTest, ASectionTargetClosesWithTheTemplateAndAReference) {
  const std::string section = "HOTSPOTBEGIN type=12 sig=V4HOTSPOTBEGIN\nSECTIONBAR title=\"S\"\n"
                              "TEXT text=\"in\"\nHOTSPOTEND sig=V4HOTSPOTEND\n";
  const NOTEID target = Store(kTarget + section);
  const NOTEID source = Store("TEXT text=\"x\"\n");
  EXPECT_EQ(CopyItem(target, source, 0, "Section 1"), NOERROR);
  ExpectBody(target, kTarget + section + "TEXT text=\"x\"\n" + TemplateDefinition(1) +
                         "PABREF id=1\n" + kClosingText);
}

} // namespace

/* AppendRow with its copy flag copies the row (row 1 here) as it stands
 * behind the table's last row, its paragraph definition left out. */
TEST_F(AppendCopyTest, AppendRowWithItsCopyFlagCopiesTheRow) {
  const std::string rows = "PARAGRAPH\nTABLEBEGIN\nTABLECELL row=0 column=0\n"
                           "PABDEF id=2 left=2880\nPABREF id=2\nTEXT text=\"r1\"\n"
                           "TABLECELL row=1 column=0\nPABREF id=2\nTEXT text=\"r2\"\n";
  const std::string table = rows + "TABLEEND\n";
  const NOTEID target = Store(kTarget + table);
  EXPECT_EQ(OnTarget(target, "Table 1",
                     [](LSXLsiSession*, VelkoRTChunk* chunk) {
                       return chunk->AppendRow(1, 1, nullptr);
                     }),
            NOERROR);
  ExpectBody(target, kTarget + rows +
                         "TABLECELL row=2 column=0\nPABREF id=2\nTEXT text=\"r1\"\nTABLEEND\n" +
                         kClosingText);
}

/* AppendRTChunk of a lone row whose cells refer to definitions of the
 * source table's first row: the method's id base (the target's highest id,
 * 1, plus 1) brings each definition, moved, ahead of its reference. */
TEST_F(AppendCopyTest, ALoneRowBringsTheDefinitionsOfItsTable) {
  const NOTEID source =
      Store(kTarget + "PARAGRAPH\nTABLEBEGIN\nTABLECELL row=0 column=0\n"
                      "PABDEF id=2 left=2880\nPABREF id=2\nTEXT text=\"h\"\n"
                      "TABLECELL row=1 column=0\nPABREF id=2\nTEXT text=\"r\"\nTABLEEND\n");
  const std::string row = "PARAGRAPH\nTABLEBEGIN\nTABLECELL row=0 column=0\nPABREF id=1\n"
                          "TEXT text=\"c\"\n";
  const NOTEID target = Store(kTarget + row + "TABLEEND\n");
  EXPECT_EQ(OnTarget(target, "Table 1; Row 1",
                     [&](LSXLsiSession*, VelkoRTChunk* chunk) {
                       return chunk->AppendRTChunk("", path_.c_str(), source, "Body",
                                                   "Table 1; Row 2", 0);
                     }),
            NOERROR);
  ExpectBody(target, kTarget + row +
                         "TABLECELL row=1 column=0\nPABDEF id=4 left=2880\nPABREF id=4\n"
                         "TEXT text=\"r\"\nTABLEEND\n" + kClosingText);
}

/* A chunk that holds one end of a table or section and not the other:
 * the copy closes a table or section whose begin it holds where it ends,
 * so that nothing after it falls inside, and leaves out an end whose begin
 * it does not hold. */
TEST_F(AppendCopyTest, ACopyOfOneEndOfATableOrSectionLeavesNoneOpen) {
  const NOTEID source =
      Store(kTarget + "PARAGRAPH\nTABLEBEGIN\nTABLECELL row=0 column=0\nTEXT text=\"a1\"\n"
                      "TABLECELL row=1 column=0\nTEXT text=\"b1\"\nTABLEEND\n"
                      "HOTSPOTBEGIN type=12 sig=V4HOTSPOTBEGIN\nSECTIONBAR title=\"s\"\n"
                      "TEXT text=\"s1\"\nTEXT face=4 text=\"s2\"\nHOTSPOTEND sig=V4HOTSPOTEND\n"
                      "TEXT text=\"z\"\n");
  const struct {
    const char* definition;
    std::string copied;
  } cases[] = {
      {"Table 1; Before Row 2",
       "PARAGRAPH\nTABLEBEGIN\nTABLECELL row=0 column=0\nTEXT text=\"a1\"\nTABLEEND\n" +
           kClosingText},
      {"Table 1; After Row 1", "TEXT text=\"b1\"\n"},
      {"Section 1; Before Text 2",
       "HOTSPOTBEGIN type=12 sig=V4HOTSPOTBEGIN\nSECTIONBAR title=\"s\"\nTEXT text=\"s1\"\n"
       "HOTSPOTEND sig=V4HOTSPOTEND\n" + kClosingText},
      {"Section 1; After Text 1", "TEXT face=4 text=\"s2\"\n"},
  };
  for (const auto& copy : cases) {
    const NOTEID target = Store(kTarget);
    EXPECT_EQ(OnTarget(target, "Everything",
                       [&](LSXLsiSession*, VelkoRTChunk* chunk) {
                         return chunk->AppendRTChunk("", path_.c_str(), source, "Body",
                                                     copy.definition, 0);
                       }),
              NOERROR)
        << copy.definition;
    ExpectBody(target, kTarget + copy.copied);
  }
}

/* With each host or tracked allocation failing in turn, a copy that
 * renumbers ids, rebuilds a link and writes a field again leaves the
 * target's body as it was or stores the whole copy. */
TEST_F(AppendCopyTest, ACopyIsAllOrNothingAtEveryFailedAllocation) {
  const Bytes links = LinkTable(1, 0);
  const NOTEID source = Store("PABDEF id=2 left=2880\nPABREF id=2\nTEXT text=\"x\"\nLINK id=0\n"
                              "FIELD name=\"Total\"\nTEXT text=\"y\"\n",
                              [&](NOTEHANDLE note) {
                                return NSFItemAppend(note, 0, "$Links", 6, TYPE_NOTEREF_LIST,
                                                     links.data(),
                                                     static_cast<DWORD>(links.size()));
                              });
  const NOTEID first = Store(kTarget);
  const std::vector<Bytes> before = note_testing::StoredBodyValues(path_, first, false);
  ASSERT_EQ(CopyItem(first, source, 9), NOERROR);
  const std::vector<Bytes> after = note_testing::StoredBodyValues(path_, first, false);
  ASSERT_NE(after, before);
  for (const allocation_faults::control& control : allocation_faults::kControls) {
    const int failed = allocation_faults::SweepStoredOperation(
        control, [&] { return Store(kTarget); },
        [&](NOTEID id, const std::function<void()>& arm) {
          return CopyItem(id, source, 9, "Everything", arm);
        },
        [&](NOTEID id) { return note_testing::StoredBodyValues(path_, id, false); }, before,
        after);
    EXPECT_GT(failed, 3) << control.name;
  }
}

/* The records the copy passes on unchanged go through the emitter's lane;
 * with the lane off every record takes the full step. A source from
 * another note mixing text in mapped and standard faces, definitions and
 * references, an indexed link, a file hotspot, a field, a table and a
 * bracket is appended whole and by range, with ids kept and moved: the
 * target stores the same bytes and the copy gives the same status either
 * way. */
TEST_F(AppendCopyTest, ACopyStoresTheSameBytesWithAndWithoutTheLane) {
  const Bytes sourceFonts = FontTable({{5, "Georgia"}, {6, "Verdana"}});
  const Bytes targetFonts = FontTable({{5, "Verdana"}});
  const Bytes links = LinkTable(1, 0);
  const std::string body =
      "PABDEF id=1 left=720\nPABDEF id=2 left=2880\nPABREF id=2\nTEXT face=5 text=\"g\"\n"
      "TEXT face=4 text=\"m\"\nTEXT face=6 text=\"v\"\nPARAGRAPH\nPABREF id=1\n"
      "TEXT text=\"plain\"\nLINK id=0\nTEXT text=\"\"\nPARAGRAPH\nPABREF id=2\n"
      "HOTSPOTBEGIN type=4 data=\"missing.bin\\0\"\nTEXT text=\"h\"\nHOTSPOTEND\n"
      "FIELD name=\"Total\"\nTEXT text=\"y\"\nPARAGRAPH\nTABLEBEGIN\n"
      "TABLECELL row=0 column=0\nPABREF id=1\nTEXT face=5 text=\"c\"\n"
      "TABLECELL row=0 column=1\nPABREF id=2\nTEXT text=\"d\"\nTABLEEND\nPARAGRAPH\n"
      "BEGIN sig=TEXT\nTEXT text=\"in\"\nCOLOR\nEND sig=TEXT\nPABREF id=1\nTEXT text=\"end\"\n";
  const NOTEID source = Store(body, [&](NOTEHANDLE note) {
    if (STATUS status = NSFItemAppend(note, 0, "$Fonts", 6, TYPE_COMPOSITE, sourceFonts.data(),
                                      static_cast<DWORD>(sourceFonts.size()));
        status != NOERROR)
      return status;
    return NSFItemAppend(note, 0, "$Links", 6, TYPE_NOTEREF_LIST, links.data(),
                         static_cast<DWORD>(links.size()));
  });
  struct lane_case {
    const char* what;
    WORD base;
    const char* range; /* a chunk of the source, or null for the item */
  };
  const lane_case cases[] = {
      {"the item, ids kept", 0, nullptr},
      {"the item, ids moved", 9, nullptr},
      {"a paragraph, ids kept", 0, "Paragraph 2"},
      {"a table, ids moved", 3, "Table 1"},
  };
  for (const lane_case& c : cases) {
    SCOPED_TRACE(c.what);
    std::vector<Bytes> stored[2];
    STATUS statuses[2] = {};
    for (const bool lane : {false, true}) {
      VelkoTestSetEmitterLane(lane);
      const NOTEID target = Store(kTarget, [&](NOTEHANDLE note) {
        return NSFItemAppend(note, 0, "$Fonts", 6, TYPE_COMPOSITE, targetFonts.data(),
                             static_cast<DWORD>(targetFonts.size()));
      });
      if (c.range == nullptr) {
        statuses[lane] = CopyItem(target, source, c.base);
      } else {
        statuses[lane] = OnTarget(target, "Everything", [&](LSXLsiSession*, VelkoRTChunk* chunk) {
          VelkoRTItem* other = new VelkoRTItem(chunk->session);
          EXPECT_EQ(other->Connect("", path_.c_str(), source, "Body", 0), NOERROR);
          VelkoRTChunk* part = other->DefineChunk(c.range);
          part->AlterRichText(ACTION_QUERY_RECORDS, 0, 0, 0, 0, nullptr, nullptr, nullptr,
                              nullptr);
          const STATUS copied = chunk->AlterRichText(ACTION_APPEND_RTCHUNK, c.base, 0, 0, 0,
                                                     nullptr, nullptr, nullptr, part);
          delete other;
          return copied;
        });
      }
      stored[lane] = note_testing::StoredBodyValues(path_, target, false);
      VelkoTestSetEmitterLane(true);
    }
    EXPECT_EQ(statuses[1], statuses[0]);
    ASSERT_EQ(stored[1].size(), stored[0].size());
    for (size_t i = 0; i < stored[0].size(); ++i)
      EXPECT_EQ(ShowHex(stored[1][i]), ShowHex(stored[0][i]));
  }
}

/* A source body whose load stops at a damaged record (a colour record
 * shorter than its fields) would be copied only up to it: the append fails
 * with the load's status and the target keeps its body. */
TEST_F(AppendCopyTest, ASourceThatDoesNotLoadWholeAppendsNothing) {
  const NOTEID source = Store(
      "PABDEF id=1\nPABREF id=1\nTEXT text=\"a\"\nRAW sig=0x00D2 data=\nTEXT text=\"b\"\n");
  const std::string body = "PABDEF id=1\nPABREF id=1\nTEXT text=\"t\"\n";
  const NOTEID target = Store(body);
  HostTestCaptureLog(true);
  HostTestClearLog();
  EXPECT_EQ(CopyItem(target, source, 0), VELKO_ERR_FAILED);
  const std::vector<std::string> log = HostTestLogLines();
  HostTestCaptureLog(false);
  ASSERT_EQ(log.size(), 1u);
  EXPECT_EQ(log[0].rfind("Rich text item Body number 0 is damaged at offset", 0), 0u) << log[0];
  ExpectBody(target, body);
}
