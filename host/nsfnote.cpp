/*
 * Notes and items: working copies of notes, their items and values, and
 * writing a working copy back in one transaction.
 *
 * An open note is a WorkingNote (host/storage.h): its items in order, each
 * value in a memory block of its own, type word first. Item calls change
 * only the working copy; NSFNoteUpdate rewrites the note's rows. Values of
 * deleted or replaced items are kept until the note is closed, so a value
 * a caller still holds locked stays valid. An item is found by name through
 * the positions of each key's items, and by serial through the note's
 * serials (host/item_serials.h), without a walk over the items. Items taken
 * out keep their places, marked removed, until most places are such, so
 * that taking out the items of a name costs in proportion to their count.
 *
 * A stored value too short to hold its type word (damage from outside)
 * does not keep the note from opening: the item is loaded as it is, is
 * written back as it is, and a call that reads it reports it by name
 * through the message handler and returns ERR_HOST_ITEM_DAMAGED.
 *
 * The calls that allocate run under GuardedStatus (host_internal.h):
 * short memory is ERR_MEMORY and leaves the working copy as it was.
 *
 * Attachments are in attach.cpp; databases in nsfdb.cpp.
 */
#include "host/nsfnote.h"

#include <algorithm>
#include <cassert>
#include <cstdio>
#include <cstring>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "host/host_internal.h"
#include "host/nsfdb.h"
#include "host/osmem.h"
#include "host/status.h"
#include "host/storage.h"
#include "host/textlist.h"
#include "host/timedate.h"

using namespace velko::host;

namespace {

constexpr size_t kMaxNameLength = 255;
constexpr size_t npos = static_cast<size_t>(-1);

// Holds a lock on an item value for the length of one call.
class ValueLock {
public:
  explicit ValueLock(const WorkingItem& item)
      : handle_(item.value), data_(static_cast<const BYTE*>(OSLockObject(item.value))),
        length_(item.length) {}
  ~ValueLock() {
    if (data_ != nullptr)
      OSUnlockObject(handle_);
  }
  ValueLock(const ValueLock&) = delete;
  ValueLock& operator=(const ValueLock&) = delete;
  const BYTE* data() const { return data_; }
  DWORD length() const { return data_ == nullptr ? 0 : length_; }
  std::string_view bytes() const {
    return std::string_view(reinterpret_cast<const char*>(data_), length());
  }

private:
  DHANDLE handle_;
  const BYTE* data_;
  DWORD length_;
};

std::string_view NameOf(const char* name, WORD nameLength) {
  return name == nullptr ? std::string_view() : std::string_view(name, nameLength);
}

std::string_view TerminatedName(const char* name) {
  return name == nullptr ? std::string_view() : std::string_view(name);
}

bool ValidName(std::string_view name) { return !name.empty() && name.size() <= kMaxNameLength; }

std::string_view WordBytes(const WORD& word) {
  return std::string_view(reinterpret_cast<const char*>(&word), sizeof word);
}

// A new value block, freed again unless it is handed over.
class ValueBlock {
public:
  ValueBlock() = default;
  ~ValueBlock() {
    if (handle_ != NULLHANDLE)
      OSMemFree(handle_);
  }
  ValueBlock(const ValueBlock&) = delete;
  ValueBlock& operator=(const ValueBlock&) = delete;

