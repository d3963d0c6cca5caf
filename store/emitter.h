/*
 * The record emitter: the one way a generated or copied CD record enters
 * the body being built for an item. CopyCDUpdated fixes the record up
 * (paragraph-definition ids, cell margins, cell rows, border matching),
 * keeps the nesting of tables and hotspots, refuses records that would make
 * an invalid body, drops records that must not appear, emits held-back
 * paragraph definitions before their first reference, and appends the
 * record as a node of the item's output record list. The small builders
 * below make common records and hand them to it.
 *
 * Also the building of the output body itself (CreateBodyItem,
 * StoreBodyItem, CleanupBodyItems; store/body_builder.cpp).
 *
 * Not here: the text-envelope builders, which need the engine's operation
 * state; writing a record list into a note (store/body.h).
 */
#ifndef VELKO_STORE_EMITTER_H
#define VELKO_STORE_EMITTER_H

#include <stddef.h>
#include <string.h>

#include "host/cdrecords.h"
#include "store/body.h"
#include "store/canonical.h"
#include "velko/velko.h"

struct body_context;
struct html_import_state;
struct record_storage;

/* Table levels the emitter keeps: 0 (outside any table) to 9. */
constexpr DWORD kEmitterTableLevels = 10;
constexpr DWORD kEmitterMaxTableLevel = kEmitterTableLevels - 1;
/* Columns of a table the per-column stores hold; a cell of a later column
 * is refused. */
constexpr WORD kEmitterColumns = 64;
/* Columns whose bottom border is remembered for border matching. */
constexpr WORD kBorderColumns = 30;
/* The largest paragraph record copy the context keeps. */
constexpr DWORD kParagraphCopySize = sizeof(_CDPABDEFEXT);
/* Capacity of one body buffer, and the margin kept free at its end: a
 * further body item starts before a record would pass capacity - margin. */
constexpr DWORD kBodyBufferCapacity = 64382;
constexpr DWORD kBodyBufferMargin = 16384;
/* The largest record the emitter accepts: what a conversion can hold. */
constexpr DWORD kLargestEmittedRecord = kLargestConvertedRecord;

/* Flag word bits of a CDPABDEFINITION that a definition inside a table cell
 * gets when its margins are fitted to the cell. */
constexpr WORD kCellDefinitionFlags = 0x0184;

/* Text states: what the last record appended was. */
enum : BYTE {
  TEXT_STATE_OTHER = 0,
  TEXT_STATE_EMPTY_TEXT = 1, /* a CDTEXT without text */
  TEXT_STATE_TEXT = 2,
  TEXT_STATE_ENVELOPE_END = 3, /* the CDEND of a text envelope */
};

/* What a table level remembers of one column: the left position and width
 * of its cell, and the paragraph definition met first in its first-row
 * cell (length 0 when none). */
struct emitter_column {
  WORD left = 0;
  WORD width = 0;
  WORD definition_length = 0;
  alignas(4) BYTE definition[kParagraphCopySize] = {};
};

/* One open table of the body being built. */
struct emitter_table_level {
  DWORD open = 0;
  DWORD awaiting_first_cell = 0;
  DWORD cell_paragraph = 0; /* a cell began; its first definition is pending */
  DWORD exact_fit = 0;      /* definitions take the cell's margins exactly */
  DWORD spanned_cell = 0;   /* the current cell spans columns */
  WORD column_flags = 0;    /* the current cell's flags hold 0x04 or 0x08 */
  WORD base_position = 0;   /* the table begin's horizontal inter-cell space */
  WORD cell_offset = 0;     /* the current cell's left margin */
  WORD cell_right = 0;      /* the current cell's right margin */
  WORD column = 0;
  WORD row = 0;
  WORD last_reference_pabid = 0; /* of the current cell */
  WORD cell_counter = 0;    /* rows met so far, from 0 */
  WORD saved_pabid = 0;     /* current PAB id at the table begin */
  /* The paragraph record copy and its word, saved at the table begin and
   * restored at the table end. */
  alignas(4) BYTE saved_paragraph[kParagraphCopySize] = {};
  DWORD saved_paragraph_word = 0;
  emitter_column columns[kEmitterColumns] = {};
  /* Columns from 0 up to this one (not included) may have been written;
   * those behind it are as value-initialised. */
  WORD columns_used = 0;
};

