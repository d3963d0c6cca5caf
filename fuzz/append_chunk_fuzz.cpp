/*
 * Fuzz target for the chunk append: a record list from the fuzz bytes
 * appended by each kind of copy. SortByRow appends the body's table rows
 * again in key order (the chunk's own rows, copied as they stand), with a
 * fuzzed column, switches and options; AppendRow with its copy flag copies
 * a row of the body; the copying appends take the body from another note
 * (an item, a chunk of it, a form, subform or page body, an image
 * resource put inline) into a small well-formed target body, with a fuzzed
 * paragraph-id base.
 *
 * Input: byte 0: bits 0-1 the key column (1 to 4; for a design body:
 * form, subform, page, form), bit 2 the title-rows flag, bit 3 numeric,
 * bit 4 reverse, bits 5-7 the base argument (kBases); byte 1: bits 0-1 how
 * many items the body is split into (1 to 3), bit 2 the chunk is "Table 2"
 * instead of "Table 1" (a chunk copy: "Everything"), bit 3 the options are
 * null, bits 4-6 the append (kinds below). Then a NUL-ended options text
 * (an image resource's properties); the rest is the body's records.
 *
 * Checked: an append that succeeds leaves a body that loads again
 * completely and that a reading walk goes through; one that fails leaves
 * the item's values byte for byte as they were; host handles and tracked
 * blocks are all given back.
 */
#include <stddef.h>
#include <stdint.h>
#include <string.h>

#include <string>
#include <vector>

#include "cdbuild/cd_script.h"
#include "fuzz/fuzz_support.h"
#include "fuzz/stored_body_checks.h"
#include "host/host_testing.h"
#include "host/nsfdb.h"
#include "host/nsfnote.h"
#include "store/body.h"
#include "store/rtitem_internal.h"
#include "store/session.h"
#include "store/vocabulary.h"
#include "tests/support/note_fixture.h"
#include "velko/status.h"

