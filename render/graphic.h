/*
 * The content id of an image of the rendered rich text, as the image
 * renderer writes it after "cid:" and as a MIME message names the part
 * that carries the image (inside angle brackets). The renderer itself is
 * ProcessXMLGraphic (render/family_renderers.h).
 */
#ifndef VELKO_RENDER_GRAPHIC_H
#define VELKO_RENDER_GRAPHIC_H

#include <stddef.h>

#include <string>
#include <string_view>

#include "render/render_info.h"
#include "store/body.h"
#include "velko/velko.h"

/* "_%d_%.6d%.6x%.8X%.8X": 2 for a JPEG (image type 2), else 1; the item
 * number and the offset word where the image's records lie; the note
 * part of the UNID, its second word first. Upper case; cut to size. */
void ImageContentID(WORD imageType, const position_side_data &position,
                    const UNIVERSALNOTEID &unid, char *out, size_t size);

/* Shared with the attachment links of hotspots. */
/* The last path element of a name from the document, or false when it
 * may not name a file: empty, ".", "..", control bytes, or too long. */
bool RenderCheckedFileName(const char *name, size_t length, std::string *checked);
/* The directory and the name joined with exactly one "/". */
std::string RenderJoinPath(const std::string &directory, const std::string &name);
/* Tells a caller that takes the MIME part in memory of the image
 * resource of the name that the run names by the id, escaped for a URL
 * as the HTML holds it. False when memory ran out. Shared with the
 * background images of table cells. */
bool RenderReportResource(html_render_info *context, std::string_view id, std::string_view name);
/* The database's path under the data directory, with "/" for "\". */
std::string RenderRelativeDatabasePath(const html_render_info *context);
/* The rendered note's UNID (UseUNID=, else its OID) as 32 hex digits. */
std::string RenderNoteUnidText(const html_render_info *context);

#endif
