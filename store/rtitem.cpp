/*
 * The rich-text item: binding it to a note (the connect family), writing
 * its records back (Commit, Save, CopyBackend), defining chunks on it,
 * creating blank rich-text items, and the formula, header and footer items
 * it writes beside its body.
 *
 * Loading and writing record lists, converting records, the note's font
 * table and opening notes belong to their own files; the item's properties
 * and style mappings are in item_properties.cpp.
 *
 * Every replacement of a note's items here keeps the old items until the
 * new ones are in: when writing fails, the note holds what it held before.
 */
#include <cstdio>
#include <cstring>
#include <initializer_list>
#include <new>

#include "host/cdrecords.h"
#include "host/formula.h"
#include "host/nsfdata.h"
#include "host/nsfdb.h"
#include "host/nsfnote.h"
#include "host/ods.h"
#include "host/osenv.h"
#include "host/oslog.h"
#include "host/osmem.h"
#include "host/status.h"
#include "store/body.h"
#include "store/canonical.h"
#include "store/host_release.h"
#include "store/messages.h"
#include "store/new_object.h"
#include "store/note_access.h"
#include "store/owned_text.h"
#include "store/rtitem_internal.h"
#include "store/services.h"
#include "store/session.h"
#include "store/tracked_memory.h"
#include "store/vocabulary.h"

void MirrorSuppressMessages(const VelkoRTItem& item) {
  if (item.session != nullptr && item.session->internal != nullptr)
    item.session->internal->GlobalSuppressMessages = item.SuppressMessages;
}

void MirrorClientPreference(const VelkoRTItem& item) {
  if (item.session != nullptr && item.session->internal != nullptr && item.internal != nullptr)
    item.session->internal->global_client_preference =
        static_cast<WORD>(item.internal->ClientPreference);
}

WORD ClientPreferenceOf(const VelkoRTItem* item) {
  if (item == nullptr || item->session == nullptr || item->session->internal == nullptr)
    return 1;
  return item->session->internal->global_client_preference;
}

namespace {

/* True when every step succeeded. The steps are arguments, so each has run
 * even when an earlier one failed: no name keeps a value of the last
 * connect. */
template <typename... Steps> constexpr bool AllDone(Steps... steps) { return (steps && ...); }

constexpr const char* kEverything = "Everything";
/* Server names, database paths and item names longer than this are refused
 * (server names fall back to the local server). */
constexpr size_t kNameLimit = 256;
/* Characters of a host error text shown to the user. */
constexpr WORD kErrorTextSize = 1025;

constexpr WORD kBlankPabId = 1;
constexpr WORD kOneInch = 1440;
constexpr WORD kHalfInch = 720;
constexpr WORD kBlankPabFlags = 0x0100;
constexpr WORD kBlankPabFlags2 = 0x0494;
/* The extension words of the blank paragraph definition: left margin
 * offset and percent, first-line offset and percent, right margin offset
 * and percent. */
constexpr WORD kBlankPabExtension[6] = {kOneInch, 0, kOneInch, 0, 0, 100};

constexpr BYTE kHeaderPitchAndFamily = 0x20;
constexpr size_t kFaceNameChars = 31;

/* ---- texts ---- */

/* An owned copy of the text (null: the empty text); null when memory is
 * short, which every reader of the item's texts takes as empty. */
char* CopyText(const char* text) { return CopyOwnedText(text != nullptr ? text : ""); }

/* Replaces the field by a copy of the text; false, with the field empty
 * (null), when memory is short. */
bool ReplaceText(char*& field, const char* text) {
  char* copy = CopyText(text);
  delete[] field;
  field = copy;
  return copy != nullptr;
}

void FreeText(char*& field) {
  delete[] field;
  field = nullptr;
}

bool IsEmpty(const char* text) { return text == nullptr || text[0] == '\0'; }

/* A name of 1 to 256 characters. */
bool NameFits(const char* text) { return !IsEmpty(text) && strnlen(text, kNameLimit + 1) <= kNameLimit; }

WORD NameLength(const char* name) {
  return name == nullptr ? 0 : static_cast<WORD>(strnlen(name, 0xFFFF));
}

bool EqualsIgnoringCase(const char* a, const char* b) {
  return a != nullptr && b != nullptr && CompareNamesIgnoringCase(a, b) == 0;
}

bool BeginsWithIgnoringCase(const char* text, const char* prefix) {
  size_t length = std::strlen(prefix);
  if (text == nullptr || strnlen(text, length) < length)
    return false;
  for (size_t i = 0; i < length; ++i) {
    char a = text[i] >= 'A' && text[i] <= 'Z' ? static_cast<char>(text[i] - 'A' + 'a') : text[i];
    char b = prefix[i] >= 'A' && prefix[i] <= 'Z' ? static_cast<char>(prefix[i] - 'A' + 'a')
                                                  : prefix[i];
    if (a != b)
      return false;
  }
  return true;
}

/* Shows the host's text for a status to the user. */
void ShowHostError(STATUS status) {
  char text[kErrorTextSize];
  OSLoadString(NULLHANDLE, static_cast<STATUS>(status & STATUS_CODE_MASK), text, sizeof text);
  ShowUserMessage(text);
}

/* ---- the note's items ---- */

/* Keeps a copy of a note's items of one name in a scratch note of the same
 * database (never stored), so that a failed replacement can put them back. */
class ItemBackup {
public:
  ItemBackup() = default;
  ~ItemBackup() {
    if (scratch_ != NULLHANDLE)
      ReleaseNoteHandle(scratch_);
  }
  ItemBackup(const ItemBackup&) = delete;
  ItemBackup& operator=(const ItemBackup&) = delete;

