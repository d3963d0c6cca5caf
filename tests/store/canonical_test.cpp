// Conversion of single CD records between stored and host form: the
// signature table against the host's structure sizes, padded and unpadded
// records, variable parts, records copied as they are, the edge lengths,
// the conversion buffers and their failure.
#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <memory>
#include <vector>

#include "host/cdrecords.h"
#include "host/host_testing.h"
#include "host/ods.h"
#include "store/canonical.h"
#include "store/rtitem_internal.h"
#include "store/session.h"
#include "cdbuild/cd_builder.h"

namespace {

using Bytes = std::vector<BYTE>;

/* ---- records ---- */

/* A record of the length under its signature's header, its other bytes
 * patterned; under another header form when one is given. */
Bytes Record(WORD signature, DWORD length) {
  return cdbuild::Sized(signature, length, cdbuild::Fill::kPattern);
}
Bytes RecordAs(cd_header_kind form, WORD signature, DWORD length) {
  return cdbuild::SizedAs(form, signature, length, cdbuild::Fill::kPattern);
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

Bytes Word(WORD value) { return {static_cast<BYTE>(value), static_cast<BYTE>(value >> 8)}; }
Bytes Dword(DWORD value) { return Join({Word(static_cast<WORD>(value)), Word(value >> 16)}); }

/* An LSIG record in either form around a body that is the same in both. */
Bytes StoredLong(WORD signature, DWORD length, const Bytes& body) {
  return Join({Word(signature), Dword(length), body});
}
Bytes HostLong(WORD signature, DWORD length, const Bytes& body) {
  return Join({Word(signature), Word(0), Dword(length), body});
}

/* A stored paragraph definition: the 70-byte base, then the extension
 * words, flags and what else is given, its length brought up to date. */
Bytes StoredDefinition(const Bytes& tail) {
  return cdbuild::WithTail(
      cdbuild::PabDef({.tabs = {720}, .flags = 0x0101, .tab_types = 0xB4, .flags2 = 0x0494}),
      tail);
}

/* The host form of a stored record with two pad bytes after `fixed`
 * bytes, its word length raised by 2. */
Bytes Padded(const Bytes& stored, size_t fixed) {
  Bytes host = Join({Bytes(stored.begin(), stored.begin() + fixed), Word(0),
                     Bytes(stored.begin() + fixed, stored.end())});
  cdbuild::PutWord(host, 2, static_cast<WORD>(host.size()));
  return host;
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

  /* The record converts to host form as `host` and back to itself. */
  void ExpectRoundTrip(const Bytes& stored, WORD signature, const Bytes& host) {
    Converted there = From(stored, signature);
    ASSERT_TRUE(there.ok);
    EXPECT_EQ(Status(), 0);
    EXPECT_EQ(there.length, host.size());
    EXPECT_EQ(there.bytes, host);
    Converted back = To(there.bytes, signature);
    ASSERT_TRUE(back.ok);
    EXPECT_EQ(back.length, stored.size());
    EXPECT_EQ(back.bytes, stored);
  }

  STATUS Status() const { return item_->internal->conversion_status; }
  velko_allocation* Buffer(int which) const { return item_->internal->conversion[which]; }

  std::unique_ptr<LSXLsiSession> session_;
  VelkoRTItem* item_ = nullptr;
};

/* The signatures the record list can hold. */
std::vector<WORD> ListSignatures() {
  std::vector<WORD> signatures;
  for (int low = 0; low < 0x100; ++low) {
    signatures.push_back(static_cast<WORD>(low));
    signatures.push_back(static_cast<WORD>(0xFF00 | low));
  }
  return signatures;
}

/* ---- the signature table ---- */

/* A structure's stored size is the host's ODS length of its type; a
 * record's host form is 2 bytes longer for an LSIG header, a paragraph
 * definition and a resource record. */
TEST_F(CanonicalTest, TableAgreesWithTheHostsStructureSizes) {
  int sized = 0;
  for (WORD signature : ListSignatures()) {
    SCOPED_TRACE(::testing::Message() << std::hex << signature);
    const cd_signature_entry* entry = LookupCDSignature(signature);
    if (entry == nullptr || entry->raw) {
      EXPECT_EQ(item_->NonCanonicalLength(signature, 999), 999);
      EXPECT_EQ(item_->CanonicalLength(signature, 999), 999);
      continue;
    }
    ++sized;
    EXPECT_EQ(entry->kind, HeaderKindOfSignature(signature));
    const bool padded = IsLongSignature(signature) || entry->ods_type == ODS_CDPABDEFINITION ||
                        entry->ods_type == ODS_CDRESOURCE;
    const WORD stored = ODSLength(entry->ods_type);
    EXPECT_EQ(item_->NonCanonicalLength(signature, 999), entry->host_size);
    EXPECT_EQ(item_->CanonicalLength(signature, 999), stored);
    EXPECT_EQ(entry->host_size, stored + (padded ? 2 : 0));
  }
  EXPECT_EQ(sized, 145);
  EXPECT_TRUE(LookupCDSignature(0xFF87)->raw);
  for (WORD signature : {WORD{0x1285}, WORD{0x0185}}) {
    EXPECT_EQ(LookupCDSignature(signature), nullptr);
    EXPECT_EQ(item_->CanonicalLength(signature, 77), 77);
  }
}

/* ---- records with a long header ---- */

TEST_F(CanonicalTest, LongRecordsGainTheirHeaderPadAndLoseItAgain) {
  for (WORD signature : ListSignatures()) {
    const cd_signature_entry* entry = LookupCDSignature(signature);
    if (entry == nullptr || entry->raw || !IsLongSignature(signature))
      continue;
    SCOPED_TRACE(::testing::Message() << std::hex << signature);
    const DWORD stored = entry->host_size - 2 + 5; /* fixed part and an odd tail */
    const Bytes body = Counting(stored - 6, 0x21);
    ExpectRoundTrip(StoredLong(signature, stored, body), signature,
                    HostLong(signature, stored + 2, body));
  }
  // Shorter than its fixed part: the header is converted all the same.
  const Bytes body = {0x11, 0x22, 0x33, 0x44};
  ExpectRoundTrip(StoredLong(SIG_CD_GRAPHIC, 10, body), SIG_CD_GRAPHIC,
                  HostLong(SIG_CD_GRAPHIC, 12, body));
}

TEST_F(CanonicalTest, GraphicFieldsLandAtTheirHostOffsets) {
  Bytes body(24, 0);
  cdbuild::PutWord(body, 0, 320); /* DestWidth */
  cdbuild::PutWord(body, 2, 240); /* DestHeight */
  body[18] = 2;                   /* Version, stored offset 24 */
  body[19] = 1;                   /* Flags */
  Converted host = From(StoredLong(SIG_CD_GRAPHIC, 30, body), SIG_CD_GRAPHIC);
  ASSERT_EQ(host.length, sizeof(CDGRAPHIC));
  CDGRAPHIC graphic;
  std::memcpy(&graphic, host.bytes.data(), sizeof graphic);
  EXPECT_EQ(graphic.Header.Length, 32u);
  EXPECT_EQ(graphic.DestWidth, 320);
  EXPECT_EQ(graphic.DestHeight, 240);
  EXPECT_EQ(graphic.Version, 2);
  EXPECT_EQ(graphic.Flags, 1);
}

/* ---- variable parts ---- */

/* The base (70 bytes stored) gains its pad; the six margin words, the
 * extension flags and the third flags word follow when the record holds
 * them, and a tail after them is copied. */
TEST_F(CanonicalTest, DefinitionExtensionsAtEachLength) {
  for (WORD stored : {70, 82, 86, 90, 95}) {
    SCOPED_TRACE(stored);
    const Bytes canonical = StoredDefinition(Counting(stored - 70, 0x90));
    ExpectRoundTrip(canonical, SIG_CD_PABDEFINITION, Padded(canonical, 70));
    if (stored >= 90) {
      _CDPABDEFEXT definition;
      Converted host = From(canonical, SIG_CD_PABDEFINITION);
      std::memcpy(&definition, host.bytes.data(), sizeof definition);
      DWORD flags3 = 0;
      std::memcpy(&flags3, canonical.data() + 86, sizeof flags3);
      EXPECT_EQ(definition.Flags3, flags3);
    }
  }
}

/* A resource: flags, type, class, data length and two hint lengths (26
 * bytes stored), the hints, then the data by type: a URL or type 5 its
 * bytes, a note link inline (flag 2) or by index, a named element its
 * time stamp and name. */
Bytes StoredResource(DWORD flags, WORD type, WORD dataLength, WORD serverHint, WORD fileHint,
                     const Bytes& tail) {
  return Join({Word(SIG_CD_RESOURCE), Word(static_cast<WORD>(26 + tail.size())), Dword(flags),
               Word(type), Word(1), Word(dataLength), Word(serverHint), Word(fileHint),
               Counting(8, 0x70), tail});
}

TEST_F(CanonicalTest, ResourceRecordsByTypeAndLengthsBeyondTheRecord) {
  struct Case {
    const char* name;
    DWORD flags;
    WORD type, dataLength, serverHint, fileHint;
    Bytes tail;
  };
  const Case cases[] = {
      {"URL", 0, 1, 5, 0, 0, Counting(5, 'a')},
      {"note link inline", 2, 2, 3, 4, 5,
       Join({Counting(9, 'h'), Counting(40, 0xA0), {'x', 'y', 'z'}})},
      {"link by index", 0, 2, 3, 0, 2, Join({{'f', 'h'}, {7, 0}, {'a', 'b', 'c'}})},
      {"named element", 1, 3, 4, 0, 0, Join({Counting(8, 0xB0), {'l', 'o', 'g', 'o'}})},
      {"type 4, no hints", 0, 4, 0, 0, 0, Counting(7, 0x30)},
      {"type 6 with hints", 0, 6, 9, 2, 1, Counting(3, 0x30)},
      {"fixed part alone", 0, 1, 0, 0, 0, {}},
      {"trailing bytes", 0, 5, 2, 1, 0, Counting(6, 0x50)},
      // Lengths the record does not hold are not followed.
      {"server hint beyond", 0, 1, 0, 60000, 0, Counting(10, 0x10)},
      {"file hint beyond", 0, 1, 0, 4, 65535, Counting(10, 0x10)},
      {"data beyond", 0, 1, 65000, 0, 0, Counting(3, 0x10)},
      {"inline link cut", 2, 2, 0, 0, 0, Counting(30, 0x10)},
      {"link index cut", 0, 2, 0, 0, 0, Counting(1, 0x10)},
      {"database reference cut", 0, 3, 2, 0, 0, Counting(7, 0x10)},
      {"data after the link beyond", 2, 2, 900, 1, 1, Counting(45, 0x10)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const Bytes canonical =
        StoredResource(c.flags, c.type, c.dataLength, c.serverHint, c.fileHint, c.tail);
    for (WORD signature : {WORD{0xFFF6}, WORD{0xFF5A}, WORD{0xFF5B}, WORD{0xFF71}, WORD{0xFF78}}) {
      Bytes record = canonical;
      record[0] = static_cast<BYTE>(signature);
      ExpectRoundTrip(record, signature, Padded(record, 26));
    }
  }
}

/* ---- records copied as they are ---- */

TEST_F(CanonicalTest, RecordsWithoutAConversionAreCopiedUnchanged) {
  Bytes text = Record(SIG_CD_TEXT, 13);
  cdbuild::PutWord(text, 2, 0x1234); /* nothing is written when the size does not change */
  struct Case {
    const char* name;
    WORD signature;
    Bytes record;
    bool to_host;
    bool to_stored;
  };
  const Case cases[] = {
      {"same size: table begin", SIG_CD_TABLEBEGIN, Record(SIG_CD_TABLEBEGIN, 14), true, true},
      {"same size: longer cell", SIG_CD_TABLECELL, Record(SIG_CD_TABLECELL, 21), true, true},
      {"same size: text with a wrong length", SIG_CD_TEXT, text, true, true},
      {"same size: id name", SIG_CD_IDNAME, Record(SIG_CD_IDNAME, 31), true, true},
      {"style name without its word", SIG_CD_STYLENAME, Record(SIG_CD_STYLENAME, 47), true, true},
      {"style name with its word", SIG_CD_STYLENAME, Record(SIG_CD_STYLENAME, 50), true, true},
      {"raw", 0xFF87, Record(0xFF87, 23), true, true},
      {"unknown", 0xFF60, Record(0xFF60, 11), true, true},
      {"unknown odd", 0x0064, {0x64, 0x05, 1, 2, 3}, false, true},
      {"definition shorter than its fixed part", SIG_CD_PABDEFINITION,
       Record(SIG_CD_PABDEFINITION, 60), true, false},
      {"host definition of the stored length", SIG_CD_PABDEFINITION, StoredDefinition({}), false,
       true},
      {"resource shorter than its fixed part", SIG_CD_RESOURCE, Record(SIG_CD_RESOURCE, 20), true,
       false},
      {"host resource of the stored length", SIG_CD_RESOURCE, Record(SIG_CD_RESOURCE, 26), false,
       true},
      {"graphic with a byte header", SIG_CD_GRAPHIC, RecordAs(CD_HEADER_BSIG, SIG_CD_GRAPHIC, 32),
       true, false},
      {"definition without 0xFF", SIG_CD_PABDEFINITION, RecordAs(CD_HEADER_BSIG, 0x82, 90), true,
       false},
      {"resource with a long header", SIG_CD_RESOURCE, StoredLong(0xF6, 30, Counting(24, 1)), true,
       false},
      {"table cell with a word header", SIG_CD_TABLECELL,
       RecordAs(CD_HEADER_WSIG, 0xFFA4, 18), true, false},
      {"one byte", SIG_CD_GRAPHIC, {0x99}, true, false},
      {"stored long header cut", SIG_CD_GRAPHIC, {0x99, 0x00, 0x05, 0x00, 0x00}, true, false},
      {"host long header cut", SIG_CD_GRAPHIC, {0x99, 0x00, 0x00, 0x00, 0x07, 0x00, 0x00}, false,
       true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    if (c.to_host) {
      Converted host = From(c.record, c.signature);
      ASSERT_TRUE(host.ok);
      EXPECT_EQ(host.length, c.record.size());
      EXPECT_EQ(host.bytes, c.record);
    }
    if (c.to_stored) {
      Converted stored = To(c.record, c.signature);
      ASSERT_TRUE(stored.ok);
      EXPECT_EQ(stored.length, c.record.size());
      EXPECT_EQ(stored.bytes, c.record);
    }
  }
}

/* ---- limits and failures ---- */

TEST_F(CanonicalTest, LongestRecordIsConvertedOneLongerIsNot) {
  const Bytes longest = Record(SIG_CD_TEXT, 64382);
  EXPECT_EQ(From(longest, SIG_CD_TEXT).bytes, longest);
  EXPECT_TRUE(To(longest, SIG_CD_TEXT).ok);

  const Bytes tooLong = Record(SIG_CD_TEXT, 64383);
  EXPECT_FALSE(From(tooLong, SIG_CD_TEXT).ok);
  EXPECT_EQ(Status(), 257);
  EXPECT_FALSE(To(tooLong, SIG_CD_TEXT).ok);
  EXPECT_EQ(Status(), 257);

  // Every bit of the length counts: 65546 is not taken for 10.
  EXPECT_FALSE(From(StoredLong(SIG_CD_FILESEGMENT, 65546, Counting(65540, 0)),
                    SIG_CD_FILESEGMENT)
                   .ok);
  EXPECT_EQ(Status(), 257);
}

TEST_F(CanonicalTest, MissingArgumentsGiveNull) {
  const Bytes record = Record(SIG_CD_PARAGRAPH, 2);
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
  const Bytes record = Record(SIG_CD_PARAGRAPH, 2);
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

TEST_F(CanonicalTest, RecordAlreadyInBufferAConvertsEitherWay) {
  const Bytes canonical = StoredDefinition(Counting(12, 0x30));
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
