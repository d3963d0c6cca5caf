/*
 * Copying the raw values of every item of one name, of any type, from one
 * note to another (CopyItemToNote, for host programs). The source values
 * are read into a scratch note first and the target's old items kept in
 * another, so that the target's items are replaced in one step and come
 * back when an append fails.
 */
#include <cstring>

#include "host/nsfdata.h"
#include "host/nsfnote.h"
#include "host/status.h"
#include "velko/velko.h"

namespace {

WORD NameLengthOf(const char* name) { return static_cast<WORD>(std::strlen(name)); }

bool SameNameIgnoringCase(const char* a, const char* b) {
  for (;; ++a, ++b) {
    const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; };
    if (lower(*a) != lower(*b))
      return false;
    if (*a == 0)
      return true;
  }
}

/* A note made for the copy in the target's database, closed when this goes. */
class ScratchNote {
public:
  ScratchNote() = default;
  ~ScratchNote() {
    if (note_ != NULLHANDLE)
      NSFNoteClose(note_);
  }
  ScratchNote(const ScratchNote&) = delete;
  ScratchNote& operator=(const ScratchNote&) = delete;

  STATUS Create(NOTEHANDLE beside) {
    DBHANDLE db = NULLHANDLE;
    NSFNoteGetInfo(beside, _NOTE_DB, &db);
    return NSFNoteCreate(db, &note_);
  }
  NOTEHANDLE note() const { return note_; }

private:
  NOTEHANDLE note_ = NULLHANDLE;
};

/* The end of the items (546) and 1540 count as success. */
STATUS EndOfItems(STATUS status) {
  const STATUS code = status & STATUS_CODE_MASK;
  constexpr STATUS kNoMoreValues = 1540;
  return code == ERR_ITEM_NOT_FOUND || code == kNoMoreValues ? NOERROR : status;
}

/* Appends to `to` every item of the name that `from` holds, as it is. */
STATUS CopyItemsAsTheyAre(NOTEHANDLE from, NOTEHANDLE to, const char* name) {
  BLOCKID item = {};
  STATUS status = NSFItemInfo(from, name, NameLengthOf(name), &item, nullptr, nullptr, nullptr);
  while (status == NOERROR) {
    if (const STATUS copied = NSFItemCopy(to, item); copied != NOERROR)
      return copied;
    status =
        NSFItemInfoNext(from, item, name, NameLengthOf(name), &item, nullptr, nullptr, nullptr);
  }
  return EndOfItems(status);
}

} // namespace

STATUS CopyItemToNote(NOTEHANDLE source, NOTEHANDLE target, const char* sourceName,
                      const char* targetName) {
  if (source == NULLHANDLE || target == NULLHANDLE || sourceName == nullptr || *sourceName == 0)
    return ERR_HOST_BAD_ARGUMENT;
  if (targetName == nullptr || *targetName == 0)
    targetName = sourceName;
  // An item copied onto itself stays as it is.
  if (source == target && SameNameIgnoringCase(sourceName, targetName))
    return NOERROR;
  BLOCKID item = {};
  WORD type = 0;
  BLOCKID value = {};
  DWORD length = 0;
  STATUS status =
      NSFItemInfo(source, sourceName, NameLengthOf(sourceName), &item, &type, &value, &length);
  if (status != NOERROR)
    return EndOfItems(status); // no such item: nothing changes

  // Every source value first, under the target's name, signed.
  ScratchNote values;
  if (const STATUS made = values.Create(target); made != NOERROR)
    return made;
  while (status == NOERROR) {
    if (length < sizeof(WORD))
      return ERR_HOST_BAD_ARGUMENT;
    const auto* bytes = static_cast<const char*>(OSLockBlock(value));
    const STATUS appended = NSFItemAppend(values.note(), ITEM_SIGN, targetName,
                                          NameLengthOf(targetName), type, bytes + sizeof(WORD),
                                          length - sizeof(WORD));
    OSUnlockBlock(value);
    if (appended != NOERROR)
      return appended;
    status = NSFItemInfoNext(source, item, sourceName, NameLengthOf(sourceName), &item, &type,
                             &value, &length);
  }
  if (const STATUS end = EndOfItems(status); end != NOERROR)
    return end;

  ScratchNote kept;
  if (const STATUS made = kept.Create(target); made != NOERROR)
    return made;
  if (const STATUS copied = CopyItemsAsTheyAre(target, kept.note(), targetName); copied != NOERROR)
    return copied;
  static_cast<void>(NSFItemDelete(target, targetName, NameLengthOf(targetName)));
  status = CopyItemsAsTheyAre(values.note(), target, targetName);
  if (status != NOERROR) {
    // The target gets its old items back.
    static_cast<void>(NSFItemDelete(target, targetName, NameLengthOf(targetName)));
    static_cast<void>(CopyItemsAsTheyAre(kept.note(), target, targetName));
  }
  return status;
}
