/*
 * Generators of structural records: a whole table (GenerateTable), a
 * positioned layer (GenerateLayer), pass-through HTML text
 * (GeneratePassthruText) and the opening of a collapsible section
 * (GenerateSectionBegin). Each writes its records through the record
 * emitter (store/emitter.h) into the body being built and returns 0 or the
 * first failing status of a record it writes.
 *
 * The generators sit below the chunk engine: they take what they need of
 * an operation in a structure_generation block that the caller fills from
 * its own state before the call and reads back after it (the PABID
 * counter, the pass-through mark, the font pair). The session's
 * table-append parameters (column widths, column property strings, the
 * adjustable-table switch) and the item's default text record are read
 * where they live.
 *
 * Not here: the engine actions that call these, and the section end.
 */
#ifndef VELKO_GENERATE_STRUCTURE_GENERATORS_H
#define VELKO_GENERATE_STRUCTURE_GENERATORS_H

#include "generate/font_string.h"
#include "host/cdrecords.h"
#include "store/emitter.h"
#include "velko/velko.h"

struct paragraph_spec;

/* Columns and rows a generated table may have: the session's column
 * tables hold 64 entries and cells carry their row in a byte. */
constexpr WORD kGeneratedTableColumns = 64;
constexpr WORD kGeneratedTableRows = 255;
/* The least size of the table generator's work area. */
constexpr DWORD kTableWorkAreaSize = 4096;
/* The status of a request the generators refuse (too many columns or
 * rows, a table too wide, a record too large to be written). */
constexpr STATUS kGeneratorRefused = 1028;

/* What a generator reads of the operation that calls it, and what it
 * leaves for the operation. */
struct structure_generation {
  /* The emitter's context: its paragraph_copy is the current paragraph
   * definition (the template of new ones), its paragraph_word the current
   * CDPABREFERENCE, its next_pabid the id the next reference takes. */
  generation_context* gen = nullptr;
  /* The CDPARAGRAPH template. */
  CDPARAGRAPH paragraph = {{static_cast<BYTE>(SIG_CD_PARAGRAPH), sizeof(CDPARAGRAPH)}};
  /* The property string of the operation (table, layer or section); null
   * when none was given. */
  const char* properties = nullptr;
  /* The section's title (null: empty). */
  const char* title = nullptr;
  /* The font pair the operation parsed (a table's or layer's "TextFont="
   * is parsed into it). */
  font_spec fonts[2] = {};
  font_spec_mask font_masks[2] = {};
  /* The paragraph parameters the operation parsed (null: none), applied
   * to a layer's paragraph definition, with the implied-properties
   * switch. */
  paragraph_spec* paragraph_values = nullptr;
  DWORD set_implied = 0;
  /* The highest PABID the operation has given out; raised for each new
   * definition a layer or section writes. */
  WORD last_pabid = 0;
  /* For the current table level: whether it keeps the definitions of a
   * generated table apart, and its paragraph-id word. */
  DWORD level_saves_definitions = 0;
  WORD level_pabid = 0;
  /* The signature of the operation's current input record (0: none). */
  WORD current_signature = 0;
  /* A pass-through run is open (GeneratePassthruText opens one). */
  DWORD passthru_open = 0;
  /* Set by GenerateLayer when it wrote a hide formula for a definition. */
  WORD hide_pabid = 0;
  DWORD hide_written = 0;
};

/* Writes a table of columns (1-64) by rows (1-255) from the session's
 * table-append parameters and state->properties. 0; 1028 for a count out
 * of range or a right edge past 65535 twips; 263 when the work area
 * cannot be had; else the first failing status of a record. */
STATUS GenerateTable(WORD columns, WORD rows, structure_generation* state);

/* Writes a layer at the z-index from properties and position (null, or up
 * to four ';'-separated lengths: top; left; width; height). 0; 1028 when
 * its paragraph would take an id past 65535; or the first failing status
 * of a record. */
STATUS GenerateLayer(WORD zIndex, structure_generation* state, const char* properties,
                     const char* position);

/* Writes text (length 0: up to its NUL) as pass-through HTML, opening a
 * run with a CDHTMLBEGIN first when none is open. The status of the text
 * record, or the failing status of the run's begin. */
STATUS GeneratePassthruText(const char* text, WORD length, structure_generation* state);

/* Opens a section titled state->title with state->properties. 0; 1028
 * when a reply section's paragraph would take an id past 65535; or the
 * first failing status of a record. */
STATUS GenerateSectionBegin(structure_generation* state);

/* ---- a table's records one at a time ----
 * What GenerateTable writes, for a writer that places its cells itself
 * (the HTML import): each builds the record as GenerateTable builds it. */

/* The default cell borders: every side single. */
constexpr BYTE kTableCellBorderByte = 0x55;
constexpr WORD kTableCellBorderWord = 0x1111;

/* A table begin (0xA3, or 0xCF when nested) at the left margin: cell
 * spacing 0, flags 2. */
CDTABLEBEGIN TableBeginRecord(bool nested, WORD leftMargin);

/* A cell (0xA4, or 0xD0 when nested) of the row and column between the
 * edges: every side single, flags 2, spans 1, no background. */
CDTABLECELL TableCellRecord(bool nested, BYTE row, BYTE column, WORD left, WORD right);

/* The paragraph definition of a first-row cell between the edges, made
 * from `base` (the definition in effect around the table): margins moved
 * into the cell, the cell's flags, the id given. Built, not written: the
 * caller writes it (GenerateTable at once, the HTML import once per
 * distinct definition). */
_CDPABDEFEXT CellDefinitionRecord(const _CDPABDEFEXT& base, WORD left, WORD right, WORD pabid);

/* After a table: its end (0xA5, or 0xD1 when nested), the paragraph, the
 * context's current reference (with pabid when not 0) and an empty text in
 * the item's default font. 0 or the first failing status. */
STATUS GenerateTableClosing(bool nested, const CDPARAGRAPH& paragraph, WORD pabid,
                            generation_context* gen);

#endif
