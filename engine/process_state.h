/*
 * The state of one chunk operation: created by ProcessChunk, handed to
 * every step of the walk (the per-record step, the start and stop tests,
 * the chunk's edges and the action cases) and deleted before ProcessChunk
 * returns. Its generation_context is what the record emitter and every
 * record generator receive.
 *
 * Also the sort key that the row-sorting actions gather on the chunk, and
 * the output of one action step. Filling and reading these is the driver's
 * and the actions' work, not this header's.
 */
#ifndef VELKO_ENGINE_PROCESS_STATE_H
#define VELKO_ENGINE_PROCESS_STATE_H

#include <stddef.h>

#include <unordered_map>
#include <vector>

#include "engine/chunkdef.h"
#include "engine/forward_scan.h"
#include "generate/font_string.h"
#include "host/cdrecords.h"
#include "store/body.h"
#include "store/emitter.h"
#include "velko/velko.h"

struct chunk_append_run;
struct keyword_index;
struct link_matching_info;
struct paragraph_spec;
struct velko_allocation;

/* One key of a row sort. The chunk keeps an array of them (a tracked block
 * of the session, `sort_key_count` entries); their texts are pieces of one
 * record arena that goes with the array, so that a table of many rows
 * costs no tracked block per key. */
struct chunk_sort_key {
  DWORD first_record = 0; /* the row's first record; its position in the comparisons */
  DWORD last_record = 0;
  char* text = nullptr; /* 0-terminated, in the keys' text arena; null for an empty key */
  WORD length = 0;
  DWORD title = 0; /* a title row keeps its place */
};

/* What an action step leaves as the output of the record it was given:
 * the record itself, another buffer (a replacement), or nothing (length
 * 0). A tracked block held for a replacement is released by the frame
 * after the output has been emitted. */
struct chunk_record_output {
  const char* data = nullptr;
  WORD signature = 0;
  DWORD length = 0;
  velko_allocation* block = nullptr;
};

/* A source paragraph id of a chunk append and the id it takes in the
 * output. */
struct append_pabid_pair {
  WORD from = 0;
  WORD to = 0;
};

/* A paragraph definition inside the rows of a row sort: its id, its record
 * number, the key (in sorted order) of the row holding it, and whether the
 * output already holds it ahead of the row. */
struct sorted_row_definition {
  WORD pabid = 0;
  DWORD ordinal = 0;
  WORD key = 0;
  bool written = false;
  const record_storage* node = nullptr;
};

/* Levels of nested CDBEGIN brackets the walk keeps apart. */
constexpr int kMaxBeginNesting = 50;
/* Size of a paragraph definition with its extensions as the engine holds
 * it (CDPABDEFINITION, its extension words and two double words). */
constexpr DWORD kParagraphDefinitionArea = sizeof(_CDPABDEFEXT);
static_assert(kParagraphDefinitionArea == 92);

/* What the case does for a lone text run of one font (known once set),
 * and the FONTID it is emitted in. */
struct lone_run_answer {
  FONTID font = 0;
  FONTID new_font = 0;
  BYTE known = 0;
  BYTE stays = 0;
};
/* A FONTID of an input record changed in place, and what it was. */
struct lane_font_change {
  char* at = nullptr;
  FONTID font = 0;
};

/* Slots of the answers kept, a font's slot taken from its hash: a body's
 * runs use a few hundred fonts at most, and few of them share a slot. */
constexpr unsigned kLoneRunAnswers = 4096;

struct chunk_process_state {
  LSXLsiSession* session = nullptr;
  /* The emitter's context. Its paragraph_copy is the current paragraph
   * definition of the walk (the emitter saves and restores it around the
   * tables it writes) and its paragraph_word the current paragraph
   * reference (a CDPABREFERENCE laid into the double word). */
  generation_context gen;

  DWORD append_row = 0;    /* action 2355 runs */
  DWORD passthru_open = 0; /* the clean-up pass is inside a pass-through run */
  NOTEHANDLE note = NULLHANDLE;
  const char* item_name = nullptr;
  WORD secondary_status = 0;     /* copied to the chunk's at the end when not 0 */
  DWORD not_appending_chunk = 0; /* 1 for every action but 2356 and 2357 */

