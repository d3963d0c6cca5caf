/*
 * The rendering context: one html_render_info per rendering run of a chunk,
 * made by the chunk's rendering entry points (render/entry.cpp), filled from
 * the caller's options (render/options.cpp), read and written by the chunk
 * engine for the rendering action and by every renderer, and released by
 * the same entry point. Also its option flag bits, one pending closing tag
 * of the close-tag stacks, and the context's life cycle.
 *
 * Output is never written into output_buffer directly: every writer
 * appends through the output primitive of render/output_buffer.h, which
 * keeps output_length and write_ptr as counters and knows the capacity and
 * the sink.
 *
 * This header defines data only; the renderers live in their own files.
 */
#ifndef VELKO_RENDER_RENDER_INFO_H
#define VELKO_RENDER_RENDER_INFO_H

#include <stdio.h>

#include "generate/font_string.h"
#include "host/nsfdata.h"
#include "host/osenv.h"
#include "render/record_cursor.h"
#include "store/body.h"
#include "velko/velko.h"

struct chunk_process_state;
struct style_mapping;

/* ---- option flag bits, one namespace per flag word ----
 *
 * A bit is named by the option that governs it; the namespace names the
 * word it lives in, so that a test of the wrong word does not compile
 * silently (flags2's ConsolidatePABIDS and flags' NewlineNUL share 0x0800). */
namespace html_flags {
enum : DWORD {
  ForceParagraphs = 0x0001,
  Fragment = 0x0002,
  ImageDbIsItemDb = 0x0004,
  StandardFontTags = 0x0008,
  RaiseDocLinkEvent = 0x0010,
  RaiseURLLinkEvent = 0x0020,
  PreserveSpaces = 0x0040,
  WAICompliant = 0x0200,
  NewlineCRLF = 0x0400,
  NewlineNUL = 0x0800,
  Translation = 0x1000,
  OutputToEvent = 0x2000,
  CSSBorders = 0x4000,
  MakeURLHotspots = 0x8000,
};
} // namespace html_flags

namespace html_flags2 {
enum : DWORD {
  MoveStylesInline = 0x0001,
  EncapsulateTable = 0x0002,
  ImageRelativeToPage = 0x0004,
  TabbedTablesInCSS = 0x0100,
  SectionsInCSS = 0x0200,
  NoExtendedSpecialCharacters = 0x0400,
  ConsolidatePABIDS = 0x0800,
  InlineCidGraphics = 0x1000,
  RespectHiddenFormulas = 0x2000,
  DoclinksRelative = 0x4000,
};
} // namespace html_flags2

namespace html_flags3 {
enum : DWORD {
  OutputAllToEvent = 0x0001,
  AutoQuoteHTMLParams = 0x0002,
  FillEmptyTableCells = 0x0008,
  SuppressImages = 0x0010,
  SuppressAttachments = 0x0020,
  SuppressLinks = 0x0040,
  PreviewMode = 0x0100,
  WebMode = 0x0200,
  MarkDelimitedHTML = 0x0400,
  UseXMLEntities = 0x0800,
  SuppressFontFace = 0x1000,
  SuppressFontSize = 0x2000,
  SuppressFontAttr = 0x4000,
  SuppressFontColor = 0x8000,
};
} // namespace html_flags3

namespace html_flags4 {
enum : DWORD {
  SparseTable = 0x0001,
  AutoTagTable = 0x0002,
  AutoTagRow = 0x0004,
  AutoTagCell = 0x0008,
  AutoClassTable = 0x0010,
  AutoClassRow = 0x0020,
  AutoClassColumn = 0x0040,
  AutoClassSection = 0x0080,
  UsePTags = 0x0100,
  AllowEmptyDivs = 0x0200,
  SuppressDivInfo = 0x0400,
  RelativeIndents = 0x0800,
  HybridFontTags = 0x1000,
  SparseTableWidth = 0x2000,
};
} // namespace html_flags4

