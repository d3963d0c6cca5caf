/*
 * Selection and key formulas evaluated against stored notes (see
 * host/selection_internal.h).
 */
#include "host/selection_internal.h"

#include <algorithm>
#include <cstring>

#include "host/formula_internal.h"
#include "host/host_internal.h"
#include "host/nsfnote.h"
#include "host/osmem.h"
#include "host/status.h"
#include "host/storage.h"

namespace velko::host {

STATUS StoredNotesOfClass(sqlite3* db, WORD noteClassMask, std::vector<NOTEID>* ids) {
  Statement query(db, "SELECT note_id FROM notes WHERE (class & ?) != 0 ORDER BY note_id");
  query.Bind(1, noteClassMask & NOTE_CLASS_ALL);
  int result;
  while ((result = query.Step()) == SQLITE_ROW)
    ids->push_back(static_cast<NOTEID>(query.Int(0)));
  return result == SQLITE_DONE ? NOERROR : ERR_HOST_STORAGE;
}

STATUS StoredNoteRowsOfClass(sqlite3* db, WORD noteClassMask, std::vector<StoredNote>* notes) {
  Statement query(db, "SELECT note_id, unid, sequence, sequence_time, class, flags, modified "
                      "FROM notes WHERE (class & ?) != 0 ORDER BY note_id");
  query.Bind(1, noteClassMask & NOTE_CLASS_ALL);
  int result;
  while ((result = query.Step()) == SQLITE_ROW) {
    StoredNote& note = notes->emplace_back();
    note.id = static_cast<NOTEID>(query.Int(0));
    note.status = NoteRowOf(query, 1, &note.row);
  }
  return result == SQLITE_DONE ? NOERROR : ERR_HOST_STORAGE;
}

bool SelectsEverything(std::string_view compiled) {
  CompiledFormulaHeader header;
  if (compiled.size() < sizeof header)
    return false;
  std::memcpy(&header, compiled.data(), sizeof header);
  if (header.magic != kCompiledFormulaMagic ||
      header.sourceLength > compiled.size() - sizeof header)
    return false;
  const std::string_view source = compiled.substr(sizeof header, header.sourceLength);
  return EqualsIgnoringAsciiCase(TrimWhiteSpace(source), "SELECT @All");
}

CollectionKey CollectionKeyOf(std::string_view value) {
  CollectionKey sort;
  const auto* bytes = reinterpret_cast<const BYTE*>(value.data());
  const auto length = static_cast<DWORD>(value.size());
  const WORD type = ValueType(bytes, length);
  if (type == TYPE_NUMBER && length >= 2 + sizeof(double)) {
    sort.number = true;
    std::memcpy(&sort.value, bytes + 2, sizeof(double));
    return sort;
  }
  std::vector<std::string_view> texts;
  if (ValueTexts(bytes, length, &texts) && !texts.empty())
    sort.text = texts.front();
  return sort;
}

StartedFormula::~StartedFormula() {
  if (compute_ != NULLHANDLE)
    static_cast<void>(NSFComputeStop(compute_));
}

namespace {

// Whether the instruction's result depends on nothing but its operands and
// the note's items.
bool ReadsOnlyItems(const FormulaInstruction& instruction) {
  switch (instruction.op) {
  case FormulaOp::kNumber:
  case FormulaOp::kText:
  case FormulaOp::kName:
  case FormulaOp::kAssign:
  case FormulaOp::kDefault:
  case FormulaOp::kStatement:
  case FormulaOp::kSelect:
  case FormulaOp::kUnary:
  case FormulaOp::kBinary:
  case FormulaOp::kSubscript:
  case FormulaOp::kIsAvailable:
    return true;
  default:
    return false;
  }
}

// The item keys of the fields a compiled formula reads (as a name, by
// @IsAvailable or DEFAULT); false when its program cannot be read. The
// evaluator reaches the note through nothing else but the note's header.
// *itemsOnly tells whether every instruction reads only items.
bool FieldsRead(std::string_view compiled, std::vector<std::string>* keys, bool* itemsOnly) {
  CompiledFormulaHeader header;
  if (compiled.size() < sizeof header)
    return false;
  std::memcpy(&header, compiled.data(), sizeof header);
  if (header.magic != kCompiledFormulaMagic || header.version != kCompiledFormulaVersion ||
      header.sourceLength > compiled.size() - sizeof header)
    return false;
  FormulaProgram program;
  if (CompileFormulaProgram(compiled.substr(sizeof header, header.sourceLength), &program).code !=
      NOERROR)
    return false;
  *itemsOnly = std::all_of(program.begin(), program.end(),
                           [](const FormulaInstruction& one) { return ReadsOnlyItems(one); });
  for (const FormulaInstruction& instruction : program) {
    if (instruction.op != FormulaOp::kName && instruction.op != FormulaOp::kIsAvailable &&
        instruction.op != FormulaOp::kDefault)
      continue;
    std::string key = ItemKey(instruction.token);
    if (std::find(keys->begin(), keys->end(), key) == keys->end())
      keys->push_back(std::move(key));
  }
  return true;
}

} // namespace

STATUS StartedFormula::Start(std::string_view compiled) {
  compiled_.assign(compiled);
  const STATUS status = NSFComputeStart(0, compiled_.data(), &compute_);
  if (status == NOERROR)
    fieldsKnown_ = FieldsRead(compiled_, &fields_, &itemsOnly_);
  return status;
}

STATUS StartedFormula::Evaluate(DBHANDLE db, NOTEID id, bool* matches, CollectionKey* value,
                                const StoredNote* stored) {
  if (stored != nullptr && fieldsKnown_ && stored->status != NOERROR)
    return stored->status;
  NOTEHANDLE note = NULLHANDLE;
  STATUS status =
      fieldsKnown_ ? OpenNoteForFields(db, id, stored != nullptr ? &stored->row : nullptr, fields_,
                                       &note)
                   : NSFNoteOpen(db, id, 0, &note);
  if (status != NOERROR)
    return status;
  DHANDLE result = NULLHANDLE;
  WORD resultLength = 0;
  BOOL noteMatches = FALSE;
  status = NSFComputeEvaluate(compute_, note, value != nullptr ? &result : nullptr,
                              &resultLength, &noteMatches, nullptr, nullptr);
  static_cast<void>(NSFNoteClose(note));
  if (status != NOERROR)
    return status;
  *matches = noteMatches != FALSE;
  if (result == NULLHANDLE)
    return NOERROR;
  const auto* bytes = static_cast<const char*>(OSLockObject(result));
  status = GuardedStatus([&] {
    *value = CollectionKeyOf(std::string_view(bytes, resultLength));
    return NOERROR;
  });
  OSUnlockObject(result);
  static_cast<void>(OSMemFree(result));
  return status;
}

} // namespace velko::host
