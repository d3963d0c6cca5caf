/*
 * Conversion of single CD records between stored (canonical) form and host
 * form: the four VelkoRTItem members CanonicalLength, NonCanonicalLength,
 * ConvertFromCanonicalData and ConvertToCanonicalData, the signature table
 * they dispatch on, and the item's two conversion buffers.
 *
 * A record's fixed part is converted by the host's ODS calls with the ODS
 * type of its signature; resource records, paragraph definitions and style
 * names carry a variable part that is converted piece by piece; whatever
 * follows is copied as it is. Every length read from a record is bounded by
 * the record. Loading and writing whole bodies is not done here.
 */
#include "store/canonical.h"

#include <array>
#include <cstring>

#include "host/ods.h"
#include "store/rtitem_internal.h"
#include "store/tracked_memory.h"

namespace {

/* ---- the signature table ---- */

struct signature_row {
  WORD signature;
  WORD ods_type;
  WORD host_size; /* 0: no fixed layout, copied as it is */
};

// clang-format off
constexpr signature_row kSignatureRows[] = {
  {0x0059, ODS_CDIGNORED, 32},
  {0x0060, ODS_CDFILESEGMENT, 20},
  {0x0061, ODS_CDFILEHEADER, 28},
  {0x0062, ODS_CDTABRECORD, 12},
  {0x0063, ODS_CDBACKGROUNDPROPERTIES, 52},
  {0x006A, ODS_CDBOXSIZE, 116},
  {0x006B, ODS_CDPOSITIONING, 88},
  {0x006C, ODS_CDLAYER, 20},
  {0x006E, ODS_CD_006E, 8},
  {0x006F, ODS_CD_006E, 8},
  {0x0072, ODS_CDCOLOR, 8},
  {0x007C, ODS_CDIMAGESEGMENT, 12},
  {0x007D, ODS_CDIMAGEHEADER, 32},
  {0x007F, ODS_CDHOTSPOTEND, 2},
  {0x0080, ODS_CDDOCUMENT, 24},
  {0x0081, ODS_CDPARAGRAPH, 2},
  {0x0083, ODS_CDPABREFERENCE, 4},
  {0x0086, ODS_CDDOCUMENT, 24},
  {0x008C, ODS_CDLINK2, 6},
  {0x008D, ODS_CDLINKEXPORT2, 44},
  {0x0095, ODS_CDBITMAPHEADER, 40},
  {0x0096, ODS_CDBITMAPSEGMENT, 20},
  {0x0097, ODS_CDCOLORTABLE, 8},
  {0x0098, ODS_CDPATTERNTABLE, 8},
  {0x0099, ODS_CDGRAPHIC, 32},
  {0x009A, ODS_CD_009A, 12},
  {0x009B, ODS_CD_009B, 12},
  {0x009C, ODS_CD_009C, 12},
  {0x009D, ODS_CD_009D, 20},
  {0x009E, ODS_CD_009E, 28},
  {0x009F, ODS_CD_009F, 28},
  {0x00A0, ODS_CD_00A0, 20},
  {0x00A3, ODS_CDTABLEBEGIN, 14},
  {0x00A4, ODS_CDTABLECELL, 18},
  {0x00A5, ODS_CDTABLEEND, 8},
  {0x00A6, ODS_CDSTYLENAME, 48},
  {0x00AA, ODS_CDHOTSPOTEND, 2},
  {0x00AE, ODS_CDHOTSPOTEND, 2},
  {0x00B7, ODS_CDLAYOUT, 28},
  {0x00B8, ODS_CDLAYOUTTEXT, 44},
  {0x00B9, ODS_CDLAYOUTEND, 18},
  {0x00BA, ODS_CDLAYOUTFIELD, 44},
  {0x00BC, ODS_CDPABFORMULAREF, 6},
  {0x00BD, ODS_CD_00BD, 28},
  {0x00C0, ODS_CD_00C0, 44},
  {0x00C2, ODS_CD_00C2, 44},
  {0x00C5, ODS_CD_00C5, 12},
  {0x00C7, ODS_CD_00C7, 8},
  {0x00CF, ODS_CDTABLEBEGIN, 14},
  {0x00D0, ODS_CDTABLECELL, 18},
  {0x00D1, ODS_CDTABLEEND, 8},
  {0x00D2, ODS_CDCOLOR, 8},
  {0x00D3, ODS_CDCOLOR, 8},
  {0x00DD, ODS_CDBEGINRECORD, 6},
  {0x00DE, ODS_CDENDRECORD, 6},
  {0x00DF, ODS_CDVERTICALALIGN, 4},
  {0x00E0, ODS_CDFLOAT, 4},
  {0x00E1, ODS_CDTIMERINFO, 16},
  {0x00E2, ODS_CD_00E2, 4},
  {0xFF5A, ODS_CDRESOURCE, 28},
  {0xFF5B, ODS_CDRESOURCE, 28},
  {0xFF5C, ODS_CDTABLEDATAEXTENSION, 48},
  {0xFF5D, ODS_CD_FF5D, 64},
  {0xFF5E, ODS_CD_FF5E, 28},
  {0xFF5F, ODS_CD_FF5F, 16},
  {0xFF65, ODS_CDBLOBPART, 18},
  {0xFF66, ODS_CDEVENT, 32},
  {0xFF68, ODS_CDLARGEPARAGRAPH, 16},
  {0xFF69, ODS_CD_FF69, 160},
  {0xFF6D, ODS_CD_FF6D, 28},
  {0xFF70, ODS_CD_FF70, 6},
  {0xFF71, ODS_CDRESOURCE, 28},
  {0xFF73, ODS_CD_FF73, 28},
  {0xFF74, ODS_CDHOTSPOTBEGIN, 16},
  {0xFF75, ODS_CDTARGET, 12},
  {0xFF76, ODS_CDCAPTION, 32},
  {0xFF77, ODS_CD_FF77, 44},
  {0xFF78, ODS_CDRESOURCE, 28},
  {0xFF79, ODS_CD_FF79, 112},
  {0xFF7A, ODS_CDIDNAME, 26},
  {0xFF7B, ODS_CDIDNAME, 26},
  {0xFF7E, ODS_CDHOTSPOTBEGIN, 16},
  {0xFF80, ODS_CD_FF80, 156},
  {0xFF82, ODS_CDPABDEFINITION, 72},
  {0xFF84, ODS_CD_FF84, 36},
  {0xFF85, ODS_CDTEXT, 8},
  {0xFF87, ODS_CD_FF87, 0},
  {0xFF88, ODS_CD_FF88, 0},
  {0xFF8A, ODS_CDFIELD, 40},
  {0xFF8B, ODS_CDFONTTABLE, 6},
  {0xFF8E, ODS_CDHEADER, 48},
  {0xFF8F, ODS_CD_FF8F, 12},
  {0xFF91, ODS_CDLINK2, 6},
  {0xFF92, ODS_CDLINKEXPORT2, 44},
  {0xFFA1, ODS_CD_FFA1, 288},
  {0xFFA2, ODS_CD_FFA2, 8},
  {0xFFA7, ODS_CDOLEBEGIN, 20},
  {0xFFA8, ODS_CDOLEEND, 8},
  {0xFFA9, ODS_CDHOTSPOTBEGIN, 16},
  {0xFFAB, ODS_CDBUTTON, 16},
  {0xFFAC, ODS_CDBAR, 12},
  {0xFFAD, ODS_CDHOTSPOTBEGIN, 16},
  {0xFFB0, ODS_CDEXTFIELD, 20},
  {0xFFB1, ODS_CD_FFB1, 12},
  {0xFFB2, ODS_CD_FFB2, 6},
  {0xFFB3, ODS_CD_FFB3, 6},
  {0xFFBB, ODS_CDPABHIDE, 14},
  {0xFFBE, ODS_CD_FFBE, 24},
  {0xFFBF, ODS_CD_FFBF, 52},
  {0xFFC1, ODS_CD_FFC1, 48},
  {0xFFC3, ODS_CDTEXTEFFECT, 8},
  {0xFFC4, ODS_CDSTORAGELINK, 24},
  {0xFFC6, ODS_CD_FFC6, 20},
  {0xFFC8, ODS_CD_FFC8, 8},
  {0xFFC9, ODS_CDHRULE, 16},
  {0xFFCA, ODS_CDALTTEXT, 12},
  {0xFFCB, ODS_CDANCHOR, 12},
  {0xFFCC, ODS_CDHTMLBEGIN, 8},
  {0xFFCD, ODS_CDHTMLEND, 8},
  {0xFFCE, ODS_CD_FFCE, 12},
  {0xFFDC, ODS_CDBLOBPART, 18},
  {0xFFE3, ODS_CDTABLELABEL, 140},
  {0xFFE4, ODS_CDTEXT, 8},
  {0xFFE5, ODS_CDTEXTEFFECT, 8},
  {0xFFE6, ODS_CD_FFE6, 46},
  {0xFFE7, ODS_CD_FFE7, 42},
  {0xFFE8, ODS_CD_FFE8, 14},
  {0xFFE9, ODS_CD_FFE9, 16},
  {0xFFEA, ODS_CDEMBEDDEDCONTROL, 64},
  {0xFFEC, ODS_CD_FFEC, 272},
  {0xFFED, ODS_CD_FFED, 32},
  {0xFFEE, ODS_CD_FFEE, 12},
  {0xFFEF, ODS_CD_FFEF, 24},
  {0xFFF0, ODS_CD_FFF0, 52},
  {0xFFF1, ODS_CD_FFF1, 40},
  {0xFFF2, ODS_CDTARGET, 12},
  {0xFFF4, ODS_CDMAPELEMENT, 36},
  {0xFFF5, ODS_CDAREAELEMENT, 32},
  {0xFFF6, ODS_CDRESOURCE, 28},
  {0xFFF7, ODS_CDEMBEDDEDCTL, 36},
  {0xFFF8, ODS_CDALTTEXT, 12},
  {0xFFF9, ODS_CDEVENT, 32},
  {0xFFFB, ODS_CDPRETABLEBEGIN, 48},
  {0xFFFC, ODS_CDBORDERINFO, 60},
  {0xFFFD, ODS_CD_FFFD, 116},
  {0xFFFE, ODS_CDEXT2FIELD, 88},
  {0xFFFF, ODS_CD_FFFF, 64},
};
// clang-format on

constexpr size_t kSignatureSlots = 512;

/* Slot of a signature: 0x00nn in the first half, 0xFFnn in the second;
 * any other high byte has no slot. */
constexpr int SignatureSlot(WORD signature) {
  const WORD high = signature & 0xFF00;
  if (high == 0x0000)
    return signature & 0xFF;
  if (high == 0xFF00)
    return 256 + (signature & 0xFF);
  return -1;
}

constexpr std::array<cd_signature_entry, kSignatureSlots> MakeSignatureIndex() {
  std::array<cd_signature_entry, kSignatureSlots> index{};
  for (const signature_row& row : kSignatureRows) {
    cd_signature_entry& entry = index[SignatureSlot(row.signature)];
    entry.ods_type = row.ods_type;
    entry.host_size = row.host_size;
    entry.kind = HeaderKindOfSignature(row.signature);
    entry.known = true;
    entry.raw = row.host_size == 0;
  }
  return index;
}

constexpr std::array<cd_signature_entry, kSignatureSlots> kSignatureIndex = MakeSignatureIndex();

constexpr bool EverySignatureOnce() {
  size_t known = 0;
  for (const cd_signature_entry& entry : kSignatureIndex)
    known += entry.known ? 1 : 0;
  return known == std::size(kSignatureRows);
}
static_assert(EverySignatureOnce(), "each signature is listed once");

/* ---- record headers ---- */

/* True when the record holds a whole header of the kind its signature
 * should have. A record whose header form differs is not what the table
 * describes and is carried over unchanged. */
bool HeaderFits(const BYTE* record, DWORD length, cd_header_kind kind, WORD headerSize) {
  return length >= headerSize && HeaderKindOfSecondByte(record[1]) == kind;
}

/* Writes a record length into a header; LSIG lengths sit at offset 4 in
 * host form and at offset 2 in stored form. */
void WriteLength(BYTE* record, cd_header_kind kind, bool hostForm, DWORD length) {
  switch (kind) {
  case CD_HEADER_BSIG:
    record[1] = static_cast<BYTE>(length);
    return;
  case CD_HEADER_WSIG: {
    const WORD word = static_cast<WORD>(length);
    std::memcpy(record + 2, &word, sizeof word);
    return;
  }
  case CD_HEADER_LSIG:
    std::memcpy(record + (hostForm ? 4 : 2), &length, sizeof length);
    return;
  }
}

/* ---- conversion buffers ---- */

void ReleaseConversionBuffer(VelkoRTItem* item, int which) {
  _internal_RTITEM* state = item->internal;
  if (state->conversion[which] == nullptr)
    return;
  VelkoDeallocate(item->session, state->conversion[which]);
  state->conversion[which] = nullptr;
  state->conversion_held[which] = 0;
}

bool LiesIn(const void* data, const BYTE* buffer) {
  auto* p = static_cast<const BYTE*>(data);
  return buffer != nullptr && p >= buffer && p < buffer + kConversionBufferSize;
}

/* ---- one record ---- */

enum class direction { to_host, to_stored };

/* A record being converted: source and output with their positions. The
 * source length bounds every read; the output, a conversion buffer, has
 * room for the longest record accepted plus the two bytes it can grow by. */
struct record_conversion {
  direction way;
  const BYTE* source;
  DWORD length;
  BYTE* output;
  DWORD read = 0;
  DWORD written = 0;