/* The output part of an engine operation's state: everything the emitter
 * carries from record to record while one body is built. Large (about
 * 63 KB); the engine holds it inside its heap-allocated operation state.
 * Value-initialised it is ready, with keep_margins 1 as the engine sets it
 * at creation; the engine then sets session and item. */
struct generation_context {
  LSXLsiSession* session = nullptr;
  /* The current body buffer (a body item's buffer). */
  char* write_start = nullptr;
  char* write_position = nullptr;
  DWORD capacity = 0;
  VelkoRTItem* item = nullptr; /* the item whose output body is built */
  /* 1 (from creation): definitions in a cell keep their own margins unless
   * the table fits exactly; 0: they are fitted to the cell. */
  DWORD keep_margins = 1;

  DWORD table_level = 0; /* 0 to kEmitterMaxTableLevel */

  WORD current_pabid = 0;
  WORD forced_pabid = 0; /* used once by the next definition or reference */
  WORD next_pabid = 0;   /* used once by the next reference */
  WORD hotspot_pabid = 0;

  emitter_table_level levels[kEmitterTableLevels] = {};

  /* Border matching: a cell's top border takes the bottom border of the
   * cell above it in the same column. */
  DWORD match_borders = 0;
  BYTE bottom_borders[kBorderColumns] = {};

  /* Hotspots: a file hotspot is open (by begin kind: 0xFFA9, 0xFFAD). */
  DWORD file_hotspot[2] = {};
  DWORD link_hotspot = 0;  /* a link hotspot began: hotspot_pabid is set */
  DWORD hotspot_kind = 0;  /* a hotspot of type 11, or a resource of type 1 or 2 */
  DWORD hotspot_type = 0;  /* a hotspot of type 1 or 22 */
  DWORD in_html = 0;       /* between a 0xFFCC and a 0xFFCD record */

  DWORD after_table = 0;      /* a table ended and no paragraph followed */
  DWORD pass_through = 0;     /* records are appended without checks */
  DWORD restart = 0;          /* a reference marks the whole body (restart) */
  DWORD in_text_envelope = 0; /* inside a CDBEGIN/CDEND bracket of text */
  BYTE text_state = TEXT_STATE_OTHER;

  WORD error_word = 0; /* 20025 after a format error */

  /* While HTML import runs: records go to the import's list instead. */
  html_import_state* import_target = nullptr;

  /* A record that outlives the output body (a record of the body being
   * rebuilt, whose memory the output takes over when the operation
   * succeeds): when it is emitted unchanged, its node points at it instead
   * of holding a copy. Set by the caller around one CopyCDUpdated. */
  const void* lasting_record = nullptr;

  /* The paragraph definition in effect (a CDPABDEFINITION with its
   * extensions) and the word after it; saved at a table begin and
   * restored at its end. */
  alignas(4) BYTE paragraph_copy[kParagraphCopySize] = {};
  DWORD paragraph_word = 0;

  /* The engine operation whose body this is (its chunk_process_state), for
   * the services a generator calls back into it (an image resource copied
   * in); null outside an operation. */
  void* operation = nullptr;
};

/* The session the context works for: its own, else its item's. */
inline LSXLsiSession* SessionOf(const generation_context* context) {
  return context->session != nullptr ? context->session : context->item->session;
}

/* Refuses an operation that would give a paragraph id past 65535, the
 * largest: the message, error word 20025 and 1027, as the emitter refuses
 * a record that would make the body invalid. */
STATUS RefuseParagraphIdPastLargest(generation_context* context);

/* Appends the record (host form, header included) to the output body of
 * context->item, or hands it to the HTML import when one runs. 0 when the
 * record was appended or dropped; 1027 for a record that would make the
 * body invalid, or one larger than kLargestEmittedRecord (error word 20025);
 * a definition left to take the id after the current one when that is
 * 65535 is refused the same way; 263 out of memory; 1028 without a
 * context, item, record or output body;
 * or the status of starting a further body item. */
STATUS CopyCDUpdated(const void* record, WORD signature, DWORD length, generation_context* context);

/* ---- the lane: unchanged records of the body being rebuilt ---- */

