/*
 * FindNextTarget: the kind of the first target after a record number,
 * read from the item's stored values through the host's enumeration, so
 * that it sees the item as stored rather than a loaded body.
 *
 * It walks no chunk and changes nothing but the session's found words.
 */
#include "engine/find.h"

#include "engine/record_fields.h"
#include "engine/stored_items.h"
#include "host/ods.h"
#include "store/session.h"
#include "store/vocabulary.h"

namespace {

/* Hotspot types (the word at CDHOTSPOTBEGIN_TYPE_OFFSET) that stepping
 * tells apart. */
enum : WORD {
  kHotspotPopup = 1,
  kHotspotAction = 2,
  kHotspotButton = 3,
  kHotspotFile = 4,
  kHotspotSection = 7,
  kHotspotLink = 11,
  kHotspotSectionAlt = 12,
  kHotspotSectionCollapsed = 13,
  kHotspotSubform = 14,
  kHotspotPopupAlt = 22,
};

/* Hotspot flags read here. */
constexpr DWORD kActionFormulaFlag = 0x10;
constexpr DWORD kUrlLinkFlag = 0x1000;

WORD ClassifyHotspot(const char* record, DWORD length) {
  WORD type = 0;
  DWORD flags = 0;
  ReadRecordWord(record, length, CDHOTSPOTBEGIN_TYPE_OFFSET, &type);
  ReadRecordDword(record, length, CDHOTSPOTBEGIN_FLAGS_OFFSET, &flags);
  switch (type) {
  case kHotspotPopup:
  case kHotspotPopupAlt:
    return TARGETTYPE_POPUP;
  case kHotspotAction:
    return (flags & kActionFormulaFlag) != 0 ? TARGETTYPE_ACTIONHOTSPOT : TARGETTYPE_HOTSPOT;
  case kHotspotButton:
    return TARGETTYPE_BUTTON;
  case kHotspotFile:
    return TARGETTYPE_FILE;
  case kHotspotSection:
  case kHotspotSectionAlt:
  case kHotspotSectionCollapsed:
    return TARGETTYPE_SECTION;
  case kHotspotLink:
    return (flags & kUrlLinkFlag) != 0 ? TARGETTYPE_URLLINK : TARGETTYPE_HYPERLINK;
  case kHotspotSubform:
    return TARGETTYPE_SUBFORM;
  default:
    return TARGETTYPE_HOTSPOT;
  }
}

/* True for the signatures ClassifyTargetRecord can report, so that no
 * other record is converted. */
bool MayBeginTarget(WORD signature) {
  switch (signature) {
  case SIG_CD_LINK:
  case SIG_CD_DOCLINK:
  case SIG_CD_TABLEBEGIN:
  case SIG_CD_LAYER:
  case SIG_CD_GRAPHIC:
  case SIG_CD_TEXT:
  case SIG_CD_LAYOUT:
  case SIG_CD_FIELD:
  case SIG_CD_EXTFIELD:
  case SIG_CD_EXT2FIELD:
  case SIG_CD_OLEBEGIN:
  case SIG_CD_ANCHOR:
  case SIG_CD_HRULE:
  case SIG_CD_EVENT:
  case SIG_CD_HOTSPOTBEGIN:
  case SIG_CD_V4HOTSPOTBEGIN:
    return true;
  default:
    return false;
  }
}

} // namespace

WORD ClassifyTargetRecord(const char* record, WORD signature, DWORD length) {
  switch (signature) {
  case SIG_CD_LINK:
  case SIG_CD_DOCLINK:
    return TARGETTYPE_DOCLINK;
  case SIG_CD_TABLEBEGIN:
    return TARGETTYPE_TABLE;
  case SIG_CD_LAYER:
    return TARGETTYPE_LAYER;
  case SIG_CD_GRAPHIC:
    return TARGETTYPE_GRAPHIC;
  case SIG_CD_TEXT:
    return length > sizeof(CDTEXT) ? TARGETTYPE_TEXT : 0;
  case SIG_CD_LAYOUT:
    return TARGETTYPE_LAYOUTREGION;
  case SIG_CD_FIELD:
  case SIG_CD_EXTFIELD:
  case SIG_CD_EXT2FIELD:
    return TARGETTYPE_FIELD;
  case SIG_CD_OLEBEGIN:
    return TARGETTYPE_OLEOBJECT;
  case SIG_CD_ANCHOR:
    return TARGETTYPE_ANCHOR;
  case SIG_CD_HRULE:
    return TARGETTYPE_HR;
  case SIG_CD_EVENT:
    return TARGETTYPE_EVENT;
  case SIG_CD_HOTSPOTBEGIN:
  case SIG_CD_V4HOTSPOTBEGIN:
    return ClassifyHotspot(record, length);
  default:
    return 0;
  }
}

STATUS FindNextTarget_OneCDRecord(char* record, WORD signature, DWORD length, void* context) {
  auto* walk = static_cast<next_target_walk*>(context);
  ++walk->counter;
  if (walk->counter < walk->from || (walk->bounded_above && walk->counter > walk->to))
    return NOERROR;
  if (!MayBeginTarget(signature))
    return NOERROR;
  DWORD hostLength = length;
  const char* host = walk->item->ConvertFromCanonicalData(record, signature, &hostLength);
  if (host == nullptr)
    return NOERROR; // a record that cannot be read begins nothing
  walk->found = ClassifyTargetRecord(host, signature, hostLength);
  return walk->found != 0 ? STATUS{VELKO_ERR_ITEM_NOT_FOUND} : STATUS{NOERROR};
}

WORD FindNextTarget(VelkoRTChunk* chunk, int bounded, DWORD low, DWORD high) {
  if (chunk == nullptr || chunk->item == nullptr || chunk->session == nullptr ||
      chunk->session->internal == nullptr)
    return 0;
  VelkoRTItem* item = chunk->item;
  next_target_walk walk;
  walk.item = item;
  if (bounded != 0) {
    walk.from = low + 1;
    walk.bounded_above = high != 0;
    walk.to = high - 1;
  } else {
    walk.from = high + 1;
  }

  const STATUS status = VisitStoredItems(
      item->note, item->item_name, [&](const stored_item_value& value) -> STATUS {
        if (value.type != TYPE_COMPOSITE)
          return VELKO_ERR_FAILED;
        return EnumCompositeBuffer(value.value, value.length, FindNextTarget_OneCDRecord, &walk);
      });
  if (status != NOERROR && !(status == VELKO_ERR_ITEM_NOT_FOUND && walk.found != 0))
    return 0;
  _internal_SESS* session = chunk->session->internal;
  session->found_first = walk.counter;
  session->found_second = walk.from;
  return walk.found;
}
