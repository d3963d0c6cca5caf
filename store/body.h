/*
 * The body of a rich-text item in memory: its CD records in host form as a
 * doubly linked list of record_storage nodes, the stored items the body
 * spans (body_item) and the body_context that holds both. Loading an item's
 * records into a context, writing a record list back as items, and freeing
 * a context's records.
 *
 * Building a body record by record (the record emitter) is not here.
 */
#ifndef VELKO_STORE_BODY_H
#define VELKO_STORE_BODY_H

#include <new>

#include "host/nsfdata.h"
#include "store/canonical.h"
#include "store/tracked_memory.h"
#include "velko/velko.h"

/* Flags of a record node. */
enum : WORD {
  RECORD_MARKED = 0x0001,     /* removal mark of the removal actions */
  RECORD_OWNS_DATA = 0x0002,  /* the node owns its data */
  RECORD_MATCH_MARKER = 0x0004, /* appended while the session's marker switch was on */
  RECORD_SIDE_TEXT = 0x0008,  /* the side data holds a text buffer of the arena */
  RECORD_RESTART_MARK = 0x0010, /* in the body when the emitter restarted it */
  /* The node lies in the record arena of the context that made it, and so
   * does its data unless RECORD_OWNS_DATA or RECORD_IN_PLACE is set. They
   * are released with the arena, never one by one. */
  RECORD_IN_ARENA = 0x0020,
  /* The data is not behind the node: the record as it lies in a stored
   * item's value copy (a record whose stored form is its host form is read
   * where it lies), or a record of the body this one was built from, whose
   * memory the body took over (MoveBodyMemory). Such data is shared with
   * no other node of the list and never written to by the emitter; a font
   * change of a writing walk may set a text record's FONTID where it lies,
   * logged so that a failed operation puts the old one back. */
  RECORD_IN_PLACE = 0x0040,
  /* The node was made with room for side data right before it
   * (kRecordSideDataSize bytes); RECORD_SIDE_DATA says the room is used. */
  RECORD_SIDE_ROOM = 0x0080,
  RECORD_SIDE_DATA = 0x0100,
};

/* One record in host form; a node of the body's record list. Nodes are
 * small: a body of many short records takes little more than its stored
 * bytes. Side data, where a record has any, lies in the room before the
 * node (SideData). */
struct record_storage {
  record_storage() = default;
  ~record_storage() = default;
  record_storage(const record_storage&) = delete;
  record_storage& operator=(const record_storage&) = delete;

  /* Link a node after or before this one, mending both neighbours. */
  void InsertRecordAfter(record_storage* node);
  void InsertRecordBefore(record_storage* node);
  /* Sets signature and length, advances the ordinal, takes ownership flags
   * and points the data at `count` zeroed bytes right behind the node (for
   * records built in place). */
  void CreateRecordData(WORD signature, DWORD length, WORD count);

  /* The side data (by signature), or null when the node has none. */
  void* SideData() const {
    if ((flags & RECORD_SIDE_DATA) == 0)
      return nullptr;
    return const_cast<char*>(reinterpret_cast<const char*>(this)) - kSideDataRoom;
  }

  char* data = nullptr; /* the whole record; an odd length has one more 0 byte */
  record_storage* next = nullptr;
  record_storage* previous = nullptr;
  DWORD length = 0;     /* host form, header included */
  DWORD ordinal = 0;    /* position in the body, from 1 */
  WORD signature = 0;   /* 0x00nn or 0xFFnn */
  WORD flags = 0;
  /* Length in stored form, header included, of a record read from an item;
   * 0 for a record made in memory. Image offsets name stored positions.
   * The loader refuses stored records longer than 0xFFFF bytes. */
  WORD stored_length = 0;

  /* Bytes of side data room before a node that has it. */
  static constexpr size_t kSideDataRoom = 16;
};
static_assert(sizeof(record_storage) <= 40, "a node stays small");

/* Side data of a table begin: its size, filled from its cells. */
struct table_side_data {
  WORD rows;
  WORD columns;
};

/* Side data of a table cell inside a table. */
struct cell_side_data {
  record_storage* pretable; /* the CDPRETABLEBEGIN before the table, or null */
  record_storage* table;    /* the table begin */
};

/* Side data of a graphic (CDGRAPHIC) or of a 0x95 record: where its data
 * lies in the stored items. */
struct position_side_data {
  DWORD offset;
  WORD item_number;
};

