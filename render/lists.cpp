/*
 * Small services of the renderer around lists and font sizes: the HTML
 * font size of a point size, the table of list definitions met by the head
 * pass and the kind of list a PABID names, the CSS indentation of nested
 * lists written inline, whether the first paragraph of a table cell adds
 * anything, and a host text list joined into one text.
 *
 * Not here: opening and closing lists in the output (render/paragraph.cpp).
 */
#include <stdio.h>
#include <string.h>
#include <strings.h>

#include "engine/record_fields.h"
#include "host/textlist.h"
#include "render/paragraphs.h"
#include "store/body.h"

namespace {

constexpr WORD kDefaultThresholds[kSizeThresholds] = {8, 10, 12, 14, 18, 24};
constexpr BYTE kLargestHtmlSize = 7;
/* A left margin offset below this indents nothing. */
constexpr WORD kNoIndentOffset = 21;
constexpr float kTwipsPerInch = 1440.0f;
/* Top-level lists: the first quarter inch beyond the page margin is the
 * list's padding, the rest its margin. */
constexpr WORD kPageMargin = 1440;
constexpr WORD kTopLevelStep = 1800;
/* Nested lists: the first eighth of an inch is padding. */
constexpr WORD kNestedStep = 180;

bool IsCell(const record_storage *node) {
  return node != nullptr && IsTableCell(node->signature);
}

/* The remembered definition of the mapped PABID whose Flags carry `kind`. */
record_storage *RememberedList(html_render_info *context, WORD pabid, WORD kind) {
  const WORD mapped = ConvertPABIDToMapping(context, pabid);
  for (record_storage *node : context->list_table) {
    if (node == nullptr)
      return nullptr;
    WORD found = 0;
    if (!ReadDefinitionPabid(node, &found) || found != mapped)
      continue;
    paragraph_definition definition;
    ReadParagraphDefinition(node, &definition);
    return (definition.flags & kind) != 0 ? node : nullptr;
  }
  return nullptr;
}

/* The definition that governs the first paragraph after a cell. */
bool FirstParagraphDefinition(html_render_info *context, const record_storage *cell,
                              paragraph_definition *definition) {
  for (const record_storage *node = cell->next; node != nullptr; node = node->next) {
    if (node->signature == SIG_CD_PABDEFINITION)
      return ReadParagraphDefinition(node, definition);
    if (node->signature != SIG_CD_PABREFERENCE)
      continue;
    WORD pabid = 0;
    if (!ReferencePabid(node, &pabid))
      return false;
    return ReadParagraphDefinition(
        FindDefinitionBefore(context, node, ConvertPABIDToMapping(context, pabid)), definition);
  }
  return false;
}

bool Contains(const char *text, const char *part) {
  return text != nullptr && strstr(text, part) != nullptr;
}

/* The list definition of the reference, when it is one. */
bool ListDefinitionOf(html_render_info *context, const record_storage *reference,
                      paragraph_definition *definition) {
  WORD pabid = 0;
  return ReferencePabid(reference, &pabid) &&
         ReadParagraphDefinition(FindDefinitionBefore(context, reference, pabid), definition) &&
         IsListDefinition(*definition);
}

/* Replaces the held "<ul style=\"" at `at` by one with the bullet type. */
void AddBulletType(html_render_info *context, DWORD at, const char *type) {
  static const char kPlain[] = "<ul style=\"";
  const DWORD plain = sizeof kPlain - 1;
  if (at > context->output_length || context->output_length - at < plain ||
      strncasecmp(context->output_buffer + at, kPlain, plain) != 0)
    return;
  char rest[64] = {};
  const DWORD restLength = context->output_length - at - plain;
  if (restLength >= sizeof rest)
    return; // not the opening just written
  memcpy(rest, context->output_buffer + at + plain, restLength);
  RenderTruncate(context, at);
  RenderPrintf(context, "<ul type=\"%s\" style=\"", type);
  RenderPut(context, rest, restLength);
}

void PutInches(html_render_info *context, const char *property, float inches) {
  RenderPrintf(context, "%s: %4.2fin; ", property, static_cast<double>(inches));
}

} // namespace

BYTE HTMLSizeFromPointSize(const html_render_info *context, BYTE pointSize) {
  const WORD *thresholds = context->size_thresholds;
  bool set = false;
  for (int i = 0; i < kSizeThresholds; ++i)
    set = set || thresholds[i] != 0;
  if (!set)
    thresholds = kDefaultThresholds;
  for (int i = 0; i < kSizeThresholds; ++i) {
    if (pointSize <= thresholds[i])
      return static_cast<BYTE>(i + 1);
  }
  return kLargestHtmlSize;
}

void AddToOrderedList(html_render_info *context, record_storage *definition) {
  for (record_storage *&slot : context->list_table) {
    if (slot == definition)
      return;
    if (slot == nullptr) {
      slot = definition;
      return;
    }
  }
}

