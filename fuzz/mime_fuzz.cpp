/*
 * Fuzz target for the conversion of MIME items to rich text
 * (ConvertFromMIMEBackend): fuzzed bytes as the note's MIME items.
 *
 * Input: byte 0 chooses the form. Even: the rest is a message that the
 * host's helper stores as MIME items. Odd: the rest is item values, each a
 * little-endian two-byte length and that many bytes, appended as they are
 * as TYPE_MIME_PART items (so their MIME headers may be broken).
 *
 * Checked: the item is converted (status 0, rich text) or its MIME items
 * are byte for byte as before with no attachment added; host handles and
 * tracked blocks are all given back; nothing is left in the temporary
 * directory.
 */
#include <stddef.h>
#include <stdint.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "fuzz/fuzz_support.h"
#include "host/host_testing.h"
#include "host/mime_items.h"
#include "host/nsfdb.h"
#include "host/nsfnote.h"
#include "store/services.h"
#include "store/session.h"
#include "store/tracked_memory.h"
#include "tests/support/note_fixture.h"

namespace {

constexpr char kDbPath[] = "mem:mimefuzz";

void StoreValues(NOTEHANDLE note, const uint8_t* data, size_t size) {
  while (size >= 2) {
    size_t length = static_cast<size_t>(data[0] | data[1] << 8);
    data += 2;
    size -= 2;
    length = std::min(length, size);
    check(NSFItemAppend(note, 0, "Body", 4, TYPE_MIME_PART, data,
                        static_cast<DWORD>(length)) == NOERROR);
    data += length;
    size -= length;
  }
}

WORD BodyType(NOTEHANDLE note) {
  WORD type = 0;
  NSFItemInfo(note, "Body", 4, nullptr, &type, nullptr, nullptr);
  return type;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1)
    return 0;
  const std::filesystem::path temp =
      std::filesystem::temp_directory_path() / ("velko_mime_fuzz_" + std::to_string(getpid()));
  std::filesystem::remove_all(temp);
  std::filesystem::create_directories(temp);

  const DBHANDLE db = note_testing::ProcessDatabase(kDbPath);
  const size_t handles = HostTestLiveHandles();
  NOTEHANDLE note = NULLHANDLE;
  check(NSFNoteCreate(db, &note) == NOERROR);
  if ((data[0] & 1) == 0)
    check(MIMEStoreMessage(note, "Body", reinterpret_cast<const char*>(data + 1),
                           static_cast<DWORD>(size - 1)) == NOERROR);
  else
    StoreValues(note, data + 1, size - 1);
  const std::vector<note_testing::Bytes> before = note_testing::ItemValues(note, "Body");
  {
    auto* session = new LSXLsiSession;
    const std::string directory = temp.string() + "/";
    std::snprintf(session->internal->temp_directory, sizeof session->internal->temp_directory,
                  "%s", directory.c_str());
    session->internal->temp_directory_len = static_cast<WORD>(directory.size());
    auto* item = new VelkoRTItem(session);
    const STATUS status = ConvertFromMIMEBackend(item, note, "Body", "", 0, "", 0);
    if (status == NOERROR) {
      check(BodyType(note) == TYPE_COMPOSITE);
    } else {
      check(note_testing::ItemValues(note, "Body") == before);
      check(note_testing::AttachedFileNames(note).empty());
    }
    delete item;
    check(VelkoTrackedBlocksInUse(session) == 0);
    delete session;
  }
  NSFNoteClose(note);
  check(HostTestLiveHandles() == handles);
  check(std::filesystem::is_empty(temp));
  std::filesystem::remove_all(temp);
  return 0;
}
