/*
 * The engine's shared vocabulary: target types and the per-type record tests
 * with which the engine recognises a target, the settable property names of
 * each target type, the action codes with their writes flags, and the chunk
 * property table.
 *
 * These are read-only tables and small lookups over them. Carrying out an
 * action, reading or setting a property and testing records against a row
 * are done by the chunk and the engine, not here.
 */
#ifndef VELKO_STORE_VOCABULARY_H
#define VELKO_STORE_VOCABULARY_H

#include <stddef.h>
#include <stdint.h>

#include "velko/host_types.h"

/* ======================================================================
 * Target types (target_types.cpp)
 * ====================================================================== */

enum : WORD {
  TARGETTYPE_EVERYTHING = 0,
  TARGETTYPE_TABLE = 1,
  TARGETTYPE_HOTSPOT = 2,
  TARGETTYPE_BUTTON = 3,
  TARGETTYPE_SECTION = 4,
  TARGETTYPE_ROW = 5,
  TARGETTYPE_COLUMN = 6,
  TARGETTYPE_FILE = 7,
  TARGETTYPE_DOCLINK = 8,
  TARGETTYPE_TEXT = 9,
  TARGETTYPE_STYLIZEDTEXT = 10,
  TARGETTYPE_RAWTEXT = 11,
  TARGETTYPE_RECORD = 12,
  TARGETTYPE_OLEOBJECT = 13,
  TARGETTYPE_ANCHOR = 14,
  TARGETTYPE_GRAPHIC = 15,
  TARGETTYPE_HYPERLINK = 16,
  TARGETTYPE_ACTIONHOTSPOT = 17,
  TARGETTYPE_POPUP = 18,
  TARGETTYPE_FIELD = 19,
  TARGETTYPE_EVENT = 20,
  TARGETTYPE_PARAGRAPH = 21,
  TARGETTYPE_XML = 22,
  TARGETTYPE_SUBFORM = 23,
  TARGETTYPE_COMPUTEDTEXT = 24,
  TARGETTYPE_HTML = 25,
  TARGETTYPE_XHTML = 26,
  TARGETTYPE_HR = 27,
  TARGETTYPE_PASSTHRUHTML = 28,
  TARGETTYPE_LAYER = 29,
  TARGETTYPE_LAYOUTREGION = 30,
  TARGETTYPE_URLLINK = 31,
  TARGETTYPE_IMAGEMAP = 32,
  TARGETTYPE_GRAPHICHOTSPOT = 33,
  TARGETTYPE_IGNORED = 34,
  TARGETTYPE_NONBLANKTEXT = 35,
  TARGETTYPE_PARAGRAPHLIST = 36,
  TARGETTYPE_DELIMITEDHTML = 37,
};

/* Number of target type ids (0 to 37). */
inline constexpr WORD kTargetTypeCount = 38;

/* One name per target type id; definition texts and chunk methods use them. */
extern const char* const targettype_name_table[kTargetTypeCount];

/* A 16-bit field of the start record that must hold one of `count` values
 * (count 0: no test). */
struct target_discriminator {
  uint16_t offset;
  uint16_t count;
  uint16_t values[4];
};

/* A 32-bit field of the start record tested against `count` masks (count 0:
 * no test). As an exclude test a record whose field has a bit of any mask is
 * refused; as a require test one whose field has a bit of none of them. */
struct target_mask_test {
  uint32_t offset;
  uint32_t count;
  uint32_t masks[3];
};

/* Index of the words in target_parameter::flags that something reads. */
inline constexpr int kTargetFlagStartRecordAlone = 1; /* the target is its start record */
inline constexpr int kTargetFlagEndOutside = 2;       /* the ending record lies outside it */

/* How the engine recognises where a target of one type begins and ends. A
 * plain table of named fields; 0 marks an empty signature slot and null an
 * absent text pattern. Offsets count from the start of the record in host
 * form (see host/cdrecords.h). */
