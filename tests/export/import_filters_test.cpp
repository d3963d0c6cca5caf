// Import filters from the notes.ini entries to the records of a body.
// DetermineImportExportDLL over a table of entries: the key by extension or
// whole name in any case, names without '.', entries lacking fields 3 and 4
// or too long for the buffers passed over, gaps in the numbering, export
// entries apart, and the caller's name never changed. Then images through
// VelkoRTChunk::AppendGraphic("File"): a GIF and a JPEG give segments that
// hold the file whole; a file without a filter, a corrupt GIF and a
// failing filter give their statuses, secondary status 20014 and the
// filter's text, and leave no file in the temporary directory; a file
// hotspot's "UseGraphic=" image is imported as its icon; an image resource
// made by CreateDesignElement holds image records only.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "engine/services.h"
#include "host/filters.h"
#include "host/host_testing.h"
#include "host/nsfnote.h"
#include "host/status.h"
#include "tests/support/record_lines.h"
#include "tests/support/test_fixture.h"

namespace {

using Bytes = std::vector<BYTE>;

TEST(DetermineImportExportDllTest, EntriesAreFoundByTheKeyTheirFieldsAllow) {
  HostTestReset();
  const std::string longName(256, 'x');
  const std::pair<const char*, std::string> entries[] = {
      {"EDITIMP1", "GIF Image,0,imgfilt,GIF,.GIF"},
      {"EDITIMP2", "JPEG Image,0,imgfilt,JPEG,.JPG .JPEG"},
      {"EDITIMP3", "Only three,0,threelib .TXT"},
      {"EDITIMP4", "Text , 0 , textlib , TEXT , .TXT"},
      {"EDITIMP5", "Long,0," + longName + ",F,.LONG"},
      {"EDITIMP6", "Long format,0,longlib," + longName + ",.LONG"},
      {"EDITIMP7", "Short,0,shortlib,SHORT,.LONG"},
      {"EDITIMP8", "Empty library,0,,DOC,.DOC"},
      {"EDITIMP10", "Word,0,wordlib,WORD,.DOC"},
      {"EDITIMP99", "Last,0,lastlib,LAST,.ZZZ"},
      {"EDITIMP100", "Beyond,0,beyondlib,BEYOND,.YYY"},
      {"EDITEXP1", "GIF out,0,gifexp,GIFOUT,.GIF"},
  };
  for (const auto& [name, value] : entries)
    HostTestSetEnvironment(name, value.c_str());

  struct Case {
    const char* name;
    DWORD import;
    DWORD whole;
    DWORD found;
    const char* library;
    const char* format;
  };
  const Case cases[] = {
      {"a.gif", 1, 0, 1, "imgfilt", "GIF"},
      {"DIR.X/A.GiF", 1, 0, 1, "imgfilt", "GIF"},
      {"photo.jpeg", 1, 0, 1, "imgfilt", "JPEG"},
      {"photo.JPG", 1, 0, 1, "imgfilt", "JPEG"},
      {"notes.txt", 1, 0, 1, "textlib", "TEXT"},     // entry 3 lacks field 4
      {"big.long", 1, 0, 1, "shortlib", "SHORT"},    // 5 and 6 do not fit
      {"letter.tar.doc", 1, 0, 1, "wordlib", "WORD"}, // 8 has no library; 9 missing
      {"end.zzz", 1, 0, 1, "lastlib", "LAST"},
      {"end.yyy", 1, 0, 0, "", ""},                   // entry 100 is not read
      {"noextension", 1, 0, 0, "", ""},
      {"a.bmp", 1, 0, 0, "", ""},
      {"a.gif", 0, 0, 1, "gifexp", "GIFOUT"},
      {"a.jpg", 0, 0, 0, "", ""},
      {"jpeg image", 1, 1, 1, "imgfilt", "JPEG"},     // the whole name as key
      {"a.gif", 1, 1, 0, "", ""},
      {"noextension", 1, 1, 0, "", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.name) + (c.import != 0 ? " import" : " export") +
                 (c.whole != 0 ? " whole" : ""));
    char name[64] = {};
    std::strcpy(name, c.name);
    char library[256] = "?";
    char format[256] = "?";
    EXPECT_EQ(DetermineImportExportDLL(nullptr, name, library, format, c.import, c.whole),
              c.found);
    EXPECT_STREQ(name, c.name); // the key is upper-cased in a copy
    if (c.found != 0) {
      EXPECT_STREQ(library, c.library);
      EXPECT_STREQ(format, c.format);
    }
  }
  HostTestReset();
}

