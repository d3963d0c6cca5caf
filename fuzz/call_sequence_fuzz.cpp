/*
 * Fuzz target for sequences of calls on one item: up to 20 calls through
 * four chunk slots (the default chunk, tables, rows, cells, paragraphs,
 * sections, text, hotspots, sub-chunks, zoomed chunks and chunks found by
 * name or text). The calls edit, read, step, render (the output callback
 * reading another chunk while the render runs), copy from the stored note,
 * Commit and Save, reconnect, CleanupTraces, delete chunks, the item and
 * the note's body while chunks remain. The same sequence runs twice on a
 * fresh stored note, once with the item's records cached and once not.
 *
 * Input: byte 0: bits 0-1 how many items the body is split into (1 to 3),
 * bit 2 the item's AutoMergeText; byte 1 the number of calls (at most 20);
 * then 4 bytes a call: the call (kCalls), the slots (bits 0-1 the chunk,
 * bits 2-3 the other chunk, bits 4-7 a small number), two parameters.
 * Then four NUL-ended texts (each cut to kLongestText); the rest is the
 * body's records (cut to kLongestBody).
 *
 * Checked after every call: a chunk method that ran returns its status
 * word; a read, or a call that fails, leaves the item as it was (the
 * stored values, and the loaded records while they stay loaded); the
 * stored body, each time it changed (or at once, when it loaded whole to
 * begin with), loads whole, walks and renders as well-formed XHTML. At
 * the end: every tracked block and host handle is given back, and the
 * cached and uncached runs gave the same statuses and answers and left
 * the same stored body, up to a call after which they may rightly differ
 * (a reconnect, clean-up or item deletion that drops uncommitted records,
 * the body deleted under the item). The uncached run commits before Save,
 * which commits only cached records; the statuses of commits of a body
 * that did not load whole are not compared (Save drops such records only
 * when they are cached).
 */
#include <stddef.h>
#include <stdint.h>
#include <string.h>

#include <string>
#include <vector>

#include "fuzz/fuzz_support.h"
#include "fuzz/rendered_xhtml.h"
#include "fuzz/stored_body_checks.h"
#include "host/host_testing.h"
#include "host/nsfdb.h"
#include "host/nsfnote.h"
#include "store/body.h"
#include "store/rtitem_internal.h"
#include "store/session.h"
#include "tests/support/note_fixture.h"
#include "velko/status.h"
#include "velko/velko.h"

