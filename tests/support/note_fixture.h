// Test support for the tests, benchmarks and fuzz targets that work on real
// host notes: the host reset with its log and messages captured, a
// database created and opened in one call, rich-text item values appended
// and read back, items bound by hand to a note for the store's loader,
// record lists laid out as item values, a paragraph definition as a new
// item holds it, and a short description of a loaded record list. Records
// come from the byte-level builder (cdbuild/cd_builder.h); nothing here uses
// the engine's own record code. Not GoogleTest-bound: the benchmarks and
// fuzz targets include it too.
#ifndef VELKO_TESTS_SUPPORT_NOTE_FIXTURE_H
#define VELKO_TESTS_SUPPORT_NOTE_FIXTURE_H

#include <array>
#include <cstdio>
#include <cstring>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "host/cdrecords.h"
#include "host/host_testing.h"
#include "host/nsfdb.h"
#include "host/nsfnote.h"
#include "host/osmem.h"
#include "store/body.h"
#include "store/rtitem_internal.h"
#include "store/session.h"
#include "cdbuild/cd_builder.h"
#include "velko/status.h"

namespace note_testing {

using Bytes = std::vector<BYTE>;

/* ---- databases and item values ---- */

/* Resets the host for a test and captures its log and messages; the live
 * memory handles, to compare with when the test ends. */
inline size_t ResetHostCapturing() {
  HostTestReset();
  HostTestCaptureLog(true);
  HostTestCaptureMessages();
  return HostTestLiveHandles();
}

/* Creates the database ("mem:" names one in memory) and opens it; the
 * first failing status. */
inline STATUS CreateDatabase(const char* path, DBHANDLE* db) {
  if (const STATUS status = NSFDbCreate(path, DBCLASS_NOTEFILE, FALSE); status != NOERROR)
    return status;
  return NSFDbOpen(path, db);
}

/* The database of the path, created and opened on the first call for that
 * path and kept open for the rest of the process, for benchmarks and fuzz
 * targets that run many times over one database. */
inline DBHANDLE ProcessDatabase(const char* path) {
  static std::mutex mutex;
  static std::map<std::string, DBHANDLE> opened;
  const std::lock_guard<std::mutex> lock(mutex);
  const auto [at, added] = opened.try_emplace(path, NULLHANDLE);
  if (added)
    CreateDatabase(path, &at->second);
  return at->second;
}

inline WORD NameLength(const char* name) { return static_cast<WORD>(std::strlen(name)); }

/* Appends one TYPE_COMPOSITE item of the name holding the records; the
 * host writes the type word in front. */
inline STATUS AppendRecords(NOTEHANDLE note, const char* name, const Bytes& records) {
  return NSFItemAppend(note, 0, name, NameLength(name), TYPE_COMPOSITE, records.data(),
                       static_cast<DWORD>(records.size()));
}

/* Stores a new note of the database with what `fill` (a STATUS of the
 * note handle) puts on it; its note ID, 0 when the note could not be made,
 * filled or stored. */
template <typename Fill> NOTEID StoreNoteWith(DBHANDLE db, Fill fill) {
  NOTEHANDLE note = NULLHANDLE;
  if (NSFNoteCreate(db, &note) != NOERROR)
    return 0;
  NOTEID id = 0;
  if (fill(note) == NOERROR && NSFNoteUpdate(note, 0) == NOERROR)
    NSFNoteGetInfo(note, _NOTE_ID, &id);
  NSFNoteClose(note);
  return id;
}

/* A stored note whose item of the name holds the records. */
inline NOTEID StoreNote(DBHANDLE db, const Bytes& records, const char* name = "Body") {
  return StoreNoteWith(db, [&](NOTEHANDLE note) { return AppendRecords(note, name, records); });
}

/* A stored image resource: a design note of the name whose "$ImageData"
 * holds the records (a graphic, its image header and segments). */
inline NOTEID StoreImageResource(DBHANDLE db, const std::string& name, const cdbuild::Body& image) {
  return StoreNoteWith(db, [&](NOTEHANDLE note) {
    WORD noteClass = NOTE_CLASS_FORM;
    NSFNoteSetInfo(note, _NOTE_CLASS, &noteClass);
    if (STATUS status =
            NSFItemSetText(note, "$TITLE", name.c_str(), static_cast<WORD>(name.size()));
        status != NOERROR)
      return status;
    NSFItemSetText(note, "$Flags", "34CiQ", 5);
    return image.AppendItems(note, "$ImageData");
  });
}

/* Every item value of the name on the note, type word first. */
inline std::vector<Bytes> ItemValues(NOTEHANDLE note, const char* name) {
  std::vector<Bytes> values;
  const WORD length = NameLength(name);
  BLOCKID item = {};
  BLOCKID value = {};
  DWORD size = 0;
  STATUS status = NSFItemInfo(note, name, length, &item, nullptr, &value, &size);
  while (status == NOERROR) {
    const auto* data = static_cast<const BYTE*>(OSLockBlock(value));
    values.emplace_back(data, data + size);
    OSUnlockBlock(value);
    status = NSFItemInfoNext(note, item, name, length, &item, nullptr, &value, &size);
  }
  return values;
}

/* One "$FILE" attachment of a note: its item and its file name. */
struct attachment {
  BLOCKID item;
  std::string name;
};

/* The note's "$FILE" attachments in the note's order. */
inline std::vector<attachment> Attachments(NOTEHANDLE note) {
  std::vector<attachment> attachments;
  BLOCKID item;
  BLOCKID value;
  DWORD length = 0;
  for (STATUS status = NSFItemInfo(note, "$FILE", 5, &item, nullptr, &value, &length);
       status == NOERROR;
       status = NSFItemInfoNext(note, item, "$FILE", 5, &item, nullptr, &value, &length)) {
    const auto* bytes = static_cast<const char*>(OSLockBlock(value));
    if (bytes != nullptr && length >= 2 + sizeof(FILEOBJECT))
      attachments.push_back({item, std::string(bytes + 2 + sizeof(FILEOBJECT),
                                               length - 2 - sizeof(FILEOBJECT))});
    if (bytes != nullptr)
      OSUnlockBlock(value);
  }
  return attachments;
}

/* The file names of the note's "$FILE" attachments in item order, joined
 * by blanks. */
inline std::string AttachedFileNames(NOTEHANDLE note) {
  std::string names;
  for (const attachment& file : Attachments(note))
    names += (names.empty() ? "" : " ") + file.name;
  return names;
}

/* Entry n of a test's link table: 40 bytes n*40, n*40+1, ... */
inline Bytes NumberedNoteLink(int n) {
  Bytes link(40);
  for (int i = 0; i < 40; ++i)
    link[i] = static_cast<BYTE>(n * 40 + i);
  return link;
}

/* A link table value without its type word: the count, then the first
 * `held` numbered note links. */
inline Bytes LinkTableValue(WORD count, int held) {
  Bytes table = {static_cast<BYTE>(count), static_cast<BYTE>(count >> 8)};
  for (int i = 0; i < held; ++i) {
    const Bytes link = NumberedNoteLink(i);
    table.insert(table.end(), link.begin(), link.end());
  }
  return table;
}

/* ---- record lists ---- */

/* Records as an item value holds them behind its type word: each odd
 * record followed by a zero pad byte. An empty entry adds nothing. */
inline Bytes Records(const std::vector<Bytes>& records) {
  cdbuild::Body body;
  for (const Bytes& record : records) {
    if (!record.empty())
      body.Add(record);
  }
  return body.RecordBytes();
}

/* An item value: the TYPE_COMPOSITE type word, then the records. */
inline Bytes Value(const Bytes& records) {
  Bytes value(2 + records.size());
  value[0] = TYPE_COMPOSITE & 0xFF;
  value[1] = TYPE_COMPOSITE >> 8;
  std::copy(records.begin(), records.end(), value.begin() + 2);
  return value;
}

/* A paragraph definition laid out as a new item's default one: left and
 * first-line margins at `left`, a first tab position of half an inch left
 * behind a tab count of 0, flags 0x0100 and, with the extension, the
 * margin offsets at `left` and the right margin at 100 percent. */
inline Bytes DefaultDefinition(WORD id = 1, WORD left = 1440, bool extension = true,
                               WORD flags2 = 0) {
  cdbuild::PabDefFields fields{.id = id, .left = left, .tabs = {720}, .tab_count = 0,
                               .flags = 0x0100, .flags2 = flags2};
  if (extension)
    fields.extension = std::array<WORD, 6>{left, 0, left, 0, 0, 100};
  return cdbuild::PabDef(fields);
}

/* The records from the node on: the text of each text record, "<sig>"
 * (four hex digits) for any other. */
inline std::vector<std::string> Describe(const record_storage* first) {
  std::vector<std::string> texts;
  for (const record_storage* node = first; node != nullptr; node = node->next) {
    if (node->signature == SIG_CD_TEXT) {
      texts.emplace_back(node->data + 8, node->length - 8);
      continue;
    }
    char name[16];
    std::snprintf(name, sizeof name, "<%04X>", node->signature);
    texts.emplace_back(name);
  }
  return texts;
}

/* ---- items bound by hand ---- */

/* A new item of the session bound to the note's item of the name as the
 * store's loader and writer expect it, without connecting: the note stays
 * the caller's to close. */
inline VelkoRTItem* BindItem(LSXLsiSession* session, NOTEHANDLE note, const char* name) {
  auto* item = new VelkoRTItem(session);
  item->note = note;
  item->item_name = new char[std::strlen(name) + 1];
  std::strcpy(item->item_name, name);
  return item;
}

/* Deletes an item made by BindItem, leaving its note open. */
inline void UnbindItem(VelkoRTItem* item) {
  delete[] item->item_name;
  item->item_name = nullptr;
  item->note = NULLHANDLE;
  delete item;
}

} // namespace note_testing

#endif
