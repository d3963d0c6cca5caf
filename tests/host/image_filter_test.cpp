// The host's import filter table and its "imgfilt" filter: libraries found
// by name in any case; a GIF or JPEG written as a CD file whose bytes are
// laid out here by hand from the stored record layouts (a 30-byte graphic,
// a 30-byte image header, segments of at most 10240 bytes with an odd
// last piece padded); files that are not whole images of their format,
// other formats and unreadable files refused with no output.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "host/filters.h"
#include "host/host_testing.h"
#include "host/status.h"

namespace {

using Bytes = std::vector<unsigned char>;

/* A GIF89a of the logical screen size: 43 bytes. */
Bytes Gif(unsigned width, unsigned height) {
  Bytes gif = {'G', 'I', 'F', '8', '9', 'a', static_cast<unsigned char>(width),
               static_cast<unsigned char>(width >> 8), static_cast<unsigned char>(height),
               static_cast<unsigned char>(height >> 8), 0x80, 0, 0,
               0, 0, 0, 0xFF, 0xFF, 0xFF,
               0x21, 0xF9, 4, 1, 0, 0, 0, 0,
               0x2C, 0, 0, 0, 0, 1, 0, 1, 0, 0,
               2, 2, 0x44, 1, 0,
               0x3B};
  return gif;
}

/* A JPEG of the size, `size` bytes long: SOI, an APP0 segment, a frame
 * header, filler and EOI. */
Bytes Jpeg(unsigned width, unsigned height, size_t size) {
  Bytes jpeg = {0xFF, 0xD8, 0xFF, 0xE0, 0, 4, 'J', 'F',
                0xFF, 0xC0, 0, 11, 8, static_cast<unsigned char>(height >> 8),
                static_cast<unsigned char>(height), static_cast<unsigned char>(width >> 8),
                static_cast<unsigned char>(width), 1, 1, 0x11, 0};
  while (jpeg.size() + 2 < size)
    jpeg.push_back(0x55);
  jpeg.push_back(0xFF);
  jpeg.push_back(0xD9);
  return jpeg;
}

void Put(Bytes* out, std::initializer_list<unsigned> bytes) {
  for (unsigned byte : bytes)
    out->push_back(static_cast<unsigned char>(byte));
}
void PutWord(Bytes* out, unsigned value) { Put(out, {value & 0xFF, value >> 8 & 0xFF}); }
void PutDword(Bytes* out, unsigned value) {
  PutWord(out, value & 0xFFFF);
  PutWord(out, value >> 16);
}

/* The CD file imgfilt writes for the data, from the stored layouts. */
Bytes ExpectedCdFile(const Bytes& data, unsigned type, unsigned width, unsigned height) {
  Bytes out;
  PutWord(&out, 1);
  // CDGRAPHIC: LSIG 0x99, length 30, sizes 0, 12 reserved, resize 0,
  // version 2, flags 0, 4 reserved.
  PutWord(&out, 0x99);
  PutDword(&out, 30);
  out.insert(out.end(), 18, 0);
  Put(&out, {2, 0, 0, 0, 0, 0});
  // CDIMAGEHEADER: LSIG 0x7D, length 30.
  const unsigned segments = (static_cast<unsigned>(data.size()) + 10239) / 10240;
  PutWord(&out, 0x7D);
  PutDword(&out, 30);
  PutWord(&out, type);
  PutWord(&out, width);
  PutWord(&out, height);
  PutWord(&out, 0);
  PutDword(&out, static_cast<unsigned>(data.size()));
  PutDword(&out, segments);
  out.insert(out.end(), 8, 0);
  for (size_t at = 0; at < data.size(); at += 10240) {
    const unsigned piece = static_cast<unsigned>(std::min<size_t>(10240, data.size() - at));
    const unsigned padded = piece + (piece & 1);
    PutWord(&out, 0x7C);
    PutDword(&out, 10 + padded);
    PutWord(&out, piece);
    PutWord(&out, padded);
    out.insert(out.end(), data.begin() + at, data.begin() + at + piece);
    out.insert(out.end(), padded - piece, 0);
  }
  return out;
}

class ImageFilterTest : public ::testing::Test {
protected:
  void SetUp() override {
    HostTestReset();
    base_ = ::testing::TempDir() + "velko_imgfilt_" + std::to_string(getpid());
    input_ = base_ + ".in";
    output_ = base_ + ".cd";
  }
  void TearDown() override {
    std::remove(input_.c_str());
    std::remove(output_.c_str());
    HostTestReset();
  }
  void WriteInput(const Bytes& bytes) {
    std::ofstream(input_, std::ios::binary)
        .write(reinterpret_cast<const char *>(bytes.data()),
               static_cast<std::streamsize>(bytes.size()));
  }
  Bytes Output() {
    std::ifstream in(output_, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), {});
  }
  bool OutputExists() { return access(output_.c_str(), F_OK) == 0; }

