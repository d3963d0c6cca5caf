/*
 * The renderers of record families the record driver hands a record to:
 * tables, hotspots and sections, section bars, layers and layout regions,
 * document links and images. Each writes its family's markup and leaves
 * the context's current record past what it consumed.
 */
#ifndef VELKO_RENDER_FAMILY_RENDERERS_H
#define VELKO_RENDER_FAMILY_RENDERERS_H

#include "host/cdrecords.h"
#include "render/render_info.h"

/* A hotspot, link or section from its hotspot-begin record. */
STATUS ProcessXMLHotspot(html_render_info *context, WORD beginSignature, WORD depth);
/* Frees what the hotspot renderer kept for the run (the targets and
 * identity records it looked ahead for, and the hotspot ends it found). */
void ReleaseHotspotMarks(html_render_info *context);
/* A section's title bar (CDBAR). */
STATUS ProcessXMLSectionBar(html_render_info *context, WORD beginSignature);
/* A layer from the CDBEGIN that brackets it (or its CDLAYER), through
 * its CDEND; the status of its content's walk. (render/layer.cpp) */
STATUS ProcessXMLLayer(html_render_info *context, WORD beginSignature, WORD depth);
/* A layout region from its CDLAYOUT record through its CDLAYOUTEND; the
 * status of the last field text rendered. (render/layer.cpp) */
STATUS ProcessXMLLayout(html_render_info *context, WORD depth);
/* A document link (CDLINK2, CDLINKEXPORT2, or a note-link resource in a
 * hotspot) at the current record, which stays current. complete 1 writes
 * the link's icon and closes the anchor; 0 leaves its start tag open after
 * "\">". *inPageAnchor (when given) becomes 1 for a link to an anchor of
 * the note rendered. (render/doclink.cpp) */
STATUS ProcessXMLDoclink(html_render_info *context, WORD beginSignature, WORD depth,
                         WORD complete, DWORD *inPageAnchor);
/* 1 when the link's note UNID names the note (or the note its "$KeepSent"
 * names), else 0, also for a null argument. */
BOOL NotelinkIsCurrentNote(NOTEHANDLE note, const NOTELINK *link);
/* An image from its CDGRAPHIC record. */
STATUS ProcessXMLGraphic(html_render_info *context, WORD beginSignature, WORD depth);

#endif
