/*
 * The paragraph styles of an HTML import. Each block element the walk
 * enters may ask something of the paragraphs that begin inside it: an
 * alignment (align=, the center element, text-align), a left margin
 * (margin-left, blockquote), a first-line indent (text-indent), space
 * above and below (margin-top, margin-bottom), and, inside ul and ol, a
 * list kind and half an inch of margin per list level. A paragraph that
 * asks something gets the definition in effect where the import writes
 * (the template) changed by a paragraph-style string; one that asks
 * nothing goes back to the template's PABID.
 *
 * The definitions an import writes go through one allocator (PabidFor):
 * the same content is written once, under an id above every PABID of the
 * item and of the operation. Table cells of the import use it too, and
 * inside a cell the cell's definition is the template: the cell element's
 * own align= and style= and the blocks in the cell change it, and an
 * unstyled paragraph goes back to it. Blocks around a table do not reach
 * into its cells. When nothing defines the template's PABID (an item
 * without definitions), its definition is written once before the first
 * reference to it.
 *
 * Not here: the walk itself (import/html_import.cpp), which tells this
 * class where blocks begin and end and where paragraphs start.
 */
#ifndef VELKO_IMPORT_HTML_PARAGRAPHS_H
#define VELKO_IMPORT_HTML_PARAGRAPHS_H

#include <tidy/tidy.h>

#include <stdint.h>

#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "host/cdrecords.h"
#include "velko/velko.h"

struct chunk_process_state;
struct record_storage;

/* What the open blocks ask of a paragraph that begins inside the
 * innermost one. */
struct block_paragraph_style {
  int justify = -1;       /* -1: nothing asked; else left, right, full, center */
  int32_t left = 0;       /* twips added to the template's left margin */
  int32_t indent = 0;     /* twips from the left margin to the first line */
  bool indented = false;  /* text-indent was given */
  int above = -1;         /* spacing above and below: -1 nothing asked, */
  int below = -1;         /* else 0 single, 1 one and a half, 2 double */
  int list_level = 0;     /* ul and ol around the block */
  const char* list_word = nullptr; /* the list word of the innermost list */
  const char* item_word = nullptr; /* inside li: the list word its paragraphs take */

  bool operator==(const block_paragraph_style&) const = default;
};

class html_paragraphs {
public:
  explicit html_paragraphs(chunk_process_state* process);

  /* The PABID of a paragraph of this definition: the template's when the
   * content is the template's, the id of a definition of the same content
   * the import wrote before, else a new id under which the definition is
   * written now. */
  STATUS PabidFor(const _CDPABDEFEXT& definition, WORD* pabid);

  /* The definition in effect where the import writes: the template of
   * the paragraphs here, and of a table's cell definitions. */
  const _CDPABDEFEXT& Template() const { return frame_.definition; }

  /* A table cell began with its CDPARAGRAPH: `definition` (its PABID from
   * PabidFor) is the template of the cell's content, `cell` (null for a
   * covered or added cell) the element whose align= and style= style its
   * paragraphs. Writes the reference of the cell's first paragraph. */
  STATUS EnterCell(const _CDPABDEFEXT& definition, TidyNode cell);
  /* The cell ended: the template around its table again. */
  void LeaveCell();

  /* The PABID the paragraph after a table refers to: the template's, its
   * definition written first when nothing defines it. */
  STATUS TableClosingPabid(WORD* pabid);
  /* The table ended with a paragraph referring to `pabid`, which holds no
   * text yet: its first content restyles it when its blocks ask a style.
   * `reference` (null: not known) is that paragraph's CDPABREFERENCE in
   * the import's list, which then takes the style's PABID itself. */
  void TableEnded(WORD pabid, record_storage* reference);

  /* A block element begins or ends. */
  void EnterBlock(TidyNode node, TidyTagId tag);
  void LeaveBlock();

  /* A CDPARAGRAPH was written: a styled paragraph names its definition
   * with a reference; an unstyled one goes back to the template's with
   * one when another is in effect. */
  STATUS ParagraphStarted();

  /* The import's first content goes into the paragraph it continues: a
   * style asked of it starts a paragraph of its own when that paragraph
   * holds text, else restyles it. */
  STATUS FirstContent();

private:
  /* How the paragraph the next content goes into began: the import's
   * first, which may hold text; a cell's first, or the one after a table,
   * which holds none; or by a CDPARAGRAPH the walk reported. */
  enum class opening { import, empty, started };

  /* The template of the paragraphs being written and what is open over
   * it: the import's, or a cell's. */
  struct template_frame {
    _CDPABDEFEXT definition;
    _CDPABDEFEXT unchanged; /* as an update that changes nothing leaves it */
    bool updated = false;   /* unchanged is worked out */
    bool defined = true;    /* a definition of its PABID is in the item or written */
    WORD in_effect = 0;     /* the PABID of the paragraph being written */
    std::vector<block_paragraph_style> blocks;
    /* The PABIDs block styles gave over this template, so that a style
     * met again is not parsed again. */
    std::vector<std::pair<block_paragraph_style, WORD>> decided;
  };

  /* The definition the style of the innermost block gives; *styled false
   * when it is the template's. */
  STATUS StyledDefinition(_CDPABDEFEXT* definition, bool* styled);
  /* The PABID the style of the innermost block gives. */
  STATUS WantedPabid(WORD* pabid);
  /* The template's PABID, its definition written first when nothing
   * defines it. */
  STATUS TemplatePabid(WORD* pabid);
  STATUS Write(_CDPABDEFEXT definition, WORD pabid);
  /* The first content after a table: the style its blocks ask, given by
   * the paragraph's own reference. */
  STATUS RestyleAfterTable(record_storage* reference);
  STATUS Refer(WORD pabid);

  chunk_process_state* process_;
  template_frame frame_;
  std::vector<template_frame> outer_; /* the frames around the cell being written */
  /* The lists of the last cell's frame, kept for the next cell's. */
  std::vector<block_paragraph_style> spareBlocks_;
  std::vector<std::pair<block_paragraph_style, WORD>> spareDecided_;
  WORD highest_ = 0;    /* the highest PABID known; 0 until the first new one */
  opening opening_ = opening::import;
  /* The reference of the empty paragraph after a table, while it is the
   * paragraph the next content goes into; else null. */
  record_storage* after_table_ = nullptr;
  std::vector<_CDPABDEFEXT> written_;
  /* Indexes into written_, in order, by a summary of fields that every
   * definition comparing equal shares (WrittenBucket): a new definition
   * is compared with its few look-alikes, not with all written. */
  std::unordered_map<uint64_t, std::vector<size_t>> writtenBy_;
  /* PabidFor's answers from written_, by the bytes of the definition asked
   * about. */
  std::unordered_map<std::string, WORD> writtenFor_;
};

/* The paragraph-style string of a block style over the template
 * ("Justify=CENTER LEFTMARGIN=1.5 ..."); empty when it asks nothing. */
std::string ParagraphStyleText(const block_paragraph_style& style, const _CDPABDEFEXT& base);

/* A CSS length as twips: pt, px (3/4 of a point), in, cm, mm, or a bare
 * 0. False for any other form. */
bool CssLengthTwips(const std::string& value, int32_t* twips);

#endif
