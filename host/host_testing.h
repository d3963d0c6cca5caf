/*
 * Test controls of the host stand-in: settings, data directory, log and
 * message capture, the clock, allocation failures and the leak report.
 *
 * Only tests and test tools include this header; the engine's sources never
 * do. The controls exist only in the test library (velko_testing, built with
 * VELKO_TEST_CONTROLS), never in the shipped velko_host. They are
 * process-wide.
 */
#ifndef VELKO_HOST_HOST_TESTING_H
#define VELKO_HOST_HOST_TESTING_H

#include <cstddef>
#include <string>
#include <vector>

#include "host/filters.h"
#include "velko/host_types.h"

/* Clears the settings set in the process (and reads the settings file
 * again), the data-directory override, every signal handler, log and
 * message capture, the test clock and allocation failures. Closes every
 * open database, note and collection (their handles become bad; the notes'
 * memory blocks are freed), drops every "mem:" database and clears the
 * storage controls below. Other live memory handles are left alone. */
void HostTestReset();

/* Sets a setting for this process; a null value makes it unset. */
void HostTestSetEnvironment(const char* name, const char* value);

/* Uses this directory as the data directory (null: back to VELKO_DATA_DIR or
 * the working directory). The settings file is read again. */
void HostTestSetDataDirectory(const char* path);

/* Log capture: while on, AddInLogMessageText lines are kept in memory
 * (without prefix) instead of being written. */
void HostTestCaptureLog(bool on);
std::vector<std::string> HostTestLogLines();
void HostTestClearLog();

/* Message capture: installs a message handler (OS_SIGNAL_MESSAGE) that
 * records every message and its type. */
struct HostTestMessage {
  std::string text;
  int type;
  bool operator==(const HostTestMessage&) const = default;
};
void HostTestCaptureMessages();
std::vector<HostTestMessage> HostTestMessages();
void HostTestClearMessages();

/* The clock OSCurrentTIMEDATE reads; null goes back to the system clock. */
void HostTestSetClock(const TIMEDATE* now);

/* The nth OSMemAlloc from now (1: the next) fails with ERR_MEMORY; 0 turns
 * this off. */
void HostTestFailAllocation(int nth);
/* The nth OSMemAlloc from now and every later one fail; 0 turns this off. */
void HostTestFailAllocationsFrom(int nth);

/* The nth SQLite write step from now (1: the next) fails as an I/O error
 * would; 0 turns this off. A write step is one INSERT, UPDATE or DELETE
 * statement, one write into a database object, or one COMMIT; the call
 * that meets the failure rolls its transaction back and returns
 * ERR_HOST_STORAGE. */
void HostTestFailStorageWrite(int nth);

/* The item value size cap (type word included); 0 restores the default
 * ITEM_VALUE_LIMIT_DEFAULT (65535). */
void HostTestSetItemValueLimit(DWORD limit);

/* Makes and stores a view (a class NOTE_CLASS_VIEW design note, see
 * host/nif.h): "$TITLE" (aliases at '|'), "$FORMULA" compiled from the
 * selection (null: "SELECT @All"), the sort key (null: none; a text of
 * letters, digits, '_' and '$' names the key item, any other text is a
 * key formula) and the key flags (VIEW_KEY_*). *retNoteID (may be null)
 * gets its note ID. */
STATUS HostTestCreateView(DBHANDLE db, const char* title, const char* selection,
                          const char* sortKey, WORD keyFlags, NOTEID* retNoteID);

/* The most entries one NIFReadEntries batch returns; 0 restores the
 * default READ_ENTRIES_LIMIT. */
void HostTestSetReadEntriesLimit(DWORD limit);

/* Adds an import filter library of the name to the filter table
 * (host/filters.h), in front of the table's own; a null entry removes the
 * one added before. */
void HostTestSetImportFilter(const char* name, IMPORT_FILTER_PROC entry);

/* Databases whose connection could not be closed at once because a
 * statement was still prepared on it; counted from the start, never
 * reset. */
size_t HostTestBusyCloses();

/* Memory blocks not freed yet. */
size_t HostTestLiveHandles();
/* One line per live block, in slot order:
 * "handle 0x%08X size %u locks %u". */
std::string HostTestLeakReport();

#endif
