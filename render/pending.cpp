/*
 * Rendering services whose implementation is not built yet: the record
 * driver and the paragraph consolidation. Each reports that it is not
 * available (1028) and changes nothing, so that a rendering operation
 * fails clearly instead of producing nothing as if it had succeeded.
 */
#include "engine/services.h"

STATUS ProcessXMLStream(html_render_info *, WORD, WORD, WORD) { return kServiceNotAvailable; }

STATUS ConsolidateParagraphForXML(chunk_process_state *, html_render_info *) {
  return kServiceNotAvailable;
}