namespace html_flags5 {
enum : DWORD {
  SupportRico = 0x0001,
  SupportDojo = 0x0002,
  OpenFormData = 0x0010,
  OstrafineSections = 0x0020,
  OstrafineTabs = 0x0040,
  SeeAttachedMsgEnabled = 0x0080,
};
} // namespace html_flags5

namespace html_image_flags {
enum : DWORD {
  ImageUNIDAsFolder = 0x0001,
  ImageUseName = 0x0002,
  NoImageOverwrite = 0x0004,
  ImageResourceToDisk = 0x0008,
};
} // namespace html_image_flags

/* encoding_flags: quoted-printable is the only transfer encoding. */
constexpr DWORD kEncodingQuotedPrintable = 0x0001;
/* The bits of encoding_flags that ask for an encoding pass. */
constexpr DWORD kEncodingPassBits = 0x0007;

/* Generations. */
enum : WORD {
  kGenerationText = 0,  /* plain text or pass-through */
  kGenerationHTML = 2,  /* HTML 4.01 Transitional */
  kGenerationXHTML = 4, /* XHTML 1.0 Transitional */
};

/* Image and attachment handling. */
enum : WORD {
  kHandlingIgnore = 0,
  kHandlingDefault = 1, /* inline reference */
  kHandlingDisk = 2,
  kHandlingResource = 4, /* images: from an image resource */
  kHandlingByName = 4,   /* attachments: by name */
};

/* One entry of the paragraph style list: a PABID and the CSS declarations
 * of its definition (a tracked text). */
struct render_paragraph_style {
  WORD pabid;
  char *text;
};

/* One border class of table cells: its key (the four border widths, top,
 * right, bottom, left, as "%d%d%d%d") and its class text (tracked). */
struct render_border_class {
  char key[12];
  char *text;
};

/* How many closing tags the main close-tag stack counts, and how many tag
 * texts it remembers by address (tag_stack.cpp). */
constexpr int kCountedTags = 20;
constexpr int kTagLookups = 64;

/* One pending closing tag of a close-tag stack (render/tag_stack.h). */
struct xml_stack_node {
  const char *tag;      /* a constant text; never copied or freed */
  DWORD id;             /* 0 = none; the pusher's 16-bit identifier */
  xml_stack_node *next; /* the node below */
  int counted;          /* the tag's place among the counted tags, or -1 */
};

/* At most this many text-run style mappings are open at once. */
constexpr int kActiveTextMappings = 10;

constexpr int kStaticFonts = 5;
constexpr int kStaticFontFaceSize = 32;
constexpr int kStaticFontSubstituteSize = 64;
constexpr int kPabidRemaps = 256;
constexpr int kListTableSize = 100;
constexpr int kSizeThresholds = 6;
constexpr int kLinkGraphics = 4;
/* Slot 0 stays empty; at most 255 records follow. */
constexpr int kLookupSlots = 256;
/* Brackets, tables and hotspots nested deeper than this are not rendered
 * as nested structure, so that deep input cannot exhaust the stack. */
constexpr int kMaxNesting = 64;
/* Nesting depth of tables the renderers keep state for (level 0 is outside
 * every table). */
constexpr int kRenderTableLevels = kMaxNesting;
/* Nesting depth of open lists the paragraph renderer keeps. */
constexpr int kListLevels = 32;
/* Entries of the two per-chunk lists of the head pass. */
constexpr int kParagraphStyles = 1024;
constexpr int kBorderClasses = 20;
constexpr size_t kPartFileNameSize = 128;
/* The temporary directory, a part file name and the unique suffix. */
constexpr size_t kPartFilePathSize = 257 + kPartFileNameSize + 16;
constexpr size_t kBasePathnameSize = 256;

