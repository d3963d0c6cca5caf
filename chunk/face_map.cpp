/*
 * Face mapping of copied text runs: see chunk/face_map.h.
 */
#include "chunk/face_map.h"

#include <new>
#include <vector>

#include "host/cdrecords.h"
#include "velko/status.h"

namespace {
constexpr BYTE kFirstNoteFace = 5;
constexpr BYTE kFirstUnusableTarget = 200;
constexpr DWORD kFaceOffset = 4;
} // namespace

BYTE MappedTextFace(const _internal_SESS* session, BYTE face) {
  if (session == nullptr || face < kFirstNoteFace)
    return face;
  const WORD count = session->face_remap_count;
  for (WORD i = 0; i < count && i < sizeof session->face_remap_source; ++i) {
    if (session->face_remap_source[i] == face)
      return session->face_remap_target[i] < kFirstUnusableTarget
                 ? session->face_remap_target[i]
                 : face;
  }
  return face;
}

STATUS EmitFaceMappedText(const BYTE* record, DWORD length,
                          const _internal_SESS* session,
                          generation_context* context) {
  if (length <= kFaceOffset)
    return CopyCDUpdated(record, SIG_CD_TEXT, length, context);
  const BYTE face = MappedTextFace(session, record[kFaceOffset]);
  if (face == record[kFaceOffset])
    return CopyCDUpdated(record, SIG_CD_TEXT, length, context);
  std::vector<BYTE> copy;
  try {
    copy.assign(record, record + length);
  } catch (const std::bad_alloc&) {
    return VELKO_ERR_MEMORY;
  }
  copy[kFaceOffset] = face;
  return CopyCDUpdated(copy.data(), SIG_CD_TEXT, length, context);
}