struct target_parameter {
  uint16_t id;
  uint16_t start_signatures[4];           /* a record that can begin the target */
  uint16_t bracketed_start_signatures[4]; /* a CDBEGIN bracketing one can begin it */
  /* Row, Column: the byte of the table cell holding the 0-based index; 0 otherwise */
  uint16_t cell_index_byte;
  target_discriminator discriminator;
  target_mask_test exclude;
  target_mask_test require;
  const char* start_text_patterns[2];
  const char* end_text_patterns[2];
  uint16_t end_signatures[7];    /* records at which the target ends */
  uint16_t member_signatures[7]; /* records that belong to the target */
  uint32_t flags[4];             /* see kTargetFlag...; words 0 and 3 are read by nothing */
};

/* One row per target type 1 to 37, in id order: row = id - 1. */
extern const target_parameter target_parameter_table[kTargetTypeCount - 1];

/* The first id, in id order, whose name is a case-insensitive prefix of
 * `text`; 0 when none (and for null text). */
WORD LookupTargetType(const char* text);

/* The id whose whole name `text` is (any case), so that "GraphicHotspot"
 * and "ParagraphList" name their own types; else LookupTargetType. */
WORD TargetTypeOfName(const char* text);

/* The name of ids 0 to 37, else `fallback`. */
const char* LookupTargetTypeName(WORD id, const char* fallback);

/* The quote character for a property value of `length` bytes: '\'' when it
 * holds no apostrophe, else '"' when it holds no double quote, else '|' when
 * it holds no bar, else '~'. */
char ChooseDelimiter(const char* text, size_t length);

/* Hotspot begins: 0xFFA9, 0xFFAD, 0xFF7E, 0xFF74. */
bool EqualsValidHotspotBegin(WORD signature);
/* Hotspot ends: 0xAA, 0xAE, 0x7F. */
bool EqualsValidHotspotEnd(WORD signature);
bool EqualsValidHotspotSignature(WORD signature);

/* ======================================================================
 * Target property names and name-ordered tables (target_properties.cpp)
 * ====================================================================== */

/* The settable property names of one target type. A list slot may be null;
 * `count` bounds the search and is answered when nothing matches. */
struct property_parameter {
  uint16_t target_type;
  uint16_t count;
  const char* const* names; /* null when the type has no list */
};

extern const property_parameter property_parameter_table[kTargetTypeCount];

extern const char* const TARGETTYPE_TABLEProperties[29];
extern const char* const TARGETTYPE_GRAPHICProperties[17];
extern const char* const TARGETTYPE_FIELDProperties[1];
extern const char* const TARGETTYPE_LAYERProperties[17];
/* These two lists are named by no row, so the lookups find nothing for
 * Section and HR. */
extern const char* const TARGETTYPE_SECTIONProperties[17];
extern const char* const TARGETTYPE_HORIZONTALRULEProperties[12];

/* Index of the first non-null slot below the row's count whose name equals
 * `name` ignoring case; the row's count when the type has no list, the name
 * is null or empty, or nothing matches (0 for an id beyond the table). */
WORD LookupPropertyID(WORD targetType, const char* name);

/* The name at `index`, or null when the type has no list or the index is not
 * below the row's count. */
const char* LookupPropertyString(WORD targetType, WORD index);

/* ASCII case-insensitive comparison with strcasecmp's ordering (both sides
 * lowered), independent of the locale. Null sorts before any text. */
int CompareNamesIgnoringCase(const char* a, const char* b);

/* Name-ordered tables are searched over at most this many rows. */
inline constexpr size_t kNameTableRowLimit = 999;

/* Finds the row whose `name` equals `name` ignoring case in a table sorted by
 * name (case-insensitive) and ended by a row with a null name. The search
 * stops with null at the end row, after kNameTableRowLimit rows, or at the
 * first row whose name sorts after the wanted one; it therefore relies on
 * the table's order. */