  DWORD SourceSize(WORD odsType, WORD hostSize) const {
    return way == direction::to_host ? ODSLength(odsType) : hostSize;
  }
  DWORD OutputSize(WORD odsType, WORD hostSize) const {
    return way == direction::to_host ? hostSize : ODSLength(odsType);
  }

  /* Converts count structures of the type when the record holds them. */
  bool Structures(WORD odsType, WORD hostSize, WORD count) {
    const DWORD in = SourceSize(odsType, hostSize) * count;
    if (in > length - read)
      return false;
    if (way == direction::to_host) {
      const void* from = source + read;
      ODSReadMemory(&from, odsType, output + written, count);
    } else {
      void* to = output + written;
      ODSWriteMemory(&to, odsType, source + read, count);
    }
    read += in;
    written += OutputSize(odsType, hostSize) * count;
    return true;
  }

  /* Copies bytes as they are when the record holds them. */
  bool Bytes(DWORD count) {
    if (count > length - read)
      return false;
    std::memcpy(output + written, source + read, count);
    read += count;
    written += count;
    return true;
  }

  void Rest() { Bytes(length - read); }

  /* The host form of the fixed part: converted output or the source. */
  const BYTE* HostFixedPart() const { return way == direction::to_host ? output : source; }
};

WORD ReadWord(const BYTE* data, size_t offset) {
  WORD value = 0;
  std::memcpy(&value, data + offset, sizeof value);
  return value;
}

DWORD ReadDword(const BYTE* data, size_t offset) {
  DWORD value = 0;
  std::memcpy(&value, data + offset, sizeof value);
  return value;
}

/* Resource records: the hints, then the resource's data by its type. A
 * part that the record does not hold ends the piecewise conversion; the
 * rest is copied as it is. */
void ConvertResourceTail(record_conversion& conversion) {
  const BYTE* fixed = conversion.HostFixedPart();
  const DWORD flags = ReadDword(fixed, offsetof(CDRESOURCE, Flags));
  const WORD type = ReadWord(fixed, offsetof(CDRESOURCE, Type));
  const WORD dataLength = ReadWord(fixed, offsetof(CDRESOURCE, Length1));
  if (!conversion.Bytes(ReadWord(fixed, offsetof(CDRESOURCE, ServerHintLength))) ||
      !conversion.Bytes(ReadWord(fixed, offsetof(CDRESOURCE, FileHintLength))))
    return;
  switch (type) {
  case 1:
  case 5:
    conversion.Bytes(dataLength);
    return;
  case 2: {
    const bool inlineLink = (flags & CDRESOURCE_FLAGS_NOTELINK_INLINE) != 0;
    const bool linked = inlineLink ? conversion.Structures(ODS_NOTELINK, sizeof(NOTELINK), 1)
                                   : conversion.Structures(ODS_WORD, sizeof(WORD), 1);
    if (linked)
      conversion.Bytes(dataLength);
    return;
  }
  case 3:
    if (conversion.Structures(ODS_TIMEDATE, sizeof(TIMEDATE), 1))
      conversion.Bytes(dataLength);
    return;
  default:
    return;
  }
}

/* Paragraph definitions: six margin words, the extension flags and the
 * third flags word, each only when the record holds it. */
void ConvertParagraphExtensions(record_conversion& conversion) {
  if (conversion.Structures(ODS_WORD, sizeof(WORD), 6) &&
      conversion.Structures(ODS_DWORD, sizeof(DWORD), 1))
    conversion.Structures(ODS_DWORD, sizeof(DWORD), 1);
}

void ConvertVariablePart(record_conversion& conversion, WORD odsType) {
  switch (odsType) {
  case ODS_CDRESOURCE:
    ConvertResourceTail(conversion);
    return;
  case ODS_CDPABDEFINITION:
    ConvertParagraphExtensions(conversion);
    return;
  case ODS_CDSTYLENAME:
    conversion.Structures(ODS_WORD, sizeof(WORD), 1);
    return;
  default:
    return;
  }
}

/* A record shorter than its fixed part: only an LSIG header is converted
 * (a header is always whole here); anything else is copied as it is, which
 * keeps it right because the only other pads lie at the fixed part's end. */
DWORD ConvertShortRecord(record_conversion& conversion, cd_header_kind kind) {
  if (kind != CD_HEADER_LSIG) {
    conversion.Rest();
    return conversion.written;
  }
  conversion.Bytes(2); /* the signature */
  if (conversion.way == direction::to_host) {
    std::memset(conversion.output + conversion.written, 0, 2);
    conversion.written += 2;
  } else {
    conversion.read += 2;
  }
  conversion.Rest();
  return conversion.written;
}

/* Converts the record into the output and returns its new length. */
DWORD ConvertRecord(record_conversion& conversion, const cd_signature_entry& entry) {
  const DWORD fixedSource = conversion.SourceSize(entry.ods_type, entry.host_size);
  if (conversion.length < fixedSource)
    return ConvertShortRecord(conversion, entry.kind);
  conversion.Structures(entry.ods_type, entry.host_size, 1);
  ConvertVariablePart(conversion, entry.ods_type);
  conversion.Rest();
  return conversion.written;
}

/* Converts a record whose source lies at source (the caller's record or a
 * copy in buffer B) into buffer A. */
char* Convert(direction way, const BYTE* source, WORD signature, DWORD* length, BYTE* output) {
  const DWORD recordLength = *length;
  const cd_signature_entry* entry = LookupCDSignature(signature);
  const bool toHost = way == direction::to_host;
  if (entry == nullptr || entry->raw ||
      !HeaderFits(source, recordLength, entry->kind,
                  toHost ? StoredHeaderSize(entry->kind) : HostHeaderSize(entry->kind))) {
    std::memmove(output, source, recordLength);
    return reinterpret_cast<char*>(output);
  }
  record_conversion conversion{way, source, recordLength, output};
  const DWORD newLength = ConvertRecord(conversion, *entry);
  if (newLength != recordLength) {
    WriteLength(output, entry->kind, toHost, newLength);
    *length = newLength;
  }
  return reinterpret_cast<char*>(output);
}

} // namespace

