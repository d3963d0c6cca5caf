/*
 * The note's font table ("$Fonts") as a rich-text item sees it: loading it
 * into the item's face table, finding or adding a face by name, and merging
 * another note's table (or a CDFONTTABLE record) into the item's note while
 * filling the session's face-id remap table.
 *
 * "$Fonts" holds one CDFONTTABLE record in stored form (signature 0xFF8B,
 * length, face count) followed by its CDFACE structures. Whenever this file
 * replaces "$Fonts" it keeps the old value when the new one cannot be
 * written, and changes the item's face table only after the note holds the
 * new table. Rewriting the face ids of copied text runs is not done here.
 *
 * A damaged "$Fonts" (too short for its header, or with fewer whole faces
 * than its header counts) is logged, naming the note, and read as the faces
 * it holds whole: nothing past the value's end is read, and the body of the
 * note still loads on those faces.
 */

#include <algorithm>
#include <cstring>

#include "host/cdrecords.h"
#include "host/nls.h"
#include "host/nsfnote.h"
#include "host/ods.h"
#include "host/oslog.h"
#include "host/osmem.h"
#include "host/status.h"
#include "store/canonical.h"
#include "store/host_release.h"
#include "store/owned_text.h"
#include "store/rtitem_internal.h"
#include "store/session.h"
#include "store/tracked_memory.h"
#include "velko/status.h"

namespace {

constexpr char kFontsItem[] = "$Fonts";
constexpr WORD kFontsItemLength = sizeof kFontsItem - 1;
/* Faces of "$Fonts" that fit behind the standard faces of the face table. */
constexpr WORD kNoteFaceSlots = kFaceTableSlots - kStandardFaces;
/* Entries of the session's remap table. */
constexpr WORD kRemapEntries = 255;
constexpr BYTE kNoTargetFace = 0xFF;
constexpr BYTE kHighestStandardFace = 4;
constexpr int kHighestFaceId = 255;
/* Characters of a face name that are stored and compared. */
constexpr size_t kFaceNameChars = 31;

WORD HeaderSize() { return ODSLength(ODS_CDFONTTABLE); }
WORD FaceSize() { return ODSLength(ODS_CDFACE); }

DWORD TableSize(DWORD faces) { return HeaderSize() + faces * FaceSize(); }

/* The table's header, all zero when the bytes available cannot hold it. */
CDFONTTABLE ReadHeader(const char* table, DWORD available) {
  CDFONTTABLE header = {};
  if (table == nullptr || available < HeaderSize())
    return header;
  const void* cursor = table;
  ODSReadMemory(&cursor, ODS_CDFONTTABLE, &header, 1);
  return header;
}

/* The number of faces the table holds: its face count, cut to what its
 * own length and the bytes available can hold. */
WORD CountFaces(const char* table, DWORD available) {
  if (table == nullptr || available < HeaderSize())
    return 0;
  const CDFONTTABLE header = ReadHeader(table, available);
  DWORD bytes = std::min<DWORD>(available, header.Header.Length);
  if (bytes < HeaderSize())
    return 0;
  DWORD fit = (bytes - HeaderSize()) / FaceSize();
  return static_cast<WORD>(std::min<DWORD>(header.Fonts, fit));
}

/* Face `index` of the table, its name always NUL-terminated. */
CDFACE ReadFace(const char* table, WORD index) {
  CDFACE face = {};
  const void* cursor = table + HeaderSize() + static_cast<DWORD>(index) * FaceSize();
  ODSReadMemory(&cursor, ODS_CDFACE, &face, 1);
  face.Name[kFaceNameChars] = '\0';
  return face;
}

void WriteFace(char* table, WORD index, const CDFACE& face) {
  void* cursor = table + HeaderSize() + static_cast<DWORD>(index) * FaceSize();
  ODSWriteMemory(&cursor, ODS_CDFACE, &face, 1);
}

void WriteHeader(char* table, WORD faces) {
  CDFONTTABLE header = {};
  header.Header.Signature = SIG_CD_FONTTABLE;
  header.Header.Length = static_cast<WORD>(TableSize(faces));
  header.Fonts = faces;
  void* cursor = table;
  ODSWriteMemory(&cursor, ODS_CDFONTTABLE, &header, 1);
}

CDFACE MakeFace(BYTE id, BYTE family, const char* name) {
  CDFACE face = {};
  face.Face = id;
  face.Family = family;
  CopyCutText(face.Name, name, kFaceNameChars);
  return face;
}

BYTE LowerAscii(BYTE c) { return (c >= 'A' && c <= 'Z') ? static_cast<BYTE>(c + ('a' - 'A')) : c; }

/* True when two face names are the same without regard to the case of
 * ASCII letters; the bytes of a multi-byte character must be the same, so
 * that a case difference in a trail byte never makes two names one. */
bool SameFaceName(const char* a, const char* b) {
  size_t at = 0;
  for (;;) {
    const BYTE x = static_cast<BYTE>(a[at]);
    if (x == '\0' || b[at] == '\0')
      return x == static_cast<BYTE>(b[at]);
    const WORD bytes = NLS_isleadbyte(x, nullptr) ? CharacterBytes(a + at) : 1;
    if (bytes == 1) {
      if (LowerAscii(x) != LowerAscii(static_cast<BYTE>(b[at])))
        return false;
      ++at;
      continue;
    }
    for (const size_t end = at + bytes; at < end; ++at) {
      if (a[at] != b[at])
        return false;
      if (a[at] == '\0')
        return true;
    }
  }
}

/* Index of the first face whose name equals `name` (as a face keeps it,
 * cut to its stored length) without regard to case; -1 when none. */
int FindFace(const char* table, WORD faces, const char* name) {
  char kept[kFaceNameChars + 1];
  CopyCutText(kept, name, kFaceNameChars);
  for (WORD i = 0; i < faces; ++i) {
    if (SameFaceName(ReadFace(table, i).Name, kept))
      return i;
  }
  return -1;
}

int HighestFaceId(const char* table, WORD faces) {
  int highest = kHighestStandardFace;
  for (WORD i = 0; i < faces; ++i)
    highest = std::max<int>(highest, ReadFace(table, i).Face);
  return highest;
}

/* The note's "$Fonts" item; its value stays locked until Unlock. */
struct FontsItem {
  BLOCKID item = {};
  BLOCKID value = {};
  DWORD length = 0; /* value length, type word included */
  WORD type = 0;
  const char* table = nullptr; /* the value behind its type word */
  bool locked = false;

