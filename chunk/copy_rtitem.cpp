/*
 * Copying a whole rich-text item into another item (CopyRTItem, for the
 * item's CopyBackend): every record of the source's stored values is
 * copied through the record emitter into a new body for the target, with
 * what keeps it valid in another note: text faces mapped onto the target's
 * font table, indexed links followed by their self-contained form, and the
 * file attachments and OLE objects the records name brought over. The body
 * is written as the target's value only when the whole source was read;
 * attachments the old value alone named are removed after that.
 *
 * Not here: keeping the target's old values for a failed copy (the caller
 * holds them), nor copying values that are not rich text (CopyItemToNote).
 */
#include <cstring>
#include <new>
#include <string>
#include <utility>
#include <vector>

#include "chunk/copy_objects.h"
#include "chunk/face_map.h"
#include "chunk/link_copy.h"
#include "chunk/object_names.h"
#include "chunk/services.h"
#include "engine/retrieve.h"
#include "host/nsfdata.h"
#include "host/nsfnote.h"
#include "host/ods.h"
#include "host/status.h"
#include "store/body.h"
#include "store/emitter.h"
#include "store/new_object.h"
#include "store/rtitem_internal.h"
#include "store/services.h"
#include "store/session.h"
#include "velko/velko.h"

/* Copies one record of the source (stored form) into the target's new
 * body; a non-zero status ends the copy. */
STATUS CopyRTItem_OneCDRecord(char* record, WORD signature, DWORD length, void* context);

namespace {

/* The end of the items (546) and an empty value (1540) end a walk well. */
constexpr STATUS kNoMoreValues = 1540;

bool EndsWell(STATUS status) {
  const STATUS code = status & STATUS_CODE_MASK;
  return code == NOERROR || code == ERR_ITEM_NOT_FOUND || code == kNoMoreValues;
}

/* What one copy carries from record to record. */
struct copy_run {
  generation_context* gen = nullptr;
  VelkoRTItem* source = nullptr;
  VelkoRTItem* target = nullptr;
  bool same_note = false;
  /* What this copy attached to the target note, taken out again when the
   * copy fails: "$FILE" items and OLE object names. */
  std::vector<BLOCKID> attached_files;
  std::vector<std::string> attached_objects;
};

/* The last "$FILE" item of the note: the one an attach just appended. */
bool LastFileItem(NOTEHANDLE note, BLOCKID* last) {
  BLOCKID item;
  bool found = false;
  for (STATUS status = NSFItemInfo(note, "$FILE", 5, &item, nullptr, nullptr, nullptr);
       status == NOERROR;
       status = NSFItemInfoNext(note, item, "$FILE", 5, &item, nullptr, nullptr, nullptr)) {
    *last = item;
    found = true;
  }
  return found;
}

/* Brings the attachment or OLE object a record names from the source note
 * to the target note. One the source does not hold leaves the record
 * without it; other failures end the copy. */
STATUS CopyNamedObject(copy_run* run, const BYTE* record, WORD signature, DWORD length) {
  std::string name;
  const named_object kind = RecordObjectName(record, signature, length, &name);
  if (kind == named_object::none)
    return NOERROR;
  LSXLsiSession* session = SessionOf(run->gen);
  const NOTEHANDLE source = run->source->note;
  const NOTEHANDLE target = run->target->note;
  const auto nameLength = static_cast<WORD>(name.size());
  STATUS status = NOERROR;
  try {
    // Room to note what is attached is made first: noting it cannot fail.
    run->attached_files.reserve(run->attached_files.size() + 1);
    run->attached_objects.reserve(run->attached_objects.size() + 1);
    if (kind == named_object::file) {
      status = CopyAttachmentBetweenNotes(session, source, target, name.c_str(), nameLength);
      BLOCKID attached;
      if (status == NOERROR && LastFileItem(target, &attached))
        run->attached_files.push_back(attached);
    } else {
      // An object the target holds already stays its own.
      const bool heldBefore = NoteHoldsOleObject(target, name);
      status = CopyOleObjectBetweenNotes(session, source, target, name.c_str(), nameLength,
                                         run->target->item_name);
      if (status == NOERROR && !heldBefore)
        run->attached_objects.push_back(std::move(name));
    }
  } catch (const std::bad_alloc&) {
    return VELKO_ERR_MEMORY;
  }
  const STATUS code = status & STATUS_CODE_MASK;
  return code == ERR_ITEM_NOT_FOUND || code == ERR_HOST_OBJECT_NOT_FOUND ? NOERROR : status;
}

/* Takes out of the target note what a failed copy attached to it. */
void DetachCopiedObjects(const copy_run& run) {
  const NOTEHANDLE target = run.target->note;
  for (const BLOCKID& item : run.attached_files)
    static_cast<void>(NSFNoteDetachFile(target, item));
  for (const std::string& name : run.attached_objects)
    static_cast<void>(NSFNoteDeleteOLE2Object(target, name.c_str()));
}

/* 257 with the source's own error word when a value of the name is not
 * rich text; 1028 when the source note has none; else 0. Nothing is
 * copied before every value is known to be rich text. */
STATUS CheckSourceValues(VelkoRTItem* source) {
  const char* name = source->item_name;
  const auto nameLength = static_cast<WORD>(std::strlen(name));
  BLOCKID item;
  WORD type = 0;
  STATUS status = NSFItemInfo(source->note, name, nameLength, &item, &type, nullptr, nullptr);
  if ((status & STATUS_CODE_MASK) == ERR_ITEM_NOT_FOUND)
    return VELKO_ERR_BAD_ARGUMENT;
  for (; status == NOERROR;
       status = NSFItemInfoNext(source->note, item, name, nameLength, &item, &type, nullptr,
                                nullptr)) {
    if (type != TYPE_COMPOSITE) {
      source->own_error = kNotRichTextError;
      return VELKO_ERR_FAILED;
    }
  }
  return EndsWell(status) ? NOERROR : status;
}

/* Copies every value of the source's name, in the note's order. */
STATUS CopySourceValues(copy_run* run) {
  VelkoRTItem* source = run->source;
  const char* name = source->item_name;
  const auto nameLength = static_cast<WORD>(std::strlen(name));
  BLOCKID item;
  BLOCKID value;
  WORD type = 0;
  DWORD length = 0;
  STATUS status = NSFItemInfo(source->note, name, nameLength, &item, &type, &value, &length);
  for (; status == NOERROR;
       status = NSFItemInfoNext(source->note, item, name, nameLength, &item, &type, &value,
                                &length)) {
    if (type != TYPE_COMPOSITE) {
      source->own_error = kNotRichTextError;
      return VELKO_ERR_FAILED;
    }
    const STATUS copied = EnumCompositeBuffer(value, length, CopyRTItem_OneCDRecord, run);
    if ((copied & STATUS_CODE_MASK) == ERR_ITEM_NOT_FOUND)
      break;
    if (!EndsWell(copied))
      return copied;
  }
  return EndsWell(status) ? NOERROR : status;
}

/* Replaces the target's values by the built body. */
STATUS WriteTargetValues(VelkoRTItem* target) {
  const char* name = target->item_name;
  const STATUS deleted = NSFItemDelete(target->note, name, static_cast<WORD>(std::strlen(name)));
  if (!EndsWell(deleted))
    return deleted;
  body_context* output = target->internal->output;
  return output != nullptr ? SaveBodyItems(output, target) : NOERROR;
}

} // namespace

