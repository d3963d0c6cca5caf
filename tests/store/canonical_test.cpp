// Conversion of single CD records between stored and host form: the
// signature table, padded and unpadded records, variable parts, the edge
// lengths, the conversion buffers and their failure.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <vector>

#include "host/cdrecords.h"
#include "host/host_testing.h"
#include "host/ods.h"
#include "store/canonical.h"
#include "store/rtitem_internal.h"
#include "store/session.h"

namespace {

using Bytes = std::vector<BYTE>;

struct TableRow {
  WORD signature;
  WORD ods_type;
  WORD host_size; /* 0: copied as it is */
};

// The signatures with a known fixed structure, their ODS types and host
// sizes.
const TableRow kTable[] = {
    {0x0059, 912, 32}, {0x0060, 836, 20}, {0x0061, 835, 28}, {0x0062, 834, 12}, {0x0063, 822, 52},
    {0x006A, 810, 116}, {0x006B, 809, 88}, {0x006C, 808, 20}, {0x006E, 766, 8}, {0x006F, 766, 8},
    {0x0072, 645, 8}, {0x007C, 706, 12}, {0x007D, 705, 32}, {0x007F, 231, 2}, {0x0080, 114, 24},
    {0x0081, 109, 2}, {0x0083, 111, 4}, {0x0086, 114, 24}, {0x008C, 72, 6}, {0x008D, 97, 44},
    {0x0095, 162, 40}, {0x0096, 163, 20}, {0x0097, 164, 8}, {0x0098, 165, 8}, {0x0099, 166, 32},
    {0x009A, 171, 12}, {0x009B, 172, 12}, {0x009C, 173, 12}, {0x009D, 170, 20}, {0x009E, 167, 28},
    {0x009F, 168, 28}, {0x00A0, 169, 20}, {0x00A3, 176, 14}, {0x00A4, 177, 18}, {0x00A5, 178, 8},
    {0x00A6, 188, 48}, {0x00AA, 231, 2}, {0x00AE, 231, 2}, {0x00B7, 343, 28}, {0x00B8, 344, 44},
    {0x00B9, 345, 18}, {0x00BA, 346, 44}, {0x00BC, 359, 6}, {0x00BD, 360, 28}, {0x00C0, 407, 44},
    {0x00C2, 466, 44}, {0x00C5, 541, 12}, {0x00C7, 555, 8}, {0x00CF, 176, 14}, {0x00D0, 177, 18},
    {0x00D1, 178, 8}, {0x00D2, 645, 8}, {0x00D3, 645, 8}, {0x00DD, 577, 6}, {0x00DE, 578, 6},
    {0x00DF, 579, 4}, {0x00E0, 580, 4}, {0x00E1, 581, 16}, {0x00E2, 582, 4}, {0xFF5A, 631, 28},
    {0xFF5B, 631, 28}, {0xFF5C, 857, 48}, {0xFF5D, 849, 64}, {0xFF5E, 848, 28}, {0xFF5F, 847, 16},
    {0xFF65, 695, 18}, {0xFF66, 637, 32}, {0xFF68, 909, 16}, {0xFF69, 818, 160},
    {0xFF6D, 767, 28}, {0xFF70, 765, 6}, {0xFF71, 631, 28}, {0xFF73, 756, 28}, {0xFF74, 230, 16},
    {0xFF75, 629, 12}, {0xFF76, 728, 32}, {0xFF77, 722, 44}, {0xFF78, 631, 28},
    {0xFF79, 719, 112}, {0xFF7A, 708, 26}, {0xFF7B, 708, 26}, {0xFF7E, 230, 16},
    {0xFF80, 833, 156}, {0xFF82, 110, 72}, {0xFF84, 112, 36}, {0xFF85, 113, 8}, {0xFF87, 115, 0},
    {0xFF88, 116, 0}, {0xFF8A, 118, 40}, {0xFF8B, 119, 6}, {0xFF8E, 117, 48}, {0xFF8F, 68, 12},
    {0xFF91, 72, 6}, {0xFF92, 97, 44}, {0xFFA1, 174, 288}, {0xFFA2, 175, 8}, {0xFFA7, 218, 20},
    {0xFFA8, 219, 8}, {0xFFA9, 230, 16}, {0xFFAB, 237, 16}, {0xFFAC, 308, 12}, {0xFFAD, 230, 16},
    {0xFFB0, 342, 20}, {0xFFB1, 482, 12}, {0xFFB2, 492, 6}, {0xFFB3, 493, 6}, {0xFFBB, 358, 14},
    {0xFFBE, 340, 24}, {0xFFBF, 350, 52}, {0xFFC1, 379, 48}, {0xFFC3, 508, 8}, {0xFFC4, 515, 24},
    {0xFFC6, 554, 20}, {0xFFC8, 556, 8}, {0xFFC9, 560, 16}, {0xFFCA, 561, 12}, {0xFFCB, 559, 12},
    {0xFFCC, 564, 8}, {0xFFCD, 565, 8}, {0xFFCE, 566, 12}, {0xFFDC, 695, 18}, {0xFFE3, 583, 140},
    {0xFFE4, 113, 8}, {0xFFE5, 508, 8}, {0xFFE6, 621, 46}, {0xFFE7, 622, 42}, {0xFFE8, 610, 14},
    {0xFFE9, 742, 16}, {0xFFEA, 611, 64}, {0xFFEC, 620, 272}, {0xFFED, 615, 32},
    {0xFFEE, 623, 12}, {0xFFEF, 626, 24}, {0xFFF0, 627, 52}, {0xFFF1, 628, 40}, {0xFFF2, 629, 12},
    {0xFFF4, 632, 36}, {0xFFF5, 633, 32}, {0xFFF6, 631, 28}, {0xFFF7, 636, 36}, {0xFFF8, 561, 12},
    {0xFFF9, 637, 32}, {0xFFFB, 640, 48}, {0xFFFC, 646, 60}, {0xFFFD, 674, 116},
    {0xFFFE, 672, 88}, {0xFFFF, 816, 64},
};

/* ---- record builders ---- */

void AppendWord(Bytes& bytes, WORD value) {
  bytes.push_back(static_cast<BYTE>(value));
  bytes.push_back(static_cast<BYTE>(value >> 8));
}

void AppendDword(Bytes& bytes, DWORD value) {
  AppendWord(bytes, static_cast<WORD>(value));
  AppendWord(bytes, static_cast<WORD>(value >> 16));
}

/* Appends counting bytes from seed until the record has length bytes. */
void FillTo(Bytes& bytes, size_t length, BYTE seed = 0x40) {
  while (bytes.size() < length)
    bytes.push_back(static_cast<BYTE>(seed + bytes.size()));
}

Bytes WordRecord(WORD signature, WORD length, BYTE seed = 0x40) {
  Bytes bytes;
  AppendWord(bytes, signature);
  AppendWord(bytes, length);
  FillTo(bytes, length, seed);
  return bytes;
}

Bytes ByteRecord(WORD signature, BYTE length) {
  Bytes bytes = {static_cast<BYTE>(signature), length};
  FillTo(bytes, length);
  return bytes;
}

/* An LSIG record whose body bytes are the same in both forms. */
Bytes StoredLong(WORD signature, DWORD length, const Bytes& body) {
  Bytes bytes;
  AppendWord(bytes, signature);
  AppendDword(bytes, length);
  bytes.insert(bytes.end(), body.begin(), body.end());
  return bytes;
}

Bytes HostLong(WORD signature, DWORD length, const Bytes& body) {
  Bytes bytes;
  AppendWord(bytes, signature);
  AppendWord(bytes, 0);
  AppendDword(bytes, length);
  bytes.insert(bytes.end(), body.begin(), body.end());
  return bytes;
}

Bytes Counting(size_t count, BYTE seed) {
  Bytes bytes;
  for (size_t i = 0; i < count; ++i)
    bytes.push_back(static_cast<BYTE>(seed + i));
  return bytes;
}

Bytes Join(std::initializer_list<Bytes> parts) {
  Bytes all;
  for (const Bytes& part : parts)
    all.insert(all.end(), part.begin(), part.end());
  return all;
}

/* ---- fixture ---- */

struct Converted {
  bool ok = false;
  Bytes bytes;
  DWORD length = 0;
};

class CanonicalTest : public ::testing::Test {
protected:
  void SetUp() override {
    HostTestReset();
    HostTestCaptureLog(true);
    session_ = std::make_unique<LSXLsiSession>();
    item_ = new VelkoRTItem(session_.get());
    ASSERT_NE(item_->internal, nullptr);
  }
  void TearDown() override {
    delete item_;
    session_.reset();
    HostTestReset();
  }

