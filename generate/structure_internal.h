/*
 * Helpers the structural generators share: emitting a record held in a
 * plain structure, reading a property value whole, inches as twips, and
 * the highest paragraph id of the item's loaded records. Private to
 * generate/.
 */
#ifndef VELKO_GENERATE_STRUCTURE_INTERNAL_H
#define VELKO_GENERATE_STRUCTURE_INTERNAL_H

#include <string.h>

#include <string>

#include "generate/structure_generators.h"
#include "host/cdrecords.h"
#include "store/emitter.h"

namespace structure {

/* Emits a record laid out in a structure, under its signature. */
template <typename T> STATUS Emit(const T& record, WORD signature, generation_context* gen) {
  return CopyCDUpdated(&record, signature, sizeof record, gen);
}

/* The value of key in properties (null: absent). */
bool Value(const char* properties, const char* key, std::string* value);
bool Has(const char* properties, const char* key);

/* A decimal number of inches as twips, truncated toward zero and clamped
 * to 32 bits; a 16-bit field takes the low 16 bits. */
int32_t InchesToTwips(const char* text);

/* Case-insensitive comparisons. */
bool Same(const std::string& a, const char* b);
bool Begins(const std::string& text, const char* prefix);

/* The highest PABID of the CDPABDEFINITIONs the item has loaded (0 when
 * none). */
WORD HighestLoadedPabid(const VelkoRTItem* item);
/* Starting from `start`, raised past every loaded definition whose PABID
 * is at least the running value; past 65535 when a loaded PABID is the
 * largest, which the caller refuses. */
DWORD PabidAboveLoaded(const VelkoRTItem* item, DWORD start);
/* The id after the generation's last paragraph id, into *pabid and made
 * the last; when the last is 65535 the paragraph is refused through the
 * emitter's message instead (kGeneratorRefused), since the next would
 * wrap to 0. */
STATUS TakeNextPabid(structure_generation* state, WORD* pabid);

/* The item's default text record (8 bytes: header and FONTID). */
CDTEXT DefaultText(const VelkoRTItem* item);

/* The current paragraph definition and reference of the context. */
_CDPABDEFEXT CurrentDefinition(const generation_context* gen);
CDPABREFERENCE CurrentReference(const generation_context* gen);
void SetCurrentReference(generation_context* gen, const CDPABREFERENCE& reference);

/* The length a definition is written with: its header's, or 92 when the
 * header holds no definition length. */
WORD DefinitionLength(const _CDPABDEFEXT& definition);

/* A 16-digit hexadecimal replica id as the record holds it (the last 8
 * digits, then the first 8); zero for any other text. */
void ReplicaBytes(const std::string& text, BYTE out[8]);

/* Builds an image resource record (signature 0xFF5B or 0xFFF6) into out:
 * flags, type 3, class 19, the server, file path, replica and name texts.
 * False when it would pass the emitter's largest record. */
bool BuildImageResource(WORD signature, DWORD flags, const std::string& name,
                        const std::string& server, const std::string& path, const BYTE replica[8],
                        std::string* out);

} // namespace structure

#endif
