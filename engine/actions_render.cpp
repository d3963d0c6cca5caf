/*
 * The rendering action (2419) in the engine: inside the chunk, the first
 * record is remembered and each record becomes the rendering context's
 * current record; where the chunk closes, the renderer renders the chunk
 * from its first record to the last one handed to it.
 *
 * The engine does not read the rendering context: both steps go through
 * the renderer's seams (engine/services.h), which keep the remembered
 * record in the context until the chunk has been rendered.
 */
#include "engine/chunk_state.h"
#include "engine/services.h"
#include "engine/walk.h"

namespace {

html_render_info* RenderContext(const chunk_process_state* state) {
  if (state->chunk == nullptr || state->chunk->internal == nullptr)
    return nullptr;
  return state->chunk->internal->render_context;
}

} // namespace

STATUS ProcessRenderRecord(chunk_process_state* state) {
  html_render_info* context = RenderContext(state);
  if (context == nullptr || state->current_record == nullptr)
    return NOERROR;
  MarkXMLRenderRecord(context, state->current_record);
  return NOERROR;
}

STATUS RenderChunkAtStop(chunk_process_state* state) {
  html_render_info* context = RenderContext(state);
  if (context == nullptr)
    return NOERROR;
  return RenderXMLChunk(state, context);
}
