// The host's structure conversion (ODSLength, ODSReadMemory,
// ODSWriteMemory) and the enumeration of CD records in item values and CD
// files.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <unistd.h>

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

/* Reads `iterations` structures of the stored bytes into a host buffer with
 * four spare bytes, checking how far the source advanced. */
Bytes Read(const Bytes& stored, WORD type, size_t host, WORD iterations = 1) {
  Bytes out(host + 4, 0xEE);
  const void* from = stored.data();
  ODSReadMemory(&from, type, out.data(), iterations);
  EXPECT_EQ(static_cast<const BYTE*>(from) - stored.data(), ODSLength(type) * iterations);
  return out;
}

Bytes Write(const Bytes& host, WORD type, WORD iterations = 1) {
  Bytes out(ODSLength(type) * iterations + 4, 0xEE);
  void* to = out.data();
  ODSWriteMemory(&to, type, host.data(), iterations);
  EXPECT_EQ(static_cast<BYTE*>(to) - out.data(), ODSLength(type) * iterations);
  return out;
}

TEST(OdsTest, StoredLengthsOfPlainAndUnknownTypes) {
  const struct {
    WORD type;
    WORD stored;
  } cases[] = {{ODS_WORD, 2},        {ODS_DWORD, 4},       {ODS_TIMEDATE, 8},
               {ODS_NOTELINK, 40},   {ODS_CDFACE, 34},     {ODS_CDPOSITIONING, 88},
               {ODS_CDRESOURCE, 26}, {ODS_CD_FF87, 0},     {WORD{2}, 0},
               {WORD{1024}, 0},      {WORD{0xFFFF}, 0}};
  for (const auto& c : cases)
    EXPECT_EQ(ODSLength(c.type), c.stored) << "type " << c.type;
}

TEST(OdsTest, ReadPutsThePadBackAndWriteTakesItOut) {
  const struct {
    WORD type;
    WORD host;
    WORD pad; /* offset of the two pad bytes in host form */
  } cases[] = {{ODS_CDPABDEFINITION, 72, 70}, {ODS_CDRESOURCE, 28, 26},
               {ODS_CDGRAPHIC, 32, 2},        {ODS_CD_009A, 12, 2}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.type);
    const WORD stored = c.host - 2;
    ASSERT_EQ(ODSLength(c.type), stored);
    for (WORD iterations : {1, 2}) {
      const Bytes canonical = Pattern(stored * iterations);
      Bytes expected;
      for (WORD i = 0; i < iterations; ++i) {
        expected.insert(expected.end(), canonical.begin() + i * stored,
                        canonical.begin() + i * stored + c.pad);
        expected.insert(expected.end(), {0, 0});
        expected.insert(expected.end(), canonical.begin() + i * stored + c.pad,
                        canonical.begin() + (i + 1) * stored);
      }
      expected.insert(expected.end(), 4, 0xEE); /* nothing written past the structures */
      Bytes host = Read(canonical, c.type, c.host * iterations, iterations);
      EXPECT_EQ(host, expected);
      host[c.pad] = 0x55; /* pad contents never reach the stored form */
      Bytes back = canonical;
      back.insert(back.end(), 4, 0xEE);
      EXPECT_EQ(Write(host, c.type, iterations), back);
    }
  }
}

