/*
 * velko's class interface: the session, the rich-text item and the chunk.
 *
 * A caller creates an LSXLsiSession first and deletes it last. Items bind a
 * rich-text item of a note; chunks name parts of an item. The session owns
 * every item and chunk still alive when it is deleted.
 *
 * The objects are plain classes without virtual functions; their data
 * members are public because the engine's subsystems share them (result and
 * scratch buffers of the session, search flags of a chunk). Each keeps its
 * private working state in a block of its own (_internal_SESS,
 * _internal_RTITEM, _internal_RTCHUNK) that this header does not describe.
 *
 * The library's own code lets no exception out of a member: memory that
 * cannot be had is status 263 (or a null result). Only the constructors, like the allocation of the
 * object itself, report it as std::bad_alloc; objects the library makes
 * for itself are made through store/new_object.h, which catches it.
 */
#ifndef VELKO_VELKO_H
#define VELKO_VELKO_H

#include <stddef.h>
#include <stdio.h>

#include "velko/host_types.h"
#include "velko/status.h"

struct _internal_SESS;
struct _CDPABDEFEXT;
struct _internal_RTITEM;
struct _internal_RTCHUNK;
struct velko_allocation;
struct cached_stuff_node;
class VelkoRTItem;
class VelkoRTChunk;

/* Sizes of the session's shared buffers. */
enum : size_t {
  VELKO_RESULT_TEXT_SIZE = 65854,
  VELKO_SCRATCH_TEXT_SIZE = 4096,
};

class LSXLsiSession {
public:
  LSXLsiSession();
  ~LSXLsiSession();
  LSXLsiSession(const LSXLsiSession&) = delete;
  LSXLsiSession& operator=(const LSXLsiSession&) = delete;

  /* Items and chunks register themselves here from their constructors and
   * leave from their destructors. */
  void AddToRTITEMList(VelkoRTItem* item);
  void RemoveFromRTITEMList(VelkoRTItem* item);
  void AddToRTCHUNKList(VelkoRTChunk* chunk);
  void RemoveFromRTCHUNKList(VelkoRTChunk* chunk);

  /* Appends one zeroed 1 MiB buffer to the cache chain; null when memory
   * cannot be had. CleanUpCachedStuff frees the whole chain. */
  cached_stuff_node* CreateCachedStuff();
  void CleanUpCachedStuff();

  /* Fixes the session's temporary directory; run once after construction. */
  void InitializeTempDirectory();

  /* Installs the break test of this session's walks (null: the global
   * ControlBreak, if the host installed one). Called at the first record of
   * a walk and every hundredth after; a non-zero answer interrupts the
   * operation. */
  void SetControlBreak(WORD (*test)(void));

  /* Creates (or reuses) a design element of the kind ("Form", "Page",
   * "Subform", "Shared Field", "Image Resource", "File Resource") and returns
   * a new item connected to it, or null. */
  VelkoRTItem* CreateDesignElement(const char* kind, const char* server, const char* database,
                                   const char* name, const char* options);

  /* Text answers of queries: a byte length and the text. */
  WORD result_length = 0;
  /* Length of the last rendering's output (GenerateHTML's result), which
   * may pass 65535 bytes; result_length then holds 65535. */
  DWORD render_result_length = 0;
  char result_text[VELKO_RESULT_TEXT_SIZE];
  /* Scratch texts: hold nothing between operations. */
  char scratch_first[VELKO_SCRATCH_TEXT_SIZE];
  char scratch_second[VELKO_SCRATCH_TEXT_SIZE];
  char scratch_third[VELKO_SCRATCH_TEXT_SIZE];

  VelkoRTItem* items = nullptr;    /* singly linked through VelkoRTItem::next */
  VelkoRTChunk* chunks = nullptr;  /* singly linked through VelkoRTChunk::next */
  _internal_SESS* internal = nullptr;
};

/* Face ids and families of fonts are single bytes. */
typedef uint8_t FACEID;

/* One rich-text item of a note. */
class VelkoRTItem {
public:
  explicit VelkoRTItem(LSXLsiSession* session);
  ~VelkoRTItem();
  VelkoRTItem(const VelkoRTItem&) = delete;
  VelkoRTItem& operator=(const VelkoRTItem&) = delete;