template <typename Row> const Row* FindRowInNameOrder(const Row* rows, const char* name) {
  if (rows == nullptr || name == nullptr)
    return nullptr;
  for (size_t i = 0; i < kNameTableRowLimit && rows[i].name != nullptr; ++i) {
    int order = CompareNamesIgnoringCase(rows[i].name, name);
    if (order == 0)
      return &rows[i];
    if (order > 0)
      return nullptr;
  }
  return nullptr;
}

/* ======================================================================
 * Action codes and chunk properties (action_codes.cpp)
 * ====================================================================== */

/* Action codes: 1-69 property actions and small chunk methods; 2304, 2305
 * and 2601 property queries; 2351-2449 and 2801-2821 operations. */
enum : WORD {
  ACTION_QUERY_RECORDS = 1, /* first and last record numbers; p1 says which */
  ACTION_COLLECT_SORT_KEY = 2,
  ACTION_GET_SECTION_TITLE = 7,
  ACTION_SET_SECTION_TITLE = 8,
  ACTION_GET_TEXT = 9,
  ACTION_SET_TEXT = 10,
  ACTION_COLLECT_SORT_KEYS = 11,
  ACTION_GET_FILE_NAMES = 12,
  ACTION_GET_FONT = 13,
  ACTION_GET_PARAGRAPH_STYLE = 14,
  ACTION_GET_LINK = 15,
  ACTION_GET_ANCHOR_TEXT = 16,
  ACTION_SET_ANCHOR_TEXT = 17,
  ACTION_GET_HOTSPOT_BORDER = 18,
  ACTION_GET_ACTION_FORMULA = 20,
  ACTION_SET_ACTION_FORMULA = 21,
  ACTION_GET_BUTTON_TEXT = 22,
  ACTION_SET_BUTTON_TEXT = 23,
  ACTION_GET_HIDE_FORMULA = 24,
  ACTION_SET_HIDE_FORMULA = 25,
  ACTION_GET_PABID = 26,
  ACTION_GET_STYLE_NAME = 27,
  ACTION_GET_GRAPHIC_HEIGHT = 29,
  ACTION_GET_GRAPHIC_WIDTH = 31,
  ACTION_GET_TABLE_FIT_TO_WINDOW = 33,
  ACTION_GET_MARGINS = 36,
  ACTION_PREPARE_APPEND = 37,
  ACTION_GET_CELL_COLOR = 38,
  ACTION_GET_IMAGE_IN_PIXELS = 39,
  ACTION_GET_ROW_LABEL = 41,
  ACTION_SET_ROW_LABEL = 42,
  ACTION_GET_TARGET_FRAME = 43,
  ACTION_SET_TARGET_FRAME = 44,
  ACTION_GET_PASSTHRU_HTML = 47,
  ACTION_SET_PASSTHRU_HTML = 48,
  ACTION_CLEANUP_TEXT_RUNS = 49, /* clean-up pass after an operation */
  ACTION_GET_GRAPHIC_FORMAT = 50,
  ACTION_GET_GRAPHIC_OFFSET = 51,
  ACTION_GET_GRAPHIC_RATIO = 52,
  ACTION_GET_GRAPHIC_UNIT = 53,
  ACTION_CLEAR_RECORD_MARK = 54,
  ACTION_GET_FILE_SIZE = 66,
  ACTION_GET_GRAPHIC_STORAGE = 67,
  ACTION_SET_GRAPHIC_STORAGE = 68,
  ACTION_EXPAND_PAB_DEFS = 69,
  ACTION_CONTAINS_SOMETHING = 2304,
  ACTION_CONTAINS_TEXT = 2305,
  ACTION_APPEND_ANCHOR = 2351,
  ACTION_APPEND_IMPORT_FILE = 2352,
  ACTION_APPEND_LINK = 2353,
  ACTION_APPEND_NEW_LINES = 2354,
  ACTION_APPEND_ROW = 2355,
  ACTION_APPEND_RTCHUNK = 2356,
  ACTION_APPEND_RTITEM = 2357,
  ACTION_APPEND_SUBFORM_BODY = 2358,
  ACTION_APPEND_TABLE = 2359,
  ACTION_APPEND_TABS = 2360,
  ACTION_APPEND_TEXT = 2361,
  ACTION_SET_LINK = 2362,
  ACTION_CHANGE_FONT = 2363,
  ACTION_CHANGE_PARAGRAPH = 2364,
  ACTION_REMOVE = 2366,
  ACTION_EXPORT_GRAPHIC = 2367,
  ACTION_FONT_IN_USE = 2368,
  ACTION_HIGHLIGHT = 2372,
  ACTION_HIGHLIGHT_TEXT = 2373,
  ACTION_LINK_OCCURRENCES = 2385, /* the codes below without a method are issued by none */
  ACTION_LINK_MATCHING = 2386,
  ACTION_WRAP_IN_LINK = 2387,
  ACTION_WRAP_IN_LINK_ALT = 2388,
  ACTION_REMOVE_HOTSPOTS = 2389,
  ACTION_REMOVE_LINKS = 2390,
  ACTION_REMOVE_SECTIONS = 2391,
  ACTION_REPLACE_TEXT_QUICK = 2392,
  ACTION_SET_CELL_BORDERS = 2393,
  ACTION_SET_CELL_COLOR = 2394,
  ACTION_PEN_FONT_TEXT = 2395,
  ACTION_SORT_BY_ROW = 2396,
  ACTION_DROP_CHUNK = 2397,
  ACTION_FIND_TEXT = 2398,
  ACTION_REPLACE_TEXT_SAME_LENGTH = 2399,
  ACTION_WRAP_IN_SECTION = 2404,
  ACTION_MERGE_CELLS = 2405,
  ACTION_UNDO_MERGE_CELLS = 2406,
  ACTION_GET_CELL_BORDER = 2407,
  ACTION_APPEND_PAGE_BREAK = 2409,
  ACTION_APPEND_FIELD = 2411,
  ACTION_CHANGE_TABLE = 2413,
  ACTION_GET_TABLE_PROPERTIES = 2414,
  ACTION_MODIFY_FIELD = 2416,
  ACTION_APPEND_PARAGRAPH = 2417,
  ACTION_RENDER = 2419,
  ACTION_GET_HTML_VALUE = 2421,
  ACTION_SET_HTML_VALUE = 2422,
  ACTION_APPEND_HOTSPOT = 2423,
  ACTION_APPEND_RESOURCE = 2424,
  ACTION_REMOVE_FIELDS = 2430,
  ACTION_GET_TARGET_PROPERTIES = 2436,
  ACTION_SET_TARGET_PROPERTIES = 2437,
  ACTION_APPEND_GRAPHIC = 2438,
  ACTION_APPEND_LAYER = 2442,
  ACTION_APPEND_TABLE_ALT = 2443,
  ACTION_SET_IMAGE_HOTSPOT = 2447,
  ACTION_APPEND_HTML = 2448,
  ACTION_CELL_IS_MERGED = 2601,
  ACTION_CONVERT_BITMAPS = 2807,
  ACTION_APPEND_FORM_BODY = 2808,
  ACTION_APPEND_PAGE_BODY = 2809,
  ACTION_APPEND_FILE_ATTACHMENT = 2812,
  ACTION_REFRESH_ATTACHMENT_ICON = 2814,
  ACTION_RENAME_ATTACHMENT = 2815,
  ACTION_WIKI_MATCHING = 2816,
  ACTION_LINK_MATCHING_VARIANT = 2819,
};

