// The host's structure conversion (ODSLength, ODSReadMemory,
// ODSWriteMemory) and the enumeration of CD records in item values and CD
// files.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "host/cdrecords.h"
#include "host/host_testing.h"
#include "host/nsfdata.h"
#include "host/ods.h"
#include "host/osmem.h"
#include "host/status.h"

using ::testing::ElementsAre;

namespace {

using Bytes = std::vector<BYTE>;

Bytes Pattern(size_t size) {
  Bytes bytes(size);
  for (size_t i = 0; i < size; ++i)
    bytes[i] = static_cast<BYTE>(i + 1);
  return bytes;
}

/* ---- ODSLength ---- */

struct LengthCase {
  WORD type;
  WORD stored;
};

TEST(OdsLengthTest, PlainValuesAndCarriedStructures) {
  const LengthCase cases[] = {
      {ODS_WORD, 2},      {ODS_DWORD, 4},      {ODS_TIMEDATE, 8},
      {ODS_NOTELINK, 40}, {ODS_FILEOBJECT, 40}, {ODS_CDFACE, 34},
  };
  for (const LengthCase& c : cases)
    EXPECT_EQ(ODSLength(c.type), c.stored) << "type " << c.type;
}

TEST(OdsLengthTest, TypesWithoutLayoutAreUnknown) {
  for (WORD type : {WORD{2}, ODS_CD_FF87, ODS_CD_FF88, WORD{1023}, WORD{1024}, WORD{0xFFFF}})
    EXPECT_EQ(ODSLength(type), 0) << "type " << type;
}

/* ---- padded types ---- */

struct PaddedCase {
  WORD type;
  WORD host;
  WORD pad; /* offset of the two pad bytes in host form */
};

// Every type whose stored form leaves out two bytes of the host form.
const PaddedCase kPadded[] = {
    {ODS_CDPABDEFINITION, 72, 70}, {ODS_CDRESOURCE, 28, 26},
    {ODS_CDFILESEGMENT, 20, 2},    {ODS_CDFILEHEADER, 28, 2},
    {ODS_CDIMAGESEGMENT, 12, 2},   {ODS_CDIMAGEHEADER, 32, 2},
    {ODS_CDBITMAPHEADER, 40, 2},   {ODS_CDBITMAPSEGMENT, 20, 2},
    {ODS_CDCOLORTABLE, 8, 2},      {ODS_CDPATTERNTABLE, 8, 2},
    {ODS_CDGRAPHIC, 32, 2},        {ODS_CD_009A, 12, 2},
    {ODS_CD_009B, 12, 2},          {ODS_CD_009C, 12, 2},
    {ODS_CD_009D, 20, 2},          {ODS_CD_009E, 28, 2},
    {ODS_CD_009F, 28, 2},          {ODS_CD_00A0, 20, 2},
    {ODS_CD_00C5, 12, 2},
};

TEST(OdsPaddedTypeTest, ReadPutsPadBackAndWriteTakesItOut) {
  for (const PaddedCase& c : kPadded) {
    SCOPED_TRACE(c.type);
    const WORD stored = c.host - 2;
    ASSERT_EQ(ODSLength(c.type), stored);
    const Bytes canonical = Pattern(stored);

    Bytes host(c.host + 4, 0xEE);
    const void* from = canonical.data();
    ODSReadMemory(&from, c.type, host.data(), 1);
    EXPECT_EQ(from, canonical.data() + stored);
    Bytes expected(canonical.begin(), canonical.begin() + c.pad);
    expected.insert(expected.end(), {0, 0});
    expected.insert(expected.end(), canonical.begin() + c.pad, canonical.end());
    expected.insert(expected.end(), 4, 0xEE); /* nothing written past the structure */
    EXPECT_EQ(host, expected);

    host[c.pad] = 0x55; /* pad contents never reach the stored form */
    Bytes back(stored + 4, 0xEE);
    void* to = back.data();
    ODSWriteMemory(&to, c.type, host.data(), 1);
    EXPECT_EQ(to, back.data() + stored);
    Bytes expectedBack = canonical;
    expectedBack.insert(expectedBack.end(), 4, 0xEE);
    EXPECT_EQ(back, expectedBack);
  }
}

TEST(OdsPaddedTypeTest, IterationsStepByEachFormsSize) {
  const Bytes canonical = Pattern(52); /* two stored CDRESOURCEs */
  Bytes host(56, 0xEE);
  const void* from = canonical.data();
  ODSReadMemory(&from, ODS_CDRESOURCE, host.data(), 2);
  EXPECT_EQ(from, canonical.data() + 52);
  EXPECT_EQ(host[25], 26);
  EXPECT_EQ(host[26], 0);
  EXPECT_EQ(host[27], 0);
  EXPECT_EQ(host[28], 27);
  EXPECT_EQ(host[53], 52);
  EXPECT_EQ(host[54], 0);
  EXPECT_EQ(host[55], 0);

  Bytes back(52);
  void* to = back.data();
  ODSWriteMemory(&to, ODS_CDRESOURCE, host.data(), 2);
  EXPECT_EQ(to, back.data() + 52);
  EXPECT_EQ(back, canonical);
}

/* ---- unpadded types ---- */

TEST(OdsPlainTypeTest, BytesAreCopiedAsTheyAre) {
  const WORD types[] = {ODS_CDTEXT, ODS_CDPOSITIONING, ODS_CDBOXSIZE, ODS_CDHEADER,
                        ODS_CDTABLECELL, ODS_CDSTYLENAME, ODS_CD_FFEC, ODS_NOTELINK};
  for (WORD type : types) {
    SCOPED_TRACE(type);
    const WORD size = ODSLength(type);
    ASSERT_GT(size, 0);
    const Bytes canonical = Pattern(size);
    Bytes host(size);
    const void* from = canonical.data();
    ODSReadMemory(&from, type, host.data(), 1);
    EXPECT_EQ(host, canonical);
    Bytes back(size);
    void* to = back.data();
    ODSWriteMemory(&to, type, host.data(), 1);
    EXPECT_EQ(back, canonical);
    EXPECT_EQ(to, back.data() + size);
  }
}

TEST(OdsPlainTypeTest, SixWordsAdvanceTwelveBytes) {
  const Bytes canonical = Pattern(12);
  Bytes host(12);
  const void* from = canonical.data();
  ODSReadMemory(&from, ODS_WORD, host.data(), 6);
  EXPECT_EQ(from, canonical.data() + 12);
  EXPECT_EQ(host, canonical);
}

TEST(OdsPlainTypeTest, LengthValueKeepsItsDoubleAtOffsetFour) {
  CDPOSITIONING positioning = {};
  positioning.Header = {SIG_CD_POSITIONING, sizeof positioning};
  positioning.Top.Length = 1.5;
  positioning.Top.Units = 2;
  positioning.BrowserRightOffset = -3.25;
  Bytes stored(ODSLength(ODS_CDPOSITIONING));
  ASSERT_EQ(stored.size(), 88u);
  void* to = stored.data();
  ODSWriteMemory(&to, ODS_CDPOSITIONING, &positioning, 1);
  double top = 0;
  double right = 0;
  std::memcpy(&top, stored.data() + 8 + 4, sizeof top);
  std::memcpy(&right, stored.data() + 80, sizeof right);
  EXPECT_EQ(top, 1.5);
  EXPECT_EQ(stored[8 + 12], 2);
  EXPECT_EQ(right, -3.25);
}

TEST(OdsPlainTypeTest, UnknownTypeWritesNothingAndIsLogged) {
  HostTestReset();
  HostTestCaptureLog(true);
  const Bytes canonical = Pattern(8);
  Bytes host(8, 0xEE);
  const void* from = canonical.data();
  ODSReadMemory(&from, ODS_CD_FF87, host.data(), 1);
  EXPECT_EQ(from, canonical.data());
  EXPECT_EQ(host, Bytes(8, 0xEE));
  void* to = host.data();
  ODSWriteMemory(&to, 999, canonical.data(), 1);
  EXPECT_EQ(to, host.data());
  EXPECT_THAT(HostTestLogLines(),
              ElementsAre("ODSReadMemory: ODS type 115: Unknown structure type",
                          "ODSWriteMemory: ODS type 999: Unknown structure type"));
  HostTestReset();
}

/* ---- enumeration ---- */

struct SeenRecord {
  WORD signature;
  DWORD length;
  ptrdiff_t offset; /* from the start of the value */
  bool operator==(const SeenRecord&) const = default;
};

std::ostream& operator<<(std::ostream& out, const SeenRecord& r) {
  return out << "{0x" << std::hex << r.signature << std::dec << ", " << r.length << ", "
             << r.offset << "}";
}

struct Collector {
  const char* start = nullptr;
  std::vector<SeenRecord> seen;
  int stopAfter = -1; /* return 0x1234 after this many records */
};

STATUS Collect(char* record, WORD signature, DWORD length, void* context) {
  auto* collector = static_cast<Collector*>(context);
  collector->seen.push_back({signature, length, record - collector->start});
  if (static_cast<int>(collector->seen.size()) == collector->stopAfter)
    return 0x1234;
  return NOERROR;
}

Bytes Composite(std::initializer_list<Bytes> records) {
  Bytes value = {0x01, 0x00};
  for (const Bytes& record : records)
    value.insert(value.end(), record.begin(), record.end());
  return value;
}

class EnumBufferTest : public ::testing::Test {
protected:
  void SetUp() override {
    HostTestReset();
    live_ = HostTestLiveHandles();
  }
  void TearDown() override {
    for (DHANDLE handle : handles_)
      EXPECT_EQ(OSMemFree(handle), NOERROR);
    EXPECT_EQ(HostTestLiveHandles(), live_) << HostTestLeakReport();
  }

