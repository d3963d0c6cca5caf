/*
 * Paragraphs in rendered HTML: the paragraph renderer the record driver
 * calls at each paragraph reference, the services of lists and font sizes
 * it uses, the remap of equal paragraph definitions, the head pass that
 * writes one CSS rule set per definition and opens the body, and the CSS
 * text of a border record. Also the reading of paragraph definitions and
 * the small driver services these share (line breaks, traces).
 *
 * Everything writes through the output primitive (render/output_buffer.h)
 * and leaves its closing tags on the main close-tag stack
 * (render/tag_stack.h). Records are read only as far as their length
 * reaches: a field behind the end of a record reads as absent.
 *
 * Not here: the record walk (render/driver.cpp) and text runs
 * (render/text_render.h).
 */
#ifndef VELKO_RENDER_PARAGRAPHS_H
#define VELKO_RENDER_PARAGRAPHS_H

#include "host/cdrecords.h"
#include "render/output_buffer.h"
#include "render/render_info.h"

struct record_storage;

/* ---- paragraph definitions ---- */

/* Flag bits of a paragraph definition that the renderers read. */
namespace pab_flags {
enum : WORD {
  HideRead = 0x0010,
  HidePrint = 0x0040,
  Bulleted = 0x0400,
  HideIf = 0x0800,
  Numbered = 0x1000,
  HideNotes = 0x8000,
  ListKinds = 0x1400,
};
} // namespace pab_flags

namespace pab_flags2 {
enum : WORD {
  HideWeb = 0x0001,
  ListStyleA = 0x0002, /* with the next three: the list style */
  LeftOffset = 0x0004,
  LeftPercent = 0x0008,
  FirstOffset = 0x0010,
  FirstPercent = 0x0020,
  RightOffset = 0x0040,
  RightPercent = 0x0080,
  MarginKinds = 0x00FC,
  DefaultLeft = 0x0100,
  DefaultFirst = 0x0200,
  DefaultRight = 0x0400,
  ListStyleB = 0x0800,
  ListStyleC = 0x1000,
  ListStyleD = 0x2000,
  ListStyles = 0x3802,
  RightToLeft = 0x4000,
};
} // namespace pab_flags2

/* A paragraph definition as read from its record. The margin extension
 * (offsets 72 to 83) is read only when the record holds it; has_* tell
 * which of its words are there. */
struct paragraph_definition {
  const record_storage *node = nullptr;
  WORD header_length = 0; /* the record header's length word */
  WORD pabid = 0;
  WORD justify = 0; /* 0 left, 1 right, 2 full, 3 center, 4 none */
  WORD line_spacing = 0;
  WORD spacing_before = 0;
  WORD spacing_after = 0;
  WORD left = 0;
  WORD right = 0;
  WORD first_line = 0;
  WORD flags = 0;
  WORD flags2 = 0;
  bool has_extension = false; /* all six margin words are there */
  WORD left_offset = 0;
  WORD left_percent = 0;
  WORD first_offset = 0;
  WORD first_percent = 0;
  WORD right_offset = 0;
  WORD right_percent = 0;
};

/* Reads a CDPABDEFINITION node. False for a null node, another record or
 * one shorter than the definition's fixed fields. */
bool ReadParagraphDefinition(const record_storage *node, paragraph_definition *out);
/* The PABID alone of a definition that ReadParagraphDefinition reads (false
 * where it gives false): the lookups that compare PABIDs, at every
 * paragraph and cell, read no other field. */
bool ReadDefinitionPabid(const record_storage *node, WORD *pabid);

/* The left margin in twips: the left margin offset when Flags2 gives it
 * and the record holds it, else LeftMargin. */
WORD LeftIndent(const paragraph_definition &definition);

/* Bulleted or numbered (Flags 0x0400 or 0x1000). */
bool IsListDefinition(const paragraph_definition &definition);
/* Any list kind, of Flags or of the list-style bits of Flags2. */
bool HasListKind(const paragraph_definition &definition);

/* The PABID of a paragraph reference; false when the record is none or
 * too short. */
bool ReferencePabid(const record_storage *node, WORD *pabid);

/* The nearest CDPABDEFINITION before `from` (searching backwards from the
 * record before it) whose PABID is `pabid`; null when none. */
const record_storage *FindDefinitionBefore(html_render_info *context, const record_storage *from,
                                           WORD pabid);
/* The nearest CDPABREFERENCE before `from`; null when none. */
const record_storage *FindReferenceBefore(html_render_info *context, const record_storage *from);
/* The nearest CDPABHIDE before `from` whose PABID is `pabid`; null when
 * none. */
const record_storage *FindHideBefore(html_render_info *context, const record_storage *from,
                                     WORD pabid);
/* Frees the context's index of the paragraphs in force (above). */
void FreeParagraphIndex(html_render_info *context);

/* ---- driver services ---- */

/* "<br>" in HTML, "<br />" otherwise; the current table level's open cell
 * is no longer empty. */