  /* ---- connecting ---- */
  /* Opens the note (server "" or null: local) and connects its item; with
   * create, a missing item is made blank first. Defines no chunk. */
  STATUS Connect(const char* server, const char* database, NOTEID noteID, const char* itemName,
                 int create);
  /* As Connect; with replace, or when the item is missing, a blank item is
   * made first. */
  STATUS Create(const char* server, const char* database, NOTEID noteID, const char* itemName,
                int replace);
  /* Binds to a note the caller opened (and keeps open). */
  STATUS ConnectBackend(NOTEHANDLE note, const char* itemName, int create);
  STATUS CreateBackend(NOTEHANDLE note, const char* itemName, int replace);
  /* Binds to the note that another item holds. */
  void ConnectBackendInternal(VelkoRTItem* other, const char* itemName);
  /* Design elements by name. */
  STATUS ConnectFormBody(const char* server, const char* database, const char* name,
                         const char* copyName, const char* flagPattern, const char* itemName);
  STATUS ConnectForm(const char* server, const char* database, const char* name,
                     const char* copyName);
  STATUS ConnectFileResource(const char* server, const char* database, const char* name,
                             const char* copyName);
  STATUS ConnectFrameSet(const char* server, const char* database, const char* name,
                         const char* copyName);
  STATUS ConnectImageResource(const char* server, const char* database, const char* name,
                              const char* copyName);
  STATUS ConnectPage(const char* server, const char* database, const char* name,
                     const char* copyName);
  STATUS ConnectSharedField(const char* server, const char* database, const char* name,
                            const char* copyName);
  STATUS ConnectSubform(const char* server, const char* database, const char* name,
                        const char* copyName);
  /* Disconnects: drops bodies, names and chunks of this item, closes what
   * the item opened itself. */
  void CleanupTraces();

  /* ---- writing back ---- */
  /* Writes the loaded record list back to the note's items. */
  STATUS Commit();
  /* Commits when records are cached, then stores the note. */
  STATUS Save();
  /* Copies this item's body into the item of that name on another note. */
  STATUS CopyBackend(NOTEHANDLE note, const char* itemName, int replace);
  /* Checks the names (an empty database path or item name: own error 20013
   * and 257), keeps the note ID and opens that note on the item's current
   * server and database path; the open status becomes the last status and
   * is returned. Copies nothing yet; the note is closed again. */
  STATUS CopyItem(const char* server, const char* database, NOTEID noteID, const char* itemName,
                  int flags);
  /* Has no effect. */
  void CleanupArgBuffer(WORD slot);

  /* ---- chunks and other operations ---- */
  /* A new chunk on this item, or null when the item is not connected or the
   * definition does not parse. */
  VelkoRTChunk* DefineChunk(const char* definition);
  STATUS CreateBlankRichTextItem();
  STATUS CreateFileResourceRichTextItem(const char* name, const char* options);
  STATUS CalculateRTItemCRC(char* out, WORD length, WORD mode);
  WORD GetFormulaItem(const char* itemName, char* out);
  STATUS SetFormulaItem(const char* itemName, const char* text, WORD length);
  STATUS ResetHeaderFooter(int header, const char* text, DWORD fontID, const char* faceName);
  /* Reads the HTML of the connected file resource ("$FileData") and holds
   * it for AppendHTML("BodyContext") on any chunk, in place of what an
   * earlier call held: 0; 259 for an item without a note; 1028 for an
   * item that is no file resource; the read's status. */
  STATUS ConvertFromHTMLBackend();

  /* ---- properties and style mappings ---- */
  double GetPropertyNumber(const char* name);
  STATUS SetPropertyNumber(const char* name, double value);
  WORD GetPropertyText(const char* name, char* out, WORD max);
  int SetPropertyText(const char* name, const char* value, WORD length);
  FACEID DefineFont(const char* faceName);
  int FindFaceByID(FACEID id, char* out);
  void CreateInternalStyleMapping(const char* styleName, const char* faceName, DWORD fontID);
  struct style_mapping* GetStyleMappingByFontID(DWORD fontID, int list);
  void ClearStyleMappings(int list);