TEST(OdsTest, PlainTypesAreCopiedAsTheyAre) {
  for (WORD type : {ODS_CDTEXT, ODS_CDTABLECELL, ODS_CD_FFEC, ODS_NOTELINK}) {
    const Bytes canonical = Pattern(ODSLength(type));
    Bytes padded = canonical;
    padded.insert(padded.end(), 4, 0xEE);
    EXPECT_EQ(Read(canonical, type, canonical.size()), padded) << type;
    EXPECT_EQ(Write(canonical, type), padded) << type;
  }
  EXPECT_EQ(Read(Pattern(12), ODS_WORD, 12, 6), Write(Pattern(12), ODS_WORD, 6)) << "six words";

  CDPOSITIONING positioning = {};
  positioning.Top.Length = 1.5;
  positioning.Top.Units = 2;
  positioning.BrowserRightOffset = -3.25;
  Bytes host(sizeof positioning);
  std::memcpy(host.data(), &positioning, sizeof positioning);
  const Bytes stored = Write(host, ODS_CDPOSITIONING);
  double top = 0;
  double right = 0;
  std::memcpy(&top, stored.data() + 8 + 4, sizeof top); /* a LENGTH_VALUE's double at 4 */
  std::memcpy(&right, stored.data() + 80, sizeof right);
  EXPECT_EQ(top, 1.5);
  EXPECT_EQ(stored[8 + 12], 2);
  EXPECT_EQ(right, -3.25);
}

TEST(OdsTest, UnknownTypeMovesNothingAndIsLogged) {
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
  EXPECT_EQ(host, Bytes(8, 0xEE));
  EXPECT_THAT(HostTestLogLines(),
              ElementsAre("ODSReadMemory: ODS type 115: Unknown structure type",
                          "ODSWriteMemory: ODS type 999: Unknown structure type"));
  HostTestReset();
}

/* ---- enumeration ---- */

/* Each record seen as "signature/length@offset from the value's start". */
struct Collector {
  const char* start = nullptr;
  std::vector<std::string> seen;
  size_t stopAfter = 0; /* return 0x1234 after this many records */
};

STATUS Collect(char* record, WORD signature, DWORD length, void* context) {
  auto* collector = static_cast<Collector*>(context);
  char text[40];
  std::snprintf(text, sizeof text, "%04X/%u@%td", signature, length,
                collector->start == nullptr ? 0 : record - collector->start);
  collector->seen.push_back(text);
  return collector->seen.size() == collector->stopAfter ? 0x1234 : NOERROR;
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

  /* Puts the value into a memory object six bytes in and enumerates it. */
  STATUS Enumerate(const Bytes& value, Collector* collector) {
    DHANDLE handle = NULLHANDLE;
    EXPECT_EQ(OSMemAlloc(MEM_TYPE_ENGINE, 6 + value.size(), &handle), NOERROR);
    handles_.push_back(handle);
    auto* data = static_cast<char*>(OSLockObject(handle));
    std::memcpy(data + 6, value.data(), value.size());
    OSUnlockObject(handle);
    collector->start = data + 6;
    const STATUS status = EnumCompositeBuffer({handle, 6}, value.size(), Collect, collector);
    EXPECT_FALSE(OSUnlockObject(handle)) << "the value is left unlocked";
    return status;
  }

  std::vector<DHANDLE> handles_;
  size_t live_ = 0;
};

const Bytes kParagraph = {0x81, 0x02};
const Bytes kOddText = {0x85, 0xFF, 0x09, 0x00, 0x01, 0x00, 0x00, 0x0A, 'a', 0x00};
const Bytes kOddGraphic = {0x99, 0x00, 0x07, 0x00, 0x00, 0x00, 0x42, 0x00};
const Bytes kTableEnd = {0xA5, 0x08, 0, 0, 0, 0, 0, 0};

TEST_F(EnumBufferTest, ByteWordAndLongHeadersWithPadBytes) {
  Collector all;
  EXPECT_EQ(Enumerate(Composite({kParagraph, kOddText, kOddGraphic, kTableEnd}), &all), NOERROR);
  EXPECT_THAT(all.seen, ElementsAre("0081/2@2", "FF85/9@4", "0099/7@14", "00A5/8@22"));
  Collector unpadded; /* a missing pad after an odd last record is tolerated */
  EXPECT_EQ(Enumerate(Composite({kParagraph, Bytes(kOddText.begin(), kOddText.end() - 1)}),
                      &unpadded),
            NOERROR);
  EXPECT_THAT(unpadded.seen, ElementsAre("0081/2@2", "FF85/9@4"));
  Collector none;
  EXPECT_EQ(Enumerate(Composite({}), &none), NOERROR);
  EXPECT_TRUE(none.seen.empty());
  Collector stopped;
  stopped.stopAfter = 2;
  EXPECT_EQ(Enumerate(Composite({kParagraph, kOddText, kTableEnd}), &stopped), 0x1234)
      << "the action's status ends the walk";
  EXPECT_EQ(stopped.seen.size(), 2u);
}