  DHANDLE handle() const { return handle_; }
  DWORD length() const { return length_; }
  void Hold(DHANDLE handle, DWORD length) {
    handle_ = handle;
    length_ = length;
  }
  // The block is someone else's from now on.
  DHANDLE Release() { return std::exchange(handle_, NULLHANDLE); }

private:
  DHANDLE handle_ = NULLHANDLE;
  DWORD length_ = 0;
};

// How NewValueBlock checks the value it is given.
enum class ValueCheck {
  kNew,       // a value type word first, within the cap
  kDuplicate, // a copy of a value the note holds: as it is, even damaged
};

// A new memory block holding the parts back to back.
STATUS NewValueBlock(std::initializer_list<std::string_view> parts, ValueBlock* block,
                     ValueCheck check = ValueCheck::kNew) {
  size_t length = 0;
  for (std::string_view part : parts)
    length += part.size();
  if (check == ValueCheck::kNew && length < sizeof(WORD))
    return ERR_HOST_BAD_ARGUMENT;
  if (check == ValueCheck::kNew && length > ItemValueLimit())
    return ERR_HOST_VALUE_TOO_LARGE;
  DHANDLE handle = NULLHANDLE;
  // Every byte of the block is one of the parts'.
  if (const STATUS status = AllocateBlockToFill(static_cast<DWORD>(length), &handle);
      status != NOERROR)
    return status;
  auto* data = static_cast<char*>(OSLockObject(handle));
  for (std::string_view part : parts) {
    if (!part.empty())
      std::memcpy(data, part.data(), part.size());
    data += part.size();
  }
  OSUnlockObject(handle);
  block->Hold(handle, static_cast<DWORD>(length));
  return NOERROR;
}

// An item of the note's not yet in it, without its value. Its serial is
// free, never one a current item holds, and placing it needs no memory.
WorkingItem NewItem(WorkingNote& note, WORD itemFlags, std::string_view name) {
  WorkingItem item;
  item.name = name;
  item.key = ItemKey(name);
  item.flags = itemFlags;
  item.serial = note.serials.Next();
  return item;
}

// Appends the item holding the block's value; the block is the note's once
// the item is in, and still the caller's when memory ran out. The serial.
WORD PushItem(WorkingNote& note, WorkingItem item, ValueBlock& value) {
  const auto [entry, added] = note.itemsOfKey.try_emplace(item.key);
  std::vector<size_t>& positions = entry->second;
  try {
    // Room for the position first, so that nothing fails once the item is
    // in; it grows by half again, as a vector does, or many items of one
    // name would each move all the positions before them.
    if (positions.size() == positions.capacity())
      positions.reserve(positions.size() + positions.size() / 2 + 1);
    note.items.push_back(std::move(item));
  } catch (...) {
    if (added)
      note.itemsOfKey.erase(entry);
    throw;
  }
  const size_t position = note.items.size() - 1;
  positions.push_back(position);
  note.serials.Place(note.items.back().serial, position);
  note.items.back().value = value.handle();
  note.items.back().length = value.length();
  value.Release();
  return note.items.back().serial;
}

WORD PushItem(WorkingNote& note, WORD itemFlags, std::string_view name, ValueBlock& value) {
  return PushItem(note, NewItem(note, itemFlags, name), value);
}

// The first item from index `from` on whose name is `name` without regard
// to ASCII case; npos when there is none. Needs no memory.
size_t FindByName(const WorkingNote& note, std::string_view name, size_t from) {
  char lower[kMaxNameLength];
  if (name.size() <= sizeof lower) {
    for (size_t at = 0; at < name.size(); ++at) {
      const char c = name[at];
      lower[at] = c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
    }
    const auto found = note.itemsOfKey.find(std::string_view(lower, name.size()));
    if (found == note.itemsOfKey.end())
      return npos;
    const std::vector<size_t>& positions = found->second;
    const auto at = std::lower_bound(positions.begin(), positions.end(), from);
    return at != positions.end() ? *at : npos;
  }
  // A name longer than any given to an item can still be one read from
  // storage.
  const auto sameKey = [name](const std::string& key) {
    if (key.size() != name.size())
      return false;
    for (size_t at = 0; at < name.size(); ++at) {
      const char c = name[at];
      if ((c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c) != key[at])
        return false;
    }
    return true;
  };
  for (size_t index = from; index < note.items.size(); ++index)
    if (!note.items[index].removed && sameKey(note.items[index].key))
      return index;
  return npos;
}

// Closes the places of removed items, keeping the order of the others;
// each item that moves takes its new position among its key's and for its
// serial. The positions of a key stay rising throughout, those already
// moved being below the one sought. Needs no memory.
void CloseRemovedPlaces(WorkingNote& note) {
  size_t kept = 0;
  for (size_t index = 0; index < note.items.size(); ++index) {
    WorkingItem& item = note.items[index];
    if (item.removed)
      continue;
    if (kept != index) {
      std::vector<size_t>& positions = note.itemsOfKey.find(item.key)->second;
      const auto at = std::lower_bound(positions.begin(), positions.end(), index);
      assert(at != positions.end() && *at == index);
      *at = kept;
      note.serials.Place(item.serial, kept);
      note.items[kept] = std::move(item);
    }
    ++kept;
  }
  note.items.erase(note.items.begin() + static_cast<std::ptrdiff_t>(kept), note.items.end());
  note.removedItems = 0;
}

static_assert(ItemSerials::kNone == npos);

size_t IndexOfSerial(const WorkingNote& note, WORD serial) {
  return note.serials.PositionOf(serial);
}

// Makes room to retire count values, so that retiring them cannot fail
// part-way: the one step of a change that may run out of memory, taken
// before anything changes.
void MakeRoomToRetire(WorkingNote& note, size_t count) {
  note.retired.reserve(note.retired.size() + count);
}

// A value that left the note: freed at once, or, while a caller holds it
// locked, kept readable until the note is closed. Room was made for it.
void RetireValue(WorkingNote& note, DHANDLE value) {
  if (MemoryBlockIsLocked(value))
    note.retired.push_back(value);
  else
    OSMemFree(value);
}

// Marks the item at the position removed, its value retired and its
// serial freed, once it left its key's positions; its place is closed when
// removed items are most of the note's. Room was made for the value.
void RemoveAt(WorkingNote& note, size_t position) {
  WorkingItem& item = note.items[position];
  RetireValue(note, item.value);
  note.serials.Free(item.serial);
  item.value = NULLHANDLE;
  item.removed = true;
  ++note.removedItems;
}

void CloseRemovedPlacesWhenMost(WorkingNote& note) {
  if (note.removedItems * 2 > note.items.size())
    CloseRemovedPlaces(note);
}

// Takes every item of the key out of the note; their values are retired.
// The key's entry stays, so that an item of the name set again finds it and
// needs no memory for it. Short memory leaves the note as it was. The
// number of items taken out.
size_t RetireItems(WorkingNote& note, std::string_view key) {
  const auto entry = note.itemsOfKey.find(key);
  if (entry == note.itemsOfKey.end())
    return 0;
  std::vector<size_t>& positions = entry->second;
  const size_t removed = positions.size();
  MakeRoomToRetire(note, removed);
  for (const size_t position : positions)
    RemoveAt(note, position);
  positions.clear();
  CloseRemovedPlacesWhenMost(note);
  return removed;
}

bool IsDamaged(const WorkingItem& item) { return item.length < sizeof(WORD); }

// Hands each text of a TYPE_TEXT value (one) or a TYPE_TEXT_LIST value
// (each entry), after the type word, to take. False, handing nothing, for
// any other value or a list whose words point past its end. Needs no
// memory of its own.
template <typename Take> bool EachValueText(const BYTE* value, DWORD length, Take take) {
  const WORD type = ValueType(value, length);
  const auto* bytes = reinterpret_cast<const char*>(value);
  if (type == TYPE_TEXT) {
    take(std::string_view(bytes + sizeof(WORD), length - sizeof(WORD)));
    return true;
  }
  if (type != TYPE_TEXT_LIST || length < 2 * sizeof(WORD))
    return false;
  const WORD count = ListGetNumEntries(value, TRUE);
  const size_t first = 2 * sizeof(WORD) + count * sizeof(WORD);
  if (first > length)
    return false;
  const auto entryLength = [bytes](WORD entry) {
    WORD entryLength;
    std::memcpy(&entryLength, bytes + 2 * sizeof(WORD) + entry * sizeof(WORD), sizeof entryLength);
    return entryLength;
  };
  size_t end = first;
  for (WORD entry = 0; entry < count; ++entry) {
    if (entryLength(entry) > length - end)
      return false;
    end += entryLength(entry);
  }
  size_t offset = first;
  for (WORD entry = 0; entry < count; ++entry) {
    take(std::string_view(bytes + offset, entryLength(entry)));
    offset += entryLength(entry);
  }
  return true;
}

// Tells the user which item is damaged; the status of the call that met it.
STATUS ReportDamagedItem(const WorkingNote& note, const WorkingItem& item) {
  char text[400];
  std::snprintf(text, sizeof text,
                "Note item \"%s\" (note ID 0x%X) is damaged: its stored value of %u byte%s is "
                "too short to hold its data type",
                item.name.c_str(), static_cast<unsigned>(note.id),
                static_cast<unsigned>(item.length), item.length == 1 ? "" : "s");
  ShowHostMessage(text);
  return ERR_HOST_ITEM_DAMAGED;
}

WORD TypeOf(const WorkingItem& item) {
  const ValueLock value(item);
  return ValueType(value.data(), value.length());
}

// Copies an item value of length bytes that a caller hands over in a
// block: ERR_HOST_VALUE_TOO_LARGE above the cap, ERR_HOST_BAD_ARGUMENT when
// the block holds fewer bytes.
STATUS ReadValueBlock(BLOCKID bid, DWORD length, std::string* out) {
  if (length > ItemValueLimit())
    return ERR_HOST_VALUE_TOO_LARGE;
  const auto* data = static_cast<const char*>(OSLockObject(bid.pool));
  if (data == nullptr)
    return ERR_HOST_BAD_HANDLE;
  const DWORD size = OSMemGetSize(bid.pool);
  STATUS status = NOERROR;
  if (bid.block > size || length > size - bid.block)
    status = ERR_HOST_BAD_ARGUMENT;
  else
    out->assign(data + bid.block, length);
  OSUnlockObject(bid.pool);
  return status;
}

// Hands out what the caller asked to know of the item. A damaged item
// gives its BLOCKID only (so that the next item of the name can be
// reached) and is reported.
STATUS ReportItem(NOTEHANDLE handle, const WorkingNote& note, const WorkingItem& item,
                  BLOCKID* retItemBid, WORD* retDataType, BLOCKID* retValueBid,
                  DWORD* retValueLength) {
  if (retItemBid != nullptr)
    *retItemBid = BLOCKID{handle, item.serial};
  if (IsDamaged(item))
    return ReportDamagedItem(note, item);
  if (retDataType != nullptr)
    *retDataType = TypeOf(item);
  if (retValueBid != nullptr)
    *retValueBid = BLOCKID{item.value, 0};
  if (retValueLength != nullptr)
    *retValueLength = item.length;
  return NOERROR;
}

// ---- loading and storing ----

// The item of the row whose name, flags and value stand from the column on,
// a damaged one as it is, put on the note.
STATUS PushStoredItem(const Statement& query, int name, WorkingNote& note) {
  ValueBlock value;
  if (const STATUS status = NewValueBlock({query.Blob(name + 2)}, &value, ValueCheck::kDuplicate);
      status != NOERROR)
    return status;
  PushItem(note, static_cast<WORD>(query.Int(name + 1)), query.Text(name), value);
  return NOERROR;
}

// Every stored item of the note, a damaged one as it is.
STATUS LoadItems(sqlite3* db, NOTEID id, WorkingNote& note) {
  Statement query(db, "SELECT name, flags, value FROM items WHERE note_id = ? ORDER BY position");
  query.Bind(1, id);
  int result;
  while ((result = query.Step()) == SQLITE_ROW) {
    if (const STATUS status = PushStoredItem(query, 0, note); status != NOERROR)
      return status;
  }
  return result == SQLITE_DONE ? NOERROR : ERR_HOST_STORAGE;
}

// The item of the row whose name and flags stand from the column on, then
// the value when it came with the row, else the length of the value to
// read straight from the row whose rowid follows; put on the note.
STATUS PushLoadedItem(const Statement& query, int name, BlobReader& values, WorkingNote& note) {
  if (query.IsNull(name + 3))
    return PushStoredItem(query, name, note);
  const auto length = static_cast<DWORD>(query.Int(name + 3));
  DHANDLE handle = NULLHANDLE;
  if (const STATUS status = AllocateBlockToFill(length, &handle); status != NOERROR)
    return status;
  ValueBlock value;
  value.Hold(handle, length);
  const bool read = values.Read(query.Int(name + 4), OSLockObject(handle), length);
  OSUnlockObject(handle);
  if (!read)
    return ERR_HOST_STORAGE;
  PushItem(note, static_cast<WORD>(query.Int(name + 1)), query.Text(name), value);
  return NOERROR;
}

// The notes row and every stored item of the note, read by one statement:
// a note without items gives one row whose item columns are null. A blob
// of more than 16 KB is left out of the row and read straight into the
// item's block by its rowid: one copy of a long value instead of two,
// which outweighs opening the blob.
STATUS LoadRowAndItems(sqlite3* db, NOTEID id, NoteRow* row, WorkingNote& note) {
  Statement query(db, "SELECT n.unid, n.sequence, n.sequence_time, n.class, n.flags, n.modified, "
                      "i.name, i.flags, "
                      "CASE WHEN typeof(i.value) = 'blob' AND length(i.value) > 16384 "
                      "THEN NULL ELSE i.value END, "
                      "CASE WHEN typeof(i.value) = 'blob' AND length(i.value) > 16384 "
                      "THEN length(i.value) END, "
                      "i.rowid FROM notes n LEFT JOIN items i "
                      "ON i.note_id = n.note_id WHERE n.note_id = ? ORDER BY i.position");
  query.Bind(1, id);
  int result = query.Step();
  if (result == SQLITE_DONE)
    return ERR_HOST_NOTE_NOT_FOUND;
  if (result != SQLITE_ROW)
    return ERR_HOST_STORAGE;
  if (const STATUS status = NoteRowOf(query, 0, row); status != NOERROR)
    return status;
  BlobReader values(db, "items", "value");
  for (; result == SQLITE_ROW; result = query.Step()) {
    if (query.IsNull(6))
      continue;
    if (const STATUS status = PushLoadedItem(query, 6, values, note); status != NOERROR)
      return status;
  }
  return result == SQLITE_DONE ? NOERROR : ERR_HOST_STORAGE;
}

// The first stored item of each key, in the order of the keys; keys the
// note lacks are left out.
STATUS LoadFirstItems(sqlite3* db, NOTEID id, const std::vector<std::string>& keys,
                      WorkingNote& note) {
  Statement query(db, "SELECT name, flags, value FROM items WHERE note_id = ? AND name_key = ? "
                      "ORDER BY position LIMIT 1");
  for (const std::string& key : keys) {
    query.Bind(1, id).BindText(2, key);
    const int result = query.Step();
    if (result == SQLITE_ROW) {
      if (const STATUS status = PushStoredItem(query, 0, note); status != NOERROR)
        return status;
    } else if (result != SQLITE_DONE) {
      return ERR_HOST_STORAGE;
    }
    query.Reset();
  }
  return NOERROR;
}

// Gives a working copy a handle in *retNote. When every note handle is
// taken: ERR_MEMORY; the copy and its value blocks go.
STATUS AddWorkingNote(std::unique_ptr<WorkingNote> note, NOTEHANDLE* retNote) {
  if (Notes().Full())
    return ERR_MEMORY;
  *retNote = Notes().Add(std::move(note));
  return NOERROR;
}

// Opens a working copy of the stored note: every item, or with keys only
// the first item of each key.
STATUS LoadNote(DBHANDLE dbHandle, const OpenDatabase& database, NOTEID id, NOTEHANDLE* retNote,
                const std::vector<std::string>* keys = nullptr, const NoteRow* known = nullptr) {
  sqlite3* db = database.store->db();
  auto note = std::make_unique<WorkingNote>();
  NoteRow row;
  if (known != nullptr) {
    row = *known;
  } else if (keys == nullptr) {
    // The whole note: its row comes with its items.
    if (const STATUS status = LoadRowAndItems(db, id, &row, *note); status != NOERROR)
      return status;
  } else if (const STATUS status = ReadNoteRow(db, id, &row); status != NOERROR) {
    return status;
  }
  note->db = dbHandle;
  note->store = database.store;
  note->id = id;
  note->oid = row.oid;
  note->noteClass = row.noteClass;
  note->flags = row.flags;
  note->modified = row.modified;
  if (known != nullptr || keys != nullptr)
    if (const STATUS status =
            keys != nullptr ? LoadFirstItems(db, id, *keys, *note) : LoadItems(db, id, *note);
        status != NOERROR)
      return status;
  return AddWorkingNote(std::move(note), retNote);
}

// Hands out the next note ID and moves the counter on (inside the caller's
// transaction, so a rollback gives it back unused).
STATUS AssignNoteID(sqlite3* db, NOTEID* retID) {
  Statement query(db, "SELECT next_note_id FROM database WHERE id = 1");
  if (query.Step() != SQLITE_ROW)
    return ERR_HOST_STORAGE;
  const int64_t next = query.Int(0);
  if (next < kFirstNoteID || next >= static_cast<int64_t>(NOTE_ID_SPECIAL))
    return ERR_HOST_STORAGE;
  Statement bump(db, "UPDATE database SET next_note_id = ? WHERE id = 1");
  bump.Bind(1, next + kNoteIDStep);
  if (const int result = bump.RunWrite(); result != SQLITE_DONE)
    return StorageStatus(result);
  *retID = static_cast<NOTEID>(next);
  return NOERROR;
}

STATUS WriteNoteRow(sqlite3* db, const WorkingNote& note, NOTEID id, const ORIGINATORID& oid,
                    const TIMEDATE& modified) {
  UNID unid;
  std::memcpy(&unid, &oid, sizeof unid);
  const bool isNew = note.id == 0;
  Statement write(db, isNew ? "INSERT INTO notes (unid, sequence, sequence_time, class, flags, "
                              "modified, note_id) VALUES (?, ?, ?, ?, ?, ?, ?)"
                            : "UPDATE notes SET unid = ?, sequence = ?, sequence_time = ?, "
                              "class = ?, flags = ?, modified = ? WHERE note_id = ?");
  write.BindText(1, UnidKey(unid))
      .Bind(2, oid.Sequence)
      .Bind(3, PackTimeDate(oid.SequenceTime))
      .Bind(4, note.noteClass)
      .Bind(5, note.flags)
      .Bind(6, PackTimeDate(modified))
      .Bind(7, id);
  if (const int result = write.RunWrite(); result != SQLITE_DONE)
    return StorageStatus(result);
  if (!isNew && sqlite3_changes(db) == 0)
    return ERR_HOST_NOTE_NOT_FOUND;
  return NOERROR;
}

STATUS WriteItemRows(sqlite3* db, const WorkingNote& note, NOTEID id) {
  Statement remove(db, "DELETE FROM items WHERE note_id = ?");
  remove.Bind(1, id);
  if (const int result = remove.RunWrite(); result != SQLITE_DONE)
    return StorageStatus(result);
  Statement insert(db, "INSERT INTO items (note_id, position, name, name_key, type, flags, value) "
                       "VALUES (?, ?, ?, ?, ?, ?, ?)");
  int64_t position = 0;
  for (const WorkingItem& item : note.items) {
    if (item.removed)
      continue;
    const ValueLock value(item);
    if (value.data() == nullptr)
      return ERR_HOST_STORAGE;
    insert.Bind(1, id)
        .Bind(2, position++)
        .BindText(3, item.name)
        .BindText(4, item.key)
        .Bind(5, ValueType(value.data(), value.length()))
        .Bind(6, item.flags)
        .BindBlob(7, value.data(), value.length());
    if (const int result = insert.RunWrite(); result != SQLITE_DONE)
      return StorageStatus(result);
    insert.Reset();
  }
  return NOERROR;
}

// Writes the working copy as the stored note with this OID and time; the
// working copy itself is not changed. *retID gets the note's ID.
STATUS WriteNote(const WorkingNote& note, const ORIGINATORID& oid, const TIMEDATE& modified,
                 NOTEID* retID) {
  sqlite3* db = note.store->db();
  Transaction transaction(db);
  if (!transaction.ok())
    return ERR_HOST_STORAGE;
  NOTEID id = note.id;
  if (id == 0) {
    if (const STATUS status = AssignNoteID(db, &id); status != NOERROR)
      return status;
  }
  // Counted whether or not the write goes through: what was read of the
  // note before is read again.
  note.store->CountNoteWrite(id);
  if (const STATUS status = WriteNoteRow(db, note, id, oid, modified); status != NOERROR)
    return status;
  if (const STATUS status = WriteItemRows(db, note, id); status != NOERROR)
    return status;
  if (!transaction.Commit())
    return ERR_HOST_STORAGE;
  *retID = id;
  return NOERROR;
}

// The first item of the name when its value can be read; a damaged one is
// reported. Null when there is none.
const WorkingItem* FirstReadableItem(const WorkingNote& note, std::string_view name) {
  const size_t index = FindByName(note, name, 0);
  if (index == npos)
    return nullptr;
  if (IsDamaged(note.items[index])) {
    ReportDamagedItem(note, note.items[index]);
    return nullptr;
  }
  return &note.items[index];
}

// Texts appended to a caller's buffer of `size` bytes, cut to size - 1
// bytes and NUL-terminated.
class CutText {
public:
  CutText(char* buffer, WORD size)
      : buffer_(buffer), room_(buffer == nullptr || size == 0 ? 0 : size - 1u) {
    if (buffer_ != nullptr && size > 0)
      buffer_[0] = 0;
  }
  void Append(std::string_view text) {
    const size_t count = std::min(text.size(), room_ - length_);
    if (count == 0)
      return;
    std::memcpy(buffer_ + length_, text.data(), count);
    length_ += count;
    buffer_[length_] = 0;
  }
  WORD length() const { return static_cast<WORD>(length_); }

private:
  char* buffer_;
  size_t room_;
  size_t length_ = 0;
};

// The field of a working note that a _NOTE_ member names, and its size; a
// null field for a member that names none.
struct NoteMember {
  void* at = nullptr;
  size_t size = 0;
};

NoteMember MemberOf(WorkingNote& note, WORD member) {
  switch (member) {
  case _NOTE_DB:
    return {&note.db, sizeof note.db};
  case _NOTE_ID:
    return {&note.id, sizeof note.id};
  case _NOTE_OID:
    return {&note.oid, sizeof note.oid};
  case _NOTE_CLASS:
    return {&note.noteClass, sizeof note.noteClass};
  case _NOTE_MODIFIED:
    return {&note.modified, sizeof note.modified};
  case _NOTE_FLAGS:
    return {&note.flags, sizeof note.flags};
  default:
    return {};
  }
}

} // namespace

