/*
 * Paragraph consolidation: before a chunk is rendered under
 * ConsolidatePABIDS=, each paragraph definition of the item is paired with
 * every earlier one that renders the same, so that the renderer writes one
 * style class for all of them; every lookup of a paragraph style id then
 * goes through the remap (ConvertPABIDToMapping).
 *
 * Not here: reading the remap's effect on the output (the paragraph
 * renderer and the head pass).
 */
#include "engine/process_state.h"
#include "engine/record_fields.h"
#include "engine/services.h"
#include "render/paragraphs.h"
#include "store/body.h"
#include "store/rtitem_internal.h"

namespace {

/* Definitions looked at; later ones are never paired. */
constexpr int kDefinitionsConsidered = 256;
constexpr WORD kHidingFlags = 0xEA70;
/* A left margin offset inside the page margin. */
constexpr WORD kLargestPageOffset = 1439;
constexpr WORD kPageMargin = 1440;
constexpr WORD kWholeWidth = 100;

bool Has(WORD word, WORD bit) { return (word & bit) != 0; }

/* The margin extension's words that may differ and still render the same. */
bool ExtensionsRenderAlike(const paragraph_definition &a, const paragraph_definition &b) {
  const WORD flags2 = a.flags2;
  if (Has(flags2, pab_flags2::LeftOffset) && a.left_offset != b.left_offset &&
      (Has(a.flags2, pab_flags2::DefaultLeft) != Has(b.flags2, pab_flags2::DefaultLeft) ||
       a.left_offset > kLargestPageOffset || b.left_offset > kLargestPageOffset))
    return false;
  if (Has(flags2, pab_flags2::LeftPercent) && a.left_percent != b.left_percent)
    return false; // both would have to be 0
  if (Has(flags2, pab_flags2::FirstOffset) && a.first_offset != b.first_offset &&
      ((a.first_offset != 0 && a.first_offset != kPageMargin) ||
       (b.first_offset != 0 && b.first_offset != kPageMargin)))
    return false;
  if (Has(flags2, pab_flags2::FirstPercent) && a.first_percent != b.first_percent)
    return false;
  if (Has(flags2, pab_flags2::RightOffset) && a.right_offset != b.right_offset)
    return false;
  if (Has(flags2, pab_flags2::RightPercent) && a.right_percent != b.right_percent &&
      ((a.right_percent != 0 && a.right_percent < kWholeWidth) ||
       (b.right_percent != 0 && b.right_percent < kWholeWidth)))
    return false;
  return true;
}

/* A definition as the style sheet sees it: a paragraph defined inside a
 * table or layer gets no page margin in its rule. */
struct collected_definition {
  paragraph_definition fields;
  bool placed = false;
};

/* Whether definition a renders as the earlier definition b. */
bool RenderAlike(const html_render_info *c, const collected_definition &later,
                 const collected_definition &earlier) {
  const paragraph_definition &a = later.fields;
  const paragraph_definition &b = earlier.fields;
  if (a.header_length != b.header_length ||
      (a.flags2 & pab_flags2::MarginKinds) != (b.flags2 & pab_flags2::MarginKinds) ||
      (a.flags & pab_flags::ListKinds) != (b.flags & pab_flags::ListKinds) ||
      (a.flags2 & pab_flags2::ListStyles) != (b.flags2 & pab_flags2::ListStyles))
    return false;
  // The reading direction is part of the rule set.
  if (Has(a.flags2, pab_flags2::RightToLeft) != Has(b.flags2, pab_flags2::RightToLeft))
    return false;
  // A plain paragraph's rule carries its page margin only outside tables
  // and layers, and only when the margin is not marked as the default.
  if (!IsListDefinition(a) &&
      (later.placed != earlier.placed ||
       Has(a.flags2, pab_flags2::DefaultLeft | pab_flags2::DefaultFirst) !=
           Has(b.flags2, pab_flags2::DefaultLeft | pab_flags2::DefaultFirst)))
    return false;
  // The margins in twips are compared whatever the margin kind: the style
  // rule of a definition carries its left margin, so two definitions with
  // different margins never render alike.
  if (a.left != b.left || a.right != b.right || a.first_line != b.first_line)
    return false;
  if (!IsListDefinition(a) &&
      (a.line_spacing != b.line_spacing || a.spacing_before != b.spacing_before ||
       a.spacing_after != b.spacing_after))
    return false;
  if ((c->flags2 & html_flags2::RespectHiddenFormulas) != 0 &&
      ((a.flags & kHidingFlags) != (b.flags & kHidingFlags) ||
       Has(a.flags2, pab_flags2::HideWeb) != Has(b.flags2, pab_flags2::HideWeb) ||
       Has(a.flags, pab_flags::HideIf) || Has(b.flags, pab_flags::HideIf)))
    return false;
  if (a.justify != b.justify)
    return false;
  return !(a.has_extension && b.has_extension) || ExtensionsRenderAlike(a, b);
}

body_context *InputBody(chunk_process_state *state, const html_render_info *c) {
  const VelkoRTItem *item = state != nullptr ? StateItem(state) : c->item;
  if (item == nullptr || item->internal == nullptr)
    return nullptr;
  return item->internal->input;
}

} // namespace

WORD ConvertPABIDToMapping(const html_render_info *context, WORD pabid) {
  const WORD count = context->pabid_count < kPabidRemaps ? context->pabid_count : kPabidRemaps;
  for (WORD i = 0; i < count; ++i) {
    if (context->pabid_from[i] == pabid)
      return context->pabid_to[i];
  }
  return pabid;
}

STATUS ConsolidateParagraphForXML(chunk_process_state *state, html_render_info *context) {
  if (context == nullptr)
    return VELKO_ERR_BAD_ARGUMENT;
  context->pabid_count = 0;
  body_context *input = InputBody(state, context);
  if (input == nullptr)
    return NOERROR;
  collected_definition definitions[kDefinitionsConsidered];
  int count = 0;
  DWORD tables = 0;
  DWORD layers = 0;
  for (record_storage *node = GetNextCDRecord(input, nullptr);
       node != nullptr && count < kDefinitionsConsidered; node = GetNextCDRecord(input, node)) {
    switch (node->signature) {
    case SIG_CD_TABLEBEGIN:
    case SIG_CD_NESTEDTABLEBEGIN:
      ++tables;
      break;
    case SIG_CD_TABLEEND:
    case SIG_CD_NESTEDTABLEEND:
      tables -= tables > 0 ? 1 : 0;
      break;
    case SIG_CD_BEGIN:
      layers += NodeBracket(node) == SIG_CD_LAYER ? 1 : 0;
      break;
    case SIG_CD_END:
      layers -= NodeBracket(node) == SIG_CD_LAYER && layers > 0 ? 1 : 0;
      break;
    case SIG_CD_PABDEFINITION:
      if (ReadParagraphDefinition(node, &definitions[count].fields)) {
        definitions[count].placed = tables > 0 || layers > 0;
        ++count;
      }
      break;
    default:
      break;
    }
  }
  for (int i = 0; i < count; ++i) {
    const collected_definition &earlier = definitions[i];
    for (int j = i + 1; j < count && context->pabid_count < kPabidRemaps; ++j) {
      const collected_definition &later = definitions[j];
      if (later.fields.pabid == earlier.fields.pabid || !RenderAlike(context, later, earlier))
        continue;
      context->pabid_from[context->pabid_count] = later.fields.pabid;
      context->pabid_to[context->pabid_count] = earlier.fields.pabid;
      ++context->pabid_count;
    }
  }
  return NOERROR;
}