  STATUS Take(NOTEHANDLE note, const char* name) {
    note_ = note;
    name_ = name;
    DBHANDLE db = NULLHANDLE;
    NSFNoteGetInfo(note, _NOTE_DB, &db);
    if (STATUS status = NSFNoteCreate(db, &scratch_); status != NOERROR)
      return status;
    return CopyItems(note_, scratch_);
  }

  /* The note holding the kept items. */
  NOTEHANDLE kept() const { return scratch_; }

  /* Replaces whatever the note now holds under the name by the kept items.
   * Runs after a failure whose status the caller reports; a note with no
   * item of the name has nothing to delete, and a restore that fails has
   * nothing further to fall back on. */
  void Restore() {
    static_cast<void>(NSFItemDelete(note_, name_, NameLength(name_)));
    static_cast<void>(CopyItems(scratch_, note_));
  }

private:
  STATUS CopyItems(NOTEHANDLE from, NOTEHANDLE to) {
    BLOCKID item = {};
    STATUS status = NSFItemInfo(from, name_, NameLength(name_), &item, nullptr, nullptr, nullptr);
    while (status == NOERROR) {
      if (STATUS copied = NSFItemCopy(to, item); copied != NOERROR)
        return copied;
      BLOCKID previous = item;
      status = NSFItemInfoNext(from, previous, name_, NameLength(name_), &item, nullptr, nullptr,
                               nullptr);
    }
    return (status & STATUS_CODE_MASK) == ERR_ITEM_NOT_FOUND ? NOERROR : status;
  }

