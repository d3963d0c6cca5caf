// The builder's graphic, file-data, storage-link and resource records,
// written from script lines and read back by the store's loader: each field
// reaches the host-form offset the record layouts read it at, and the data
// behind each fixed part follows it whole.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <tuple>
#include <vector>

#include "cdbuild/cd_script.h"
#include "tests/support/note_fixture.h"
#include "velko/velko.h"

namespace {

/* The fixed part of a record in host form, read through a copy, and the
 * bytes behind it. */
template <typename T> T Fixed(const record_storage* node) {
  T fixed{};
  std::memcpy(&fixed, node->data, std::min<size_t>(node->length, sizeof fixed));
  return fixed;
}
template <typename T> std::string Behind(const record_storage* node) {
  return node->length < sizeof(T) ? "<short>"
                                  : std::string(node->data + sizeof(T), node->length - sizeof(T));
}

TEST(GraphicRecordsTest, FieldsReachTheHostLayouts) {
  HostTestReset();
  DBHANDLE db = NULLHANDLE;
  NOTEHANDLE note = NULLHANDLE;
  ASSERT_EQ(note_testing::CreateDatabase("mem:graphicrecords", &db), NOERROR);
  ASSERT_EQ(NSFNoteCreate(db, &note), NOERROR);
  cdbuild::Body body;
  cdbuild::ScriptError error;
  ASSERT_TRUE(cdbuild::BuildScript(R"(GRAPHIC destwidth=640 destheight=480 resize=1 version=3 flags=1
IMAGEHEADER type=2 width=300 height=200 datasize=70000 segments=2
IMAGESEGMENT data="GIF89a!"
BITMAPHEADER destwidth=11 destheight=12 width=33 height=44 bpp=8 segments=5
FILEHEADER extension="txt" datasize=0x12345678 segments=7
FILESEGMENT data="hello"
STORAGELINK ref="Graphic1"
RESOURCE type=1 class=2 server="srv" file="f.gif" name="http://x/"
RESOURCE sig=0xFF78 type=2 link=0700 name="n"
)",
                                   &body, &error))
      << error.line << ": " << error.message;
  ASSERT_EQ(body.AppendItems(note, "Body"), NOERROR);
  {
    LSXLsiSession session;
    auto* item = new VelkoRTItem(&session);
    ASSERT_EQ(item->ConnectBackend(note, "Body", 0), NOERROR);
    body_context* loaded = StoreItemsAndRecords(item, 0, 0, nullptr, 0, 0, NULLHANDLE, nullptr);
    ASSERT_NE(loaded, nullptr);
    EXPECT_EQ(loaded->load_status, NOERROR);
    std::vector<const record_storage*> n;
    for (const record_storage* node = loaded->records; node != nullptr; node = node->next)
      n.push_back(node);
    ASSERT_EQ(n.size(), 9u);

    using std::tuple;
    const auto graphic = Fixed<CDGRAPHIC>(n[0]);
    EXPECT_EQ(tuple(n[0]->length, graphic.DestWidth, graphic.DestHeight, graphic.Resize,
                    graphic.Version, graphic.Flags),
              tuple(sizeof(CDGRAPHIC), 640, 480, 1, 3, 1));
    const auto header = Fixed<CDIMAGEHEADER>(n[1]);
    EXPECT_EQ(tuple(n[1]->length, header.ImageType, header.Width, header.Height,
                    header.ImageDataSize, header.SegCount),
              tuple(sizeof(CDIMAGEHEADER), 2, 300, 200, 70000u, 2u));
    // Odd data: the data size counts it, the segment size is even.
    const auto segment = Fixed<CDIMAGESEGMENT>(n[2]);
    EXPECT_EQ(tuple(segment.DataSize, segment.SegSize, Behind<CDIMAGESEGMENT>(n[2])),
              tuple(7, 8, "GIF89a!"));
    const auto bitmap = Fixed<CDBITMAPHEADER>(n[3]);
    EXPECT_EQ(tuple(n[3]->length, bitmap.DestWidth, bitmap.DestHeight, bitmap.Width, bitmap.Height),
              tuple(sizeof(CDBITMAPHEADER), 11, 12, 33, 44));
    EXPECT_EQ(tuple(Fixed<CDFILEHEADER>(n[4]).FileDataSize, Behind<CDFILEHEADER>(n[4])),
              tuple(0x12345678u, "txt"));
    const auto file = Fixed<CDFILESEGMENT>(n[5]);
    EXPECT_EQ(tuple(file.DataSize, file.SegSize, Behind<CDFILESEGMENT>(n[5])), tuple(5, 6, "hello"));
    const auto link = Fixed<CDSTORAGELINK>(n[6]);
    EXPECT_EQ(tuple(link.StorageType, link.LoadType, link.Length, Behind<CDSTORAGELINK>(n[6])),
              tuple(1, 1, 8, "Graphic1"));
    // A resource's stored fixed part lacks its two end bytes; the hints,
    // the link and the name behind it keep their order.
    const auto url = Fixed<CDRESOURCE>(n[7]);
    EXPECT_EQ(tuple(url.Type, url.ResourceClass, url.ServerHintLength, url.FileHintLength,
                    url.Length1, Behind<CDRESOURCE>(n[7])),
              tuple(1, 2, 3, 5, 9, "srvf.gifhttp://x/"));
    EXPECT_EQ(tuple(n[8]->signature, Fixed<CDRESOURCE>(n[8]).Type, Behind<CDRESOURCE>(n[8])),
              tuple(SIG_CD_RESOURCE_FF78, 2, std::string("\x07\x00n", 3)));
    CleanupBodyContext(&session, loaded);
    delete loaded;
  }
  NSFNoteClose(note);
  NSFDbClose(db);
  HostTestReset();
}

} // namespace
