/*
 * Character sets: LMBCS, the host's multi-byte character set, and
 * translation between it and other sets, on ICU.
 *
 * LMBCS is read with ICU's "LMBCS-1" converter. A character is:
 *   - one byte: 0x00, TAB, LF, CR, 0x19, 0x20-0x7F (ASCII), 0x80-0xFF (code
 *     page 850), and the bytes 0x07, 0x0C, 0x0E, 0x15-0x18, 0x1A-0x1F, which
 *     ICU reads as one invalid character each;
 *   - two bytes: a group byte 0x01-0x06, 0x08, 0x0B (single-byte groups) or
 *     0x0F (C0/C1 controls) and one byte;
 *   - three bytes: a group byte 0x10-0x13 (double-byte groups; a doubled
 *     group byte marks a single-byte character, still three bytes) or 0x14
 *     (a UTF-16 code unit, big-endian; 0x14 0xF6 hh stands for hh00).
 * The group bytes are the lead bytes (NLS_isleadbyte).
 *
 * Text made here is LMBCS written one fixed way, so that fixtures are
 * stable and no NUL byte appears inside a character: ASCII as itself; code
 * page 850 characters as one byte; other C0 controls as 0x0F, c + 0x20; C1
 * controls as 0x0F, c; U+F601-U+F6FF (which group 0x14 cannot carry) as
 * 0x12 and their two windows-950 bytes; every other UTF-16 code unit
 * (surrogates one by one) as 0x14 and the unit big-endian, 0x14 0xF6 hh for
 * a unit hh00. The noncharacters U+FFFE and U+FFFF have no form that ICU
 * reads back; they are written 0x14 FF FE / FF FF and read as U+FFFD.
 *
 * Character-set ids (CSIDs) that ICU serves can be loaded; 160 is UTF-16 in
 * little-endian order, 256-258 are LMBCS. A null NLS_PINFO means LMBCS.
 *
 * No call lets an exception out: a call that runs out of memory returns
 * ERR_MEMORY, or the answer it gives below for "nothing".
 */
#ifndef VELKO_HOST_NLS_H
#define VELKO_HOST_NLS_H

#include "velko/host_types.h"

#ifdef __cplusplus
extern "C" {
#endif

typedef WORD NLS_STATUS;
#define NLS_SUCCESS 0
/* As a length: the text ends at its first NUL. */
#define NLS_NULLTERM 0xFFFF

/* Character-set ids. */
#define NLS_CS_ASCII 31
#define NLS_CS_ISO88591 32
#define NLS_CS_WIN1250 80
#define NLS_CS_WIN1251 81
#define NLS_CS_WIN1252 82
#define NLS_CS_UNICODE 160
#define NLS_CS_UTF7 170
#define NLS_CS_UTF8 171
#define NLS_CS_LMBCS 256

/* NLS_translate flags. */
#define NLS_NONULLTERMINATE 0x0010 /* write no NUL after the output */
#define NLS_TARGETISLMBCS 0x0040   /* the default direction: info's set to LMBCS */
#define NLS_SOURCEISLMBCS 0x0080   /* LMBCS to info's set */

/* The number of characters in the first numBytes bytes (NLS_NULLTERM: up
 * to the first NUL). With a byte count, a NUL is a character like any
 * other, and a character cut short by the count counts as one. */
NLS_STATUS NLS_string_chars(const BYTE* str, WORD numBytes, WORD* retNumChars, NLS_PINFO info);

/* The number of bytes of the first numChars characters (NLS_NULLTERM: the
 * whole text up to its NUL, which is not counted). With a character count,
 * a NUL byte is a character of one byte. */
NLS_STATUS NLS_string_bytes(const BYTE* str, WORD numChars, WORD* retNumBytes, NLS_PINFO info);

/* TRUE for a byte that starts a character of two or more bytes. */
BOOL NLS_isleadbyte(BYTE c, NLS_PINFO info);

/* TRUE when the character at that position is a letter. */
BOOL NLS_isalpha(const BYTE* character, NLS_PINFO info);

/* Makes the information block of a character set; ERR_HOST_CHARSET_UNKNOWN
 * (and *retInfo = null) for a set the stand-in cannot translate. */
NLS_STATUS NLS_load_charset(WORD csid, NLS_PINFO* retInfo);
NLS_STATUS NLS_unload_charset(NLS_PINFO info);

/* Translates inLength bytes (NLS_NULLTERM: up to the NUL) between LMBCS and
 * info's set, direction by NLS_SOURCEISLMBCS. On entry *inoutOutLength is
 * the room in out, on exit the bytes written, without the NUL. Characters
 * the target cannot hold become "?". The NUL (two zero bytes for UTF-16) is
 * written unless NLS_NONULLTERMINATE, and must fit in the room too. When the
 * output does not fit, as many whole characters as fit are written and the
 * status is ERR_HOST_BUFFER_TOO_SMALL. */
NLS_STATUS NLS_translate(const BYTE* in, WORD inLength, BYTE* out, WORD* inoutOutLength, WORD flags,
                         NLS_PINFO info);

/* OSTranslate modes. Native is UTF-8 here; Unicode is UTF-16LE. */
#define OS_TRANSLATE_NATIVE_TO_LMBCS 0
#define OS_TRANSLATE_LMBCS_TO_NATIVE 1
#define OS_TRANSLATE_LOWER_CASE 2
#define OS_TRANSLATE_UPPER_CASE 3
#define OS_TRANSLATE_UNICODE_TO_LMBCS 4
#define OS_TRANSLATE_LMBCS_TO_UNICODE 5
#define OS_TRANSLATE_UTF8_TO_LMBCS 6
#define OS_TRANSLATE_LMBCS_TO_UTF8 7

/* Translates inLength bytes; returns the bytes written. Output that does
 * not fit is cut after the last whole character that fits. A NUL (two zero
 * bytes for UTF-16 output) follows only when room for it remains and is not
 * counted. Unknown modes, and memory that runs out, write nothing. */
WORD OSTranslate(WORD mode, const char* in, WORD inLength, char* out, WORD outLength);

/* Compare flags. */
#define INTL_ACCENT_SENSITIVE 1
#define INTL_CASE_SENSITIVE 2

/* Compares two LMBCS texts by the root collation: <0, 0 or >0. Neither
 * flag: base letters only; accents only: accents count; case only: case
 * counts, accents do not; both: both count. When memory for the collation
 * runs out the bytes are compared. */
int IntlTextCompare(const char* a, WORD lengthA, const char* b, WORD lengthB, WORD flags);

#ifdef __cplusplus
}

#include <string>
#include <string_view>

/* LMBCS, written the fixed way, from UTF-8 (invalid UTF-8 becomes U+FFFD). */
std::string LmbcsFromUtf8(std::string_view utf8);
/* UTF-8 from LMBCS; what cannot be written (a lone surrogate) becomes "?". */
std::string Utf8FromLmbcs(std::string_view lmbcs);
#endif

#endif
