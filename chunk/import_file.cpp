/*
 * AppendImportFile: appends every record of a CD file (the type word 1,
 * then records in stored form) to the body an engine operation builds.
 * The file's font table is merged into the target note and fills the
 * session's face map; paragraph ids move by one fixed base (the session's
 * append word + 125); text runs after the font table get the note's face
 * ids. Records enter the output through the emitter.
 *
 * Not here: turning other files into CD files (the import filters), or
 * deleting a temporary CD file (its caller does).
 */
#include <stddef.h>
#include <string.h>


#include "engine/process_state.h"
#include "engine/services.h"
#include "host/ods.h"
#include "store/rtitem_internal.h"
#include "store/session.h"
#include "velko/velko.h"

namespace {

/* Added to the session's append word: the file's ids land above those an
 * item of ordinary size uses. */
constexpr DWORD kImportPabidOffset = 125;
/* Faces 0-4 are the standard ones every note shares; map targets from 200
 * on are not face ids. */
constexpr BYTE kFirstMappedFace = 5;
constexpr BYTE kFirstInvalidTarget = 200;
constexpr WORD kMapPairs = 255;

struct import_run {
  generation_context* gen = nullptr;
  DWORD base = 0;
};

/* The merge's remap table as the face map: pairs of file face and note
 * face (a face the note could not take has no target and is not mapped). */
void FillFaceMap(_internal_SESS* session) {
  const WORD count = session->face_remap_count < kMapPairs ? session->face_remap_count : kMapPairs;
  for (WORD i = 0; i < count; ++i) {
    session->face_map[i][0] = session->face_remap_source[i];
    session->face_map[i][1] = session->face_remap_target[i];
  }
  session->face_map_count = count;
}

/* Moves the u16 id at offset by the base, when the record holds it; 1027
 * when the id would pass 65535 (it would wrap onto another definition). */
STATUS MoveId(char* record, DWORD length, DWORD offset, DWORD base) {
  if (offset + sizeof(WORD) > length)
    return NOERROR;
  WORD id = 0;
  memcpy(&id, record + offset, sizeof id);
  const DWORD moved = id + base;
  if (moved > 0xFFFF)
    return VELKO_ERR_INVALID_SEQUENCE;
  id = static_cast<WORD>(moved);
  memcpy(record + offset, &id, sizeof id);
  return NOERROR;
}

STATUS MoveParagraphIds(char* record, WORD signature, DWORD length, DWORD base) {
  switch (signature) {
  case SIG_CD_PABFORMULAREF:
    if (STATUS status = MoveId(record, length, offsetof(CDPABFORMULAREF, FirstPABID), base);
        status != NOERROR)
      return status;
    return MoveId(record, length, offsetof(CDPABFORMULAREF, SecondPABID), base);
  case SIG_CD_PABDEFINITION:
    return MoveId(record, length, offsetof(CDPABDEFINITION, PABID), base);
  case SIG_CD_PABHIDE:
    return MoveId(record, length, offsetof(CDPABHIDE, PABID), base);
  case SIG_CD_PABREFERENCE:
    return MoveId(record, length, offsetof(CDPABREFERENCE, PABID), base);
  case SIG_CD_STYLENAME:
    return MoveId(record, length, offsetof(CDSTYLENAME, PABID), base);
  default:
    return NOERROR;
  }
}

/* A text run's face through the face map: faces 0-4 stay, and so does a
 * face without a pair whose target is a face id. */
void MapTextFace(char* record, DWORD length, const _internal_SESS* session) {
  const DWORD faceAt = offsetof(CDTEXT, FontID) + FONTID_FACE_BYTE;
  if (faceAt >= length)
    return;
  const BYTE face = static_cast<BYTE>(record[faceAt]);
  if (face < kFirstMappedFace)
    return;
  for (WORD i = 0; i < session->face_map_count; ++i) {
    if (session->face_map[i][0] == face && session->face_map[i][1] < kFirstInvalidTarget) {
      record[faceAt] = static_cast<char>(session->face_map[i][1]);
      return;
    }
  }
}

} // namespace

/* One record of the file (stored form). A non-zero status ends the file. */
STATUS AppendCDFile_OneCDRecord(char* record, WORD signature, DWORD length, void* context) {
  auto* run = static_cast<import_run*>(context);
  VelkoRTItem* item = run->gen->item;
  _internal_SESS* session = SessionOf(run->gen)->internal;
  if (signature == SIG_CD_FONTTABLE) {
    const STATUS status = item->MergeWithCDFONTTABLE(record, signature, length);
    if (status == NOERROR)
      FillFaceMap(session);
    return status;
  }
  DWORD hostLength = length;
  char* host = item->ConvertFromCanonicalData(record, signature, &hostLength);
  if (host == nullptr)
    return item->internal->conversion_status == VELKO_ERR_MEMORY ? VELKO_ERR_MEMORY
                                                                  : VELKO_ERR_FAILED;
  if (signature == SIG_CD_TEXT) {
    if (session->face_map_count != 0)
      MapTextFace(host, hostLength, session);
  } else if (run->base != 0) {
    if (STATUS status = MoveParagraphIds(host, signature, hostLength, run->base);
        status != NOERROR)
      return status;
  }
  return CopyCDUpdated(host, signature, hostLength, run->gen);
}

STATUS AppendImportFile(const char* path, generation_context* gen) {
  if (gen == nullptr || gen->item == nullptr || gen->item->internal == nullptr)
    return kServiceNotAvailable;
  _internal_SESS* session = SessionOf(gen)->internal;
  import_run run;
  run.gen = gen;
  run.base = session->append_parameter + kImportPabidOffset;
  // The map is empty until the file's own font table is met.
  session->face_map_count = 0;
  const STATUS status = EnumCompositeFile(path, AppendCDFile_OneCDRecord, &run);
  session->face_map_count = 0;
  return status;
}
