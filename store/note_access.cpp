/*
 * Opening databases and notes with the engine's user messages, copying a
 * note under a free design name, creating design notes (forms, pages,
 * subforms, shared fields, image and file resources), reading an item's
 * data type, refreshing a database's design collection, and the session's
 * CreateDesignElement, which returns an item connected to a new (or
 * existing) design element.
 *
 * Walking a body's record list is not here (store/body.h), nor are the
 * item's connect operations themselves (store/rtitem.cpp).
 */
#include "store/host_release.h"
#include "store/new_object.h"
#include "store/note_access.h"

#include <strings.h>

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <new>

#include "host/cdrecords.h"
#include "host/nif.h"
#include "host/nsfdb.h"
#include "host/nsfnote.h"
#include "host/ods.h"
#include "host/osenv.h"
#include "host/status.h"
#include "host/timedate.h"
#include "store/messages.h"
#include "store/rtitem_internal.h"
#include "store/session.h"
#include "store/tracked_memory.h"
#include "velko/property_string.h"
#include "velko/status.h"

namespace {

/* At most this many characters of a status's text are loaded. */
constexpr WORD kErrorTextChars = 1024;
/* The highest number tried behind a copy name ("Report9998"). */
constexpr int kLastCopyNumber = 9998;
/* The design collection of every database. */
constexpr NOTEID kDesignCollection = NOTE_ID_SPECIAL | NOTE_CLASS_DESIGN;

WORD NameLength(const char* name) { return static_cast<WORD>(std::strlen(name)); }

bool IsEmpty(const char* text) { return text == nullptr || text[0] == '\0'; }

const char* OrEmpty(const char* text) { return text != nullptr ? text : ""; }

/* Formats a user message in the session's first scratch text and shows it.
 * The text is formatted aside first, since an argument may itself lie in
 * the scratch text. */
void ShowFormatted(LSXLsiSession* session, const char* format, ...)
    __attribute__((format(printf, 2, 3)));

/* The session's last item asked for no messages. */
bool MessagesSuppressed(const LSXLsiSession* session) {
  return session != nullptr && session->internal != nullptr &&
         session->internal->GlobalSuppressMessages != 0;
}

void ShowFormatted(LSXLsiSession* session, const char* format, ...) {
  char text[VELKO_SCRATCH_TEXT_SIZE];
  va_list args;
  va_start(args, format);
  vsnprintf(text, sizeof text, format, args);
  va_end(args);
  if (session == nullptr) {
    ShowUserMessage(text);
    return;
  }
  std::memcpy(session->scratch_first, text, sizeof text);
  ShowUserMessage(session->scratch_first);
}

/* The host's text for the status, in the session's second scratch text;
 * null without a session. */
const char* LoadErrorText(LSXLsiSession* session, STATUS status) {
  if (session == nullptr)
    return nullptr;
  OSLoadString(NULLHANDLE, status, session->scratch_second, kErrorTextChars + 1);
  return session->scratch_second;
}

/* Decrypts the note when asked to and the host reports it sealed. A note
 * that cannot be decrypted stays open as it is: its sealed items then read
 * as the host leaves them. */
void DecryptWhenSealed(NOTEHANDLE note, int decrypt, const void* decryptionKey) {
  if (decrypt == 0)
    return;
  BOOL isSigned = FALSE;
  BOOL isSealed = FALSE;
  NSFNoteIsSignedOrSealed(note, &isSigned, &isSealed);
  // A note that stays sealed shows it to the reads that follow: they find
  // no readable items.
  if (isSealed)
    static_cast<void>(NSFNoteDecrypt(note, 0, decryptionKey));
}

bool DesignNoteExists(DBHANDLE db, const char* name) {
  NOTEID found = 0;
  return NIFFindDesignNote(db, name, NOTE_CLASS_FORM, &found) == NOERROR;
}

/* The first of name, name1, ... name9998 that no design note carries (the
 * last one tried when all are taken), written into `out`. */
void ChooseFreeDesignName(DBHANDLE db, const char* name, char* out, size_t outSize) {
  snprintf(out, outSize, "%s", name);
  if (!DesignNoteExists(db, out))
    return;
  for (int number = 1; number <= kLastCopyNumber; ++number) {
    snprintf(out, outSize, "%s%d", name, number);
    if (!DesignNoteExists(db, out))
      return;
  }
}

STATUS SetText(NOTEHANDLE note, const char* name, const char* text) {
  return NSFItemSetText(note, name, text, NameLength(text));
}

/* Copies the note as a new note of the database under the first free
 * design name; the source is closed on success. */
STATUS CopyUnderFreeName(DBHANDLE db, NOTEHANDLE source, const char* copyName,
                         NOTEHANDLE* retCopy) {
  NOTEHANDLE copy = NULLHANDLE;
  STATUS status = NSFNoteCopy(source, &copy);
  if (status != NOERROR)
    return status;

  ORIGINATORID oid = {};
  status = NSFDbGenerateOID(db, &oid);
  if (status != NOERROR) {
    ReleaseNoteHandle(copy);
    return status;
  }
  NOTEID newNote = 0;
  NSFNoteSetInfo(copy, _NOTE_OID, &oid);
  NSFNoteSetInfo(copy, _NOTE_ID, &newNote);

  // The free name is at most the copy name and four digits.
  size_t size = std::strlen(copyName) + 8;
  char* name = NewArray<char>(size);
  if (name == nullptr) {
    ReleaseNoteHandle(copy);
    return VELKO_ERR_MEMORY;
  }
  ChooseFreeDesignName(db, copyName, name, size);
  status = SetText(copy, "$TITLE", name);
  if (status == NOERROR)
    status = SetText(copy, "$$ScriptName", name);
  delete[] name;
  if (status != NOERROR) {
    ReleaseNoteHandle(copy);
    return status;
  }
  *retCopy = copy;
  return NOERROR;
}

}  // namespace

