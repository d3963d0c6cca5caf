/*
 * Character set names, as rendering options, MIME parts and imported HTML
 * give them ("UTF-8", "ISO-8859-1", "windows-1252"), mapped to the numeric
 * character set ids (CSIDs) the host's translation services take.
 *
 * This maps names only; it translates no text.
 */
#ifndef VELKO_STORE_CHARSET_NAMES_H
#define VELKO_STORE_CHARSET_NAMES_H

#include "velko/host_types.h"

/* The CSID of a character set name, or defaultCsid for a null, empty or
 * unknown name. Names are compared whole and without regard to ASCII case;
 * a name longer than three characters that holds the Windows code page
 * digits 1252, 1251 or 1250 anywhere maps to that code page. */
WORD CSIDFromString(const char* name, WORD defaultCsid);

#endif
