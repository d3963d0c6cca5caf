/*
 * Fuzz target for the chunk's queries over arbitrary stored bodies. The
 * first byte chooses the chunk's definition and how many items (1 to 3)
 * the rest is split into; each piece is stored as a TYPE_COMPOSITE value
 * of "Body" on a fresh note, as the body loader meets it.
 *
 * Every reading action runs over the chunk through AlterRichText (those
 * not built yet answer 1028), the whole-chunk queries with each parameter
 * they tell apart and every target type, then the query methods with
 * small buffers and every target type name. None may write the note. An
 * answer in the result text stays within its capacity and is
 * NUL-terminated; a cut text ends between whole characters. Host memory
 * and the session's tracked blocks must be back where they were.
 */
#include <stddef.h>
#include <stdint.h>

#include <cstring>

#include "fuzz/fuzz_support.h"
#include "host/host_testing.h"
#include "host/nls.h"
#include "host/nsfdb.h"
#include "host/nsfnote.h"
#include "store/session.h"
#include "store/vocabulary.h"
#include "velko/status.h"

namespace {

constexpr char kDbPath[] = "mem:queryfuzz";

/* The most bytes a query answer holds before its NUL. */
constexpr WORD kAnswerCapacity = 65341;

constexpr const char* kDefinitions[] = {
    "Everything", "Table 1",     "Table 1; Row 2", "Table *",   "Field 1",  "Section 1",
    "Graphic 1",  "HR 1",        "Layer 1",        "URLLink 1", "ImageMap 1", "GraphicHotspot 1",
    "Paragraph *", "Inside Table 1", "Hotspot 1",  "Text 2",
};

/* The reading actions of the chunk's properties and methods: action 1
 * with each of its questions, the property reads, and the whole-chunk
 * queries. */
constexpr WORD kReadActions[] = {7,  9,  12, 13, 14, 15, 16, 18, 20, 22, 24, 26, 27, 29, 31,
                                 33, 36, 39, 41, 43, 47, 50, 51, 52, 53, 66, 67, 2304, 2305,
                                 2601, 2368};
constexpr WORD kPositionQuestions[] = {PROP_EXISTS, PROP_FIRSTRECORD, PROP_LASTRECORD, 2427};

void CheckAnswer(const LSXLsiSession* session) {
  check(session->result_length <= kAnswerCapacity);
  check(session->result_text[session->result_length] == '\0');
}

void ClearAnswer(LSXLsiSession* session) {
  session->result_length = 0;
  session->result_text[0] = '\0';
}

void Run(VelkoRTChunk* chunk, WORD action, WORD p1, WORD p2, const char* s1) {
  ClearAnswer(chunk->session);
  const STATUS status = chunk->AlterRichText(action, p1, p2, 0, 0, s1, nullptr, nullptr, nullptr);
  (void)status; // any status: damaged bodies and unbuilt actions refuse
  CheckAnswer(chunk->session);
}

void RunActions(VelkoRTChunk* chunk) {
  for (WORD question : kPositionQuestions)
    Run(chunk, ACTION_QUERY_RECORDS, question, 0, nullptr);
  for (WORD action : kReadActions) {
    Run(chunk, action, action, 0, nullptr);
    Run(chunk, action, PROP_TEXT, 1, "|");
  }
  for (WORD side = 0; side <= 5; ++side)
    Run(chunk, ACTION_GET_CELL_BORDER, side, 0, nullptr);
  for (WORD part = 0; part <= 7; ++part)
    Run(chunk, ACTION_GET_HTML_VALUE, part, 0, nullptr);
  for (WORD id : {WORD{0}, WORD{1}, WORD{19}, WORD{28}, WORD{29}, WORD{40}})
    Run(chunk, ACTION_GET_TABLE_PROPERTIES, id, 0, nullptr);
  for (WORD type = 0; type < kTargetTypeCount; ++type)
    for (WORD id : {WORD{0}, WORD{8}, WORD{11}, WORD{12}, WORD{15}, WORD{17}})
      Run(chunk, ACTION_GET_TARGET_PROPERTIES, id, type, nullptr);
}

/* A cut text ends between whole characters: the bytes copied are a start
 * of the whole text that does not end inside a character. */
void CheckCut(const char* whole, DWORD wholeLength, const char* cut, DWORD copied, DWORD size) {
  check(copied < size && cut[copied] == '\0' && copied <= wholeLength);
  check(std::memcmp(whole, cut, copied) == 0);
  DWORD at = 0;
  while (at < copied) {
    WORD bytes = 1;
    if (NLS_string_bytes(reinterpret_cast<const BYTE*>(whole + at), 1, &bytes, nullptr) !=
            NLS_SUCCESS ||
        bytes == 0)
      bytes = 1;
    at += bytes;
  }
  check(at == copied);
}

void RunMethods(VelkoRTChunk* chunk) {
  LSXLsiSession* session = chunk->session;
  static char whole[VELKO_RESULT_TEXT_SIZE];
  char buffer[80];
  const DWORD all = chunk->GetText(nullptr, whole, sizeof whole, 1, "|");
  for (DWORD size : {DWORD{0}, DWORD{1}, DWORD{2}, DWORD{5}, DWORD{sizeof buffer}}) {
    const DWORD copied = chunk->GetText(nullptr, buffer, size, 1, "|");
    if (size == 0)
      check(copied == 0 && chunk->status == VELKO_ERR_INVALID_ARGUMENT);
    else
      CheckCut(whole, all, buffer, copied, size);
  }
  for (const char* side : {static_cast<const char*>(nullptr), "Left", "r", "T", "bottom", "x"}) {
    chunk->GetCellBorder(side);
    CheckAnswer(session);
  }
  for (const char* name : {"Name", "id", "CLASS", "Style", "title", "other", "href"}) {
    chunk->GetHTMLValue(name, "Cell");
    CheckAnswer(session);
  }
  for (const char* property : {static_cast<const char*>(nullptr), "TableName", "TableWidth", "x"}) {
    chunk->GetTableProperties(property);
    CheckAnswer(session);
  }
  for (WORD type = 0; type < kTargetTypeCount; ++type) {
    for (const char* property : {static_cast<const char*>(nullptr), "Width", "Fieldname",
                                 "Target", "SectionHTMLId"}) {
      chunk->GetTargetProperties(targettype_name_table[type], property);
      CheckAnswer(session);
    }
  }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1)
    return 0;
  const DBHANDLE db = note_testing::ProcessDatabase(kDbPath);
  const size_t handles = HostTestLiveHandles();
  const int options = data[0];
  const int pieces = 1 + (options >> 4) % 3;
  const char* definition = kDefinitions[options % (sizeof kDefinitions / sizeof *kDefinitions)];

  NOTEHANDLE note = NULLHANDLE;
  check(NSFNoteCreate(db, &note) == NOERROR);
  AppendPieces(note, data + 1, size - 1, pieces);
  const auto stored = note_testing::ItemValues(note, "Body");
  {
    auto* session = new LSXLsiSession;
    auto* item = new VelkoRTItem(session);
    if (item->ConnectBackend(note, "Body", 0) == NOERROR) {
      VelkoRTChunk* chunk = item->DefineChunk(definition);
      check(chunk != nullptr);
      RunActions(chunk);
      RunMethods(chunk);
    }
    delete item;
    check(VelkoTrackedBlocksInUse(session) == 0);
    delete session;
  }
  check(note_testing::ItemValues(note, "Body") == stored);
  NSFNoteClose(note);
  check(HostTestLiveHandles() == handles);
  return 0;
}
