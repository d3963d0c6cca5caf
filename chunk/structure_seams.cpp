/*
 * The paragraph update for the record generators below the chunk layer
 * (generate/services.h): applying parsed paragraph parameters, or a
 * paragraph-style text, to one definition.
 */
#include "chunk/paragraph_style.h"
#include "generate/services.h"
#include "store/tracked_memory.h"

void ApplyParagraphSpec(paragraph_spec* spec, _CDPABDEFEXT* definition, DWORD setImplied) {
  if (spec == nullptr || definition == nullptr)
    return;
  UpdateParagraph(definition, &spec->entries[0], spec->set_flags, spec->clear_flags,
                  spec->set_flags2, spec->clear_flags2, spec->set_flags3, spec->clear_flags3,
                  spec->list_set[0], spec->list_clear[0], spec->shift_left_offset,
                  spec->shift_right_offset, spec->shift_left_percent, spec->shift_right_percent,
                  spec->criteria[0], setImplied, 0);
}

STATUS ApplyParagraphStyleText(VelkoRTItem* item, const char* text, _CDPABDEFEXT* definition) {
  paragraph_spec* spec = nullptr;
  if (STATUS status = ParseParagraphString(item, text, nullptr, &spec); status != NOERROR)
    return status;
  ApplyParagraphSpec(spec, definition, 0);
  VelkoDeallocatePtr(item->session, spec);
  return NOERROR;
}