/* Takes the MIME part's text in memory, for a caller that uses the part
 * itself instead of reading it back from the note: a run given one writes
 * no part file and attaches nothing. Append takes each piece a flush hands
 * on, in order; false when it cannot keep it. ResourceNamed hears of each
 * image resource of the item's database that the run names by a content
 * id: the id as written after "cid:" (escaped as the HTML holds it) and
 * the resource's name, so that the caller can add its part (by default it
 * is not heard). */
class mime_part_memory {
public:
  virtual bool Append(const char *text, size_t length) = 0;
  virtual void ResourceNamed(const char * /*id*/, size_t /*idLength*/, const char * /*name*/,
                             size_t /*nameLength*/) {}

protected:
  ~mime_part_memory() = default;
};

/* What text runs ask about the records around a run, kept as the walk
 * moves forward (render/text_runs.cpp). Valid for one run: the records do
 * not change while a run renders. */
struct text_run_index {
  record_cursor cursor;
  /* Of the records read: */
  bool text_in_paragraph = false;             /* a run with text since the last reference */
  const record_storage *last_other = nullptr; /* the last record that is no text run */
  /* The first record after the cursor's position that ends the search for
   * text after a run (text, a table, hotspot or rule boundary, or a
   * paragraph reference; null: the list's end), once looked for. */
  bool ahead_known = false;
  const record_storage *ahead = nullptr;
  /* The colour of the runs right after the CDBEGIN `group`, once looked
   * for. */
  const record_storage *group = nullptr;
  bool group_has_colour = false;
  COLOR_VALUE group_colour = {};
};

/* The context of one rendering run. Zero-filled at creation; the fields up
 * to list_table are the option fields and output mechanics every renderer
 * reads under these names. */
struct html_render_info {
  LSXLsiSession *session;

  /* ---- output (render/output_buffer.h keeps these) ----
   * output_buffer holds output_length bytes of text and a NUL behind them;
   * write_ptr is always output_buffer + output_length. */
  char *write_ptr;
  char *options; /* tracked copy of the option string; null when none */
  char *output_buffer;
  DWORD output_capacity;  /* bytes of output_buffer, the NUL's included */
  DWORD output_length;    /* bytes held */
  WORD max_line_length;   /* wrap width; 0 = no wrapping */
  DWORD event_chunk_size; /* held bytes at which the driver flushes; 0 = none */
  WORD mime_part_counter;
  NLS_PINFO output_nls; /* the session's character set (LMBCS) */

  DWORD force_font_size;
  DWORD force_font_face;
  DWORD force_font_color;
  WORD charset_id;    /* character set of the output; 32 by default */
  WORD preserve_tabs; /* 0, or the blanks a tab becomes (1..80) */
  WORD generation;    /* kGenerationText, kGenerationHTML or kGenerationXHTML */
  DWORD mime_mode;
  DWORD newline_on_paragraph;
  DWORD force_direction;
  DWORD use_unid;
  UNIVERSALNOTEID unid; /* database part, then note part */
  WORD image_handling;
  WORD attachment_handling;
  WORD mime_part_number;
  char part_file_name[kPartFileNameSize]; /* "MP%d_%d.html" */
  char part_file_path[kPartFilePathSize]; /* the file on disk, unique */

