/*
 * The rendering context's part in the engine's rendering action: before
 * the walk, the target type of the last clause, whether the operation
 * renders at the end, and the lookup tables of the item's paragraph
 * definitions and style names; inside each chunk, the records handed to
 * the context; at each chunk's stop, the rendering of the chunk; after the
 * walk, the final flush of an operation that renders at the end.
 *
 * The engine calls these through engine/services.h; what is rendered is
 * the driver's (ProcessXMLStream).
 */
#include "engine/chunkdef.h"
#include "engine/process_state.h"
#include "engine/services.h"
#include "host/cdrecords.h"
#include "host/nsfdb.h"
#include "render/render_info.h"
#include "store/body.h"
#include "store/emitter.h"
#include "store/rtitem_internal.h"
#include "store/session.h"

namespace {

const chunkdef_info *LastClause(const chunk_process_state *state) {
  const chunkdef_info *clause = state->first_clause;
  while (clause != nullptr && clause->run_next != nullptr)
    clause = clause->run_next;
  return clause;
}

static_assert(body_context::kNotedRecords >= kLookupSlots - 1,
              "the load keeps as many records of a kind as a lookup table holds");

/* A lookup table from what the load kept: the first records of the kind,
 * as many as the table holds. */
WORD CopyNoted(record_storage *const *noted, DWORD count, record_storage **table) {
  const WORD taken = static_cast<WORD>(count < kLookupSlots - 1 ? count : kLookupSlots - 1);
  for (WORD i = 0; i < taken; ++i)
    table[i + 1] = noted[i];
  return taken;
}

/* Every CDPABDEFINITION and CDSTYLENAME of the item in record order, from
 * slot 1; slot 0 stays empty. On a body this operation or its run loaded,
 * from the records its load kept, without walking the list. */
void FillLookupTables(html_render_info *context, const body_context *input, bool asLoaded) {
  context->pabdef_count = 0;
  context->style_name_count = 0;
  context->pabdef_records[0] = nullptr;
  context->style_name_records[0] = nullptr;
  if (input == nullptr)
    return;
  if (asLoaded) {
    context->pabdef_count = CopyNoted(input->noted_definitions, input->noted_definition_count,
                                      context->pabdef_records);
    context->style_name_count = CopyNoted(
        input->noted_style_names, input->noted_style_name_count, context->style_name_records);
    return;
  }
  for (record_storage *node = input->records; node != nullptr; node = node->next) {
    PrefetchRecordsAhead(node);
    if (node->signature == SIG_CD_PABDEFINITION && context->pabdef_count < kLookupSlots - 1)
      context->pabdef_records[++context->pabdef_count] = node;
    else if (node->signature == SIG_CD_STYLENAME && context->style_name_count < kLookupSlots - 1)
      context->style_name_records[++context->style_name_count] = node;
  }
}

/* The character set and the replica information the renderers read. */
void SetDatabaseInformation(const chunk_process_state *state, html_render_info *context) {
  context->session_nls = state->session != nullptr ? state->session->internal->nls_info : nullptr;
  const VelkoRTItem *item = StateItem(state);
  if (item == nullptr || item->db == NULLHANDLE)
    return;
  // Only a link into this very database reads the replica ID, to take its
  // shorter form; unread, the ID is none, and such a link names its
  // replica as any other link does.
  if (NSFDbReplicaInfoGet(item->db, &context->replica_info) != NOERROR)
    context->replica_info = DBREPLICAINFO{};
}

} // namespace

STATUS PrepareXMLRendering(chunk_process_state *state, html_render_info *context,
                           DWORD hasExtraClauses) {
  // The rendering action runs only inside a rendering entry point.
  if (context == nullptr)
    return kServiceNotAvailable;
  const chunkdef_info *last = LastClause(state);
  if (last != nullptr &&
      (last->relation == RELATION_CONTAINS || last->relation == RELATION_STARTS_WITH))
    context->target_type = last->target_type;
  context->render_at_end = hasExtraClauses != 0 ? 1 : 0;
  const VelkoRTItem *item = StateItem(state);
  const body_context *input =
      item != nullptr && item->internal != nullptr ? item->internal->input : nullptr;
  // A body the run loaded for this walk (to size its output) is as its
  // load left it, as one the operation loads itself.
  if (context->body_loaded_by_run != 0 && input != nullptr)
    state->input_loaded_now = 1;
  FillLookupTables(context, input, state->input_loaded_now != 0 && EmitterLaneOn());
  SetDatabaseInformation(state, context);
  return NOERROR;
}

STATUS FinishXMLRendering(chunk_process_state *state, html_render_info *context) {
  if (context == nullptr || context->render_at_end == 0)
    return NOERROR;
  if ((context->flags2 & html_flags2::ConsolidatePABIDS) != 0) {
    if (STATUS status = ConsolidateParagraphForXML(state, context); status != NOERROR)
      return status;
  }
  SetDatabaseInformation(state, context);
  return ProcessXMLStream(context, 0, 0, 2);
}

void MarkXMLRenderRecord(html_render_info *context, record_storage *record) {
  if (context == nullptr || record == nullptr)
    return;
  if (context->first_record == nullptr)
    context->first_record = record;
  context->current_record = record;
}

STATUS RenderXMLChunk(chunk_process_state *state, html_render_info *context) {
  if (context == nullptr || context->first_record == nullptr)
    return NOERROR;
  context->state = state;
  context->last_record = context->current_record;
  context->current_record = context->first_record;
  STATUS status = NOERROR;
  if ((context->flags2 & html_flags2::ConsolidatePABIDS) != 0)
    status = ConsolidateParagraphForXML(state, context);
  if (status == NOERROR) {
    SetDatabaseInformation(state, context);
    status = ProcessXMLStream(context, 0, 0, context->render_at_end != 0 ? 1 : 0);
  }
  context->first_record = nullptr;
  context->state = nullptr;
  return status;
}