  DWORD TableBytes() const { return length > sizeof(WORD) ? length - sizeof(WORD) : 0; }
  WORD Faces() const { return CountFaces(table, TableBytes()); }
  void Unlock() {
    if (locked)
      OSUnlockBlock(value);
    locked = false;
  }
};

unsigned long NoteIdOf(NOTEHANDLE note) {
  NOTEID id = 0;
  NSFNoteGetInfo(note, _NOTE_ID, &id);
  return id;
}

/* Logs what is wrong with a "$Fonts" value that cannot be read as it
 * says: too short for its header, or fewer whole faces than its header
 * counts. A sound value logs nothing. */
void LogDamagedFonts(NOTEHANDLE note, const FontsItem& fonts) {
  const DWORD bytes = fonts.TableBytes();
  if (bytes < HeaderSize()) {
    AddInLogMessageText("Font table $Fonts of note 0x%lX is damaged: its %lu bytes cannot hold "
                        "its header, so it names no face",
                        0, NoteIdOf(note), static_cast<unsigned long>(bytes));
    return;
  }
  const WORD claimed = ReadHeader(fonts.table, bytes).Fonts;
  const WORD held = fonts.Faces();
  if (held < claimed)
    AddInLogMessageText("Font table $Fonts of note 0x%lX is damaged: its header counts %u "
                        "faces but it holds %u; only those are used",
                        0, NoteIdOf(note), static_cast<unsigned>(claimed),
                        static_cast<unsigned>(held));
}

/* Reads and locks "$Fonts": 0; ERR_ITEM_NOT_FOUND when the note has none;
 * 257 when its value is not composite; any other host error. A damaged
 * value is logged and read as the faces it holds whole. */
STATUS ReadFontsItem(NOTEHANDLE note, FontsItem* fonts) {
  STATUS status = NSFItemInfo(note, kFontsItem, kFontsItemLength, &fonts->item, &fonts->type,
                              &fonts->value, &fonts->length);
  if ((status & STATUS_CODE_MASK) == ERR_ITEM_NOT_FOUND)
    return ERR_ITEM_NOT_FOUND;
  if (status != NOERROR)
    return status;
  if (fonts->type != TYPE_COMPOSITE) {
    AddInLogMessageText("Font table $Fonts of note 0x%lX is not composite data (type %u)",
                        VELKO_ERR_FAILED, NoteIdOf(note), static_cast<unsigned>(fonts->type));
    return VELKO_ERR_FAILED;
  }
  const char* value = static_cast<const char*>(OSLockBlock(fonts->value));
  if (value == nullptr)
    return VELKO_ERR_MEMORY;
  fonts->locked = true;
  fonts->table = value + std::min<DWORD>(fonts->length, sizeof(WORD));
  LogDamagedFonts(note, *fonts);
  return NOERROR;
}

STATUS AppendFonts(NOTEHANDLE note, WORD type, const void* table, DWORD length) {
  return NSFItemAppend(note, 0, kFontsItem, kFontsItemLength, type, table, length);
}

/* Replaces "$Fonts" by the table. When the new value cannot be appended
 * the old one (still locked, so still readable) is put back. */
STATUS ReplaceFonts(NOTEHANDLE note, const FontsItem& old, WORD type, const char* table,
                    DWORD length) {
  STATUS status = NSFItemDelete(note, kFontsItem, kFontsItemLength);
  if (status != NOERROR)
    return status;
  status = AppendFonts(note, type, table, length);
  if (status != NOERROR) // putting the old table back is all that is left to try
    static_cast<void>(AppendFonts(note, old.type, old.table, old.TableBytes()));
  return status;
}

}  // namespace