// ---- shared with the other host sources ----

namespace velko::host {

WORD ValueType(const BYTE* value, DWORD length) {
  if (value == nullptr || length < sizeof(WORD))
    return 0;
  WORD type;
  std::memcpy(&type, value, sizeof type);
  return type;
}

bool ValueTexts(const BYTE* value, DWORD length, std::vector<std::string_view>* texts) {
  return EachValueText(value, length, [texts](std::string_view text) { texts->push_back(text); });
}

STATUS NoteRowOf(const Statement& query, int first, NoteRow* row) {
  UNID unid;
  if (!UnidFromKey(query.Text(first), &unid))
    return ERR_HOST_STORAGE;
  *row = NoteRow{};
  std::memcpy(&row->oid, &unid, sizeof unid);
  row->oid.Sequence = static_cast<DWORD>(query.Int(first + 1));
  row->oid.SequenceTime = UnpackTimeDate(query.Int(first + 2));
  row->noteClass = static_cast<WORD>(query.Int(first + 3));
  row->flags = static_cast<WORD>(query.Int(first + 4));
  row->modified = UnpackTimeDate(query.Int(first + 5));
  return NOERROR;
}

STATUS ReadNoteRow(sqlite3* db, NOTEID id, NoteRow* row) {
  Statement query(db, "SELECT unid, sequence, sequence_time, class, flags, modified FROM notes "
                      "WHERE note_id = ?");
  query.Bind(1, id);
  const int result = query.Step();
  if (result == SQLITE_DONE)
    return ERR_HOST_NOTE_NOT_FOUND;
  if (result != SQLITE_ROW)
    return ERR_HOST_STORAGE;
  return NoteRowOf(query, 0, row);
}

WorkingItem* FindItemBySerial(WorkingNote& note, WORD serial) {
  const size_t index = IndexOfSerial(note, serial);
  return index == npos ? nullptr : &note.items[index];
}

bool RemoveItemBySerial(WorkingNote& note, WORD serial) {
  const size_t index = IndexOfSerial(note, serial);
  if (index == npos)
    return false;
  MakeRoomToRetire(note, 1);
  std::vector<size_t>& positions = note.itemsOfKey.find(note.items[index].key)->second;
  const auto at = std::lower_bound(positions.begin(), positions.end(), index);
  assert(at != positions.end() && *at == index);
  positions.erase(at);
  RemoveAt(note, index);
  CloseRemovedPlacesWhenMost(note);
  return true;
}

STATUS AppendItemValue(WorkingNote& note, WORD itemFlags, std::string_view name,
                       std::initializer_list<std::string_view> parts, WORD* retSerial) {
  if (!ValidName(name))
    return ERR_HOST_BAD_ARGUMENT;
  ValueBlock value;
  if (const STATUS status = NewValueBlock(parts, &value); status != NOERROR)
    return status;
  const WORD serial = PushItem(note, itemFlags, name, value);
  if (retSerial != nullptr)
    *retSerial = serial;
  return NOERROR;
}

} // namespace velko::host

