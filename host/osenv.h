/*
 * The host's environment: settings (the notes.ini stand-in), the data
 * directory and the texts of status codes.
 *
 * The data directory is the process environment variable VELKO_DATA_DIR when
 * it is set and not empty, else the current working directory (tests may
 * override it through host/host_testing.h). The settings file is "notes.ini"
 * in that directory: lines "Name=Value"; blank lines, "[Section]" lines and
 * lines starting with ';' are ignored; blanks around names and values are
 * dropped; names compare without regard to ASCII case and the first
 * occurrence of a name wins. The file is read again when its modification
 * time changes. Values set in the process (OSSetEnvironmentVariable) take
 * precedence over the file and are never written to it.
 */
#ifndef VELKO_HOST_OSENV_H
#define VELKO_HOST_OSENV_H

#include "velko/host_types.h"

#ifdef __cplusplus
extern "C" {
#endif

#define MAXPATH 256

/* TRUE when the setting exists; copies at most bufferLength - 1 bytes and a
 * NUL. FALSE when unset (or when memory to read it runs out), with
 * retValue[0] = 0 when bufferLength > 0. */
BOOL OSGetEnvironmentString(const char* name, char* retValue, WORD bufferLength);

/* atol of the setting's value; 0 when unset or when memory runs out. */
long OSGetEnvironmentLong(const char* name);

/* Sets a value for this process only; a null value makes the name unset,
 * hiding a value in the settings file too. Without memory nothing is set. */
void OSSetEnvironmentVariable(const char* name, const char* value);

/* Copies the data directory (no trailing separator, at most MAXPATH - 1
 * bytes and a NUL) into retPath, which holds at least MAXPATH bytes; returns
 * its length. */
WORD OSGetDataDirectory(char* retPath);

/* Copies the text of the status's low 14 bits (at most bufferLength - 1
 * bytes and a NUL); the engine's own codes of 20013 and above are read
 * whole. Codes without a text of their own read "Error 0x%04X".
 * The module is ignored. Returns the length copied. */
WORD OSLoadString(HMODULE module, STATUS status, char* retBuffer, WORD bufferLength);

#ifdef __cplusplus
}
#endif

#endif