/* Loads the face table from a table whose bytes are known. */
static void RecordFaces(_internal_RTITEM* state, const char* table, DWORD available) {
  WORD faces = std::min(CountFaces(table, available), kNoteFaceSlots);
  for (WORD i = 0; i < faces; ++i) {
    CDFACE face = ReadFace(table, i);
    font_face& slot = state->faces[kStandardFaces + i];
    slot.id = face.Face;
    slot.family = face.Family;
    std::memcpy(slot.name, face.Name, sizeof slot.name);
  }
  state->face_count = static_cast<WORD>(kStandardFaces + faces);
}

STATUS VelkoRTItem::RecordFontFaces(const char* table) {
  if (internal == nullptr)
    return NOERROR;
  if (table == nullptr) {
    internal->face_count = kStandardFaces;
    return NOERROR;
  }
  // The table's own length bounds what is read.
  RecordFaces(internal, table, 0xFFFF);
  return NOERROR;
}

STATUS VelkoRTItem::InitialFontTable() {
  if (internal == nullptr)
    return VELKO_ERR_FAILED;
  FontsItem fonts;
  STATUS status = ReadFontsItem(note, &fonts);
  if (status == ERR_ITEM_NOT_FOUND)
    return RecordFontFaces(nullptr);
  if (status != NOERROR)
    return status;
  RecordFaces(internal, fonts.table, fonts.TableBytes());
  fonts.Unlock();
  return NOERROR;
}

namespace {

/* Generic family names of style sheets, compared with case: the standard
 * face that stands for each; -1 for any other name. */
int GenericFace(const char* name) {
  struct Row {
    const char* name;
    BYTE face;
  };
  static constexpr Row kGeneric[] = {
      {"sans-serif", 1}, {"serif", 0}, {"cursive", 0}, {"fantasy", 0}, {"monospace", 4},
  };
  for (const Row& row : kGeneric) {
    if (std::strcmp(name, row.name) == 0)
      return row.face;
  }
  return -1;
}

}  // namespace

/* Writes the first "$Fonts" of a note: one face, id 5. The table is built
 * in the item's second conversion buffer. */