  NOTEHANDLE note_ = NULLHANDLE;
  const char* name_ = nullptr;
  NOTEHANDLE scratch_ = NULLHANDLE;
};

/* Replaces the note's items of the name by what `write` appends. When the
 * old items cannot be kept nothing is changed; when `write` fails the old
 * items are put back. Returns the status of `write` or of keeping. */
template <typename Write> STATUS ReplaceItems(NOTEHANDLE note, const char* name, Write write) {
  if (IsEmpty(name))
    return VELKO_ERR_BAD_ARGUMENT;
  ItemBackup backup;
  if (STATUS status = backup.Take(note, name); status != NOERROR)
    return status;
  STATUS deleted = NSFItemDelete(note, name, NameLength(name));
  if (deleted != NOERROR && (deleted & STATUS_CODE_MASK) != ERR_ITEM_NOT_FOUND)
    return deleted;
  STATUS status = write();
  if (status != NOERROR)
    backup.Restore();
  return status;
}

/* ---- the item's working state ---- */

/* Drops every loaded and built body and the conversion buffers. */
void DropBodies(VelkoRTItem* item) {
  _internal_RTITEM* state = item->internal;
  DeleteBodyContext(item->session, state->input);
  DeleteBodyContext(item->session, state->output);
  DeleteBodyContext(item->session, state->html_import[0]);
  DeleteBodyContext(item->session, state->html_import[1]);
  ReleaseConversionBuffers(item);
  state->incomplete_load = 0;
}

void ClearAllStyleMappings(VelkoRTItem* item) {
  item->ClearStyleMappings(0);
  item->ClearStyleMappings(1);
}

/* Closes the note and database the item opened itself; an attached item
 * only forgets the caller's handles. Before the note goes, attached items
 * of the session that stand on it are disconnected. */
void ReleaseNote(VelkoRTItem* item) {
  _internal_RTITEM* state = item->internal;
  if (state->attached == 0) {
    if (item->note != NULLHANDLE && item->session != nullptr) {
      for (VelkoRTItem* other = item->session->items; other != nullptr; other = other->next) {
        if (other != item && other->internal->attached != 0 && other->note == item->note &&
            other->db == item->db)
          other->CleanupTraces();
      }
    }
    if (item->note != NULLHANDLE)
      ReleaseNoteHandle(item->note);
    if (item->db != NULLHANDLE)
      ReleaseDatabaseHandle(item->db);
  }
  item->note = NULLHANDLE;
  item->db = NULLHANDLE;
  state->attached = 0;
}

void DeleteChunksOfItem(VelkoRTItem* item) {
  if (item->session == nullptr)
    return;
  VelkoRTChunk* chunk = item->session->chunks;
  while (chunk != nullptr) {
    VelkoRTChunk* next = chunk->next;
    if (chunk->item == item)
      delete chunk;
    chunk = next;
  }
}

/* Unbinds the default chunk from the item and drops its definition and
 * event texts. The chunk stays alive for whoever holds it (the session
 * deletes it at the latest); the item no longer refers to it. */
void DetachDefaultChunk(VelkoRTItem* item) {
  VelkoRTChunk* chunk = item->default_chunk;
  item->default_chunk = nullptr;
  chunk->item = nullptr;
  SetChunkDefinitions(chunk, nullptr, 0);
  FreeText(chunk->definition);
  FreeText(chunk->unzoomed_definition);
  for (WORD slot = 1; slot <= 6; ++slot)
    chunk->CleanupEventRetString(slot);
}

/* What every connect does first: a body loaded from one note must never be
 * written into another, so the old bodies go and the note the item opened
 * itself is closed, unless it is `keep`, the note the connect goes on
 * using; then the item keeps it open as its own and true is returned.
 * Chunks stay bound to the item. */
bool BeginConnect(VelkoRTItem* item, NOTEHANDLE keep = NULLHANDLE) {
  DropBodies(item);
  bool keepsOwnNote =
      keep != NULLHANDLE && keep == item->note && item->internal->attached == 0;
  if (!keepsOwnNote)
    ReleaseNote(item);
  _internal_RTITEM* state = item->internal;
  state->state = 0;
  state->connect_word = 0;
  state->released_files.clear();
  state->released_ole_objects.clear();
  state->design_element = 0;
  state->image_data = 0;
  item->IsConnected = 0;
  item->own_error = 0;
  item->note_id = 0;
  return keepsOwnNote;
}

/* Copies the server name: null or over 256 characters is the local server. */
bool SetServer(VelkoRTItem* item, const char* server) {
  return ReplaceText(item->server, NameFits(server) ? server : "");
}

/* Copies a database path or item name; an empty or over-long one leaves
 * the field empty and sets own error 20013. */
bool SetCheckedName(VelkoRTItem* item, char*& field, const char* name) {
  if (NameFits(name))
    return ReplaceText(field, name);
  item->own_error = VELKO_ERR_INVALID_NAME;
  return ReplaceText(field, "");
}

/* The status a connect returns: the last status, else 257 after an
 * invalid name, else 0. */
STATUS ConnectResult(const VelkoRTItem* item) {
  if (item->last_status != NOERROR)
    return item->last_status;
  return item->own_error != 0 ? STATUS{VELKO_ERR_FAILED} : STATUS{NOERROR};
}

enum class ItemState { Missing, RichText, NotRichText, Unreadable };

/* Whether the note has the item and whether it is rich text; a MIME item
 * is converted first. `status` receives a host error other than "not
 * found". */
ItemState InspectItem(VelkoRTItem* item, bool checkType, STATUS* status) {
  *status = NOERROR;
  if (IsEmpty(item->item_name))
    return ItemState::Missing;
  WORD type = 0;
  STATUS found = NSFItemInfo(item->note, item->item_name, NameLength(item->item_name), nullptr,
                             &type, nullptr, nullptr);
  if ((found & STATUS_CODE_MASK) == ERR_ITEM_NOT_FOUND)
    return ItemState::Missing;
  if (found != NOERROR) {
    *status = found;
    return ItemState::Unreadable;
  }
  if (!checkType || type == TYPE_COMPOSITE)
    return ItemState::RichText;
  if (type == TYPE_MIME_PART) {
    // Whether the conversion worked is read from the item's type below.
    static_cast<void>(ConvertFromMIMEBackend(item, item->note, item->item_name, "", 0, "", 0));
    type = GetFieldDatatype(item->note, item->item_name);
    if (type == TYPE_COMPOSITE)
      return ItemState::RichText;
  }
  char text[96];
  std::snprintf(text, sizeof text, "Cannot connect to item of type %ld.  Not rich text!",
                static_cast<long>(type));
  ShowUserMessage(text);
  AddInLogMessageText("Cannot connect to item of type %ld.  Not rich text!", 0,
                      static_cast<long>(type));
  return ItemState::NotRichText;
}

/* Connects the open note's item, making a blank one first when it is
 * missing and `create` is set. True when the item is connected; the font
 * table is not loaded here. */
bool ConnectItem(VelkoRTItem* item, bool create, bool checkType) {
  if (item->own_error != 0)
    return false;
  STATUS status = NOERROR;
  switch (InspectItem(item, checkType, &status)) {
  case ItemState::RichText:
    item->IsConnected = 1;
    return true;
  case ItemState::Missing:
    if (create && item->CreateBlankRichTextItem() == NOERROR) {
      item->IsConnected = 1;
      return true;
    }
    return false;
  case ItemState::Unreadable:
    item->last_status = status;
    return false;
  case ItemState::NotRichText:
    return false;
  }
  return false;
}

/* Takes the handles and names of a note the caller opened (or, when
 * `owned`, of the note the item opened itself and goes on using). */
bool BindToNote(VelkoRTItem* item, NOTEHANDLE note, bool owned) {
  item->note = note;
  NSFNoteGetInfo(note, _NOTE_DB, &item->db);
  NSFNoteGetInfo(note, _NOTE_ID, &item->note_id);
  item->internal->attached = owned ? 0 : 1;
  char path[MAXPATH] = {};
  if (NSFDbPathGet(item->db, path, nullptr) != NOERROR)
    path[0] = '\0';
  const bool server = ReplaceText(item->server, "");
  return ReplaceText(item->database, path) && server;
}

/* The new chunk's definition chain and canonical text; false when the
 * definition does not parse or its text cannot be written. */
bool GiveDefinition(LSXLsiSession* session, VelkoRTChunk* chunk, const char* definition) {
  DWORD simple = 0;
  chunkdef_info* chain = ParseDefinition(session, 0, nullptr, definition, &simple);
  if (chain == nullptr)
    return false;
  SetChunkDefinitions(chunk, chain, simple);
  if (!CalculateDefinition(chain, session->scratch_first, sizeof session->scratch_first))
    return false;
  if (!ReplaceText(chunk->definition, session->scratch_first))
    return false;
  FreeText(chunk->unzoomed_definition);
  chunk->target_type = DefinitionTargetType(chain);
  return true;
}

/* Gives the connected item its default chunk on "Everything": the one it
 * has, bound to it and defined anew, or a new one. An item connected
 * again and again keeps one default chunk instead of gathering one per
 * connect. A chunk whose definition cannot be given is no longer the
 * item's. */
void SetDefaultChunk(VelkoRTItem* item) {
  if (item->default_chunk == nullptr) {
    item->default_chunk = item->DefineChunk(kEverything);
    return;
  }
  VelkoRTChunk* chunk = item->default_chunk;
  chunk->item = item;
  if (!GiveDefinition(item->session, chunk, kEverything)) {
    chunk->item = nullptr;
    item->default_chunk = nullptr;
  }
}

/* ---- records written by the item ---- */

/* Writes the blank rich-text value (type word, paragraph definition with
 * its extension words, paragraph reference, empty text) in stored form. */
void WriteBlankValue(char* value, const BYTE defaultText[8]) {
  void* cursor = value;
  const WORD type = TYPE_COMPOSITE;
  ODSWriteMemory(&cursor, ODS_WORD, &type, 1);

  CDPABDEFINITION pab = {};
  pab.Header.Signature = SIG_CD_PABDEFINITION;
  pab.Header.Length = static_cast<WORD>(ODSLength(ODS_CDPABDEFINITION) + sizeof kBlankPabExtension);
  pab.PABID = kBlankPabId;
  pab.LeftMargin = kOneInch;
  pab.FirstLineLeftMargin = kOneInch;
  pab.Tab[0] = kHalfInch;
  pab.Flags = kBlankPabFlags;
  pab.Flags2 = kBlankPabFlags2;
  ODSWriteMemory(&cursor, ODS_CDPABDEFINITION, &pab, 1);
  ODSWriteMemory(&cursor, ODS_WORD, kBlankPabExtension, 6);

  CDPABREFERENCE reference = {};
  reference.Header.Signature = static_cast<BYTE>(SIG_CD_PABREFERENCE);
  reference.Header.Length = static_cast<BYTE>(ODSLength(ODS_CDPABREFERENCE));
  reference.PABID = kBlankPabId;
  ODSWriteMemory(&cursor, ODS_CDPABREFERENCE, &reference, 1);

  CDTEXT text = {};
  std::memcpy(&text, defaultText, sizeof text);
  ODSWriteMemory(&cursor, ODS_CDTEXT, &text, 1);
}

DWORD BlankValueLength() {
  return sizeof(WORD) + ODSLength(ODS_CDPABDEFINITION) + sizeof kBlankPabExtension +
         ODSLength(ODS_CDPABREFERENCE) + ODSLength(ODS_CDTEXT);
}

/* The standard faces every item starts with. */
void FillStandardFaces(_internal_RTITEM* state) {
  struct Face {
    BYTE id;
    const char* name;
  };
  static constexpr Face kFaces[kStandardFaces] = {
      {0, "Default Serif"},     {1, "Default Sans Serif"},     {2, "Default MultiLingual"},
      {4, "Default Monospace"}, {3, "Default User Interface"}, {4, "COURIER"},
      {0, "Roman"},             {1, "Swiss"},
  };
  for (int i = 0; i < kStandardFaces; ++i) {
    state->faces[i].id = kFaces[i].id;
    CopyCutText(state->faces[i].name, kFaces[i].name, sizeof state->faces[i].name - 1);
  }
  state->face_count = kStandardFaces;
}

void FillDefaultTextHeader(_internal_RTITEM* state, const VelkoRTItem& item) {
  CDTEXT text = {};
  text.Header.Signature = SIG_CD_TEXT;
  text.Header.Length = sizeof(CDTEXT);
  BYTE font[4] = {};
  font[FONTID_FACE_BYTE] = item.default_face;
  font[FONTID_ATTRIBUTES_BYTE] = item.default_attributes;
  font[FONTID_COLOR_BYTE] = item.default_color;
  font[FONTID_SIZE_BYTE] = item.default_font_size;
  std::memcpy(&text.FontID, font, sizeof font);
  static_assert(sizeof text == sizeof state->default_text_header);
  std::memcpy(state->default_text_header, &text, sizeof text);
  std::memcpy(state->current_text_header, &text, sizeof text);
}

}  // namespace