namespace {

constexpr char kDbPath[] = "mem:callsequencefuzz";
constexpr size_t kHeader = 2;
constexpr size_t kMostCalls = 20;
constexpr size_t kCallBytes = 4;
constexpr size_t kTexts = 4;
constexpr size_t kLongestText = 64;
constexpr size_t kLongestBody = 8192;
constexpr size_t kSlots = 4;
/* Reads the output callback makes during one render. */
constexpr int kReadsPerRender = 3;

constexpr const char* kDefinitions[] = {
    "Everything",     "Table 1",          "Table 1; Row 2",       "Table 1; Row 1; Column 2",
    "Paragraph 2",    "Section 1",        "Text 1",               "Hotspot 1",
    "Table 2",        "Paragraph 1; Text 1", "Inside Table 1",    "After Table 1",
    "Graphic 1",      "Field 1",          "Before Paragraph 2",   "Table 1; Table 1",
};
constexpr const char* kSubDefinitions[] = {
    "Row 1", "Column 2", "Text 1", "Paragraph 1", "Table 1", "Row 2; Column 1", "Text 'a' 1",
    "Section 1",
};
constexpr const char* kCounted[] = {"Paragraph", "Table", "Row", "Column", "Text", "Section",
                                    "Table 1; Row", "Hotspot"};
constexpr const char* kFonts[] = {"+BOLD", "RED +ITALIC", "Courier 9pt", "-SHADOW", "14pt", ""};
constexpr const char* kParagraphStyles[] = {"Center", "LEFTMARGIN=2 +HIDE_READ", "Justify=RIGHT",
                                            "Tabs=1,2 DOUBLE", "+BULLET"};
constexpr const char* kTableProperties[] = {"Width=1in", "Border=1", "CellSpacing=2",
                                            "RowLabels=Yes"};
constexpr const char* kReplaceOptions[] = {"TEXT", "NONTEXT", "EVERYTHING", "URL HIDEWHEN"};
constexpr const char* kGenerations[] = {"XHTML 1.0", "HTML 4.01", "Plain Text", "Fragment"};
constexpr const char* kTargetTypes[] = {"Table", "Button", "Layer", "Section"};
constexpr const char* kFindModes[] = {"SUBSTR", "EXACT", "STARTS", "ENDS"};
constexpr const char* kHotspotKinds[] = {"Popup", "Action", "Button", "ComputedText"};
constexpr const char* kTargetRecords[] = {"Table", "Paragraph", "Text", "Hotspot"};

template <typename T, size_t N> const T& Pick(const T (&list)[N], unsigned index) {
  return list[index % N];
}

/* The calls byte 0 of a call picks. */
enum call_code : BYTE {
  kDefine,
  kDefault,
  kSubChunk,
  kZoomIn,
  kZoomOut,
  kStep,
  kCount,
  kExists,
  kGetText,
  kFindNamed,
  kFindText,
  kRender,
  kProperties,
  kAppendText,
  kAppendBreaks,
  kAppendParagraph,
  kAppendTable,
  kAppendRow,
  kAppendHotspot,
  kChangeFont,
  kChangeParagraph,
  kChangeTable,
  kRemove,
  kRemoveParts,
  kReplaceText,
  kSetText,
  kSortRows,
  kHighlight,
  kCopyItem,
  kCopyChunk,
  kCommit,
  kSave,
  kReconnect,
  kCleanupTraces,
  kDeleteChunk,
  kDeleteItem,
  kDeleteBody,
  kCalls
};

/* The chunk methods from kAppendText to kCopyChunk report their status in
 * the chunk's status word, unless they refuse their arguments without
 * running: the word then keeps what it held, here a value no call gives. */
constexpr WORD kStatusUnset = 0x7FFE;

bool SetsStatusWord(BYTE code) { return code >= kAppendText && code <= kCopyChunk; }

struct call {
  BYTE code;
  BYTE slots;
  BYTE a;
  BYTE b;
  unsigned chunk() const { return slots & 3; }
  unsigned other() const { return (slots >> 2) & 3; }
  unsigned small() const { return slots >> 4; }
};

struct sequence_input {
  int pieces = 1;
  bool merge = false;
  std::vector<call> calls;
  std::string texts[kTexts];
  const uint8_t* body = nullptr;
  size_t body_size = 0;
};

bool Parse(const uint8_t* data, size_t size, sequence_input* input) {
  if (size < kHeader)
    return false;
  input->pieces = 1 + (data[0] & 3) % 3;
  input->merge = (data[0] & 4) != 0;
  size_t at = kHeader;
  for (size_t n = data[1] % (kMostCalls + 1); n > 0 && at + kCallBytes <= size; --n) {
    input->calls.push_back({static_cast<BYTE>(data[at] % kCalls), data[at + 1], data[at + 2],
                            data[at + 3]});
    at += kCallBytes;
  }
  for (std::string& text : input->texts) {
    if (at >= size)
      break;
    const void* end = memchr(data + at, 0, size - at);
    const size_t length =
        end != nullptr ? static_cast<const uint8_t*>(end) - (data + at) : size - at;
    text.assign(reinterpret_cast<const char*>(data + at), length < kLongestText ? length
                                                                               : kLongestText);
    at += length + 1;
  }
  if (at < size) {
    input->body = data + at;
    input->body_size = size - at < kLongestBody ? size - at : kLongestBody;
  }
  return true;
}

/* The item as a call may change it: the stored values of its body, and
 * its loaded records (each record's signature and bytes) when loaded. */
struct item_snapshot {
  std::vector<note_testing::Bytes> stored;
  bool loaded = false;
  std::string records;
};

item_snapshot Snapshot(NOTEHANDLE note, const VelkoRTItem* item) {
  item_snapshot snapshot;
  snapshot.stored = note_testing::ItemValues(note, "Body");
  const body_context* input =
      item != nullptr && item->internal != nullptr ? item->internal->input : nullptr;
  if (input == nullptr)
    return snapshot;
  snapshot.loaded = true;
  for (const record_storage* node = input->records; node != nullptr; node = node->next) {
    snapshot.records.append(reinterpret_cast<const char*>(&node->signature),
                            sizeof node->signature);
    snapshot.records.append(reinterpret_cast<const char*>(&node->length), sizeof node->length);
    if (node->data != nullptr)
      snapshot.records.append(node->data, node->length);
  }
  return snapshot;
}

/* The item is as it was: the same stored values, and loaded records that
 * stay loaded and the same. */
void CheckUnchanged(const item_snapshot& before, const item_snapshot& after) {
  check(after.stored == before.stored);
  if (before.loaded) {
    check(after.loaded);
    check(after.records == before.records);
  }
}

/* What one call did, for the checks and the comparison of the runs. */
enum call_kind {
  kReads,     /* leaves the item as it was */
  kWrites,    /* leaves it as it was when it fails */
  kItemWork,  /* Commit and Save: the stored values kept on failure */
  kUnchecked, /* connecting, cleaning up, deleting */
};

struct call_result {
  call_kind kind = kReads;
  bool ran = false;
  STATUS status = NOERROR;
  bool commits = false;     /* Commit or Save: the status is a commit's */
  std::string answer;
};

/* The reads the output callback makes on another chunk while the render
 * runs, and the pieces of output and the answers of the reads in order. */
struct render_reads {
  VelkoRTChunk* other = nullptr;
  unsigned kind = 0;
  int left = 0;
  std::string answers;
};
render_reads reads_during_render;

std::string ReadChunk(VelkoRTChunk* chunk, unsigned kind) {
  switch (kind % 4) {
  case 0: {
    char text[512];
    const DWORD length = chunk->GetText(nullptr, text, sizeof text, 0, nullptr);
    check(length < sizeof text);
    return std::string(text, length) + "/" + std::to_string(chunk->status);
  }
  case 1:
    return std::to_string(chunk->GetCount("Paragraph"));
  case 2:
    return std::to_string(chunk->Exists());
  default: {
    const char* properties = chunk->GetTableProperties(nullptr);
    return properties != nullptr ? std::string(properties) : "-";
  }
  }
}

WORD ReadAnotherChunk(VelkoRTChunk* chunk, const char* text, WORD length) {
  check(length == 0 || text != nullptr);
  render_reads& reads = reads_during_render;
  if (length > 0)
    reads.answers.append(text, length);
  if (reads.other == nullptr || reads.other == chunk || reads.left == 0)
    return 0;
  --reads.left;
  reads.answers += '[';
  reads.answers += ReadChunk(reads.other, reads.kind);
  reads.answers += ']';
  return 0;
}

/* One run of the sequence on a note of its own. */
class sequence_run {
public:
  sequence_run(const sequence_input& input, bool cached, LSXLsiSession* checks)
      : input_(input), cached_(cached), checks_(checks) {}

