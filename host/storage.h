/*
 * Internal pieces shared by the host's database, note, object and
 * collection calls: the SQLite storage of one host database, the handle
 * tables of open databases, notes and collections, and the working copy of
 * an open note.
 *
 * Storage: one SQLite database per host database, a file or (for "mem:NAME")
 * an in-memory database that lives until the test controls reset the host.
 * Every write runs inside a transaction; every data-changing step goes
 * through RunWrite or Transaction::Commit so that tests can make the nth
 * one fail.
 *
 * Handles: 32-bit values whose top 12 bits are 0, so that no database, note
 * or collection handle is ever a memory handle (those always carry a
 * generation there). Bits 18-19 tell the kind, bits 12-17 carry the slot's
 * generation and bits 0-11 the slot index + 1.
 *
 * One recursive mutex (LockHost) guards all of it; every public call takes
 * it first. Neither the engine nor tests include this header.
 */
#ifndef VELKO_HOST_STORAGE_H
#define VELKO_HOST_STORAGE_H

#include <array>
#include <cstdint>
#include <functional>
#include <initializer_list>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include <sqlite3.h>

#include "host/item_serials.h"
#include "host/nsfdata.h"
#include "velko/host_types.h"

namespace velko::host {

// ---- locking ----

std::unique_lock<std::recursive_mutex> LockHost();

// ---- SQLite storage ----

// The schema version kept in PRAGMA user_version.
inline constexpr int kSchemaVersion = 1;

// The first note ID and the step between note IDs.
inline constexpr NOTEID kFirstNoteID = 0x100;
inline constexpr NOTEID kNoteIDStep = 4;

// Where a host database lives.
struct StorePath {
  std::string canonical; // as the caller named it (server part dropped)
  std::string expanded;  // "mem:NAME" or an absolute file path
  bool memory = false;
};

// A statement kept prepared by its connection, and whether a Statement
// is using it now.
struct CachedStatement {
  sqlite3_stmt* stmt = nullptr;
  bool inUse = false;
};

// The key of a view entry: a number, or a text.
struct CollectionKey {
  bool number = false;
  double value = 0;
  std::string text;
};

// What a document answered to a view definition: whether it is selected,
// and its key; with the note's count of writes then.
struct ViewAnswer {
  uint64_t writes = 0;
  bool matches = false;
  CollectionKey key;
};
struct ViewAnswers {
  std::unordered_map<NOTEID, ViewAnswer> of;
};

// The stored header of a note, as its row in the notes table holds it.
struct NoteRow {
  ORIGINATORID oid = {};
  WORD noteClass = 0;
  WORD flags = 0;
  TIMEDATE modified = {};
};

// A small stored note as it was read whole: its row and items (name,
// flags and value as stored), with the note's count of writes then.
struct KeptItem {
  std::string name;
  WORD flags = 0;
  std::string value;
};
struct KeptNote {
  uint64_t writes = 0;
  NoteRow row;
  std::vector<KeptItem> items;
};

// One open SQLite database; shared by every handle and working copy of it.
// It keeps each SQL text's statement prepared for reuse (preparing is most
// of the cost of a small query) and finalizes them all before closing.
// It also counts the writes of each note through it and keeps what views
// read of its documents and the small notes read whole, so that a view
// built again reads only the documents written since and a note opened
// again is read only when it was written since. A database that another
// connection changed (a file's) is read anew.
class Store {
public:
  Store(const StorePath& path, sqlite3* db);
  ~Store();
  Store(const Store&) = delete;
  Store& operator=(const Store&) = delete;

  sqlite3* db() const { return db_; }
  const StorePath& path() const { return path_; }

  // The kept entry of the SQL text (its statement null until prepared);
  // null when that entry is in use (a nested query of the same text) or
  // cannot be made.
  CachedStatement* CachedEntry(const char* sql);