  /* Tracked option texts; null when none. */
  char *image_url_directory;
  char *attachment_url_directory;
  char *inplace_image_url_directory;
  char *inplace_attachment_url_directory;
  char *image_directory;
  char *attachment_directory;
  char *default_subdirectory;
  char *attachment_graphic;
  DWORD attachment_text_in_link;
  char *link_url_directory;
  char *broken_link_url;
  char *broken_link_graphic;
  char *collapse_graphic;
  char *expand_graphic;
  char *tab_graphic;
  char *delimited_html_start; /* only while the options are read */
  char *delimited_html_end;
  char *passthru_html_start; /* always null after the options are read */
  char *passthru_html_end;
  char *css_bullet_graphic;
  char *css_circle_bullet_graphic;
  char *css_square_bullet_graphic;
  char *css_check_bullet_graphic;
  char *dblink_graphic;
  char *viewlink_graphic;
  char *doclink_graphic;
  char *anchorlink_graphic;
  char *resolve_wiki; /* wiki link URL prefix, ready for an attribute */
  char *open_database_string;
  char *open_view_string;
  char *open_document_string;
  char *open_image_resource_string;
  char *open_element_string;
  const char *curly_open;         /* "{" under UseCurlyBracesInline=Yes, else "" */
  const char *curly_close;        /* "}" or "" */
  char *css_tab_nosel_background; /* the four: only under TabbedTablesInCSS */
  char *css_tab_nosel_text;
  char *css_tab_sel_background;
  char *css_tab_sel_text;
  char *doclink_text; /* "Link" unless DoclinkText= says otherwise */
  char *blank_alt_string;
  char *file_names_field;
  char *see_attached_msg;                /* only under SeeAttachedMsgEnabled */
  WORD size_thresholds[kSizeThresholds]; /* point sizes of HTML font sizes 1-6 */
  DBHANDLE image_db;
  DWORD flags;                      /* html_flags */
  DWORD flags2;                     /* html_flags2 */
  DWORD flags3;                     /* html_flags3 */
  DWORD flags4;                     /* html_flags4 */
  DWORD flags5;                     /* html_flags5 */
  DWORD image_flags;                /* html_image_flags */
  DWORD encoding_flags;             /* kEncodingQuotedPrintable */
  FILE *part_file;                  /* the open MIME part file, or null */
  mime_part_memory *part_memory;    /* the caller's, in place of part files */
  DWORD part_memory_open;           /* 1 once the part is named and taking text */
  size_t part_memory_length;        /* bytes handed to part_memory */
  FILE *out_file;                   /* the caller's file, or null */
  xml_stack_node *tag_stack;        /* the main close-tag stack */
  xml_stack_node *second_tag_stack; /* for text gathered apart */
  /* Kept by render/tag_stack.cpp: popped nodes for the next pushes, the
   * main stack's depth, and how often each of the tags the renderers ask
   * about most is on the main stack. */
  xml_stack_node *free_tag_nodes;
  DWORD tag_depth;
  WORD counted_tags[kCountedTags];
  DWORD counted_open; /* bit n: counted tag n is on the main stack */
  /* Tag texts looked up lately and their place among the counted tags
   * (-1: none), by address: the texts are constants, asked about again
   * and again. */
  struct {
    const char *text;
    int counted;
  } tag_lookups[kTagLookups];
  char font_map_faces[kStaticFonts][kStaticFontFaceSize];
  char font_map_substitutes[kStaticFonts][kStaticFontSubstituteSize];
  WORD pabid_from[kPabidRemaps];
  WORD pabid_to[kPabidRemaps];
  WORD pabid_count;
  DWORD local_symbols;
  DWORD link_graphic_used[kLinkGraphics];
  DWORD caller_word;
  font_spec auto_th_font; /* its first four bytes are a FONTID; rgb the colour */
  font_spec_mask auto_th_font_mask; /* the parts AutoTHFont= named */
  DWORD auto_th_font_set;
  char base_pathname[kBasePathnameSize];
  record_storage *list_table[kListTableSize]; /* remembered list definitions */
  VelkoRTChunk *chunk;
  VelkoRTItem *item;