  WORD action = 0;
  WORD p1 = 0;
  WORD p2 = 0;
  WORD p3 = 0;
  WORD p4 = 0;
  const char* s1 = nullptr;
  const char* s2 = nullptr;

  /* The number of the record being walked, from 1, and its copy. */
  DWORD record_counter = 0;
  DWORD record_counter_copy = 0;
  /* The previous record's signature; during the start and stop tests and
   * the action step the current record's. */
  WORD previous_signature = 0;
  /* The signature of the record handled last. */
  WORD last_handled_signature = 0;

  /* Sort keys moved here from the chunk for one operation, and the arena
   * of their texts. */
  WORD sort_key_count = 0;
  WORD sort_key_next = 0; /* the next key a row sort appends */
  chunk_sort_key* sort_keys = nullptr;
  record_arena sort_key_texts;

  /* The session's last-target range, for Remove (action 2366). */
  DWORD last_target_first = 0;
  DWORD last_target_last = 0;
  /* The records a chunk append copies (the session's found words). */
  DWORD append_target_first = 0;
  DWORD append_target_last = 0;

  /* Nesting of the walk. */
  int32_t depth_hotspot = 0;
  /* Hotspot levels 1 to 64 opened by a V4 hotspot begin with a hotspot
   * begin right after it (one level), bit n - 1 for level n; and whether
   * the last record closed such a level with its hotspot end, so that a V4
   * hotspot end right after it closes nothing more. */
  uint64_t twin_hotspot_levels = 0;
  BYTE twin_end_pending = 0;
  int32_t depth_layer = 0;
  int32_t depth_begin = 0;
  int32_t depth_table = 0;
  WORD ff68_flag = 0; /* inside a large paragraph (0xFF68 bit 0x0001 met) */
  /* The bracketed signature of each open CDBEGIN, levels 1 to 50, and the
   * CDBEGINs opened beyond level 50, which their CDENDs close first. */
  WORD begin_stack[kMaxBeginNesting + 1] = {};
  DWORD begin_overflow = 0;
  DWORD pretable_flag = 0; /* a CDPRETABLEBEGIN announced the table to come */

  DWORD found = 0;             /* a query has answered; 2405 fails without it */
  DWORD chunk_opened_here = 0; /* the chunk opened at the current record */
  DWORD skip_mark = 0;         /* records numbered up to this are dropped */
  DWORD chunk_open = 0;
  /* The first record a writing walk passed over outside the chunk and has
   * not copied yet (0: none), and its node, where copying resumes. */
  DWORD pass_over_mark = 0;
  record_storage* pass_over_node = nullptr;

  /* The run chain: its head, the last clause accepted and the next clause
   * to match (null once every clause is matched). */
  chunkdef_info* first_clause = nullptr;
  chunkdef_info* last_matched = nullptr;
  chunkdef_info* pending = nullptr;
  DWORD end_pattern = 0; /* a CDBEGIN's text run matched an end pattern */
  /* The start tests' scans ahead: to the record that decides a non-blank
   * text, to the first run with text, and to the next naming record. */
  forward_scan nonblank_scan;
  forward_scan text_scan;
  forward_scan naming_scan;
  /* RemoveFields' scan to the field record of a field's records. */
  forward_scan field_scan;

  CDPARAGRAPH paragraph = {}; /* the CDPARAGRAPH template */
  WORD paragraph_template_word = 1;
  DWORD definition_changed = 1;
  DWORD reference_changed = 1;
  WORD found_pabid = 0; /* PABID found for actions 25, 2364 and 2417 */

  /* RetrievePABDEF: the definition found, the PABID wanted, and the
   * highest PABID known to the operation. */
  alignas(4) BYTE retrieved_definition[kParagraphDefinitionArea] = {};
  WORD wanted_pabid = 0;
  WORD last_pabid = 0;
  DWORD retrieved_found = 0; /* a definition was found */

  WORD text_wildcards = 0;
  WORD set_implied_properties = 0;
  DWORD writes = 0;

  DWORD handled = 0;       /* the start or stop test handled the record */
  DWORD stop_matching = 0; /* no more start and stop tests in this walk */