  /* ---- paragraph-style strings (chunk/paragraph_style.h) ---- */
  /* Reads the style string (entry 0, new values) and the selection string
   * (entry 1, may be null or empty) into the two definitions, ORs the flag
   * words into the six masks, and writes each string's list-kind masks, the
   * shifts the style string names and the two rows of 21 criteria slots.
   * 1028 when style is null (nothing written). */
  STATUS ParseParagraphString(const char* style, const char* selection, _CDPABDEFEXT* defs,
                              WORD* setFlags, WORD* clearFlags, WORD* setFlags2,
                              WORD* clearFlags2, WORD* setFlags3, WORD* clearFlags3,
                              DWORD listSet[2], DWORD listClear[2], int32_t* shiftLeftOffset,
                              int32_t* shiftRightOffset, int32_t* shiftLeftPercent,
                              int32_t* shiftRightPercent, int criteria[2][21]);

  /* ---- records in stored and host form ---- */
  WORD CanonicalLength(WORD signature, WORD length);
  WORD NonCanonicalLength(WORD signature, WORD length);
  /* The record converted into the item's conversion buffer, valid until the
   * next conversion on this item; null when it cannot be converted. */
  char* ConvertFromCanonicalData(const char* record, WORD signature, DWORD* length);
  char* ConvertToCanonicalData(const char* record, WORD signature, DWORD* length);

  /* ---- the note's font table ---- */
  STATUS InitialFontTable();
  STATUS RecordFontFaces(const char* table);
  FACEID AddToFontTable(const char* faceName, BYTE family);
  STATUS MergeFontTables(NOTEHANDLE otherNote);
  STATUS MergeWithCDFONTTABLE(const char* record, WORD signature, DWORD length);
  STATUS MapFontTable(const char* record, WORD signature, DWORD length, void* context);

  /* ---- item-level export ---- */
  /* Renders the whole item as the generation ("HTML 4.01", "XHTML 1.0",
   * ...) under the options, as GenerateHTML would, into the file at path
   * or the caller's open file. SaveAsMime writes an RFC 822 message
   * instead: a multipart/related of the HTML (quoted-printable) and the
   * images and link icons it names by cid:, and, in a multipart/mixed
   * around it, the attachments rendered by name. Returns (and leaves in
   * last_status) 0, 1028 for a file that cannot be written, 259 when the
   * item is not connected, 263, or the rendering's status. On failure no
   * file is made at path, nothing is written to the caller's file, and no
   * part file is left in the temporary directory. */
  STATUS SaveAsHTML(const char* path, const char* generation, const char* options);
  STATUS SaveAsHTML(FILE* file, const char* generation, const char* options);
  STATUS SaveAsMime(const char* path, const char* generation, const char* options);
  STATUS SaveAsMime(FILE* file, const char* generation, const char* options);

  LSXLsiSession* session = nullptr;
  VelkoRTItem* next = nullptr;
  VelkoRTChunk* default_chunk = nullptr; /* defined on "Everything" */
  char* server = nullptr;                /* owned; "" is the local server */
  char* database = nullptr;              /* owned */
  char* item_name = nullptr;             /* owned */
  DBHANDLE db = NULLHANDLE;
  NOTEID note_id = 0;
  NOTEHANDLE note = NULLHANDLE;
  char* ActionHotspotFont = nullptr;     /* owned */
  WORD AutoDecrypt = 1;
  WORD AutoMergeText = 0;
  WORD AutoSave = 0;
  WORD CacheRecords = 0;
  WORD CacheLinkMatching = 1;
  WORD ImportNativeImages = 0;
  char* URLFont = nullptr;               /* owned */
  char* HyperlinkFont = nullptr;         /* owned */
  char* HighlightFont = nullptr;         /* owned */
  char* PermanentPenFont = nullptr;      /* owned */
  char* PopUpFont = nullptr;             /* owned */
  WORD PermanentPen = 0;
  char* ImportExportFile = nullptr;      /* owned */
  WORD SuppressMessages = 0;
  BYTE default_font_size = 10;
  BYTE default_color = 0;
  BYTE default_attributes = 0;
  BYTE default_face = 1;
  WORD DefaultTableWidth = 8640;         /* twips */
  WORD IsConnected = 0;
  WORD Modified = 0;
  WORD last_status = 0;
  WORD own_error = 0;                    /* 20013 after an invalid name, ... */
  DWORD decryption_area = 0;             /* handed to the host when a note is decrypted */
  _internal_RTITEM* internal = nullptr;
};

/* The settings of a comparison of rich text. Only construction and
 * destruction exist. */
class VelkoRTComparison {
public:
  explicit VelkoRTComparison(LSXLsiSession* session);
  ~VelkoRTComparison();
  VelkoRTComparison(const VelkoRTComparison&) = delete;
  VelkoRTComparison& operator=(const VelkoRTComparison&) = delete;

