/*
 * The table of a rich-text item's named properties: what each name is (a
 * text or a number), whether it may be set, and whether its number is a
 * switch. The item's property members look names up here; reading and
 * setting the values is done by the item itself.
 */
#ifndef VELKO_STORE_ITEM_PROPERTIES_H
#define VELKO_STORE_ITEM_PROPERTIES_H

#include <stddef.h>

#include "velko/host_types.h"

/* Kinds and result classes of an item property. */
enum : WORD {
  RTITEM_PROP_KIND_NUMBER = 0x0300,
  RTITEM_PROP_KIND_TEXT = 0x0500,
  RTITEM_PROP_RESULT_TEXT = 0,
  RTITEM_PROP_RESULT_NUMBER = 7,
};

/* Property ids of the item. */
enum : DWORD {
  RTITEM_PROP_AUTOMERGETEXT = 0x709,
  RTITEM_PROP_AUTOSAVE = 0x70A,
  RTITEM_PROP_CONTAINERTYPE = 0x70B,
  RTITEM_PROP_FILEPATH = 0x70D,
  RTITEM_PROP_HANDLE = 0x710,
  RTITEM_PROP_HIGHLIGHTFONT = 0x711,
  RTITEM_PROP_HYPERLINKFONT = 0x712,
  RTITEM_PROP_ISCONNECTED = 0x713,
  RTITEM_PROP_MODIFIED = 0x714,
  RTITEM_PROP_NOTEID = 0x715,
  RTITEM_PROP_PERMANENTPEN = 0x716,
  RTITEM_PROP_PERMANENTPENFONT = 0x717,
  RTITEM_PROP_SERVER = 0x718,
  RTITEM_PROP_URLFONT = 0x71A,
  RTITEM_PROP_DEFAULTTABLEWIDTH = 0x71B,
  RTITEM_PROP_FORCETOWINDOW = 0x71C,
  RTITEM_PROP_CACHERECORDS = 0x71D,
  RTITEM_PROP_IMPORTNATIVEIMAGES = 0x71E,
  RTITEM_PROP_IMPORTEXPORTFILE = 0x71F,
  RTITEM_PROP_ACTIONHOTSPOTFONT = 0x720,
  RTITEM_PROP_WEBQUERYOPEN = 0x721,
  RTITEM_PROP_WEBQUERYSAVE = 0x722,
  RTITEM_PROP_SUPPRESSMESSAGES = 0x723,
  RTITEM_PROP_CACHELINKMATCHING = 0x724,
  RTITEM_PROP_WINDOWTITLE = 0x725,
  RTITEM_PROP_POPUPFONT = 0x727,
  RTITEM_PROP_CLIENTPREFERENCE = 0x728,
  RTITEM_PROP_AUTODECRYPT = 0x729,
  RTITEM_PROP_HTMLHEADCONTENT = 0x72A,
};

/* One item property. */
struct rtitem_prop {
  const char* name;
  WORD kind;           /* RTITEM_PROP_KIND_* */
  WORD result_class;   /* RTITEM_PROP_RESULT_* */
  DWORD id;            /* RTITEM_PROP_* */
  DWORD list_settable; /* may be set from a Name=value list (no row is) */
  DWORD read_only;
  DWORD is_switch;     /* the number is 0 or 1 */
  DWORD enabled;
};

inline constexpr size_t kItemPropertyCount = 29;

/* The properties sorted by name ignoring case, then a row with a null name. */
extern const rtitem_prop rtitem_prop_table[kItemPropertyCount + 1];

/* The property called `name` (ignoring case), or null. */
const rtitem_prop* LookupItemProperty(const char* name);

#endif