/* ---- databases and notes ---- */

STATUS OpenDB(LSXLsiSession* session, const char* server, const char* path, DBHANDLE* retDb) {
  if (retDb == nullptr)
    return VELKO_ERR_BAD_ARGUMENT;
  *retDb = NULLHANDLE;
  if (IsEmpty(path)) {
    ShowUserMessage("TARNO: Invalid database name");
    return VELKO_ERR_BAD_ARGUMENT;
  }

  char networkPath[MAXPATH + 1] = {};
  const char* openPath = path;
  if (!IsEmpty(server) && server[0] != ' ') {
    STATUS status = OSPathNetConstruct(nullptr, server, path, networkPath);
    if (status != NOERROR) {
      LoadErrorText(session, status);
      ShowUserMessage("TARNO: Invalid server-database name");
      return status;
    }
    openPath = networkPath;
  }

  STATUS status = NSFDbOpen(openPath, retDb);
  if (status != NOERROR) {
    *retDb = NULLHANDLE;
    ShowUserMessage("TARNO: Unable to open database.");
    LoadErrorText(session, status);
    return status;
  }
  return NOERROR;
}

STATUS OpenNoteInDB(LSXLsiSession* session, DBHANDLE db, NOTEID noteID, const char* designName,
                    const char* /*flagPattern*/, const char* copyName, NOTEHANDLE* retNote,
                    int /*flag*/, int decrypt, const void* decryptionKey) {
  if (retNote == nullptr)
    return VELKO_ERR_BAD_ARGUMENT;
  *retNote = NULLHANDLE;

  NOTEID openID = noteID;
  if (!IsEmpty(designName)) {
    STATUS status = NIFFindDesignNote(db, designName, NOTE_CLASS_FORM, &openID);
    if (status != NOERROR) {
      if (!MessagesSuppressed(session))
        ShowFormatted(session, "TARNO: Unable to find form '%s'.", designName);
      return status;
    }
  }

  NOTEHANDLE note = NULLHANDLE;
  STATUS status = NSFNoteOpen(db, openID, kNoteOpenFlags, &note);
  if (status != NOERROR) {
    ShowUserMessage("TARNO: Unable to find note using NoteID.");
    ShowUserMessage(LoadErrorText(session, status));
    return status;
  }
  DecryptWhenSealed(note, decrypt, decryptionKey);

  if (IsEmpty(copyName)) {
    *retNote = note;
    return NOERROR;
  }

  NOTEHANDLE copy = NULLHANDLE;
  status = CopyUnderFreeName(db, note, copyName, &copy);
  ReleaseNoteHandle(note);
  if (status != NOERROR)
    return status;
  *retNote = copy;
  return NOERROR;
}