/* ---- lifecycle ---- */

VelkoRTItem::VelkoRTItem(LSXLsiSession* owner) : session(owner) {
  internal = NewPrivateBlock<_internal_RTITEM>(); // first: nothing is held if it throws
  ActionHotspotFont = CopyText("DARKGREEN +UNDERLINE");
  URLFont = CopyText("BLUE +UNDERLINE");
  HyperlinkFont = CopyText("BLUE +UNDERLINE");
  HighlightFont = CopyText("RED +BOLD");
  PermanentPenFont = CopyText("BLUE +BOLD");
  PopUpFont = CopyText("Highlight");
  ImportExportFile = CopyText("default.cd");
  FillStandardFaces(internal);
  FillDefaultTextHeader(internal, *this);
  MirrorSuppressMessages(*this);
  MirrorClientPreference(*this);
  if (session != nullptr)
    session->AddToRTITEMList(this);
}

VelkoRTItem::~VelkoRTItem() {
  DropBodies(this);
  for (char** text : {&server, &database, &item_name, &ActionHotspotFont, &URLFont, &HyperlinkFont,
                      &HighlightFont, &PermanentPenFont, &PopUpFont, &ImportExportFile})
    FreeText(*text);
  ClearAllStyleMappings(this);
  DeleteChunkDefinitions(internal->definitions);
  internal->definitions = nullptr;
  ReleaseNote(this);
  delete default_chunk;  // clears default_chunk
  DeleteChunksOfItem(this);
  delete internal;
  internal = nullptr;
  if (session != nullptr)
    session->RemoveFromRTITEMList(this);
}