/* The records of stored values: signature (0x00nn or 0xFFnn) and bytes. */
struct stored_record {
  WORD signature;
  Bytes bytes;
};
std::vector<stored_record> StoredRecords(const std::vector<Bytes>& values) {
  std::vector<stored_record> records;
  for (const std::string& line : note_testing::RecordLines(values)) {
    Bytes bytes;
    for (size_t at = 0; at + 1 < line.size(); at += 2)
      bytes.push_back(static_cast<BYTE>(std::stoi(line.substr(at, 2), nullptr, 16)));
    if (bytes.size() < 2) {
      ADD_FAILURE() << line;
      continue;
    }
    WORD signature = bytes[0];
    if (bytes[1] == 0xFF)
      signature |= 0xFF00;
    records.push_back({signature, bytes});
  }
  return records;
}

Bytes Gif(BYTE width, BYTE height, bool whole = true) {
  Bytes gif = {'G', 'I', 'F', '8', '9', 'a', width, 0, height, 0, 0x80, 0, 0, 0, 0, 0, 0xFF,
               0xFF, 0xFF, 0x2C, 0, 0, 0, 0, 1, 0, 1, 0, 0, 2, 2, 0x44, 1, 0};
  if (whole)
    gif.push_back(0x3B);
  return gif;
}

Bytes Jpeg(BYTE width, BYTE height, size_t size) {
  Bytes jpeg = {0xFF, 0xD8, 0xFF, 0xC0, 0, 11, 8, 0, height, 0, width, 1, 1, 0x11, 0};
  for (size_t i = jpeg.size(); i + 2 < size; ++i)
    jpeg.push_back(static_cast<BYTE>(i * 7));
  jpeg.push_back(0xFF);
  jpeg.push_back(0xD9);
  return jpeg;
}

WORD Word(const Bytes& bytes, size_t at) {
  return static_cast<WORD>(bytes[at] | bytes[at + 1] << 8);
}

class ImportFilterTest : public engine_test::EngineTest {
protected:
  void SetUp() override {
    EngineTest::SetUp();
    HostTestSetEnvironment("EDITIMP1", "GIF Image,0,imgfilt,GIF,.GIF");
    HostTestSetEnvironment("EDITIMP2", "JPEG Image,0,imgfilt,JPEG,.JPG .JPEG");
    temp_ = ::testing::TempDir() + "velko_filters_" + std::to_string(getpid()) + "/";
    std::filesystem::create_directories(temp_ + "in");
    HostTestSetEnvironment("$TarnoTempDirectory", (temp_ + "cd/").c_str());
    std::filesystem::create_directories(temp_ + "cd");
    session_->InitializeTempDirectory();
  }
  void TearDown() override {
    std::filesystem::remove_all(temp_);
    EngineTest::TearDown();
  }

  std::string Input(const std::string& name, const Bytes& bytes) {
    const std::string path = temp_ + "in/" + name;
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char *>(bytes.data()),
               static_cast<std::streamsize>(bytes.size()));
    return path;
  }

  /* The files left in the temporary directory. */
  size_t TemporaryFiles() {
    return static_cast<size_t>(std::distance(std::filesystem::directory_iterator(temp_ + "cd"),
                                             std::filesystem::directory_iterator()));
  }

  /* A body of one paragraph of text. */
  void StartBody() {
    AppendItem({engine_test::PabDef(1), engine_test::PabRef(1), engine_test::Text("x")});
  }

  std::string temp_;
};