const cd_signature_entry* LookupCDSignature(WORD signature) {
  const int slot = SignatureSlot(signature);
  if (slot < 0 || !kSignatureIndex[slot].known)
    return nullptr;
  return &kSignatureIndex[slot];
}

namespace {

/* Per slot, read once from the host's ODS sizes: the stored size of the
 * fixed part (0 for a signature outside the table or copied raw), and
 * whether converting to host form changes the record (what Convert does
 * with it): a known, not raw signature whose header is LSIG (the host
 * header is longer) or whose fixed part is longer in host form. */
struct form_table {
  cd_record_forms forms{};

  form_table() {
    static_assert(std::size(cd_record_forms{}.slots) == kSignatureSlots + 1);
    for (size_t slot = 0; slot < kSignatureSlots; ++slot) {
      const cd_signature_entry& entry = kSignatureIndex[slot];
      if (!entry.known || entry.raw)
        continue;
      cd_record_form& form = forms.slots[slot];
      form.stored_fixed = ODSLength(entry.ods_type);
      form.converts = entry.kind == CD_HEADER_LSIG || form.stored_fixed != entry.host_size;
    }
  }
};

} // namespace

const cd_record_forms* RecordForms() {
  static const form_table table;
  return &table.forms;
}

BYTE* ConversionBuffer(VelkoRTItem* item, int which) {
  _internal_RTITEM* state = item->internal;
  if (state->conversion[which] == nullptr) {
    velko_allocation* block =
        VelkoAllocate(item->session, VELKO_HERE, kConversionBufferSize, 0);
    if (block == nullptr || block->data == nullptr) {
      VelkoDeallocate(item->session, block);
      return nullptr;
    }
    state->conversion[which] = block;
    state->conversion_held[which] = 1;
  }
  return static_cast<BYTE*>(state->conversion[which]->data);
}