/* What the lane does with a record of a signature: nothing (it goes
 * through CopyCDUpdated), or what CopyCDUpdated would do for it when it
 * passes unchanged: a plain record or a text run (with text) is linked
 * as it is, a CDPARAGRAPH also ends the state after a table, a paragraph
 * reference is copied and becomes the reference a later one is folded
 * into, a table cell whose row the emitter would not renumber moves the
 * open table to its cell, a bracket (CDBEGIN, CDEND), a hotspot begin or
 * end or a resource is linked with the text-envelope or hotspot state
 * moved as CopyCDUpdated moves it. */
enum : BYTE {
  EMITTER_LANE_NONE = 0,
  EMITTER_LANE_PLAIN = 1,
  EMITTER_LANE_TEXT = 2,
  EMITTER_LANE_PARAGRAPH = 3,
  EMITTER_LANE_REFERENCE = 4,
  EMITTER_LANE_CELL = 5,
  EMITTER_LANE_STATE = 6,
};
BYTE EmitterLaneKind(WORD signature);

/* Tables by signature over the lane: byte signatures 0x00nn take slots
 * 0-255 and word signatures 0xFFnn slots 256-511; any other signature
 * shares slot 0 (signature 0), which takes nothing. */
constexpr unsigned kLaneSlotCount = 512;
inline unsigned LaneSlot(WORD signature) {
  if (signature < 0x100)
    return signature;
  return signature >= 0xFF00 ? signature - 0xFF00 + 0x100 : 0;
}
inline WORD LaneSlotSignature(unsigned slot) {
  return slot < 0x100 ? static_cast<WORD>(slot) : static_cast<WORD>(0xFF00 + slot - 0x100);
}
/* Bytes ahead of the node and record in hand that a lane prefetches: some
 * 40 records, far enough for memory shared with other work. */
constexpr size_t kLaneLookAhead = 1536;

/* A run of records handed to the lane, between OpenEmitterLane and
 * CloseEmitterLane; nothing else may emit while it is open. */
struct emitter_lane {
  generation_context* context = nullptr;
  body_context* output = nullptr;
  LSXLsiSession* session = nullptr;
  record_storage* tail = nullptr; /* the output's last node */
  DWORD room = 0;                 /* the longest record the lane takes */
  bool lasting = false;           /* nodes point at the records they emit */
  bool references = false;        /* paragraph references may pass */
  WORD last_signature = 0;        /* of the last record taken; 0: none yet */
  WORD last_reference_id = 0;     /* of the last reference taken; 0: none */
  bool paragraph_taken = false;
  bool taken_nodes = false;       /* the tail is a node TakeLaneNode took */
  bool first_cell = false;        /* the open table awaits its first cell */
  /* A piece of the output's arena the run carves its nodes from, so that
   * a node costs no allocation of its own; what is left goes back to the
   * arena when the run closes. */
  char* spare = nullptr;
  size_t spare_room = 0;
};

/* Opens a run: false, with nothing changed, when the context's state
 * sends every record through CopyCDUpdated (HTML import, pass-through,
 * the item's image data, the marker switch). While the open table awaits
 * its first cell, the run takes nothing before a table cell it takes.
 * Records of a lasting body (see lasting_record) are pointed at, others
 * copied. */
bool OpenEmitterLane(generation_context* context, bool lasting, emitter_lane* lane);
/* Links a node the lane made or took at the end of its run's output. */
inline void AppendLaneNode(emitter_lane* lane, record_storage* node) {
  record_storage* tail = lane->tail;
  if (tail == nullptr) {
    node->ordinal = 1;
    lane->output->records = node;
  } else {
    node->ordinal = tail->ordinal + 1;
    node->previous = tail;
    tail->next = node;
  }
  lane->tail = node;
  lane->last_signature = node->signature;
}
/* Takes the record (a node's data, signature and length) of the kind
 * EmitterLaneKind gave: 0 with *taken set when it was appended as
 * CopyCDUpdated would append it; 0 with *taken clear when it needs
 * CopyCDUpdated (close the run first); 263 when memory runs out. */
inline STATUS EmitLaneRecord(emitter_lane* lane, const char* data, WORD signature,
                             DWORD length, BYTE kind, bool* taken);
/* EmitLaneRecord for every kind (EmitLaneRecord itself takes the commonest
 * records without a call). */
STATUS EmitLaneRecordChecked(emitter_lane* lane, const char* data, WORD signature, DWORD length,
                             BYTE kind, bool* taken);
