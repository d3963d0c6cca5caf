/*
 * The name of a file attachment or OLE object as a rich-text record gives
 * it, made safe to use as a file name: shared by the copying of objects
 * and by the removal of the objects an item names.
 */
#ifndef VELKO_CHUNK_OBJECT_NAMES_H
#define VELKO_CHUNK_OBJECT_NAMES_H

#include <string>
#include <string_view>

/* The part of the name (up to a NUL) after its last '/' or '\'; empty when
 * what is left cannot name a file safely: empty, ".", ".." or holding a
 * control byte. */
std::string SafeObjectName(std::string_view name);

#endif