  LSXLsiSession* session = nullptr;
  VelkoRTItem* items[3] = {}; /* new items of the session; it deletes them */
  /* Owned texts; null when unset. */
  char* removed_marker = nullptr;      /* "(" 0x02 "-)" */
  char* added_marker = nullptr;        /* "(" 0x02 "+)" */
  char* removed_font = nullptr;        /* "RED +STRIKETHROUGH" */
  char* unset_text_1 = nullptr;
  char* removed_mark = nullptr;        /* "(-)" */
  char* added_mark = nullptr;          /* "(+)" */
  char* removed_style = nullptr;       /* "RED +Strikethrough" */
  char* added_style = nullptr;         /* "Blue" */
  WORD words[6] = {0, 0, 0, 1, 0, 0};
  char* added_font = nullptr;          /* "BLUE" */
  char* unset_text_2 = nullptr;
  char* removed_marker_2 = nullptr;    /* "(" 0x01 "-)" */
  char* added_marker_2 = nullptr;      /* "(" 0x01 "+)" */
  char* unset_text_3 = nullptr;
  char* unset_text_4 = nullptr;
  char* columns_decreased = nullptr;   /* "** The number of columns has decreased **" */
  char* columns_increased = nullptr;
  char* rows_decreased = nullptr;
  char* rows_increased = nullptr;
  int limit = 999;
  WORD further_words[4] = {0, 1, 0, 0};
};

/* A universal note ID as the link callback receives it: the database's file
 * part and the note's part, two words each (the host's UNID layout). */
typedef struct {
  DWORD File[2];
  TIMEDATE Note;
} UNIVERSALNOTEID;

/* Rendering callbacks a caller may install on a chunk. The output
 * callback's result is not read; the link callback answers as
 * VelkoLinkAnswer says.
 *
 * ActOnTextCallback receives each piece of rendered output: length bytes at
 * text. QueryLinkDataCallback receives each rendered link: its kind, the
 * replica ID as given (with its length) and as parsed, the parsed view and
 * note IDs, and three further texts with their lengths (0 for a null text). */
typedef WORD (*ActOnTextCallback)(VelkoRTChunk* chunk, const char* text, WORD length);
typedef WORD (*QueryLinkDataCallback)(VelkoRTChunk* chunk, WORD kind, const char* replicaText,
                                      WORD replicaLength, TIMEDATE* replicaID,
                                      UNIVERSALNOTEID* viewID, UNIVERSALNOTEID* noteID,
                                      const char* text1, WORD length1, const char* text2,
                                      WORD length2, const char* text3, WORD length3);

/* The link callback's answer: its result is the kind (0, 2 or 4; any
 * other result answers nothing), its texts are what it stored in event
 * return strings 1 (the link text for kinds 2 and 4, the database for 0),
 * 2 (the view) and 3 (the note) with SetEventRetString. The chunk's own
 * event strings are kept aside during the call and restored after it. */
constexpr WORD kLinkAnswerNone = 0xFFFF;
struct VelkoLinkAnswer {
  WORD kind = kLinkAnswerNone;
  char* texts[3] = {}; /* owned; null when not set */
  STATUS status = 0;   /* 263 when a text could not be kept */
  VelkoLinkAnswer() = default;
  VelkoLinkAnswer(const VelkoLinkAnswer&) = delete;
  VelkoLinkAnswer& operator=(const VelkoLinkAnswer&) = delete;
  ~VelkoLinkAnswer() {
    for (char* text : texts)
      delete[] text;
  }
};

/* One defined part of an item.
 *
 * Methods that run an operation clear the status word, run it and return
 * the status word (0: success); a method that refuses its arguments returns
 * its refusal without running anything. The navigation methods and Exists
 * return their answers instead. */
class VelkoRTChunk {
public:
  VelkoRTChunk(LSXLsiSession* session, VelkoRTItem* item);
  ~VelkoRTChunk();
  VelkoRTChunk(const VelkoRTChunk&) = delete;
  VelkoRTChunk& operator=(const VelkoRTChunk&) = delete;

