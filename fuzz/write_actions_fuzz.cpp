/*
 * Fuzz target for the writing actions: one action code that rebuilds the
 * item (the appends, removals, property settings, table and paragraph
 * actions, the clean-up pass) with random parameters over a body loaded
 * from the fuzz bytes, through the chunk's AlterRichText.
 *
 * Input (words little-endian): bytes 0-1 the action code, taken as it is
 * when it writes, else as an index into the writing codes; byte 2 the
 * chunk's definition (from a list, or text 4 when bit 7 is set); bytes
 * 3-10 p1 to p4; byte 11: bits 0-1 how many items the body is split into
 * (1 to 3), bit 2 the chunk's append position (set: after the chunk),
 * bit 3 a compiled formula of text 2 waits in the session's result text,
 * bit 4 text 3 is an extra definition, bit 5 the item's AutoMergeText,
 * bits 6-7 the second chunk (none, the chunk itself, the first table, the
 * second paragraph); byte 12: bit 0 s1 null, bit 1 s2 null. Then five
 * NUL-ended texts (s1, s2, the formula's source, the extra definition, the
 * definition); the rest is the body's records.
 *
 * Actions that read or write files outside the note (imports of files,
 * attachments of files, HTML from a file, another note's item) are left
 * out: a fuzz input names no file of the machine's.
 *
 * Checked: an action that succeeds leaves a body that loads again
 * completely and that a reading walk goes through; one that fails leaves
 * the item's values byte for byte as they were; host handles and tracked
 * blocks are all given back.
 */
#include <stddef.h>
#include <stdint.h>
#include <string.h>

#include <algorithm>
#include <string>
#include <vector>

#include "cdbuild/cd_builder.h"
#include "fuzz/fuzz_support.h"
#include "host/host_testing.h"
#include "host/nsfdb.h"
#include "host/nsfnote.h"
#include "store/body.h"
#include "store/rtitem_internal.h"
#include "store/session.h"
#include "store/vocabulary.h"
#include "tests/support/note_fixture.h"
#include "velko/status.h"