STATUS OpenNote(LSXLsiSession* session, const char* server, const char* path, NOTEID noteID,
                const char* designName, const char* flagPattern, const char* copyName,
                DBHANDLE* retDb, NOTEHANDLE* retNote, int flag, int decrypt,
                const void* decryptionKey) {
  if (retDb == nullptr || retNote == nullptr)
    return VELKO_ERR_BAD_ARGUMENT;
  *retNote = NULLHANDLE;
  STATUS status = OpenDB(session, server, path, retDb);
  if (status != NOERROR)
    return status;
  status = OpenNoteInDB(session, *retDb, noteID, designName, flagPattern, copyName, retNote, flag,
                        decrypt, decryptionKey);
  if (status != NOERROR) {
    ReleaseDatabaseHandle(*retDb);
    *retDb = NULLHANDLE;
    *retNote = NULLHANDLE;
  }
  return status;
}

STATUS OpenNoteByUNIDInDB(LSXLsiSession* /*session*/, DBHANDLE db, const UNID* unid,
                          NOTEHANDLE* retNote, WORD openFlags, int decrypt,
                          const void* decryptionKey) {
  if (retNote == nullptr)
    return VELKO_ERR_BAD_ARGUMENT;
  *retNote = NULLHANDLE;
  STATUS status = NSFNoteOpenByUNID(db, unid, openFlags, retNote);
  if (status != NOERROR) {
    *retNote = NULLHANDLE;
    ShowUserMessage("TARNO: Unable to find note using Universal ID.");
    return status;
  }
  DecryptWhenSealed(*retNote, decrypt, decryptionKey);
  return NOERROR;
}

STATUS OpenNoteByUNID(LSXLsiSession* session, const char* server, const char* path,
                      const UNID* unid, DBHANDLE* retDb, NOTEHANDLE* retNote, WORD openFlags,
                      int decrypt, const void* decryptionKey) {
  if (retDb == nullptr || retNote == nullptr)
    return VELKO_ERR_BAD_ARGUMENT;
  *retNote = NULLHANDLE;
  STATUS status = OpenDB(session, server, path, retDb);
  if (status != NOERROR)
    return status;
  status = OpenNoteByUNIDInDB(session, *retDb, unid, retNote, openFlags, decrypt, decryptionKey);
  if (status != NOERROR) {
    ReleaseDatabaseHandle(*retDb);
    *retDb = NULLHANDLE;
    *retNote = NULLHANDLE;
  }
  return status;
}

STATUS CloseNote(DBHANDLE db, NOTEHANDLE note) {
  if (note != NULLHANDLE)
    ReleaseNoteHandle(note);
  if (db != NULLHANDLE)
    ReleaseDatabaseHandle(db);
  return NOERROR;
}

WORD GetFieldDatatype(NOTEHANDLE note, const char* itemName) {
  if (itemName == nullptr)
    return 0;
  WORD dataType = 0;
  if (NSFItemInfo(note, itemName, NameLength(itemName), nullptr, &dataType, nullptr, nullptr) !=
      NOERROR)
    return 0;
  return dataType;
}

/* ---- design notes ---- */

