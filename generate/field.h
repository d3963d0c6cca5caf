/*
 * Field records: GenerateField writes the field a chunk holds in its five
 * field-record buffers (CDFIELD, CDEXTFIELD, CDEXT2FIELD, the embedded
 * control and the CDIDNAME) into the body being built, registers the
 * field's name in the note ("$Fields" and a placeholder item, with a
 * unique name when the note has an item of that name) and writes its
 * LotusScript module and JavaScript events. SetupFieldData fills the
 * buffers from a property string.
 *
 * Not here: where the buffers live and when they are made (the chunk).
 */
#ifndef VELKO_GENERATE_FIELD_H
#define VELKO_GENERATE_FIELD_H

#include <string>
#include <unordered_map>
#include <vector>

#include "generate/font_string.h"
#include "store/emitter.h"
#include "velko/velko.h"

/* The field-record buffers, in this order. */
enum : int {
  kFieldBufferField = 0,
  kFieldBufferExtField = 1,
  kFieldBufferExt2Field = 2,
  kFieldBufferControl = 3,
  kFieldBufferIdName = 4,
  kFieldBufferCount = 5,
};

/* Tries of the unique-name search before it gives up. */
inline constexpr int kUniqueFieldNameTries = 9999;
/* Characters of a field name kept. */
inline constexpr size_t kFieldNameLength = 63;

/* The names a copy registers in "$Fields": the first (and any that would
 * not fit the list) through the host as a lone field's is, the others kept
 * here with the list's entry count and value length, and appended in one
 * write by WriteFieldNames where the copy ends, so a copy of many fields
 * writes the list once instead of once per field. Also where the copy's
 * search for unique names resumes, so that many fields of one name do not
 * each try every number taken before. */
struct field_names {
  bool known = false; /* count and length hold the item's as written */
  DWORD count = 0;
  DWORD length = 0; /* the list's value, its type word included */
  std::string texts; /* the names kept, back to back */
  std::vector<WORD> lengths;
  /* By name given a unique one: the number that one took. */
  std::unordered_map<std::string, int> numbers;
};

/* Appends the names kept to the note's "$Fields" and empties the batch. */
STATUS WriteFieldNames(NOTEHANDLE note, field_names* names);

/* What GenerateField takes from the chunk operation. */
struct field_operation {
  generation_context* gen = nullptr;
  NOTEHANDLE note = NULLHANDLE; /* the note the field is registered in */
  /* The chunk's field-record buffers: each a host-form record with its
   * header, or null or of length 0 when empty. They are read, not
   * changed: a renamed field is written from a copy. */
  const void* buffers[kFieldBufferCount] = {};
  /* The chunk's event strings and their count (at most six). */
  char* const* event_strings = nullptr;
  int event_count = 0;
  /* Where the names registered are kept until WriteFieldNames (null:
   * each goes to "$Fields" at once). */
  field_names* names = nullptr;
};

/* Writes the field. name (null: the CDFIELD's own) is cut to 63
 * characters; mode "Modify" keeps it and registers nothing. A font string
 * (null: the CDFIELD keeps its font) gives the field the item's current
 * text font with the string applied. wrap brackets the records and ends
 * them with an empty text record. Returns the first failing status of a
 * record or item; 1028 without a CDFIELD or when no unique name is found
 * within 9999 tries; 257 (the field still written) when a JavaScript event
 * name is unknown: that event and the CDIDNAME are left out. */
STATUS GenerateField(const char* name, const char* fontString, DWORD wrap, const char* mode,
                     field_operation* op);

/* A field-record buffer SetupFieldData fills: data of capacity bytes
 * holding a record (length 0: empty). */
struct field_buffer {
  BYTE* data = nullptr;
  DWORD capacity = 0;
};

/* Fills the buffers from the property string: with create non-zero new
 * records for the field of the name (CDFIELD, CDEXTFIELD, CDEXT2FIELD),
 * else the held ones change; type is the field's kind ("Text", "Number",
 * "Rich", "Names", "Dialog", ...; null: kept). 1028 when a record would
 * not fit its buffer or no CDFIELD is held; 0 otherwise. */
STATUS SetupFieldData(DWORD create, LSXLsiSession* session, const char* name, const char* type,
                      const char* properties, field_buffer buffers[kFieldBufferCount]);

#endif