TEST_F(ImportFilterTest, GifAndJpegGiveSegmentsHoldingTheFile) {
  struct Case {
    const char* name;
    Bytes data;
    WORD type;
    WORD width;
    WORD height;
    size_t segments;
  };
  const Case cases[] = {
      {"small.gif", Gif(12, 34), 1, 12, 34, 1},
      {"PHOTO.JPEG", Jpeg(56, 78, 25000), 2, 56, 78, 3},
      {"odd.jpg", Jpeg(9, 10, 10241), 2, 9, 10, 2},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Restart();
    StartBody();
    const std::string path = Input(c.name, c.data);
    VelkoRTChunk* chunk = Chunk("Everything");
    ASSERT_EQ(chunk->AppendGraphic("File", path.c_str(), nullptr), NOERROR);
    EXPECT_EQ(chunk->secondary_status, 0);
    EXPECT_EQ(TemporaryFiles(), 0u);

    Bytes held;
    size_t segments = 0;
    size_t graphics = 0;
    for (const stored_record& record : StoredRecords(Values())) {
      if (record.signature == SIG_CD_GRAPHIC)
        ++graphics;
      if (record.signature == SIG_CD_IMAGEHEADER) {
        EXPECT_EQ(Word(record.bytes, 6), c.type);
        EXPECT_EQ(Word(record.bytes, 8), c.width);
        EXPECT_EQ(Word(record.bytes, 10), c.height);
      }
      if (record.signature == SIG_CD_IMAGESEGMENT) {
        ++segments;
        const WORD size = Word(record.bytes, 6);
        held.insert(held.end(), record.bytes.begin() + 10, record.bytes.begin() + 10 + size);
      }
    }
    EXPECT_EQ(graphics, 1u);
    EXPECT_EQ(segments, c.segments);
    EXPECT_EQ(held, c.data);
  }
}

/* A filter of the test's own that writes its output and then fails, and
 * what it was called with. */
