/*
 * The host's structure conversion between stored (canonical) and host form,
 * and the enumeration of CD records in an item value or a CD file.
 *
 * Both forms are little-endian. A structure's host form is its stored form
 * with at most one run of pad bytes put back: the two bytes after the
 * signature of an LSIG header, or the two bytes that end CDRESOURCE and
 * CDPABDEFINITION. Every other structure is copied as it is. The layouts
 * themselves are declared in host/cdrecords.h; this file only knows, per
 * ODS type, the host size and where the pad lies.
 *
 * Which record signatures use which ODS type, and how a record's variable
 * part is carried over, is the rich-text store's business, not this file's.
 */
#include "host/ods.h"

#include <array>
#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

#include "host/cdrecords.h"
#include "host/host_internal.h"
#include "host/nsfnote.h"
#include "host/osmem.h"
#include "host/oslog.h"
#include "host/status.h"

namespace {

/* Host size of one structure of a type and the pad run the stored form
 * leaves out (length 0: none). */
struct ods_layout {
  WORD type = 0;
  WORD host_size = 0;
  WORD pad_offset = 0;
  WORD pad_length = 0;
};

constexpr WORD kLsigPadOffset = 2;
constexpr WORD kPadLength = 2;

constexpr ods_layout Plain(WORD type, size_t hostSize) {
  return {type, static_cast<WORD>(hostSize), 0, 0};
}
constexpr ods_layout LongHeaded(WORD type, size_t hostSize) {
  return {type, static_cast<WORD>(hostSize), kLsigPadOffset, kPadLength};
}
constexpr ods_layout EndPadded(WORD type, size_t hostSize) {
  return {type, static_cast<WORD>(hostSize), static_cast<WORD>(hostSize - kPadLength),
          kPadLength};
}

// clang-format off
constexpr ods_layout kLayouts[] = {
  /* plain values and structures carried inside records */
  Plain(ODS_WORD, sizeof(WORD)),
  Plain(ODS_DWORD, sizeof(DWORD)),
  Plain(ODS_TIMEDATE, sizeof(TIMEDATE)),
  Plain(ODS_NOTELINK, sizeof(NOTELINK)),
  Plain(ODS_FILEOBJECT, sizeof(FILEOBJECT)),
  Plain(ODS_CDFACE, sizeof(CDFACE)),

  /* records with a declared layout */
  Plain(ODS_CDLINK2, sizeof(CDLINK2)),
  Plain(ODS_CDLINKEXPORT2, sizeof(CDLINKEXPORT2)),
  Plain(ODS_CDPARAGRAPH, sizeof(CDPARAGRAPH)),
  EndPadded(ODS_CDPABDEFINITION, sizeof(CDPABDEFINITION)),
  Plain(ODS_CDPABREFERENCE, sizeof(CDPABREFERENCE)),
  Plain(ODS_CDTEXT, sizeof(CDTEXT)),
  Plain(ODS_CDDOCUMENT, sizeof(CDDOCUMENT)),
  Plain(ODS_CDHEADER, sizeof(CDHEADER)),
  Plain(ODS_CDFIELD, sizeof(CDFIELD)),
  Plain(ODS_CDFONTTABLE, sizeof(CDFONTTABLE)),
  LongHeaded(ODS_CDBITMAPHEADER, sizeof(CDBITMAPHEADER)),
  LongHeaded(ODS_CDGRAPHIC, sizeof(CDGRAPHIC)),
  Plain(ODS_CDTABLEBEGIN, sizeof(CDTABLEBEGIN)),
  Plain(ODS_CDTABLECELL, sizeof(CDTABLECELL)),
  Plain(ODS_CDTABLEEND, sizeof(CDTABLEEND)),
  Plain(ODS_CDSTYLENAME, sizeof(CDSTYLENAME)),
  Plain(ODS_CDHOTSPOTBEGIN, sizeof(CDHOTSPOTBEGIN)),
  Plain(ODS_CDHOTSPOTEND, sizeof(CDHOTSPOTEND)),
  Plain(ODS_CDBUTTON, sizeof(CDBUTTON)),
  Plain(ODS_CDBAR, sizeof(CDBAR)),
  Plain(ODS_CDLAYOUT, sizeof(CDLAYOUT)),
  Plain(ODS_CDLAYOUTFIELD, sizeof(CDLAYOUTFIELD)),
  Plain(ODS_CDPABHIDE, sizeof(CDPABHIDE)),
  Plain(ODS_CDPABFORMULAREF, sizeof(CDPABFORMULAREF)),
  Plain(ODS_CDTEXTEFFECT, sizeof(CDTEXTEFFECT)),
  Plain(ODS_CDSTORAGELINK, sizeof(CDSTORAGELINK)),
  Plain(ODS_CDALTTEXT, sizeof(CDALTTEXT)),
  Plain(ODS_CDBEGINRECORD, sizeof(CDBEGINRECORD)),
  Plain(ODS_CDENDRECORD, sizeof(CDENDRECORD)),
  Plain(ODS_CDVERTICALALIGN, sizeof(CDVERTICALALIGN)),
  Plain(ODS_CDFLOAT, sizeof(CDFLOAT)),
  Plain(ODS_CDTIMERINFO, sizeof(CDTIMERINFO)),
  Plain(ODS_CDTABLELABEL, sizeof(CDTABLELABEL)),
  Plain(ODS_CDEMBEDDEDCONTROL, sizeof(CDEMBEDDEDCONTROL)),
  Plain(ODS_CDTARGET, sizeof(CDTARGET)),
  EndPadded(ODS_CDRESOURCE, sizeof(CDRESOURCE)),
  Plain(ODS_CDMAPELEMENT, sizeof(CDMAPELEMENT)),
  Plain(ODS_CDAREAELEMENT, sizeof(CDAREAELEMENT)),
  Plain(ODS_CDEMBEDDEDCTL, sizeof(CDEMBEDDEDCTL)),
  Plain(ODS_CDEVENT, sizeof(CDEVENT)),
  Plain(ODS_CDPRETABLEBEGIN, sizeof(CDPRETABLEBEGIN)),
  Plain(ODS_CDCOLOR, sizeof(CDCOLOR)),
  Plain(ODS_CDBORDERINFO, sizeof(CDBORDERINFO)),
  Plain(ODS_CDBLOBPART, sizeof(CDBLOBPART)),
  LongHeaded(ODS_CDIMAGEHEADER, sizeof(CDIMAGEHEADER)),
  LongHeaded(ODS_CDIMAGESEGMENT, sizeof(CDIMAGESEGMENT)),
  Plain(ODS_CDIDNAME, sizeof(CDIDNAME)),
  Plain(ODS_CDCAPTION, sizeof(CDCAPTION)),
  Plain(ODS_CDPOSITIONING, sizeof(CDPOSITIONING)),
  Plain(ODS_CDBOXSIZE, sizeof(CDBOXSIZE)),
  Plain(ODS_CDBACKGROUNDPROPERTIES, sizeof(CDBACKGROUNDPROPERTIES)),
  LongHeaded(ODS_CDFILEHEADER, sizeof(CDFILEHEADER)),
  LongHeaded(ODS_CDFILESEGMENT, sizeof(CDFILESEGMENT)),
  Plain(ODS_CDTABLEDATAEXTENSION, sizeof(CDTABLEDATAEXTENSION)),

  /* records kept as opaque fixed parts */
  Plain(ODS_CD_FF8F, 12),
  Plain(ODS_CD_FF84, 36),
  LongHeaded(ODS_CDBITMAPSEGMENT, 20),
  LongHeaded(ODS_CDCOLORTABLE, 8),
  LongHeaded(ODS_CDPATTERNTABLE, 8),
  LongHeaded(ODS_CD_009E, 28),
  LongHeaded(ODS_CD_009F, 28),
  LongHeaded(ODS_CD_00A0, 20),
  LongHeaded(ODS_CD_009D, 20),
  LongHeaded(ODS_CD_009A, 12),
  LongHeaded(ODS_CD_009B, 12),
  LongHeaded(ODS_CD_009C, 12),
  Plain(ODS_CD_FFA1, 288),
  Plain(ODS_CD_FFA2, 8),
  Plain(ODS_CDOLEBEGIN, 20),
  Plain(ODS_CDOLEEND, 8),
  Plain(ODS_CD_FFBE, 24),
  Plain(ODS_CDEXTFIELD, 20),
  Plain(ODS_CDLAYOUTTEXT, 44),
  Plain(ODS_CDLAYOUTEND, 18),
  Plain(ODS_CD_FFBF, 52),
  Plain(ODS_CD_00BD, 28),
  Plain(ODS_CD_FFC1, sizeof(CDOLEOBJ_INFO)),
  Plain(ODS_CD_00C0, 44),
  Plain(ODS_CD_00C2, 44),
  Plain(ODS_CD_FFB1, 12),
  Plain(ODS_CD_FFB2, 6),
  Plain(ODS_CD_FFB3, 6),
  LongHeaded(ODS_CD_00C5, 12),
  Plain(ODS_CD_FFC6, 20),
  Plain(ODS_CD_00C7, 8),
  Plain(ODS_CD_FFC8, 8),
  Plain(ODS_CDANCHOR, 12),
  Plain(ODS_CDHRULE, 16),
  Plain(ODS_CDHTMLBEGIN, 8),
  Plain(ODS_CDHTMLEND, 8),
  Plain(ODS_CD_FFCE, 12),
  Plain(ODS_CD_00E2, 4),
  Plain(ODS_CD_FFE8, 14),
  Plain(ODS_CD_FFED, 32),
  Plain(ODS_CD_FFEC, 272),
  Plain(ODS_CD_FFE6, 46),
  Plain(ODS_CD_FFE7, 42),
  Plain(ODS_CD_FFEE, 12),
  Plain(ODS_CD_FFEF, 24),
  Plain(ODS_CD_FFF0, 52),
  Plain(ODS_CD_FFF1, 40),
  Plain(ODS_CDEXT2FIELD, 88),
  Plain(ODS_CD_FFFD, 116),
  Plain(ODS_CD_FF79, 112),
  Plain(ODS_CD_FF77, 44),
  Plain(ODS_CD_FFE9, 16),
  Plain(ODS_CD_FF73, 28),
  Plain(ODS_CD_FF70, 6),
  Plain(ODS_CD_006E, 8),
  Plain(ODS_CD_FF6D, 28),
  Plain(ODS_CDLAYER, 20),
  Plain(ODS_CD_FFFF, 64),
  Plain(ODS_CD_FF69, 160),
  Plain(ODS_CD_FF80, 156),
  Plain(ODS_CDTABRECORD, 12),
  Plain(ODS_CD_FF5F, 16),
  Plain(ODS_CD_FF5E, 28),
  Plain(ODS_CD_FF5D, 64),
  Plain(ODS_CDLARGEPARAGRAPH, 16),
  Plain(ODS_CDIGNORED, 32),
};
// clang-format on

constexpr size_t kTypeLimit = 1024;

/* Layouts indexed by type; host_size 0 marks a type that is not known. */
constexpr std::array<ods_layout, kTypeLimit> MakeIndex() {
  std::array<ods_layout, kTypeLimit> index{};
  for (const ods_layout& layout : kLayouts)
    index[layout.type] = layout;
  return index;
}

constexpr std::array<ods_layout, kTypeLimit> kIndex = MakeIndex();

constexpr bool EveryTypeOnce() {
  size_t known = 0;
  for (const ods_layout& layout : kIndex)
    known += layout.host_size != 0 ? 1 : 0;
  return known == std::size(kLayouts);
}
static_assert(EveryTypeOnce(), "each ODS type is listed once");

const ods_layout* FindLayout(WORD type) {
  if (type >= kTypeLimit || kIndex[type].host_size == 0)
    return nullptr;
  return &kIndex[type];
}

WORD StoredSize(const ods_layout& layout) {
  return static_cast<WORD>(layout.host_size - layout.pad_length);
}

void ReportUnknownType(const char* call, WORD type) {
  AddInLogMessageText("%s: ODS type %u", ERR_HOST_ODS_TYPE, call, static_cast<unsigned>(type));
}

/* ---- record enumeration ---- */

struct stored_header {
  WORD signature = 0; /* as the record list holds it */
  DWORD length = 0;
};

/* Reads and checks the stored header at data, with remaining bytes left in
 * the value: a known header form that fits, a non-zero signature and a
 * length from the header's size up to what remains. */
bool ReadStoredHeader(const BYTE* data, size_t remaining, stored_header* header) {
  if (remaining < BSIG_HEADER_SIZE || data[0] == 0)
    return false;
  DWORD headerSize = BSIG_HEADER_SIZE;
  switch (HeaderKindOfSecondByte(data[1])) {
  case CD_HEADER_BSIG:
    header->signature = data[0];
    header->length = data[1];
    break;
  case CD_HEADER_WSIG: {
    headerSize = WSIG_HEADER_SIZE;
    if (remaining < headerSize)
      return false;
    WORD length = 0;
    std::memcpy(&length, data + 2, sizeof length);
    header->signature = static_cast<WORD>(0xFF00 | data[0]);
    header->length = length;
    break;
  }
  case CD_HEADER_LSIG: {
    headerSize = LSIG_STORED_HEADER_SIZE;
    if (remaining < headerSize)
      return false;
    DWORD length = 0;
    std::memcpy(&length, data + 2, sizeof length);
    header->signature = data[0];
    header->length = length;
    break;
  }
  }
  return header->length >= headerSize && header->length <= remaining;
}

STATUS WalkRecords(BYTE* data, size_t remaining, ActionRoutinePtr actionRoutine, void* context) {
  while (remaining > 0) {
    stored_header header;
    if (!ReadStoredHeader(data, remaining, &header))
      return ERR_HOST_BAD_RECORD;
    STATUS status =
        actionRoutine(reinterpret_cast<char*>(data), header.signature, header.length, context);
    if (status != NOERROR)
      return status;
    // An odd record is followed by a pad byte; the last one may lack it.
    size_t step = header.length + (header.length & 1u);
    if (step > remaining)
      step = remaining;
    data += step;
    remaining -= step;
  }
  return NOERROR;
}

/* The records of a value that begins with its type word. */
STATUS WalkCompositeValue(BYTE* value, size_t length, ActionRoutinePtr actionRoutine,
                          void* context) {
  WORD type = 0;
  if (length < sizeof type)
    return ERR_HOST_NOT_COMPOSITE;
  std::memcpy(&type, value, sizeof type);
  if (type != TYPE_COMPOSITE)
    return ERR_HOST_NOT_COMPOSITE;
  return WalkRecords(value + sizeof type, length - sizeof type, actionRoutine, context);
}

bool ReadWholeFile(const char* fileName, std::vector<BYTE>* content) {
  const std::unique_ptr<FILE, int (*)(FILE*)> file(std::fopen(fileName, "rb"), std::fclose);
  if (file == nullptr)
    return false;
  BYTE chunk[8192];
  size_t got = 0;
  while ((got = std::fread(chunk, 1, sizeof chunk, file.get())) > 0)
    content->insert(content->end(), chunk, chunk + got);
  return std::ferror(file.get()) == 0;
}

} // namespace