  /* ---- dispatch ---- */
  /* Runs one engine action over the chunk (with extraDefinition, when
   * given and not empty, appended to the definition for this call only).
   * A run that wrote nothing is success; a run that wrote updates the note
   * when the item's AutoSave is on. An item missing from the note gives
   * 1028 without running the engine. Returns the status word. */
  STATUS AlterRichText(WORD action, WORD p1, WORD p2, WORD p3, WORD p4, const char* s1,
                       const char* s2, const char* extraDefinition, VelkoRTChunk* other);

  /* ---- definitions, navigation and zoom ---- */
  /* A new chunk on the same item: this chunk's definition followed by the
   * sub-definition; null when it does not parse. The caller owns it. */
  VelkoRTChunk* DefineSubChunk(const char* subDefinition);
  /* Narrows this chunk by the sub-definition: 1, or 0 when it does not
   * parse (the chunk is then unchanged). */
  int ZoomIn(const char* subDefinition);
  /* Restores the definition the chunk had before its first ZoomIn. */
  void ZoomOut();
  /* Step the indexes of the last clause; 1 when the target then exists.
   * The argument is not used. */
  int GetNextTarget(int unused = 0);
  int GetPreviousTarget(int unused = 0);
  int GetLastTarget(int unused = 0);
  /* Targets of the sub-definition within the chunk; 65535 when it does not
   * parse. */
  WORD GetCount(const char* subDefinition);
  /* 1 when the chunk's target is present in the item, else 0. */
  int Exists();
  /* Removes the content of the chunk's target from the item. */
  STATUS Remove();

  /* ---- content ---- */
  /* Appends a graphic of the kind ("File", "URL"; "Attachment" does
   * nothing) read from the source; with the option Attach=yes a file is
   * attached to the note first. */
  STATUS AppendGraphic(const char* kind, const char* source, const char* options);
  /* The append family: each checks its arguments, prepares the session's
   * shared areas and runs one append action where the chunk ends. */
  STATUS AppendText(const char* text, WORD length, const char* font);
  STATUS AppendNewLines(WORD count, int flag);
  STATUS AppendTabs(WORD count);
  STATUS AppendPageBreak();
  /* flag: the name's length (0: its string length). */
  STATUS AppendAnchor(const char* name, WORD flag);
  STATUS AppendParagraph(const char* style, const char* options, const char* formula,
                         WORD length);
  /* The target needs a ':'; the event strings 2-6 take the further texts. */
  STATUS AppendLink(const char* anchorText, WORD p1, const char* target, const char* text2,
                    const char* text3, const char* text4, WORD p2, const char* text5, WORD p3,
                    const char* text6, WORD p4);
  /* kind: "Action", "Button", "Popup", "Mouseover", "ComputedText",
   * "Subform" or "FileUpload", with the code's language ("Formula",
   * "LotusScript", "JavaScript", "Text"). */
  STATUS AppendHotspot(const char* kind, const char* code, WORD codeLength, const char* options,
                       const char* label, WORD labelLength);
  /* Wraps the chunk's image in a hotspot whose code is a formula (code
   * kind "Formula"); "LotusScript" and "JavaScript" are refused (1028), as
   * an image map's area keeps no script, and any other kind gives 257. */
  STATUS SetImageHotspot(const char* codeKind, const char* code, WORD codeLength,
                         const char* options, const char* label, WORD labelLength);
  STATUS AppendLayer(const char* top, const char* left, const char* height, const char* width,
                     WORD flag, const char* options, const char* extra, const char* formula,
                     WORD formulaLength);
  /* 1-255 rows, 1-64 columns; columnTexts may be null. */
  STATUS AppendTable(WORD rows, WORD columns, int adjustable, const char* options,
                     const char* const* columnTexts);
  /* On a Table or Row chunk; cellTexts may be null. */
  STATUS AppendRow(int flag, WORD row, const char* const* cellTexts);
  STATUS AppendFileAttachment(const char* file, const char* name, int flag, const char* text);
  STATUS AppendImportFile(const char* file, const char* options);
  /* source: "File" (or empty), "URL" (does nothing), "BodyContext", or a
   * text starting "IN". */
  STATUS AppendHTML(const char* source, const char* text, const char* options);
  STATUS AppendFormBody(const char* form);
  STATUS AppendPageBody(const char* page);
  STATUS AppendSubformBody(const char* subform);
  /* The body of the item of another note; 20017 without a database or item
   * name, 1028 when the note has no such item. */
  STATUS AppendRTItem(const char* server, const char* database, NOTEID noteID,
                      const char* itemName);
  /* The target of the definition in the item of another note; 546 when it
   * is not there. */
  STATUS AppendRTChunk(const char* server, const char* database, NOTEID noteID,
                       const char* itemName, const char* definition, int flag);