/* Side data of a text record read with the entity or plain-text option. */
struct text_side_data {
  char* text;    /* in the context's arena when the node has RECORD_SIDE_TEXT */
  DWORD reserved;
  DWORD length;  /* entity text of a long record can pass 65535 bytes */
};

static_assert(sizeof(table_side_data) <= record_storage::kSideDataRoom &&
                  sizeof(cell_side_data) <= record_storage::kSideDataRoom &&
                  sizeof(position_side_data) <= record_storage::kSideDataRoom &&
                  sizeof(text_side_data) <= record_storage::kSideDataRoom,
              "side data fits the room before its node");

/* One stored item of a body. A loaded item's buffer is its whole value
 * copy (type word first); an item read as text has no buffer. First and
 * last ordinal are those of the first and last node made from the item (0
 * when none was: the first item starts at 1). The body_item itself lies in
 * its context's record arena. */
struct body_item {
  char* buffer = nullptr;
  velko_allocation* block = nullptr; /* tracked; the same memory as buffer */
  DWORD length = 0;                  /* bytes in buffer */
  WORD item_number = 0;    /* 0 for the first item */
  DWORD first_ordinal = 0;
  DWORD last_ordinal = 0;
  body_item* next = nullptr;
};

/* Why a load stopped short of the end of the body. */
enum class load_stop_kind : WORD {
  none = 0,
  damaged,        /* a stored header that does not fit its value or its signature */
  too_long,       /* a record longer than a conversion takes (kLargestConvertedRecord) */
  not_converted,  /* a record the conversion refused */
  not_rich_text,  /* a further stored item of the name that is not rich text */
  long_text,      /* an item read as text, too long to be written back as one record */
  out_of_memory,
  unreadable,     /* the host could not give the items: the load's status says why */
};

/* Where and why the last load into a context stopped (load_status not 0):
 * the record that was not loaded, by the ordinal it would have had in the
 * list, the stored item it lies in and its offset in that item's value
 * (type word included). Its stored length and signature are set when its
 * header could be read. A damaged later item ends only itself and the
 * load goes on; the first such record is the one kept, unless a failure
 * that ends the load (memory, the host) comes after it. */
struct load_stop {
  load_stop_kind kind = load_stop_kind::none;
  DWORD ordinal = 0;
  WORD item_number = 0;
  DWORD offset = 0;
  DWORD length = 0;
  WORD signature = 0;
};

/* A body being read or built. Every node of its list lies in its arena,
 * and so does any data a node was given after it was made (NewRecordData);
 * the rest of a node's data lies behind it or in place in a body_item's
 * buffer. Releasing the body releases the arena and the buffers without
 * walking the list. */
struct body_context {
  NOTEHANDLE note = NULLHANDLE;
  const char* item_name = nullptr; /* not owned */
  BLOCKID value_bid = {};
  BLOCKID item_bid = {};
  BLOCKID previous_item_bid = {};
  DWORD value_length = 0;
  WORD data_type = 0;
  char* cursor = nullptr;          /* read or write position in the value copy */
  char* value = nullptr;           /* start of the current value copy (tracked) */
  DWORD record_length = 0;
  WORD record_signature = 0;
  DWORD remaining = 0;
  DWORD output = 0;                /* 1 for a body being built */
  DWORD reserved = 0;
  record_storage* last_written = nullptr;
  body_item* items = nullptr;
  body_item* items_tail = nullptr;
  record_storage* records = nullptr;
  /* Status of the last load into this context: 0 when every record of
   * every item was read, else why the body is incomplete. */
  STATUS load_status = 0;
  load_stop stop = {};
  /* Where the context's nodes, their data and side data, and its
   * body_items are made (RECORD_IN_ARENA); released with the records. */
  record_arena arena = {};
  /* Value copies of a body whose memory this one took over
   * (MoveBodyMemory), which nodes of this list may point into. */
  body_item* retained = nullptr;
  /* How many nodes carry RECORD_MARKED (MarkRecordForRemoval), so that a
   * walk clears the marks of an earlier one only when there are any. */
  DWORD marked = 0;
  /* Records of the last load that the clean-up pass of text runs could
   * change or remove (empty text runs, CDBEGINs of text, pass-through
   * HTML markers); 0 tells that the pass has nothing to do on the body as
   * it was loaded. Not kept up to date once the list changes. */
  DWORD cleanup_candidates = 0;
  /* The last paragraph definition of the load with the highest PABID, and
   * that PABID (null: the load met none); as cleanup_candidates, only for
   * the body as it was loaded. */
  const record_storage* highest_definition = nullptr;
  WORD highest_definition_id = 0;
  /* The last node of the load (null: none), numbered with the count of
   * the nodes loaded; as cleanup_candidates, only for the body as it was
   * loaded. */
  record_storage* loaded_last = nullptr;
  /* The first paragraph definitions and style names of the load, in record
   * order: at most kNotedRecords of each are kept, while the counts go on.
   * As cleanup_candidates, only for the body as it was loaded. */
  static constexpr WORD kNotedRecords = 255;
  record_storage* noted_definitions[kNotedRecords] = {};
  record_storage* noted_style_names[kNotedRecords] = {};
  DWORD noted_definition_count = 0;
  DWORD noted_style_name_count = 0;
};