// ---- blocks ----

extern "C" void* OSLockBlock(BLOCKID bid) {
  auto* data = static_cast<BYTE*>(OSLockObject(bid.pool));
  if (data == nullptr)
    return nullptr;
  if (bid.block > OSMemGetSize(bid.pool)) {
    OSUnlockObject(bid.pool);
    return nullptr;
  }
  return data + bid.block;
}

extern "C" void OSUnlockBlock(BLOCKID bid) { OSUnlockObject(bid.pool); }

// ---- notes ----

namespace {

/* A working copy of a note as the store kept it, in a new handle. */
STATUS OpenKeptNote(DBHANDLE db, const OpenDatabase& database, NOTEID id, const KeptNote& kept,
                    NOTEHANDLE* retNote) {
  auto note = std::make_unique<WorkingNote>();
  note->db = db;
  note->store = database.store;
  note->id = id;
  note->oid = kept.row.oid;
  note->noteClass = kept.row.noteClass;
  note->flags = kept.row.flags;
  note->modified = kept.row.modified;
  for (const KeptItem& item : kept.items) {
    ValueBlock value;
    if (const STATUS status = NewValueBlock({item.value}, &value, ValueCheck::kDuplicate);
        status != NOERROR)
      return status;
    PushItem(*note, item.flags, item.name, value);
  }
  return AddWorkingNote(std::move(note), retNote);
}

/* Has the store keep the note just read whole into the handle, when it is
 * small; nothing when memory is short. */
void KeepOpenedNote(Store& store, NOTEHANDLE handle) {
  const WorkingNote* note = FindNote(handle);
  if (note == nullptr)
    return;
  size_t bytes = 0;
  for (const WorkingItem& item : note->items)
    if (!item.removed)
      bytes += item.name.size() + item.length;
  if (bytes > Store::kKeptNoteBytes)
    return;
  try {
    KeptNote kept;
    kept.row = NoteRow{note->oid, note->noteClass, note->flags, note->modified};
    kept.items.reserve(note->items.size());
    for (const WorkingItem& item : note->items) {
      if (item.removed)
        continue;
      const ValueLock value(item);
      kept.items.push_back({item.name, item.flags, std::string(value.bytes())});
    }
    store.KeepNote(note->id, std::move(kept));
  } catch (const std::bad_alloc&) {
  }
}

/* A note of the database loaded into a new handle: every item, or only
 * the first of each of the keys' names (with the row read before). A
 * whole note the store kept is taken from it; a small one read whole is
 * kept. */
STATUS OpenNote(DBHANDLE db, NOTEID noteID, const std::vector<std::string>* keys,
                const NoteRow* row, NOTEHANDLE* retNote) {
  if (retNote == nullptr)
    return ERR_HOST_BAD_ARGUMENT;
  *retNote = NULLHANDLE;
  return GuardedStatus([&]() -> STATUS {
    const auto lock = LockHost();
    const OpenDatabase* database = FindDatabase(db);
    if (database == nullptr)
      return ERR_HOST_BAD_HANDLE;
    if (keys != nullptr || row != nullptr)
      return LoadNote(db, *database, noteID, retNote, keys, row);
    Store& store = *database->store;
    const bool keep = store.KeptStillHolds();
    if (const KeptNote* kept = keep ? store.KeptNoteOf(noteID) : nullptr)
      return OpenKeptNote(db, *database, noteID, *kept, retNote);
    const STATUS status = LoadNote(db, *database, noteID, retNote);
    if (status == NOERROR && keep)
      KeepOpenedNote(store, *retNote);
    return status;
  });
}

} // namespace