namespace {

constexpr char kDbPath[] = "mem:appendchunkfuzz";
constexpr size_t kHeader = 2;

/* The appends byte 1 picks. */
enum append_kind : int {
  kSortRows = 0,
  kItemCopy = 1,
  kChunkCopy = 2,
  kDesignBody = 3,
  kImageResource = 4,
  kRowCopy = 5,
};

/* Base arguments byte 0 picks: off, small, the CD file's, near the top. */
constexpr WORD kBases[] = {0, 0, 9, 125, 1000, 30000, 65500, 65535};

/* The target of a copy from another note: a definition, a reference and
 * a text run. */
constexpr char kTargetScript[] = "PABDEF id=1 left=720\nPABREF id=1\nTEXT text=\"t\"\n";

/* Two link table entries for the source's indexed links. */
note_testing::Bytes LinkTable() {
  note_testing::Bytes table = {2, 0};
  table.resize(2 + 2 * 40, 0x5A);
  return table;
}

/* The table chunk byte 1 picks. */
const char *TableChunk(const uint8_t *data) {
  return (data[1] & 0x04) != 0 ? "Table 2" : "Table 1";
}

/* SortByRow with a fuzzed column, switches and options. */
STATUS SortRows(const uint8_t *data, const char *options, VelkoRTChunk *chunk) {
  const WORD column = static_cast<WORD>(1 + (data[0] & 3));
  return chunk->SortByRow(column, (data[0] >> 2) & 1, (data[0] >> 3) & 1,
                          (data[0] >> 4) & 1, options);
}

/* A note of the database holding the body under the item name, with link
 * tables; a design element (stored, so that it is found by its title)
 * when a title is given. */
NOTEHANDLE SourceNote(DBHANDLE db, const uint8_t *body, size_t size, int pieces,
                      const char *itemName, const char *title) {
  NOTEHANDLE note = NULLHANDLE;
  check(NSFNoteCreate(db, &note) == NOERROR);
  AppendPieces(note, body, size, pieces, itemName);
  const note_testing::Bytes links = LinkTable();
  for (const char *table : {"$Links", "$FormLinks"})
    check(NSFItemAppend(note, 0, table, static_cast<WORD>(strlen(table)), TYPE_NOTEREF_LIST,
                        links.data(), static_cast<DWORD>(links.size())) == NOERROR);
  if (title != nullptr) {
    const WORD form = NOTE_CLASS_FORM;
    NSFNoteSetInfo(note, _NOTE_CLASS, &form);
    check(NSFItemSetText(note, "$TITLE", title, static_cast<WORD>(strlen(title))) == NOERROR);
    check(NSFNoteUpdate(note, 0) == NOERROR);
  }
  return note;
}

/* The copy the input asks for, from the source note into the chunk. */
STATUS Copy(int kind, const uint8_t *data, const char *options, const char *title,
            DBHANDLE db, NOTEHANDLE source, LSXLsiSession *session, VelkoRTChunk *chunk) {
  const WORD base = kBases[data[0] >> 5];
  switch (kind) {
  case kItemCopy: {
    session->internal->append_db = db;
    session->internal->append_note = source;
    session->internal->append_item_name = "Body";
    const STATUS status = chunk->AlterRichText(ACTION_APPEND_RTITEM, base, 0, 0, 0, "Body",
                                               nullptr, nullptr, nullptr);
    session->internal->append_db = NULLHANDLE;
    session->internal->append_note = NULLHANDLE;
    session->internal->append_item_name = nullptr;
    return status;
  }
  case kChunkCopy: {
    auto *other = new VelkoRTItem(session);
    STATUS status = other->ConnectBackend(source, "Body", 0);
    VelkoRTChunk *part = status == NOERROR ? other->DefineChunk(
                                                 (data[1] & 0x04) != 0 ? "Everything" : "Table 1")
                                           : nullptr;
    if (part != nullptr) {
      session->internal->found_first = 0;
      part->AlterRichText(ACTION_QUERY_RECORDS, 0, 0, 0, 0, nullptr, nullptr, nullptr, nullptr);
      status = session->internal->found_first == 0
                   ? NOERROR
                   : chunk->AlterRichText(ACTION_APPEND_RTCHUNK, base, data[0] & 1, 0, 0,
                                          nullptr, nullptr, nullptr, part);
    }
    delete other;
    return status;
  }
  case kDesignBody:
    switch (data[0] & 3) {
    case 1:
      return chunk->AppendSubformBody(title);
    case 2:
      return chunk->AppendPageBody(title);
    default:
      return chunk->AppendFormBody(title);
    }
  default:
    return chunk->AlterRichText(ACTION_APPEND_RESOURCE, 3, 19, 0, 0, title,
                                options != nullptr ? options : "MakeInLine=Yes", nullptr,
                                nullptr);
  }
}

/* A copy from another note holding the body into a small target body. */
void CopyFromNote(int kind, const uint8_t *data, const char *options, const uint8_t *body,
                  size_t bodySize, LSXLsiSession *session, DBHANDLE db) {
  static unsigned designs = 0;
  const std::string title = "design" + std::to_string(++designs);
  const bool design = kind == kDesignBody || kind == kImageResource;
  const NOTEHANDLE source =
      SourceNote(db, body, bodySize, 1 + (data[1] & 3) % 3,
                 kind == kImageResource ? "$ImageData" : kind == kDesignBody ? "$Body" : "Body",
                 design ? title.c_str() : nullptr);
  NOTEHANDLE target = NULLHANDLE;
  check(NSFNoteCreate(db, &target) == NOERROR);
  cdbuild::Body targetBody;
  cdbuild::ScriptError error;
  check(cdbuild::BuildScript(kTargetScript, &targetBody, &error));
  check(targetBody.AppendItems(target, "Body") == NOERROR);

  auto *item = new VelkoRTItem(session);
  check(item->ConnectBackend(target, "Body", 0) == NOERROR);
  VelkoRTChunk *chunk = item->DefineChunk("Everything");
  check(chunk != nullptr);
  chunk->append_position = 1;
  const std::vector<note_testing::Bytes> before = note_testing::ItemValues(target, "Body");
  const STATUS status = Copy(kind, data, options, title.c_str(), db, source, session, chunk);
  delete item;
  check(VelkoTrackedBlocksInUse(session) == 0);
  if (status != NOERROR)
    check(note_testing::ItemValues(target, "Body") == before);
  else
    CheckStoredBody(session, target);
  NSFNoteClose(target);
  if (design) {
    NOTEID id = 0;
    NSFNoteGetInfo(source, _NOTE_ID, &id);
    NSFNoteDelete(db, id, 0);
  }
  NSFNoteClose(source);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size < kHeader)
    return 0;
  size_t at = kHeader;
  const void *end = memchr(data + at, 0, size - at);
  const size_t length = end != nullptr
                            ? static_cast<const uint8_t *>(end) - (data + at)
                            : size - at;
  const std::string options(reinterpret_cast<const char *>(data + at), length);
  at += length + 1;
  const uint8_t *body = at < size ? data + at : data;
  const size_t bodySize = at < size ? size - at : 0;

  const DBHANDLE db = note_testing::ProcessDatabase(kDbPath);
  const size_t handles = HostTestLiveHandles();
  const char *given = (data[1] & 0x08) != 0 ? nullptr : options.c_str();
  const int kind = (data[1] >> 4) & 7;
  auto *session = new LSXLsiSession;
  if (kind == kSortRows || kind == kRowCopy) {
    NOTEHANDLE note = NULLHANDLE;
    check(NSFNoteCreate(db, &note) == NOERROR);
    AppendPieces(note, body, bodySize, 1 + (data[1] & 3) % 3);
    CheckChunkOperation(session, note, TableChunk(data), [&](VelkoRTChunk *chunk) {
      return kind == kSortRows
                 ? SortRows(data, given, chunk)
                 : chunk->AppendRow(1, static_cast<WORD>(data[0] & 3), nullptr);
    });
    NSFNoteClose(note);
  } else if (kind <= kImageResource) {
    CopyFromNote(kind, data, given, body, bodySize, session, db);
  }
  delete session;
  check(HostTestLiveHandles() == handles);
  return 0;
}