/* Marks the node of the context's list for removal (RECORD_MARKED). */
inline void MarkRecordForRemoval(body_context* context, record_storage* node) {
  if ((node->flags & RECORD_MARKED) == 0) {
    node->flags |= RECORD_MARKED;
    ++context->marked;
  }
}

/* Reads a stored record header: 0 with length and signature set, 546 when
 * the length or the signature is 0. The header's bytes (2, 4 or 6 by its
 * form) must be readable; the length is not checked against anything. */
STATUS GetBodyRecord(const char* data, DWORD* length, WORD* signature);

/* Loads every item of the name into a record list: the item's own note and
 * item name when note is NULLHANDLE, else note and name (which must then be
 * given). Null for a null item, a missing note or name, or an empty name;
 * else the context (a new one when context is null, which the caller
 * deletes; a given one is emptied first). The load's status is left in the
 * context's load_status; an empty list means nothing was loaded. */
body_context* StoreItemsAndRecords(VelkoRTItem* item, int skipEnvelopes, int reserved,
                                   body_context* context, int plainText, int entityText,
                                   NOTEHANDLE note, const char* name);
/* What stopped the context's last load, in words for a log line or a
 * message: "record 3 is damaged", "record 3 is 64508 bytes, longer than the
 * limit of 64382 bytes", "memory ran out loading record 1", "stored item 2
 * is not rich text", ...; place (may be null) is written right behind the
 * record it names ("record 3 at byte offset 14 is damaged"). Empty when the
 * load was whole. Always terminated within size bytes. */
void DescribeLoadStop(const body_context* context, const char* place, char* text, size_t size);

/* Loads the items of the context's note and name into its (empty) record
 * list. 0 when every record of every item was read; 257 for a damaged
 * record or item, or a record that cannot be converted or written back;
 * 263 when memory runs out; a host status when the items cannot be read.
 * When the body is the item's own (its note, its item name) the item keeps
 * the status in incomplete_load. */
STATUS StoreBodyRecords(VelkoRTItem* item, int skipEnvelopes, int reserved, int plainText,
                        int entityText, body_context* context);

/* Loads a whole stored value (the type word, then stored records, as a CD
 * file holds them) as the connected item's input body, in place of any
 * body it had: the tracked block, of more than length bytes, becomes the
 * body's one stored item, and its records are read where they lie. The
 * block is the body's from then on (released with it), also on failure.
 * The load's status, which the context and the item keep as for a load
 * from the note; the body holds the records before a damaged one. */
STATUS StoreBodyValue(VelkoRTItem* item, velko_allocation* block, DWORD length);
/* As StoreBodyValue for a value that stays the caller's: it must stay
 * where it is, readable and writable (with a byte behind its length), for
 * as long as the item keeps the body; its bytes are written only where a
 * record's pad byte is not 0. */
STATUS StoreBodyValueAt(VelkoRTItem* item, char* value, DWORD length);

/* The item's loaded body (the records the engine walks), loaded from its
 * note when it has none; null for an item that is not connected, an item
 * held in memory without records, or when no context can be had. The item
 * keeps it. */
body_context* ItemBody(VelkoRTItem* item);

/* Frees every node and body_item of the context with its record arena;
 * the context stays, empty. */
void ReleaseItemsRecords(LSXLsiSession* session, body_context* context);
/* Frees one node that is no longer in any list: the node unless it lies in
 * an arena (RECORD_IN_ARENA), and its data when the node owns it. */
void FreeRecordStorage(LSXLsiSession* session, record_storage* node);
/* A node of the context's arena (RECORD_IN_ARENA) with room for `length`
 * bytes of data right behind it (one more 0 byte for an odd length),
 * signature and length set and the rest cleared; null when memory runs
 * out. The caller links it. */