  /* ---- edits (the status word; a refused argument returns its code) ---- */
  STATUS ChangeFont(const char* font, const char* options, int flag);
  STATUS ChangeParagraph(const char* style, const char* options, int flag);
  /* Only the first length bytes of properties are read. */
  STATUS ChangeTable(const char* properties, WORD length);
  STATUS ExpandPabDefs(const char* options);
  STATUS ExportGraphic(const char* file, const char* options);
  /* Does nothing; returns 0. */
  STATUS ConvertBitmaps(const char* unused);
  STATUS Highlight(int flag);
  STATUS HighlightText(const char* text, WORD length);
  STATUS RemoveFields(const char* name, WORD length);
  STATUS RemoveHotspots();
  STATUS RemoveLinks(int flag);
  STATUS RemoveSections();
  /* options: TEXT (the default), NONTEXT, FORMULA, HIDEWHEN, URL,
   * EVERYTHING. */
  STATUS ReplaceTextQuick(const char* find, WORD findLength, const char* replacement,
                          WORD replacementLength, const char* options);
  /* Check their arguments; the attachment work is not available (257). */
  STATUS RefreshAttachmentIcon(int flag, const char* text);
  STATUS RenameAttachment(const char* name, int flag, const char* text);
  /* Sets the text of the sub-chunk; an empty sub-definition does nothing. */
  STATUS SetText(const char* subDefinition, const char* text, WORD length, const char* font);
  /* Sorts the rows of a Table chunk by the column (from 1); options name
   * SortBy=, TitleRows= and up to five secondary keys. */
  STATUS SortByRow(WORD column, int titleRowsFlag, int numeric, int reverse,
                   const char* options);
  /* 1 when the font is used in the chunk, else 0. */
  int FontInUse(const char* font);

  /* ---- keyword link matching ---- */
  /* Turns the keywords that the reference field of the view's documents
   * gives (server, database path, view) into links to their documents
   * wherever they stand in the chunk's text. properties: MinLength=,
   * MatchText=, ReplaceExtra=, SingleMatch=. The keyword table is kept for
   * a second call with the same keys in the same hour when the item's
   * CacheLinkMatching is on. Keyword texts or results computed by
   * formulas, and the highlight and insert modes, answer 1028 after the
   * argument checks. mode: 2386 links, 2801 to 2806 the methods below. */
  STATUS LinkMatching(const char* server, const char* path, const char* view, const char* field,
                      const char* resultFormula, const char* properties, WORD mode);
  STATUS AppendMatching(const char* server, const char* path, const char* view, const char* field,
                        const char* resultFormula, const char* properties);
  STATUS HighlightMatching(const char* server, const char* path, const char* view,
                           const char* field, const char* resultFormula, const char* properties);
  STATUS InsertMatching(const char* server, const char* path, const char* view, const char* field,
                        const char* resultFormula, const char* properties);
  /* Collects the keywords found, joined by "," (or Separator=), into the
   * session's result text; the item is not changed. */
  STATUS KeywordMatching(const char* server, const char* path, const char* view,
                         const char* field, const char* resultFormula, const char* properties);
  STATUS PopupMatching(const char* server, const char* path, const char* view, const char* field,
                       const char* resultFormula, const char* properties);
  STATUS ReplaceMatching(const char* server, const char* path, const char* view,
                         const char* field, const char* resultFormula, const char* properties);
  /* Do nothing; return 0. */
  STATUS RegexLink(const char* a, const char* b, const char* c, WORD mode);
  STATUS RegexHighlight(const char* a, const char* b, const char* c);
  STATUS RegexKeywords(const char* a, const char* b, const char* c);
  STATUS RegexPopup(const char* a, const char* b, const char* c);
  STATUS RegexReplace(const char* a, const char* b, const char* c);
  /* Turns wiki markup (a title between "((" and "))", or WikiDelimiters=)
   * into links to the documents of those titles in the view (server "@...":
   * the local database), URL links, or hotspots composing a new document
   * with the title; links and hotspots of an earlier run are turned back
   * into markup first. field must be given; formula, when empty, makes the
   * links name the database's replica and the view. properties: Tag=,
   * WikiDelimiters=, ResolveTags=, Form=. Commits the item. */
  STATUS WikiMatching(const char* server, const char* path, const char* view, const char* field,
                      const char* formula, const char* properties);

