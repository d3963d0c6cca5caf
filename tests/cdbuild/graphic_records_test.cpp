// The builder's graphic, file-data, storage-link and resource records,
// written from script lines and read back by the store's loader: each field
// reaches the host-form offset the record layouts read it at, and the data
// behind each fixed part follows it whole.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "cdbuild/cd_script.h"
#include "host/cdrecords.h"
#include "host/host_testing.h"
#include "store/body.h"
#include "tests/support/bytes_support.h"
#include "tests/support/note_fixture.h"
#include "velko/velko.h"

namespace {

using bytes_test::Bytes;
using bytes_test::Hex;

/* The fixed part of a loaded record in host form, read through a copy. */
template <typename T> T Fixed(const record_storage* node) {
  T fixed{};
  std::memcpy(&fixed, node->data, std::min<size_t>(node->length, sizeof fixed));
  return fixed;
}

/* The bytes of a loaded record behind its host fixed part. */
template <typename T> std::string Behind(const record_storage* node) {
  if (node->length < sizeof(T))
    return "<short>";
  return std::string(node->data + sizeof(T), node->length - sizeof(T));
}

class GraphicRecordsTest : public ::testing::Test {
protected:
  void SetUp() override {
    HostTestReset();
    ASSERT_EQ(note_testing::CreateDatabase("mem:graphicrecords", &db_), NOERROR);
    ASSERT_EQ(NSFNoteCreate(db_, &note_), NOERROR);
  }
  void TearDown() override {
    if (loaded_ != nullptr) {
      CleanupBodyContext(session_.get(), loaded_);
      delete loaded_;
    }
    session_.reset();
    NSFNoteClose(note_);
    NSFDbClose(db_);
    HostTestReset();
  }

  /* Builds the script into the note's "Body" and loads it; the nodes. */
  std::vector<const record_storage*> Load(const char* script) {
    cdbuild::Body body;
    cdbuild::ScriptError error;
    EXPECT_TRUE(cdbuild::BuildScript(script, &body, &error))
        << error.line << ": " << error.message;
    EXPECT_EQ(body.AppendItems(note_, "Body"), NOERROR);
    item_ = new VelkoRTItem(session_.get());
    EXPECT_EQ(item_->ConnectBackend(note_, "Body", 0), NOERROR);
    loaded_ = StoreItemsAndRecords(item_, 0, 0, nullptr, 0, 0, NULLHANDLE, nullptr);
    std::vector<const record_storage*> nodes;
    if (loaded_ == nullptr)
      return nodes;
    EXPECT_EQ(loaded_->load_status, NOERROR);
    for (const record_storage* node = loaded_->records; node != nullptr; node = node->next)
      nodes.push_back(node);
    return nodes;
  }