  void Run(DBHANDLE db);

  /* Statuses and answers of the calls while the runs are comparable, and
   * the stored body at the end (when they still were). */
  std::vector<std::string> transcript;
  bool comparable = true;
  std::vector<note_testing::Bytes> final_values;

private:
  call_result Call(const call& c);
  void Connect(int create, call_result* result);
  void DropDeletedChunks();
  void CheckChangedStoredBody();
  VelkoRTChunk* Chunk(unsigned slot) const { return slots_[slot]; }
  const std::string& Text(unsigned index) const { return input_.texts[index % kTexts]; }
  void Keep(unsigned slot, VelkoRTChunk* chunk, call_result* result);
  std::string CommitStatus(STATUS status) const;

  const sequence_input& input_;
  const bool cached_;
  LSXLsiSession* const checks_;
  LSXLsiSession* session_ = nullptr;
  NOTEHANDLE note_ = NULLHANDLE;
  NOTEID note_id_ = 0;
  VelkoRTItem* item_ = nullptr;
  VelkoRTChunk* slots_[kSlots] = {};
  bool whole_at_start_ = false;
  std::vector<note_testing::Bytes> initial_values_;
  std::vector<note_testing::Bytes> checked_values_;
};

void sequence_run::Connect(int create, call_result* result) {
  if (item_ == nullptr) {
    item_ = new VelkoRTItem(session_);
    item_->CacheRecords = cached_ ? 1 : 0;
    item_->AutoMergeText = input_.merge ? 1 : 0;
  }
  result->ran = true;
  result->status = item_->ConnectBackend(note_, "Body", create);
}

/* Chunks a clean-up or an item deletion took away leave their slots. */
void sequence_run::DropDeletedChunks() {
  for (VelkoRTChunk*& slot : slots_) {
    bool alive = false;
    for (const VelkoRTChunk* chunk = session_->chunks; chunk != nullptr; chunk = chunk->next)
      alive = alive || chunk == slot;
    if (!alive)
      slot = nullptr;
  }
}

/* A commit's status as the runs compare it. A body that did not load
 * whole cannot be committed; Save commits it only when records are cached,
 * and then drops them, so the runs rightly differ in those statuses. */
std::string sequence_run::CommitStatus(STATUS status) const {
  return whole_at_start_ ? std::to_string(status) : "?";
}

void sequence_run::Keep(unsigned slot, VelkoRTChunk* chunk, call_result* result) {
  result->answer += chunk != nullptr ? chunk->definition : "null";
  if (chunk != nullptr)
    slots_[slot] = chunk;
}

call_result sequence_run::Call(const call& c) {
  call_result result;
  VelkoRTChunk* chunk = Chunk(c.chunk());
  VelkoRTChunk* other = Chunk(c.other());
  const std::string& text = Text(c.a);
  const std::string& second = Text(c.b);
  const WORD textLength = static_cast<WORD>(text.size());
  // Calls on the item need one; calls on a chunk need one in the slot.
  const bool onItem = c.code == kDefine || c.code == kDefault || c.code == kCommit ||
                      c.code == kSave || c.code == kCleanupTraces || c.code == kDeleteItem;
  if (onItem && item_ == nullptr)
    return result;
  const bool needsChunk = c.code != kDefine && c.code != kDefault && c.code != kCommit &&
                          c.code != kSave && c.code != kReconnect && c.code != kCleanupTraces &&
                          c.code != kDeleteItem && c.code != kDeleteBody;
  if (needsChunk && chunk == nullptr)
    return result;
  result.ran = true;
  result.kind = kWrites;
  switch (c.code) {
  case kDefine:
    result.kind = kReads;
    Keep(c.chunk(), item_->DefineChunk((c.a & 0x80) != 0 ? text.c_str()
                                                         : Pick(kDefinitions, c.b)),
         &result);
    break;
  case kDefault:
    result.kind = kReads;
    Keep(c.chunk(), item_->default_chunk, &result);
    break;
  case kSubChunk:
    result.kind = kReads;
    Keep(c.other(), chunk->DefineSubChunk((c.a & 0x80) != 0 ? text.c_str()
                                                            : Pick(kSubDefinitions, c.b)),
         &result);
    break;
  case kZoomIn:
    result.kind = kReads;
    result.answer = std::to_string(chunk->ZoomIn(Pick(kSubDefinitions, c.b)));
    break;
  case kZoomOut:
    result.kind = kReads;
    chunk->ZoomOut();
    break;
  case kStep:
    result.kind = kReads;
    result.answer = std::to_string(c.a % 3 == 0   ? chunk->GetNextTarget()
                                   : c.a % 3 == 1 ? chunk->GetPreviousTarget()
                                                  : chunk->GetLastTarget());
    break;
  case kCount:
    result.kind = kReads;
    result.answer = std::to_string(chunk->GetCount(Pick(kCounted, c.b)));
    break;
  case kExists:
    result.kind = kReads;
    result.answer = std::to_string(chunk->Exists());
    break;
  case kGetText:
    result.kind = kReads;
    result.answer = ReadChunk(chunk, 0);
    break;
  case kFindNamed:
  case kFindText: {
    result.kind = kReads;
    const WORD found =
        c.code == kFindNamed
            ? chunk->FindNamedChunk(c.small() & 1, Pick(kTargetTypes, c.b), text.c_str(),
                                    textLength, Pick(kFindModes, c.b >> 2), nullptr)
            : chunk->FindTextChunk(c.small() & 1, text.c_str(), textLength,
                                   Pick(kFindModes, c.b >> 2), Pick(kFonts, c.b >> 4));
    result.answer = std::to_string(found) + " ";
    if (found != 0 && item_ != nullptr) {
      const std::string definition =
          (c.code == kFindNamed ? std::string(Pick(kTargetTypes, c.b)) : std::string("Text")) +
          " " + std::to_string(found);
      Keep(c.other(), item_->DefineChunk(definition.c_str()), &result);
    }
    break;
  }
  case kRender: {
    result.kind = kReads;
    reads_during_render = {other, c.b, kReadsPerRender, {}};
    // OutputToEvent= hands the output to the callback in small pieces
    // while the walk goes on.
    const std::string options = FuzzOutputOptions() +
                                ((c.a & 0x40) != 0 ? " OutputToEvent=1 " : " ") +
                                ((c.a & 1) != 0 ? text : "");
    char* html = chunk->GenerateHTML((c.a & 2) != 0 ? "Table 1" : nullptr,
                                     Pick(kGenerations, c.a >> 2), options.c_str(), 0,
                                     ReadAnotherChunk, nullptr);
    reads_during_render.other = nullptr;
    result.status = chunk->status;
    result.answer = reads_during_render.answers;
    if (html != nullptr) {
      result.answer.append(html, chunk->session->render_result_length);
      VelkoDeallocatePtr(chunk->session, html);
    }
    break;
  }
  case kProperties: {
    result.kind = kReads;
    const char* answer = (c.a & 1) != 0 ? chunk->GetCellBorder(nullptr)
                                        : chunk->GetTargetProperties(
                                              Pick(kTargetRecords, c.b), nullptr);
    result.answer = answer != nullptr ? answer : "-";
    break;
  }
  case kAppendText:
    result.status = chunk->AppendText(text.c_str(), textLength, Pick(kFonts, c.b));
    break;
  case kAppendBreaks:
    result.status = (c.a & 1) != 0 ? chunk->AppendNewLines(c.b % 4, c.small() & 1)
                                   : chunk->AppendTabs(c.b % 4);
    break;
  case kAppendParagraph:
    result.status = chunk->AppendParagraph(Pick(kParagraphStyles, c.b), nullptr, nullptr, 0);
    break;
  case kAppendTable:
    result.status = chunk->AppendTable(c.a % 4, c.b % 4, c.small() & 1, nullptr, nullptr);
    break;
  case kAppendRow:
    result.status = chunk->AppendRow(c.small() & 1, c.b % 4, nullptr);
    break;
  case kAppendHotspot:
    result.status = chunk->AppendHotspot(Pick(kHotspotKinds, c.b), "@True", 5, "",
                                         text.c_str(), textLength);
    break;
  case kChangeFont:
    result.status = chunk->ChangeFont((c.a & 0x80) != 0 ? text.c_str() : Pick(kFonts, c.b),
                                      nullptr, c.small() & 1);
    break;
  case kChangeParagraph:
    result.status = chunk->ChangeParagraph(
        (c.a & 0x80) != 0 ? text.c_str() : Pick(kParagraphStyles, c.b), nullptr, c.small() & 3);
    break;
  case kChangeTable: {
    const char* properties = (c.a & 0x80) != 0 ? text.c_str() : Pick(kTableProperties, c.b);
    result.status = chunk->ChangeTable(properties, static_cast<WORD>(strlen(properties)));
    break;
  }
  case kRemove:
    result.status = chunk->Remove();
    break;
  case kRemoveParts:
    result.status = c.b % 3 == 0   ? chunk->RemoveSections()
                    : c.b % 3 == 1 ? chunk->RemoveHotspots()
                                   : chunk->RemoveLinks(c.small() & 1);
    break;
  case kReplaceText:
    result.status = chunk->ReplaceTextQuick(text.c_str(), textLength, second.c_str(),
                                            static_cast<WORD>(second.size()),
                                            Pick(kReplaceOptions, c.small()));
    break;
  case kSetText:
    result.status = chunk->SetText(Pick(kSubDefinitions, c.b), text.c_str(), textLength,
                                   Pick(kFonts, c.small()));
    break;
  case kSortRows:
    result.status = chunk->SortByRow(1 + c.b % 3, c.small() & 1, (c.small() >> 1) & 1,
                                     (c.small() >> 2) & 1, (c.a & 1) != 0 ? "TitleRows=0"
                                                                          : nullptr);
    break;
  case kHighlight:
    // HighlightText's length counts characters; 0 takes the whole text.
    result.status = (c.a & 1) != 0 ? chunk->HighlightText(text.c_str(), 0)
                                    : chunk->Highlight(c.small() & 1);
    break;
  case kCopyItem:
    result.status = chunk->AppendRTItem("", kDbPath, note_id_, "Body");
    break;
  case kCopyChunk:
    result.status = chunk->AppendRTChunk("", kDbPath, note_id_, "Body", Pick(kDefinitions, c.b),
                                         c.small() & 1);
    break;
  case kCommit:
    result.kind = kItemWork;
    result.commits = true;
    result.status = item_->Commit();
    break;
  case kSave:
    result.kind = kItemWork;
    result.commits = true;
    // Save commits cached records first; without a cache the records a
    // read loaded are committed by hand, as a caller would, so that both
    // runs write the same body (an empty one removes the item).
    result.status = cached_ ? NOERROR : item_->Commit();
    if (result.status == NOERROR)
      result.status = item_->Save();
    break;
  case kReconnect:
  case kCleanupTraces:
  case kDeleteItem:
    result.kind = kUnchecked;
    // Records not committed yet are dropped, in the cached run alone,
    // unless they are committed first.
    if (item_ != nullptr && (c.small() & 1) != 0) {
      result.answer = CommitStatus(item_->Commit());
    } else if (item_ != nullptr) {
      comparable = false;
    }
    if (c.code == kReconnect) {
      Connect(c.b & 1, &result);
    } else if (c.code == kCleanupTraces) {
      item_->CleanupTraces();
    } else {
      delete item_;
      item_ = nullptr;
    }
    DropDeletedChunks();
    break;
  case kDeleteChunk:
    result.kind = kUnchecked;
    // The item's own default chunk stays: the item refers to it.
    if (item_ != nullptr && chunk == item_->default_chunk) {
      result.ran = false;
      break;
    }
    for (VelkoRTChunk*& slot : slots_) {
      if (slot == chunk)
        slot = nullptr;
    }
    delete chunk;
    break;
  case kDeleteBody:
    result.kind = kUnchecked;
    // A commit then writes the loaded records back, which only the cached
    // run may still hold.
    comparable = false;
    result.status = NSFItemDelete(note_, "Body", 4);
    break;
  default:
    result.ran = false;
    break;
  }
  return result;
}

/* The stored body, when it changed since it was last checked, loads
 * whole, walks and renders as well-formed XHTML; one that did not load
 * whole to begin with is checked only once it changed. */
void sequence_run::CheckChangedStoredBody() {
  std::vector<note_testing::Bytes> values = note_testing::ItemValues(note_, "Body");
  if (values.empty() || values == checked_values_)
    return;
  if (!whole_at_start_ && values == initial_values_)
    return;
  CheckStoredBody(checks_, note_);
  auto* reader = new VelkoRTItem(checks_);
  check(reader->ConnectBackend(note_, "Body", 0) == NOERROR);
  VelkoRTChunk* everything = reader->DefineChunk("Everything");
  check(everything != nullptr);
  const std::string options = FuzzOutputOptions() + " SkipPassthru=Yes";
  char* html = everything->GenerateHTML(nullptr, "XHTML 1.0", options.c_str(), 0, nullptr,
                                        nullptr);
  check(html != nullptr && everything->status == NOERROR);
  check(WellFormedXhtml(std::string(html, checks_->render_result_length)));
  VelkoDeallocatePtr(checks_, html);
  delete reader;
  check(VelkoTrackedBlocksInUse(checks_) == 0);
  checked_values_ = std::move(values);
}

void sequence_run::Run(DBHANDLE db) {
  note_id_ = StoreFuzzNote(db, input_.body, input_.body_size, input_.pieces, [](NOTEHANDLE) {});
  check(NSFNoteOpen(db, note_id_, 0, &note_) == NOERROR);
  session_ = new LSXLsiSession;
  initial_values_ = note_testing::ItemValues(note_, "Body");
  whole_at_start_ = StoredBodyLoadsWhole(checks_, note_);
  checked_values_ = initial_values_;
  call_result connected;
  Connect(0, &connected);
  transcript.push_back("connect " + std::to_string(connected.status));
  slots_[0] = item_->default_chunk;

  for (const call& c : input_.calls) {
    const item_snapshot before = Snapshot(note_, item_);
    VelkoRTChunk* const target = SetsStatusWord(c.code) ? Chunk(c.chunk()) : nullptr;
    const WORD previous = target != nullptr ? target->status : 0;
    if (target != nullptr)
      target->status = kStatusUnset;
    const call_result result = Call(c);
    // A chunk method that ran leaves its status in the status word.
    if (target != nullptr) {
      check(target->status == result.status || target->status == kStatusUnset);
      if (target->status == kStatusUnset)
        target->status = previous;
    }
    if (!result.ran) {
      if (comparable)
        transcript.push_back("-");
      continue;
    }
    const bool failed = result.status != NOERROR;
    if (result.kind == kReads || (result.kind == kWrites && failed))
      CheckUnchanged(before, Snapshot(note_, item_));
    else if (result.kind == kItemWork && failed)
      check(note_testing::ItemValues(note_, "Body") == before.stored);
    CheckChangedStoredBody();
    if (comparable)
      transcript.push_back(std::to_string(c.code) + " " +
                           (result.commits ? CommitStatus(result.status)
                                           : std::to_string(result.status)) +
                           " " +
                           result.answer);
  }

  if (item_ != nullptr) {
    const STATUS committed = item_->Commit();
    if (comparable)
      transcript.push_back("commit " + CommitStatus(committed));
    CheckChangedStoredBody();
    delete item_;
    item_ = nullptr;
  }
  if (comparable)
    final_values = note_testing::ItemValues(note_, "Body");
  check(VelkoTrackedBlocksInUse(session_) == 0);
  delete session_;
  NSFNoteClose(note_);
  check(NSFNoteDelete(db, note_id_, UPDATE_FORCE) == NOERROR);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  sequence_input input;
  if (!Parse(data, size, &input))
    return 0;
  QuietFuzzHostInOutputDirectory();
  const DBHANDLE db = note_testing::ProcessDatabase(kDbPath);
  const size_t handles = HostTestLiveHandles();
  auto* checks = new LSXLsiSession;
  sequence_run cached(input, true, checks);
  cached.Run(db);
  sequence_run uncached(input, false, checks);
  uncached.Run(db);
  delete checks;
  check(cached.comparable == uncached.comparable);
  check(cached.transcript == uncached.transcript);
  check(cached.final_values == uncached.final_values);
  EmptyFuzzOutputDirectory();
  check(HostTestLiveHandles() == handles);
  HostTestClearLog();
  HostTestClearMessages();
  return 0;
}
