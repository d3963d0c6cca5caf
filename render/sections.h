/*
 * Section bars, shared by the record driver (a bar met outside a hotspot)
 * and the hotspot renderer (a bar inside the hotspot that holds the
 * section): one renderer for both, and the closing rule the mail-style
 * bars write when their hotspot ends (render/section_bar.cpp).
 */
#ifndef VELKO_RENDER_SECTIONS_H
#define VELKO_RENDER_SECTIONS_H

#include "render/render_info.h"

/* Renders the CDBAR at the context's current record and makes the record
 * after it current. A mail-style bar (OstrafineSections) other than the
 * mail-header form is remembered for the current hotspot depth
 * (section_id), so that its closing rule is written at the hotspot end.
 * Returns the output's status. */
STATUS RenderSectionBar(html_render_info *context);

/* At a hotspot end: the closing rule of the bar remembered for the depth
 * (when there is one), which is then forgotten. */
void CloseSectionBar(html_render_info *context, WORD depth);

#endif