namespace {

enum class DesignKind { Form, ImageResource, Page, SharedField, Subform, FileResource, Unknown };

DesignKind KindFromName(const char* kind) {
  struct Row {
    const char* name;
    DesignKind kind;
  };
  static constexpr Row kKinds[] = {
      {"Form", DesignKind::Form},
      {"Image Resource", DesignKind::ImageResource},
      {"Page", DesignKind::Page},
      {"Shared Field", DesignKind::SharedField},
      {"Subform", DesignKind::Subform},
      {"File Resource", DesignKind::FileResource},
  };
  if (kind == nullptr)
    return DesignKind::Unknown;
  for (const Row& row : kKinds) {
    if (strcasecmp(kind, row.name) == 0)
      return row.kind;
  }
  return DesignKind::Unknown;
}

bool IsResource(DesignKind kind) {
  return kind == DesignKind::ImageResource || kind == DesignKind::FileResource;
}

/* The part of the name after its last / or \; the whole name when there is
 * no separator or nothing follows the last one. */
const char* FilePart(const char* name) {
  const char* part = name;
  for (const char* p = name; *p != '\0'; ++p) {
    if (*p == '/' || *p == '\\')
      part = p + 1;
  }
  return *part != '\0' ? part : name;
}

/* The extension of the name's file part, its dot included; "" when none. */
const char* Extension(const char* name) {
  const char* dot = std::strrchr(FilePart(name), '.');
  return dot != nullptr ? dot : "";
}

bool HasExtension(const char* name, const char* extension) {
  return strcasecmp(Extension(name), extension) == 0;
}

STATUS AppendNumber(NOTEHANDLE note, const char* name, double value) {
  return NSFItemAppend(note, ITEM_SUMMARY, name, NameLength(name), TYPE_NUMBER, &value,
                       sizeof value);
}

/* "$Info": one CDDOCUMENT record with the paper colour and the form flags
 * every new form carries. */
STATUS AppendDocumentInfo(NOTEHANDLE note) {
  CDDOCUMENT document = {};
  document.Header.Signature = SIG_CD_DOCUMENT;
  document.Header.Length = static_cast<BYTE>(ODSLength(ODS_CDDOCUMENT));
  document.PaperColor = 1;
  document.FormFlags = 0x0080;
  document.PaperColorExt = 1;
  BYTE value[sizeof(CDDOCUMENT) + 8] = {};
  void* cursor = value;
  ODSWriteMemory(&cursor, ODS_CDDOCUMENT, &document, 1);
  DWORD length = ODSLength(ODS_CDDOCUMENT);
  length += length & 1;
  return NSFItemAppend(note, 0, "$Info", 5, TYPE_COMPOSITE, value, length);
}

STATUS WriteImageResourceItems(NOTEHANDLE note, const char* name) {
  STATUS status = SetText(note, "$Flags", "34CiQ");
  if (status == NOERROR)
    status = SetText(note, "$ImageNames", FilePart(name));
  if (status == NOERROR)
    status = AppendNumber(note, "$ImagesWide", 1);
  if (status == NOERROR)
    status = AppendNumber(note, "$ImagesHigh", 1);
  if (status == NOERROR)
    status = AppendNumber(note, "$ImagesColorize", 0);
  return status;
}

STATUS WriteFileResourceItems(NOTEHANDLE note, const char* name) {
  bool html = HasExtension(name, ".htm") || HasExtension(name, ".html");
  const char* flags = "345CgQ";
  if (HasExtension(name, ".css"))
    flags = "D34C=Q";
  else if (html)
    flags = "345Cg>Q";
  const char* mimeType = nullptr;
  if (html)
    mimeType = "text/html";
  else if (HasExtension(name, ".txt"))
    mimeType = "text/plain";

  STATUS status = SetText(note, "$Flags", flags);
  if (status == NOERROR)
    status = SetText(note, "$FlagsExt", "D");
  if (status == NOERROR)
    status = SetText(note, "$FileNames", FilePart(name));
  if (status == NOERROR)
    status = SetText(note, "$DesignerVersion", "6");
  if (status == NOERROR && mimeType != nullptr)
    status = SetText(note, "$MimeType", mimeType);
  if (status != NOERROR)
    return status;
  TIMEDATE now = {};
  OSCurrentTIMEDATE(&now);
  return NSFItemAppend(note, ITEM_SUMMARY, "$FileModDT", 10, TYPE_TIME, &now, sizeof now);
}

/* The items of a new design note of the kind; the first failing write
 * stops it. */
STATUS WriteNewDesignItems(NOTEHANDLE note, DesignKind kind, const char* name) {
  STATUS status = SetText(note, "$TITLE", name);
  if (status == NOERROR && !IsResource(kind))
    status = AppendDocumentInfo(note);
  if (status == NOERROR)
    status = SetText(note, "$DesignerVersion", "5");
  if (status != NOERROR)
    return status;

  switch (kind) {
  case DesignKind::Form:
  case DesignKind::SharedField:
    return SetText(note, "$Flags", "");
  case DesignKind::Page:
    return SetText(note, "$Flags", "C34WQ");
  case DesignKind::Subform:
    return SetText(note, "$Flags", "CUA3");
  case DesignKind::ImageResource:
    return WriteImageResourceItems(note, name);
  case DesignKind::FileResource:
    return WriteFileResourceItems(note, name);
  case DesignKind::Unknown:
    break;
  }
  return VELKO_ERR_NO_INPUT;
}

/* Opens the existing design note and drops its content item, so that the
 * element is filled anew. */
STATUS ResetExistingDesignNote(DBHANDLE db, NOTEID noteID, const char* contentItem,
                               NOTEHANDLE* retNote) {
  STATUS status = NSFNoteOpen(db, noteID, kNoteOpenFlags, retNote);
  if (status != NOERROR)
    return status;
  // A design note without the item has nothing to clear.
  if (!IsEmpty(contentItem))
    static_cast<void>(NSFItemDelete(*retNote, contentItem, NameLength(contentItem)));
  return NOERROR;
}

/* A new design note of the kind, not yet stored; 0 with no handle when the
 * host cannot create a note. */
STATUS CreateNewDesignNote(DBHANDLE db, DesignKind kind, const char* name, NOTEHANDLE* retNote) {
  if (NSFNoteCreate(db, retNote) != NOERROR) {
    *retNote = NULLHANDLE;
    return NOERROR;
  }
  STATUS status = WriteNewDesignItems(*retNote, kind, name);
  if (status != NOERROR) {
    ReleaseNoteHandle(*retNote);
    *retNote = NULLHANDLE;
    return status;
  }
  WORD noteClass = NOTE_CLASS_FORM;
  NSFNoteSetInfo(*retNote, _NOTE_CLASS, &noteClass);
  return NOERROR;
}

}  // namespace