/* The modes of keyword matching (action 2386's first parameter) besides
 * links (2386 itself): what a match becomes. */
enum : WORD {
  LINK_MODE_APPEND = 2801,
  LINK_MODE_HIGHLIGHT = 2802,
  LINK_MODE_INSERT = 2803,
  LINK_MODE_KEYWORD = 2804,
  LINK_MODE_POPUP = 2805,
  LINK_MODE_REPLACE = 2806,
};

/* Codes of the property range that the driver counts as reading or writing
 * actions but that have no operation behind them; no method issues them,
 * and the engine refuses them before it walks. */
enum : WORD {
  ACTION_RESERVED_5 = 5,
  ACTION_RESERVED_6 = 6,
  ACTION_RESERVED_19 = 19,
  ACTION_RESERVED_30 = 30,
  ACTION_RESERVED_32 = 32,
  ACTION_RESERVED_34 = 34,
  ACTION_RESERVED_35 = 35,
  ACTION_RESERVED_40 = 40,
  ACTION_RESERVED_55 = 55,
  ACTION_RESERVED_56 = 56,
  ACTION_RESERVED_61 = 61,
  ACTION_RESERVED_62 = 62,
  ACTION_RESERVED_63 = 63,
  ACTION_RESERVED_64 = 64,
  ACTION_RESERVED_65 = 65,
  ACTION_RESERVED_70 = 70,
};