TEST_F(EnumBufferTest, InvalidHeaderEndsWithBadRecord) {
  const struct {
    const char* name;
    Bytes records; /* after the type word */
    size_t goodRecords;
  } cases[] = {
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
  for (const auto& c : cases) {
    Collector collector;
    EXPECT_EQ(Enumerate(Composite({c.records}), &collector), ERR_HOST_BAD_RECORD) << c.name;
    EXPECT_EQ(collector.seen.size(), c.goodRecords) << c.name;
  }
}

TEST_F(EnumBufferTest, ValuesThatAreNotCompositeAndBadArgumentsAreRefused) {
  Collector collector;
  EXPECT_EQ(Enumerate({0x00, 0x05, 'a', 'b'}, &collector), ERR_HOST_NOT_COMPOSITE);
  EXPECT_EQ(Enumerate({0x01}, &collector), ERR_HOST_NOT_COMPOSITE);
  const Bytes value = Composite({kParagraph});
  Enumerate(value, &collector);
  collector.seen.clear();
  const BLOCKID bid = {handles_.back(), 6};
  EXPECT_EQ(EnumCompositeBuffer(bid, value.size(), nullptr, &collector), ERR_HOST_BAD_ARGUMENT);
  EXPECT_EQ(EnumCompositeBuffer(bid, value.size() + 1, Collect, &collector),
            ERR_HOST_BAD_ARGUMENT);
  EXPECT_EQ(EnumCompositeBuffer({NULLHANDLE, 0}, 4, Collect, &collector), ERR_HOST_BAD_HANDLE);
  EXPECT_FALSE(OSUnlockObject(bid.pool));
  EXPECT_TRUE(collector.seen.empty());
}

TEST(EnumFileTest, RecordsOfAFileAreEnumeratedAndFailuresReported) {
  const std::string path = ::testing::TempDir() + "velko_ods_" + std::to_string(getpid()) + ".cd";
  const auto enumerate = [&path](const Bytes& content, Collector* collector) {
    FILE* file = std::fopen(path.c_str(), "wb");
    if (!content.empty())
      std::fwrite(content.data(), 1, content.size(), file);
    std::fclose(file);
    return EnumCompositeFile(path.c_str(), Collect, collector);
  };
  Bytes image = {0x7C, 0x00};
  const DWORD length = 70001; /* longer than any word length */
  image.insert(image.end(), {BYTE(length), BYTE(length >> 8), BYTE(length >> 16), 0});
  image.resize(length + 1, 0x33);
  Collector collector;
  EXPECT_EQ(enumerate(Composite({kParagraph, image, kTableEnd}), &collector), NOERROR);
  EXPECT_THAT(collector.seen, ElementsAre("0081/2@0", "007C/70001@0", "00A5/8@0"));

  collector.seen.clear();
  EXPECT_EQ(enumerate({0x00, 0x05, 0x81, 0x02}, &collector), ERR_HOST_BAD_CD_FILE);
  EXPECT_EQ(enumerate({}, &collector), ERR_HOST_BAD_CD_FILE);
  EXPECT_EQ(enumerate(Composite({{0x81, 0x09}}), &collector), ERR_HOST_BAD_RECORD);
  std::remove(path.c_str());
  EXPECT_EQ(EnumCompositeFile((::testing::TempDir() + "no/such/file.cd").c_str(), Collect,
                              &collector),
            ERR_HOST_FILE_IO);
  EXPECT_EQ(EnumCompositeFile(nullptr, Collect, &collector), ERR_HOST_BAD_ARGUMENT);
  EXPECT_TRUE(collector.seen.empty());
}

} // namespace
