/*
 * The SQLite storage behind host databases: paths, the schema, opening
 * and sharing connections, statements and transactions, injected write
 * failures, the cause of a thread's last storage failure, and the handle
 * tables with their reset for tests.
 *
 * Schema (PRAGMA user_version 1), foreign keys on:
 *   database  one row: replica ID, title, the next note ID and object ID
 *   notes     note ID, UNID (32 hex digits), OID sequence and sequence
 *             time, class, flags, modified time
 *   items     note ID, position, name, lower-case name key, data type,
 *             item flags, value in stored form (type word first); a rowid
 *             table, so that seeking a note's items compares small keys
 *             and never reads a long value stored inline with its key
 *   objects   object ID, class, privileges, size, bytes
 * TIMEDATEs are single integers (Innards[1] << 32 | Innards[0]).
 *
 * It does not know about working copies of notes or item semantics; those
 * are in nsfnote.cpp.
 */
#include "host/storage.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <map>
#include <new>
#include <optional>
#include <random>

#include "host/host_internal.h"
#include "host/host_testing.h"
#include "host/nsfnote.h"
#include "host/osenv.h"
#include "host/osmem.h"
#include "host/status.h"
#include "host/timedate.h"

namespace velko::host {
namespace {

constexpr const char* kMemoryPrefix = "mem:";

constexpr const char* kSchema = R"sql(
CREATE TABLE database (
  id INTEGER PRIMARY KEY CHECK (id = 1),
  replica_id INTEGER NOT NULL,
  title TEXT NOT NULL,
  next_note_id INTEGER NOT NULL,
  next_object_id INTEGER NOT NULL
);
CREATE TABLE notes (
  note_id INTEGER PRIMARY KEY,
  unid TEXT NOT NULL UNIQUE,
  sequence INTEGER NOT NULL,
  sequence_time INTEGER NOT NULL,
  class INTEGER NOT NULL,
  flags INTEGER NOT NULL,
  modified INTEGER NOT NULL
);
CREATE TABLE items (
  note_id INTEGER NOT NULL REFERENCES notes (note_id) ON DELETE CASCADE,
  position INTEGER NOT NULL,
  name TEXT NOT NULL,
  name_key TEXT NOT NULL,
  type INTEGER NOT NULL,
  flags INTEGER NOT NULL,
  value BLOB NOT NULL,
  PRIMARY KEY (note_id, position)
);
CREATE INDEX items_by_name ON items (name_key, note_id);
CREATE TABLE objects (
  object_id INTEGER PRIMARY KEY,
  class INTEGER NOT NULL,
  privileges INTEGER NOT NULL,
  size INTEGER NOT NULL,
  bytes BLOB NOT NULL
);
)sql";

struct StorageState {
  std::recursive_mutex mutex;
  // "mem:" databases live here until a test reset.
  std::map<std::string, std::shared_ptr<Store>> memoryStores;
  // File databases are shared while any handle or working copy holds them.
  std::map<std::string, std::weak_ptr<Store>> fileStores;
  // The store of each open connection, for statements made on it.
  std::unordered_map<sqlite3*, Store*> storeOfConnection;
  // Connections that could not close because a statement was left
  // prepared on them (closed later by SQLite, when it is finalized).
  size_t busyCloses = 0;
  int failWriteNth = 0;
  int writesSinceArmed = 0;
  DWORD valueLimit = ITEM_VALUE_LIMIT_DEFAULT;
  std::mt19937 random{std::random_device{}()};
  HandleTable<OpenDatabase> databases{HandleKind::kDatabase};
  HandleTable<WorkingNote> notes{HandleKind::kNote};
  HandleTable<OpenCollection> collections{HandleKind::kCollection};
};

// Never destroyed: working copies hold memory handles whose table may be
// gone at exit. Made in static storage, so that the first host call does
// not depend on an allocation.
StorageState& State() {
  alignas(StorageState) static std::byte storage[sizeof(StorageState)];
  static StorageState* state = new (storage) StorageState;
  return *state;
}

// The store of a new connection; the connection is closed again when the
// store cannot be had.
std::shared_ptr<Store> NewStore(const StorePath& path, sqlite3* db) {
  try {
    return std::make_shared<Store>(path, db);
  } catch (const std::bad_alloc&) {
    sqlite3_close_v2(db);
    throw;
  }
}

bool EqualsIgnoringCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() && ItemKey(a) == ItemKey(b);
}

