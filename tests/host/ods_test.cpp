// The host's structure conversion of a type without a layout (nothing
// written, a log line), and the enumeration of the CD records of an item
// value (EnumCompositeBuffer): each header form with its pad bytes,
// damaged headers, the action's status ending the walk, and refused
// arguments.
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

/* ---- structure conversion ---- */

TEST(OdsPlainTypeTest, UnknownTypeWritesNothingAndIsLogged) {
  HostTestReset();
  HostTestCaptureLog(true);
  const Bytes canonical = {1, 2, 3, 4, 5, 6, 7, 8};
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

/* Counts the records handed to it; answers 0x1234 after stopAfter of them. */
struct Collector {
  size_t seen = 0;
  size_t stopAfter = 0; /* 0: never stop */
};

STATUS Collect(char*, WORD, DWORD, void* context) {
  auto* collector = static_cast<Collector*>(context);
  ++collector->seen;
  return collector->seen == collector->stopAfter ? 0x1234 : NOERROR;
}

/* An item value: the TYPE_COMPOSITE type word, then the records. */
Bytes Composite(std::initializer_list<Bytes> records) {
  Bytes value = {TYPE_COMPOSITE & 0xFF, TYPE_COMPOSITE >> 8};
  for (const Bytes& record : records) {
    for (BYTE byte : record)
      value.push_back(byte);
  }
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
    return {handle, offset};
  }

  STATUS Enumerate(const Bytes& value, Collector* collector) {
    BLOCKID bid = Place(value);
    STATUS status = EnumCompositeBuffer(bid, value.size(), Collect, collector);
    EXPECT_FALSE(OSUnlockObject(bid.pool)) << "the value is left unlocked";
    return status;
  }

  std::vector<DHANDLE> handles_;
  size_t live_ = 0;
};

const Bytes kParagraph = {0x81, 0x02};
const Bytes kOddText = {0x85, 0xFF, 0x09, 0x00, 0x01, 0x00, 0x00, 0x0A, 'a', 0x00};
const Bytes kTableEnd = {0xA5, 0x08, 0, 0, 0, 0, 0, 0};

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
    EXPECT_EQ(collector.seen, c.goodRecords);
  }
}

TEST_F(EnumBufferTest, ActionStatusEndsTheWalk) {
  Collector collector;
  collector.stopAfter = 2;
  EXPECT_EQ(Enumerate(Composite({kParagraph, kOddText, kTableEnd}), &collector), 0x1234);
  EXPECT_EQ(collector.seen, 2u);
}

TEST_F(EnumBufferTest, ValueThatIsNotCompositeIsRefused) {
  Collector collector;
  EXPECT_EQ(Enumerate({0x00, 0x05, 'a', 'b'}, &collector), ERR_HOST_NOT_COMPOSITE);
  EXPECT_EQ(Enumerate({0x01}, &collector), ERR_HOST_NOT_COMPOSITE);
  EXPECT_EQ(collector.seen, 0u);
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
  EXPECT_EQ(collector.seen, 0u);
}

} // namespace
