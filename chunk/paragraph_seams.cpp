/*
 * The paragraph-style routines as the chunk engine reaches them
 * (engine/services.h): matching a definition against the selection of a
 * parsed paragraph change (its new values are applied by ApplyParagraphSpec).
 */
#include "chunk/paragraph_style.h"
#include "engine/services.h"

int MatchParagraphSpec(const _CDPABDEFEXT* definition, const paragraph_spec* spec) {
  if (definition == nullptr || spec == nullptr)
    return 0;
  return MatchParagraph(definition, &spec->entries[1], spec->list_set[1], spec->list_clear[1],
                        spec->criteria[1]);
}