void VelkoRTItem::CleanupTraces() {
  IsConnected = 0;
  FreeText(server);
  FreeText(database);
  ClearAllStyleMappings(this);
  DropBodies(this);
  DeleteChunkDefinitions(internal->definitions);
  internal->definitions = nullptr;
  FreeText(item_name);
  ReleaseNote(this);
  note_id = 0;
  if (default_chunk == nullptr)
    default_chunk = DefineChunk(kEverything);  // none: the item is not connected
  else
    DetachDefaultChunk(this);
  DeleteChunksOfItem(this);
}

/* ---- connecting ---- */

STATUS VelkoRTItem::Connect(const char* serverName, const char* databasePath, NOTEID noteID,
                            const char* itemName, int create) {
  BeginConnect(this);
  const bool copied = AllDone(SetServer(this, serverName),
                              SetCheckedName(this, database, databasePath),
                              SetCheckedName(this, item_name, itemName));
  note_id = noteID;
  if (!copied) {
    last_status = VELKO_ERR_MEMORY;
    return last_status;
  }
  last_status = OpenNote(session, server, database, noteID, nullptr, nullptr, nullptr, &db, &note,
                         0, AutoDecrypt, &decryption_area);
  if (last_status == NOERROR && ConnectItem(this, create != 0, false))
    last_status = InitialFontTable();
  return ConnectResult(this);
}

STATUS VelkoRTItem::Create(const char* serverName, const char* databasePath, NOTEID noteID,
                           const char* itemName, int replace) {
  BeginConnect(this);
  const bool copied = AllDone(SetServer(this, serverName),
                              SetCheckedName(this, database, databasePath),
                              SetCheckedName(this, item_name, itemName));
  note_id = noteID;
  if (!copied) {
    last_status = VELKO_ERR_MEMORY;
    return last_status;
  }
  last_status = OpenNote(session, server, database, noteID, nullptr, nullptr, nullptr, &db, &note,
                         0, AutoDecrypt, &decryption_area);
  if (last_status != NOERROR)
    return last_status;
  if (own_error != 0)
    return VELKO_ERR_FAILED;
  STATUS dummy = NOERROR;
  if (replace != 0 || InspectItem(this, false, &dummy) == ItemState::Missing) {
    // A blank item that cannot be made is reported: connecting to the old
    // item after a refused replacement would pass it off as the new one.
    if (STATUS status = CreateBlankRichTextItem(); status != NOERROR) {
      last_status = status;
      return status;
    }
  }
  // Create reports the note and the item; a font table that cannot be read
  // leaves the default faces, which every operation can work with.
  if (ConnectItem(this, false, false))
    static_cast<void>(InitialFontTable());
  return last_status;  // 0 unless the item could not be read
}

STATUS VelkoRTItem::ConnectBackend(NOTEHANDLE noteHandle, const char* itemName, int create) {
  bool owned = BeginConnect(this, noteHandle);
  last_status = NOERROR;
  if (noteHandle == NULLHANDLE) {
    last_status = VELKO_ERR_NO_INPUT;
    return last_status;
  }
  if (!AllDone(BindToNote(this, noteHandle, owned), SetCheckedName(this, item_name, itemName))) {
    last_status = VELKO_ERR_MEMORY;
    return last_status;
  }
  if (ConnectItem(this, create != 0, true))
    last_status = InitialFontTable();
  STATUS result = ConnectResult(this);
  if (result == NOERROR)
    SetDefaultChunk(this);
  return result;
}

STATUS VelkoRTItem::CreateBackend(NOTEHANDLE noteHandle, const char* itemName, int replace) {
  bool owned = BeginConnect(this, noteHandle);
  last_status = NOERROR;
  if (noteHandle == NULLHANDLE) {
    last_status = VELKO_ERR_NO_INPUT;
    return last_status;
  }
  if (!AllDone(BindToNote(this, noteHandle, owned), SetCheckedName(this, item_name, itemName))) {
    last_status = VELKO_ERR_MEMORY;
    return last_status;
  }
  if (own_error != 0)
    return VELKO_ERR_FAILED;
  STATUS dummy = NOERROR;
  if (replace != 0 || InspectItem(this, false, &dummy) == ItemState::Missing) {
    if (STATUS status = CreateBlankRichTextItem(); status != NOERROR) {
      last_status = status;
      return status;
    }
  }
  if (ConnectItem(this, false, true))
    last_status = InitialFontTable();
  STATUS result = ConnectResult(this);
  if (result == NOERROR)
    SetDefaultChunk(this);
  return result;
}