bool FileExists(const std::string& path) {
  struct stat info;
  return stat(path.c_str(), &info) == 0;
}

// Foreign keys and extended result codes for a new connection; then the
// schema version must be ours (which also proves the file is SQLite).
bool ConfigureConnection(sqlite3* db) {
  sqlite3_extended_result_codes(db, 1);
  if (const int result = sqlite3_exec(db, "PRAGMA foreign_keys = ON", nullptr, nullptr, nullptr);
      result != SQLITE_OK) {
    NoteStorageFailure(db, result, false);
    return false;
  }
  sqlite3_busy_timeout(db, 2000);
  return true;
}

// The schema version, or -1 when it cannot be read (the statement keeps
// SQLite's reason). Reading it is the first read of the file, where a file
// that is not SQLite's, a damaged one or one locked by a writer shows.
int SchemaVersion(sqlite3* db) {
  Statement query(db, "PRAGMA user_version");
  if (query.Step() != SQLITE_ROW)
    return -1;
  return static_cast<int>(query.Int(0));
}

// Runs SQL that changes the file, keeping SQLite's reason when it fails.
bool ExecuteWrite(sqlite3* db, const char* sql) {
  const int result = sqlite3_exec(db, sql, nullptr, nullptr, nullptr);
  if (result == SQLITE_OK)
    return true;
  NoteStorageFailure(db, result, true);
  return false;
}

std::string TitleOf(const StorePath& path) {
  if (path.memory)
    return path.expanded.substr(std::char_traits<char>::length(kMemoryPrefix));
  return std::filesystem::path(path.expanded).stem().string();
}

STATUS InitializeSchema(sqlite3* db, const StorePath& path) {
  Transaction transaction(db);
  if (!transaction.ok())
    return ERR_HOST_STORAGE;
  if (!ExecuteWrite(db, kSchema))
    return ERR_HOST_STORAGE;
  const TIMEDATE replicaID = {{RandomNonZero(), RandomNonZero()}};
  Statement insert(db, "INSERT INTO database (id, replica_id, title, next_note_id, next_object_id) "
                       "VALUES (1, ?, ?, ?, 1)");
  insert.Bind(1, PackTimeDate(replicaID)).BindText(2, TitleOf(path)).Bind(3, kFirstNoteID);
  const int result = insert.RunWrite();
  if (result != SQLITE_DONE)
    return StorageStatus(result);
  const std::string version = "PRAGMA user_version = " + std::to_string(kSchemaVersion);
  if (!ExecuteWrite(db, version.c_str()))
    return ERR_HOST_STORAGE;
  return transaction.Commit() ? NOERROR : ERR_HOST_STORAGE;
}

// A new connection with a fresh schema, or null.
sqlite3* OpenNewDatabase(const StorePath& path, STATUS* status) {
  sqlite3* db = nullptr;
  const char* name = path.memory ? ":memory:" : path.expanded.c_str();
  const int flags = SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE;
  const int opened = sqlite3_open_v2(name, &db, flags, nullptr);
  if (opened != SQLITE_OK)
    NoteStorageFailure(db, opened, true);
  if (opened != SQLITE_OK || !ConfigureConnection(db)) {
    sqlite3_close_v2(db);
    *status = ERR_HOST_STORAGE;
    return nullptr;
  }
  *status = GuardedStatus([&] { return InitializeSchema(db, path); });
  if (*status != NOERROR) {
    sqlite3_close_v2(db);
    return nullptr;
  }
  return db;
}

STATUS CreateMemoryStore(StorageState& state, const StorePath& path, bool force) {
  const auto existing = state.memoryStores.find(path.expanded);
  if (existing != state.memoryStores.end()) {
    if (!force)
      return ERR_HOST_DB_EXISTS;
    // The registry holds one reference; any other is a handle or a note.
    if (existing->second.use_count() > 1)
      return ERR_HOST_DB_IN_USE;
  }
  STATUS status = NOERROR;
  sqlite3* db = OpenNewDatabase(path, &status);
  if (db == nullptr)
    return status;
  state.memoryStores[path.expanded] = NewStore(path, db);
  return NOERROR;
}