/* Chunk property ids; passed as p1 to the property's get and set actions.
 * Ids are shared where the table shares them (2333, 2340, 2621). */
enum : WORD {
  PROP_ACTIONFORMULA = 2301,
  PROP_ANCHORTEXT = 2302,
  PROP_BUTTONTEXT = 2303,
  PROP_CONTAINSSOMETHING = 2304,
  PROP_CONTAINSTEXT = 2305,
  PROP_DEFINITION = 2306,
  PROP_EXISTS = 2315,
  PROP_FIRSTRECORD = 2316,
  PROP_FONT = 2317,
  PROP_FONTCOLOR = 2318,
  PROP_FONTFACE = 2319,
  PROP_HOTSPOTBORDER = 2320,
  PROP_LASTRECORD = 2321,
  PROP_LINKNOTEUNIVERSALID = 2322,
  PROP_LINKREPLICAID = 2323,
  PROP_LINKVIEWUNIVERSALID = 2324,
  PROP_PARAGRAPHSTYLE = 2327,
  PROP_POINTSIZE = 2328,
  PROP_RECORDTYPE = 2330,
  PROP_SECTIONTITLE = 2331,
  PROP_TEXT = 2332,
  PROP_HIDEFORMULA = 2333,
  PROP_TEXTATTRIBUTES = 2333,
  PROP_TEXTWILDCARDS = 2334,
  PROP_UNZOOMEDDEFINITION = 2335,
  PROP_FILENAME = 2337,
  PROP_LINKANCHORTEXT = 2338,
  PROP_LINKHINTSERVER = 2339,
  PROP_LINKPOPUPTEXT = 2340,
  PROP_POPUPTEXT = 2340,
  PROP_LINKURL = 2341,
  PROP_PABID = 2343,
  PROP_STYLENAME = 2344,
  PROP_GRAPHICHEIGHT = 2345,
  PROP_GRAPHICWIDTH = 2346,
  PROP_TABLEFITTOWINDOW = 2347,
  PROP_TARGETTYPE = 2348,
  PROP_FIND = 2427, /* p1 of ACTION_QUERY_RECORDS for the find methods */
  PROP_CELLISMERGED = 2601,
  PROP_TARGETCOLUMN = 2602,
  PROP_TARGETROW = 2603,
  PROP_MAXRIGHTMARGIN = 2604,
  PROP_MINLEFTMARGIN = 2605,
  PROP_CELLCOLOR = 2606,
  PROP_IMAGEINPIXELS = 2607,
  PROP_ROWLABEL = 2608,
  PROP_TARGETFRAME = 2609,
  PROP_UNFORMATTEDTEXT = 2610,
  PROP_CASESENSITIVE = 2611,
  PROP_PASSTHRUHTML = 2612,
  PROP_SEARCHWORDBOUNDARIES = 2613,
  PROP_SIMPLEPARAGRAPHSTYLE = 2614,
  PROP_INSIDEHOTSPOT = 2615,
  PROP_SETIMPLIEDPROPERTIES = 2616,
  PROP_GRAPHICFORMAT = 2617,
  PROP_GRAPHICOFFSET = 2618,
  PROP_GRAPHICRATIO = 2619,
  PROP_GRAPHICUNIT = 2620,
  PROP_OLEFILENAME = 2621,
  PROP_ORIGINALFILENAME = 2621,
  PROP_ACCENTSENSITIVE = 2622,
  PROP_TARGETNTH = 2623,
  PROP_FILESIZE = 2629,
  PROP_GRAPHICSTORAGE = 2630,
  PROP_REGULAREXPRESSION = 2632,
};

