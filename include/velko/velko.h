/*
 * velko's class interface: the session, the rich-text item and the chunk.
 *
 * A caller creates an LSXLsiSession first and deletes it last. Items bind a
 * rich-text item of a note; chunks name parts of an item. The session owns
 * every item and chunk still alive when it is deleted.
 *
 * The objects are plain classes without virtual functions; their data
 * members are public because the engine's subsystems share them (result and
 * scratch buffers of the session, search flags of a chunk). Each keeps its
 * private working state in a block of its own (_internal_SESS,
 * _internal_RTITEM, _internal_RTCHUNK) that this header does not describe.
 */
#ifndef VELKO_VELKO_H
#define VELKO_VELKO_H

#include <stddef.h>

#include "velko/host_types.h"
#include "velko/status.h"

struct _internal_SESS;
struct _internal_RTITEM;
struct _internal_RTCHUNK;
struct velko_allocation;
struct cached_stuff_node;
class VelkoRTItem;
class VelkoRTChunk;

/* Sizes of the session's shared buffers. */
enum : size_t {
  VELKO_RESULT_TEXT_SIZE = 65854,
  VELKO_SCRATCH_TEXT_SIZE = 4096,
};

class LSXLsiSession {
public:
  LSXLsiSession();
  ~LSXLsiSession();
  LSXLsiSession(const LSXLsiSession&) = delete;
  LSXLsiSession& operator=(const LSXLsiSession&) = delete;

  /* Items and chunks register themselves here from their constructors and
   * leave from their destructors. */
  void AddToRTITEMList(VelkoRTItem* item);
  void RemoveFromRTITEMList(VelkoRTItem* item);
  void AddToRTCHUNKList(VelkoRTChunk* chunk);
  void RemoveFromRTCHUNKList(VelkoRTChunk* chunk);

  /* Appends one zeroed 1 MiB buffer to the cache chain; null when memory
   * cannot be had. CleanUpCachedStuff frees the whole chain. */
  cached_stuff_node* CreateCachedStuff();
  void CleanUpCachedStuff();

  /* Fixes the process-wide temporary directory; run once after construction. */
  void InitializeTempDirectory();

  /* Text answers of queries: a byte length and the text. */
  WORD result_length = 0;
  char result_text[VELKO_RESULT_TEXT_SIZE];
  /* Scratch texts: hold nothing between operations. */
  char scratch_first[VELKO_SCRATCH_TEXT_SIZE];
  char scratch_second[VELKO_SCRATCH_TEXT_SIZE];
  char scratch_third[VELKO_SCRATCH_TEXT_SIZE];

  VelkoRTItem* items = nullptr;    /* singly linked through VelkoRTItem::next */
  VelkoRTChunk* chunks = nullptr;  /* singly linked through VelkoRTChunk::next */
  _internal_SESS* internal = nullptr;
};

/* One rich-text item of a note. */
class VelkoRTItem {
public:
  explicit VelkoRTItem(LSXLsiSession* session);
  ~VelkoRTItem();
  VelkoRTItem(const VelkoRTItem&) = delete;
  VelkoRTItem& operator=(const VelkoRTItem&) = delete;

  LSXLsiSession* session = nullptr;
  VelkoRTItem* next = nullptr;
  VelkoRTChunk* default_chunk = nullptr; /* defined on "Everything" */
  _internal_RTITEM* internal = nullptr;
};

/* One defined part of an item. */
class VelkoRTChunk {
public:
  VelkoRTChunk(LSXLsiSession* session, VelkoRTItem* item);
  ~VelkoRTChunk();
  VelkoRTChunk(const VelkoRTChunk&) = delete;
  VelkoRTChunk& operator=(const VelkoRTChunk&) = delete;

  /* Frees the event return text of slot 1 to 6; other slots are ignored. */
  void CleanupEventRetString(WORD slot);

  LSXLsiSession* session = nullptr;
  VelkoRTItem* item = nullptr;
  VelkoRTChunk* next = nullptr;
  char* definition = nullptr;          /* canonical definition text */
  char* unzoomed_definition = nullptr; /* before the first ZoomIn; null when not zoomed */
  WORD target_type = 0;
  WORD status = 0;
  WORD secondary_status = 0;
  WORD AccentSensitive = 1;
  WORD CaseSensitive = 0;
  WORD RegularExpression = 0;
  WORD SearchWordBoundaries = 0;
  WORD SetImpliedProperties = 0;
  WORD TextWildcards = 0;
  /* Non-zero: appends go where the chunk ends. Never changed after construction. */
  DWORD append_position = 1;
  WORD link_mode = 0;
  WORD field_flag = 0;
  char* event_strings[6] = {};         /* event return strings, slots 1 to 6 */
  _internal_RTCHUNK* internal = nullptr;
};

#endif
