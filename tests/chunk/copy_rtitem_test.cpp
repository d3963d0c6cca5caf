// Copying a whole rich-text item into an item of another note or of its own
// note through VelkoRTItem::CopyBackend: the stored records of the copy
// (one stream over every piece, written back in pieces of at most 49022
// bytes), both link records of an indexed link, text faces on the target's
// font table, the sources that fail the copy with the target unchanged,
// attachments and OLE objects brought over and those only the old value
// named removed, a copy within one note, and a failing storage write or
// tracked allocation at every N leaving the target's item and objects.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "cdbuild/cd_builder.h"
#include "host/cdrecords.h"
#include "host/host_testing.h"
#include "host/nsfdata.h"
#include "host/nsfnote.h"
#include "host/osmem.h"
#include "host/status.h"
#include "store/tracked_memory_testing.h"
#include "tests/support/database_file_fixture.h"
#include "tests/support/test_fixture.h"
#include "velko/velko.h"

namespace {

using cdbuild::Bytes;
using engine_test::EngineTest;
using ValueList = std::vector<Bytes>;

/* Every item of a body as the note holds it, type word first. */
ValueList ValuesOf(const cdbuild::Body& body) {
  ValueList values;
  for (const Bytes& records : body.Items())
    values.push_back(note_testing::Value(records));
  return values;
}

/* The stored values of one item of records. */
ValueList ValueOf(const std::string& script) { return ValuesOf(Script(script)); }

const char kParagraph[] = "PABDEF id=1 flags=0x0100 ext=1440,0,1440,0,0,100\nPABREF id=1\n";

/* A file hotspot (type 4) naming the attachment, its name NUL-ended. */
Bytes FileHotspot(const std::string& name) {
  return cdbuild::HotspotBegin({SIG_CD_HOTSPOTBEGIN, 4, 0, name + std::string(1, '\0')});
}

class CopyRTItemTest : public EngineTest {
protected:
  void SetUp() override {
    EngineTest::SetUp();
    ASSERT_EQ(NSFNoteCreate(db_, &target_), NOERROR);
    file_ = ::testing::TempDir() + "velko_copy_rtitem_" + std::to_string(getpid());
  }
  void TearDown() override {
    HostTestFailStorageWrite(0);
    VelkoTestFailTrackedAllocation(0);
    NSFNoteClose(target_);
    std::remove(file_.c_str());
    EngineTest::TearDown();
  }

  /* The source: the note's "Body" made of the body's items, connected. */
  void Source(const cdbuild::Body& body) {
    ASSERT_EQ(body.AppendItems(note_, "Body"), NOERROR);
    Connect();
  }

  STATUS Copy(const char* name = "Copy", int replace = 1) {
    return item_->CopyBackend(target_, name, replace);
  }

  ValueList Target(const char* name = "Copy") { return note_testing::ItemValues(target_, name); }

  void Attach(NOTEHANDLE note, const char* name, const std::string& bytes) {
    std::ofstream(file_, std::ios::binary) << bytes;
    ASSERT_EQ(NSFNoteAttachFile(note, "$FILE", 5, file_.c_str(), name, 0), NOERROR);
  }
  void AttachOle(NOTEHANDLE note, const char* name, const char* field) {
    std::ofstream(file_, std::ios::binary) << name;
    ASSERT_EQ(NSFNoteAttachOLE2Object(note, file_.c_str(), name, TRUE, nullptr, field, nullptr,
                                      0, 0),
              NOERROR);
  }

  /* The note's attachments as "name=bytes", in the note's order. */
  std::string Files(NOTEHANDLE note) {
    std::string files;
    for (const note_testing::attachment& attachment : note_testing::Attachments(note)) {
      const std::string out = file_ + ".out";
      std::string content = "?";
      if (NSFNoteExtractFile(note, attachment.item, out.c_str(), nullptr) == NOERROR) {
        std::ifstream in(out, std::ios::binary);
        content.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
      }
      std::remove(out.c_str());
      if (!files.empty())
        files += ' ';
      files += attachment.name;
      files += '=';
      files += content;
    }
    return files;
  }

