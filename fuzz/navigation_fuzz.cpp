/*
 * Fuzz target for navigation: well-formed bodies built from the fuzz bytes
 * and a definition of one to three Contains clauses, whose targets are
 * counted, stepped through and found in every way the chunk offers; the
 * answers must agree.
 *
 * Input: byte 0 picks how many clauses the definition has (1 to 3, the
 * last one counted); then per clause two bytes (its target type and its
 * index, 1 to 3; the clauses before the last name targets that hold other
 * records or are one record, and a row or column follows a table); the
 * rest builds the body: each byte picks the next element (paragraphs with
 * definitions, text runs in three fonts, tables up to 3 x 3 with merged
 * cells and tables nested in cells, sections nested in sections, layers,
 * link, action and popup hotspots, buttons, document links, anchors,
 * fields, graphics), at most 160 records.
 *
 * Checked, for "P; X" (P the clauses before the counted type X): GetCount
 * equals the targets GetNextTarget reaches from "P; X 1" and those
 * GetPreviousTarget reaches back, and GetLastTarget's; "P; X n" exists
 * exactly for n from 1 to the count; "P; X 1-count" and "P; X *" span from
 * the first record of the first target to the last record of any; every
 * target found lies within P's records. Reading leaves the stored item
 * byte for byte as it was; host handles and tracked blocks are given back.
 * Removing "P; X n", or "P; R X n" with the relation byte 0 picks, or
 * their hotspots, links or sections (as byte 0 picks too), leaves every
 * table, hotspot and bracket of the body closed by its own end.
 *
 * With VELKO_NAVIGATION_FUZZ_RELATIONS set in the environment, the other
 * relations are checked too (byte 0 picks one, the last clause's index
 * byte its target X n). Each text run of a body ends in its own number, so
 * a chunk's text tells which runs it holds. For "P; R X n": Before, After,
 * Starts With and Ends With span what they leave of P's records against
 * X n's first and last record; Inside lies within X n and holds no run
 * outside it; Outside holds P's runs less X n's; and a "Text *" clause
 * after the relation holds the relation's runs.
 */
#include <stddef.h>
#include <stdint.h>
#include <stdlib.h>

#include <algorithm>
#include <string>
#include <vector>

#include "cdbuild/cd_script.h"
#include "fuzz/fuzz_support.h"
#include "host/cdrecords.h"
#include "host/host_testing.h"
#include "host/nsfdb.h"
#include "host/nsfnote.h"
#include "store/session.h"
#include "store/vocabulary.h"
#include "tests/support/record_lines.h"
#include "velko/status.h"

namespace {

constexpr char kDbPath[] = "mem:navigationfuzz";

constexpr int kMostRecords = 160;
/* Room kept for closing what is open when the body is full. */
constexpr int kClosingRoom = 12;
constexpr int kDeepest = 3;

/* The target types a clause takes. */
constexpr const char* kTypes[] = {
    "Table",  "Row",       "Column",        "Section", "Layer",   "Paragraph",
    "StylizedText", "Text", "Record",    "Hotspot", "Button",  "Hyperlink",
    "ActionHotspot", "Popup", "Doclink", "Anchor",  "Field",   "Graphic",
};
constexpr size_t kTypeCount = sizeof kTypes / sizeof *kTypes;
/* The types of the clauses before the counted one: targets that hold
 * other records (the first fourteen of kTypes but Text and Record), then
 * the one-record targets, which hold only themselves. */
constexpr size_t kHoldingTypes[] = {0, 1, 2, 3, 4, 5, 6, 9, 10, 11, 12, 13, 7, 8, 14, 15, 16};

/* The fonts of the text runs: two faces, and the first at another size. */
constexpr const char* kFonts[] = {"face=1 size=10", "face=4 size=10", "face=1 size=12"};

/* The body's bytes read one at a time; 0 once they are used up. */
class ByteReader {
public:
  ByteReader(const uint8_t* data, size_t size) : data_(data), size_(size) {}
  uint8_t Next() { return at_ < size_ ? data_[at_++] : 0; }
  bool Done() const { return at_ >= size_; }

private:
  const uint8_t* data_;
  size_t size_;
  size_t at_ = 0;
};

/* Writes the record script of a body. */
class BodyWriter {
public:
  explicit BodyWriter(ByteReader* bytes) : bytes_(bytes) {}