static FACEID AddFirstFace(VelkoRTItem* item, const char* name, BYTE family) {
  char* table = reinterpret_cast<char*>(ConversionBuffer(item, kConversionBufferB));
  if (table == nullptr)
    return 0;
  constexpr BYTE kFirstAddedFace = kHighestStandardFace + 1;
  WriteHeader(table, 1);
  WriteFace(table, 0, MakeFace(kFirstAddedFace, family, name));
  DWORD length = TableSize(1);
  if (AppendFonts(item->note, TYPE_COMPOSITE, table, length) != NOERROR)
    return 0;
  RecordFaces(item->internal, table, length);
  return kFirstAddedFace;
}

/* Appends a face to the note's table: a new "$Fonts" in host memory with
 * the old faces and the new one. 0 when it cannot be written. */
static FACEID AppendFace(VelkoRTItem* item, const FontsItem& fonts, WORD faces, int highest,
                         const char* name, BYTE family) {
  if (faces >= kNoteFaceSlots || highest >= kHighestFaceId)
    return 0;
  DWORD length = TableSize(faces + 1);
  DHANDLE handle = NULLHANDLE;
  if (OSMemAlloc(MEM_TYPE_ENGINE, length, &handle) != NOERROR)
    return 0;
  char* table = static_cast<char*>(OSLockObject(handle));
  if (table == nullptr) {
    ReleaseHostMemory(handle);
    return 0;
  }
  BYTE id = static_cast<BYTE>(highest + 1);
  WriteHeader(table, static_cast<WORD>(faces + 1));
  if (faces > 0)
    std::memcpy(table + HeaderSize(), fonts.table + HeaderSize(),
                static_cast<size_t>(faces) * FaceSize());
  WriteFace(table, faces, MakeFace(id, family, name));
  STATUS status = ReplaceFonts(item->note, fonts, fonts.type, table, length);
  if (status == NOERROR)
    RecordFaces(item->internal, table, length);
  OSUnlockObject(handle);
  ReleaseHostMemory(handle);
  return status == NOERROR ? id : 0;
}

FACEID VelkoRTItem::AddToFontTable(const char* faceName, BYTE family) {
  if (faceName == nullptr || faceName[0] == '\0')
    return 0;
  int generic = GenericFace(faceName);
  if (generic >= 0)
    return static_cast<FACEID>(generic);
  if (internal == nullptr)
    return 0;

  FontsItem fonts;
  STATUS status = ReadFontsItem(note, &fonts);
  if (status == ERR_ITEM_NOT_FOUND)
    return AddFirstFace(this, faceName, family);
  if (status != NOERROR)
    return 0;

  WORD faces = fonts.Faces();
  int found = FindFace(fonts.table, faces, faceName);
  FACEID id = 0;
  if (found >= 0)
    id = ReadFace(fonts.table, static_cast<WORD>(found)).Face;
  else
    id = AppendFace(this, fonts, faces, HighestFaceId(fonts.table, faces), faceName, family);
  fonts.Unlock();
  return id;
}

namespace {

/* Fills the session's remap table for the source faces against `table`,
 * which holds `*faces` faces. With `writable` (the same table, with room
 * for every source face) a face the table lacks is appended to it under
 * the next free id; without it such a face is left without a target. */
void MapFaces(_internal_SESS* state, const char* source, WORD sourceFaces, const char* table,
              WORD* faces, char* writable) {
  int next = HighestFaceId(table, *faces) + 1;
  for (WORD i = 0; i < sourceFaces; ++i) {
    CDFACE face = ReadFace(source, i);
    state->face_remap_source[i] = face.Face;
    state->face_remap_target[i] = kNoTargetFace;
    int found = FindFace(table, *faces, face.Name);
    if (found >= 0) {
      BYTE target = ReadFace(table, static_cast<WORD>(found)).Face;
      state->face_remap_target[i] = target;
      if (target != face.Face)
        state->face_remap_count = static_cast<WORD>(i + 1);
      continue;
    }
    if (writable == nullptr || *faces >= kNoteFaceSlots || next > kHighestFaceId)
      continue;
    BYTE id = static_cast<BYTE>(next++);
    WriteFace(writable, *faces, MakeFace(id, face.Family, face.Name));
    ++*faces;
    state->face_remap_target[i] = id;
    state->face_remap_count = static_cast<WORD>(i + 1);
  }
}

bool EveryFacePresent(const char* source, WORD sourceFaces, const char* table, WORD faces) {
  for (WORD i = 0; i < sourceFaces; ++i) {
    CDFACE face = ReadFace(source, i);
    if (FindFace(table, faces, face.Name) < 0)
      return false;
  }
  return true;
}

}  // namespace