  /* ---- the output mechanics' own state (render/output_buffer.h) ---- */
  DWORD output_owned;   /* 1: output_buffer is a tracked block of this run */
  STATUS output_status; /* first failure of the output; sticky */
  /* While non-zero the output primitive does not flush on its own (a
   * writer holds a position inside the held text). */
  DWORD output_hold;
  /* Leading bytes of the held text that have passed the translation pass,
   * the encoding pass, and the whole output pass (final text kept in the
   * buffer because no sink took it). output_wrapped <= output_encoded <=
   * output_translated <= output_length. */
  DWORD output_translated;
  DWORD output_encoded;
  DWORD output_wrapped;
  /* The output character set, settled at the first translation: its
   * information block (loaded by this run) and how it is written. */
  NLS_PINFO charset_nls;
  WORD charset_mode;
  /* Date of the run for the generator comment. */
  WORD run_month;
  WORD run_day;
  WORD run_year;
  /* image_db was opened by this run and is closed with the context. */
  DWORD image_db_owned;

  /* ---- the chunk engine's part of the rendering action ----
   * Filled by PrepareXMLRendering before the walk (render_action.cpp);
   * at each chunk's stop the engine sets state, first_record,
   * current_record and last_record, consolidates paragraphs when flags2
   * holds ConsolidatePABIDS, and calls ProcessXMLStream with mode 1 when
   * render_at_end is set, else mode 0. */
  chunk_process_state *state; /* set at a chunk's stop, cleared after */
  record_storage *first_record;
  record_storage *current_record; /* the first record not yet rendered */
  record_storage *last_record;    /* the chunk's last record */
  /* Set when the operation has extra clauses: the engine renders each
   * chunk in mode 1 and makes the final mode-2 call at the end. */
  DWORD render_at_end;
  WORD target_type; /* of the last clause, for Contains and Starts With */
  /* Every CDPABDEFINITION and every CDSTYLENAME of the item, in record
   * order; slot 0 is empty. */
  record_storage *pabdef_records[kLookupSlots];
  WORD pabdef_count;
  record_storage *style_name_records[kLookupSlots];
  WORD style_name_count;
  /* The run's set-up loaded the item's body (to size the output): the
   * walk finds it as its load left it, as on a body the walk loads. */
  DWORD body_loaded_by_run;
  NLS_PINFO session_nls;
  DBREPLICAINFO replica_info;

  /* ---- the renderers' working state ----
   * The driver's (render driver), and below it the fields that the text,
   * paragraph, table, hotspot, layer and image renderers add for
   * themselves. */
  DWORD pending_line_break;
  DWORD large_paragraph;
  WORD table_level;
  DWORD cell_empty[kRenderTableLevels];
  record_storage *cell_saved_record[kRenderTableLevels];
  DWORD cell_saved_flag[kRenderTableLevels];
  WORD layer_level;
  WORD outer_layer_depth;
  /* The main stack's depth when the innermost layer's content began: what
   * the layer's paragraphs close lies above it. */
  DWORD layer_floor;
  DWORD table_pending;
  DWORD row_pending;
  DWORD table_word;
  record_storage *pretable_record;
  record_storage *table_begin_record;
  WORD current_definition;
  WORD previous_definition;
  WORD section_counter;
  WORD section_id;
  DWORD auto_url_open;  /* an auto-URL anchor is open */
  DWORD auto_url_start; /* offset of its href text in the held text */
  DWORD in_link[2];

  /* ---- text runs and font markup (render/text_render.h) ---- */
  FONTID base_font;                 /* the body text's font; set by the driver */
  FONTID current_font;              /* the font of the last font markup */
  DWORD writing_base_font;          /* the driver builds the base font's markup */
  DWORD rtl_seen;                   /* a right-to-left run has been written */
  DWORD anchor_open;                /* the hotspot renderer's anchor is open */
  style_mapping *paragraph_mapping; /* in force for the paragraph, or null */
  /* The mapping whose group is open (its group opening text written): it
   * stays while mapped paragraphs follow and ends with a list. */
  style_mapping *group_mapping;
  /* The text-run mappings open, in the order they were opened. */
  style_mapping *text_mappings[kActiveTextMappings];
  WORD text_mapping_count;
  text_run_index text_runs;

