/*
 * Rendering services whose implementation is not built yet. Each reports
 * that it is not available (1028) and changes nothing, so that a rendering
 * operation fails clearly instead of producing nothing as if it had
 * succeeded.
 */
#include "engine/services.h"

STATUS ProcessXMLStream(html_render_info*, WORD, WORD, WORD) { return kServiceNotAvailable; }

STATUS ConsolidateParagraphForXML(chunk_process_state*, html_render_info*) {
  return kServiceNotAvailable;
}

STATUS PrepareXMLRendering(chunk_process_state*, html_render_info*, DWORD) {
  return kServiceNotAvailable;
}

STATUS FinishXMLRendering(chunk_process_state*, html_render_info*) { return kServiceNotAvailable; }