extern "C" STATUS NSFNoteOpen(DBHANDLE db, NOTEID noteID, WORD /*openFlags*/, NOTEHANDLE* retNote) {
  return OpenNote(db, noteID, nullptr, nullptr, retNote);
}

STATUS velko::host::OpenNoteForFields(DBHANDLE db, NOTEID noteID, const NoteRow* row,
                                      const std::vector<std::string>& keys, NOTEHANDLE* retNote) {
  return OpenNote(db, noteID, &keys, row, retNote);
}

extern "C" STATUS NSFNoteOpenByUNID(DBHANDLE db, const UNID* unid, WORD /*openFlags*/,
                                    NOTEHANDLE* retNote) {
  if (retNote == nullptr || unid == nullptr)
    return ERR_HOST_BAD_ARGUMENT;
  *retNote = NULLHANDLE;
  return GuardedStatus([&]() -> STATUS {
    const auto lock = LockHost();
    const OpenDatabase* database = FindDatabase(db);
    if (database == nullptr)
      return ERR_HOST_BAD_HANDLE;
    Statement query(database->store->db(), "SELECT note_id FROM notes WHERE unid = ?");
    query.BindText(1, UnidKey(*unid));
    const int result = query.Step();
    if (result == SQLITE_DONE)
      return ERR_HOST_NOTE_NOT_FOUND;
    if (result != SQLITE_ROW)
      return ERR_HOST_STORAGE;
    return LoadNote(db, *database, static_cast<NOTEID>(query.Int(0)), retNote);
  });
}