STATUS PrepareDesignNote(LSXLsiSession* session, const char* kind, DBHANDLE db, const char* name,
                         const char* contentItem, int overwrite, NOTEHANDLE* retNote) {
  *retNote = NULLHANDLE;
  if (IsEmpty(name))
    return VELKO_ERR_BAD_ARGUMENT;
  NOTEID existing = 0;
  bool found = NIFFindDesignNote(db, name, NOTE_CLASS_FORM, &existing) == NOERROR;
  if (found && overwrite == 0) {
    if (!MessagesSuppressed(session))
      ShowFormatted(session, "TARNO: %s '%s' already exists.", OrEmpty(kind), name);
    return NOERROR;
  }
  return found ? ResetExistingDesignNote(db, existing, contentItem, retNote)
               : CreateNewDesignNote(db, KindFromName(kind), name, retNote);
}

STATUS CreateDesignNote(LSXLsiSession* session, const char* kind, const char* server,
                        const char* path, const char* name, const char* /*pattern*/,
                        const char* contentItem, int overwrite) {
  DBHANDLE db = NULLHANDLE;
  if (OpenDB(session, server, path, &db) != NOERROR) {
    if (!MessagesSuppressed(session))
      ShowFormatted(session, "TARNO: Database '%s' on server '%s' could not be accessed.",
                    OrEmpty(path), OrEmpty(server));
    return NOERROR;
  }
  NOTEHANDLE note = NULLHANDLE;
  STATUS status = PrepareDesignNote(session, kind, db, name, contentItem, overwrite, &note);
  if (status != NOERROR || note == NULLHANDLE) {
    ReleaseDatabaseHandle(db);
    return status;
  }
  status = NSFNoteUpdate(note, 0);
  ReleaseNoteHandle(note);
  ReleaseDatabaseHandle(db);
  return status;
}

STATUS RefreshDesignCollection(DBHANDLE db) {
  HCOLLECTION collection = NULLHANDLE;
  STATUS status = NIFOpenCollection(db, db, kDesignCollection, 0, &collection);
  if (status != NOERROR)
    return status;
  STATUS update = NIFUpdateCollection(collection);
  STATUS close = NIFCloseCollection(collection);
  return update != NOERROR ? update : close;
}

