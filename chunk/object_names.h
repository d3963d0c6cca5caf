/*
 * The name of a file attachment or OLE object as a rich-text record gives
 * it, made safe to use as a file name: shared by the copying of objects
 * and by the removal of the objects an item names.
 */
#ifndef VELKO_CHUNK_OBJECT_NAMES_H
#define VELKO_CHUNK_OBJECT_NAMES_H

#include <string>
#include <string_view>

#include "velko/host_types.h"

/* The part of the name (up to a NUL) after its last '/' or '\'; empty when
 * what is left cannot name a file safely: empty, ".", ".." or holding a
 * control byte. */
std::string SafeObjectName(std::string_view name);

/* What a record refers to outside its item. */
enum class named_object { none, file, ole_object };

/* The object a record (host form, header included) names, its name made
 * safe as SafeObjectName does: a file hotspot (0xFFA9 or 0xFFAD of type 4)
 * names a "$FILE" attachment by the text behind its fixed part, an OLE
 * object record (0xFFA7) its object by the name behind its 20-byte fixed
 * part (length at byte 14). none, with *name empty, for any other record,
 * one too short for the fields read, or a name that is not safe. */
named_object RecordObjectName(const BYTE* record, WORD signature, DWORD length,
                              std::string* name);

#endif
