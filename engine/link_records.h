/*
 * The note's link table: the "$Links" item (or "$FormLinks" when the note
 * has no "$Links") that link records (CDLINK2, and note-link resources
 * without an inline link) index into. A value is a type word, a u16 count
 * and count 40-byte note links.
 *
 * The lookup shows no message: the property query and the renderer each
 * tell the user in their own words.
 */
#ifndef VELKO_ENGINE_LINK_RECORDS_H
#define VELKO_ENGINE_LINK_RECORDS_H

#include "host/cdrecords.h"
#include "velko/host_types.h"

enum class link_table_lookup {
  found,
  no_table,    /* neither item on the note */
  not_in_list, /* the index is not below the count (or the value is cut short) */
};

/* Which items hold the note's link table: "$Links", else "$FormLinks"
 * (documents), or "$FormLinks" only (design elements: forms, pages and
 * subforms). */
enum class link_table_items {
  links_then_form_links,
  form_links_only,
};

/* The note link of the entry `index` of the note's link table. */
link_table_lookup FindLinkTableEntry(NOTEHANDLE note, WORD index, NOTELINK *link,
                                     link_table_items items = link_table_items::links_then_form_links);

#endif