  /* Font specs with the parts they name (first and second font), and the
   * paragraph spec (a tracked block of the session; null when none). */
  font_spec fonts[2] = {};
  font_spec_mask font_masks[2] = {};
  paragraph_spec* paragraph_style = nullptr;

  /* Wiki delimiters: the opening and the closing pair. */
  char wiki_open[3] = {};
  char wiki_close[3] = {};
  link_matching_info* link_matcher = nullptr;

  /* The property keys already written into the answer text of a query,
   * one flag per property id (the attribute renderers set and read them). */
  DWORD attribute_written[32] = {};

  /* Per table level of the output: whether the level keeps the
   * definitions of a generated table apart (the walk's current definition
   * is then left alone), its PABID base, and its current cell. */
  DWORD level_saves_definitions[kEmitterTableLevels] = {};
  WORD level_pabid_base[kEmitterTableLevels] = {};
  WORD level_row[kEmitterTableLevels] = {};
  WORD level_column[kEmitterTableLevels] = {};

  /* The records held around the current text run (the first of them); the
   * text-envelope builders emit them again around new text. */
  record_storage* envelope = nullptr;

  /* The measured margins of the margin queries; the left one counts once
   * a margin has been measured, so that 0 can be the narrowest. */
  WORD measured_left = 0;
  WORD measured_right = 0;
  DWORD measured_left_set = 0;

  /* ExportGraphic has exported the chunk's first image; the bitmap met
   * last was converted to a GIF image (its parts go with it). */
  DWORD image_exported = 0;
  DWORD bitmap_converted = 0;
  /* The removals: the table, hotspot and bracket begins they dropped in
   * the open chunk whose ends they have not met yet, in order. */
  std::vector<const record_storage*> removed_begins;
  /* The removals of hotspots: the begin last kept whole as its end lies
   * past the chunk. */
  const record_storage* kept_begin = nullptr;
  /* What the removals of hotspots, links and sections ask about the
   * records around the one in hand, found in one pass over the walked list
   * at the first question, so that a body of many unclosed begins or
   * unbracketed hotspot parts is not scanned again from each record: for
   * each structure begin, how many records after it the end that closes
   * it stands (a begin nests only in begins of its own signature; none
   * when no end closes it); for each hotspot part, the bracket begin
   * still open before it (null for none); for each bracket of a hotspot
   * begin, the next hotspot begin (none when there is none). */
  struct structure_index {
    bool made = false;
    std::unordered_map<const record_storage*, DWORD> end_distance;
    std::unordered_map<const record_storage*, const record_storage*> open_bracket;
    std::unordered_map<const record_storage*, record_storage*> next_hotspot_begin;
  } removal_index;

  record_storage* current_record = nullptr;
  VelkoRTChunk* chunk = nullptr;
  VelkoRTChunk* other_chunk = nullptr;