/* A table cell the emitter would leave as it is, pointed at by a node
 * placed at piece (kArenaNodeSize bytes), the open table moved to it as
 * EmitLaneRecordChecked moves it; null, with nothing changed, for any
 * other. Not linked. */
record_storage* PlaceLaneCell(emitter_lane* lane, void* piece, const char* data, WORD signature,
                              DWORD length);
/* A stretch of the commonest records of a lasting body taken one after
 * another: the lane's fields they change are held here, apart from the
 * lane, while it lasts, so that nothing carries from one record to the
 * next through memory. Between OpenLaneBurst and CloseLaneBurst nothing
 * else may use the lane. */
struct lane_burst {
  emitter_lane* lane;
  char* spare;
  char* spare_end;
  record_storage* tail;
  DWORD ordinal; /* of tail */
  DWORD room;
  WORD last_reference_id;
  bool references;
  bool paragraph_taken;
};
/* False, with nothing held, when the lane takes none of its records
 * without EmitLaneRecordChecked (not lasting, awaiting a first cell) or has
 * not taken a record yet. */
inline bool OpenLaneBurst(emitter_lane* lane, lane_burst* burst) {
  if (!lane->lasting || lane->first_cell || lane->tail == nullptr)
    return false;
  burst->lane = lane;
  burst->spare = lane->spare;
  burst->spare_end = lane->spare + lane->spare_room;
  burst->tail = lane->tail;
  burst->ordinal = lane->tail->ordinal;
  burst->room = lane->room;
  burst->last_reference_id = lane->last_reference_id;
  burst->references = lane->references;
  burst->paragraph_taken = lane->paragraph_taken;
  return true;
}
/* Takes the record of the kind as EmitLaneRecordChecked takes it: a
 * plain record, a paragraph or a text run with text, pointed at, or a
 * paragraph reference that may pass, copied, without a call; a table cell
 * through PlaceLaneCell. False, with nothing changed, for any other, or
 * when the spare piece cannot hold its node. */
inline bool LaneBurstTakes(lane_burst* burst, const char* data, WORD signature, DWORD length,
                           BYTE kind) {
  constexpr size_t kReferencePiece = ArenaNodePiece(sizeof(CDPABREFERENCE));
  if (length < BSIG_HEADER_SIZE || length > burst->room)
    return false;
  const size_t room = static_cast<size_t>(burst->spare_end - burst->spare);
  record_storage* made;
  if (kind == EMITTER_LANE_PLAIN || kind == EMITTER_LANE_PARAGRAPH ||
      (kind == EMITTER_LANE_TEXT && length > sizeof(CDTEXT))) {
    if (room < kArenaNodeSize)
      return false;
    made = PlaceArenaRecord(burst->spare, signature, const_cast<char*>(data), length);
    burst->spare += kArenaNodeSize;
    if (kind == EMITTER_LANE_PARAGRAPH)
      burst->paragraph_taken = true;
  } else if (kind == EMITTER_LANE_REFERENCE && length == sizeof(CDPABREFERENCE) &&
             burst->references && burst->tail->signature != SIG_CD_PABREFERENCE &&
             room >= kReferencePiece) {
    WORD id;
    memcpy(&id, data + offsetof(CDPABREFERENCE, PABID), sizeof id);
    if (id == 0)
      return false;
    // A copy: a reference folded into it later is written over its id.
    made = PlaceArenaRecord(burst->spare, signature, nullptr, length);
    memcpy(made->data, data, sizeof(CDPABREFERENCE));
    burst->spare += kReferencePiece;
    burst->last_reference_id = id;
  } else if (kind == EMITTER_LANE_CELL) {
    if (room < kArenaNodeSize)
      return false;
    made = PlaceLaneCell(burst->lane, burst->spare, data, signature, length);
    if (made == nullptr)
      return false;
    burst->spare += kArenaNodeSize;
    burst->last_reference_id = 0;
  } else {
    return false;
  }
  __builtin_prefetch(burst->spare + kLaneLookAhead, 1);
  made->ordinal = ++burst->ordinal;
  made->previous = burst->tail;
  burst->tail->next = made;
  burst->tail = made;
  return true;
}
/* The lane as the records the burst took leave it. */
inline void CloseLaneBurst(emitter_lane* lane, const lane_burst& burst) {
  if (burst.tail != lane->tail)
    lane->last_signature = burst.tail->signature;
  lane->spare = burst.spare;
  lane->spare_room = static_cast<size_t>(burst.spare_end - burst.spare);
  lane->tail = burst.tail;
  lane->last_reference_id = burst.last_reference_id;
  lane->paragraph_taken = burst.paragraph_taken;
}