  /* ---- paragraphs, lists and the head pass (render/paragraphs.h) ----
   * The two per-chunk lists the head pass builds: the CSS declarations of
   * each paragraph definition and the border classes of table cells
   * (tracked arrays with tracked texts, emptied at the end of every
   * outermost driver call). */
  render_paragraph_style *paragraph_styles;
  WORD paragraph_style_count;
  render_border_class *border_classes;
  WORD border_class_count;
  WORD current_style_name; /* index in style_name_records; 0 = none */
  WORD last_pabid;         /* mapped PABID of the paragraph last opened */
  /* The paragraph in force is the first of a table cell (or of the record
   * list) and was written without paragraph markup. */
  DWORD first_cell_paragraph;
  /* Open lists, innermost last: the definition of each level from 1. */
  WORD list_depth;
  record_storage *list_levels[kListLevels + 1];
  /* Per table level: the table-begin record's words at offsets 8 and 10,
   * and the level's last cell (under CSSBorders). */
  WORD table_spacing[kRenderTableLevels][2];
  record_storage *level_last_cell[kRenderTableLevels];
  char background_color[8]; /* "#ffffff" once the body is open */
  DWORD head_written;       /* the head was completed and the body opened */
  /* The paragraph reference and the definition of every PABID in force at
   * the walk's position (render/paragraph_index.cpp); a tracked block,
   * made on first use and freed at the end of every outermost driver
   * call. */
  struct paragraph_index *paragraph_index;

  /* ---- images (render/graphic.cpp) ---- */
  DWORD image_directory_made; /* the image directory was made in this run */
  /* The names of the files the run wrote to disk, images and attachments
   * alike (render/run_files.h); null until the first. */
  struct run_files *run_files;
  /* The targets and identity records the hotspot renderer read ahead
   * (render/hotspot.cpp); null until the first URL or link anchor, and
   * freed at the end of every outermost driver call. */
  struct hotspot_marks *hotspot_marks;
  /* The hotspot ends the hotspot renderer looked for past many records
   * (render/hotspot.cpp); null until the first such look, and freed with
   * the marks. */
  struct hotspot_ends *hotspot_ends;
  /* The settings the image renderer reads, read at the run's first image
   * and kept for the others (unread again at every outermost driver call):
   * the debug level and the data directory. */
  WORD image_debug_level;
  WORD image_settings_read;
  char image_data_directory[MAXPATH];
  /* ---- tables (render/table.cpp) ----
   * Per table level (1 for a top-level table); all cleared by the head
   * pass's bookkeeping. */
  struct table_level_state {
    WORD number;          /* the table counter when the table began */
    WORD columns;         /* column count of the table */
    DWORD tabbed;         /* rows shown as tabs */
    DWORD accordion;      /* rows shown as a Rico accordion */
    DWORD full_width;     /* the table fits the window */
    DWORD width;          /* twips across the first row; 0 unknown */
    WORD hspace;          /* inter-cell spaces, twips */
    WORD vspace;
    WORD border_mark;     /* 0xFFFF undecided, 0 no borders, 1 uniform single */
    WORD begin_flags;     /* the CDTABLEBEGIN's flags */
    BYTE row_flags;       /* the flag byte of the cell that opened the row */
    DWORD stack_depth;    /* close-tag stack depth below the table's own tag */
    record_storage *pretable;
    char colour[8];       /* the last cell's bgcolor value, "" when none */
  } table_levels[kRenderTableLevels];
  WORD table_counter;
  WORD pending_row_display; /* of the CDPRETABLEBEGIN before the next table */
  DWORD table_rtl;          /* a right-to-left table has been written */
  DWORD table_encapsulated; /* a chunk's table started at a cell was opened */
  /* The last cell whose table begin was looked for back through the list,
   * and the begin found (null: none); kept until the end of the outermost
   * driver call, so that cells outside any table each walk back only to
   * the one before. */
  record_storage *walked_back_cell;
  record_storage *walked_back_begin;
  /* The cells of the tables whose covered cells were asked for the cell
   * shown there (render/table_cells.cpp); null until the first, and freed
   * at the end of every outermost driver call. */
  struct table_cell_index *table_cell_index;
  record_storage *position_cell;