  /* ---- named properties ---- */
  /* The property's number; 0 for an unknown name. */
  double GetPropertyNumber(const char* name);
  /* The property's text in buffer (at most size - 1 bytes and a NUL);
   * returns the bytes written for properties the engine answers as text,
   * else 0. */
  WORD GetPropertyText(const char* name, char* buffer, WORD size);
  /* The common read: the number (wantNumber 1) or the text; written, when
   * given, receives what GetPropertyText returns. */
  void GetPropertyInternal(const char* name, char* text, WORD size, double* number,
                           WORD wantNumber, WORD* written);
  /* 1 when the property was set, else 0. */
  int SetPropertyNumber(const char* name, double value);
  /* A null value makes name a list of Name=value pairs, of which the first
   * settable property is set. */
  int SetPropertyText(const char* name, const char* value, WORD length);

  /* ---- queries answered in the session's result text ---- */
  /* Copies the text of the chunk (narrowed by the sub-definition, when
   * given) into buffer, at most size - 1 bytes cut between whole
   * characters, and NUL-terminates it; flag and options go to the engine.
   * Returns the bytes copied. Size 0 (or no buffer) copies nothing and sets
   * the status 20017. */
  DWORD GetText(const char* subDefinition, char* buffer, DWORD size, WORD flag,
                const char* options);
  /* The widths of the first table cell's borders: "left,right,top,bottom",
   * or the one side whose name's first letter is given (L, R, T, B). */
  char* GetCellBorder(const char* side);
  /* The chunk's HTML attribute value ("Name", "ID", "Class", "Style",
   * "Title" or "Other"); empty, without running the engine, for another
   * attribute. */
  char* GetHTMLValue(const char* attribute, const char* scope);
  /* The properties of the chunk's first table (all of them when property
   * is null or empty) as Name=value text. */
  char* GetTableProperties(const char* property);
  /* The properties of the target type's records in the chunk as Name=value
   * text; with a property name, that property's value alone ("" when the
   * text has no such key). */
  char* GetTargetProperties(const char* target, const char* property);

  /* ---- event strings and rendering callbacks ---- */
  /* Stores a copy of (at most) length bytes of text in slot 1 to 6; a null
   * or empty text leaves the slot empty; a copy that cannot be had sets
   * status to 263. Another slot number stores nothing and counts the link
   * mode word down by one. */
  void SetEventRetString(WORD slot, const char* text, WORD length);
  /* Frees the event return text of slot 1 to 6; other slots are ignored. */
  void CleanupEventRetString(WORD slot);
  /* Install a callback (null: none); return the one installed before. */
  ActOnTextCallback SetActOnTextCallback(ActOnTextCallback callback);
  QueryLinkDataCallback SetQueryLinkDataCallback(QueryLinkDataCallback callback);
  /* Hand one piece of rendered output to the act-on-text callback. */
  void RaiseActOnText(const char* text, WORD length);
  /* Parse the link's replica, view and note ID texts and hand the link to
   * the query-link-data callback; its answer goes to `answer` when given.
   * The first two arguments are not read. */
  void RaiseQueryLinkData(const char* unused1, WORD unused2, WORD kind, const char* replicaText,
                          const char* viewText, const char* noteText, const char* text1,
                          const char* text2, const char* text3,
                          VelkoLinkAnswer* answer = nullptr);
  /* No effect; returns 0. */
  WORD RaiseReplaceHTMLScripting(const char* a, const char* b, const char* c, const char* d,
                                 const char* e);