  // A note stored or deleted through this connection.
  void CountNoteWrite(NOTEID id) noexcept;
  // How often the note was; 0 for a note never written through it.
  uint64_t NoteWrites(NOTEID id) const;
  // The kept answers of the documents to a view definition (its bytes),
  // made empty when another connection has changed the database since
  // they were kept (its writes are not counted); null when that cannot be
  // asked or memory is short: nothing is kept then.
  ViewAnswers* AnswersOfView(const std::string& definition) noexcept;
  // Forgets what was kept when another connection has changed the
  // database since; asked before a read whose result is to be kept (a
  // change after the question is met by the next one). False when it
  // cannot be asked: nothing is to be kept then.
  bool KeptStillHolds();
  // The note as it was last read whole, when it was kept and has not been
  // written since; null otherwise.
  const KeptNote* KeptNoteOf(NOTEID id) const;
  // Keeps a note just read whole; the caller keeps only small ones (names
  // and values of at most kKeptNoteBytes). Nothing when memory is short.
  static constexpr size_t kKeptNoteBytes = 4096;
  void KeepNote(NOTEID id, KeptNote note) noexcept;

private:

  StorePath path_;
  sqlite3* db_;
  std::unordered_map<std::string, CachedStatement> statements_;
  std::unordered_map<NOTEID, uint64_t> noteWrites_;
  std::map<std::string, ViewAnswers> viewAnswers_;
  std::unordered_map<NOTEID, KeptNote> keptNotes_;
  int64_t dataVersion_ = -1; // of the database when the above were kept
};

// Splits "server!!path" and resolves the path against the data directory.
// ERR_HOST_SERVER_NOT_LOCAL for a server other than the local one,
// ERR_HOST_BAD_ARGUMENT for an empty path or one of MAXPATH bytes or more.
STATUS ResolveStorePath(const char* pathName, StorePath* ret);

// TRUE for the empty server name and for the setting "ServerName".
bool IsLocalServer(std::string_view server);

// Creates an empty host database (force: replacing one that exists).
STATUS CreateStore(const StorePath& path, bool force);

// Opens (or shares) the SQLite database of a host database.
STATUS OpenStore(const StorePath& path, std::shared_ptr<Store>* ret);

// A prepared statement; a failed prepare leaves it not ok and every step
// fails. On the connection of a Store it borrows the statement the store
// keeps for the SQL text, and gives it back reset with no bindings.
class Statement {
public:
  Statement(sqlite3* db, const char* sql);
  ~Statement();
  Statement(const Statement&) = delete;
  Statement& operator=(const Statement&) = delete;

  bool ok() const { return stmt_ != nullptr; }
  Statement& Bind(int index, int64_t value);
  Statement& BindText(int index, std::string_view text);
  Statement& BindBlob(int index, const void* data, size_t size);
  // As BindBlob, without copying the bytes: they must stay as they are
  // until the statement is reset or destroyed.
  Statement& BindBlobInPlace(int index, const void* data, size_t size);
  Statement& BindZeroBlob(int index, int64_t size);

  // A read step: SQLITE_ROW, SQLITE_DONE or an error code.
  int Step();
  // A data-changing step (counted for injected failures): SQLITE_DONE or
  // an error code.
  int RunWrite();
  // Ready for new bindings and another step.
  void Reset();

  int64_t Int(int column) const;
  bool IsNull(int column) const;
  std::string_view Text(int column) const;
  std::string_view Blob(int column) const;

private:
  sqlite3_stmt* stmt_ = nullptr;
  CachedStatement* cached_ = nullptr; // the store's entry when borrowed
};

// Reads the blobs of one column straight into the caller's memory, row
// after row through one handle: opening the handle costs about what
// preparing a statement does, moving it to another row a seek.
class BlobReader {
public:
  BlobReader(sqlite3* db, const char* table, const char* column)
      : db_(db), table_(table), column_(column) {}
  ~BlobReader();
  BlobReader(const BlobReader&) = delete;
  BlobReader& operator=(const BlobReader&) = delete;

