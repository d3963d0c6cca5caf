/*
 * The lookup of a note link in the note's link table ("$Links", else
 * "$FormLinks"); see engine/link_records.h.
 */
#include "engine/link_records.h"

#include <string.h>

#include "host/nsfnote.h"

link_table_lookup FindLinkTableEntry(NOTEHANDLE note, WORD index, NOTELINK *link,
                                     link_table_items items) {
  static const char *const kLinkItems[] = {"$Links", "$FormLinks"};
  const size_t first = items == link_table_items::form_links_only ? 1 : 0;
  for (size_t at = first; at < sizeof kLinkItems / sizeof kLinkItems[0]; ++at) {
    const char *name = kLinkItems[at];
    BLOCKID value = {};
    DWORD valueLength = 0;
    if (NSFItemInfo(note, name, static_cast<WORD>(strlen(name)), nullptr, nullptr, &value,
                    &valueLength) != NOERROR)
      continue;
    const auto *bytes = static_cast<const BYTE *>(OSLockBlock(value));
    bool found = false;
    constexpr DWORD kLinksAt = 2 * sizeof(WORD); // the type word and the count
    if (bytes != nullptr && valueLength >= kLinksAt) {
      WORD count = 0;
      memcpy(&count, bytes + sizeof(WORD), sizeof count);
      // A count beyond the value's bytes reaches no further than they do.
      const DWORD held = (valueLength - kLinksAt) / sizeof(NOTELINK);
      if (index < count && index < held) {
        memcpy(link, bytes + kLinksAt + index * sizeof(NOTELINK), sizeof(NOTELINK));
        found = true;
      }
    }
    if (bytes != nullptr)
      OSUnlockBlock(value);
    return found ? link_table_lookup::found : link_table_lookup::not_in_list;
  }
  return link_table_lookup::no_table;
}