extern "C" STATUS NSFNoteCreate(DBHANDLE db, NOTEHANDLE* retNote) {
  if (retNote == nullptr)
    return ERR_HOST_BAD_ARGUMENT;
  *retNote = NULLHANDLE;
  return GuardedStatus([&]() -> STATUS {
    const auto lock = LockHost();
    const OpenDatabase* database = FindDatabase(db);
    if (database == nullptr)
      return ERR_HOST_BAD_HANDLE;
    auto note = std::make_unique<WorkingNote>();
    note->db = db;
    note->store = database->store;
    if (const STATUS status = NSFDbGenerateOID(db, &note->oid); status != NOERROR)
      return status;
    return AddWorkingNote(std::move(note), retNote);
  });
}

extern "C" STATUS NSFNoteCopy(NOTEHANDLE source, NOTEHANDLE* retCopy) {
  if (retCopy == nullptr)
    return ERR_HOST_BAD_ARGUMENT;
  *retCopy = NULLHANDLE;
  return GuardedStatus([&]() -> STATUS {
    const auto lock = LockHost();
    const WorkingNote* original = FindNote(source);
    if (original == nullptr)
      return ERR_HOST_BAD_HANDLE;
    auto copy = std::make_unique<WorkingNote>();
    copy->db = original->db;
    copy->store = original->store;
    copy->id = original->id;
    copy->oid = original->oid;
    copy->noteClass = original->noteClass;
    copy->flags = original->flags;
    copy->modified = original->modified;
    for (const WorkingItem& item : original->items) {
      if (item.removed)
        continue;
      ValueBlock value;
      {
        const ValueLock locked(item);
        const STATUS status = NewValueBlock({locked.bytes()}, &value, ValueCheck::kDuplicate);
        if (status != NOERROR)
          return status;
      }
      PushItem(*copy, item.flags, item.name, value);
    }
    return AddWorkingNote(std::move(copy), retCopy);
  });
}

extern "C" STATUS NSFNoteUpdate(NOTEHANDLE handle, WORD /*updateFlags*/) {
  return GuardedStatus([&]() -> STATUS {
    const auto lock = LockHost();
    WorkingNote* note = FindNote(handle);
    if (note == nullptr)
      return ERR_HOST_BAD_HANDLE;
    TIMEDATE now;
    OSCurrentTIMEDATE(&now);
    ORIGINATORID oid = note->oid;
    ++oid.Sequence;
    oid.SequenceTime = now;
    NOTEID id = 0;
    if (const STATUS status = WriteNote(*note, oid, now, &id); status != NOERROR)
      return status;
    // Only a stored note changes the working copy.
    note->id = id;
    note->oid = oid;
    note->modified = now;
    return NOERROR;
  });
}

extern "C" STATUS NSFNoteClose(NOTEHANDLE handle) {
  const auto lock = LockHost();
  std::unique_ptr<WorkingNote> note = Notes().Remove(handle);
  return note ? NOERROR : ERR_HOST_BAD_HANDLE; // its value blocks go with it
}

extern "C" void NSFNoteGetInfo(NOTEHANDLE handle, WORD member, void* retValue) {
  if (retValue == nullptr)
    return;
  const auto lock = LockHost();
  WorkingNote* note = FindNote(handle);
  if (note == nullptr)
    return;
  if (const NoteMember field = MemberOf(*note, member); field.at != nullptr)
    std::memcpy(retValue, field.at, field.size);
}

extern "C" void NSFNoteSetInfo(NOTEHANDLE handle, WORD member, const void* value) {
  if (value == nullptr || member == _NOTE_DB) // the database cannot be set
    return;
  const auto lock = LockHost();
  WorkingNote* note = FindNote(handle);
  if (note == nullptr)
    return;
  if (const NoteMember field = MemberOf(*note, member); field.at != nullptr)
    std::memcpy(field.at, value, field.size);
}

// Notes are never signed, sealed or encrypted here; the calls only check
// the handle.
extern "C" STATUS NSFNoteSign(NOTEHANDLE handle) {
  const auto lock = LockHost();
  return FindNote(handle) ? NOERROR : ERR_HOST_BAD_HANDLE;
}

extern "C" STATUS NSFNoteUnsign(NOTEHANDLE handle) { return NSFNoteSign(handle); }

extern "C" BOOL NSFNoteIsSignedOrSealed(NOTEHANDLE /*note*/, BOOL* retSigned, BOOL* retSealed) {
  if (retSigned != nullptr)
    *retSigned = FALSE;
  if (retSealed != nullptr)
    *retSealed = FALSE;
  return FALSE;
}

extern "C" STATUS NSFNoteDecrypt(NOTEHANDLE handle, WORD /*decryptFlags*/,
                                 const void* /*decryptionKey*/) {
  return NSFNoteSign(handle);
}

// ---- items ----
// Looking items up and reading their values needs no memory.

extern "C" STATUS NSFItemInfo(NOTEHANDLE handle, const char* name, WORD nameLength,
                              BLOCKID* retItemBid, WORD* retDataType, BLOCKID* retValueBid,
                              DWORD* retValueLength) {
  const auto lock = LockHost();
  const WorkingNote* note = FindNote(handle);
  if (note == nullptr)
    return ERR_HOST_BAD_HANDLE;
  const std::string_view itemName = NameOf(name, nameLength);
  if (!ValidName(itemName))
    return ERR_HOST_BAD_ARGUMENT;
  const size_t index = FindByName(*note, itemName, 0);
  if (index == npos)
    return ERR_ITEM_NOT_FOUND;
  return ReportItem(handle, *note, note->items[index], retItemBid, retDataType, retValueBid,
                    retValueLength);
}

extern "C" STATUS NSFItemInfoNext(NOTEHANDLE handle, BLOCKID prevItemBid, const char* name,
                                  WORD nameLength, BLOCKID* retItemBid, WORD* retDataType,
                                  BLOCKID* retValueBid, DWORD* retValueLength) {
  const auto lock = LockHost();
  const WorkingNote* note = FindNote(handle);
  if (note == nullptr)
    return ERR_HOST_BAD_HANDLE;
  const std::string_view itemName = NameOf(name, nameLength);
  if (!ValidName(itemName) || prevItemBid.pool != handle)
    return ERR_HOST_BAD_ARGUMENT;
  // An item deleted since it was found has no next item.
  const size_t previous = IndexOfSerial(*note, prevItemBid.block);
  if (previous == npos)
    return ERR_ITEM_NOT_FOUND;
  const size_t index = FindByName(*note, itemName, previous + 1);
  if (index == npos)
    return ERR_ITEM_NOT_FOUND;
  return ReportItem(handle, *note, note->items[index], retItemBid, retDataType, retValueBid,
                    retValueLength);
}