void ReleaseConversionBuffers(VelkoRTItem* item) {
  if (item == nullptr || item->internal == nullptr)
    return;
  ReleaseConversionBuffer(item, kConversionBufferA);
  ReleaseConversionBuffer(item, kConversionBufferB);
}

WORD VelkoRTItem::CanonicalLength(WORD signature, WORD length) {
  const cd_signature_entry* entry = LookupCDSignature(signature);
  if (entry == nullptr || entry->raw)
    return length;
  return ODSLength(entry->ods_type);
}

WORD VelkoRTItem::NonCanonicalLength(WORD signature, WORD length) {
  const cd_signature_entry* entry = LookupCDSignature(signature);
  if (entry == nullptr || entry->raw)
    return length;
  return entry->host_size;
}

char* VelkoRTItem::ConvertFromCanonicalData(const char* record, WORD signature, DWORD* length) {
  if (internal == nullptr)
    return nullptr;
  internal->conversion_status = VELKO_ERR_FAILED;
  if (record == nullptr || length == nullptr || *length > kLargestConvertedRecord)
    return nullptr;
  BYTE* output = ConversionBuffer(this, kConversionBufferA);
  if (output == nullptr) {
    internal->conversion_status = VELKO_ERR_MEMORY;
    return nullptr;
  }
  auto* source = reinterpret_cast<const BYTE*>(record);
  if (LiesIn(source, output)) {
    // The record would be overwritten while it is read: work from a copy.
    BYTE* copy = ConversionBuffer(this, kConversionBufferB);
    if (copy == nullptr) {
      internal->conversion_status = VELKO_ERR_MEMORY;
      return nullptr;
    }
    std::memmove(copy, source, *length);
    source = copy;
  }
  internal->conversion_status = VELKO_OK;
  return Convert(direction::to_host, source, signature, length, output);
}

char* VelkoRTItem::ConvertToCanonicalData(const char* record, WORD signature, DWORD* length) {
  if (internal == nullptr)
    return nullptr;
  internal->conversion_status = VELKO_ERR_FAILED;
  if (record == nullptr || length == nullptr || *length > kLargestConvertedRecord)
    return nullptr;
  const bool hadOutput = internal->conversion[kConversionBufferA] != nullptr;
  BYTE* output = ConversionBuffer(this, kConversionBufferA);
  BYTE* copy = output != nullptr ? ConversionBuffer(this, kConversionBufferB) : nullptr;
  if (copy == nullptr) {
    if (!hadOutput)
      ReleaseConversionBuffer(this, kConversionBufferA);
    internal->conversion_status = VELKO_ERR_MEMORY;
    return nullptr;
  }
  // The caller's record may lie in buffer A; it is read from B from here on.
  std::memmove(copy, record, *length);
  internal->conversion_status = VELKO_OK;
  return Convert(direction::to_stored, copy, signature, length, output);
}