/* ---- the session's design elements ---- */

namespace {

/* What the options of CreateDesignElement ask for. */
struct DesignOptions {
  bool urlEncode = false;
  bool overwrite = false;
  bool overrideSave = false;
  /* The file an image or file resource is filled from (the bare options,
   * or the "SourceFile=" value), and the options handed on with it. */
  const char* sourceFile = nullptr;
  const char* graphicOptions = "";
};

/* Reads the options; the "SourceFile=" value is copied into `source`. */
DesignOptions ReadDesignOptions(const char* options, char* source, size_t sourceSize) {
  DesignOptions read;
  char value[16] = {};
  if (IsEmpty(options))
    return read;
  read.urlEncode = ExtractPropertyBOOL(options, "URLEncode=", value, sizeof value, FALSE) != 0;
  read.overrideSave =
      ExtractPropertyBOOL(options, "OverrideSave=", value, sizeof value, FALSE) != 0;
  if (std::strchr(options, '=') == nullptr) {
    // Bare options name the source file and ask for the element to be replaced.
    read.overwrite = true;
    read.sourceFile = options;
    return read;
  }
  read.overwrite = ExtractPropertyBOOL(options, "Overwrite=", value, sizeof value, FALSE) != 0;
  if (ExtractProperty(options, "SourceFile=", source, sourceSize) != 0 && source[0] != '\0') {
    read.sourceFile = source;
    read.graphicOptions = options;
  }
  return read;
}

/* The element name with \ as /, spaces as + and colons as _, in tracked
 * memory; the caller's text stays as it is. */
char* UrlEncodedCopy(LSXLsiSession* session, const char* name) {
  char* copy = VelkoAllocatePtrAndCopy(session, VELKO_HERE, name, 0);
  if (copy == nullptr)
    return nullptr;
  for (char* p = copy; *p != '\0'; ++p) {
    if (*p == '\\')
      *p = '/';
    else if (*p == ' ')
      *p = '+';
    else if (*p == ':')
      *p = '_';
  }
  return copy;
}

const char* ContentItemFor(DesignKind kind) {
  switch (kind) {
  case DesignKind::Form:
  case DesignKind::Page:
  case DesignKind::SharedField:
  case DesignKind::Subform:
    return "$Body";
  case DesignKind::ImageResource:
    return "$ImageData";
  case DesignKind::FileResource:
    return "$FileData";
  case DesignKind::Unknown:
    break;
  }
  return nullptr;
}

STATUS ConnectByKind(VelkoRTItem* item, DesignKind kind, const char* server, const char* path,
                     const char* name) {
  switch (kind) {
  case DesignKind::Form:
    return item->ConnectForm(server, path, name, nullptr);
  case DesignKind::ImageResource:
    return item->ConnectImageResource(server, path, name, nullptr);
  case DesignKind::Page:
    return item->ConnectPage(server, path, name, nullptr);
  case DesignKind::SharedField:
    return item->ConnectSharedField(server, path, name, nullptr);
  case DesignKind::Subform:
    return item->ConnectSubform(server, path, name, nullptr);
  case DesignKind::FileResource:
    return item->ConnectFileResource(server, path, name, nullptr);
  case DesignKind::Unknown:
    break;
  }
  return VELKO_ERR_NO_INPUT;
}

STATUS ConnectedStatus(VelkoRTItem* item, STATUS status) {
  if (status != NOERROR)
    return status;
  if (item->IsConnected == 0)
    return VELKO_ERR_FAILED;
  return NOERROR;
}

/* Replaces the image of a connected image resource by the file's. */
STATUS ReplaceImage(VelkoRTItem* item, const DesignOptions& options) {
  STATUS status = NOERROR;
  if (VelkoRTChunk* old = item->DefineChunk("Graphic 1")) {
    if (old->Exists() != 0)
      status = old->Remove();
    delete old;
  }
  if (status != NOERROR)
    return status;
  VelkoRTChunk* everything = item->DefineChunk("Everything");
  if (everything == nullptr)
    return VELKO_ERR_BAD_ARGUMENT;
  status = everything->AppendGraphic("File", options.sourceFile, options.graphicOptions);
  delete everything;
  return status;
}

/* Fills a connected file resource and saves it unless asked not to. */
STATUS FillFileResource(VelkoRTItem* item, const DesignOptions& options) {
  STATUS status = item->CreateFileResourceRichTextItem(options.sourceFile, options.graphicOptions);
  if (status != NOERROR || options.overrideSave)
    return status;
  return item->Save();
}

/* Connects the new item to the element and does what the kind asks for
 * with a source file. */
STATUS ConnectDesignElement(VelkoRTItem* item, DesignKind kind, const char* server,
                            const char* path, const char* name, const DesignOptions& options) {
  bool withSource = options.sourceFile != nullptr;
  if (kind == DesignKind::FileResource && !withSource)
    return NOERROR; // handed back unconnected: there is nothing to fill it with
  STATUS status = ConnectedStatus(item, ConnectByKind(item, kind, server, path, name));
  if (status != NOERROR || !withSource)
    return status;
  if (kind == DesignKind::ImageResource)
    return ReplaceImage(item, options);
  if (kind == DesignKind::FileResource)
    return FillFileResource(item, options);
  return NOERROR;
}

}  // namespace

