/*
 * Services of the export layer that the renderers call: making the
 * directories images and attachments are written to, telling whether an
 * image of the rich text holds its data whole, writing such an image or
 * an image resource to a file (telling a missing resource from a file
 * that cannot be written), making an image resource from an image of the
 * rich text, and extracting an attachment.
 * Declared here once for the render folder; the export layer defines them.
 */
#ifndef VELKO_RENDER_SERVICES_H
#define VELKO_RENDER_SERVICES_H

#include "velko/velko.h"

struct record_storage;

/* Makes the directory and every missing parent ("/" separates them).
 * Non-zero when the directory exists afterwards (also when it did
 * before); 0 when it cannot be made, as when a file stands in the way. */
BOOL MakeDirectoryIfNecessary(const char* path);

/* Writes the image that starts at the node to the file: from the node to
 * the first image header, then the data of as many image segments as the
 * header counts. 0, or 1028 when there is no header before the image ends
 * (an end bracket, a text run, a hotspot end or the list end), the header
 * counts no segments, segments are missing, or the file cannot be written;
 * on failure no file is left at the path (a file that was there stays). */
STATUS GenerateGraphicFileFromCDRecords(LSXLsiSession* session, const char* fileName,
                                        const record_storage* header);

/* Whether the image that starts at the node holds its data whole, as
 * GenerateGraphicFileFromCDRecords and the parts of a MIME message read
 * it: an image header before the image ends, counting one or more
 * segments, each of them there and holding the data it counts. */
bool ImageDataIsWhole(const record_storage* header);

/* Writes the image of the database's image resource of the name to the
 * file, as GenerateGraphicFileFromCDRecords from the resource's records.
 * 0, 263 when memory cannot be had, 1028 when no image is found or the
 * file cannot be written. */
STATUS GenerateGraphicFileFromImageResource(LSXLsiSession* session, const char* server,
                                            const char* databasePath, const char* name,
                                            const char* fileName);

/* As GenerateGraphicFileFromImageResource, telling why 1028 was given:
 * `missing` is set when no resource of the name can be read from the
 * database (none is there, or the database does not open) or the
 * resource holds no whole image; cleared when the file could not be
 * written, and for any other answer. */
STATUS WriteImageResourceFile(LSXLsiSession* session, const char* server,
                              const char* databasePath, const char* name, const char* fileName,
                              bool* missing);

/* Makes an image resource of the name in the open database from the image
 * that starts at `first` (its graphic record through its last segment).
 * An existing resource is kept (0) unless replace is 1, when its image is
 * rewritten. The resource is stored in one update: on failure the
 * database is left as it was. 0, 263, 1028 when the records hold no whole
 * image, or the host's status. */
STATUS GenerateImageResourceFromCDRecords(LSXLsiSession* session, const char* name,
                                          const record_storage* first, DBHANDLE db, int replace);

/* Writes the note's attachment whose internal name is `internalName`
 * (same length, compared without regard to case) to the file. 0, the
 * item-not-found status when the note has none, else the host's status. */
STATUS ExtractAttachmentFile(NOTEHANDLE note, const char* internalName, const char* fileName);

#endif