/* EmitLaneRecord of the commonest records (LaneBurstTakes) without a call. */
inline STATUS EmitLaneRecord(emitter_lane* lane, const char* data, WORD signature,
                             DWORD length, BYTE kind, bool* taken) {
  lane_burst burst;
  if (!OpenLaneBurst(lane, &burst) || !LaneBurstTakes(&burst, data, signature, length, kind))
    return EmitLaneRecordChecked(lane, data, signature, length, kind, taken);
  CloseLaneBurst(lane, burst);
  *taken = true;
  return NOERROR;
}

/* As EmitLaneRecord, but the node always holds a copy, in which the
 * `count` bytes at `at` are replaced by `bytes`: bytes the lane does not
 * read (a text record's FONTID; not a reference's nor a cell's). */
STATUS EmitLaneRecordChanged(emitter_lane* lane, const char* data, WORD signature, DWORD length,
                             BYTE kind, DWORD at, const void* bytes, DWORD count, bool* taken);
/* As EmitLaneRecordChanged, but the copy is made of two parts: `headLength`
 * bytes from head, then the rest of the record's length from rest (a piece
 * of a text record: its header, then a stretch of text). */
inline STATUS EmitLaneRecordInParts(emitter_lane* lane, WORD signature, DWORD length, BYTE kind,
                                    const void* head, DWORD headLength, const char* rest,
                                    bool* taken);
STATUS EmitLaneRecordInPartsChecked(emitter_lane* lane, WORD signature, DWORD length, BYTE kind,
                                    const void* head, DWORD headLength, const char* rest,
                                    bool* taken);
/* A text run with text while the run's spare piece holds its node and
 * data, without a call; any other record goes to the checked one. */
inline STATUS EmitLaneRecordInParts(emitter_lane* lane, WORD signature, DWORD length, BYTE kind,
                                    const void* head, DWORD headLength, const char* rest,
                                    bool* taken) {
  // As in EmitLaneRecord: the memory of the nodes to come is asked for ahead.
  if (lane->spare != nullptr)
    __builtin_prefetch(lane->spare + kLaneLookAhead, 1);
  const size_t piece = ArenaNodePiece(EvenLength(length));
  if (kind != EMITTER_LANE_TEXT || lane->first_cell || length <= sizeof(CDTEXT) ||
      length > lane->room || headLength > length || piece > lane->spare_room)
    return EmitLaneRecordInPartsChecked(lane, signature, length, kind, head, headLength, rest,
                                        taken);
  record_storage* node = PlaceArenaRecord(lane->spare, signature, nullptr, length);
  lane->spare += piece;
  lane->spare_room -= piece;
  memcpy(node->data, head, headLength);
  memcpy(node->data + headLength, rest, length - headLength);
  AppendLaneNode(lane, node);
  *taken = true;
  return NOERROR;
}
/* As EmitLaneRecord, but links the node itself (no copy) when the lane
 * takes its record: a node of an arena, its data in the arena or in a
 * value copy of its body, out of a list that is given up (its memory goes
 * to the output with MoveBodyMemory before either is released). Its next
 * is left to the walk until the run closes. False, with nothing changed,
 * when the record needs CopyCDUpdated or the node is not of an arena. */
inline bool TakeLaneNode(emitter_lane* lane, record_storage* node, BYTE kind);
/* TakeLaneNode for every kind (TakeLaneNode itself takes the commonest
 * nodes without a call). */
bool TakeLaneNodeChecked(emitter_lane* lane, record_storage* node, BYTE kind);
/* A plain record, a paragraph, a text run with text or a paragraph
 * reference that may pass, of an arena and of a length the lane takes:
 * linked as TakeLaneNodeChecked links it. Any other goes to it. */
