/*
 * The text of an import: reading a file whole, and its character set:
 * telling UTF-8 from other bytes and
 * translating between a source set, LMBCS and UTF-8 through the host's
 * translation services, in pieces cut between characters so that each
 * call's lengths fit a u16.
 *
 * Not here: mapping character set names to ids (store/charset_names.h).
 */
#ifndef VELKO_IMPORT_CHARSET_H
#define VELKO_IMPORT_CHARSET_H

#include <string>
#include <string_view>

#include "host/nls.h"
#include "velko/host_types.h"

/* The whole file into *content; false when it cannot be opened or read. */
bool ReadWholeFile(const char* path, std::string* content);

/* True for well-formed UTF-8 (no overlong forms, surrogates or code points
 * above U+10FFFF); with nonAscii set, it must also hold a byte above 0x7F. */
bool IsUtf8(std::string_view text, bool nonAscii);

/* True when the UTF-8 text is LMBCS as it is (NUL, TAB, LF, CR and
 * printable ASCII only): TranslateUtf8 then appends it unchanged. */
bool Utf8IsLmbcs(std::string_view utf8);

/* The text of the host character set csid appended to *lmbcs as LMBCS. */
STATUS TranslateToLmbcs(std::string_view text, WORD csid, std::string* lmbcs);
/* The UTF-8 text appended to *lmbcs as LMBCS. */
inline STATUS TranslateUtf8(std::string_view utf8, std::string* lmbcs) {
  return TranslateToLmbcs(utf8, NLS_CS_UTF8, lmbcs);
}
/* The LMBCS text appended to *utf8 as UTF-8. */
STATUS TranslateLmbcsToUtf8(std::string_view lmbcs, std::string* utf8);

/* The byte length of the LMBCS character at `at` (a character cut short by
 * the end of the text ends there). */
size_t LmbcsCharacterLength(std::string_view text, size_t at);

#endif