  /* Puts the value into a memory object behind offset bytes. */
  BLOCKID Place(const Bytes& value, WORD offset = 6) {
    DHANDLE handle = NULLHANDLE;
    EXPECT_EQ(OSMemAlloc(MEM_TYPE_ENGINE, offset + value.size(), &handle), NOERROR);
    handles_.push_back(handle);
    auto* data = static_cast<char*>(OSLockObject(handle));
    std::memcpy(data + offset, value.data(), value.size());
    OSUnlockObject(handle);
    start_ = data + offset;
    return {handle, offset};
  }

  STATUS Enumerate(const Bytes& value, Collector* collector) {
    BLOCKID bid = Place(value);
    collector->start = start_;
    STATUS status = EnumCompositeBuffer(bid, value.size(), Collect, collector);
    EXPECT_FALSE(OSUnlockObject(bid.pool)) << "the value is left unlocked";
    return status;
  }

  std::vector<DHANDLE> handles_;
  char* start_ = nullptr;
  size_t live_ = 0;
};

const Bytes kParagraph = {0x81, 0x02};
const Bytes kOddText = {0x85, 0xFF, 0x09, 0x00, 0x01, 0x00, 0x00, 0x0A, 'a', 0x00};
const Bytes kOddGraphic = {0x99, 0x00, 0x07, 0x00, 0x00, 0x00, 0x42, 0x00};
const Bytes kTableEnd = {0xA5, 0x08, 0, 0, 0, 0, 0, 0};

TEST_F(EnumBufferTest, ByteWordAndLongHeadersWithPadBytes) {
  Collector collector;
  EXPECT_EQ(Enumerate(Composite({kParagraph, kOddText, kOddGraphic, kTableEnd}), &collector),
            NOERROR);
  EXPECT_THAT(collector.seen, ElementsAre(SeenRecord{0x0081, 2, 2}, SeenRecord{0xFF85, 9, 4},
                                          SeenRecord{0x0099, 7, 14}, SeenRecord{0x00A5, 8, 22}));
}

TEST_F(EnumBufferTest, MissingPadAfterOddLastRecordIsTolerated) {
  Bytes text = kOddText;
  text.pop_back();
  Collector collector;
  EXPECT_EQ(Enumerate(Composite({kParagraph, text}), &collector), NOERROR);
  EXPECT_THAT(collector.seen, ElementsAre(SeenRecord{0x0081, 2, 2}, SeenRecord{0xFF85, 9, 4}));
}

TEST_F(EnumBufferTest, TypeWordAloneHasNoRecords) {
  Collector collector;
  EXPECT_EQ(Enumerate(Composite({}), &collector), NOERROR);
  EXPECT_TRUE(collector.seen.empty());
}

struct BadHeaderCase {
  const char* name;
  Bytes records; /* after the type word */
  size_t goodRecords;
};

TEST_F(EnumBufferTest, InvalidHeaderEndsWithBadRecord) {
  const BadHeaderCase cases[] = {
      {"byte signature 0", {0x00, 0x02}, 0},
      {"byte length 1", {0x81, 0x01}, 0},
      {"word length 0", {0x85, 0xFF, 0x00, 0x00}, 0},
      {"word length below header", {0x85, 0xFF, 0x03, 0x00}, 0},
      {"word signature 0", {0x00, 0xFF, 0x04, 0x00}, 0},
      {"long length 0", {0x99, 0x00, 0x00, 0x00, 0x00, 0x00}, 0},
      {"long length below header", {0x99, 0x00, 0x05, 0x00, 0x00, 0x00}, 0},
      {"long signature 0", {0x00, 0x00, 0x06, 0x00, 0x00, 0x00}, 0},
      {"length past the value", {0x81, 0x02, 0xA5, 0x08, 0, 0, 0, 0}, 1},
      {"word header cut", {0x81, 0x02, 0x85, 0xFF, 0x04}, 1},
      {"long header cut", {0x81, 0x02, 0x99, 0x00, 0x06, 0x00, 0x00}, 1},
      {"one stray byte", {0x81, 0x02, 0x07}, 1},
      {"long length past the value", {0x99, 0x00, 0x00, 0x00, 0x01, 0x00}, 0},
  };
  for (const BadHeaderCase& c : cases) {
    SCOPED_TRACE(c.name);
    Collector collector;
    EXPECT_EQ(Enumerate(Composite({c.records}), &collector), ERR_HOST_BAD_RECORD);
    EXPECT_EQ(collector.seen.size(), c.goodRecords);
  }
}

TEST_F(EnumBufferTest, ActionStatusEndsTheWalk) {
  Collector collector;
  collector.stopAfter = 2;
  EXPECT_EQ(Enumerate(Composite({kParagraph, kOddText, kTableEnd}), &collector), 0x1234);
  EXPECT_EQ(collector.seen.size(), 2u);
}

TEST_F(EnumBufferTest, ValueThatIsNotCompositeIsRefused) {
  Collector collector;
  EXPECT_EQ(Enumerate({0x00, 0x05, 'a', 'b'}, &collector), ERR_HOST_NOT_COMPOSITE);
  EXPECT_EQ(Enumerate({0x01}, &collector), ERR_HOST_NOT_COMPOSITE);
  EXPECT_TRUE(collector.seen.empty());
}

TEST_F(EnumBufferTest, BadArgumentsAreRefused) {
  Collector collector;
  const Bytes value = Composite({kParagraph});
  BLOCKID bid = Place(value);
  EXPECT_EQ(EnumCompositeBuffer(bid, value.size(), nullptr, &collector), ERR_HOST_BAD_ARGUMENT);
  EXPECT_EQ(EnumCompositeBuffer(bid, value.size() + 1, Collect, &collector),
            ERR_HOST_BAD_ARGUMENT);
  EXPECT_EQ(EnumCompositeBuffer({NULLHANDLE, 0}, 4, Collect, &collector), ERR_HOST_BAD_HANDLE);
  EXPECT_FALSE(OSUnlockObject(bid.pool));
  EXPECT_TRUE(collector.seen.empty());
}

/* ---- CD files ---- */

class EnumFileTest : public ::testing::Test {
protected:
  std::string Write(const Bytes& content) {
    std::string path = ::testing::TempDir() + "ods_test_" +
                       ::testing::UnitTest::GetInstance()->current_test_info()->name() + ".cd";
    FILE* file = std::fopen(path.c_str(), "wb");
    EXPECT_NE(file, nullptr);
    if (!content.empty())
      std::fwrite(content.data(), 1, content.size(), file);
    std::fclose(file);
    paths_.push_back(path);
    return path;
  }
  void TearDown() override {
    for (const std::string& path : paths_)
      std::remove(path.c_str());
  }
  std::vector<std::string> paths_;
};

STATUS CollectFromFile(char* record, WORD signature, DWORD length, void* context) {
  auto* collector = static_cast<Collector*>(context);
  collector->seen.push_back({signature, length, 0});
  (void)record;
  return NOERROR;
}

TEST_F(EnumFileTest, RecordsOfAFileAreEnumerated) {
  Bytes image = {0x7C, 0x00};
  const DWORD length = 70001; /* longer than any word length */
  image.insert(image.end(), {BYTE(length), BYTE(length >> 8), BYTE(length >> 16), 0});
  image.resize(length + 1, 0x33);
  Collector collector;
  EXPECT_EQ(EnumCompositeFile(Write(Composite({kParagraph, image, kTableEnd})).c_str(),
                              CollectFromFile, &collector),
            NOERROR);
  EXPECT_THAT(collector.seen, ElementsAre(SeenRecord{0x0081, 2, 0}, SeenRecord{0x007C, length, 0},
                                          SeenRecord{0x00A5, 8, 0}));
}

TEST_F(EnumFileTest, FileFailures) {
  Collector collector;
  EXPECT_EQ(EnumCompositeFile(Write({0x00, 0x05, 0x81, 0x02}).c_str(), CollectFromFile, &collector),
            ERR_HOST_BAD_CD_FILE);
  EXPECT_EQ(EnumCompositeFile(Write({}).c_str(), CollectFromFile, &collector),
            ERR_HOST_BAD_CD_FILE);
  EXPECT_EQ(EnumCompositeFile(Write(Composite({{0x81, 0x09}})).c_str(), CollectFromFile,
                              &collector),
            ERR_HOST_BAD_RECORD);
  EXPECT_EQ(EnumCompositeFile((::testing::TempDir() + "no/such/file.cd").c_str(), CollectFromFile,
                              &collector),
            ERR_HOST_FILE_IO);
  EXPECT_EQ(EnumCompositeFile(nullptr, CollectFromFile, &collector), ERR_HOST_BAD_ARGUMENT);
  EXPECT_TRUE(collector.seen.empty());
}

} // namespace
