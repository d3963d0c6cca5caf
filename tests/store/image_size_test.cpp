// The width and height of a graphic from its loaded records: headers, a
// graphic record's destination size, and GIF, BMP or JPEG data made here
// byte by byte. Damaged JPEG data ends the scan with the size it had.
#include <gtest/gtest.h>

#include <vector>

#include "store/cd_storage.h"
#include "tests/support/test_fixture.h"

namespace {

using namespace engine_test;
using Size = std::pair<WORD, WORD>;

Bytes Gif(WORD width, WORD height) {
  return {'G', 'I', 'F', '8', '7', 'a', static_cast<BYTE>(width), static_cast<BYTE>(width >> 8),
          static_cast<BYTE>(height), static_cast<BYTE>(height >> 8), 0x80, 0, 0};
}

/* A JPEG marker segment: 0xFF, the marker, the big-endian length (which
 * counts itself), the payload. */
Bytes Segment(BYTE marker, Bytes payload) {
  const size_t length = payload.size() + 2;
  payload.insert(payload.begin(), {0xFF, marker, static_cast<BYTE>(length >> 8),
                                   static_cast<BYTE>(length)});
  return payload;
}

/* A frame header: precision 8, height, width, three components. */
Bytes Frame(BYTE marker, WORD width, WORD height) {
  return Segment(marker, {8, static_cast<BYTE>(height >> 8), static_cast<BYTE>(height),
                          static_cast<BYTE>(width >> 8), static_cast<BYTE>(width), 3, 1, 0x22, 0,
                          2, 0x11, 1, 3, 0x11, 1});
}

Bytes Join(std::initializer_list<Bytes> parts) {
  Bytes joined;
  for (const Bytes& part : parts)
    joined.insert(joined.end(), part.begin(), part.end());
  return joined;
}

const Bytes kStart = {0xFF, 0xD8};
const Bytes kEnd = {0xFF, 0xD9, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
const Bytes kApp0 = Segment(0xE0, {'J', 'F', 'I', 'F', 0, 1, 1, 0, 0, 1, 0, 1, 0, 0});
const Bytes kTables = Segment(0xDB, Bytes(65, 0x10));
const Bytes kHuffman = Segment(0xC4, {0x00, 0x01, 0x05, 0x01, 0x01, 0x01, 0x01});

Bytes Jpeg(BYTE marker, WORD width, WORD height) {
  return Join({kStart, kApp0, kTables, Frame(marker, width, height), kHuffman, kEnd});
}

Bytes Data(const Bytes& data) { return cdbuild::ImageSegment(data); }

class ImageSizeTest : public EngineTest {
protected:
  /* The size read from the loaded records, starting from the one given. */
  Size SizeOf(const std::vector<Bytes>& records, WORD width = 0, WORD height = 0) {
    TearDown();
    item_ = nullptr;
    state_ = nullptr;
    SetUp();
    LoadInput(records);
    EXPECT_EQ(GetDimensionsFromRecords(InputNode(1), &width, &height), NOERROR);
    return {width, height};
  }
};

TEST_F(ImageSizeTest, ImageDataGivesItsSize) {
  Bytes cut = Join({kStart, kApp0, kTables});
  cut.resize(30);
  const struct {
    const char* name;
    Bytes data;
    Size size;
  } cases[] = {
      {"GIF 300 by 200", Gif(300, 200), {300, 200}},
      {"baseline JPEG", Jpeg(0xC0, 640, 480), {640, 480}},
      {"progressive JPEG", Jpeg(0xC2, 1024, 768), {1024, 768}},
      {"a Huffman table is no frame", Join({kStart, kHuffman, Frame(0xC2, 321, 123), kEnd}),
       {321, 123}},
      {"fill bytes and bytes between segments",
       Join({kStart, kApp0, {0x00, 0x12, 0xFF, 0xFF}, Frame(0xC3, 70, 80), kEnd}), {70, 80}},
      // A frame marker with 9 bytes behind it is the last one read.
      {"a frame 11 bytes from the end", Join({kStart, {0xFF, 0xC0, 0, 17, 8, 0, 10, 0, 20, 3, 1}}),
       {20, 10}},
      {"a frame 10 bytes from the end", Join({kStart, {0xFF, 0xC0, 0, 17, 8, 0, 10, 0, 20, 3}}),
       {100, 100}},
      // Damaged data: the scan ends, always moving on.
      {"cut inside a segment", cut, {100, 100}},
      {"a segment length past the data",
       Join({kStart, {0xFF, 0xE0, 0x40, 0x00}, Bytes(12, 0), Frame(0xC0, 1, 2)}), {100, 100}},
      {"a zero segment length", Join({kStart, {0xFF, 0xE0, 0, 0}, Frame(0xC0, 3, 4), kEnd}),
       {100, 100}},
      {"a segment length of 1", Join({kStart, {0xFF, 0xE1, 0, 1}, Frame(0xC0, 3, 4), kEnd}),
       {100, 100}},
      {"nothing", {}, {100, 100}},
  };
  for (const auto& c : cases)
    EXPECT_EQ(SizeOf({Data(c.data)}), c.size) << c.name;
}

TEST_F(ImageSizeTest, RecordsBeforeTheDataAndTheImageTypeThatEndsTheScan) {
  const Bytes gif = Data(Gif(300, 200));
  const struct {
    const char* name;
    std::vector<Bytes> records;
    Size size;
  } cases[] = {
      {"an image header's size", {cdbuild::ImageHeader({.width = 640, .height = 480}), gif},
       {640, 480}},
      {"an empty image header", {cdbuild::ImageHeader({.image_type = 0}), gif}, {300, 200}},
      {"a bitmap header", {cdbuild::BitmapHeader({.width = 33, .height = 44})}, {33, 44}},
      {"a resized graphic",
       {cdbuild::Graphic({.dest_width = 500, .dest_height = 400, .resize = 1})}, {500, 400}},
      {"a graphic not resized", {cdbuild::Graphic({.dest_width = 500, .dest_height = 400})},
       {100, 100}},
      {"BMP data", {Data({'B', 'M', 1, 2, 3, 4}), gif}, {100, 100}},
      {"GIF data in a later segment", {Data(Bytes(20, 0x33)), gif}, {300, 200}},
      {"the first size found stays", {gif, Data(Gif(1, 2))}, {300, 200}},
  };
  for (const auto& c : cases)
    EXPECT_EQ(SizeOf(c.records), c.size) << c.name;

  EXPECT_EQ(SizeOf({Text("x")}, 50, 60), Size(50, 60));
  EXPECT_EQ(SizeOf({Data(Gif(0, 7))}, 50, 0), Size(50, 7));
  WORD size = 0;
  EXPECT_EQ(GetDimensionsFromRecords(nullptr, nullptr, &size), VELKO_ERR_BAD_ARGUMENT);
  EXPECT_EQ(GetDimensionsFromRecords(nullptr, &size, nullptr), VELKO_ERR_BAD_ARGUMENT);
}

} // namespace
