/*
 * Import filters: the libraries that convert a file of another format into
 * a CD file. OSLoadLibrary finds a library by name in the stand-in's filter
 * table and hands back its entry point; the notes.ini entries
 * "EDITIMP<n>=<description>,<flags>,<library>,<format>,<extensions>" name
 * the library and format for each kind of file.
 *
 * The table holds "imgfilt": GIF and JPEG images (formats "GIF" and
 * "JPEG", any case) written as a CD file of one CDGRAPHIC, one
 * CDIMAGEHEADER (the image's type, its size as the image data gives it,
 * its data size and segment count) and CDIMAGESEGMENTs of at most 10240
 * bytes of the file each (an odd last piece padded to an even segment
 * size). A file that is not a whole image of the format gives
 * ERR_FILTER_BAD_IMAGE, another format ERR_FILTER_FORMAT, a file that
 * cannot be read or written ERR_HOST_FILE_IO; a filter that fails writes
 * nothing to the output path.
 *
 * Not here: choosing the filter for a file and naming the output (the
 * export layer does both).
 */
#ifndef VELKO_HOST_FILTERS_H
#define VELKO_HOST_FILTERS_H

#include "velko/host_types.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Flags a filter is called with. */
#define IMPORT_FLAG_NATIVE_IMAGES 0x0001 /* keep images in their own format */

/* Converts the input file of the format into a CD file at outputPath
 * (replacing it): the type word 1, then records in stored form. 0 on
 * success. */
typedef STATUS (*IMPORT_FILTER_PROC)(const char* inputPath, const char* format,
                                     const char* outputPath, DWORD flags);

/* The filter library of the name (compared without regard to ASCII case):
 * its module and entry point. ERR_FILTER_NO_LIBRARY when the table has no
 * such library, ERR_HOST_BAD_ARGUMENT for a null argument. */
STATUS OSLoadLibrary(const char* libraryName, DWORD flags, HMODULE* retModule,
                     IMPORT_FILTER_PROC* retEntryPoint);

/* The "imgfilt" entry point. */
STATUS ImageImportFilter(const char* inputPath, const char* format, const char* outputPath,
                         DWORD flags);

#ifdef __cplusplus
}
#endif

#endif