void VelkoRTItem::ConnectBackendInternal(VelkoRTItem* other, const char* itemName) {
  bool owned = BeginConnect(this, other != nullptr ? other->note : NULLHANDLE);
  if (other == nullptr || other->note == NULLHANDLE) {
    last_status = VELKO_ERR_NO_INPUT;
    return;
  }
  last_status = NOERROR;
  const bool copied = AllDone(BindToNote(this, other->note, owned), ReplaceText(item_name, itemName));
  db = other->db;
  if (!copied) {
    last_status = VELKO_ERR_MEMORY;
    return;
  }
  bool imageData = EqualsIgnoringCase(item_name, "$ImageData");
  internal->design_element = BeginsWithIgnoringCase(item_name, "$Body") || imageData ? 1 : 0;
  internal->image_data = imageData ? 1 : 0;
  if (!ConnectItem(this, false, true))
    return;
  last_status = InitialFontTable();
  SetDefaultChunk(this);
}

STATUS VelkoRTItem::ConnectFormBody(const char* serverName, const char* databasePath,
                                    const char* name, const char* copyName,
                                    const char* flagPattern, const char* itemName) {
  BeginConnect(this);
  last_status = NOERROR;
  if (!AllDone(ReplaceText(server, serverName), ReplaceText(database, databasePath))) {
    last_status = VELKO_ERR_MEMORY;
    return last_status;
  }
  internal->design_element = 1;
  internal->image_data = EqualsIgnoringCase(itemName, "$ImageData") ? 1 : 0;
  if (IsEmpty(itemName)) {
    own_error = VELKO_ERR_INVALID_NAME;
    return VELKO_ERR_INVALID_NAME;
  }
  if (!ReplaceText(item_name, itemName)) {
    last_status = VELKO_ERR_MEMORY;
    return last_status;
  }
  last_status = OpenNote(session, server, database, 0, name, flagPattern,
                         IsEmpty(copyName) ? nullptr : copyName, &db, &note, 0, AutoDecrypt,
                         &decryption_area);
  if (last_status != NOERROR)
    return last_status;
  NSFNoteGetInfo(note, _NOTE_ID, &note_id);
  if (!ConnectItem(this, true, false))
    return last_status;
  last_status = InitialFontTable();
  return last_status;
}

STATUS VelkoRTItem::ConnectForm(const char* serverName, const char* databasePath, const char* name,
                                const char* copyName) {
  return ConnectFormBody(serverName, databasePath, name, copyName, "-U-W", "$Body");
}

STATUS VelkoRTItem::ConnectFileResource(const char* serverName, const char* databasePath,
                                        const char* name, const char* copyName) {
  return ConnectFormBody(serverName, databasePath, name, copyName, "(+g=-/*", "$FileData");
}

STATUS VelkoRTItem::ConnectFrameSet(const char* serverName, const char* databasePath,
                                    const char* name, const char* copyName) {
  return ConnectFormBody(serverName, databasePath, name, copyName, "(+-*#", "$FrameSet");
}

STATUS VelkoRTItem::ConnectImageResource(const char* serverName, const char* databasePath,
                                         const char* name, const char* copyName) {
  return ConnectFormBody(serverName, databasePath, name, copyName, "+i", "$ImageData");
}

STATUS VelkoRTItem::ConnectPage(const char* serverName, const char* databasePath, const char* name,
                                const char* copyName) {
  return ConnectFormBody(serverName, databasePath, name, copyName, "(+-*W", "$Body");
}

STATUS VelkoRTItem::ConnectSharedField(const char* serverName, const char* databasePath,
                                       const char* name, const char* copyName) {
  return ConnectFormBody(serverName, databasePath, name, copyName, "*", "$Body");
}

STATUS VelkoRTItem::ConnectSubform(const char* serverName, const char* databasePath,
                                   const char* name, const char* copyName) {
  return ConnectFormBody(serverName, databasePath, name, copyName, "+U", "$Body");
}

/* ---- writing back ---- */

STATUS VelkoRTItem::Commit() {
  body_context* context = internal->input;
  if (context == nullptr)
    return NOERROR;
  // A body whose load did not complete would lose the records it missed.
  STATUS status = internal->incomplete_load != NOERROR ? internal->incomplete_load
                                                        : context->load_status;
  if (status == NOERROR) {
    NOTEHANDLE target = context->note != NULLHANDLE ? context->note : note;
    const char* name = context->item_name != nullptr ? context->item_name : item_name;
    status = ReplaceItems(target, name, [&] { return SaveBodyItems(context, this); });
    if (status == NOERROR)
      DetachReleasedAttachments(this, target);
  }
  DeleteBodyContext(session, internal->input);
  internal->incomplete_load = 0;
  return status;
}

