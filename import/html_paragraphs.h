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
 * item and of the operation. Table cells of the import use it too.
 *
 * Not here: the walk itself (import/html_import.cpp), which tells this
 * class where blocks begin and end and where paragraphs start.
 */
#ifndef VELKO_IMPORT_HTML_PARAGRAPHS_H
#define VELKO_IMPORT_HTML_PARAGRAPHS_H

#include <tidy/tidy.h>

#include <stdint.h>

#include <string>
#include <vector>

#include "host/cdrecords.h"
#include "velko/velko.h"

struct chunk_process_state;

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
};

class html_paragraphs {
public:
  explicit html_paragraphs(chunk_process_state* process);

  /* The PABID of a paragraph of this definition: the template's when the
   * content is the template's, the id of a definition of the same content
   * the import wrote before, else a new id under which the definition is
   * written now. */
  STATUS PabidFor(const _CDPABDEFEXT& definition, WORD* pabid);

  /* The definition in effect where the import writes. */
  const _CDPABDEFEXT& Template() const { return template_; }

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
  /* The definition the style of the innermost block gives; *styled false
   * when it is the template's. */
  STATUS StyledDefinition(_CDPABDEFEXT* definition, bool* styled);
  /* The PABID the style of the innermost block gives. */
  STATUS WantedPabid(WORD* pabid);
  STATUS Refer(WORD pabid);

  chunk_process_state* process_;
  _CDPABDEFEXT template_;
  WORD in_effect_;      /* the PABID of the paragraph being written */
  WORD highest_ = 0;    /* the highest PABID known; 0 until the first new one */
  bool first_done_ = false; /* the first content was placed */
  _CDPABDEFEXT unchanged_;  /* the template as an update that changes nothing leaves it */
  bool updated_template_ = false;
  std::vector<_CDPABDEFEXT> written_;
  std::vector<block_paragraph_style> blocks_;
};

/* The paragraph-style string of a block style over the template
 * ("Justify=CENTER LEFTMARGIN=1.5 ..."); empty when it asks nothing. */
std::string ParagraphStyleText(const block_paragraph_style& style, const _CDPABDEFEXT& base);

/* A CSS length as twips: pt, px (3/4 of a point), in, cm, mm, or a bare
 * 0. False for any other form. */
bool CssLengthTwips(const std::string& value, int32_t* twips);

#endif