namespace {

constexpr char kDbPath[] = "mem:writeactionsfuzz";
constexpr size_t kHeader = 13;
constexpr size_t kTexts = 5;
constexpr size_t kLongestFormula = 2000;

constexpr const char* kDefinitions[] = {
    "Everything", "Paragraph 2", "Text 1", "Table 1", "Table 1; Row 1", "Table 1; Row 2; Column 2",
    "Table 1; Row 1; Column 1", "Graphic 1", "Hotspot 1", "Section 1", "Layer 1", "Link 1",
    "Anchor 1", "Field 1", "Button 1", "Paragraph 1; Text 1", "Table 2",
    "Table 1; Table 1", "Inside Table 1", "Before Paragraph 2", "After Table 1",
};
constexpr size_t kDefinitionCount = sizeof kDefinitions / sizeof *kDefinitions;

/* Codes whose work reads or writes a file named by s1, or opens another
 * note by name. */
bool TouchesFiles(WORD action, WORD p1) {
  switch (action) {
  case ACTION_APPEND_IMPORT_FILE:
  case ACTION_APPEND_FILE_ATTACHMENT:
  case ACTION_EXPORT_GRAPHIC:
  case ACTION_APPEND_RTITEM:
    return true;
  case ACTION_APPEND_HTML:
    return p1 == 1;
  default:
    return false;
  }
}

/* Every code the driver counts as writing the item. */
const std::vector<WORD>& WritingCodes() {
  static const std::vector<WORD> codes = [] {
    std::vector<WORD> found;
    auto add = [&](WORD first, WORD last) {
      for (WORD code = first; code <= last; ++code)
        if (ActionWrites(code))
          found.push_back(code);
    };
    add(1, 70);
    add(2351, 2449);
    add(2801, 2821);
    return found;
  }();
  return codes;
}

WORD Word(const uint8_t* at) { return static_cast<WORD>(at[0] | (at[1] << 8)); }

struct write_input {
  WORD action = 0;
  WORD p[4] = {};
  BYTE definition = 0;
  BYTE options = 0;
  BYTE nulls = 0;
  std::string texts[kTexts]; /* s1, s2, formula, extra definition, definition */
  const uint8_t* body = nullptr;
  size_t body_size = 0;
};

bool Parse(const uint8_t* data, size_t size, write_input* input) {
  if (size < kHeader)
    return false;
  const std::vector<WORD>& codes = WritingCodes();
  const WORD code = Word(data);
  input->action = ActionWrites(code) ? code : codes[code % codes.size()];
  input->definition = data[2];
  for (int i = 0; i < 4; ++i)
    input->p[i] = Word(data + 3 + 2 * i);
  input->options = data[11];
  input->nulls = data[12];
  size_t at = kHeader;
  for (size_t text = 0; text < kTexts && at < size; ++text) {
    const void* end = memchr(data + at, 0, size - at);
    const size_t length =
        end != nullptr ? static_cast<const uint8_t*>(end) - (data + at) : size - at;
    input->texts[text].assign(reinterpret_cast<const char*>(data + at), length);
    at += length + 1;
  }
  if (at < size) {
    input->body = data + at;
    input->body_size = size - at;
  }
  return true;
}

/* A text argument as a caller hands it over: a length parameter counts
 * bytes the caller vouches for, NULs included, so the text is followed by
 * NULs up to the largest of the four parameters. */
std::string CallerText(const std::string& text, const WORD (&p)[4]) {
  size_t size = text.size();
  for (WORD value : p)
    size = std::max<size_t>(size, value);
  std::string padded = text;
  padded.resize(size, '\0');
  return padded;
}

/* The values of the body item, type words included. */
std::vector<note_testing::Bytes> BodyValues(NOTEHANDLE note) {
  return note_testing::ItemValues(note, "Body");
}

/* The stored body loads completely, and a reading walk over it ends well. */
void CheckStoredBody(LSXLsiSession* session, NOTEHANDLE note) {
  auto* reader = new VelkoRTItem(session);
  check(reader->ConnectBackend(note, "Body", 0) == NOERROR);
  body_context* loaded = StoreItemsAndRecords(reader, 0, 0, nullptr, 0, 0, NULLHANDLE, nullptr);
  check(loaded != nullptr && loaded->load_status == NOERROR);
  CleanupBodyContext(session, loaded);
  delete loaded;
  VelkoRTChunk* everything = reader->DefineChunk("Everything");
  check(everything != nullptr);
  const STATUS walked = everything->AlterRichText(ACTION_CONTAINS_SOMETHING, 0, 0, 0, 0, nullptr,
                                                  nullptr, nullptr, nullptr);
  check(walked == NOERROR);
  delete reader;
}

void Run(const write_input& input, LSXLsiSession* session, NOTEHANDLE note) {
  auto* item = new VelkoRTItem(session);
  if (item->ConnectBackend(note, "Body", 0) != NOERROR) {
    delete item;
    return;
  }
  item->AutoMergeText = (input.options >> 5) & 1;
  const char* definition = (input.definition & 0x80) != 0
                               ? input.texts[4].c_str()
                               : kDefinitions[input.definition % kDefinitionCount];
  VelkoRTChunk* chunk = item->DefineChunk(definition);
  if (chunk == nullptr) {
    delete item;
    return;
  }
  chunk->append_position = (input.options >> 2) & 1;
  VelkoRTChunk* other = nullptr;
  switch (input.options >> 6) {
  case 1:
    other = chunk;
    break;
  case 2:
    other = item->DefineChunk("Table 1");
    break;
  case 3:
    other = item->DefineChunk("Paragraph 2");
    break;
  default:
    break;
  }
  if ((input.options & 0x08) != 0) {
    const note_testing::Bytes compiled = cdbuild::CompiledFormula(
        std::string_view(input.texts[2]).substr(0, kLongestFormula));
    memcpy(session->result_text, compiled.data(), compiled.size());
    session->result_length = static_cast<WORD>(compiled.size());
  }

  const std::vector<note_testing::Bytes> before = BodyValues(note);
  const std::string first = CallerText(input.texts[0], input.p);
  const std::string second = CallerText(input.texts[1], input.p);
  const char* s1 = (input.nulls & 1) != 0 ? nullptr : first.c_str();
  const char* s2 = (input.nulls & 2) != 0 ? nullptr : second.c_str();
  const char* extra = (input.options & 0x10) != 0 ? input.texts[3].c_str() : nullptr;
  const STATUS status = chunk->AlterRichText(input.action, input.p[0], input.p[1], input.p[2],
                                             input.p[3], s1, s2, extra, other);
  delete item;
  check(VelkoTrackedBlocksInUse(session) == 0);
  if (status == NOERROR)
    CheckStoredBody(session, note);
  else
    check(BodyValues(note) == before);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  write_input input;
  if (!Parse(data, size, &input) || TouchesFiles(input.action, input.p[0]))
    return 0;
  const DBHANDLE db = note_testing::ProcessDatabase(kDbPath);
  const size_t handles = HostTestLiveHandles();

  NOTEHANDLE note = NULLHANDLE;
  check(NSFNoteCreate(db, &note) == NOERROR);
  const int pieces = 1 + (input.options & 3) % 3;
  AppendPieces(note, input.body != nullptr ? input.body : data, input.body_size, pieces);
  {
    auto* session = new LSXLsiSession;
    Run(input, session, note);
    delete session;
  }
  NSFNoteClose(note);
  check(HostTestLiveHandles() == handles);
  return 0;
}