record_storage* NewArenaRecord(LSXLsiSession* session, body_context* context, WORD signature,
                               DWORD length, int line, const char* file);
/* A node of the context's arena whose data is the record at data, which
 * the body holds for as long as the node lives (RECORD_IN_PLACE); null
 * when memory runs out. The caller links it. */
record_storage* NewArenaRecordAt(LSXLsiSession* session, body_context* context, WORD signature,
                                 char* data, DWORD length, int line, const char* file);
/* Bytes of an arena piece for a node, with `dataRoom` bytes of data behind
 * it (0 for a node whose data lies elsewhere). */
constexpr size_t kArenaNodeSize =
    (sizeof(record_storage) + kRecordArenaAlignment - 1) & ~(kRecordArenaAlignment - 1);
constexpr size_t ArenaNodePiece(DWORD dataRoom) {
  return (kArenaNodeSize + dataRoom + kRecordArenaAlignment - 1) & ~(kRecordArenaAlignment - 1);
}
/* A node made in a piece of the context's arena that the caller carved
 * (ArenaNodePiece bytes): as NewArenaRecordAt makes it for the record at
 * data, or, with data null, as NewArenaRecord makes it, its data (room
 * for EvenLength(length) bytes) behind it for the caller to fill. */
inline record_storage* PlaceArenaRecord(void* piece, WORD signature, char* data, DWORD length) {
  auto* node = new (piece) record_storage;
  node->signature = signature;
  node->length = length;
  if (data != nullptr) {
    node->data = data;
    node->flags = RECORD_IN_ARENA | RECORD_IN_PLACE;
    return node;
  }
  node->flags = RECORD_IN_ARENA;
  node->data = static_cast<char*>(piece) + kArenaNodeSize;
  if (length & 1)
    node->data[length] = '\0';
  return node;
}
/* `to` takes over the memory of `from` (its arena, where its nodes lie,
 * and its value copies), so that nodes of `to` may keep pointing at
 * records of `from` once `from` is released; `from` is left empty. */
void MoveBodyMemory(body_context* to, body_context* from);
/* New data for a node of the context's list, of length bytes in the
 * context's arena (one more 0 byte for an odd length): the node's data
 * and length are set to it, and it is returned for the caller to fill;
 * null, with the node unchanged, when memory runs out. */
char* NewRecordData(LSXLsiSession* session, body_context* context, record_storage* node,
                    DWORD length);

/* As ReleaseItemsRecords, and frees the value copy. */
void CleanupBodyContext(LSXLsiSession* session, body_context* context);
/* Cleans up and deletes a context made with NewObject, and clears the
 * pointer; nothing for a null one. */
void DeleteBodyContext(LSXLsiSession* session, body_context*& context);

/* Writes the record list as items of the context's name (the item's name
 * when the context has none) to the context's note (else the item's),
 * starting a further item before one would hold more than kBodyItemSplit
 * bytes of records. 0, or the first failure: the host's allocation status,
 * 257 or 263 for a record that cannot be converted, the failing append's
 * status. Writing stops at the first failure; nothing is rolled back. */
STATUS SaveBodyItems(body_context* context, VelkoRTItem* item);

/* The first record of the body when current is null, else the next one. */
record_storage* GetNextCDRecord(body_context* context, record_storage* current);
record_storage* GetPreviousCDRecord(body_context* context, record_storage* current);

/* Offset in the current stored item just behind the graphic record, where
 * its image records begin: the type word plus the stored lengths (odd ones
 * rounded up) of the graphic and of the records before it back to the
 * item's first record. A node without a stored length is measured by the
 * item's canonical sizes. 0 for a null graphic. */
WORD CalculateImageOffsetWord(VelkoRTItem* item, body_item* current, record_storage* graphic);

/* The largest stored record the writer can hold, and the split point of
 * stored items. The largest record a conversion takes is
 * kLargestConvertedRecord (store/canonical.h). */
constexpr DWORD kBodyBufferSize = kWorkBlockSize;
constexpr DWORD kBodyItemSplit = 49022;
/* The data-type word that opens every stored item value. */
constexpr DWORD kItemTypeWordSize = 2;
/* Text read from an item that is not rich text. */
constexpr WORD kLargestTextItem = 65342;
/* Nesting depth of tables the loader follows. */
constexpr WORD kMaxTableLevel = 10;

#endif