void WriteXMLLineBreak(html_render_info *context);
const char *XMLLineBreakText(const html_render_info *context);
void ClearCellEmptyMark(html_render_info *context);

/* Pushes the closing tag of an element just opened on the main stack; an
 * element left without its closing tag fails the output (263). */
void PushClosingTag(html_render_info *context, const char *tag);

/* A trace line of the driver ("PrXMLStr - ..."), written to the host log
 * above the session's diagnostic level 2. */
void TraceXMLStream(const html_render_info *context, const char *text);

/* The value of an option, whole, as a tracked text; null when the option
 * is absent (an empty value is present). Frees itself. */
class render_option {
public:
  render_option(html_render_info *context, const char *key);
  ~render_option();
  render_option(const render_option &) = delete;
  render_option &operator=(const render_option &) = delete;
  const char *value() const { return value_; }

private:
  LSXLsiSession *session_;
  char *value_ = nullptr;
};

/* Frees the two per-chunk lists of the head pass. */
void FreeChunkStyleLists(html_render_info *context);

/* ---- lists and font sizes ---- */

/* The HTML font size (1 to 7) of a point size by the context's size
 * thresholds (the defaults 8, 10, 12, 14, 18, 24 when none are set). */
BYTE HTMLSizeFromPointSize(const html_render_info *context, BYTE pointSize);

/* Remembers a list definition in the list table (once; nothing when all
 * 100 slots are taken). */
void AddToOrderedList(html_render_info *context, record_storage *definition);

/* The remembered definition of the (mapped) PABID when it is numbered
 * (OrderedList) or bulleted (UnorderedList); else null. */
record_storage *OrderedList(html_render_info *context, WORD pabid);
record_storage *UnorderedList(html_render_info *context, WORD pabid);
/* Either of the two in one look: the remembered list definition of the
 * PABID, numbered (*numbered set) before bulleted; null when neither. */
record_storage *RememberedListOf(html_render_info *context, WORD pabid, bool *numbered);

/* 1 when the first paragraph of the cell adds nothing of its own: no
 * definition, a left margin offset below 21 twips, or default left and
 * right margins and no list. 0 for a null node or one that is no cell. */
int FirstTablecellParagraphUseless(html_render_info *context, const record_storage *cell);
/* The same test on the definition of the cell's first paragraph, already
 * read (null: it has none). */
bool CellParagraphUselessUnder(const paragraph_definition *definition);

/* Completes the opening of a list written from held offset `openingStart`
 * ("<ul style=\"" or "<ol style=\"" and the opening brace) with the
 * indentation of nested lists as CSS, unless the list's style text already
 * gives both padding-left and margin-left. 0, or 1028 (nothing written)
 * for a missing reference or definition, or one that is no list. */
STATUS HandleSpecialListNesting(html_render_info *context, const record_storage *reference,
                                const char *styleText, DWORD openingStart);

/* Joins the entries of a host text list with the separator into
 * destination (size bytes, NUL included; what does not fit is cut).
 * Returns the length, or the host's status masked with 0x3FFF when an
 * entry cannot be read (then also in *status when given; 0 otherwise). */
WORD ExtractTextList(const void *list, char *destination, DWORD size, const char *separator,
                     STATUS *status = nullptr);

/* ---- consolidation ---- */

/* The PABID a reference to `pabid` renders with: the target of the first
 * remap pair for it, else itself. */
WORD ConvertPABIDToMapping(const html_render_info *context, WORD pabid);

/* ---- the paragraph renderer ---- */

/* Starts the paragraph of the reference at the current record: finds its
 * definition, drops a hidden paragraph with its text, closes what the
 * previous paragraph left open and opens the new paragraph's markup.
 * Consumes the reference (and, for a hidden paragraph, its text). Returns
 * the output's status. */
STATUS ProcessXMLParagraph(html_render_info *context);

/* Whether the paragraph of the reference is hidden by its definition's
 * hide flags or hide-when formula (as the paragraph renderer decides under
 * RespectHiddenFormulas): 1 hidden, 0 shown, -1 when it has no definition. */
int ParagraphIsHidden(html_render_info *context, const record_storage *reference);

/* The CSS declarations of the paragraph style list for a (mapped) PABID:
 * its own, else the list's first; empty when the list is empty. */
const char *ParagraphStyleText(const html_render_info *context, WORD pabid);

/* ---- the head pass ---- */

/* Before the records of an outermost driver call: gathers the dominant
 * font, the border classes and the CSS of each paragraph definition of the
 * run, and, the first time in a run, writes the style sheet, completes the
 * head and opens the body. Clears the per-run bookkeeping and discards the
 * close-tag stack. 0, 263 when memory runs out, 257 when the body font's
 * markup fails. */
STATUS RunXMLHeadPass(html_render_info *context);

/* ---- border strings ---- */

/* The CSS of a CDBORDERINFO record (null: none) into the session's second
 * scratch text: one blank, then border style, colour, widths, margin and
 * padding, each ending in ";". Always 0. */
STATUS CalculateXMLBorderString(const record_storage *border, html_render_info *context);

#endif
