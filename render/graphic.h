/*
 * The content id of an image of the rendered rich text, as the image
 * renderer writes it after "cid:" and as a MIME message names the part
 * that carries the image (inside angle brackets). The renderer itself is
 * ProcessXMLGraphic (render/record_seams.h).
 */
#ifndef VELKO_RENDER_GRAPHIC_H
#define VELKO_RENDER_GRAPHIC_H

#include <stddef.h>

#include "store/body.h"
#include "velko/velko.h"

/* "_%d_%.6d%.6x%.8X%.8X": 2 for a JPEG (image type 2), else 1; the item
 * number and the offset word where the image's records lie; the note
 * part of the UNID, its second word first. Upper case; cut to size. */
void ImageContentID(WORD imageType, const position_side_data &position,
                    const UNIVERSALNOTEID &unid, char *out, size_t size);

#endif