  std::string Write() {
    Line("PABDEF id=1");
    Line("PABREF id=1");
    while (!bytes_->Done() && Room())
      Element(0, 0);
    Line("TEXT text=\"end\"");
    return script_;
  }

private:
  bool Room() const { return records_ + kClosingRoom < kMostRecords; }

  void Line(const std::string& line) {
    script_ += line;
    script_ += '\n';
    ++records_;
  }

  void Text() {
    Line("TEXT " + std::string(kFonts[bytes_->Next() % 3]) + " text=\"t" +
         std::to_string(++runs_) + "\"");
  }

  /* Elements until the byte says the content ends (at least one). */
  void Content(int depth, int tables) {
    do {
      Element(depth, tables);
    } while (Room() && (bytes_->Next() & 3) != 0);
  }

  void Hotspot(const std::string& begin, int depth, int tables) {
    Line(begin);
    Text();
    if (depth < kDeepest && (bytes_->Next() & 1) != 0)
      Content(depth + 1, tables);
    Line("HOTSPOTEND");
  }

  void Table(int depth, int tables) {
    const std::string nested = tables > 0 ? " nested=yes" : "";
    const int rows = 1 + bytes_->Next() % 3;
    const int columns = 1 + bytes_->Next() % 3;
    Line("TABLEBEGIN" + nested);
    for (int row = 0; row < rows; ++row) {
      for (int column = 0; column < columns; ++column) {
        const uint8_t merge = bytes_->Next();
        std::string cell = "TABLECELL row=" + std::to_string(row) +
                           " column=" + std::to_string(column) + nested;
        if ((merge & 0x30) == 0x10 && column + 1 < columns)
          cell += " colspan=2";
        if ((merge & 0xC0) == 0x40 && row + 1 < rows)
          cell += " rowspan=2";
        Line(cell);
        if (!Room())
          continue;
        if (depth < kDeepest && (merge & 1) != 0)
          Content(depth + 1, tables + 1);
        else
          Text();
      }
    }
    Line("TABLEEND" + nested);
  }

  void Element(int depth, int tables) {
    const uint8_t kind = bytes_->Next();
    const bool deeper = depth < kDeepest && Room();
    switch (kind % 14) {
    case 1:
      Line("PARAGRAPH");
      if ((kind & 0x10) != 0) {
        Line("PABDEF id=2 left=720");
        Line("PABREF id=2");
      } else if ((kind & 0x20) != 0) {
        Line("PABREF id=1");
      }
      break;
    case 2:
      if (deeper)
        Table(depth, tables);
      break;
    case 3:
      if (!deeper)
        break;
      Line("HOTSPOTBEGIN type=12 sig=V4HOTSPOTBEGIN");
      Line("SECTIONBAR title=\"s\"");
      Content(depth + 1, tables);
      Line("HOTSPOTEND sig=V4HOTSPOTEND");
      break;
    case 4:
      if (!deeper)
        break;
      Line("BEGIN sig=LAYER");
      Line("RAW sig=LAYER data=000000000000000000000000000000000000");
      Content(depth + 1, tables);
      Line("END sig=LAYER");
      break;
    case 5:
      Hotspot("HOTSPOTBEGIN type=11", depth, tables);
      break;
    case 6:
      Hotspot("HOTSPOTBEGIN type=2 flags=0x10", depth, tables);
      break;
    case 7:
      Hotspot("HOTSPOTBEGIN type=1", depth, tables);
      break;
    case 8:
      Line("DOCLINK notelink=\"link\"");
      break;
    case 9:
      Line("HOTSPOTBEGIN type=3");
      Line("BUTTON label=\"b\"");
      Line("HOTSPOTEND");
      break;
    case 10:
      Line("ANCHOR name=\"a\"");
      break;
    case 11:
      Line("FIELD name=\"f\"");
      break;
    case 12:
      Line("GRAPHIC");
      Line("IMAGEHEADER type=1 width=1 height=1 datasize=4 segments=1");
      Line("IMAGESEGMENT data=\"GIF8\"");
      break;
    default:
      Text();
      break;
    }
  }

