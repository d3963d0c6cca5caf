// The width and height of a graphic from its loaded records: image and
// bitmap headers, a graphic record's destination size, and the data of the
// first image segments, GIF, BMP or JPEG (made here byte by byte: start of
// image, application and table segments, fill bytes, frame headers of
// every kind). Damaged JPEG data (cut short, a zero or one segment length)
// ends the scan with the size it had.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "store/cd_storage.h"
#include "tests/support/test_fixture.h"

namespace {

using namespace engine_test;

void PutBigWord(Bytes& bytes, WORD value) {
  bytes.push_back(static_cast<BYTE>(value >> 8));
  bytes.push_back(static_cast<BYTE>(value));
}

Bytes Gif(WORD width, WORD height) {
  Bytes data = {'G', 'I', 'F', '8', '7', 'a', static_cast<BYTE>(width),
                static_cast<BYTE>(width >> 8), static_cast<BYTE>(height),
                static_cast<BYTE>(height >> 8), 0x80, 0x00, 0x00};
  return data;
}

/* A JPEG marker segment: 0xFF, the marker, the big-endian length (which
 * counts itself) and the payload. */
Bytes Segment(BYTE marker, const Bytes& payload) {
  Bytes segment = {0xFF, marker};
  PutBigWord(segment, static_cast<WORD>(payload.size() + 2));
  segment.insert(segment.end(), payload.begin(), payload.end());
  return segment;
}

Bytes App0() { return Segment(0xE0, {'J', 'F', 'I', 'F', 0, 1, 1, 0, 0, 1, 0, 1, 0, 0}); }
Bytes Quantization() { return Segment(0xDB, Bytes(65, 0x10)); }
Bytes Huffman() { return Segment(0xC4, {0x00, 0x01, 0x05, 0x01, 0x01, 0x01, 0x01}); }

/* A frame header of the marker: precision 8, height, width, three
 * components. */
Bytes Frame(BYTE marker, WORD width, WORD height) {
  Bytes payload = {8};
  PutBigWord(payload, height);
  PutBigWord(payload, width);
  payload.insert(payload.end(), {3, 1, 0x22, 0, 2, 0x11, 1, 3, 0x11, 1});
  return Segment(marker, payload);
}

Bytes Join(std::initializer_list<Bytes> parts) {
  Bytes joined;
  for (const Bytes& part : parts)
    joined.insert(joined.end(), part.begin(), part.end());
  return joined;
}

const Bytes kStart = {0xFF, 0xD8};
const Bytes kEnd = {0xFF, 0xD9, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};

Bytes Jpeg(BYTE marker, WORD width, WORD height) {
  return Join({kStart, App0(), Quantization(), Frame(marker, width, height), Huffman(), kEnd});
}

Bytes Cut(Bytes bytes, size_t size) {
  bytes.resize(size);
  return bytes;
}

Bytes ImageSegment(const Bytes& data) { return cdbuild::ImageSegment(data); }

class ImageSizeTest : public EngineTest {
protected:
  /* The size read from the records, loaded from a note, starting from the
   * given size. */
  std::pair<WORD, WORD> SizeOf(const std::vector<Bytes>& records, WORD width = 0,
                               WORD height = 0) {
    TearDown();
    item_ = nullptr;
    state_ = nullptr;
    SetUp();
    LoadInput(records);
    EXPECT_EQ(GetDimensionsFromRecords(InputNode(1), &width, &height), NOERROR);
    return {width, height};
  }
};

using Size = std::pair<WORD, WORD>;

TEST_F(ImageSizeTest, GifAndJpegDataGiveTheirSizes) {
  const struct {
    const char* name;
    Bytes data;
    Size size;
  } cases[] = {
      {"GIF 300 by 200", Gif(300, 200), {300, 200}},
      {"baseline JPEG", Jpeg(0xC0, 640, 480), {640, 480}},
      {"extended JPEG", Jpeg(0xC1, 17, 4000), {17, 4000}},
      {"progressive JPEG", Jpeg(0xC2, 1024, 768), {1024, 768}},
      {"lossless arithmetic JPEG", Jpeg(0xCF, 9, 11), {9, 11}},
      {"a Huffman table before the frame is no frame",
       Join({kStart, Huffman(), Frame(0xC2, 321, 123), kEnd}), {321, 123}},
      {"fill bytes before a marker", Join({kStart, {0xFF, 0xFF, 0xFF}, Frame(0xC0, 5, 6), kEnd}),
       {5, 6}},
      {"bytes between segments are passed over",
       Join({kStart, App0(), {0x00, 0x12, 0x34}, Frame(0xC3, 70, 80), kEnd}), {70, 80}},
      // The frame's marker with 9 bytes behind it is the last one read ...
      {"a frame 11 bytes from the end", Join({kStart, {0xFF, 0xC0, 0, 17, 8, 0, 10, 0, 20, 3, 1}}),
       {20, 10}},
      // ... and one byte less leaves it unread.
      {"a frame 10 bytes from the end", Join({kStart, {0xFF, 0xC0, 0, 17, 8, 0, 10, 0, 20, 3}}),
       {100, 100}},
      {"a start-of-scan marker is no frame", Join({kStart, Segment(0xDA, Bytes(12, 0x40)), kEnd}),
       {100, 100}},
  };
  for (const auto& c : cases)
    EXPECT_EQ(SizeOf({ImageSegment(c.data)}), c.size) << c.name;
}

TEST_F(ImageSizeTest, DamagedJpegDataLeaves100By100) {
  const struct {
    const char* name;
    Bytes data;
  } cases[] = {
      {"cut inside a segment", Cut(Join({kStart, App0(), Quantization()}), 30)},
      {"a segment length past the data",
       Join({kStart, {0xFF, 0xE0, 0x40, 0x00}, Bytes(12, 0), Frame(0xC0, 1, 2)})},
      {"a zero segment length", Join({kStart, {0xFF, 0xE0, 0x00, 0x00}, Frame(0xC0, 3, 4), kEnd})},
      {"a segment length of 1", Join({kStart, {0xFF, 0xE1, 0x00, 0x01}, Frame(0xC0, 3, 4), kEnd})},
      {"only the start", kStart},
      {"nothing", {}},
  };
  for (const auto& c : cases)
    EXPECT_EQ(SizeOf({ImageSegment(c.data)}), Size(100, 100)) << c.name;
}

TEST_F(ImageSizeTest, RecordsBeforeDataAndTheImageTypeThatStopsTheScan) {
  const Bytes gif = ImageSegment(Gif(300, 200));
  const struct {
    const char* name;
    std::vector<Bytes> records;
    Size size;
  } cases[] = {
      {"an image header's size", {cdbuild::ImageHeader({.width = 640, .height = 480}), gif},
       {640, 480}},
      {"an image header without size leaves the data unread once its type is known",
       {cdbuild::ImageHeader({.image_type = 2}), gif}, {100, 100}},
      {"an image header without size or type", {cdbuild::ImageHeader({.image_type = 0}), gif},
       {300, 200}},
      {"a bitmap header", {cdbuild::BitmapHeader({.width = 33, .height = 44})}, {33, 44}},
      {"a graphic's destination size when resized",
       {cdbuild::Graphic({.dest_width = 500, .dest_height = 400, .resize = 1})}, {500, 400}},
      {"a graphic not resized", {cdbuild::Graphic({.dest_width = 500, .dest_height = 400})},
       {100, 100}},
      {"BMP data gives no size and ends the scan",
       {ImageSegment({'B', 'M', 1, 2, 3, 4}), gif}, {100, 100}},
      {"GIF data in a later segment", {ImageSegment(Bytes(20, 0x33)), gif}, {300, 200}},
      {"the first size found stays", {gif, ImageSegment(Gif(1, 2))}, {300, 200}},
      {"records of other kinds are passed over",
       {Text("x"), PabRef(1), cdbuild::StorageLink({.reference = "Graphic"}), gif}, {300, 200}},
  };
  for (const auto& c : cases)
    EXPECT_EQ(SizeOf(c.records), c.size) << c.name;
}

TEST_F(ImageSizeTest, GivenSizesStandUntilFoundAndNullPointersAreRefused) {
  EXPECT_EQ(SizeOf({Text("x")}, 50, 60), Size(50, 60));
  EXPECT_EQ(SizeOf({Text("x")}, 0, 60), Size(100, 60));
  EXPECT_EQ(SizeOf({ImageSegment(Gif(0, 7))}, 50, 60), Size(50, 7));
  WORD size = 0;
  EXPECT_EQ(GetDimensionsFromRecords(nullptr, nullptr, &size), VELKO_ERR_BAD_ARGUMENT);
  EXPECT_EQ(GetDimensionsFromRecords(nullptr, &size, nullptr), VELKO_ERR_BAD_ARGUMENT);
  WORD width = 0;
  EXPECT_EQ(GetDimensionsFromRecords(nullptr, &width, &size), NOERROR);
  EXPECT_EQ(Size(width, size), Size(100, 100));
}

} // namespace