/* Merges the source table into the note's existing "$Fonts" (`target`,
 * locked): fills the remap table and, when faces are missing, writes the
 * grown table with `type`. On failure the note keeps its table and the
 * remap table is left empty. */
static STATUS MergeIntoTarget(VelkoRTItem* item, const FontsItem& target, const char* source,
                              DWORD sourceBytes, WORD type) {
  _internal_SESS* state = item->session->internal;
  WORD sourceFaces = std::min(CountFaces(source, sourceBytes), kRemapEntries);
  WORD faces = target.Faces();
  if (EveryFacePresent(source, sourceFaces, target.table, faces)) {
    // Nothing to add: only the ids may differ.
    MapFaces(state, source, sourceFaces, target.table, &faces, nullptr);
    return NOERROR;
  }

  DWORD capacity = TableSize(static_cast<DWORD>(faces) + sourceFaces);
  char* table = static_cast<char*>(VelkoAllocatePtr(item->session, VELKO_HERE, capacity, 1));
  if (table == nullptr)
    return VELKO_ERR_MEMORY;
  if (faces > 0)
    std::memcpy(table + HeaderSize(), target.table + HeaderSize(),
                static_cast<size_t>(faces) * FaceSize());
  MapFaces(state, source, sourceFaces, table, &faces, table);
  WriteHeader(table, faces);
  DWORD length = TableSize(faces);
  STATUS status = ReplaceFonts(item->note, target, type, table, length);
  if (status == NOERROR)
    RecordFaces(item->internal, table, length);
  else
    state->face_remap_count = 0;
  VelkoDeallocatePtr(item->session, table);
  return status;
}

STATUS VelkoRTItem::MergeFontTables(NOTEHANDLE otherNote) {
  if (internal == nullptr || session == nullptr)
    return VELKO_ERR_FAILED;
  session->internal->face_remap_count = 0;

  FontsItem target;
  STATUS status = ReadFontsItem(note, &target);
  if (status != NOERROR && status != ERR_ITEM_NOT_FOUND)
    return status;
  bool hasTarget = status == NOERROR;

  FontsItem source;
  status = ReadFontsItem(otherNote, &source);
  if (status != NOERROR) {
    target.Unlock();
    return status == ERR_ITEM_NOT_FOUND ? NOERROR : status;
  }

  if (!hasTarget) {
    // The note takes the other note's table as it is; no id changes.
    status = NSFItemCopy(note, source.item);
    if (status == NOERROR)
      RecordFaces(internal, source.table, source.TableBytes());
  } else {
    status = MergeIntoTarget(this, target, source.table, source.TableBytes(), source.type);
  }
  source.Unlock();
  target.Unlock();
  return status;
}

STATUS VelkoRTItem::MergeWithCDFONTTABLE(const char* record, WORD /*signature*/, DWORD length) {
  if (internal == nullptr || session == nullptr)
    return VELKO_ERR_FAILED;
  session->internal->face_remap_count = 0;
  if (record == nullptr || length < HeaderSize())
    return VELKO_ERR_BAD_ARGUMENT;

  FontsItem target;
  STATUS status = ReadFontsItem(note, &target);
  if (status == ERR_ITEM_NOT_FOUND) {
    status = AppendFonts(note, TYPE_COMPOSITE, record, length);
    if (status == NOERROR)
      RecordFaces(internal, record, length);
    return status;
  }
  if (status != NOERROR)
    return status;
  status = MergeIntoTarget(this, target, record, length, TYPE_COMPOSITE);
  target.Unlock();
  return status;
}

STATUS VelkoRTItem::MapFontTable(const char*, WORD, DWORD, void*) { return NOERROR; }