  ByteReader* bytes_;
  std::string script_;
  int records_ = 0;
  int runs_ = 0;
};

struct span {
  DWORD first = 0;
  DWORD last = 0;
};

/* The records the chunk of the definition lies in (0 0: none). */
span Found(VelkoRTItem* item, const std::string& definition) {
  VelkoRTChunk* chunk = item->DefineChunk(definition.c_str());
  check(chunk != nullptr);
  _internal_SESS* session = item->session->internal;
  session->found_first = 0;
  session->found_second = 0;
  chunk->AlterRichText(ACTION_QUERY_RECORDS, 0, 0, 0, 0, nullptr, nullptr, nullptr, nullptr);
  const span found{session->found_first, session->found_second};
  delete chunk;
  return found;
}

bool Exists(VelkoRTItem* item, const std::string& definition) {
  VelkoRTChunk* chunk = item->DefineChunk(definition.c_str());
  check(chunk != nullptr);
  const int exists = chunk->Exists();
  delete chunk;
  return exists != 0;
}

std::string Join(const std::string& parent, const std::string& clause) {
  return parent.empty() ? clause : parent + "; " + clause;
}

void CheckNavigation(VelkoRTItem* item, const std::string& parent, const std::string& type) {
  // A definition the parser refuses (a Row with no Table before it) has
  // nothing to navigate.
  VelkoRTChunk* counting = item->DefineChunk(parent.empty() ? "Everything" : parent.c_str());
  if (counting == nullptr)
    return;
  const WORD count = counting->GetCount(type.c_str());
  delete counting;
  if (count == 0xFFFF)
    return;

  const auto numbered = [&](int n) { return Join(parent, type + " " + std::to_string(n)); };
  // Each target exists, and the one after the last does not.
  std::vector<span> spans;
  for (int n = 1; n <= count; ++n) {
    check(Exists(item, numbered(n)));
    const span found = Found(item, numbered(n));
    check(found.first != 0 && found.first <= found.last);
    spans.push_back(found);
  }
  check(!Exists(item, numbered(count + 1)));

  // Stepping reaches the same targets, forward and back.
  VelkoRTChunk* stepping = item->DefineChunk(numbered(1).c_str());
  check(stepping != nullptr);
  int reached = count > 0 ? 1 : 0;
  if (count > 0) {
    while (stepping->GetNextTarget(0) != 0)
      ++reached;
    check(reached == count);
    // The last step went one past the last target.
    for (int n = count; n >= 1; --n) {
      check(stepping->GetPreviousTarget(0) != 0);
      check(numbered(n) == stepping->definition);
    }
    check(stepping->GetLastTarget(0) != 0);
    check(numbered(count) == stepping->definition);
  }
  delete stepping;
  if (count == 0) {
    check(Found(item, Join(parent, type + " *")).first == 0);
    return;
  }

  // A range and "*" span their targets.
  DWORD last = 0;
  for (const span& found : spans)
    last = std::max(last, found.last);
  const std::string range = numbered(1) + "-" + std::to_string(count);
  for (const std::string& all : {range, Join(parent, type + " *")}) {
    const span found = Found(item, all);
    check(found.first == spans.front().first && found.last == last);
  }

  // Every target lies within the parent's records.
  if (parent.empty())
    return;
  const span outer = Found(item, parent);
  for (const span& found : spans)
    check(outer.first <= found.first && found.last <= outer.last);
}

/* The relations checked besides Contains. */
constexpr const char* kRelations[] = {"Before",    "After",  "Starts With",
                                      "Ends With", "Inside", "Outside"};
constexpr int kRelationCount = sizeof kRelations / sizeof *kRelations;

/* The numbers of the text runs the chunk's text holds, in order: each run's
 * text is "t" and its number; other texts ("end") are left out. */
std::vector<int> Runs(VelkoRTItem* item, const std::string& definition) {
  VelkoRTChunk* chunk = item->DefineChunk(definition.c_str());
  check(chunk != nullptr);
  LSXLsiSession* session = item->session;
  session->result_length = 0;
  chunk->AlterRichText(ACTION_GET_TEXT, PROP_TEXT, 1, 0, 0, "|", nullptr, nullptr, nullptr);
  const std::string text(session->result_text, session->result_length);
  delete chunk;
  std::vector<int> runs;
  size_t at = 0;
  while (at <= text.size()) {
    size_t end = text.find('|', at);
    if (end == std::string::npos)
      end = text.size();
    const std::string piece = text.substr(at, end - at);
    if (piece.size() > 1 && piece[0] == 't' &&
        piece.find_first_not_of("0123456789", 1) == std::string::npos)
      runs.push_back(std::stoi(piece.substr(1)));
    at = end + 1;
  }
  return runs;
}

bool Within(const span& inner, const span& outer) {
  return outer.first <= inner.first && inner.last <= outer.last;
}

/* "P; R X n" against "P" and "P; X n". */
void CheckRelation(VelkoRTItem* item, const std::string& parent, const std::string& type,
                   int index, int relation) {
  const std::string name = kRelations[relation];
  // Before and Ends With number Record targets from the record after the
  // one where they open, where Contains numbers them from P's first.
  if (type == "Record" && (name == "Before" || name == "Ends With"))
    return;
  // "P; Column n" spans the column's cells in every row, where After and
  // Ends With look for the end of its first cell.
  if (type == "Column" && (name == "After" || name == "Ends With"))
    return;
  const std::string target = type + " " + std::to_string(index);
  const std::string outerDefinition = parent.empty() ? "Everything" : parent;
  const std::string definition = Join(parent, name + " " + target);
  // A definition the parser refuses has nothing to check.
  VelkoRTChunk* parsed = item->DefineChunk(definition.c_str());
  if (parsed == nullptr)
    return;
  delete parsed;
  const span outer = Found(item, outerDefinition);
  const span own = Found(item, Join(parent, target));
  const span found = Found(item, definition);
  const span none{};
  const bool present = own.first != 0;
  const auto same = [](const span& a, const span& b) {
    return a.first == b.first && a.last == b.last;
  };
  if (outer.first == 0) {
    check(found.first == 0);
    return;
  }
  if (name == "Before") {
    const bool empty = (type == "Record" || type == "Paragraph") && index == 1;
    const span expected = empty ? none
                          : !present ? outer
                          : own.first == outer.first ? none
                                                     : span{outer.first, own.first - 1};
    check(same(found, expected));
  } else if (name == "After" && type == "Row") {
    // A row ends at the next row's first cell, which belongs to that row,
    // so After opens at the record after it; the last row ends at the
    // table's end, the last record of P, and nothing follows it.
    check(same(found, !present || own.last + 1 >= outer.last ? none
                                                              : span{own.last + 2, outer.last}));
  } else if (name == "After") {
    check(same(found, !present || own.last == outer.last ? none
                                                          : span{own.last + 1, outer.last}));
  } else if (name == "Starts With") {
    check(same(found, present ? span{own.first, outer.last} : none));
  } else if (name == "Ends With") {
    check(same(found, present ? span{outer.first, own.last} : outer));
  } else if (name == "Inside") {
    check(found.first == 0 || (present && Within(found, own)));
    const std::vector<int> held = Runs(item, definition);
    const std::vector<int> ownRuns = Runs(item, Join(parent, target));
    for (int run : held)
      check(std::find(ownRuns.begin(), ownRuns.end(), run) != ownRuns.end());
  } else {
    std::vector<int> expected;
    const std::vector<int> ownRuns = present ? Runs(item, Join(parent, target)) : expected;
    for (int run : Runs(item, outerDefinition)) {
      if (std::find(ownRuns.begin(), ownRuns.end(), run) == ownRuns.end())
        expected.push_back(run);
    }
    check(Runs(item, definition) == expected);
  }
  check(Runs(item, definition + "; Text *") == Runs(item, definition));
}

/* Whether every table, hotspot and bracket the stored "Body" opens is
 * closed by its own end, in order. */
bool StructureBalanced(NOTEHANDLE note) {
  std::vector<WORD> open; // the ends awaited, innermost last
  for (const std::string& line : note_testing::RecordLines(note_testing::ItemValues(note, "Body"))) {
    if (line.size() < 4)
      return false;
    const WORD first = static_cast<WORD>(std::stoul(line.substr(0, 2), nullptr, 16));
    const WORD second = static_cast<WORD>(std::stoul(line.substr(2, 2), nullptr, 16));
    const WORD signature = second == 0xFF ? static_cast<WORD>(0xFF00 | first) : first;
    if (const WORD end = StructureEndFor(signature); end != 0) {
      open.push_back(end);
    } else if (IsStructureEnd(signature)) {
      if (open.empty() || open.back() != signature)
        return false;
      open.pop_back();
    }
  }
  return open.empty();
}

/* Removing the chunk of the definition over a fresh copy of the body, or
 * its hotspots, links or sections (the removal byte picks), leaves every
 * table, hotspot and bracket whole, whatever part of one the chunk holds. */
void CheckRemoval(NOTEHANDLE note, const cdbuild::Body& body, const std::string& definition,
                  int removal) {
  while (NSFItemDelete(note, "Body", 4) == NOERROR) {
  }
  check(body.AppendItems(note, "Body") == NOERROR);
  auto* session = new LSXLsiSession;
  auto* item = new VelkoRTItem(session);
  check(item->ConnectBackend(note, "Body", 0) == NOERROR);
  VelkoRTChunk* chunk = item->DefineChunk(definition.c_str());
  if (chunk != nullptr) {
    STATUS status = NOERROR;
    switch (removal % 4) {
    case 0:
      status = chunk->Remove();
      break;
    case 1:
      status = chunk->RemoveHotspots();
      break;
    case 2:
      status = chunk->RemoveLinks(removal & 4);
      break;
    default:
      status = chunk->RemoveSections();
      break;
    }
    if (status == NOERROR)
      check(StructureBalanced(note));
  }
  delete item;
  delete session;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1)
    return 0;
  ByteReader bytes(data, size);
  const uint8_t first = bytes.Next();
  const int clauses = 1 + first % 3;
  const int relation = (first / 3) % kRelationCount;
  std::string parent;
  std::string counted;
  int countedIndex = 1;
  std::string before;
  for (int i = 0; i < clauses; ++i) {
    const uint8_t pick = bytes.Next();
    std::string type =
        i + 1 == clauses
            ? kTypes[pick % kTypeCount]
            : kTypes[kHoldingTypes[pick % (sizeof kHoldingTypes / sizeof *kHoldingTypes)]];
    // Rows and columns are those of a table: a row right after a Table
    // clause, a column right after a Table or Row clause.
    if ((type == "Row" && before != "Table") ||
        (type == "Column" && before != "Table" && before != "Row"))
      type = "Table";
    before = type;
    const int index = 1 + bytes.Next() % 3;
    if (i + 1 == clauses) {
      counted = type;
      countedIndex = index;
    } else
      parent = Join(parent, type + " " + std::to_string(index));
  }
  cdbuild::Body body;
  cdbuild::ScriptError error;
  const std::string script = BodyWriter(&bytes).Write();
  check(cdbuild::BuildScript(script, &body, &error));

