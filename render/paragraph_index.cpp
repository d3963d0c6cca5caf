/*
 * The paragraph in force at a record: the nearest paragraph reference
 * before it, and the nearest definition and hide-when formula of a PABID
 * before it.
 *
 * Table cells and horizontal rules ask this at every record, paragraphs
 * under a hide-when formula at every paragraph; looking back
 * through the list each time would make rendering grow with the square of
 * the input. Instead an index moves forward with the walk: every record is
 * read once, and the index holds the last reference and, per PABID, the
 * last definition among the records before its position. A question about
 * a record behind the index's position (a nested or repeated walk) is
 * answered by looking back as before.
 *
 * The index reads the list with a record cursor (render/record_cursor.h).
 */
#include <new>

#include "engine/record_fields.h"
#include "host/cdrecords.h"
#include "render/paragraphs.h"
#include "render/record_cursor.h"
#include "render/render_info.h"
#include "store/body.h"
#include "store/tracked_memory.h"

struct paragraph_index {
  record_cursor cursor;
  const record_storage *reference; /* the last paragraph reference read */
  const record_storage *definitions[0x10000]; /* the last definition read, by PABID */
  const record_storage *hides[0x10000];       /* the last hide-when formula read, by PABID */
};

namespace {

/* The PABID of a CDPABHIDE; false when the record is none or too short. */
bool HidePabid(const record_storage *node, WORD *pabid) {
  return node->signature == SIG_CD_PABHIDE &&
         ReadRecordWord(node->data, node->length, offsetof(CDPABHIDE, PABID), pabid);
}

void Read(paragraph_index *index, const record_storage *node) {
  if (node->signature == SIG_CD_PABREFERENCE) {
    index->reference = node;
  } else if (node->signature == SIG_CD_PABDEFINITION) {
    if (WORD pabid = 0; ReadDefinitionPabid(node, &pabid))
      index->definitions[pabid] = node;
  } else if (WORD pabid = 0; HidePabid(node, &pabid)) {
    index->hides[pabid] = node;
  }
}

/* The index with every record before `from` read and none after; null when
 * `from` lies behind the index (or memory cannot be had). */
paragraph_index *IndexAt(html_render_info *c, const record_storage *from) {
  paragraph_index *index = c->paragraph_index;
  if (index == nullptr) {
    void *block = VelkoAllocatePtr(c->session, VELKO_HERE, sizeof(paragraph_index), 0);
    if (block == nullptr)
      return nullptr;
    index = new (block) paragraph_index{};
    c->paragraph_index = index;
  }
  const bool at = MoveCursorTo(index->cursor, from,
                               [index](const record_storage *node) { Read(index, node); });
  return at ? index : nullptr;
}

} // namespace

const record_storage *FindDefinitionBefore(html_render_info *c, const record_storage *from,
                                           WORD pabid) {
  if (from == nullptr)
    return nullptr;
  if (const paragraph_index *index = IndexAt(c, from))
    return index->definitions[pabid];
  // Behind the walk (a table resumes at cells before a spanning cell it
  // rendered): the run's table of definitions answers, unless it is full
  // and may lack some.
  if (c->pabdef_count > 0 && c->pabdef_count < kLookupSlots - 1) {
    for (WORD i = c->pabdef_count; i >= 1; --i) {
      const record_storage *node = c->pabdef_records[i];
      WORD found = 0;
      if (node != nullptr && node->ordinal < from->ordinal && ReadDefinitionPabid(node, &found) &&
          found == pabid)
        return node;
    }
    return nullptr;
  }
  for (const record_storage *node = from->previous; node != nullptr; node = node->previous) {
    WORD found = 0;
    if (ReadDefinitionPabid(node, &found) && found == pabid)
      return node;
  }
  return nullptr;
}

const record_storage *FindReferenceBefore(html_render_info *c, const record_storage *from) {
  if (from == nullptr)
    return nullptr;
  if (const paragraph_index *index = IndexAt(c, from))
    return index->reference;
  const record_storage *node = from->previous;
  while (node != nullptr && node->signature != SIG_CD_PABREFERENCE)
    node = node->previous;
  return node;
}

const record_storage *FindHideBefore(html_render_info *c, const record_storage *from, WORD pabid) {
  if (from == nullptr)
    return nullptr;
  if (const paragraph_index *index = IndexAt(c, from))
    return index->hides[pabid];
  for (const record_storage *node = from->previous; node != nullptr; node = node->previous) {
    WORD found = 0;
    if (HidePabid(node, &found) && found == pabid)
      return node;
  }
  return nullptr;
}

void FreeParagraphIndex(html_render_info *c) {
  VelkoDeallocatePtr(c->session, c->paragraph_index);
  c->paragraph_index = nullptr;
}