inline bool TakeLaneNode(emitter_lane* lane, record_storage* node, BYTE kind) {
  const DWORD length = node->length;
  WORD id = 0;
  bool quick = false;
  if (kind == EMITTER_LANE_PLAIN || kind == EMITTER_LANE_PARAGRAPH)
    quick = true;
  else if (kind == EMITTER_LANE_TEXT)
    quick = length > sizeof(CDTEXT);
  else if (kind == EMITTER_LANE_REFERENCE && length == sizeof(CDPABREFERENCE) &&
           lane->references &&
           (lane->tail == nullptr || lane->tail->signature != SIG_CD_PABREFERENCE)) {
    memcpy(&id, node->data + offsetof(CDPABREFERENCE, PABID), sizeof id);
    quick = id != 0;
  }
  if (!quick || (node->flags & (RECORD_IN_ARENA | RECORD_OWNS_DATA)) != RECORD_IN_ARENA ||
      lane->first_cell || length < BSIG_HEADER_SIZE || length > lane->room)
    return TakeLaneNodeChecked(lane, node, kind);
  // As a node EmitLaneRecord makes: of the arena, data where it lies, no
  // stored length or side data; its next stays until the run closes.
  node->flags &= static_cast<WORD>(RECORD_IN_ARENA | RECORD_IN_PLACE);
  node->stored_length = 0;
  lane->taken_nodes = true;
  AppendLaneNode(lane, node);
  if (kind == EMITTER_LANE_PARAGRAPH)
    lane->paragraph_taken = true;
  else if (kind == EMITTER_LANE_REFERENCE)
    lane->last_reference_id = id;
  return true;
}
/* Ends the run: the context's state as the records taken leave it. */
void CloseEmitterLane(emitter_lane* lane);
/* Whether the lane is used; a test may turn it off (store/emitter_lane_testing.h). */
bool EmitterLaneOn();

/* A CDTEXT of the text, with the 8-byte header (its FONTID is kept; its
 * signature and length are set) or the default font (face 1, size 10). */
STATUS GenerateCDText(const char* text, int length, const void* header,
                      generation_context* context);
/* A CDBEGIN (0xDD) or CDEND (0xDE) bracketing records of the signature. */
STATUS GenerateCDBegin(WORD signature, WORD version, generation_context* context);
STATUS GenerateCDEnd(WORD signature, WORD version, generation_context* context);
/* A colour record of the signature: the flags with 0x0001 (RGB given) and
 * the red, green and blue bytes of rgb (bits 0-7, 8-15, 16-23). */
STATUS GenerateCDColorValue(BYTE signature, DWORD rgb, WORD flags, generation_context* context);
/* The 20-byte cell data record of HTML import under the signature. */
STATUS GenerateTableCellData(BYTE signature, DWORD first, DWORD second,
                             generation_context* context);
/* A CDTABLELABEL: the label cut to 127 characters, and the flags. */
STATUS GenerateTabLabel(WORD flags, const char* label, WORD length, generation_context* context);

/* Adds a tracked copy of the paragraph definition record (its length taken
 * from its header) to the session's saved definitions, which the emitter
 * writes again before the first reference to its id; the list grows as
 * needed. 0; 1028 for a record that is no CDPABDEFINITION; 263 when memory
 * runs out. The list and its entries are tracked blocks of the session. */
STATUS SaveParagraphDefinition(LSXLsiSession* session, const void* record);

/* Frees the session's saved definitions and their list. */
void ReleaseSavedDefinitions(LSXLsiSession* session);

/* ---- the output body (store/body_builder.cpp) ---- */

/* Starts a body item of the output body: makes the item's output body
 * context when there is none, a buffer of kBodyBufferCapacity bytes as the
 * context's write area, and a body_item numbered after the last one. 0,
 * 263 out of memory, 1028 without a context, item or session. */
STATUS CreateBodyItem(generation_context* context);
/* Closes the current body item: its byte length and its last ordinal. 0,
 * or 1028 when no body item is open. */
STATUS StoreBodyItem(generation_context* context);
/* Releases the write buffers of the output body's items from index first
 * on (the records stay) and forgets the write area when its buffer went. */
void CleanupBodyItems(generation_context* context, WORD first);

/* GenerateCDText with a header and `length` bytes of text, the record
 * built straight into its output node (no copy of the whole record on the
 * way); what it emits is what GenerateCDText emits. */
STATUS GenerateCDTextDirect(const void* header, const char* text, DWORD length,
                            generation_context* context);

#endif