extern "C" STATUS NSFItemAppend(NOTEHANDLE handle, WORD itemFlags, const char* name,
                                WORD nameLength, WORD dataType, const void* value,
                                DWORD valueLength) {
  if (value == nullptr && valueLength != 0)
    return ERR_HOST_BAD_ARGUMENT;
  return GuardedStatus([&]() -> STATUS {
    const auto lock = LockHost();
    WorkingNote* note = FindNote(handle);
    if (note == nullptr)
      return ERR_HOST_BAD_HANDLE;
    // A value above the cap is refused before its length is added up.
    if (valueLength > ItemValueLimit())
      return ERR_HOST_VALUE_TOO_LARGE;
    const std::string_view bytes(static_cast<const char*>(value), valueLength);
    return AppendItemValue(*note, itemFlags, NameOf(name, nameLength),
                           {WordBytes(dataType), bytes}, nullptr);
  });
}

extern "C" STATUS NSFItemAppendByBLOCKID(NOTEHANDLE handle, WORD itemFlags, const char* name,
                                         WORD nameLength, BLOCKID valueBid, DWORD valueLength,
                                         BLOCKID* retItemBid) {
  return GuardedStatus([&]() -> STATUS {
    const auto lock = LockHost();
    WorkingNote* note = FindNote(handle);
    if (note == nullptr)
      return ERR_HOST_BAD_HANDLE;
    std::string value;
    if (const STATUS status = ReadValueBlock(valueBid, valueLength, &value); status != NOERROR)
      return status;
    WORD serial = 0;
    const STATUS status =
        AppendItemValue(*note, itemFlags, NameOf(name, nameLength), {value}, &serial);
    if (status == NOERROR && retItemBid != nullptr)
      *retItemBid = BLOCKID{handle, serial};
    return status;
  });
}

extern "C" STATUS NSFItemAppendObject(NOTEHANDLE handle, WORD itemFlags, const char* name,
                                      WORD nameLength, BLOCKID valueBid, DWORD valueLength,
                                      BOOL freeValue) {
  return GuardedStatus([&]() -> STATUS {
    const auto lock = LockHost();
    WorkingNote* note = FindNote(handle);
    if (note == nullptr)
      return ERR_HOST_BAD_HANDLE;
    std::string value;
    if (const STATUS status = ReadValueBlock(valueBid, valueLength, &value); status != NOERROR)
      return status;
    if (ValueType(reinterpret_cast<const BYTE*>(value.data()), valueLength) != TYPE_OBJECT)
      return ERR_HOST_BAD_ARGUMENT;
    const STATUS status =
        AppendItemValue(*note, itemFlags, NameOf(name, nameLength), {value}, nullptr);
    if (status == NOERROR && freeValue)
      OSMemFree(valueBid.pool);
    return status;
  });
}

namespace {

// Appends the entries to the text list item of the name as
// NSFItemAppendTextList appends one, writing the list once: all of them
// (less those already present, without allowDuplicates) or none.
STATUS AppendTextListEntries(NOTEHANDLE handle, const char* name,
                             const std::vector<std::string_view>& added, BOOL allowDuplicates) {
  return GuardedStatus([&]() -> STATUS {
    const auto lock = LockHost();
    WorkingNote* note = FindNote(handle);
    if (note == nullptr)
      return ERR_HOST_BAD_HANDLE;
    const std::string_view itemName = TerminatedName(name);
    if (!ValidName(itemName))
      return ERR_HOST_BAD_ARGUMENT;

    const size_t index = FindByName(*note, itemName, 0);
    std::optional<ValueLock> value;
    std::vector<std::string_view> entries;
    if (index != npos) {
      if (IsDamaged(note->items[index]))
        return ReportDamagedItem(*note, note->items[index]);
      value.emplace(note->items[index]);
      // A text item becomes a list; an item of another type is left alone.
      if (!ValueTexts(value->data(), value->length(), &entries))
        return ERR_HOST_BAD_ARGUMENT;
    }
    const size_t present = entries.size();
    for (const std::string_view entry : added) {
      if (!allowDuplicates && std::find(entries.begin(), entries.end(), entry) != entries.end())
        continue;
      entries.push_back(entry);
    }
    if (entries.size() == present)
      return NOERROR;
    if (entries.size() > 0xFFFF)
      return ERR_HOST_VALUE_TOO_LARGE;

    std::string list;
    const WORD type = TYPE_TEXT_LIST;
    const WORD count = static_cast<WORD>(entries.size());
    list.append(WordBytes(type)).append(WordBytes(count));
    for (const std::string_view entry : entries) {
      const WORD length = static_cast<WORD>(entry.size());
      list.append(WordBytes(length));
    }
    for (const std::string_view entry : entries)
      list.append(entry);

    if (index == npos)
      return AppendItemValue(*note, ITEM_SUMMARY, itemName, {list}, nullptr);
    ValueBlock block;
    if (const STATUS status = NewValueBlock({list}, &block); status != NOERROR)
      return status;
    value.reset();
    MakeRoomToRetire(*note, 1);
    WorkingItem& item = note->items[index];
    RetireValue(*note, item.value);
    item.length = block.length();
    item.value = block.Release();
    return NOERROR;
  });
}

} // namespace

extern "C" STATUS NSFItemAppendTextList(NOTEHANDLE handle, const char* name, const char* text,
                                        WORD textLength, BOOL allowDuplicates) {
  if (text == nullptr && textLength != 0)
    return ERR_HOST_BAD_ARGUMENT;
  return GuardedStatus([&]() -> STATUS {
    const std::vector<std::string_view> added = {
        std::string_view(text == nullptr ? "" : text, textLength)};
    return AppendTextListEntries(handle, name, added, allowDuplicates);
  });
}

extern "C" STATUS NSFItemAppendTextListEntries(NOTEHANDLE handle, const char* name,
                                               const char* texts, const WORD* lengths,
                                               DWORD count) {
  if (count != 0 && lengths == nullptr)
    return ERR_HOST_BAD_ARGUMENT;
  return GuardedStatus([&]() -> STATUS {
    std::vector<std::string_view> added;
    added.reserve(count);
    size_t at = 0;
    for (DWORD entry = 0; entry < count; ++entry) {
      if (texts == nullptr && lengths[entry] != 0)
        return ERR_HOST_BAD_ARGUMENT;
      added.emplace_back(texts == nullptr ? "" : texts + at, lengths[entry]);
      at += lengths[entry];
    }
    if (added.empty())
      return NOERROR;
    return AppendTextListEntries(handle, name, added, TRUE);
  });
}

extern "C" DWORD NSFItemValueLimit(void) { return ItemValueLimit(); }