/* Result classes: the place of the session where a get action leaves its
 * answer. The chunk clears that place before the action. Classes below 10
 * are texts whose number is atof of the text; 10 to 13 are texts whose
 * number is 1 for "TRUE" (ignoring case) else 0. */
enum : WORD {
  RESULT_CLASS_RESULT_TEXT = 0,
  RESULT_CLASS_SCRATCH1 = 1,
  RESULT_CLASS_SCRATCH2 = 2,
  RESULT_CLASS_SCRATCH3 = 3,
  RESULT_CLASS_RESULT_TEXT_FLAG = 10,
  RESULT_CLASS_SCRATCH1_FLAG = 11,
  RESULT_CLASS_SCRATCH2_FLAG = 12,
  RESULT_CLASS_SCRATCH3_FLAG = 13,
  RESULT_CLASS_FOUND_COUNT = 14,     /* the session's found count (u16) */
  RESULT_CLASS_FIRST_FOUND = 15,     /* the session's first found word */
  RESULT_CLASS_SECOND_FOUND = 16,    /* the session's second found word */
  RESULT_CLASS_CHUNK_FLAG = 17,      /* a flag word of the chunk; no engine action */
  RESULT_CLASS_RECORD_TYPE = 18,     /* the session's record-type word */
  RESULT_CLASS_SCRATCH3_NUMBER = 19, /* third scratch text, read with atof */
  RESULT_CLASS_PABID = 20,           /* the session's PABID word */
};

/* Kinds of chunk property value. */
enum : WORD {
  RTCHUNK_PROP_KIND_NUMBER = 0x0300, /* number or flag */
  RTCHUNK_PROP_KIND_TEXT = 0x0500,
};

/* One chunk property: which action reads it, which sets it and where the
 * answer is left. */
struct rtchunk_prop {
  const char* name;
  uint16_t kind;
  uint16_t result_class;
  uint16_t id;
  uint16_t get_action; /* 0: none */
  uint16_t set_action; /* 0: none */
  bool read_only;      /* setting is refused */
  bool numeric;        /* the value is a number or flag */
  bool chunk_answers;  /* the chunk answers a read itself, for the ids it knows */
};

inline constexpr size_t kChunkPropertyCount = 64;

/* The chunk properties sorted by name ignoring case, then a null-name row. */
extern const rtchunk_prop rtchunk_prop_table[kChunkPropertyCount + 1];

/* The chunk property called `name` (ignoring case), or null. */
const rtchunk_prop* LookupChunkProperty(const char* name);

/* One row of the writes flags of the operations 2351-2449 and 2801-2821. */
struct action_parameter {
  uint16_t action;
  bool writes; /* the operation rebuilds the item and writes it back */
};

inline constexpr size_t kActionParameterCount = 120;

/* Rows 0-98: codes 2351-2449; rows 99-119: codes 2801-2821. */
extern const action_parameter action_parameter_table[kActionParameterCount];

/* Whether the action rebuilds the item; an unknown code reads. */
bool ActionWrites(WORD action);

/* ActionWrites as the operation driver applies it: link matching with p1
 * 2804 and action 2819 with p1 2818 only read. */
bool OperationWritesItem(WORD action, WORD p1);

#endif