  Converted From(const Bytes& record, WORD signature) {
    return Run(record, signature, &VelkoRTItem::ConvertFromCanonicalData);
  }
  Converted To(const Bytes& record, WORD signature) {
    return Run(record, signature, &VelkoRTItem::ConvertToCanonicalData);
  }
  Converted Run(const Bytes& record, WORD signature,
                char* (VelkoRTItem::*convert)(const char*, WORD, DWORD*)) {
    Converted result;
    result.length = static_cast<DWORD>(record.size());
    const char* out =
        (item_->*convert)(reinterpret_cast<const char*>(record.data()), signature, &result.length);
    if (out == nullptr)
      return result;
    result.ok = true;
    result.bytes.assign(out, out + result.length);
    return result;
  }

  STATUS Status() const { return item_->internal->conversion_status; }
  velko_allocation* Buffer(int which) const { return item_->internal->conversion[which]; }

  std::unique_ptr<LSXLsiSession> session_;
  VelkoRTItem* item_ = nullptr;
};

/* ---- the signature table ---- */

bool PaddedType(WORD signature, WORD odsType) {
  return IsLongSignature(signature) || odsType == ODS_CDPABDEFINITION ||
         odsType == ODS_CDRESOURCE;
}

TEST_F(CanonicalTest, TableGivesHostAndStoredSizes) {
  int sized = 0;
  for (const TableRow& row : kTable) {
    SCOPED_TRACE(::testing::Message() << std::hex << row.signature);
    const cd_signature_entry* entry = LookupCDSignature(row.signature);
    ASSERT_NE(entry, nullptr);
    EXPECT_EQ(entry->ods_type, row.ods_type);
    if (row.host_size == 0) {
      EXPECT_EQ(item_->NonCanonicalLength(row.signature, 999), 999);
      EXPECT_EQ(item_->CanonicalLength(row.signature, 999), 999);
      continue;
    }
    ++sized;
    const WORD stored = row.host_size - (PaddedType(row.signature, row.ods_type) ? 2 : 0);
    EXPECT_EQ(item_->NonCanonicalLength(row.signature, 999), row.host_size);
    EXPECT_EQ(item_->CanonicalLength(row.signature, 999), stored);
    EXPECT_EQ(ODSLength(row.ods_type), stored);
    if (IsLongSignature(row.signature)) {
      EXPECT_GE(row.host_size, LSIG_HOST_HEADER_SIZE);
    }
  }
  EXPECT_EQ(sized, 145);
}

TEST_F(CanonicalTest, SignaturesOutsideTheTableKeepTheirLength) {
  for (WORD signature : {WORD{0x0000}, WORD{0x0064}, WORD{0x00FF}, WORD{0xFF60}, WORD{0xFF00},
                         WORD{0x1285}, WORD{0x0185}}) {
    EXPECT_EQ(LookupCDSignature(signature), nullptr) << std::hex << signature;
    EXPECT_EQ(item_->NonCanonicalLength(signature, 77), 77);
    EXPECT_EQ(item_->CanonicalLength(signature, 77), 77);
  }
}

TEST_F(CanonicalTest, HeaderKindsFollowTheSignature) {
  EXPECT_EQ(LookupCDSignature(0x0099)->kind, CD_HEADER_LSIG);
  EXPECT_EQ(LookupCDSignature(0x0060)->kind, CD_HEADER_LSIG);
  EXPECT_EQ(LookupCDSignature(0x00A4)->kind, CD_HEADER_BSIG);
  EXPECT_EQ(LookupCDSignature(0x00D1)->kind, CD_HEADER_BSIG);
  EXPECT_EQ(LookupCDSignature(0xFF85)->kind, CD_HEADER_WSIG);
  EXPECT_TRUE(LookupCDSignature(0xFF87)->raw);
  EXPECT_FALSE(LookupCDSignature(0xFF85)->raw);
}

/* ---- records with a long header ---- */

TEST_F(CanonicalTest, LongRecordsGainTheirHeaderPadAndLoseItAgain) {
  for (const TableRow& row : kTable) {
    if (!IsLongSignature(row.signature))
      continue;
    SCOPED_TRACE(::testing::Message() << std::hex << row.signature);
    const DWORD stored = row.host_size - 2 + 5; /* fixed part and an odd tail */
    const Bytes body = Counting(stored - 6, 0x21);
    const Bytes canonical = StoredLong(row.signature, stored, body);

    Converted host = From(canonical, row.signature);
    ASSERT_TRUE(host.ok);
    EXPECT_EQ(Status(), 0);
    EXPECT_EQ(host.length, stored + 2);
    EXPECT_EQ(host.bytes, HostLong(row.signature, stored + 2, body));

    Converted back = To(host.bytes, row.signature);
    ASSERT_TRUE(back.ok);
    EXPECT_EQ(back.length, stored);
    EXPECT_EQ(back.bytes, canonical);
  }
}

TEST_F(CanonicalTest, LongRecordShorterThanItsFixedPartStillConvertsItsHeader) {
  const Bytes body = {0x11, 0x22, 0x33, 0x44};
  Converted host = From(StoredLong(SIG_CD_GRAPHIC, 10, body), SIG_CD_GRAPHIC);
  ASSERT_TRUE(host.ok);
  EXPECT_EQ(host.length, 12u);
  EXPECT_EQ(host.bytes, HostLong(SIG_CD_GRAPHIC, 12, body));

  Converted back = To(host.bytes, SIG_CD_GRAPHIC);
  ASSERT_TRUE(back.ok);
  EXPECT_EQ(back.length, 10u);
  EXPECT_EQ(back.bytes, StoredLong(SIG_CD_GRAPHIC, 10, body));
}

TEST_F(CanonicalTest, GraphicFieldsLandAtTheirHostOffsets) {
  Bytes body(24, 0);
  body[0] = 0x40; /* DestWidth 320 */
  body[1] = 0x01;
  body[2] = 0xF0; /* DestHeight 240 */
  body[18] = 2;   /* Version, stored offset 24 */
  body[19] = 1;   /* Flags */
  Converted host = From(StoredLong(SIG_CD_GRAPHIC, 30, body), SIG_CD_GRAPHIC);
  ASSERT_TRUE(host.ok);
  ASSERT_EQ(host.length, sizeof(CDGRAPHIC));
  CDGRAPHIC graphic;
  std::memcpy(&graphic, host.bytes.data(), sizeof graphic);
  EXPECT_EQ(graphic.Header.Signature, SIG_CD_GRAPHIC);
  EXPECT_EQ(graphic.Header.Length, 32u);
  EXPECT_EQ(graphic.DestWidth, 320);
  EXPECT_EQ(graphic.DestHeight, 240);
  EXPECT_EQ(graphic.Version, 2);
  EXPECT_EQ(graphic.Flags, 1);
}

/* ---- paragraph definitions ---- */

/* A stored paragraph definition: the 70-byte base with the given length in
 * its header, followed by extra (the extension words in stored form). */
Bytes StoredDefinition(WORD length, const Bytes& extra) {
  Bytes bytes;
  AppendWord(bytes, SIG_CD_PABDEFINITION);
  AppendWord(bytes, length);
  AppendWord(bytes, 1); /* PABID */
  FillTo(bytes, 14, 0);
  AppendWord(bytes, 1440); /* LeftMargin */
  AppendWord(bytes, 0);
  AppendWord(bytes, 1440); /* FirstLineLeftMargin */
  AppendWord(bytes, 0);
  AppendWord(bytes, 720); /* Tab[0] */
  FillTo(bytes, 62, 0);
  AppendWord(bytes, 0x0101);     /* Flags */
  AppendDword(bytes, 0xB4);      /* TabTypes */
  AppendWord(bytes, 0x0494);     /* Flags2 */
  bytes.insert(bytes.end(), extra.begin(), extra.end());
  return bytes;
}

Bytes SixWords() {
  Bytes words;
  for (WORD w : {720, 10, 1440, 20, 30, 100})
    AppendWord(words, w);
  return words;
}

TEST_F(CanonicalTest, BlankDefinitionWithSixWordsLoadsAsEightyFour) {
  const WORD storedLength = ODSLength(ODS_CDPABDEFINITION) + 12;
  ASSERT_EQ(storedLength, 82);
  const Bytes canonical = StoredDefinition(storedLength, SixWords());
  Converted host = From(canonical, SIG_CD_PABDEFINITION);
  ASSERT_TRUE(host.ok);
  ASSERT_EQ(host.length, 84u);

  _CDPABDEFEXT definition = {};
  std::memcpy(&definition, host.bytes.data(), host.length);
  EXPECT_EQ(definition.Definition.Header.Signature, SIG_CD_PABDEFINITION);
  EXPECT_EQ(definition.Definition.Header.Length, 84);
  EXPECT_EQ(definition.Definition.PABID, 1);
  EXPECT_EQ(definition.Definition.LeftMargin, 1440);
  EXPECT_EQ(definition.Definition.FirstLineLeftMargin, 1440);
  EXPECT_EQ(definition.Definition.Tab[0], 720);
  EXPECT_EQ(definition.Definition.Flags, 0x0101);
  EXPECT_EQ(definition.Definition.TabTypes, 0xB4u);
  EXPECT_EQ(definition.Definition.Flags2, 0x0494);
  EXPECT_EQ(host.bytes[70], 0);
  EXPECT_EQ(host.bytes[71], 0);
  EXPECT_EQ(definition.LeftMarginOffset, 720);
  EXPECT_EQ(definition.LeftMarginPercent, 10);
  EXPECT_EQ(definition.FirstLineLeftMarginOffset, 1440);
  EXPECT_EQ(definition.RightMarginPercent, 100);

  Converted back = To(host.bytes, SIG_CD_PABDEFINITION);
  ASSERT_TRUE(back.ok);
  EXPECT_EQ(back.length, 82u);
  EXPECT_EQ(back.bytes, canonical);
}

TEST_F(CanonicalTest, DefinitionExtensionsAtEachLength) {
  struct Case {
    WORD stored;
    WORD host;
  };
  for (const Case& c : {Case{70, 72}, Case{82, 84}, Case{86, 88}, Case{90, 92}, Case{95, 97}}) {
    SCOPED_TRACE(c.stored);
    Bytes canonical = StoredDefinition(c.stored, {});
    FillTo(canonical, c.stored, 0x90);
    Converted host = From(canonical, SIG_CD_PABDEFINITION);
    ASSERT_TRUE(host.ok);
    EXPECT_EQ(host.length, c.host);
    Bytes expected(canonical.begin(), canonical.begin() + 70);
    expected.insert(expected.end(), {0, 0});
    expected.insert(expected.end(), canonical.begin() + 70, canonical.end());
    expected[2] = static_cast<BYTE>(c.host);
    EXPECT_EQ(host.bytes, expected);
    Converted back = To(host.bytes, SIG_CD_PABDEFINITION);
    EXPECT_EQ(back.bytes, canonical);
    if (c.stored >= 90) {
      _CDPABDEFEXT definition;
      std::memcpy(&definition, host.bytes.data(), sizeof definition);
      DWORD flags3 = 0;
      std::memcpy(&flags3, canonical.data() + 86, sizeof flags3);
      EXPECT_EQ(definition.Flags3, flags3);
    }
  }
}

TEST_F(CanonicalTest, ShortDefinitionsAreCopiedUnchanged) {
  // A base definition built in host form with the stored length (70) has
  // its pad past its end: it is written as it is.
  Bytes template70 = StoredDefinition(70, {});
  Converted stored = To(template70, SIG_CD_PABDEFINITION);
  ASSERT_TRUE(stored.ok);
  EXPECT_EQ(stored.length, 70u);
  EXPECT_EQ(stored.bytes, template70);

  Bytes stub = WordRecord(SIG_CD_PABDEFINITION, 60);
  Converted host = From(stub, SIG_CD_PABDEFINITION);
  ASSERT_TRUE(host.ok);
  EXPECT_EQ(host.length, 60u);
  EXPECT_EQ(host.bytes, stub);
}

/* ---- resource records ---- */

Bytes StoredResource(DWORD flags, WORD type, WORD dataLength, WORD serverHint, WORD fileHint,
                     const Bytes& tail) {
  Bytes bytes;
  AppendWord(bytes, SIG_CD_RESOURCE);
  AppendWord(bytes, static_cast<WORD>(26 + tail.size()));
  AppendDword(bytes, flags);
  AppendWord(bytes, type);
  AppendWord(bytes, 1); /* class */
  AppendWord(bytes, dataLength);
  AppendWord(bytes, serverHint);
  AppendWord(bytes, fileHint);
  FillTo(bytes, 26, 0x70);
  bytes.insert(bytes.end(), tail.begin(), tail.end());
  return bytes;
}

/* The host form of a stored resource: the pad after the fixed part and the
 * length raised by 2. */
Bytes HostResource(const Bytes& stored) {
  Bytes host(stored.begin(), stored.begin() + 26);
  host.insert(host.end(), {0, 0});
  host.insert(host.end(), stored.begin() + 26, stored.end());
  const WORD length = static_cast<WORD>(host.size());
  std::memcpy(host.data() + 2, &length, sizeof length);
  return host;
}

TEST_F(CanonicalTest, ResourceRecordsByType) {
  struct Case {
    const char* name;
    DWORD flags;
    WORD type;
    WORD dataLength;
    WORD serverHint;
    WORD fileHint;
    Bytes tail;
  };
  const Case cases[] = {
      {"URL", 0, 1, 5, 0, 0, Counting(5, 'a')},
      {"note link inline", 2, 2, 3, 4, 5, Join({Counting(9, 'h'), Counting(40, 0xA0), {'x', 'y', 'z'}})},
      {"link by index", 0, 2, 3, 0, 2, Join({{'f', 'h'}, {7, 0}, {'a', 'b', 'c'}})},
      {"named element", 1, 3, 4, 0, 0, Join({Counting(8, 0xB0), {'l', 'o', 'g', 'o'}})},
      {"type 4, no hints", 0, 4, 0, 0, 0, Counting(7, 0x30)},
      {"type 6 with hints", 0, 6, 9, 2, 1, Counting(3, 0x30)},
      {"fixed part alone", 0, 1, 0, 0, 0, {}},
      {"trailing bytes", 0, 5, 2, 1, 0, Counting(6, 0x50)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const Bytes canonical =
        StoredResource(c.flags, c.type, c.dataLength, c.serverHint, c.fileHint, c.tail);
    for (WORD signature : {WORD{0xFFF6}, WORD{0xFF5A}, WORD{0xFF5B}, WORD{0xFF71}, WORD{0xFF78}}) {
      Bytes record = canonical;
      record[0] = static_cast<BYTE>(signature);
      Converted host = From(record, signature);
      ASSERT_TRUE(host.ok);
      EXPECT_EQ(host.length, record.size() + 2);
      EXPECT_EQ(host.bytes, HostResource(record));
      Converted back = To(host.bytes, signature);
      ASSERT_TRUE(back.ok);
      EXPECT_EQ(back.length, record.size());
      EXPECT_EQ(back.bytes, record);
    }
  }
}

TEST_F(CanonicalTest, ResourceLengthsBeyondTheRecordAreNotFollowed) {
  struct Case {
    const char* name;
    DWORD flags;
    WORD type;
    WORD dataLength;
    WORD serverHint;
    WORD fileHint;
    WORD tail;
  };
  const Case cases[] = {
      {"server hint", 0, 1, 0, 60000, 0, 10},
      {"file hint", 0, 1, 0, 4, 65535, 10},
      {"data", 0, 1, 65000, 0, 0, 3},
      {"inline link cut", 2, 2, 0, 0, 0, 30},
      {"link index cut", 0, 2, 0, 0, 0, 1},
      {"database reference cut", 0, 3, 2, 0, 0, 7},
      {"data after the link", 2, 2, 900, 1, 1, 45},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const Bytes canonical = StoredResource(c.flags, c.type, c.dataLength, c.serverHint,
                                           c.fileHint, Counting(c.tail, 0x10));
    Converted host = From(canonical, SIG_CD_RESOURCE);
    ASSERT_TRUE(host.ok);
    EXPECT_EQ(host.bytes, HostResource(canonical));
    Converted back = To(host.bytes, SIG_CD_RESOURCE);
    ASSERT_TRUE(back.ok);
    EXPECT_EQ(back.bytes, canonical);
  }
}

TEST_F(CanonicalTest, ShortResourceIsCopiedUnchanged) {
  const Bytes stub = WordRecord(SIG_CD_RESOURCE, 20);
  Converted host = From(stub, SIG_CD_RESOURCE);
  EXPECT_EQ(host.bytes, stub);
  const Bytes hostStub = WordRecord(SIG_CD_RESOURCE, 26);
  Converted stored = To(hostStub, SIG_CD_RESOURCE);
  EXPECT_EQ(stored.length, 26u);
  EXPECT_EQ(stored.bytes, hostStub);
}

/* ---- records the same in both forms ---- */

TEST_F(CanonicalTest, EqualSizesKeepLengthAndHeaderUntouched) {
  struct Case {
    WORD signature;
    Bytes record;
  };
  // Header lengths that disagree with the length handed in must stay as
  // they are: nothing is written when the size does not change.
  Bytes text = WordRecord(SIG_CD_TEXT, 0x1234);
  text.resize(13);
  const Case cases[] = {
      {SIG_CD_TABLEBEGIN, ByteRecord(SIG_CD_TABLEBEGIN, 14)},
      {SIG_CD_NESTEDTABLEEND, ByteRecord(SIG_CD_NESTEDTABLEEND, 8)},
      {SIG_CD_TABLECELL, ByteRecord(SIG_CD_TABLECELL, 21)},
      {SIG_CD_TEXT, text},
      {SIG_CD_POSITIONING, ByteRecord(SIG_CD_POSITIONING, 88)},
      {SIG_CD_PARAGRAPH, ByteRecord(SIG_CD_PARAGRAPH, 2)},
      {SIG_CD_IDNAME, WordRecord(SIG_CD_IDNAME, 31)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message() << std::hex << c.signature);
    Converted host = From(c.record, c.signature);
    ASSERT_TRUE(host.ok);
    EXPECT_EQ(host.length, c.record.size());
    EXPECT_EQ(host.bytes, c.record);
    Converted stored = To(c.record, c.signature);
    ASSERT_TRUE(stored.ok);
    EXPECT_EQ(stored.bytes, c.record);
  }
}

TEST_F(CanonicalTest, StyleNameWordConvertsTheSameBothWays) {
  for (BYTE length : {BYTE{47}, BYTE{48}, BYTE{49}, BYTE{50}, BYTE{53}}) {
    SCOPED_TRACE(length);
    const Bytes record = ByteRecord(SIG_CD_STYLENAME, length);
    Converted host = From(record, SIG_CD_STYLENAME);
    EXPECT_EQ(host.bytes, record);
    Converted stored = To(host.bytes, SIG_CD_STYLENAME);
    EXPECT_EQ(stored.bytes, record);
  }
}

TEST_F(CanonicalTest, RawSignaturesAreCopiedBothWays) {
  for (WORD signature : {WORD{0xFF87}, WORD{0xFF88}}) {
    const Bytes record = WordRecord(signature, 23);
    EXPECT_EQ(From(record, signature).bytes, record);
    EXPECT_EQ(To(record, signature).bytes, record);
  }
}

TEST_F(CanonicalTest, UnknownSignatureIsAByteCopy) {
  const Bytes record = WordRecord(0xFF60, 11);
  Converted host = From(record, 0xFF60);
  ASSERT_TRUE(host.ok);
  EXPECT_EQ(Status(), 0);
  EXPECT_EQ(host.length, 11u);
  EXPECT_EQ(host.bytes, record);
  const Bytes odd = {0x64, 0x05, 1, 2, 3};
  EXPECT_EQ(To(odd, 0x0064).bytes, odd);
}

TEST_F(CanonicalTest, HeaderFormThatDoesNotMatchTheSignatureIsCopied) {
  struct Case {
    const char* name;
    WORD signature;
    Bytes record;
  };
  const Case cases[] = {
      {"graphic with a byte header", SIG_CD_GRAPHIC, ByteRecord(SIG_CD_GRAPHIC, 32)},
      {"definition without 0xFF", SIG_CD_PABDEFINITION, ByteRecord(0x82, 90)},
      {"resource with a long header", SIG_CD_RESOURCE, StoredLong(0xF6, 30, Counting(24, 1))},
      {"table cell with a word header", SIG_CD_TABLECELL, WordRecord(0xFFA4, 18)},
      {"one byte", SIG_CD_GRAPHIC, {0x99}},
      {"long header cut", SIG_CD_GRAPHIC, {0x99, 0x00, 0x05, 0x00, 0x00}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Converted host = From(c.record, c.signature);
    ASSERT_TRUE(host.ok);
    EXPECT_EQ(host.length, c.record.size());
    EXPECT_EQ(host.bytes, c.record);
  }
  // In host form a long header is 8 bytes; 7 bytes are copied as they are.
  const Bytes cut = {0x99, 0x00, 0x00, 0x00, 0x07, 0x00, 0x00};
  EXPECT_EQ(To(cut, SIG_CD_GRAPHIC).bytes, cut);
}

/* ---- limits and failures ---- */

TEST_F(CanonicalTest, LongestRecordIsConvertedOneLongerIsNot) {
  const Bytes longest = WordRecord(SIG_CD_TEXT, 64382);
  Converted host = From(longest, SIG_CD_TEXT);
  ASSERT_TRUE(host.ok);
  EXPECT_EQ(host.bytes, longest);
  EXPECT_TRUE(To(longest, SIG_CD_TEXT).ok);

  const Bytes tooLong = WordRecord(SIG_CD_TEXT, 64383);
  EXPECT_FALSE(From(tooLong, SIG_CD_TEXT).ok);
  EXPECT_EQ(Status(), 257);
  EXPECT_FALSE(To(tooLong, SIG_CD_TEXT).ok);
  EXPECT_EQ(Status(), 257);

  // Every bit of the length counts: 65546 is not taken for 10.
  Bytes wrapped = StoredLong(SIG_CD_FILESEGMENT, 65546, Counting(65540, 0));
  EXPECT_FALSE(From(wrapped, SIG_CD_FILESEGMENT).ok);
  EXPECT_EQ(Status(), 257);
}

TEST_F(CanonicalTest, MissingArgumentsGiveNull) {
  const Bytes record = ByteRecord(SIG_CD_PARAGRAPH, 2);
  EXPECT_EQ(item_->ConvertFromCanonicalData(reinterpret_cast<const char*>(record.data()),
                                            SIG_CD_PARAGRAPH, nullptr),
            nullptr);
  EXPECT_EQ(Status(), 257);
  DWORD length = 2;
  EXPECT_EQ(item_->ConvertToCanonicalData(nullptr, SIG_CD_PARAGRAPH, &length), nullptr);
  EXPECT_EQ(Status(), 257);
  EXPECT_EQ(length, 2u);
}

TEST_F(CanonicalTest, BuffersThatCannotBeHadGiveMemoryStatus) {
  const Bytes record = ByteRecord(SIG_CD_PARAGRAPH, 2);
  LSXLsiSession* session = item_->session;
  item_->session = nullptr; /* the tracked allocator refuses */
  EXPECT_FALSE(From(record, SIG_CD_PARAGRAPH).ok);
  EXPECT_EQ(Status(), 263);
  EXPECT_FALSE(To(record, SIG_CD_PARAGRAPH).ok);
  EXPECT_EQ(Status(), 263);
  EXPECT_EQ(Buffer(0), nullptr);
  EXPECT_EQ(Buffer(1), nullptr);

  item_->session = session;
  ASSERT_TRUE(From(record, SIG_CD_PARAGRAPH).ok);
  EXPECT_EQ(Status(), 0);
  velko_allocation* a = Buffer(0);
  item_->session = nullptr;
  EXPECT_FALSE(To(record, SIG_CD_PARAGRAPH).ok) << "buffer B cannot be had";
  EXPECT_EQ(Status(), 263);
  EXPECT_EQ(Buffer(0), a) << "buffer A made earlier stays";
  EXPECT_EQ(Buffer(1), nullptr);
  item_->session = session;
}

/* ---- buffers ---- */

TEST_F(CanonicalTest, BuffersAreMadeOnceAndReleased) {
  const Bytes first = ByteRecord(SIG_CD_PARAGRAPH, 2);
  const Bytes second = ByteRecord(SIG_CD_PABREFERENCE, 4);
  DWORD length = 2;
  char* a = item_->ConvertFromCanonicalData(reinterpret_cast<const char*>(first.data()),
                                            SIG_CD_PARAGRAPH, &length);
  ASSERT_NE(a, nullptr);
  EXPECT_EQ(Buffer(1), nullptr) << "loading needs buffer A only";
  ASSERT_NE(Buffer(0), nullptr);
  EXPECT_EQ(Buffer(0)->size, 65406u);
  EXPECT_TRUE(Buffer(0)->InUse());
  length = 4;
  char* again = item_->ConvertFromCanonicalData(reinterpret_cast<const char*>(second.data()),
                                                SIG_CD_PABREFERENCE, &length);
  EXPECT_EQ(again, a);
  EXPECT_EQ(static_cast<BYTE>(a[0]), SIG_CD_PABREFERENCE) << "the first result is overwritten";

  ASSERT_TRUE(To(first, SIG_CD_PARAGRAPH).ok);
  velko_allocation* blockA = Buffer(0);
  velko_allocation* blockB = Buffer(1);
  ASSERT_NE(blockB, nullptr);
  EXPECT_EQ(item_->internal->conversion_held[0], 1);
  EXPECT_EQ(item_->internal->conversion_held[1], 1);

  ReleaseConversionBuffers(item_);
  EXPECT_EQ(Buffer(0), nullptr);
  EXPECT_EQ(Buffer(1), nullptr);
  EXPECT_EQ(item_->internal->conversion_held[0], 0);
  EXPECT_FALSE(blockA->InUse());
  EXPECT_FALSE(blockB->InUse());
  ReleaseConversionBuffers(item_); /* twice is harmless */
}

TEST_F(CanonicalTest, RecordAlreadyInBufferAConvertsEitherWay) {
  const Bytes canonical = StoredDefinition(82, SixWords());
  DWORD length = 82;
  char* host = item_->ConvertFromCanonicalData(reinterpret_cast<const char*>(canonical.data()),
                                               SIG_CD_PABDEFINITION, &length);
  ASSERT_NE(host, nullptr);
  ASSERT_EQ(length, 84u);
  const Bytes hostCopy(host, host + length);

  char* stored = item_->ConvertToCanonicalData(host, SIG_CD_PABDEFINITION, &length);
  ASSERT_EQ(stored, host);
  ASSERT_EQ(length, 82u);
  EXPECT_EQ(Bytes(stored, stored + length), canonical);

  char* hostAgain = item_->ConvertFromCanonicalData(stored, SIG_CD_PABDEFINITION, &length);
  ASSERT_EQ(length, 84u);
  EXPECT_EQ(Bytes(hostAgain, hostAgain + length), hostCopy);
}

} // namespace