STATUS CopyRTItem_OneCDRecord(char* record, WORD signature, DWORD length, void* context) {
  auto* run = static_cast<copy_run*>(context);
  VelkoRTItem* target = run->target;
  DWORD hostLength = length;
  char* host = target->ConvertFromCanonicalData(record, signature, &hostLength);
  if (host == nullptr)
    return target->internal->conversion_status == VELKO_ERR_MEMORY ? VELKO_ERR_MEMORY
                                                                    : VELKO_ERR_FAILED;
  const auto* bytes = reinterpret_cast<const BYTE*>(host);
  const _internal_SESS* session = SessionOf(run->gen)->internal;
  const STATUS copied = signature == SIG_CD_TEXT
                            ? EmitFaceMappedText(bytes, hostLength, session, run->gen)
                            : CopyCDUpdated(host, signature, hostLength, run->gen);
  if (copied != NOERROR)
    return copied;
  // A link into the source note's link table is followed by its
  // self-contained form, so that it still leads somewhere in another note.
  if (IsIndexedLinkRecord(bytes, signature, hostLength))
    return EmitSelfContainedLink(bytes, signature, hostLength, run->source->note, run->gen);
  if (run->same_note)
    return NOERROR;
  return CopyNamedObject(run, bytes, signature, hostLength);
}

STATUS CopyRTItem(VelkoRTItem* from, VelkoRTItem* to, int sameNote, NOTEHANDLE previous) {
  if (from == nullptr || to == nullptr || from->note == NULLHANDLE || to->note == NULLHANDLE ||
      from->item_name == nullptr || from->item_name[0] == 0 || to->item_name == nullptr ||
      to->item_name[0] == 0 || to->internal == nullptr || to->session == nullptr ||
      to->session->internal == nullptr)
    return VELKO_ERR_BAD_ARGUMENT;
  if (const STATUS checked = CheckSourceValues(from); checked != NOERROR)
    return checked;
  _internal_SESS* session = to->session->internal;
  // Within one note the faces are the note's own: no map applies.
  session->face_remap_count = 0;
  if (sameNote == 0) {
    if (const STATUS merged = to->MergeFontTables(from->note); merged != NOERROR)
      return merged;
  }

  auto* gen = NewObject<generation_context>();
  if (gen == nullptr)
    return VELKO_ERR_MEMORY;
  gen->session = to->session;
  gen->item = to;
  copy_run run;
  run.gen = gen;
  run.source = from;
  run.target = to;
  run.same_note = sameNote != 0;

  STATUS status = CreateBodyItem(gen);
  if (status == NOERROR)
    status = CopySourceValues(&run);
  if (EndsWell(status))
    status = NOERROR;
  if (status == NOERROR)
    status = StoreBodyItem(gen);
  if (status == NOERROR)
    status = WriteTargetValues(to);
  if (status == NOERROR) {
    if (previous != NULLHANDLE)
      RemoveAttachmentsNoLongerNamed(previous, to->note, to->item_name);
  } else {
    CleanupBodyItems(gen, 0);
    DetachCopiedObjects(run);
  }
  CleanupBodyContext(to->session, to->internal->output);
  delete to->internal->output;
  to->internal->output = nullptr;
  // Neither map outlives the copy.
  session->face_remap_count = 0;
  session->face_map_count = 0;
  delete gen;
  return status;
}
