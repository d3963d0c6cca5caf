/*
 * The work of the wrapping and re-ordering actions where a chunk opens or
 * closes: a link or a section around the chunk, the rows of a table
 * appended again in the order of their sort keys, and the image-map area
 * that SetImageHotspot adds once. The chunk's edges (engine/edges.cpp)
 * route these actions here; SetImageHotspot's own step inside the chunk
 * (engine/actions_removal.cpp) adds the area with AddImageHotspot.
 *
 * Not here: the appends at the chunk's edges (engine/appends.cpp)
 * and the property and sort-key work (engine/actions_property_set.cpp).
 */
#ifndef VELKO_ENGINE_EDGES_WRAP_H
#define VELKO_ENGINE_EDGES_WRAP_H

#include "velko/velko.h"

struct chunk_process_state;
struct record_storage;

/* Actions whose edge work is here. */
bool HasWrapWork(WORD action);

/* Where the chunk opens: the link or section begin, or the sorted rows. */
STATUS WrapWorkAtChunkStart(chunk_process_state* state);
/* Where the chunk closes: the link or section end, or the image-map area
 * when the chunk held no image. */
STATUS WrapWorkAtChunkStop(chunk_process_state* state);

/* One area of an image map from the session's hotspot code and the
 * operation's shape (s2) and properties (s1), joining the map that
 * `current` closes or opening a new one after it (null: a new map). */
STATUS AddImageHotspot(record_storage* current, chunk_process_state* state);

#endif