record_storage *OrderedList(html_render_info *context, WORD pabid) {
  return RememberedList(context, pabid, pab_flags::Numbered);
}

record_storage *RememberedListOf(html_render_info *context, WORD pabid, bool *numbered) {
  // Both kinds answer from the first remembered definition of the PABID.
  record_storage *list = RememberedList(context, pabid, pab_flags::ListKinds);
  if (list == nullptr)
    return nullptr;
  paragraph_definition definition;
  ReadParagraphDefinition(list, &definition);
  *numbered = (definition.flags & pab_flags::Numbered) != 0;
  return list;
}

record_storage *UnorderedList(html_render_info *context, WORD pabid) {
  return RememberedList(context, pabid, pab_flags::Bulleted);
}

int FirstTablecellParagraphUseless(html_render_info *context, const record_storage *cell) {
  if (!IsCell(cell))
    return 0;
  paragraph_definition definition;
  const bool known = FirstParagraphDefinition(context, cell, &definition);
  return CellParagraphUselessUnder(known ? &definition : nullptr) ? 1 : 0;
}

bool CellParagraphUselessUnder(const paragraph_definition *definition) {
  if (definition == nullptr)
    return true;
  if ((definition->flags2 & pab_flags2::LeftOffset) != 0 &&
      LeftIndent(*definition) < kNoIndentOffset)
    return true;
  const WORD defaults = pab_flags2::DefaultLeft | pab_flags2::DefaultRight;
  return (definition->flags2 & defaults) == defaults &&
         (definition->flags & pab_flags::ListKinds) == 0;
}

STATUS HandleSpecialListNesting(html_render_info *context, const record_storage *reference,
                                const char *styleText, DWORD openingStart) {
  if (reference == nullptr)
    return VELKO_ERR_BAD_ARGUMENT;
  if (Contains(styleText, "padding-left") && Contains(styleText, "margin-left"))
    return NOERROR;
  paragraph_definition own;
  if (!ListDefinitionOf(context, reference, &own))
    return VELKO_ERR_BAD_ARGUMENT;
  if ((own.flags2 & pab_flags2::ListStyleD) != 0)
    AddBulletType(context, openingStart, "circle");
  else if ((own.flags2 & pab_flags2::ListStyleA) != 0)
    AddBulletType(context, openingStart, "disc");

  // Nested under the nearest earlier list paragraph of the same run that
  // is indented less: the indent is measured from that list.
  WORD margin = LeftIndent(own);
  long extra = 0;
  bool nested = false;
  for (const record_storage *node = reference->previous; node != nullptr; node = node->previous) {
    if (node->signature != SIG_CD_PABREFERENCE)
      continue;
    paragraph_definition earlier;
    if (!ListDefinitionOf(context, node, &earlier))
      break;
    const WORD earlierMargin = LeftIndent(earlier);
    if (earlierMargin < margin) {
      extra += margin - earlierMargin;
      margin = earlierMargin;
      nested = true;
      break;
    }
  }
  const long indent = nested ? extra : LeftIndent(own);
  const bool topLevel = !nested && context->table_level == 0 && context->layer_level == 0;
  const long step = topLevel ? kTopLevelStep : kNestedStep;
  if (!Contains(styleText, "padding-left")) {
    float padding = topLevel ? 0.25f : 0.125f;
    if (indent < step)
      padding = static_cast<float>(topLevel ? indent - kPageMargin : indent) / kTwipsPerInch;
    PutInches(context, "padding-left", padding);
  }
  if (!Contains(styleText, "margin-left")) {
    const float left = indent >= step ? static_cast<float>(indent - step) / kTwipsPerInch : 0.0f;
    PutInches(context, "margin-left", left);
  }
  return NOERROR;
}

WORD ExtractTextList(const void *list, char *destination, DWORD size, const char *separator,
                     STATUS *status) {
  if (status != nullptr)
    *status = NOERROR;
  if (destination == nullptr || size == 0)
    return 0;
  destination[0] = '\0';
  const size_t separatorLength = separator != nullptr ? strlen(separator) : 0;
  const WORD count = ListGetNumEntries(list, FALSE);
  DWORD length = 0;
  for (WORD i = 0; i < count; ++i) {
    char *text = nullptr;
    WORD textLength = 0;
    if (STATUS error = ListGetText(list, FALSE, i, &text, &textLength); error != NOERROR) {
      if (status != nullptr)
        *status = error;
      return static_cast<WORD>(error & 0x3FFF);
    }
    const DWORD room = size - 1 - length;
    const DWORD take = textLength < room ? textLength : room;
    memcpy(destination + length, text, take);
    length += take;
    if (i + 1 < count) {
      const DWORD left = size - 1 - length;
      const DWORD sep = separatorLength < left ? static_cast<DWORD>(separatorLength) : left;
      memcpy(destination + length, separator, sep);
      length += sep;
    }
    destination[length] = '\0';
  }
  return static_cast<WORD>(length > 0xFFFF ? 0xFFFF : length);
}
