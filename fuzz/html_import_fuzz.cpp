/*
 * Fuzz target for the HTML import (GenerateCDRecordsFromHTMLInline through
 * VelkoRTChunk::AppendHTML("INLINE")): fuzzed bytes as HTML appended after
 * a body of one paragraph.
 *
 * Input: byte 0 chooses the options (its value mod 4: none, "Charset=UTF-8",
 * "Charset=windows-1252", "Charset=ISO-8859-1"); the rest is the HTML, up
 * to its first NUL.
 *
 * The chunk holds one inline part, a GIF named "pic", for "cid:pic".
 *
 * Checked: the import gives 0, 14409 (nothing to import) or 263, never
 * another status; the stored body loads completely and a reading walk
 * goes through it; host handles and tracked blocks are all given back.
 */
#include <stddef.h>
#include <stdint.h>
#include <string.h>

#include <string>

#include "chunk/rtchunk_internal.h"
#include "fuzz/fuzz_support.h"
#include "fuzz/stored_body_checks.h"
#include "host/host_testing.h"
#include "host/nsfdb.h"
#include "host/nsfnote.h"
#include "store/body.h"
#include "store/rtitem_internal.h"
#include "store/session.h"
#include "store/tracked_memory.h"
#include "store/vocabulary.h"
#include "tests/support/note_fixture.h"

namespace {

constexpr char kDbPath[] = "mem:htmlimportfuzz";
constexpr const char* kOptions[] = {"", "Charset=UTF-8", "Charset=windows-1252",
                                    "Charset=ISO-8859-1"};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1)
    return 0;
  const char* options = kOptions[data[0] % 4];
  const std::string html(reinterpret_cast<const char*>(data + 1), size - 1);

  const DBHANDLE db = note_testing::ProcessDatabase(kDbPath);
  const size_t handles = HostTestLiveHandles();
  NOTEHANDLE note = NULLHANDLE;
  check(NSFNoteCreate(db, &note) == NOERROR);
  const note_testing::Bytes body = note_testing::Records(
      {note_testing::DefaultDefinition(1), cdbuild::PabRef(1),
       cdbuild::Text("x", {.face = 1, .size = 10})});
  check(note_testing::AppendRecords(note, "Body", body) == NOERROR);
  {
    auto* session = new LSXLsiSession;
    auto* item = new VelkoRTItem(session);
    check(item->ConnectBackend(note, "Body", 0) == NOERROR);
    VelkoRTChunk* chunk = item->DefineChunk("Everything");
    check(chunk != nullptr);
    static const char kGif[] = "GIF89a\x02\x00\x03\x00\x00\x00\x00;";
    chunk->internal->inline_parts = new inline_part_node{
        new char[sizeof kGif], new char[4], nullptr, sizeof kGif - 1, false};
    memcpy(chunk->internal->inline_parts->data, kGif, sizeof kGif);
    memcpy(chunk->internal->inline_parts->name, "pic", 4);
    const STATUS status = chunk->AppendHTML("INLINE", html.c_str(), options);
    check(status == NOERROR || status == VELKO_STATUS_INLINE_HTML || status == VELKO_ERR_MEMORY);
    delete item;
    check(VelkoTrackedBlocksInUse(session) == 0);
    CheckStoredBody(session, note);
    delete session;
  }
  NSFNoteClose(note);
  check(HostTestLiveHandles() == handles);
  return 0;
}
