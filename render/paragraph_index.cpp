/*
 * The paragraph in force at a record: the nearest paragraph reference
 * before it, and the nearest definition of a PABID before it.
 *
 * Table cells and horizontal rules ask this at every record; looking back
 * through the list each time would make rendering grow with the square of
 * the input. Instead an index moves forward with the walk: every record is
 * read once, and the index holds the last reference and, per PABID, the
 * last definition among the records before its position. A question about
 * a record behind the index's position (a nested or repeated walk) is
 * answered by looking back as before.
 *
 * Records are in list order with non-decreasing ordinals; the index relies
 * on that only to tell a record behind it from one ahead.
 */
#include "host/cdrecords.h"
#include "render/paragraphs.h"
#include "render/render_info.h"
#include "store/body.h"
#include "store/tracked_memory.h"

struct paragraph_index {
  const record_storage *next;      /* the first record not read yet; null at the end */
  const record_storage *last_read; /* the last record read; null before the first */
  const record_storage *reference; /* the last paragraph reference read */
  const record_storage *definitions[0x10000]; /* the last definition read, by PABID */
};

namespace {

const record_storage *ListHead(const record_storage *node) {
  while (node->previous != nullptr)
    node = node->previous;
  return node;
}

void Read(paragraph_index *index, const record_storage *node) {
  if (node->signature == SIG_CD_PABREFERENCE) {
    index->reference = node;
  } else if (node->signature == SIG_CD_PABDEFINITION) {
    paragraph_definition definition;
    if (ReadParagraphDefinition(node, &definition))
      index->definitions[definition.pabid] = node;
  }
  index->last_read = node;
}

/* The index with every record before `from` read and none after; null when
 * `from` lies behind the index (or memory cannot be had). */
paragraph_index *IndexAt(html_render_info *c, const record_storage *from) {
  paragraph_index *index = c->paragraph_index;
  if (index == nullptr) {
    index = static_cast<paragraph_index *>(
        VelkoAllocatePtr(c->session, VELKO_HERE, sizeof(paragraph_index), 1));
    if (index == nullptr)
      return nullptr;
    index->next = ListHead(from);
    c->paragraph_index = index;
  }
  if (index->last_read != nullptr && from->ordinal < index->last_read->ordinal)
    return nullptr;
  while (index->next != nullptr && index->next != from) {
    if (index->next->ordinal > from->ordinal)
      return nullptr; // passed where `from` would stand: it lies behind
    Read(index, index->next);
    index->next = index->next->next;
  }
  return index->next == from ? index : nullptr;
}

} // namespace

const record_storage *FindDefinitionBefore(html_render_info *c, const record_storage *from,
                                           WORD pabid) {
  if (from == nullptr)
    return nullptr;
  if (const paragraph_index *index = IndexAt(c, from))
    return index->definitions[pabid];
  for (const record_storage *node = from->previous; node != nullptr; node = node->previous) {
    paragraph_definition definition;
    if (ReadParagraphDefinition(node, &definition) && definition.pabid == pabid)
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

void FreeParagraphIndex(html_render_info *c) {
  VelkoDeallocatePtr(c->session, c->paragraph_index);
  c->paragraph_index = nullptr;
}
