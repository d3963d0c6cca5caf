/*
 * Opening databases and notes with the engine's user messages, copying a
 * note under a free design name, creating design notes, reading an item's
 * data type, refreshing a database's design collection, and reading note
 * identifiers from their text form.
 */
#ifndef VELKO_STORE_NOTE_ACCESS_H
#define VELKO_STORE_NOTE_ACCESS_H

#include "host/nsfdata.h"
#include "velko/velko.h"

/* Open flags NSFNoteOpen is called with. */
constexpr WORD kNoteOpenFlags = 0x0100;

/* Opens a database; a server that is empty or begins with a space is local. */
STATUS OpenDB(LSXLsiSession* session, const char* server, const char* path, DBHANDLE* retDb);

/* Opens a note of an open database: by design element name (class FORM)
 * when one is given, else by note ID. With a copy name, hands out a copy of
 * the note under the first free design name (not yet stored). */
STATUS OpenNoteInDB(LSXLsiSession* session, DBHANDLE db, NOTEID noteID, const char* designName,
                    const char* flagPattern, const char* copyName, NOTEHANDLE* retNote, int flag,
                    int decrypt, const void* decryptionKey);

/* OpenDB and OpenNoteInDB; on failure both handles are 0 and the database
 * is closed again. */
STATUS OpenNote(LSXLsiSession* session, const char* server, const char* path, NOTEID noteID,
                const char* designName, const char* flagPattern, const char* copyName,
                DBHANDLE* retDb, NOTEHANDLE* retNote, int flag, int decrypt,
                const void* decryptionKey);

STATUS OpenNoteByUNIDInDB(LSXLsiSession* session, DBHANDLE db, const UNID* unid,
                          NOTEHANDLE* retNote, WORD openFlags, int decrypt,
                          const void* decryptionKey);
STATUS OpenNoteByUNID(LSXLsiSession* session, const char* server, const char* path,
                      const UNID* unid, DBHANDLE* retDb, NOTEHANDLE* retNote, WORD openFlags,
                      int decrypt, const void* decryptionKey);

/* Closes the note, then the database; 0. */
STATUS CloseNote(DBHANDLE db, NOTEHANDLE note);

/* The item's data type word, or 0 when the item cannot be read. */
WORD GetFieldDatatype(NOTEHANDLE note, const char* itemName);

/* Creates (or, with overwrite, resets) a design note of the kind; see
 * LSXLsiSession::CreateDesignElement. */
STATUS CreateDesignNote(LSXLsiSession* session, const char* kind, const char* server,
                        const char* path, const char* name, const char* pattern,
                        const char* contentItem, int overwrite);

/* The note CreateDesignNote stores, left open and unsaved in *retNote for
 * the caller to fill, store and close, in an open database: a new design
 * note of the kind, or the existing one of the name with its content item
 * removed when overwrite is set. *retNote stays 0 (status 0) when the
 * element exists and overwrite is off, or when the host cannot create a
 * note. */
STATUS PrepareDesignNote(LSXLsiSession* session, const char* kind, DBHANDLE db, const char* name,
                         const char* contentItem, int overwrite, NOTEHANDLE* retNote);

/* Brings the database's design collection up to date. */
STATUS RefreshDesignCollection(DBHANDLE db);

/* The hexadecimal number formed by at most `count` characters from text;
 * reading stops at the first character that is not a hexadecimal digit. */
DWORD ReadHexNumber(const char* text, size_t count);

/* A view or note ID as 32 hexadecimal digits, in four groups of eight: the
 * file part's second and first word, then the note part's second and first
 * word. Any other length gives 0. */
UNIVERSALNOTEID ParseUniversalNoteID(const char* text);

#endif
