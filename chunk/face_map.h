/*
 * Text runs copied from another note keep their look only when their font
 * face ids are those of the target note's font table. After a font-table
 * merge the session holds the map from the source note's faces to the
 * target's; the appends and the whole-item copy rewrite copied text runs
 * through it here.
 */
#ifndef VELKO_CHUNK_FACE_MAP_H
#define VELKO_CHUNK_FACE_MAP_H

#include "store/emitter.h"
#include "store/session.h"
#include "velko/host_types.h"

/* The face a copied run of face `face` takes in the target: the mapped
 * face when `face` is 5 or more and the session's map has a pair for it
 * whose target is below 200; else `face` itself. The faces 0-4 are the
 * standard ones every note shares. */
BYTE MappedTextFace(const _internal_SESS* session, BYTE face);

/* Emits a text run (0xFF85, host form, header included) with its face
 * (byte 4) mapped as MappedTextFace says; a run whose face stays, or one
 * too short to hold a face, goes out unchanged. 263 when no memory is
 * left for the changed copy, else the emitter's status. */
STATUS EmitFaceMappedText(const BYTE* record, DWORD length,
                          const _internal_SESS* session,
                          generation_context* context);

#endif
