/*
 * Fuzz target for the chunk definition parser and the canonical definition
 * text. The first byte chooses the clause the definition follows (none,
 * Contains Table, Contains Row, Inside Table); the rest, up to its first
 * NUL, is the definition text, held in an allocation of exactly its length.
 * A definition that parses is written as its canonical text; that text must
 * parse again and be written the same way. A broken invariant traps.
 */
#include <stddef.h>
#include <stdint.h>
#include <string.h>

#include <memory>

#include "engine/definition.h"
#include "fuzz/fuzz_support.h"
#include "store/vocabulary.h"

namespace {

struct ChainDeleter {
  void operator()(chunkdef_info* chain) const { DeleteChunkDefinitions(chain); }
};
using Chain = std::unique_ptr<chunkdef_info, ChainDeleter>;

LSXLsiSession& Session() {
  static LSXLsiSession* session = new LSXLsiSession();
  return *session;
}

/* Null, or a clause for the Row and Column rule. */
chunkdef_info* Previous(uint8_t choice, chunkdef_info* storage) {
  switch (choice % 4) {
  case 1:
    storage->relation = RELATION_CONTAINS;
    storage->target_type = TARGETTYPE_TABLE;
    break;
  case 2:
    storage->relation = RELATION_CONTAINS;
    storage->target_type = TARGETTYPE_ROW;
    break;
  case 3:
    storage->relation = RELATION_INSIDE;
    storage->target_type = TARGETTYPE_TABLE;
    break;
  default:
    return nullptr;
  }
  storage->index_count = 1;
  storage->index_starts[0] = 1;
  return storage;
}

void CheckClause(const chunkdef_info& clause) {
  check(clause.relation >= RELATION_EVERYTHING && clause.relation <= RELATION_ENDS_WITH);
  check(clause.target_type < kTargetTypeCount);
  check(clause.index_count <= kMaxDefinitionIndexes);
  check(clause.text_copy == nullptr && clause.extra == nullptr);
  if (clause.match_text == nullptr) {
    check(clause.match_mode == MATCH_NONE && clause.literal == 0);
    return;
  }
  check(clause.match_mode != MATCH_NONE && clause.literal == 1);
  check(strchr(clause.match_text, ';') == nullptr);
}

bool IsSimple(const chunkdef_info* chain) {
  for (; chain != nullptr; chain = chain->next) {
    if (chain->relation != RELATION_CONTAINS || chain->index_count != 1 ||
        chain->index_ends[0] > chain->index_starts[0])
      return false;
  }
  return true;
}

/* Parses text after `previous`, checks the chain and returns it (null when
 * the text does not parse). */
Chain ParseChecked(const char* text, chunkdef_info* previous) {
  DWORD simple = 7;
  Chain chain(ParseDefinition(&Session(), 0, previous, text, &simple));
  if (!chain) {
    check(simple == 0);
    return chain;
  }
  check(simple == (IsSimple(chain.get()) ? 1u : 0u));
  for (const chunkdef_info* clause = chain.get(); clause != nullptr; clause = clause->next)
    CheckClause(*clause);
  if (previous != nullptr)
    check(previous->next == nullptr);
  return chain;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1)
    return 0;
  chunkdef_info storage;
  chunkdef_info* previous = Previous(data[0], &storage);
  ++data;
  --size;

  const size_t length = strnlen(reinterpret_cast<const char*>(data), size);
  std::unique_ptr<char[]> text(new char[length + 1]);
  memcpy(text.get(), data, length);
  text[length] = '\0';

  Chain first = ParseChecked(text.get(), previous);
  if (!first)
    return 0;
  check(length < VELKO_SCRATCH_TEXT_SIZE);

  std::unique_ptr<char[]> canonical(new char[VELKO_SCRATCH_TEXT_SIZE]);
  if (!CalculateDefinition(first.get(), canonical.get(), VELKO_SCRATCH_TEXT_SIZE)) {
    check(canonical[0] == '\0');
    return 0;
  }
  const size_t canonicalLength = strlen(canonical.get());
  check(canonicalLength < VELKO_SCRATCH_TEXT_SIZE);

  Chain second = ParseChecked(canonical.get(), previous);
  check(second != nullptr);
  std::unique_ptr<char[]> again(new char[canonicalLength + 1]);
  check(CalculateDefinition(second.get(), again.get(), canonicalLength + 1));
  check(strcmp(again.get(), canonical.get()) == 0);
  // One byte less does not hold the text and its NUL.
  check(!CalculateDefinition(second.get(), again.get(), canonicalLength));
  return 0;
}