STATUS CreateFileStore(StorageState& state, const StorePath& path, bool force) {
  const auto open = state.fileStores.find(path.expanded);
  if (open != state.fileStores.end() && !open->second.expired())
    return force ? ERR_HOST_DB_IN_USE : ERR_HOST_DB_EXISTS;
  if (FileExists(path.expanded)) {
    if (!force)
      return ERR_HOST_DB_EXISTS;
    if (unlink(path.expanded.c_str()) != 0)
      return ERR_HOST_FILE_IO;
    unlink((path.expanded + "-journal").c_str());
  }
  STATUS status = NOERROR;
  sqlite3* db = OpenNewDatabase(path, &status);
  if (db == nullptr) {
    unlink(path.expanded.c_str());
    return status;
  }
  sqlite3_close_v2(db);
  return NOERROR;
}

STATUS OpenFileStore(StorageState& state, const StorePath& path, std::shared_ptr<Store>* ret) {
  const auto open = state.fileStores.find(path.expanded);
  if (open != state.fileStores.end()) {
    if (std::shared_ptr<Store> shared = open->second.lock()) {
      *ret = std::move(shared);
      return NOERROR;
    }
  }
  if (!FileExists(path.expanded))
    return ERR_HOST_DB_NOT_FOUND;
  sqlite3* db = nullptr;
  const int opened = sqlite3_open_v2(path.expanded.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr);
  if (opened != SQLITE_OK)
    NoteStorageFailure(db, opened, false);
  // An empty file opens as an empty SQLite database (version 0); a file
  // of another schema is not ours either.
  const int version = opened == SQLITE_OK && ConfigureConnection(db) ? SchemaVersion(db) : -1;
  if (version >= 0 && version != kSchemaVersion)
    NoteNotADatabase();
  if (version != kSchemaVersion) {
    sqlite3_close_v2(db);
    return ERR_HOST_STORAGE;
  }
  *ret = NewStore(path, db);
  state.fileStores[path.expanded] = *ret;
  return NOERROR;
}

} // namespace

std::unique_lock<std::recursive_mutex> LockHost() {
  return std::unique_lock<std::recursive_mutex>(State().mutex);
}

Store::Store(const StorePath& path, sqlite3* db) : path_(path), db_(db) {
  State().storeOfConnection[db] = this;
}

Store::~Store() {
  State().storeOfConnection.erase(db_);
  for (auto& [sql, entry] : statements_)
    sqlite3_finalize(entry.stmt);
  statements_.clear();
  if (sqlite3_close(db_) != SQLITE_OK) {
    ++State().busyCloses;
    sqlite3_close_v2(db_);
  }
}

void Store::CountNoteWrite(NOTEID id) noexcept {
  try {
    ++noteWrites_[id];
  } catch (const std::bad_alloc&) {
    // Uncounted, the write could leave what was kept no longer holding.
    viewAnswers_.clear();
    keptNotes_.clear();
  }
}

uint64_t Store::NoteWrites(NOTEID id) const {
  const auto found = noteWrites_.find(id);
  return found != noteWrites_.end() ? found->second : 0;
}

bool Store::KeptStillHolds() {
  // Nothing but this connection reaches a memory database.
  if (path_.memory)
    return true;
  Statement query(db_, "PRAGMA data_version");
  if (query.Step() != SQLITE_ROW)
    return false;
  const int64_t version = query.Int(0);
  if (version != dataVersion_) {
    viewAnswers_.clear();
    keptNotes_.clear();
    dataVersion_ = version;
  }
  return true;
}