VelkoRTItem* LSXLsiSession::CreateDesignElement(const char* kind, const char* server,
                                                const char* database, const char* name,
                                                const char* options) {
  VelkoRTItem* item = NewObject<VelkoRTItem>(this);
  if (item == nullptr)
    return nullptr;

  // The "SourceFile=" value is kept in tracked memory: the scratch texts
  // are overwritten by the messages and the connects that follow.
  char* source = static_cast<char*>(VelkoAllocatePtr(this, VELKO_HERE, VELKO_SCRATCH_TEXT_SIZE, 1));
  if (source == nullptr) {
    delete item;
    return nullptr;
  }
  DesignOptions read = ReadDesignOptions(options, source, VELKO_SCRATCH_TEXT_SIZE);
  char* encoded = nullptr;
  if (read.urlEncode && name != nullptr) {
    encoded = UrlEncodedCopy(this, name);
    if (encoded == nullptr) {
      VelkoDeallocatePtr(this, source);
      delete item;
      return nullptr;
    }
  }
  const char* elementName = encoded != nullptr ? encoded : name;

  DesignKind designKind = KindFromName(kind);
  const char* contentItem = ContentItemFor(designKind);
  STATUS status = VELKO_ERR_NO_INPUT;
  if (contentItem != nullptr)
    status = CreateDesignNote(this, kind, server, database, elementName, nullptr, contentItem,
                              read.overwrite ? 1 : 0);
  if (status == NOERROR)
    status = ConnectDesignElement(item, designKind, server, database, elementName, read);

  if (encoded != nullptr)
    VelkoDeallocatePtr(this, encoded);
  VelkoDeallocatePtr(this, source);
  if (status != NOERROR) {
    delete item;
    return nullptr;
  }
  return item;
}

/* ---- note identifiers as text ---- */

namespace {

int HexDigitValue(char c) {
  if (c >= '0' && c <= '9')
    return c - '0';
  if (c >= 'A' && c <= 'F')
    return c - 'A' + 10;
  if (c >= 'a' && c <= 'f')
    return c - 'a' + 10;
  return -1;
}

} // namespace

DWORD ReadHexNumber(const char* text, size_t count) {
  DWORD value = 0;
  for (size_t i = 0; i < count; ++i) {
    const int digit = HexDigitValue(text[i]);
    if (digit < 0)
      break;
    value = (value << 4) | static_cast<DWORD>(digit);
  }
  return value;
}

UNIVERSALNOTEID ParseUniversalNoteID(const char* text) {
  UNIVERSALNOTEID id = {};
  if (text == nullptr || std::strlen(text) != 32)
    return id;
  id.File[1] = ReadHexNumber(text, 8);
  id.File[0] = ReadHexNumber(text + 8, 8);
  id.Note.Innards[1] = ReadHexNumber(text + 16, 8);
  id.Note.Innards[0] = ReadHexNumber(text + 24, 8);
  return id;
}