  std::string base_;
  std::string input_;
  std::string output_;
};

TEST_F(ImageFilterTest, LibrariesAreFoundByNameInAnyCase) {
  for (const char* name : {"imgfilt", "IMGFILT", "imgfil", "imgfiltx"}) {
    const bool known = std::string(name).size() == 7;
    HMODULE module = 7;
    IMPORT_FILTER_PROC entry = nullptr;
    EXPECT_EQ(OSLoadLibrary(name, 0, &module, &entry), known ? NOERROR : ERR_FILTER_NO_LIBRARY);
    EXPECT_EQ(entry, known ? &ImageImportFilter : nullptr) << name;
    EXPECT_EQ(module != 0, known) << name;
  }
}

TEST_F(ImageFilterTest, ImagesBecomeAGraphicAHeaderAndSegmentsOfTheFile) {
  struct Case {
    const char* name;
    Bytes data;
    const char* format;
    unsigned type, width, height;
  };
  const Case cases[] = {
      {"gif", Gif(258, 3), "GIF", 1, 258, 3},
      {"jpeg of one whole segment", Jpeg(640, 480, 10240), "JPEG", 2, 640, 480},
      {"jpeg over three segments, the last odd", Jpeg(33, 44, 20481), "JPEG", 2, 33, 44},
      {"jpeg of two, format in lower case", Jpeg(1, 2, 20480), "jpeg", 2, 1, 2},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    WriteInput(c.data);
    ASSERT_EQ(ImageImportFilter(input_.c_str(), c.format, output_.c_str(), 0), NOERROR);
    EXPECT_EQ(Output(), ExpectedCdFile(c.data, c.type, c.width, c.height));
  }
}

TEST_F(ImageFilterTest, WhatIsNotAWholeImageOfItsFormatIsRefusedWithoutOutput) {
  Bytes noTrailer = Gif(4, 4);
  noTrailer.pop_back();
  Bytes noSize = Gif(0, 4);
  Bytes oldGifName = Gif(4, 4);
  oldGifName[3] = '9';
  oldGifName[4] = '0';
  Bytes noEnd = Jpeg(5, 5, 100);
  noEnd.back() = 0;
  Bytes noFrame = {0xFF, 0xD8, 0xFF, 0xE0, 0, 4, 0, 0, 0, 0, 0, 0, 0, 0, 0xFF, 0xD9};
  struct Case {
    const char* name;
    Bytes data;
    const char* format;
    STATUS status;
  };
  const Case cases[] = {
      {"gif without its trailer", noTrailer, "GIF", ERR_FILTER_BAD_IMAGE},
      {"gif of width 0", noSize, "GIF", ERR_FILTER_BAD_IMAGE},
      {"gif of another version name", oldGifName, "GIF", ERR_FILTER_BAD_IMAGE},
      {"gif given as jpeg", Gif(4, 4), "JPEG", ERR_FILTER_BAD_IMAGE},
      {"jpeg without its end mark", noEnd, "JPEG", ERR_FILTER_BAD_IMAGE},
      {"jpeg without a frame header", noFrame, "JPEG", ERR_FILTER_BAD_IMAGE},
      {"bitmap format", {'B', 'M', 0, 0}, "BMP", ERR_FILTER_FORMAT},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    WriteInput(c.data);
    EXPECT_EQ(ImageImportFilter(input_.c_str(), c.format, output_.c_str(), 0), c.status);
    EXPECT_FALSE(OutputExists());
  }
  std::remove(input_.c_str());
  EXPECT_EQ(ImageImportFilter(input_.c_str(), "GIF", output_.c_str(), 0), ERR_HOST_FILE_IO);
  EXPECT_FALSE(OutputExists());
}

} // namespace