  /* Which of the named OLE objects the note holds, with the item each
   * shows in: "name@item". */
  std::string OleObjects(NOTEHANDLE note, std::initializer_list<const char*> names) {
    std::string held;
    BLOCKID item;
    BLOCKID value;
    DWORD length = 0;
    for (const char* name : names) {
      for (STATUS status = NSFItemInfo(note, "$OLEOBJINFO", 11, &item, nullptr, &value, &length);
           status == NOERROR; status = NSFItemInfoNext(note, item, "$OLEOBJINFO", 11, &item,
                                                       nullptr, &value, &length)) {
        const std::string info(static_cast<const char*>(OSLockBlock(value)) + 2, length - 2);
        OSUnlockBlock(value);
        const std::string texts = info.substr(48);
        if (texts.compare(0, std::strlen(name), name) != 0)
          continue;
        if (!held.empty())
          held += ' ';
        held += name;
        held += '@';
        held += texts.substr(std::strlen(name));
      }
    }
    return held;
  }

  NOTEHANDLE target_ = NULLHANDLE;
  std::string file_;
};

/* ---- the records of the copy ---- */

TEST_F(CopyRTItemTest, RecordsAreCopiedAsOneStreamAndSavedInPieces) {
  std::string many;
  for (int i = 0; i < 100; ++i)
    many += "TEXT text=\"" + std::string(1000, static_cast<char>('a' + i % 26)) + "\"\n";
  cdbuild::Body pieces = Script(std::string(kParagraph) + "TEXT text=\"one\"\n");
  pieces.NewItem();
  pieces.Add(cdbuild::Text("two"));
  pieces.NewItem();
  pieces.Add(cdbuild::Text("three"));
  cdbuild::Body large = Script(std::string(kParagraph) + many);
  const struct {
    const char* label;
    cdbuild::Body source;
    ValueList expected;
  } cases[] = {
      {"one item", Script(std::string(kParagraph) + "TEXT text=\"Hello\"\n"),
       ValueOf(std::string(kParagraph) + "TEXT text=\"Hello\"\n")},
      {"three pieces become one value",
       pieces,
       ValueOf(std::string(kParagraph) + "TEXT text=\"one\"\nTEXT text=\"two\"\n"
                                         "TEXT text=\"three\"\n")},
      {"a large item split at 49022 bytes", large, ValuesOf(large)},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    Restart();
    Source(c.source);
    EXPECT_EQ(Copy(), NOERROR);
    EXPECT_EQ(Target(), c.expected);
    EXPECT_EQ(Values("Body"), ValuesOf(c.source)) << "the source stays";
  }
  // The paragraph (82 + 4 bytes) and 48 texts of 1008 bytes; a 49th would
  // pass 49022.
  ASSERT_EQ(Target().size(), 3u);
  EXPECT_EQ(Target()[0].size(), 2u + 86 + 48 * 1008);
}

TEST_F(CopyRTItemTest, IndexedLinksAreFollowedByTheirSelfContainedForm) {
  // The record behind the 6-byte fixed part of a link goes behind the note
  // link of its 0xFF92 copy.
  const Bytes link1 = cdbuild::Link(1);
  const Bytes linkTail = cdbuild::WithTail(cdbuild::Link(0), {'t', 'x'});
  // A note-link resource: hints "ab" and "c", index 1, then "xyz"; rebuilt
  // with flags 0x2, the hints, entry 1 and "xyz".
  const Bytes resource = cdbuild::Resource(
      {.type = 2, .server_hint = "ab", .file_hint = "c", .link = {1, 0}, .name = "xyz"});
  const Bytes inlineResource = cdbuild::Resource({.flags = 2,
                                                  .type = 2,
                                                  .server_hint = "ab",
                                                  .file_hint = "c",
                                                  .link = note_testing::NumberedNoteLink(1),
                                                  .name = "xyz"});
  const Bytes text = cdbuild::Text("after");
  // Every link found: each is followed by its self-contained form.
  const ValueList linked = {note_testing::Value(note_testing::Records(
      {Script(kParagraph).RecordBytes(), link1, cdbuild::DocLink(note_testing::NumberedNoteLink(1)), linkTail,
       cdbuild::DocLink(note_testing::NumberedNoteLink(0), {'t', 'x'}), resource, inlineResource, text}))};
  const std::string broken = "TARNO: Broken $Links reference";
  const struct {
    const char* label;
    const char* table;
    WORD count;
    ValueList expected;
    std::vector<std::string> messages;
  } cases[] = {
      {"$Links", "$Links", 2, linked, {}},
      {"$FormLinks when there is no $Links", "$FormLinks", 2, linked, {}},
      {"an index at the table's count is broken",
       "$Links",
       1,
       {note_testing::Value(note_testing::Records(
           {Script(kParagraph).RecordBytes(), link1, linkTail,
            cdbuild::DocLink(note_testing::NumberedNoteLink(0), {'t', 'x'}), resource, text}))},
       {broken, broken}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    Restart();
    const Bytes table = note_testing::LinkTableValue(c.count, 2);
    ASSERT_EQ(NSFItemAppend(note_, 0, c.table, static_cast<WORD>(std::strlen(c.table)),
                            TYPE_NOTEREF_LIST, table.data(), static_cast<DWORD>(table.size())),
              NOERROR);
    cdbuild::Body body = Script(kParagraph);
    for (const Bytes& record : {link1, linkTail, resource, text})
      body.Add(record);
    Source(body);
    HostTestCaptureMessages();
    EXPECT_EQ(Copy(), NOERROR);
    EXPECT_EQ(Target(), c.expected);
    EXPECT_EQ(note_testing::MessageTexts(), c.messages);
  }
}

TEST_F(CopyRTItemTest, TextFacesFollowTheTargetsFontTable) {
  const Bytes sourceFonts = cdbuild::FontTable({{5, "Georgia"}, {6, "Verdana"}});
  const Bytes targetFonts = cdbuild::FontTable({{5, "Verdana"}});
  ASSERT_EQ(NSFItemAppend(note_, 0, "$Fonts", 6, TYPE_COMPOSITE, sourceFonts.data(),
                          static_cast<DWORD>(sourceFonts.size())),
            NOERROR);
  ASSERT_EQ(NSFItemAppend(target_, 0, "$Fonts", 6, TYPE_COMPOSITE, targetFonts.data(),
                          static_cast<DWORD>(targetFonts.size())),
            NOERROR);
  const std::string texts =
      "TEXT face=5 text=\"g\"\nTEXT face=6 text=\"v\"\nTEXT face=4 text=\"c\"\n"
      "TEXT face=9 text=\"x\"\n";
  Source(Script(std::string(kParagraph) + texts));
  session_->internal->face_map_count = 1; // a CD file append's map left behind
  EXPECT_EQ(Copy(), NOERROR);
  // Georgia joins the target's table as face 6; faces 0-4 and faces the
  // table lacks stay.
  EXPECT_EQ(Target(), ValueOf(std::string(kParagraph) +
                              "TEXT face=6 text=\"g\"\nTEXT face=5 text=\"v\"\n"
                              "TEXT face=4 text=\"c\"\nTEXT face=9 text=\"x\"\n"));
  EXPECT_EQ(Target("$Fonts"),
            ValueList{note_testing::Value(cdbuild::FontTable({{5, "Verdana"}, {6, "Georgia"}}))});
  EXPECT_EQ(session_->internal->face_remap_count, 0) << "the maps are left empty";
  EXPECT_EQ(session_->internal->face_map_count, 0);

  // Within one note the faces are the note's own.
  EXPECT_EQ(item_->CopyBackend(note_, "Body2", 1), NOERROR);
  EXPECT_EQ(Values("Body2"), ValueOf(std::string(kParagraph) + texts));
}

/* ---- sources that fail the copy ---- */

TEST_F(CopyRTItemTest, ASourceThatCannotBeCopiedLeavesTheTarget) {
  const ValueList old = ValueOf(std::string(kParagraph) + "TEXT text=\"old\"\n");
  const Bytes fonts = cdbuild::FontTable({{5, "Georgia"}});
  const struct {
    const char* label;
    bool richText;   /* the source's second piece is rich text */
    bool hasItem;
    STATUS status;
    WORD ownError;
  } cases[] = {
      {"a piece that is not rich text", false, true, VELKO_ERR_FAILED, 20029},
      {"no item of the name", true, false, VELKO_ERR_BAD_ARGUMENT, 0},
  };
  for (const auto& c : cases) {
    for (const bool targetHadItem : {true, false}) {
      SCOPED_TRACE(std::string(c.label) + (targetHadItem ? ", target item" : ", no target item"));
      Restart();
      Source(Script(std::string(kParagraph) + "TEXT text=\"new\"\n"));
      ASSERT_EQ(NSFItemAppend(note_, 0, "$Fonts", 6, TYPE_COMPOSITE, fonts.data(),
                              static_cast<DWORD>(fonts.size())),
                NOERROR);
      if (!c.richText) {
        ASSERT_EQ(NSFItemAppend(note_, 0, "Body", 4, TYPE_TEXT, "plain", 5), NOERROR);
      }
      if (!c.hasItem) {
        ASSERT_EQ(NSFItemDelete(note_, "Body", 4), NOERROR);
      }
      if (targetHadItem) {
        ASSERT_EQ(Script(std::string(kParagraph) + "TEXT text=\"old\"\n").AppendItems(target_,
                                                                                       "Copy"),
                  NOERROR);
      }
      Attach(target_, "old.txt", "old");
      EXPECT_EQ(Copy(), c.status);
      EXPECT_EQ(item_->own_error, c.ownError);
      EXPECT_EQ(Target(), targetHadItem ? old : ValueList{});
      EXPECT_EQ(Target("$Fonts"), ValueList{}) << "no font merge";
      EXPECT_EQ(Files(target_), "old.txt=old");
    }
  }
}

/* ---- attachments and OLE objects ---- */

TEST_F(CopyRTItemTest, ObjectsComeAlongAndOnlyThoseNoLongerNamedGo) {
  Attach(note_, "new.txt", "new");
  Attach(note_, "Shared.txt", "source shared");
  AttachOle(note_, "EXTNEW", "Body");
  cdbuild::Body body = Script(kParagraph);
  for (const Bytes& record :
       {FileHotspot("C:\\files\\new.txt"), cdbuild::Text("a"), cdbuild::HotspotEnd(),
        FileHotspot("gone.txt"), cdbuild::HotspotEnd(), cdbuild::OleObject("EXTNEW"),
        cdbuild::OleObject("EXTGONE"), FileHotspot("shared.txt"), cdbuild::HotspotEnd(),
        cdbuild::Text("after")})
    body.Add(record);
  Source(body);

  // The target: "Copy" names old.txt, kept.txt, shared.txt and EXTOLD;
  // "Other" names kept.txt and EXTKEPT.
  cdbuild::Body oldCopy = Script(kParagraph);
  for (const Bytes& record : {FileHotspot("old.txt"), cdbuild::HotspotEnd(),
                              FileHotspot("KEPT.TXT"), cdbuild::HotspotEnd(),
                              FileHotspot("shared.txt"), cdbuild::HotspotEnd(),
                              cdbuild::OleObject("EXTOLD"), cdbuild::OleObject("EXTKEPT")})
    oldCopy.Add(record);
  ASSERT_EQ(oldCopy.AppendItems(target_, "Copy"), NOERROR);
  cdbuild::Body other = Script(kParagraph);
  other.Add(FileHotspot("kept.txt"));
  other.Add(cdbuild::OleObject("EXTKEPT"));
  ASSERT_EQ(other.AppendItems(target_, "Other"), NOERROR);
  Attach(target_, "old.txt", "old");
  Attach(target_, "kept.txt", "kept");
  Attach(target_, "shared.txt", "target shared");
  AttachOle(target_, "EXTOLD", "Copy");
  AttachOle(target_, "EXTKEPT", "Other");

  EXPECT_EQ(Copy(), NOERROR);
  EXPECT_EQ(Target(), ValuesOf(body)) << "records of missing objects are copied too";
  // old.txt and EXTOLD went. A name the new value holds keeps the target's
  // object of that name; the source's Shared.txt (found without regard to
  // case) comes behind it under the record's name.
  EXPECT_EQ(Files(target_),
            "kept.txt=kept shared.txt=target shared new.txt=new shared.txt=source shared");
  EXPECT_EQ(OleObjects(target_, {"EXTOLD", "EXTKEPT", "EXTNEW"}), "EXTKEPT@Other EXTNEW@Copy");
  EXPECT_EQ(Files(note_), "new.txt=new Shared.txt=source shared") << "the source keeps its own";
}

TEST_F(CopyRTItemTest, ACopyWithinOneNoteKeepsItsObjects) {
  Attach(note_, "a.txt", "a");
  Attach(note_, "b.txt", "b");
  AttachOle(note_, "EXTA", "Body");
  AttachOle(note_, "EXTB", "Body2");
  cdbuild::Body body = Script(kParagraph);
  for (const Bytes& record : {FileHotspot("a.txt"), cdbuild::HotspotEnd(), cdbuild::OleObject("EXTA")})
    body.Add(record);
  Source(body);
  cdbuild::Body old = Script(kParagraph);
  for (const Bytes& record : {FileHotspot("b.txt"), cdbuild::HotspotEnd(), cdbuild::OleObject("EXTB")})
    old.Add(record);
  ASSERT_EQ(old.AppendItems(note_, "Body2"), NOERROR);

  EXPECT_EQ(item_->CopyBackend(note_, "Body2", 1), NOERROR);
  EXPECT_EQ(Values("Body2"), ValuesOf(body));
  // Nothing is attached again; what only the old Body2 named goes.
  EXPECT_EQ(Files(note_), "a.txt=a");
  EXPECT_EQ(OleObjects(note_, {"EXTA", "EXTB"}), "EXTA@Body");
}

/* ---- failures on the way ---- */

TEST_F(CopyRTItemTest, AFailureAtAnyStepLeavesTheTargetsItemAndObjects) {
  const ValueList old = ValueOf(std::string(kParagraph) + "TEXT text=\"old\"\n");
  struct control {
    const char* name;
    void (*arm)(int nth);
  } const controls[] = {
      {"storage write", HostTestFailStorageWrite},
      {"tracked allocation", VelkoTestFailTrackedAllocation},
  };
  for (const control& control : controls) {
    int failed = 0;
    bool clean = false; // a run that met no failure
    for (int nth = 1; !clean && nth < 500; ++nth) {
      SCOPED_TRACE(std::string(control.name) + " " + std::to_string(nth));
      Restart();
      Attach(note_, "new.txt", "new");
      AttachOle(note_, "EXTNEW", "Body");
      cdbuild::Body body = Script(kParagraph);
      for (const Bytes& record : {FileHotspot("new.txt"), cdbuild::Text("a"),
                                  cdbuild::HotspotEnd(), cdbuild::OleObject("EXTNEW")})
        body.Add(record);
      Source(body);
      cdbuild::Body oldBody = Script(std::string(kParagraph) + "TEXT text=\"old\"\n");
      oldBody.Add(FileHotspot("old.txt"));
      ASSERT_EQ(oldBody.AppendItems(target_, "Copy"), NOERROR);
      const ValueList before = Target();
      Attach(target_, "old.txt", "old");

      control.arm(nth);
      const STATUS status = Copy();
      control.arm(0);
      if (status != NOERROR) {
        ++failed;
        EXPECT_EQ(Target(), before);
        EXPECT_EQ(Files(target_), "old.txt=old");
        EXPECT_EQ(OleObjects(target_, {"EXTNEW"}), "");
      } else {
        EXPECT_EQ(Target(), ValuesOf(body));
        EXPECT_EQ(OleObjects(target_, {"EXTNEW"}), "EXTNEW@Copy");
        // A removal that fails is logged and leaves its object.
        const std::string files = Files(target_);
        clean = files == "new.txt=new";
        if (!clean) {
          EXPECT_EQ(files, "old.txt=old new.txt=new");
        }
      }
      if (::testing::Test::HasFailure())
        break;
    }
    EXPECT_TRUE(clean) << control.name;
    EXPECT_GT(failed, 1) << control.name;
  }
}

} // namespace