  // Reads the blob of the row into out, which has room for size bytes:
  // false when the row holds no blob of exactly size bytes or SQLite
  // fails.
  bool Read(int64_t rowid, void* out, size_t size);

private:
  sqlite3* db_;
  const char* table_;
  const char* column_;
  sqlite3_blob* blob_ = nullptr;
};

// BEGIN IMMEDIATE ... COMMIT; rolled back unless committed.
class Transaction {
public:
  explicit Transaction(sqlite3* db);
  ~Transaction();
  Transaction(const Transaction&) = delete;
  Transaction& operator=(const Transaction&) = delete;

  bool ok() const { return begun_; }
  // A write step of its own; on failure the transaction is rolled back.
  bool Commit();

private:
  sqlite3* db_;
  bool begun_ = false;
  bool done_ = false;
};

// Counts one write step; TRUE when the test controls make it fail.
bool InjectedWriteFailure();

// The status for a failed SQLite step.
STATUS StorageStatus(int sqliteResult);

// ---- why storage failed ----
//
// Each thread keeps the cause of the last storage failure it met: SQLite's
// result code and the system error behind it, or the open path's own
// finding. Opening or creating a database forgets the one before, so after
// a call that failed with ERR_HOST_STORAGE the cause is that call's (or,
// for a failure SQLite did not see, such as a stored row the host finds
// damaged, the last one SQLite saw since the open). Statements,
// transactions and the open path record it; NSFDbStorageFailure reads it.

void ForgetStorageFailure();
// A failed SQLite call on db (null when there is no connection yet).
void NoteStorageFailure(sqlite3* db, int sqliteResult, bool writing);
// The file holds no host database: not SQLite's, or of another schema.
void NoteNotADatabase();
// The words after "the file" that say why ("is damaged"); false with an
// empty text when no failure was met.
bool DescribeStorageFailure(char* text, size_t size);

// TIMEDATEs are stored as one integer: Innards[1] in the high half.
int64_t PackTimeDate(const TIMEDATE& td);
TIMEDATE UnpackTimeDate(int64_t packed);

// UNIDs are stored as 32 hex digits: File[0], File[1], Note.Innards[0],
// Note.Innards[1].
std::string UnidKey(const UNID& unid);
bool UnidFromKey(std::string_view key, UNID* ret);

// A random 32-bit value that is never 0.
DWORD RandomNonZero();

// The value size cap (type word included).
DWORD ItemValueLimit();

// ---- handle tables ----

enum class HandleKind : uint32_t { kDatabase = 1, kNote = 2, kCollection = 3 };

// Adding an entry may allocate (and throw std::bad_alloc, the table
// unchanged); finding and removing one never do.
template <class T> class HandleTable {
public:
  explicit HandleTable(HandleKind kind) : kind_(kind) {}

  // The handle of a new entry; 0 when the table is full.
  uint32_t Add(std::unique_ptr<T> entry);
  // True when Add would find no slot.
  bool Full() const { return slots_.size() >= kMaxSlots && freeCount_ == 0; }
  // The entry of a live handle of this table, else null.
  T* Find(uint32_t handle) const;
  // Takes the entry out; null for a handle that is not live.
  std::unique_ptr<T> Remove(uint32_t handle);
  // Every live handle, in slot order.
  std::vector<uint32_t> Live() const;

private:
  static constexpr uint32_t kIndexBits = 12;
  static constexpr uint32_t kGenerationBits = 6;
  static constexpr uint32_t kKindShift = kIndexBits + kGenerationBits;
  static constexpr uint32_t kMaxSlots = (1u << kIndexBits) - 1;
  static constexpr uint32_t kMaxGeneration = (1u << kGenerationBits) - 1;

  struct Slot {
    uint32_t generation = 1;
    std::unique_ptr<T> entry;
  };
  uint32_t MakeHandle(uint32_t index) const {
    return (static_cast<uint32_t>(kind_) << kKindShift) | (slots_[index].generation << kIndexBits) |
           (index + 1);
  }
  // The slot index of a handle that names a live entry, else -1.
  int64_t IndexOf(uint32_t handle) const;

  HandleKind kind_;
  std::vector<Slot> slots_;
  // Freed slots, reused oldest first so that a stale handle stays stale
  // for as long as possible: a ring with room for every slot, so that
  // removing never allocates.
  std::array<uint32_t, kMaxSlots> freeSlots_{};
  uint32_t freeFirst_ = 0;
  uint32_t freeCount_ = 0;
};

template <class T> uint32_t HandleTable<T>::Add(std::unique_ptr<T> entry) {
  uint32_t index;
  if (slots_.size() < kMaxSlots) {
    index = static_cast<uint32_t>(slots_.size());
    slots_.emplace_back();
  } else if (freeCount_ != 0) {
    index = freeSlots_[freeFirst_];
    freeFirst_ = (freeFirst_ + 1) % kMaxSlots;
    --freeCount_;
    Slot& reused = slots_[index];
    reused.generation = reused.generation == kMaxGeneration ? 1 : reused.generation + 1;
  } else {
    return 0;
  }
  slots_[index].entry = std::move(entry);
  return MakeHandle(index);
}

template <class T> int64_t HandleTable<T>::IndexOf(uint32_t handle) const {
  if ((handle >> kKindShift) != static_cast<uint32_t>(kind_))
    return -1;
  const uint32_t indexPlusOne = handle & kMaxSlots;
  if (indexPlusOne == 0 || indexPlusOne > slots_.size())
    return -1;
  const Slot& slot = slots_[indexPlusOne - 1];
  if (!slot.entry || MakeHandle(indexPlusOne - 1) != handle)
    return -1;
  return indexPlusOne - 1;
}

template <class T> T* HandleTable<T>::Find(uint32_t handle) const {
  const int64_t index = IndexOf(handle);
  return index < 0 ? nullptr : slots_[index].entry.get();
}

template <class T> std::unique_ptr<T> HandleTable<T>::Remove(uint32_t handle) {
  const int64_t index = IndexOf(handle);
  if (index < 0)
    return nullptr;
  // Each slot is in the ring at most once, so the ring never overflows.
  freeSlots_[(freeFirst_ + freeCount_) % kMaxSlots] = static_cast<uint32_t>(index);
  ++freeCount_;
  return std::move(slots_[index].entry);
}

template <class T> std::vector<uint32_t> HandleTable<T>::Live() const {
  std::vector<uint32_t> live;
  for (uint32_t index = 0; index < slots_.size(); ++index)
    if (slots_[index].entry)
      live.push_back(MakeHandle(index));
  return live;
}

// An open database handle.
struct OpenDatabase {
  std::shared_ptr<Store> store;
  StorePath path; // as this handle was opened
};

// Hashes item keys so that a key given as a string_view is found without
// making a string of it.
struct ItemKeyHash {
  using is_transparent = void;
  size_t operator()(std::string_view key) const { return std::hash<std::string_view>{}(key); }
};

// One item of a working copy. Its value lives in a memory block of its
// own (type word first) so that callers can lock it. An item taken out of
// the note keeps its place, marked removed, until the note closes the
// places of removed items (once they are most of its places), so that
// taking items out does not move the items after them each time; walks
// over a note's items pass over removed ones.
struct WorkingItem {
  WORD serial = 0; // the block of the item's BLOCKID; never 0
  std::string name;
  std::string key; // the name in ASCII lower case
  WORD flags = 0;
  DHANDLE value = NULLHANDLE; // NULLHANDLE once removed
  DWORD length = 0; // value bytes, type word included
  bool removed = false;
};

// The in-memory working copy of an open note. Its value blocks are freed
// with it.
struct WorkingNote {
  WorkingNote() = default;
  ~WorkingNote();
  WorkingNote(const WorkingNote&) = delete;
  WorkingNote& operator=(const WorkingNote&) = delete;