ViewAnswers* Store::AnswersOfView(const std::string& definition) noexcept {
  if (!KeptStillHolds())
    return nullptr;
  // Kept for a few definitions: more are forgotten together.
  constexpr size_t kKeptViews = 16;
  if (viewAnswers_.size() >= kKeptViews && viewAnswers_.count(definition) == 0)
    viewAnswers_.clear();
  try {
    return &viewAnswers_[definition];
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}

const KeptNote* Store::KeptNoteOf(NOTEID id) const {
  const auto kept = keptNotes_.find(id);
  return kept != keptNotes_.end() && kept->second.writes == NoteWrites(id) ? &kept->second
                                                                          : nullptr;
}

void Store::KeepNote(NOTEID id, KeptNote note) noexcept {
  // Not too many: more are forgotten together.
  constexpr size_t kKeptNotes = 16384;
  try {
    if (keptNotes_.size() >= kKeptNotes)
      keptNotes_.clear();
    note.writes = NoteWrites(id);
    keptNotes_.insert_or_assign(id, std::move(note));
  } catch (const std::bad_alloc&) {
    keptNotes_.erase(id);
  }
}

CachedStatement* Store::CachedEntry(const char* sql) {
  try {
    CachedStatement& entry = statements_[sql];
    return entry.inUse ? nullptr : &entry;
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}

bool IsLocalServer(std::string_view server) {
  if (server.empty())
    return true;
  const std::optional<std::string> local = SettingValue("ServerName");
  if (!local || local->empty())
    return false;
  return EqualsIgnoringCase(server, *local);
}

STATUS ResolveStorePath(const char* pathName, StorePath* ret) {
  if (pathName == nullptr || ret == nullptr)
    return ERR_HOST_BAD_ARGUMENT;
  std::string_view path(pathName);
  if (const size_t bang = path.find("!!"); bang != std::string_view::npos) {
    if (!IsLocalServer(path.substr(0, bang)))
      return ERR_HOST_SERVER_NOT_LOCAL;
    path.remove_prefix(bang + 2);
  }
  if (path.empty() || path.size() >= MAXPATH)
    return ERR_HOST_BAD_ARGUMENT;
  StorePath resolved;
  resolved.canonical = path;
  if (path.starts_with(kMemoryPrefix)) {
    if (path.size() == std::char_traits<char>::length(kMemoryPrefix))
      return ERR_HOST_BAD_ARGUMENT;
    resolved.memory = true;
    resolved.expanded = path;
  } else {
    std::filesystem::path full(path);
    if (full.is_relative()) {
      char directory[MAXPATH];
      OSGetDataDirectory(directory);
      full = std::filesystem::path(directory) / full;
    }
    resolved.expanded = full.lexically_normal().string();
    if (resolved.expanded.size() >= MAXPATH)
      return ERR_HOST_BAD_ARGUMENT;
  }
  *ret = std::move(resolved);
  return NOERROR;
}

STATUS CreateStore(const StorePath& path, bool force) {
  ForgetStorageFailure();
  StorageState& state = State();
  return path.memory ? CreateMemoryStore(state, path, force) : CreateFileStore(state, path, force);
}

STATUS OpenStore(const StorePath& path, std::shared_ptr<Store>* ret) {
  ForgetStorageFailure();
  StorageState& state = State();
  if (!path.memory)
    return OpenFileStore(state, path, ret);
  const auto found = state.memoryStores.find(path.expanded);
  if (found == state.memoryStores.end())
    return ERR_HOST_DB_NOT_FOUND;
  *ret = found->second;
  return NOERROR;
}

// ---- statements and transactions ----

Statement::Statement(sqlite3* db, const char* sql) {
  const auto& stores = State().storeOfConnection;
  if (const auto store = stores.find(db); store != stores.end())
    cached_ = store->second->CachedEntry(sql);
  if (cached_ != nullptr && cached_->stmt != nullptr) {
    stmt_ = cached_->stmt;
    cached_->inUse = true;
    return;
  }
  const unsigned flags = cached_ != nullptr ? SQLITE_PREPARE_PERSISTENT : 0;
  if (const int prepared = sqlite3_prepare_v3(db, sql, -1, flags, &stmt_, nullptr);
      prepared != SQLITE_OK) {
    NoteStorageFailure(db, prepared, false);
    sqlite3_finalize(stmt_);
    stmt_ = nullptr;
    cached_ = nullptr;
    return;
  }
  if (cached_ != nullptr) {
    cached_->stmt = stmt_;
    cached_->inUse = true;
  }
}

Statement::~Statement() {
  if (cached_ == nullptr) {
    sqlite3_finalize(stmt_);
    return;
  }
  sqlite3_reset(stmt_);
  sqlite3_clear_bindings(stmt_);
  cached_->inUse = false;
}

Statement& Statement::Bind(int index, int64_t value) {
  if (stmt_ != nullptr)
    sqlite3_bind_int64(stmt_, index, value);
  return *this;
}

Statement& Statement::BindText(int index, std::string_view text) {
  if (stmt_ != nullptr)
    sqlite3_bind_text64(stmt_, index, text.data(), text.size(), SQLITE_TRANSIENT, SQLITE_UTF8);
  return *this;
}

namespace {

// A blob of no bytes is still a blob, not NULL.
void BindBlobBytes(sqlite3_stmt* stmt, int index, const void* data, size_t size,
                   sqlite3_destructor_type keep) {
  static const char empty = 0;
  sqlite3_bind_blob64(stmt, index, size == 0 ? &empty : data, size, keep);
}

} // namespace

Statement& Statement::BindBlob(int index, const void* data, size_t size) {
  if (stmt_ != nullptr)
    BindBlobBytes(stmt_, index, data, size, SQLITE_TRANSIENT);
  return *this;
}

Statement& Statement::BindBlobInPlace(int index, const void* data, size_t size) {
  if (stmt_ != nullptr)
    BindBlobBytes(stmt_, index, data, size, SQLITE_STATIC);
  return *this;
}

Statement& Statement::BindZeroBlob(int index, int64_t size) {
  if (stmt_ != nullptr)
    sqlite3_bind_zeroblob64(stmt_, index, static_cast<sqlite3_uint64>(size));
  return *this;
}

int Statement::Step() {
  if (stmt_ == nullptr)
    return SQLITE_ERROR;
  const int result = sqlite3_step(stmt_);
  if (result != SQLITE_ROW && result != SQLITE_DONE)
    NoteStorageFailure(sqlite3_db_handle(stmt_), result, false);
  return result;
}

int Statement::RunWrite() {
  if (stmt_ == nullptr)
    return SQLITE_ERROR;
  if (InjectedWriteFailure()) {
    NoteStorageFailure(nullptr, SQLITE_IOERR_WRITE, true);
    return SQLITE_IOERR;
  }
  const int result = sqlite3_step(stmt_);
  if (result != SQLITE_ROW && result != SQLITE_DONE)
    NoteStorageFailure(sqlite3_db_handle(stmt_), result, true);
  return result;
}

void Statement::Reset() {
  if (stmt_ == nullptr)
    return;
  sqlite3_reset(stmt_);
  sqlite3_clear_bindings(stmt_);
}

int64_t Statement::Int(int column) const { return sqlite3_column_int64(stmt_, column); }

bool Statement::IsNull(int column) const {
  return sqlite3_column_type(stmt_, column) == SQLITE_NULL;
}

std::string_view Statement::Text(int column) const {
  const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(stmt_, column));
  const int size = sqlite3_column_bytes(stmt_, column);
  return text == nullptr ? std::string_view() : std::string_view(text, size);
}

std::string_view Statement::Blob(int column) const {
  const auto* data = static_cast<const char*>(sqlite3_column_blob(stmt_, column));
  const int size = sqlite3_column_bytes(stmt_, column);
  return data == nullptr ? std::string_view() : std::string_view(data, size);
}

BlobReader::~BlobReader() { sqlite3_blob_close(blob_); }

bool BlobReader::Read(int64_t rowid, void* out, size_t size) {
  const int moved = blob_ == nullptr
                        ? sqlite3_blob_open(db_, "main", table_, column_, rowid, 0, &blob_)
                        : sqlite3_blob_reopen(blob_, rowid);
  if (moved != SQLITE_OK) {
    NoteStorageFailure(db_, moved, false);
    sqlite3_blob_close(blob_); // a handle that failed to move is of no more use
    blob_ = nullptr;
    return false;
  }
  if (static_cast<size_t>(sqlite3_blob_bytes(blob_)) != size)
    return false;
  if (size == 0)
    return true;
  const int read = sqlite3_blob_read(blob_, out, static_cast<int>(size), 0);
  if (read != SQLITE_OK)
    NoteStorageFailure(db_, read, false);
  return read == SQLITE_OK;
}

Transaction::Transaction(sqlite3* db) : db_(db) {
  begun_ = ExecuteWrite(db_, "BEGIN IMMEDIATE");
}

Transaction::~Transaction() {
  if (begun_ && !done_)
    sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
}

bool Transaction::Commit() {
  if (!begun_ || done_)
    return false;
  if (InjectedWriteFailure()) {
    NoteStorageFailure(nullptr, SQLITE_IOERR_WRITE, true);
    return false; // the destructor rolls back
  }
  if (!ExecuteWrite(db_, "COMMIT"))
    return false;
  done_ = true;
  return true;
}

bool InjectedWriteFailure() {
  StorageState& state = State();
  if (state.failWriteNth == 0)
    return false;
  if (++state.writesSinceArmed != state.failWriteNth)
    return false;
  state.failWriteNth = 0;
  return true;
}

STATUS StorageStatus(int sqliteResult) {
  if (sqliteResult == SQLITE_CONSTRAINT_UNIQUE)
    return ERR_HOST_UNID_EXISTS;
  return ERR_HOST_STORAGE;
}

// ---- why storage failed ----

namespace {

struct StorageFailure {
  int result = SQLITE_OK; // SQLite's extended result code; SQLITE_OK: none met
  int systemError = 0;    // the errno SQLite met, when it names one
  bool writing = false;
  bool notADatabase = false;
};

// Per thread, like errno: host calls on other threads never touch it.
thread_local StorageFailure t_storageFailure;

// The system's text of an errno value, from either form of strerror_r.
[[maybe_unused]] const char* ErrorText(int result, const char* buffer) {
  return result == 0 ? buffer : "unknown error";
}
[[maybe_unused]] const char* ErrorText(const char* text, const char*) { return text; }

const char* SystemErrorText(int error, char* buffer, size_t size) {
  buffer[0] = '\0';
  return ErrorText(strerror_r(error, buffer, size), buffer);
}

// What SQLite's result says about the file, in words after "the file";
// *withErrno when the system error behind it says more.
const char* FailureWords(const StorageFailure& failure, bool* withErrno) {
  *withErrno = false;
  switch (failure.result & 0xFF) {
  case SQLITE_NOTADB:
    return "is not a database";
  case SQLITE_CORRUPT:
    return "is damaged";
  case SQLITE_BUSY:
  case SQLITE_LOCKED:
    return "is locked by another connection";
  case SQLITE_CANTOPEN:
    if (failure.systemError == EISDIR)
      return "is a directory";
    *withErrno = true;
    return "cannot be read";
  case SQLITE_READONLY:
    return "cannot be written (it is read-only)";
  case SQLITE_FULL:
    return "cannot be written (the disk is full)";
  case SQLITE_NOMEM:
    return failure.writing ? "cannot be written (out of memory)" : "cannot be read (out of memory)";
  case SQLITE_IOERR:
  case SQLITE_PERM:
  case SQLITE_AUTH:
    *withErrno = true;
    return failure.writing ? "cannot be written" : "cannot be read";
  default:
    return nullptr;
  }
}

} // namespace

void ForgetStorageFailure() { t_storageFailure = StorageFailure{}; }

void NoteStorageFailure(sqlite3* db, int sqliteResult, bool writing) {
  StorageFailure& failure = t_storageFailure;
  failure = StorageFailure{};
  failure.result = sqliteResult;
  failure.writing = writing;
  if (db != nullptr)
    failure.systemError = sqlite3_system_errno(db);
}

void NoteNotADatabase() {
  t_storageFailure = StorageFailure{};
  t_storageFailure.notADatabase = true;
}

bool DescribeStorageFailure(char* text, size_t size) {
  if (text == nullptr || size == 0)
    return false;
  text[0] = '\0';
  const StorageFailure& failure = t_storageFailure;
  if (failure.notADatabase) {
    std::snprintf(text, size, "is not a database");
    return true;
  }
  if (failure.result == SQLITE_OK)
    return false;
  bool withErrno = false;
  const char* words = FailureWords(failure, &withErrno);
  if (words == nullptr) {
    std::snprintf(text, size, "%s (%s)", failure.writing ? "cannot be written" : "cannot be read",
                  sqlite3_errstr(failure.result));
  } else if (withErrno && failure.systemError != 0) {
    char reason[128];
    std::snprintf(text, size, "%s (%s)", words, SystemErrorText(failure.systemError, reason,
                                                               sizeof reason));
  } else {
    std::snprintf(text, size, "%s", words);
  }
  return true;
}

// ---- values ----

int64_t PackTimeDate(const TIMEDATE& td) {
  return static_cast<int64_t>((static_cast<uint64_t>(td.Innards[1]) << 32) | td.Innards[0]);
}

TIMEDATE UnpackTimeDate(int64_t packed) {
  const auto bits = static_cast<uint64_t>(packed);
  return TIMEDATE{{static_cast<DWORD>(bits & 0xFFFFFFFFu), static_cast<DWORD>(bits >> 32)}};
}

std::string UnidKey(const UNID& unid) {
  char key[33];
  std::snprintf(key, sizeof key, "%08X%08X%08X%08X", static_cast<unsigned>(unid.File[0]),
                static_cast<unsigned>(unid.File[1]), static_cast<unsigned>(unid.Note.Innards[0]),
                static_cast<unsigned>(unid.Note.Innards[1]));
  return key;
}

bool UnidFromKey(std::string_view key, UNID* ret) {
  if (key.size() != 32)
    return false;
  DWORD words[4];
  for (int word = 0; word < 4; ++word) {
    DWORD value = 0;
    for (char c : key.substr(word * 8, 8)) {
      int digit;
      if (c >= '0' && c <= '9')
        digit = c - '0';
      else if (c >= 'A' && c <= 'F')
        digit = c - 'A' + 10;
      else
        return false;
      value = (value << 4) | static_cast<DWORD>(digit);
    }
    words[word] = value;
  }
  *ret = UNID{{words[0], words[1]}, {{words[2], words[3]}}};
  return true;
}

DWORD RandomNonZero() {
  StorageState& state = State();
  DWORD value = 0;
  while (value == 0)
    value = static_cast<DWORD>(state.random());
  return value;
}

DWORD ItemValueLimit() { return State().valueLimit; }

std::string ItemKey(std::string_view name) {
  std::string key(name);
  for (char& c : key)
    if (c >= 'A' && c <= 'Z')
      c = static_cast<char>(c - 'A' + 'a');
  return key;
}

// ---- handle tables ----

HandleTable<OpenDatabase>& Databases() { return State().databases; }
HandleTable<WorkingNote>& Notes() { return State().notes; }
HandleTable<OpenCollection>& Collections() { return State().collections; }

OpenDatabase* FindDatabase(DBHANDLE handle) { return State().databases.Find(handle); }
WorkingNote* FindNote(NOTEHANDLE handle) { return State().notes.Find(handle); }

WorkingNote::~WorkingNote() { FreeWorkingNote(*this); }

void FreeWorkingNote(WorkingNote& note) {
  for (WorkingItem& item : note.items)
    if (!item.removed)
      OSMemFree(item.value);
  for (DHANDLE value : note.retired)
    OSMemFree(value);
  note.items.clear();
  note.removedItems = 0;
  note.itemsOfKey.clear();
  note.serials.Clear();
  note.retired.clear();
}

#ifdef VELKO_TEST_CONTROLS

void ResetStorageForTests() {
  const auto lock = LockHost();
  StorageState& state = State();
  for (uint32_t handle : state.collections.Live())
    state.collections.Remove(handle);
  for (uint32_t handle : state.notes.Live())
    if (std::unique_ptr<WorkingNote> note = state.notes.Remove(handle))
      FreeWorkingNote(*note);
  for (uint32_t handle : state.databases.Live())
    state.databases.Remove(handle);
  state.memoryStores.clear();
  state.fileStores.clear(); // every file connection closed with its last holder
  state.failWriteNth = 0;
  state.writesSinceArmed = 0;
  state.valueLimit = ITEM_VALUE_LIMIT_DEFAULT;
  ForgetStorageFailure(); // the resetting thread's; other threads keep theirs
}

#endif

} // namespace velko::host

/* ---- test controls (host/host_testing.h); left out of the shipped library ---- */

#ifdef VELKO_TEST_CONTROLS

void HostTestFailStorageWrite(int nth) {
  const auto lock = velko::host::LockHost();
  auto& state = velko::host::State();
  state.failWriteNth = nth > 0 ? nth : 0;
  state.writesSinceArmed = 0;
}

size_t HostTestBusyCloses() {
  const auto lock = velko::host::LockHost();
  return velko::host::State().busyCloses;
}

void HostTestSetItemValueLimit(DWORD limit) {
  const auto lock = velko::host::LockHost();
  velko::host::State().valueLimit = limit == 0 ? ITEM_VALUE_LIMIT_DEFAULT : limit;
}

#endif