std::string filter_output;
DWORD filter_flags = 0;
STATUS WritingThenFailingFilter(const char*, const char*, const char* output, DWORD flags) {
  filter_output = output;
  filter_flags = flags;
  std::ofstream(output) << "half";
  return ERR_HOST_FILE_IO;
}
TEST_F(ImportFilterTest, FailuresGiveTheirStatusTheFiltersTextAnd20014LeavingNoFile) {
  struct Case {
    const char* name;
    Bytes data;
    STATUS status;
    const char* message; /* null: none */
  };
  const Case cases[] = {
      {"picture.bmp", {'B', 'M', 0, 0}, VELKO_ERR_BAD_ARGUMENT, nullptr},
      {"corrupt.gif", Gif(3, 3, false), ERR_FILTER_BAD_IMAGE,
       "The file is not a valid image of its format"},
      {"jpeg.gif", Jpeg(3, 3, 100), ERR_FILTER_BAD_IMAGE,
       "The file is not a valid image of its format"},
      {"data.fail", {1, 2, 3}, ERR_HOST_FILE_IO, "File cannot be read or written"},
      {"data.nolib", {1, 2, 3}, ERR_FILTER_NO_LIBRARY, "Import filter library not found"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Restart();
    HostTestSetEnvironment("EDITIMP3", "Failing,0,failfilt,ANY,.FAIL");
    HostTestSetImportFilter("failfilt", WritingThenFailingFilter);
    HostTestSetEnvironment("EDITIMP4", "Missing,0,nolib,ANY,.NOLIB");
    HostTestClearMessages();
    filter_output.clear();
    StartBody();
    const std::vector<Bytes> before = Values();
    const std::string path = Input(c.name, c.data);
    VelkoRTChunk* chunk = Chunk("Everything");
    ASSERT_EQ(item_->SetPropertyNumber("ImportNativeImages", 1), NOERROR);
    EXPECT_EQ(chunk->AppendGraphic("File", path.c_str(), nullptr), c.status);
    EXPECT_EQ(chunk->secondary_status, VELKO_ERR_IMPORT_FAILED);
    std::vector<std::string> expected;
    if (c.message != nullptr)
      expected.push_back(c.message);
    EXPECT_EQ(note_testing::MessageTexts(), expected);
    EXPECT_EQ(TemporaryFiles(), 0u);
    EXPECT_EQ(Values(), before); // the note is unchanged
    if (c.status == ERR_HOST_FILE_IO) {
      // The failing filter wrote into a new file of the temporary
      // directory, named after the item's ImportExportFile, and was told
      // to keep images native.
      EXPECT_EQ(filter_flags, IMPORT_FLAG_NATIVE_IMAGES);
      EXPECT_EQ(filter_output.rfind(temp_ + "cd/default", 0), 0u) << filter_output;
      EXPECT_EQ(filter_output.size(), (temp_ + "cd/defaultXXXXXX.cd").size()) << filter_output;
    }
  }
}

TEST_F(ImportFilterTest, AFileHotspotShowsTheImageOfUseGraphic) {
  StartBody();
  const Bytes gif = Gif(7, 8);
  const std::string icon = Input("icon.gif", gif);
  const std::string file = Input("report.txt", {'r'});
  const std::string options = "UseGraphic=" + icon;
  session_->internal->option_string = options.c_str();
  VelkoRTChunk* chunk = Chunk("Everything");
  EXPECT_EQ(chunk->AppendFileAttachment(file.c_str(), "report.txt", 0, nullptr), NOERROR);
  session_->internal->option_string = nullptr;
  EXPECT_EQ(chunk->secondary_status, 0);
  EXPECT_EQ(TemporaryFiles(), 0u);
  std::vector<WORD> signatures;
  Bytes held;
  for (const stored_record& record : StoredRecords(Values())) {
    if (record.signature == SIG_CD_HOTSPOTBEGIN || record.signature == SIG_CD_HOTSPOTEND ||
        record.signature == SIG_CD_GRAPHIC || record.signature == SIG_CD_IMAGEHEADER ||
        record.signature == SIG_CD_IMAGESEGMENT)
      signatures.push_back(record.signature);
    if (record.signature == SIG_CD_IMAGESEGMENT)
      held.insert(held.end(), record.bytes.begin() + 10,
                  record.bytes.begin() + 10 + Word(record.bytes, 6));
  }
  const std::vector<WORD> expected = {SIG_CD_HOTSPOTBEGIN, SIG_CD_GRAPHIC, SIG_CD_IMAGEHEADER,
                                      SIG_CD_IMAGESEGMENT, SIG_CD_HOTSPOTEND};
  EXPECT_EQ(signatures, expected);
  EXPECT_EQ(held, gif);
}

/* A filter of the test's own that reports success over an output that is
 * no CD file. */
STATUS BrokenOutputFilter(const char*, const char*, const char* output, DWORD) {
  std::ofstream(output) << "not a CD file";
  return NOERROR;
}
TEST_F(ImportFilterTest, AUseGraphicIconThatCannotBeAppendedLeavesNoFile) {
  HostTestSetEnvironment("EDITIMP3", "Broken,0,brokenfilt,ANY,.BROKEN");
  HostTestSetImportFilter("brokenfilt", BrokenOutputFilter);
  StartBody();
  const std::string icon = Input("icon.broken", {'x'});
  const std::string file = Input("report.txt", {'r'});
  const std::string options = "UseGraphic=" + icon;
  session_->internal->option_string = options.c_str();
  VelkoRTChunk* chunk = Chunk("Everything");
  EXPECT_EQ(chunk->AppendFileAttachment(file.c_str(), "report.txt", 0, nullptr),
            ERR_HOST_BAD_CD_FILE);
  session_->internal->option_string = nullptr;
  EXPECT_EQ(chunk->secondary_status, VELKO_ERR_IMPORT_FAILED);
  EXPECT_EQ(TemporaryFiles(), 0u);
}

TEST_F(ImportFilterTest, AnImageResourceHoldsOnlyImageRecords) {
  const Bytes data = Jpeg(20, 30, 12000);
  const std::string path = Input("logo.jpg", data);
  VelkoRTItem* item = session_->CreateDesignElement("Image Resource", "", kDbPath, "logo.jpg",
                                                    path.c_str());
  ASSERT_NE(item, nullptr);
  std::vector<WORD> signatures;
  for (const stored_record& record :
       StoredRecords(note_testing::ItemValues(item->note, "$ImageData")))
    signatures.push_back(record.signature);
  const std::vector<WORD> expected = {SIG_CD_GRAPHIC, SIG_CD_IMAGEHEADER, SIG_CD_IMAGESEGMENT,
                                      SIG_CD_IMAGESEGMENT};
  EXPECT_EQ(signatures, expected);
  EXPECT_EQ(TemporaryFiles(), 0u);
}

} // namespace
