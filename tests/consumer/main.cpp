// Builds against an installed velko only: makes a note with a rich-text
// item through the host's headers, renders it, frees the result and checks
// that the session's pool holds no block in use.
#include <host/nsfdb.h>
#include <host/nsfnote.h>
#include <velko/velko.h>

#include <cstdio>
#include <cstring>

namespace {

int Fail(const char* what, unsigned value) {
  std::fprintf(stderr, "consumer: %s (%u)\n", what, value);
  return 1;
}

} // namespace

int main() {
  const char database[] = "mem:consumer";
  DBHANDLE db = NULLHANDLE;
  NOTEHANDLE note = NULLHANDLE;
  if (STATUS status = NSFDbCreate(database, DBCLASS_NOTEFILE, TRUE); status != NOERROR)
    return Fail("cannot create the database", status);
  if (STATUS status = NSFDbOpen(database, &db); status != NOERROR)
    return Fail("cannot open the database", status);
  if (STATUS status = NSFNoteCreate(db, &note); status != NOERROR)
    return Fail("cannot create a note", status);
  // One paragraph and one text record "Hello" (face 1, 10 points), stored form.
  const BYTE records[] = {0x81, 0x02, 0x85, 0xFF, 0x0D, 0x00, 0x01, 0x00,
                          0x00, 0x0A, 'H',  'e',  'l',  'l',  'o',  0x00};
  if (STATUS status = NSFItemAppend(note, 0, "Body", 4, TYPE_COMPOSITE, records, sizeof records);
      status != NOERROR)
    return Fail("cannot append the item", status);

  auto* session = new LSXLsiSession();
  session->InitializeTempDirectory();
  auto* item = new VelkoRTItem(session);
  if (STATUS status = item->ConnectBackend(note, "Body", 0); status != NOERROR)
    return Fail("cannot connect the item", status);
  VelkoRTChunk* chunk = item->DefineChunk("Everything");
  if (chunk == nullptr)
    return Fail("cannot define a chunk", 0);
  char* html = chunk->GenerateHTML("", "HTML 4.01", "", 0, nullptr, nullptr);
  if (html == nullptr || chunk->status != NOERROR)
    return Fail("rendering failed", chunk->status);
  const bool hello = std::strstr(html, "Hello") != nullptr;
  VelkoDeallocatePtr(session, html);
  delete item; // and its chunks
  const DWORD inUse = VelkoTrackedBlocksInUse(session);
  delete session;
  NSFNoteClose(note);
  NSFDbClose(db);
  if (!hello)
    return Fail("the rendering lacks the text", 0);
  if (inUse != 0)
    return Fail("tracked blocks still in use", inUse);
  std::puts("consumer: rendered, freed, no tracked block in use");
  return 0;
}
