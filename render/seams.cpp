/*
 * The renderers of record families not built yet (render/record_seams.h):
 * each renderer consumes only the record it is called for (links and
 * images leave that to the driver, as their renderers will) and writes
 * nothing.
 */
#include "render/record_seams.h"

#include "store/body.h"

namespace {

STATUS ConsumeCurrent(html_render_info *context) {
  if (context->current_record != nullptr)
    context->current_record = context->current_record->next;
  return NOERROR;
}

} // namespace

STATUS ProcessXMLLayer(html_render_info *context, WORD, WORD) { return ConsumeCurrent(context); }

STATUS ProcessXMLLayout(html_render_info *context, WORD) { return ConsumeCurrent(context); }