extern "C" {

WORD ODSLength(WORD type) {
  const ods_layout* layout = FindLayout(type);
  return layout != nullptr ? StoredSize(*layout) : 0;
}

void ODSReadMemory(const void** ppSrc, WORD type, void* pDest, WORD iterations) {
  if (ppSrc == nullptr || *ppSrc == nullptr || pDest == nullptr)
    return;
  const ods_layout* layout = FindLayout(type);
  if (layout == nullptr) {
    ReportUnknownType("ODSReadMemory", type);
    return;
  }
  const WORD stored = StoredSize(*layout);
  const WORD before = layout->pad_length != 0 ? layout->pad_offset : stored;
  auto* source = static_cast<const BYTE*>(*ppSrc);
  auto* dest = static_cast<BYTE*>(pDest);
  for (WORD i = 0; i < iterations; ++i) {
    std::memcpy(dest, source, before);
    std::memset(dest + before, 0, layout->pad_length);
    std::memcpy(dest + before + layout->pad_length, source + before, stored - before);
    source += stored;
    dest += layout->host_size;
  }
  *ppSrc = source;
}

void ODSWriteMemory(void** ppDest, WORD type, const void* pSrc, WORD iterations) {
  if (ppDest == nullptr || *ppDest == nullptr || pSrc == nullptr)
    return;
  const ods_layout* layout = FindLayout(type);
  if (layout == nullptr) {
    ReportUnknownType("ODSWriteMemory", type);
    return;
  }
  const WORD stored = StoredSize(*layout);
  const WORD before = layout->pad_length != 0 ? layout->pad_offset : stored;
  auto* source = static_cast<const BYTE*>(pSrc);
  auto* dest = static_cast<BYTE*>(*ppDest);
  for (WORD i = 0; i < iterations; ++i) {
    std::memcpy(dest, source, before);
    std::memcpy(dest + before, source + before + layout->pad_length, stored - before);
    source += layout->host_size;
    dest += stored;
  }
  *ppDest = dest;
}

// A caller's action routine that runs out of memory by throwing ends the
// walk with ERR_MEMORY, as any status of its own would.
STATUS EnumCompositeBuffer(BLOCKID itemValue, DWORD itemValueLength,
                           ActionRoutinePtr actionRoutine, void* context) {
  if (actionRoutine == nullptr)
    return ERR_HOST_BAD_ARGUMENT;
  auto* value = static_cast<BYTE*>(OSLockBlock(itemValue));
  if (value == nullptr)
    return ERR_HOST_BAD_HANDLE;
  // A length that runs past the memory object would have the walk read
  // beyond it.
  if (itemValueLength > OSMemGetSize(itemValue.pool) - itemValue.block) {
    OSUnlockBlock(itemValue);
    return ERR_HOST_BAD_ARGUMENT;
  }
  const STATUS status = velko::host::GuardedStatus(
      [&] { return WalkCompositeValue(value, itemValueLength, actionRoutine, context); });
  OSUnlockBlock(itemValue);
  return status;
}

STATUS EnumCompositeFile(const char* fileName, ActionRoutinePtr actionRoutine, void* context) {
  if (fileName == nullptr || actionRoutine == nullptr)
    return ERR_HOST_BAD_ARGUMENT;
  return velko::host::GuardedStatus([&]() -> STATUS {
    std::vector<BYTE> content;
    if (!ReadWholeFile(fileName, &content))
      return ERR_HOST_FILE_IO;
    const STATUS status =
        WalkCompositeValue(content.data(), content.size(), actionRoutine, context);
    return status == ERR_HOST_NOT_COMPOSITE ? ERR_HOST_BAD_CD_FILE : status;
  });
}

} // extern "C"