STATUS VelkoRTItem::Save() {
  if (internal->input != nullptr && CacheRecords != 0) {
    if (STATUS status = Commit(); status != NOERROR)
      return status;
  }
  // A design element that cannot be unsigned keeps its old signature; the
  // update decides the result.
  if (internal->design_element != 0)
    static_cast<void>(NSFNoteUnsign(note));
  STATUS status = NSFNoteUpdate(note, UPDATE_FORCE);
  if (status != NOERROR) {
    ShowHostError(status);
    return status;
  }
  NSFNoteGetInfo(note, _NOTE_ID, &note_id);
  // The note is stored; a design collection left stale is rebuilt by the
  // next refresh.
  if (internal->design_element != 0)
    static_cast<void>(RefreshDesignCollection(db));
  return NOERROR;
}

STATUS VelkoRTItem::CopyBackend(NOTEHANDLE target, const char* itemName, int replace) {
  if (target == NULLHANDLE || IsEmpty(itemName))
    return VELKO_ERR_BAD_ARGUMENT;
  bool sameNote = target == note;
  // Replacing the item by itself would blank it before it is read.
  if (sameNote && EqualsIgnoringCase(itemName, item_name))
    return VELKO_ERR_BAD_ARGUMENT;
  WORD type = 0;
  bool exists = NSFItemInfo(target, itemName, NameLength(itemName), nullptr, &type, nullptr,
                            nullptr) == NOERROR;
  if (exists && replace == 0)
    return NOERROR;  // nothing is copied over an item that stays

  auto* temporary = NewObject<VelkoRTItem>(session);
  if (temporary == nullptr)
    return VELKO_ERR_MEMORY;
  STATUS status = NOERROR;
  {
    ItemBackup backup;
    status = backup.Take(target, itemName);
    if (status == NOERROR)
      status = temporary->CreateBackend(target, itemName, replace);
    if (status == NOERROR) {
      sameNote = temporary->db == db && temporary->note == note;
      status = CopyRTItem(this, temporary, sameNote ? 1 : 0, backup.kept());
      if (status == VELKO_STATUS_READ_ONLY)
        status = NOERROR;
      if (status != NOERROR) {
        // The target item keeps what it held before the copy began.
        DropBodies(temporary);
        backup.Restore();
      }
    }
  }
  if (status == NOERROR) {
    temporary->Modified = 1;
    if (temporary->AutoSave != 0 || (sameNote && AutoSave != 0))
      status = NSFNoteUpdate(target, UPDATE_FORCE);
  }
  delete temporary;
  return status;
}

STATUS VelkoRTItem::CopyItem(const char*, const char* databasePath, NOTEID noteID,
                             const char* itemName, int) {
  if (IsEmpty(databasePath) || IsEmpty(itemName)) {
    own_error = VELKO_ERR_INVALID_NAME;
    return VELKO_ERR_FAILED;
  }
  note_id = noteID;
  DBHANDLE openedDb = NULLHANDLE;
  NOTEHANDLE openedNote = NULLHANDLE;
  last_status = OpenNote(session, server, database, noteID, nullptr, nullptr, nullptr, &openedDb,
                         &openedNote, 0, AutoDecrypt, &decryption_area);
  // Nothing is copied: the item keeps its own note, and what was opened
  // here is closed again (a failed open leaves both handles 0; closing
  // always reports 0).
  static_cast<void>(CloseNote(openedDb, openedNote));
  return last_status;
}

void VelkoRTItem::CleanupArgBuffer(WORD) {}

/* ---- chunks and other operations ---- */

VelkoRTChunk* VelkoRTItem::DefineChunk(const char* definition) {
  if (IsConnected == 0 || session == nullptr)
    return nullptr;
  auto* chunk = NewObject<VelkoRTChunk>(session, this);
  if (chunk == nullptr)
    return nullptr;
  if (!GiveDefinition(session, chunk, definition)) {
    delete chunk;
    return nullptr;
  }
  return chunk;
}

STATUS VelkoRTItem::CreateBlankRichTextItem() {
  if (IsEmpty(item_name))
    return VELKO_ERR_BAD_ARGUMENT;
  const DWORD length = BlankValueLength();
  DHANDLE handle = NULLHANDLE;
  if (STATUS status = OSMemAlloc(MEM_TYPE_ENGINE, length, &handle); status != NOERROR)
    return status;
  auto* value = static_cast<char*>(OSLockObject(handle));
  if (value == nullptr) {
    ReleaseHostMemory(handle);
    return VELKO_ERR_MEMORY;
  }
  WriteBlankValue(value, internal->default_text_header);
  OSUnlockObject(handle);
  STATUS status = ReplaceItems(note, item_name, [&] {
    return NSFItemAppendByBLOCKID(note, 0, item_name, NameLength(item_name),
                                  BLOCKID{handle, NULLBLOCK}, length, nullptr);
  });
  ReleaseHostMemory(handle);
  return status;
}

STATUS VelkoRTItem::CreateFileResourceRichTextItem(const char*, const char*) { return NOERROR; }

STATUS VelkoRTItem::CalculateRTItemCRC(char* out, WORD length, WORD mode) {
  if (out == nullptr)
    return VELKO_ERR_BAD_ARGUMENT;
  if (IsConnected == 0 || note == NULLHANDLE) {
    out[0] = '\0';
    return NOERROR;
  }
  return CalculateCRC(note, item_name, out, length, mode);
}