  std::unique_ptr<LSXLsiSession> session_ = std::make_unique<LSXLsiSession>();
  DBHANDLE db_ = NULLHANDLE;
  NOTEHANDLE note_ = NULLHANDLE;
  VelkoRTItem* item_ = nullptr; /* deleted with the session */
  body_context* loaded_ = nullptr;
};

TEST_F(GraphicRecordsTest, FieldsReachTheHostLayouts) {
  const auto nodes = Load(R"(GRAPHIC destwidth=640 destheight=480 resize=1 version=3 flags=1
IMAGEHEADER type=2 width=300 height=200 datasize=70000 segments=2
IMAGESEGMENT data="GIF89a!"
BITMAPHEADER destwidth=11 destheight=12 width=33 height=44 bpp=8 segments=5
FILEHEADER extension="txt" datasize=0x12345678 segments=7
FILESEGMENT data="hello"
STORAGELINK ref="Graphic1"
)");
  ASSERT_EQ(nodes.size(), 7u);

  const auto graphic = Fixed<CDGRAPHIC>(nodes[0]);
  EXPECT_EQ(nodes[0]->length, sizeof(CDGRAPHIC));
  EXPECT_EQ(graphic.DestWidth, 640);
  EXPECT_EQ(graphic.DestHeight, 480);
  EXPECT_EQ(graphic.Resize, 1);
  EXPECT_EQ(graphic.Version, 3);
  EXPECT_EQ(graphic.Flags, 1);

  const auto header = Fixed<CDIMAGEHEADER>(nodes[1]);
  EXPECT_EQ(nodes[1]->length, sizeof(CDIMAGEHEADER));
  EXPECT_EQ(header.ImageType, 2);
  EXPECT_EQ(header.Width, 300);
  EXPECT_EQ(header.Height, 200);
  EXPECT_EQ(header.ImageDataSize, 70000u);
  EXPECT_EQ(header.SegCount, 2u);

  // An odd piece of data: the data size counts it, the segment size is even.
  const auto segment = Fixed<CDIMAGESEGMENT>(nodes[2]);
  EXPECT_EQ(segment.DataSize, 7);
  EXPECT_EQ(segment.SegSize, 8);
  EXPECT_EQ(Behind<CDIMAGESEGMENT>(nodes[2]), "GIF89a!");

  const auto bitmap = Fixed<CDBITMAPHEADER>(nodes[3]);
  EXPECT_EQ(nodes[3]->length, sizeof(CDBITMAPHEADER));
  EXPECT_EQ(bitmap.DestWidth, 11);
  EXPECT_EQ(bitmap.DestHeight, 12);
  EXPECT_EQ(bitmap.Width, 33);
  EXPECT_EQ(bitmap.Height, 44);

  const auto file = Fixed<CDFILEHEADER>(nodes[4]);
  EXPECT_EQ(file.FileDataSize, 0x12345678u);
  EXPECT_EQ(Behind<CDFILEHEADER>(nodes[4]), "txt");

  const auto fileSegment = Fixed<CDFILESEGMENT>(nodes[5]);
  EXPECT_EQ(fileSegment.DataSize, 5);
  EXPECT_EQ(fileSegment.SegSize, 6);
  EXPECT_EQ(Behind<CDFILESEGMENT>(nodes[5]), "hello");

  const auto link = Fixed<CDSTORAGELINK>(nodes[6]);
  EXPECT_EQ(link.StorageType, 1);
  EXPECT_EQ(link.LoadType, 1);
  EXPECT_EQ(link.Length, 8);
  EXPECT_EQ(Behind<CDSTORAGELINK>(nodes[6]), "Graphic1");
}

/* A resource's fixed part loses its two end bytes when stored; the hints,
 * the link and the name behind it keep their order. */
TEST_F(GraphicRecordsTest, ResourcePartsFollowTheFixedPart) {
  const auto nodes = Load(R"(RESOURCE type=1 class=2 server="srv" file="f.gif" name="http://x/"
RESOURCE sig=0xFF78 type=2 link=0700 name="n"
)");
  ASSERT_EQ(nodes.size(), 2u);
  const auto url = Fixed<CDRESOURCE>(nodes[0]);
  EXPECT_EQ(nodes[0]->signature, SIG_CD_RESOURCE);
  EXPECT_EQ(url.Type, 1);
  EXPECT_EQ(url.ResourceClass, 2);
  EXPECT_EQ(url.ServerHintLength, 3);
  EXPECT_EQ(url.FileHintLength, 5);
  EXPECT_EQ(url.Length1, 9);
  EXPECT_EQ(Behind<CDRESOURCE>(nodes[0]), "srvf.gifhttp://x/");

  const auto indexed = Fixed<CDRESOURCE>(nodes[1]);
  EXPECT_EQ(nodes[1]->signature, SIG_CD_RESOURCE_FF78);
  EXPECT_EQ(indexed.Type, 2);
  EXPECT_EQ(Behind<CDRESOURCE>(nodes[1]), std::string("\x07\x00n", 3));
}

/* Stored bytes of the records whose layouts the loader carries over as
 * opaque parts, so only the bytes can show a field in the wrong place. */
TEST(GraphicRecordBytesTest, SegmentsAndBitmapsAsStored) {
  const struct {
    const char* line;
    const char* stored;
  } cases[] = {
      {"BITMAPSEGMENT data=AABBCC scanlines=2", "96 00 15 00 00 00 Z8 02 00 03 00 AA BB CC"},
      {"IMAGESEGMENT data=0102", "7C 00 0C 00 00 00 02 00 02 00 01 02"},
      {"BITMAPHEADER width=2 height=3 bpp=4",
       "95 00 26 00 00 00 Z16 02 00 03 00 04 00 01 00 04 00 Z6"},
  };
  for (const auto& c : cases) {
    cdbuild::Body body;
    std::string error;
    ASSERT_TRUE(cdbuild::BuildScriptLine(c.line, &body, &error)) << c.line << ": " << error;
    ASSERT_EQ(body.records().size(), 1u);
    EXPECT_EQ(bytes_test::ShowHex(body.records()[0]), bytes_test::ShowHex(Hex(c.stored)))
        << c.line;
  }
}

} // namespace