  /* Paragraph and table changes: the PABID the paragraphs of the current
   * cell or run take (0: none yet), the last new PABID handed out, and the
   * work areas a changed definition, reference or table record is built
   * in before it is emitted. */
  WORD new_style_id = 0;
  WORD last_new_style_id = 0;
  alignas(4) BYTE paragraph_work[kParagraphDefinitionArea] = {};
  alignas(4) BYTE reference_work[sizeof(CDPABREFERENCE)] = {};
  DWORD merge_steps = 0; /* cell merge: what is awaited or to be dropped */
  /* Row keys: the record number of the table begin walked at each table
   * depth, and that of the table whose rows are keyed, once its first cell
   * fixed it. */
  DWORD key_table_begin[kEmitterTableLevels] = {};
  DWORD key_table = 0;
  DWORD key_table_fixed = 0;
  /* Row labels: the table depth of the table whose rows are labelled. */
  int32_t label_depth = 0;
  /* Pass-through set: the records met so far lie inside a pass-through
   * run (as the item held them, before the chunk's own were dropped). */
  DWORD passthru_inside = 0;
  /* A once-only action has acted (SetImageHotspot's area is written). */
  DWORD once_done = 0;
  /* Table and attribute actions: the done word of the actions that write
   * a record once (row append, HTML values), and the table depth whose end
   * takes an appended row. */
  DWORD table_done = 0;
  int32_t wanted_depth = 0;
  /* HTML values: a bracket for the table's identity record was opened
   * where the chunk opens; a cell of the chunk is open. */
  DWORD html_bracket_open = 0;
  DWORD html_cell_open = 0;
  /* Cell colours: per table depth, the open cell has its colour record. */
  DWORD colored_cells = 0;
  /* Target attributes: the attribute records the chunk holds or has been
   * given (bits of engine/actions_target_properties.cpp), and a graphic
   * bracket opened for them that the chunk's close ends. */
  DWORD target_records = 0;
  DWORD target_bracket_open = 0;
  /* Per layer depth, the open layer has its identity record. */
  DWORD target_layer_identities = 0;
  /* Chunk appends: the records of the body they copy from by ordinal
   * (entry i holds ordinal i + 1), built once per walk for that body. */
  std::vector<record_storage*> append_index;
  const body_context* append_index_body = nullptr;
  /* Chunk appends that copy from another body: the paragraph ids given
   * to the source's ids (first pair of a source id counts), and the run
   * in progress (the chunk layer's; null between runs). */
  std::vector<append_pabid_pair> append_pabid_map;
  chunk_append_run* append_run = nullptr;
  /* A row sort: the definitions inside its rows, by id and record number,
   * gathered at its first row. */
  std::vector<sorted_row_definition> sorted_definitions;
  bool sorted_definitions_gathered = false;
  /* Row append from a template row: the next paragraph, reference and
   * text of the current cell are taken (1 each), the tables nested in the
   * row, the cell's string (null: none) and column, and an empty run owed behind the
   * last reference taken. */
  DWORD row_first_paragraph = 0;
  DWORD row_first_reference = 0;
  DWORD row_first_text = 0;
  WORD row_depth = 0;
  const char* row_cell_string = nullptr;
  WORD row_column = 0;
  DWORD row_run_owed = 0;
  /* The walk's lane (engine/walk.cpp): per signature (LaneSlot), what
   * the per-record step, the action's case and the emitter need of a
   * record; filled when a writing walk starts with the lane on. */
  DWORD lane_on = 0;
  BYTE lane_table[kLaneSlotCount] = {};
  /* Text records the lane may take (engine/text_stream.cpp): what the
   * case does for a lone text run of a font, kept by font in a slot of
   * its own, and the FONTID the run last answered for is emitted in. */
  lone_run_answer lone_runs[kLoneRunAnswers] = {};
  FONTID lone_run_new_font = 0;
  /* The first search of the text record the case last answered for: its
   * node, and where the match stands (-1: none) and the bytes it covers,
   * so that the split of the record, in the lane or in the per-record
   * step, does not search for it again. */
  const record_storage* lone_run_searched = nullptr;
  int32_t lone_run_match_at = -1;
  WORD lone_run_match_length = 0;
  /* Text records of a lasting input that the lane emitted where they lie
   * with a new FONTID: where each FONTID is and what it was, in the order
   * of the walk, to be put back when the operation fails. */
  std::vector<lane_font_change> lane_font_changes;
  /* The input body was loaded by this operation, or by the rendering run
   * that started it (nothing changed it since). */
  DWORD input_loaded_now = 0;
  /* Keyword matching: the keyword table's index (engine/keyword_index.h),
   * once it is made ready for this walk. */
  keyword_index* keywords = nullptr;
};

/* The item whose records the operation walks. */
inline VelkoRTItem* StateItem(const chunk_process_state* state) { return state->gen.item; }

/* The current paragraph definition of the walk. */
inline _CDPABDEFEXT* CurrentDefinition(chunk_process_state* state) {
  return reinterpret_cast<_CDPABDEFEXT*>(state->gen.paragraph_copy);
}

/* The bracketed signature of the innermost open CDBEGIN; 0 when none is
 * open or the innermost lies beyond the levels kept apart. */
inline WORD InnermostBracket(const chunk_process_state* state) {
  if (state->depth_begin <= 0 || state->depth_begin > kMaxBeginNesting || state->begin_overflow > 0)
    return 0;
  return state->begin_stack[state->depth_begin];
}

/* The current paragraph reference of the walk, kept in the double word
 * after the definition. */
CDPABREFERENCE CurrentReference(const chunk_process_state* state);
void SetCurrentReference(chunk_process_state* state, const CDPABREFERENCE& reference);

#endif
