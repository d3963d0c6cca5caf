/*
 * Ownership of parsed chunk definitions.
 */
#include "engine/chunkdef.h"

void DeleteChunkDefinitions(chunkdef_info* first) {
  while (first != nullptr) {
    chunkdef_info* next = first->next;
    delete[] first->match_text;
    delete[] first->text_copy;
    delete[] first->extra;
    delete first;
    first = next;
  }
}
