/*
 * Fuzz target for the built-in text import (GenerateCDRecordsFromTextFile
 * through VelkoRTChunk::AppendImportFile with "Velko" options): fuzzed
 * bytes as a text file appended after a body of one paragraph.
 *
 * Input: bytes 0 and 1 are the line length (little-endian; 0 leaves
 * "LineLength=" out); the rest is the file.
 *
 * Checked: the import succeeds; the stored body loads completely and a
 * reading walk goes through it; every imported text record holds at most
 * the line length (132 for 0 and for lengths above 32000), or a single
 * character; for a file of ASCII bytes (which is taken as it is) the
 * imported texts hold the file's bytes in order, less the line ends;
 * host handles and tracked blocks are all given back.
 */
#include <stddef.h>
#include <stdint.h>
#include <stdio.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "fuzz/fuzz_support.h"
#include "host/cdrecords.h"
#include "host/host_testing.h"
#include "host/nls.h"
#include "host/nsfdb.h"
#include "host/nsfnote.h"
#include "store/body.h"
#include "store/rtitem_internal.h"
#include "store/session.h"
#include "store/tracked_memory.h"
#include "store/vocabulary.h"
#include "tests/support/note_fixture.h"

namespace {

constexpr char kDbPath[] = "mem:textimportfuzz";
constexpr size_t kHeader = 2;
constexpr WORD kDefaultLineLength = 132;
constexpr WORD kLongestLine = 32000;

std::string WithoutLineEnds(const std::string& text) {
  std::string kept;
  for (char c : text)
    if (c != '\r' && c != '\n')
      kept.push_back(c);
  return kept;
}

/* The texts of the stored body's text records after its first one (the
 * body's own). */
std::vector<std::string> ImportedTexts(LSXLsiSession* session, NOTEHANDLE note) {
  auto* reader = new VelkoRTItem(session);
  check(reader->ConnectBackend(note, "Body", 0) == NOERROR);
  body_context* loaded = StoreItemsAndRecords(reader, 0, 0, nullptr, 0, 0, NULLHANDLE, nullptr);
  check(loaded != nullptr && loaded->load_status == NOERROR);
  std::vector<std::string> texts;
  bool first = true;
  for (record_storage* node = loaded->records; node != nullptr; node = node->next) {
    if (node->signature != SIG_CD_TEXT)
      continue;
    check(node->length >= sizeof(CDTEXT));
    if (!first)
      texts.emplace_back(node->data + sizeof(CDTEXT), node->length - sizeof(CDTEXT));
    first = false;
  }
  CleanupBodyContext(session, loaded);
  delete loaded;
  VelkoRTChunk* everything = reader->DefineChunk("Everything");
  check(everything != nullptr);
  check(everything->AlterRichText(ACTION_CONTAINS_SOMETHING, 0, 0, 0, 0, nullptr, nullptr,
                                  nullptr, nullptr) == NOERROR);
  delete reader;
  return texts;
}

void Run(const std::string& path, const std::string& options, WORD lineLength,
         const std::string& file, LSXLsiSession* session, NOTEHANDLE note) {
  auto* item = new VelkoRTItem(session);
  check(item->ConnectBackend(note, "Body", 0) == NOERROR);
  VelkoRTChunk* chunk = item->DefineChunk("Everything");
  check(chunk != nullptr);
  check(chunk->AppendImportFile(path.c_str(), options.c_str()) == NOERROR);
  delete item;
  check(VelkoTrackedBlocksInUse(session) == 0);

  std::string joined;
  for (const std::string& text : ImportedTexts(session, note)) {
    WORD characters = 0;
    NLS_string_chars(reinterpret_cast<const BYTE*>(text.data()), static_cast<WORD>(text.size()),
                     &characters, nullptr);
    check(text.size() <= lineLength || characters == 1);
    joined += text;
  }
  bool ascii = true;
  for (unsigned char c : file)
    ascii = ascii && c < 0x80;
  if (ascii)
    check(WithoutLineEnds(joined) == WithoutLineEnds(file));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < kHeader)
    return 0;
  const WORD given = static_cast<WORD>(data[0] | data[1] << 8);
  std::string options = "Velko";
  if (given != 0)
    options += " LineLength=" + std::to_string(given);
  const WORD lineLength = given == 0 || given > kLongestLine ? kDefaultLineLength : given;
  const std::string file(reinterpret_cast<const char*>(data + kHeader), size - kHeader);
  const std::string path = "/tmp/velko_text_import_fuzz_" + std::to_string(getpid()) + ".txt";
  FILE* out = fopen(path.c_str(), "wb");
  check(out != nullptr);
  check(fwrite(file.data(), 1, file.size(), out) == file.size());
  check(fclose(out) == 0);

  const DBHANDLE db = note_testing::ProcessDatabase(kDbPath);
  const size_t handles = HostTestLiveHandles();
  NOTEHANDLE note = NULLHANDLE;
  check(NSFNoteCreate(db, &note) == NOERROR);
  const note_testing::Bytes body = note_testing::Records(
      {note_testing::DefaultDefinition(1),
       cdbuild::PabRef(1), cdbuild::Text("x", {.face = 1, .size = 10})});
  check(note_testing::AppendRecords(note, "Body", body) == NOERROR);
  {
    auto* session = new LSXLsiSession;
    Run(path, options, lineLength, file, session, note);
    delete session;
  }
  NSFNoteClose(note);
  remove(path.c_str());
  check(HostTestLiveHandles() == handles);
  return 0;
}
