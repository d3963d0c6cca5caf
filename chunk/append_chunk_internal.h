/*
 * What the chunk append's walk (chunk/append_chunk.cpp) and its record
 * step (chunk/append_record.cpp) share: the run of one copying append,
 * which the walk sets up and hangs on the operation's state, and the
 * record step itself.
 *
 * Not here: the row sort's and the row template's copies of the chunk's
 * own rows, which keep to their own paths.
 */
#ifndef VELKO_CHUNK_APPEND_CHUNK_INTERNAL_H
#define VELKO_CHUNK_APPEND_CHUNK_INTERNAL_H

#include <vector>

#include "engine/link_records.h"
#include "engine/process_state.h"
#include "generate/field.h"
#include "store/body.h"

/* One copying append: where the records come from and what the step
 * carries from one record to the next. */
struct chunk_append_run {
  body_context* source = nullptr;    /* the list walked */
  record_storage* current = nullptr; /* the node of the record in hand */
  NOTEHANDLE source_note = NULLHANDLE;
  DBHANDLE source_db = NULLHANDLE;
  /* Added to a source paragraph id without an equal in the target; 0:
   * ids are kept. */
  DWORD base = 0;
  /* The link table a design element's body links through. */
  link_table_items link_items = link_table_items::links_then_form_links;
  /* The records copied, by ordinal (first 0: all of them). */
  DWORD range_first = 0;
  DWORD range_last = 0;
  /* An image resource put inline: its size (0: as stored) and the
   * graphic's property string (may be null). */
  bool image_inline = false;
  WORD image_width = 0;
  WORD image_height = 0;
  const char* image_properties = nullptr;
  /* The signature the last copied CDBEGIN brackets. */
  WORD last_begin_signature = 0;
  /* A range that holds one end of a table, hotspot or bracket and not the
   * other: the ordinals of the ends it holds without their begins, in
   * order, which are not copied, and the begins it holds without their
   * ends, closed where the copy ends (see PairStructures). */
  std::vector<DWORD> unpaired_ends;
  size_t next_unpaired_end = 0;
  std::vector<const record_storage*> unpaired_begins;
  /* The paragraph definition a Section target is closed with, and the one
   * put ahead of a leading reference without a definition. */
  alignas(4) BYTE template_definition[kParagraphDefinitionArea] = {};
  /* The target's paragraph definitions (92-byte zero-filled copies), read
   * once on first need. */
  bool target_definitions_read = false;
  std::vector<_CDPABDEFEXT> target_definitions;
  /* A record changed on its way out (the source stays as it is). */
  std::vector<char> scratch;
  /* The records of the field being copied, by field buffer; empty when
   * none is held. */
  std::vector<BYTE> fields[kFieldBufferCount];
  /* The names of the fields written, registered in "$Fields" where the
   * copy ends (a copy inside another keeps them in the outer copy's). */
  field_names own_names;
  field_names* names = &own_names;
  /* Where each source paragraph id's pair lies in the state's map (its
   * position + 1; 0: no pair), sized to every id on the first pair. */
  std::vector<DWORD> pair_positions;
  /* By signature slot (see AppendLaneRun): the emitter's lane kind of a
   * signature whose records the step passes to the emitter as they are,
   * 0 for one the step must see. Filled once per run. */
  bool lane_on = false;
  BYTE lane_kinds[kLaneSlotCount] = {};
  /* The source is given up to the copy: the lane links its nodes into the
   * output instead of copying them (see TakeLaneNode), and the output
   * that took any keeps the source's memory when the run ends. */
  bool take_nodes = false;
  body_context* taken_by = nullptr;
};

/* One source record (host form, header included; it may be changed in
 * place) through the copy: range, paragraph ids, the image edits, the
 * copy itself and the objects, links and fields it brings. 0 (also for a
 * record dropped), 546 for a record beyond the range, or the failing
 * status. The run must be set on the state. */
STATUS AppendChunk_OneCDRecord(char* record, WORD signature, DWORD length,
                               chunk_process_state* state);

/* Fills the run's lane kinds from what the step does with each signature
 * under the run's settings and the state's action. */
void PrepareAppendLane(chunk_append_run* run, const chunk_process_state* state);

/* Copies the records from node on that the step would hand to the
 * emitter unchanged (in the range, faces that stay) through the emitter's
 * lane, as long as it takes them; the state's counter and current record
 * and the run's current node are left at the last one taken. Returns the
 * first record not taken (node itself when none was); *status is 263 when
 * memory ran out, else 0. */
record_storage* AppendLaneRun(record_storage* node, chunk_process_state* state, STATUS* status);

#endif