  /* ---- hotspots and sections (render/hotspot.cpp, section_bar.cpp) ----
   * The hotspot depth is section_id. Per depth: the mail-style bar whose
   * closing rule waits for the hotspot end. */
  const record_storage *section_bars[kMaxNesting];
  DWORD collapse_image_used;       /* cid:_a_collapse was referenced */
  DWORD attachment_directory_made; /* the attachment directory exists */
};

/* The run writes XHTML. */
inline bool IsXhtml(const html_render_info *context) {
  return context->generation == kGenerationXHTML;
}

/* For a walk over many records: the nodes of a loaded body lie one after
 * another in its arena, so the memory some nodes ahead is asked for while
 * the walk reads this one, rather than waited for when the walk gets
 * there. A hint only; any address may be given. */
constexpr size_t kRecordPrefetchDistance = 2048;
inline void PrefetchRecordsAhead(const record_storage *node) {
  __builtin_prefetch(reinterpret_cast<const char *>(node) + kRecordPrefetchDistance);
}

/* The record lies behind the last record of the run (when it has one). */
inline bool IsBeyondLast(const html_render_info *context, const record_storage *record) {
  return context->last_record != nullptr && record->ordinal > context->last_record->ordinal;
}

/* ---- the context's life cycle (render/entry.cpp) ---- */

/* A zero-filled context from the session's tracked memory, with its
 * session, chunk and item set; null when memory cannot be had. */
html_render_info *CreateRenderContext(LSXLsiSession *session, VelkoRTChunk *chunk);

/* Frees everything the context holds (option texts, the output buffer
 * unless it is the caller's, pending close tags, the character set, an
 * open part file, an image database this run opened) and the context. */
void ReleaseRenderContext(html_render_info *context);

/* GenerateHTMLToMime of the chunk; with partMemory, a MIME run's part
 * text goes there instead of to a part file: nothing is attached to the
 * note (and its database is left as the attachment and its removal would
 * leave it), and partNameOut receives the name of the part all the same. */
STATUS GenerateHTMLToMimeInMemory(VelkoRTChunk *chunk, int mimeMode, const char *generation,
                                  const char *options, WORD optionsLength, char *buffer,
                                  DWORD *length, WORD partNumber, char *partNameOut, FILE *file,
                                  const char *fileName, ActOnTextCallback actOnText,
                                  QueryLinkDataCallback queryLinkData, int *linkGraphicUsed,
                                  int *callerWord, mime_part_memory *partMemory);

/* ---- the option reader (render/options.cpp) ---- */

/* Reads context->options into the context: group A for every generation,
 * then, unless generation is plain text, group B. Fields that the entry
 * point sets before (mime_mode, generation, the MIME switches) must be set.
 * 0, or 263 when a tracked copy cannot be had (reading stops there). */
STATUS ReadRenderingOptions(html_render_info *context);

/* One row of the exported table of option names. */
struct generate_html_property {
  const char *name;
  DWORD reserved;
  DWORD one;
  DWORD flags;
};

/* 47 option names and an end row (null name, 0, 0, 1), for hosts. */
extern "C" const generate_html_property GenerateHTML_Properties[48];

/* ---- the source of the generator comment (render/entry.cpp) ---- */

/* Where the date and the version text of the generator comment come from.
 * The default reads the local date and the library's version text. */
struct render_frame_source {
  void (*date)(WORD *month, WORD *day, WORD *year);
  const char *(*version)(); /* at most 63 characters are written */
};

/* Replaces the source; null restores the default. Process-wide: set it
 * before sessions render; renders only read it. */
void SetRenderFrameSource(const render_frame_source *source);

#endif