  /* ---- rendering ---- */
  /* Renders the chunk (with extraDefinition appended for this run) as the
   * generation ("HTML 4.01", "XHTML 1.0", "Fragment", "Plain Text", ...)
   * under the options (optionsLength 0: the string's own length). Returns
   * the output as a tracked block of the session that the caller frees
   * with VelkoDeallocatePtr; its length is the session's
   * render_result_length. Null when memory runs out. Callbacks given are
   * installed on the chunk. */
  char* GenerateHTML(const char* extraDefinition, const char* generation, const char* options,
                     WORD optionsLength, ActOnTextCallback actOnText,
                     QueryLinkDataCallback queryLinkData);
  /* Renders for the item-level export: into the caller's buffer (capacity
   * in *length on entry, the output length on return), a caller file, the
   * output callback, or, in MIME mode without a file, MIME part files
   * "MP<partNumber>_<n>.html" attached to the note as "$FILE" (the name goes
   * to partNameOut, four NULs when none was made). The four link-graphic
   * words and callerWord go in and come back. optionsLength 0: no options.
   * Returns 0, 263 when memory or the caller's buffer runs out, or 257
   * when a file cannot be written. */
  STATUS GenerateHTMLToMime(int reserved, int mimeMode, const char* generation, const char* options,
                            WORD optionsLength, char* buffer, DWORD* length, WORD partNumber,
                            char* partNameOut, FILE* file, const char* fileName,
                            ActOnTextCallback actOnText, QueryLinkDataCallback queryLinkData,
                            int* linkGraphicUsed, int* callerWord);
  /* The run shared by the two above, on the rendering context they record
   * in the chunk: options, document frame, the engine's rendering action
   * and the closing text. 1028 when no context is recorded. */
  STATUS GenerateXML(int reserved, int mimeMode, const char* extraDefinition,
                     const char* generation, const char* options, WORD optionsLength, char* buffer,
                     DWORD* capacity, WORD partNumber, FILE* file, const char* fileName,
                     ActOnTextCallback actOnText, QueryLinkDataCallback queryLinkData);

  /* ---- finding ---- */
  /* The number of the first table, button or layer (targetType: a type
   * name, its whole name first, else a prefix) of the item whose name
   * matches text (textLength bytes) under the mode ("EXACT" or "ENTIRE",
   * "STARTS", "ENDS", "SUBSTR"; anything else matches every name), with a
   * record inside this chunk (n not 0) or after it (n 0). Elements are
   * counted from the start of the item, so the answer addresses the element
   * as a chunk ("Table 3"). 0 when none matches. A definition that is not
   * "Everything" or clauses of one index each gives status 20017 and 0.
   * The last argument is not read. */
  WORD FindNamedChunk(int n, const char* targetType, const char* text, WORD textLength,
                      const char* mode, const char* ignored);
  /* The same for text runs: the first run whose font passes the font
   * string's filter and whose text matches; 0 also for a null font. */
  WORD FindTextChunk(int n, const char* text, WORD textLength, const char* mode,
                     const char* font);

  LSXLsiSession* session = nullptr;
  VelkoRTItem* item = nullptr;
  VelkoRTChunk* next = nullptr;
  char* definition = nullptr;          /* canonical definition text */
  char* unzoomed_definition = nullptr; /* before the first ZoomIn; null when not zoomed */
  WORD target_type = 0;
  WORD status = 0;
  WORD secondary_status = 0;
  WORD AccentSensitive = 1;
  WORD CaseSensitive = 0;
  WORD RegularExpression = 0;
  WORD SearchWordBoundaries = 0;
  WORD SetImpliedProperties = 0;
  WORD TextWildcards = 0;
  /* Non-zero: appends go where the chunk ends. Never changed after construction. */
  DWORD append_position = 1;
  WORD link_mode = 0;
  WORD field_flag = 0;
  char* event_strings[6] = {};         /* event return strings, slots 1 to 6 */
  _internal_RTCHUNK* internal = nullptr;
};

/* ---- memory the library hands to the caller ---- */

/* Frees a block that the library handed to the caller (GenerateHTML's
 * result) back into the session's pool; null is ignored. A pointer the
 * session did not hand out is logged and left alone. */
void VelkoDeallocatePtr(LSXLsiSession* session, void* data);

/* How many of the session's tracked blocks are in use: blocks handed to
 * the caller and not freed yet, and the working memory of items and chunks
 * still alive. 0 once every result is freed and every item deleted. */
DWORD VelkoTrackedBlocksInUse(const LSXLsiSession* session);

/* ---- copying items between notes ---- */

/* Replaces the target note's items named targetName (null or empty: the
 * source name) by copies of the raw values of every item of the source
 * note named sourceName, of any type, in the source's order (item flags
 * ITEM_SIGN). All source values are read before the target changes; when
 * an append fails the target's old items come back and its status is
 * returned. A source without such an item, or an item copied onto itself
 * (one note, names equal without regard to case), changes nothing and
 * returns 0. */
STATUS CopyItemToNote(NOTEHANDLE source, NOTEHANDLE target, const char* sourceName,
                      const char* targetName);

#endif