  DBHANDLE db = NULLHANDLE; // the handle the note was opened through
  std::shared_ptr<Store> store;
  NOTEID id = 0;
  ORIGINATORID oid = {};
  WORD noteClass = NOTE_CLASS_DOCUMENT;
  WORD flags = 0;
  TIMEDATE modified = {};
  std::vector<WorkingItem> items; // removed ones among them
  size_t removedItems = 0;
  // The positions in items of each key's items, rising, so that finding an
  // item by name, or the items of a name to take out, does not pass over
  // every item of a note with many (a long body is split over many items).
  // Kept by the note's item changes; keeping it up after a removal needs no
  // memory.
  std::unordered_map<std::string, std::vector<size_t>, ItemKeyHash, std::equal_to<>> itemsOfKey;
  // Values of items deleted or replaced since the open while a caller held
  // them locked: kept readable, they are freed when the note is closed.
  // Values nobody held locked were freed at once.
  std::vector<DHANDLE> retired;
  // The serial a new item takes and the position of each live serial's
  // item, kept by the note's item changes.
  ItemSerials serials;
};

// One entry of a view collection: a document, or a category (its note ID
// has the top bit set) that comes before the documents of its key.
struct CollectionEntry {
  NOTEID id = 0;
  CollectionKey key;
};

// An open collection: the design collection (viewNoteID 0), or a view's
// entries in view order, built from the view note of db over the
// documents of dataDb.
struct OpenCollection {
  DBHANDLE db = NULLHANDLE;
  DBHANDLE dataDb = NULLHANDLE;
  NOTEID viewNoteID = 0;
  WORD keyFlags = 0;
  std::vector<CollectionEntry> entries;
};

HandleTable<OpenDatabase>& Databases();
HandleTable<WorkingNote>& Notes();
HandleTable<OpenCollection>& Collections();

// Frees every memory block of a working copy (which is then empty).
void FreeWorkingNote(WorkingNote& note);

// Reads the notes row of the note ID: ERR_HOST_NOTE_NOT_FOUND when there is
// none, ERR_HOST_STORAGE when the read fails or the row's UNID is damaged.
STATUS ReadNoteRow(sqlite3* db, NOTEID id, NoteRow* row);
// The notes row in the statement's columns from `first` on (unid,
// sequence, sequence time, class, flags, modified): ERR_HOST_STORAGE when
// its UNID is damaged.
STATUS NoteRowOf(const Statement& query, int first, NoteRow* row);

// Opens the stored note as NSFNoteOpen does, with only the first item of
// each of the keys (item names in ASCII lower case): enough for a formula
// that reads no other field, without copying the values of the rest. With
// a row, the note's header is taken from it instead of read again.
STATUS OpenNoteForFields(DBHANDLE db, NOTEID noteID, const NoteRow* row,
                         const std::vector<std::string>& keys, NOTEHANDLE* retNote);

// The open database or working copy of a handle; null when the handle is
// not live.
OpenDatabase* FindDatabase(DBHANDLE handle);
WorkingNote* FindNote(NOTEHANDLE handle);

// The current item of a working copy with this serial, or null.
WorkingItem* FindItemBySerial(WorkingNote& note, WORD serial);

// Takes the item with this serial out of the note (its value retired as
// a deletion retires it); false when there is none. Short memory throws
// std::bad_alloc and leaves the note as it was.
bool RemoveItemBySerial(WorkingNote& note, WORD serial);

// Appends an item whose value (type word first) is the concatenation of
// the parts. ERR_HOST_VALUE_TOO_LARGE above the cap, ERR_HOST_BAD_ARGUMENT
// for a value shorter than its type word or a name that is empty or longer
// than 255 bytes, ERR_MEMORY when no block can be had (or std::bad_alloc
// when other memory runs short); the note is then unchanged. *retSerial
// (may be null) gets the new item's serial.
STATUS AppendItemValue(WorkingNote& note, WORD itemFlags, std::string_view name,
                       std::initializer_list<std::string_view> parts, WORD* retSerial);

// ---- item values ----

// The data type word of a value (0 when shorter than a word).
WORD ValueType(const BYTE* value, DWORD length);

// The texts of a TYPE_TEXT value (one) or a TYPE_TEXT_LIST value (each
// entry), after the type word; false for any other value or a list whose
// words point past its end.
bool ValueTexts(const BYTE* value, DWORD length, std::vector<std::string_view>* texts);

// The ASCII lower-case form of an item name.
std::string ItemKey(std::string_view name);

} // namespace velko::host

#endif