extern "C" STATUS NSFItemDelete(NOTEHANDLE handle, const char* name, WORD nameLength) {
  return GuardedStatus([&]() -> STATUS {
    const auto lock = LockHost();
    WorkingNote* note = FindNote(handle);
    if (note == nullptr)
      return ERR_HOST_BAD_HANDLE;
    const std::string_view itemName = NameOf(name, nameLength);
    if (!ValidName(itemName))
      return ERR_HOST_BAD_ARGUMENT;
    return RetireItems(*note, ItemKey(itemName)) == 0 ? ERR_ITEM_NOT_FOUND : NOERROR;
  });
}

extern "C" STATUS NSFItemCopy(NOTEHANDLE handle, BLOCKID itemBid) {
  return GuardedStatus([&]() -> STATUS {
    const auto lock = LockHost();
    WorkingNote* note = FindNote(handle);
    WorkingNote* source = FindNote(itemBid.pool);
    if (note == nullptr || source == nullptr)
      return ERR_HOST_BAD_HANDLE;
    const WorkingItem* item = FindItemBySerial(*source, itemBid.block);
    if (item == nullptr)
      return ERR_ITEM_NOT_FOUND;
    if (IsDamaged(*item))
      return ReportDamagedItem(*source, *item);
    // Appending may move the source's items when both are the same note, so
    // the name and flags are copied first; the value block does not move,
    // and the new block is filled from it before the item is added.
    const std::string name = item->name;
    const WORD flags = item->flags;
    const ValueLock locked(*item);
    return AppendItemValue(*note, flags, name, {locked.bytes()}, nullptr);
  });
}

extern "C" STATUS NSFItemSetText(NOTEHANDLE handle, const char* name, const char* text,
                                 WORD textLength) {
  if (text == nullptr && textLength != 0)
    return ERR_HOST_BAD_ARGUMENT;
  return GuardedStatus([&]() -> STATUS {
    const auto lock = LockHost();
    WorkingNote* note = FindNote(handle);
    if (note == nullptr)
      return ERR_HOST_BAD_HANDLE;
    const std::string_view itemName = TerminatedName(name);
    if (!ValidName(itemName))
      return ERR_HOST_BAD_ARGUMENT;
    // Everything that needs memory comes before the old items go, so a
    // failure changes nothing.
    const WORD type = TYPE_TEXT;
    ValueBlock value;
    const std::string_view bytes(text == nullptr ? "" : text, textLength);
    if (const STATUS status = NewValueBlock({WordBytes(type), bytes}, &value); status != NOERROR)
      return status;
    WorkingItem item = NewItem(*note, ITEM_SUMMARY, itemName);
    note->items.reserve(note->items.size() + 1);
    RetireItems(*note, item.key);
    PushItem(*note, std::move(item), value);
    return NOERROR;
  });
}

extern "C" WORD NSFItemGetText(NOTEHANDLE handle, const char* name, char* retBuffer,
                               WORD bufferLength) {
  CutText out(retBuffer, bufferLength);
  const auto lock = LockHost();
  const WorkingNote* note = FindNote(handle);
  const WorkingItem* item =
      note == nullptr ? nullptr : FirstReadableItem(*note, TerminatedName(name));
  if (item == nullptr)
    return 0;
  const ValueLock value(*item);
  bool first = true;
  EachValueText(value.data(), value.length(), [&](std::string_view text) {
    if (first)
      out.Append(text);
    first = false;
  });
  return out.length();
}

extern "C" WORD NSFItemConvertToText(NOTEHANDLE handle, const char* name, char* retBuffer,
                                     WORD bufferLength, char separator) {
  CutText out(retBuffer, bufferLength);
  const auto lock = LockHost();
  const WorkingNote* note = FindNote(handle);
  const WorkingItem* item =
      note == nullptr ? nullptr : FirstReadableItem(*note, TerminatedName(name));
  if (item == nullptr)
    return 0;
  const ValueLock value(*item);
  const std::string_view raw = value.bytes();
  const WORD type = ValueType(value.data(), value.length());
  if (type == TYPE_TEXT || type == TYPE_TEXT_LIST) {
    bool first = true;
    const bool text = EachValueText(value.data(), value.length(), [&](std::string_view entry) {
      if (!first)
        out.Append(std::string_view(&separator, 1));
      out.Append(entry);
      first = false;
    });
    return text ? out.length() : 0;
  }
  char formatted[64];
  if (type == TYPE_NUMBER && raw.size() >= sizeof(WORD) + sizeof(double)) {
    double number;
    std::memcpy(&number, raw.data() + sizeof(WORD), sizeof number);
    std::snprintf(formatted, sizeof formatted, "%g", number);
    out.Append(formatted);
  } else if (type == TYPE_TIME && raw.size() >= sizeof(WORD) + sizeof(TIMEDATE)) {
    TIMEDATE time;
    std::memcpy(&time, raw.data() + sizeof(WORD), sizeof time);
    WORD length = 0;
    if (ConvertTIMEDATEToText(nullptr, nullptr, &time, formatted, sizeof formatted, &length) !=
        NOERROR)
      return 0;
    out.Append(std::string_view(formatted, length));
  }
  return out.length();
}

extern "C" WORD NSFItemGetName(NOTEHANDLE handle, BLOCKID itemBid, char* retName) {
  if (retName == nullptr)
    return 0;
  retName[0] = 0;
  const auto lock = LockHost();
  WorkingNote* note = FindNote(handle);
  if (note == nullptr || itemBid.pool != handle)
    return 0;
  const WorkingItem* item = FindItemBySerial(*note, itemBid.block);
  if (item == nullptr)
    return 0;
  return static_cast<WORD>(CopyTerminated(item->name, retName, kMaxNameLength + 1));
}

extern "C" STATUS NSFItemScan(NOTEHANDLE handle, NSFItemScanProc routine, void* context) {
  if (routine == nullptr)
    return ERR_HOST_BAD_ARGUMENT;
  const auto lock = LockHost();
  WorkingNote* note = FindNote(handle);
  if (note == nullptr)
    return ERR_HOST_BAD_HANDLE;
  return GuardedStatus([&]() -> STATUS {
    // The routine may change the note: the items are found again by serial.
    std::vector<WORD> serials;
    serials.reserve(note->items.size());
    for (const WorkingItem& item : note->items)
      if (!item.removed)
        serials.push_back(item.serial);
    for (const WORD serial : serials) {
      const WorkingItem* item = FindItemBySerial(*note, serial);
      if (item == nullptr)
        continue;
      char name[kMaxNameLength + 1];
      const auto nameLength = static_cast<WORD>(CopyTerminated(item->name, name, sizeof name));
      const WORD flags = item->flags;
      const DHANDLE valueHandle = item->value;
      const DWORD length = item->length;
      void* value = OSLockObject(valueHandle);
      const STATUS status = routine(0, flags, name, nameLength, value, length, context);
      if (value != nullptr)
        OSUnlockObject(valueHandle);
      if (status != NOERROR)
        return status;
    }
    return NOERROR;
  });
}