WORD VelkoRTItem::GetFormulaItem(const char* itemName, char* out) {
  if (out == nullptr)
    return 0;
  out[0] = '\0';
  if (IsEmpty(itemName))
    return 0;
  WORD type = 0;
  BLOCKID value = {};
  DWORD valueLength = 0;
  if (NSFItemInfo(note, itemName, NameLength(itemName), nullptr, &type, &value, &valueLength) !=
          NOERROR ||
      type != TYPE_FORMULA || valueLength <= sizeof(WORD))
    return 0;
  const char* data = static_cast<const char*>(OSLockBlock(value));
  if (data == nullptr)
    return 0;
  DHANDLE text = NULLHANDLE;
  WORD textLength = 0;
  STATUS status = NSFFormulaDecompile(data + sizeof(WORD), FALSE, &text, &textLength);
  OSUnlockBlock(value);
  if (status != NOERROR)
    return 0;
  const char* source = static_cast<const char*>(OSLockObject(text));
  if (source == nullptr) {
    ReleaseHostMemory(text);
    return 0;
  }
  std::memcpy(out, source, textLength);
  out[textLength] = '\0';
  OSUnlockObject(text);
  ReleaseHostMemory(text);
  return textLength;
}

STATUS VelkoRTItem::SetFormulaItem(const char* itemName, const char* text, WORD length) {
  if (IsEmpty(itemName))
    return VELKO_ERR_BAD_ARGUMENT;
  if (length != 0 && text == nullptr)
    return VELKO_ERR_BAD_ARGUMENT;
  if (length == 0) {
    STATUS status = NSFItemDelete(note, itemName, NameLength(itemName));
    return (status & STATUS_CODE_MASK) == ERR_ITEM_NOT_FOUND ? NOERROR : status;
  }
  FORMULAHANDLE formula = NULLHANDLE;
  WORD formulaLength = 0;
  STATUS compileError = NOERROR;
  STATUS status = NSFFormulaCompile(nullptr, 0, text, length, &formula, &formulaLength,
                                    &compileError, nullptr, nullptr, nullptr, nullptr);
  if (status != NOERROR && compileError == NOERROR &&
      (status & STATUS_CODE_MASK) != ERR_FORMULA_COMPILE)
    return status;  // not a fault of the formula (memory, a bad argument)
  if (status != NOERROR) {
    if (formula != NULLHANDLE)
      ReleaseHostMemory(formula);
    char message[8 + kErrorTextSize] = "Tarno: ";
    STATUS reported = compileError != NOERROR ? compileError : status;
    OSLoadString(NULLHANDLE, static_cast<STATUS>(reported & STATUS_CODE_MASK), message + 7,
                 kErrorTextSize);
    ShowUserMessage(message);
    own_error = VELKO_ERR_INVALID_ARGUMENT;
    return VELKO_ERR_FAILED;
  }
  const char* compiled = static_cast<const char*>(OSLockObject(formula));
  if (compiled == nullptr) {
    ReleaseHostMemory(formula);
    return VELKO_ERR_MEMORY;
  }
  // The stored formula is padded to an even length.
  DWORD storedLength = formulaLength + (formulaLength & 1u);
  auto* padded = static_cast<char*>(VelkoAllocatePtr(session, VELKO_HERE, storedLength, 1));
  if (padded != nullptr)
    std::memcpy(padded, compiled, formulaLength);
  OSUnlockObject(formula);
  ReleaseHostMemory(formula);
  if (padded == nullptr)
    return VELKO_ERR_MEMORY;
  status = ReplaceItems(note, itemName, [&] {
    return NSFItemAppend(note, 0, itemName, NameLength(itemName), TYPE_FORMULA, padded,
                         storedLength);
  });
  VelkoDeallocatePtr(session, padded);
  return status;
}

STATUS VelkoRTItem::ResetHeaderFooter(int header, const char* text, DWORD fontID,
                                      const char* faceName) {
  if (text == nullptr)
    text = "";
  size_t textLength = std::strlen(text);
  const size_t fixed = sizeof(CDHEADER);
  if (fixed + textLength + 1 > 0xFFFF)
    return VELKO_ERR_BAD_ARGUMENT;
  const WORD recordLength = static_cast<WORD>(fixed + textLength + 1);
  // Stored records of odd length carry one pad byte.
  const DWORD valueLength = recordLength + (recordLength & 1u);
  auto* record = static_cast<char*>(VelkoAllocatePtr(session, VELKO_HERE, valueLength, 1));
  if (record == nullptr)
    return VELKO_ERR_MEMORY;
  CDHEADER fields = {};
  fields.Header.Signature = SIG_CD_HEADER;
  fields.Header.Length = recordLength;
  fields.FontPitchAndFamily = kHeaderPitchAndFamily;
  if (faceName != nullptr)
    std::memcpy(fields.FontName, faceName, strnlen(faceName, kFaceNameChars));
  fields.Font = fontID;
  fields.HeadLength = static_cast<WORD>(textLength + 1);
  void* cursor = record;
  ODSWriteMemory(&cursor, ODS_CDHEADER, &fields, 1);
  std::memcpy(static_cast<char*>(cursor), text, textLength);
  const char* name = header != 0 ? "$Header" : "$Footer";
  STATUS status = ReplaceItems(note, name, [&] {
    return NSFItemAppend(note, 0, name, NameLength(name), TYPE_COMPOSITE, record, valueLength);
  });
  VelkoDeallocatePtr(session, record);
  return status;
}