  const DBHANDLE db = note_testing::ProcessDatabase(kDbPath);
  const size_t handles = HostTestLiveHandles();
  NOTEHANDLE note = NULLHANDLE;
  check(NSFNoteCreate(db, &note) == NOERROR);
  check(body.AppendItems(note, "Body") == NOERROR);
  const auto stored = note_testing::ItemValues(note, "Body");
  {
    auto* session = new LSXLsiSession;
    auto* item = new VelkoRTItem(session);
    check(item->ConnectBackend(note, "Body", 0) == NOERROR);
    CheckNavigation(item, parent, counted);
    if (getenv("VELKO_NAVIGATION_FUZZ_RELATIONS") != nullptr)
      CheckRelation(item, parent, counted, countedIndex, relation);
    delete item;
    check(VelkoTrackedBlocksInUse(session) == 0);
    delete session;
  }
  check(note_testing::ItemValues(note, "Body") == stored);
  // A Record target may be a structure's begin or end alone.
  if (counted != "Record") {
    const std::string target = counted + " " + std::to_string(countedIndex);
    CheckRemoval(note, body, Join(parent, target), first / 18);
    CheckRemoval(note, body, Join(parent, std::string(kRelations[relation]) + " " + target),
                 first / 72);
  }
  NSFNoteClose(note);
  check(HostTestLiveHandles() == handles);
  return 0;
}
