/*
 * The item-level export through the class interface: SaveAsHTML writes
 * what GenerateHTML returns, byte for byte, to a path or a caller's file;
 * SaveAsMime writes a message that GMime and Python's email package read
 * back into the HTML that GenerateHTMLToMime renders in MIME mode, with
 * one part per image, link icon and attachment under the ids the HTML
 * names; the message converts back into the item's text, cells and image
 * bytes. Failures (a path that cannot be written, memory that runs out in
 * the library or the host) leave no file, no part file in the temporary
 * directory, no attachment on the note and no tracked block in use.
 */
#include <gmime/gmime.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "cdbuild/cd_script.h"
#include "export/item_export.h"
#include "host/host_testing.h"
#include "host/mime_items.h"
#include "host/nsfnote.h"
#include "host/nls.h"
#include "store/services.h"
#include "store/session.h"
#include "store/tracked_memory_testing.h"
#include "tests/support/test_fixture.h"

/* The process's umask calls pass through here: those of threads that are
 * saving are counted. */
thread_local bool t_saving = false;
std::atomic<int> g_saving_umask_calls{0};

extern "C" mode_t umask(mode_t mask) noexcept {
  if (t_saving)
    ++g_saving_umask_calls;
  return static_cast<mode_t>(syscall(SYS_umask, mask));
}

namespace {

using ::testing::EndsWith;
using ::testing::HasSubstr;
namespace fs = std::filesystem;

constexpr char kEncoded[] = "ContentTransferEncoding=quoted-printable";

/* Two 1 x 1 GIFs, black and white (the colour table's first entry). */
constexpr char kBlackGif[] =
    "47494638396101000100800000 000000 FFFFFF 2C00000000010001000002024401003B";
constexpr char kWhiteGif[] =
    "47494638396101000100800000 FFFFFF 000000 2C00000000010001000002024401003B";

std::string HexBytes(const char* hex) {
  std::string bytes;
  std::string digits;
  for (const char* at = hex; *at != '\0'; ++at)
    if (*at != ' ')
      digits += *at;
  for (size_t i = 0; i + 1 < digits.size(); i += 2)
    bytes += static_cast<char>(std::stoi(digits.substr(i, 2), nullptr, 16));
  return bytes;
}

std::string NoBlanks(std::string text) {
  std::erase(text, ' ');
  return text;
}

/* Styled text, a table of two cells, two GIFs and a document link. */
std::string ItemScript() {
  return "PARAGRAPH\nPABDEF id=1\nPABREF id=1\n"
         "TEXT attributes=bold text=\"Bold start\"\nTEXT text=\" and plain text\"\n"
         "PARAGRAPH\nPABREF id=1\nTABLEBEGIN\n"
         "TABLECELL row=0 column=0\nPABREF id=1\nTEXT text=\"cell one\"\n"
         "TABLECELL row=0 column=1\nPABREF id=1\nTEXT text=\"cell two\"\nTABLEEND\n"
         "PARAGRAPH\nPABREF id=1\n"
         "BEGIN sig=CDGRAPHIC\nGRAPHIC\nIMAGEHEADER type=1 width=1 height=1 segments=1\n"
         "IMAGESEGMENT data=" +
         NoBlanks(kBlackGif) +
         "\nEND sig=CDGRAPHIC\nTEXT text=\" between \"\n"
         "BEGIN sig=CDGRAPHIC\nGRAPHIC\nIMAGEHEADER type=1 width=1 height=1 segments=1\n"
         "IMAGESEGMENT data=" +
         NoBlanks(kWhiteGif) +
         "\nEND sig=CDGRAPHIC\n"
         "PARAGRAPH\nPABREF id=1\nTEXT text=\"See \"\n"
         "DOCLINK notelink=01000000AB000000010A0000020A0000030A0000040A0000010B0000020B0000030B"
         "0000040B0000 texts=\"\\0\\0\"\nTEXT text=\" here\"\n";
}

/* Paragraphs enough that the HTML passes the renderer's buffers (its
 * MIME part file takes over at a few kilobytes; its own buffer at 64). */
std::string LongScript(int paragraphs = 1500) {
  std::string script = "PABDEF id=1\n";
  for (int i = 0; i < paragraphs; ++i)
    script += "PARAGRAPH\nPABREF id=1\nTEXT text=\"Paragraph " + std::to_string(i) +
              " of a long body, with some words & marks <to> escape.\"\n";
  return script;
}

/* A file hotspot naming an attachment of the note. */
constexpr char kAttachmentScript[] = "PARAGRAPH\nPABDEF id=1\nPABREF id=1\nTEXT text=\"Files: \"\n"
                                     "HOTSPOTBEGIN type=4 data=\"report.txt\\0report.txt\"\n"
                                     "TEXT text=\"icon\"\nHOTSPOTEND\n";

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

/* ---- reading a message with GMime ---- */

struct read_part {
  std::string type; /* "text/html" */
  std::string charset;
  std::string id;
  std::string disposition;
  std::string filename;
  std::string encoding;
  std::string raw;  /* as the message holds it */
  std::string data; /* decoded */
};

struct read_message {
  bool parsed = false;
  std::string root;        /* the top entity's type */
  std::string mime_version;
  std::vector<read_part> parts; /* the leaves, in order */
};

void CollectLeaves(GMimeObject* object, read_message* message) {
  if (GMIME_IS_MULTIPART(object)) {
    GMimeMultipart* multipart = GMIME_MULTIPART(object);
    for (int i = 0; i < g_mime_multipart_get_count(multipart); ++i)
      CollectLeaves(g_mime_multipart_get_part(multipart, i), message);
    return;
  }
  if (!GMIME_IS_PART(object))
    return;
  GMimePart* part = GMIME_PART(object);
  read_part read;
  GMimeContentType* type = g_mime_object_get_content_type(object);
  read.type = std::string(g_mime_content_type_get_media_type(type)) + "/" +
              g_mime_content_type_get_media_subtype(type);
  const char* charset = g_mime_content_type_get_parameter(type, "charset");
  read.charset = charset != nullptr ? charset : "";
  const char* id = g_mime_object_get_content_id(object);
  read.id = id != nullptr ? id : "";
  const char* disposition = g_mime_object_get_disposition(object);
  read.disposition = disposition != nullptr ? disposition : "";
  const char* filename = g_mime_part_get_filename(part);
  read.filename = filename != nullptr ? filename : "";
  const char* encoding = g_mime_content_encoding_to_string(g_mime_part_get_content_encoding(part));
  read.encoding = encoding != nullptr ? encoding : "";
  GMimeDataWrapper* content = g_mime_part_get_content(part);
  GMimeStream* stream = g_mime_stream_mem_new();
  g_mime_data_wrapper_write_to_stream(content, stream);
  GByteArray* bytes = g_mime_stream_mem_get_byte_array(GMIME_STREAM_MEM(stream));
  read.data.assign(reinterpret_cast<const char*>(bytes->data), bytes->len);
  g_object_unref(stream);
  GMimeStream* held = g_mime_data_wrapper_get_stream(content);
  g_mime_stream_reset(held);
  GMimeStream* copy = g_mime_stream_mem_new();
  g_mime_stream_write_to_stream(held, copy);
  bytes = g_mime_stream_mem_get_byte_array(GMIME_STREAM_MEM(copy));
  read.raw.assign(reinterpret_cast<const char*>(bytes->data), bytes->len);
  g_object_unref(copy);
  message->parts.push_back(std::move(read));
}

read_message ReadMessage(const std::string& text) {
  g_mime_init();
  read_message message;
  GMimeStream* stream = g_mime_stream_mem_new_with_buffer(text.data(), text.size());
  GMimeParser* parser = g_mime_parser_new_with_stream(stream);
  GMimeMessage* parsed = g_mime_parser_construct_message(parser, nullptr);
  if (parsed != nullptr) {
    GMimeObject* root = g_mime_message_get_mime_part(parsed);
    if (root != nullptr) {
      message.parsed = true;
      GMimeContentType* type = g_mime_object_get_content_type(root);
      message.root = std::string(g_mime_content_type_get_media_type(type)) + "/" +
                     g_mime_content_type_get_media_subtype(type);
      const char* version = g_mime_object_get_header(GMIME_OBJECT(parsed), "MIME-Version");
      message.mime_version = version != nullptr ? version : "";
      CollectLeaves(root, &message);
    }
    g_object_unref(parsed);
  }
  g_object_unref(parser);
  g_object_unref(stream);
  return message;
}

/* The ids that follow "cid:" in the HTML, each as often as it is named. */
std::vector<std::string> NamedIDs(const std::string& html) {
  std::vector<std::string> ids;
  for (size_t at = html.find("cid:"); at != std::string::npos; at = html.find("cid:", at + 4)) {
    const size_t end = html.find_first_of("\"' >)\r\n", at + 4);
    ids.push_back(html.substr(at + 4, end - at - 4));
  }
  return ids;
}

class ItemExportTest : public engine_test::EngineTest {
protected:
  void SetUp() override {
    EngineTest::SetUp();
    const std::string base = "/tmp/velko-export-" + std::to_string(::getpid());
    temp_ = base + "-temp/";
    out_ = base + "-out/";
    for (const fs::path& dir : {temp_, out_}) {
      fs::remove_all(dir);
      fs::create_directories(dir);
    }
    const std::string directory = temp_.string();
    std::snprintf(session_->internal->temp_directory, sizeof session_->internal->temp_directory,
                  "%s", directory.c_str());
    session_->internal->temp_directory_len = static_cast<WORD>(directory.size());
  }
  void TearDown() override {
    VelkoTestFailTrackedAllocation(0);
    HostTestFailAllocation(0);
    EngineTest::TearDown();
    fs::remove_all(temp_);
    fs::remove_all(out_);
  }

  void Load(const std::string& script) {
    cdbuild::Body body;
    cdbuild::ScriptError error;
    ASSERT_TRUE(cdbuild::BuildScript(script, &body, &error)) << error.line << ": " << error.message;
    ASSERT_EQ(body.AppendItems(note_, "Body"), NOERROR);
    Connect();
  }

  /* What GenerateHTML returns for the whole item. */
  std::string Generated(const char* generation, const char* options) {
    VelkoRTChunk* chunk = item_->DefineChunk("Everything");
    char* output = chunk->GenerateHTML("", generation, options, 0, nullptr, nullptr);
    std::string text = output != nullptr ? std::string(output, session_->render_result_length) : "";
    VelkoDeallocatePtr(session_, output);
    delete chunk;
    return text;
  }

  /* What GenerateHTMLToMime renders in MIME mode: the part file it
   * attaches (taken off the note again), then the caller buffer's text. */
  std::string RenderedForMime(const char* options) {
    VelkoRTChunk* chunk = item_->DefineChunk("Everything");
    std::vector<char> buffer(kWorkBlockSize);
    DWORD length = static_cast<DWORD>(buffer.size());
    char partName[256] = {};
    int used[4] = {};
    int word = 0;
    EXPECT_EQ(chunk->GenerateHTMLToMime(0, 1, "HTML", options,
                                        static_cast<WORD>(strlen(options)), buffer.data(), &length,
                                        9, partName, nullptr, nullptr, nullptr, nullptr, used,
                                        &word),
              NOERROR);
    delete chunk;
    std::string html;
    if (partName[0] != '\0') {
      EXPECT_EQ(ReadAttachmentData(note_, partName, true, &html), NOERROR);
    }
    return html + std::string(buffer.data(), length);
  }

  bool TempEmpty() const { return fs::is_empty(temp_); }
  std::vector<std::string> OutFiles() const {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(out_))
      names.push_back(entry.path().filename().string());
    return names;
  }

  fs::path temp_;
  fs::path out_;
};

/* ---- SaveAsHTML ---- */

TEST_F(ItemExportTest, SaveAsHTMLWritesWhatGenerateHTMLReturns) {
  const struct {
    const char* label;
    std::string script;
    const char* generation;
    const char* options;
    std::string name = "item.html";
  } cases[] = {
      {"HTML", ItemScript(), "HTML 4.01", ""},
      {"XHTML", ItemScript(), "XHTML 1.0", ""},
      {"fragment", ItemScript(), "HTML", "Generation=Fragment"},
      {"long body, several flushes", LongScript(), "HTML", ""},
      // A name near the longest a file may have: made whole beside it
      // under a temporary name that fits as well.
      {"name of 250 bytes", ItemScript(), "HTML", "", std::string(245, 'n') + ".html"},
  };
  for (const auto& test : cases) {
    SCOPED_TRACE(test.label);
    Restart();
    Load(test.script);
    const std::string expected = Generated(test.generation, test.options);
    ASSERT_FALSE(expected.empty());
    const fs::path path = out_ / test.name;
    EXPECT_EQ(item_->SaveAsHTML(path.c_str(), test.generation, test.options), NOERROR);
    EXPECT_EQ(item_->last_status, NOERROR);
    EXPECT_EQ(ReadFile(path), expected);

    const fs::path callerPath = out_ / "caller.html";
    FILE* file = fopen(callerPath.c_str(), "wb");
    ASSERT_NE(file, nullptr);
    fputs("kept:", file);
    EXPECT_EQ(item_->SaveAsHTML(file, test.generation, test.options), NOERROR);
    fclose(file);
    EXPECT_EQ(ReadFile(callerPath), "kept:" + expected);
    EXPECT_TRUE(TempEmpty());
  }
}

TEST_F(ItemExportTest, ImagesTheOptionsWriteToDiskAreWrittenBesideTheDocument) {
  Load(ItemScript());
  const fs::path images = out_ / "images";
  const std::string options = "ImageHandling=DISK ImageURLDirectory=images ImageDirectory=" +
                              images.string();
  const fs::path path = out_ / "item.html";
  ASSERT_EQ(item_->SaveAsHTML(path.c_str(), "HTML", options.c_str()), NOERROR);
  const std::string html = ReadFile(path);
  std::vector<std::string> written;
  for (const auto& entry : fs::directory_iterator(images)) {
    written.push_back(entry.path().filename().string());
    EXPECT_THAT(html, HasSubstr("src=\"images/" + written.back() + "\""));
  }
  ASSERT_EQ(written.size(), 2u);
  std::sort(written.begin(), written.end());
  EXPECT_EQ(ReadFile(images / written[0]), HexBytes(kBlackGif));
  EXPECT_EQ(ReadFile(images / written[1]), HexBytes(kWhiteGif));
  EXPECT_EQ(html, Generated("HTML", options.c_str()));
}

TEST_F(ItemExportTest, SaveAsMimeWritesToACallersFileOnlyAWholeMessage) {
  Load(ItemScript());
  const fs::path path = out_ / "caller.eml";
  FILE* file = fopen(path.c_str(), "wb");
  ASSERT_NE(file, nullptr);
  fputs("From: kept\r\n", file);
  EXPECT_EQ(item_->SaveAsMime(file, "HTML", ""), NOERROR);
  // Options the renderer cannot take (longer than its length word) write
  // nothing.
  const std::string tooLong(70000, 'x');
  EXPECT_EQ(item_->SaveAsMime(file, "HTML", tooLong.c_str()), VELKO_ERR_BAD_ARGUMENT);
  EXPECT_EQ(item_->last_status, VELKO_ERR_BAD_ARGUMENT);
  const long written = ftell(file);
  fclose(file);
  const std::string text = ReadFile(path);
  EXPECT_EQ(static_cast<long>(text.size()), written);
  const read_message message = ReadMessage(text);
  EXPECT_EQ(message.root, "multipart/related");
  EXPECT_EQ(message.parts.size(), 4u);
  EXPECT_EQ(text.substr(0, 12), "From: kept\r\n");
}

TEST_F(ItemExportTest, AFileThatCannotBeWrittenIs1028AndLeavesNothing) {
  Load(ItemScript());
  fs::create_directories(out_ / "a directory");
  fs::create_directories(out_ / "locked");
  fs::permissions(out_ / "locked", fs::perms::owner_read | fs::perms::owner_exec);
  const bool rootIgnoresModes = ::access((out_ / "locked").c_str(), W_OK) == 0;
  struct target {
    const char* label;
    fs::path path;
  };
  std::vector<target> targets = {{"missing directory", out_ / "missing" / "item.html"},
                                 {"a directory", out_ / "a directory"},
                                 {"empty path", ""}};
  if (!rootIgnoresModes)
    targets.push_back({"directory without write permission", out_ / "locked" / "item.html"});
  for (const target& t : targets) {
    for (const bool mime : {false, true}) {
      SCOPED_TRACE(std::string(t.label) + (mime ? " (MIME)" : " (HTML)"));
      const STATUS status = mime ? item_->SaveAsMime(t.path.c_str(), "HTML", "")
                                 : item_->SaveAsHTML(t.path.c_str(), "HTML", "");
      EXPECT_EQ(status, VELKO_ERR_BAD_ARGUMENT);
      EXPECT_EQ(item_->last_status, VELKO_ERR_BAD_ARGUMENT);
      EXPECT_THAT(OutFiles(), ::testing::UnorderedElementsAre("a directory", "locked"));
      EXPECT_TRUE(fs::is_empty(out_ / "a directory"));
      EXPECT_TRUE(TempEmpty());
      EXPECT_EQ(note_testing::AttachedFileNames(note_), "");
    }
  }
  fs::permissions(out_ / "locked", fs::perms::owner_all);
}

/* Saving neither reads nor changes the process's umask, which reading
 * means setting: files saved on four threads at once, each through a
 * session of its own, and files another thread makes meanwhile all get the
 * mode the umask allows, and the umask is the same afterwards. A moment
 * of another umask is too short for a run to meet reliably: the umask
 * calls of the saving threads are counted as well. */
TEST_F(ItemExportTest, SavedFilesKeepTheProcessUmask) {
  const NOTEID id = StoreNote({engine_test::PabDef(1), engine_test::Paragraph(),
                               engine_test::PabRef(1), engine_test::Text("saved")});
  constexpr int kSavers = 4;
  constexpr int kSaves = 20;
  const mode_t caller = umask(027);
  g_saving_umask_calls = 0;
  std::atomic<int> saving{kSavers};
  std::vector<std::string> wrongModes[kSavers + 1];
  auto modeOf = [](const fs::path& path) {
    struct stat info = {};
    return ::stat(path.c_str(), &info) == 0 ? info.st_mode & 0777 : mode_t{01000};
  };
  std::vector<std::thread> threads;
  for (int t = 0; t < kSavers; ++t) {
    threads.emplace_back([&, t] {
      LSXLsiSession session;
      auto* item = new VelkoRTItem(&session); // the session deletes it
      const bool connected = item->Connect("", kDbPath, id, "Body", 0) == NOERROR;
      t_saving = true;
      for (int i = 0; connected && i < kSaves; ++i) {
        const fs::path path = out_ / ("saved-" + std::to_string(t) + "-" + std::to_string(i));
        const STATUS status = i % 2 == 0 ? item->SaveAsHTML(path.c_str(), "HTML", "")
                                         : item->SaveAsMime(path.c_str(), "HTML", "");
        if (status != NOERROR || modeOf(path) != 0640)
          wrongModes[t].push_back(path.filename().string());
      }
      t_saving = false;
      if (!connected)
        wrongModes[t].push_back("not connected");
      --saving;
    });
  }
  threads.emplace_back([&] {
    const fs::path path = out_ / "made-meanwhile";
    while (saving > 0) {
      const int fd = ::open(path.c_str(), O_CREAT | O_EXCL | O_WRONLY, 0666);
      if (fd >= 0)
        ::close(fd);
      if (modeOf(path) != 0640)
        wrongModes[kSavers].push_back("made meanwhile");
      ::unlink(path.c_str());
    }
  });
  for (std::thread& thread : threads)
    thread.join();
  EXPECT_EQ(umask(caller), 027);
  EXPECT_EQ(g_saving_umask_calls, 0);
  for (const std::vector<std::string>& wrong : wrongModes) {
    EXPECT_TRUE(wrong.empty()) << wrong.size() << " files, the first " << wrong.front();
  }
  EXPECT_EQ(OutFiles().size(), size_t{kSavers * kSaves});
}

TEST_F(ItemExportTest, AnItemThatIsNotConnectedExportsNothing) {
  VelkoRTItem item(session_);
  const fs::path path = out_ / "item.eml";
  EXPECT_EQ(item.SaveAsHTML(path.c_str(), "HTML", ""), VELKO_ERR_NO_INPUT);
  EXPECT_EQ(item.SaveAsMime(path.c_str(), "HTML", ""), VELKO_ERR_NO_INPUT);
  EXPECT_EQ(item.last_status, VELKO_ERR_NO_INPUT);
  EXPECT_TRUE(OutFiles().empty());
}

/* ---- SaveAsMime ---- */

TEST_F(ItemExportTest, TheMessageHoldsTheHTMLAndAPartForEachIdItNames) {
  Load(ItemScript());
  const std::string expected = RenderedForMime(kEncoded);
  const fs::path path = out_ / "item.eml";
  ASSERT_EQ(item_->SaveAsMime(path.c_str(), "HTML", ""), NOERROR);
  EXPECT_EQ(note_testing::AttachedFileNames(note_), "");
  EXPECT_TRUE(TempEmpty());
  const read_message message = ReadMessage(ReadFile(path));
  ASSERT_TRUE(message.parsed);
  EXPECT_EQ(message.root, "multipart/related");
  EXPECT_EQ(message.mime_version, "1.0");
  ASSERT_EQ(message.parts.size(), 4u);
  const read_part& html = message.parts[0];
  EXPECT_EQ(html.type, "text/html");
  EXPECT_EQ(html.charset, "ISO-8859-1");
  EXPECT_EQ(html.encoding, "quoted-printable");
  // The renderer's encoded text as it came; decoded, every line end of the
  // HTML is back where the renderer wrote it.
  EXPECT_EQ(html.raw, expected);
  EXPECT_THAT(html.data, HasSubstr("<table border='0'><tr valign='top'><td width='96'>"
                                   "<div>cell one</div></td>"));
  EXPECT_THAT(html.data, ::testing::Not(HasSubstr("=\r\n")));

  // The two images under the ids of their places in the body, then the
  // document link's icon.
  const std::vector<std::string> named = NamedIDs(html.data);
  ASSERT_EQ(named.size(), 3u);
  EXPECT_THAT(named[0], ::testing::MatchesRegex("_1_000000[0-9A-F]{6}[0-9A-F]{16}"));
  EXPECT_THAT(named[1], ::testing::MatchesRegex("_1_000000[0-9A-F]{6}[0-9A-F]{16}"));
  EXPECT_EQ(named[2], "_a_doclink");
  const std::string images[] = {HexBytes(kBlackGif), HexBytes(kWhiteGif)};
  for (size_t i = 0; i < 3; ++i) {
    SCOPED_TRACE(named[i]);
    const read_part& part = message.parts[i + 1];
    EXPECT_EQ(part.type, "image/gif");
    EXPECT_EQ(part.id, named[i]);
    EXPECT_EQ(part.encoding, "base64");
    if (i < 2)
      EXPECT_EQ(part.data, images[i]);
    else
      EXPECT_EQ(part.data.substr(0, 6), "GIF89a");
  }
}

TEST_F(ItemExportTest, AnImageWithoutWholeDataIsNotNamedInTheMessage) {
  // A GIF whose header counts two segments and holds one, a bitmap without
  // GIF or JPEG data, then a whole GIF: the first two keep their elements
  // without a source, and only the last is named and carried by a part.
  Load("PARAGRAPH\nPABDEF id=1\nPABREF id=1\n"
       "BEGIN sig=CDGRAPHIC\nGRAPHIC\nIMAGEHEADER type=1 width=1 height=1 segments=2\n"
       "IMAGESEGMENT data=" +
       NoBlanks(kBlackGif) +
       "\nEND sig=CDGRAPHIC\nTEXT text=\"a\"\n"
       "BEGIN sig=CDGRAPHIC\nGRAPHIC\nBITMAPHEADER width=2 height=3 segments=1\n"
       "BITMAPSEGMENT data=00\nEND sig=CDGRAPHIC\nTEXT text=\"b\"\n"
       "BEGIN sig=CDGRAPHIC\nGRAPHIC\nIMAGEHEADER type=1 width=1 height=1 segments=1\n"
       "IMAGESEGMENT data=" +
       NoBlanks(kWhiteGif) + "\nEND sig=CDGRAPHIC\n");
  const fs::path path = out_ / "item.eml";
  ASSERT_EQ(item_->SaveAsMime(path.c_str(), "HTML", ""), NOERROR);
  const read_message message = ReadMessage(ReadFile(path));
  ASSERT_TRUE(message.parsed);
  ASSERT_EQ(message.parts.size(), 2u);
  const std::string& html = message.parts[0].data;
  EXPECT_THAT(html, HasSubstr("<img height=\"1\" width=\"1\" border=\"0\">a"
                              "<img height=\"3\" width=\"2\" border=\"0\">b<img src=cid:"));
  const std::vector<std::string> named = NamedIDs(html);
  ASSERT_EQ(named.size(), 1u);
  EXPECT_EQ(message.parts[1].id, named[0]);
  EXPECT_EQ(message.parts[1].data, HexBytes(kWhiteGif));
}

/* Image resources the HTML names by cid: (an image's source, a cell's
 * background) become parts read from the item's database, under their ids
 * with the HTML's escapes decoded ("&amp;" is "&", "%28" is "("): a GIF
 * resource as image/gif, a JPEG one as image/jpeg. A resource the
 * database lacks keeps its reference without a part. A link icon the HTML
 * names is a part although no link of its kind marked it used: here the
 * document link's icon is named as the view link's. */
TEST_F(ItemExportTest, ImageResourcesTheHTMLNamesBecomeParts) {
  const auto storeResource = [this](const std::string& name, BYTE type, const std::string& bytes) {
    cdbuild::Body image;
    image.Add(cdbuild::Graphic({}));
    image.Add(cdbuild::ImageHeader({.image_type = type, .segment_count = 1}));
    image.Add(cdbuild::ImageSegment(cdbuild::Bytes(bytes.begin(), bytes.end())));
    return note_testing::StoreImageResource(db_, name, image);
  };
  const std::string gif = HexBytes(kBlackGif);
  ASSERT_NE(storeResource("art\\logo&1.gif", 1, gif), 0u);
  ASSERT_NE(storeResource("back(1).jpg", 2, "JPEG bytes"), 0u);
  const std::string script =
      "PARAGRAPH\nPABDEF id=1\nPABREF id=1\nTEXT text=\"T\"\n"
      "BEGIN sig=CDGRAPHIC\nGRAPHIC\nIMAGEHEADER type=1 width=16 height=16\n"
      "RESOURCE type=3 class=0x13 link=0000000000000000 name=\"art\\\\logo&1.gif\"\n"
      "END sig=CDGRAPHIC\n"
      "BEGIN sig=CDGRAPHIC\nGRAPHIC\nIMAGEHEADER type=1 width=16 height=16\n"
      "RESOURCE type=3 class=0x13 link=0000000000000000 name=\"missing.gif\"\n"
      "END sig=CDGRAPHIC\n"
      "TABLEBEGIN\nTABLECELL row=0 column=0\n"
      "RESOURCE sig=0xFF78 type=3 class=0x13 link=0000000000000000 name=\"back(1).jpg\"\n"
      "TEXT text=\"a\"\nTABLEEND\n"
      "PARAGRAPH\nPABREF id=1\n"
      "DOCLINK notelink=01000000AB000000010A0000020A0000030A0000040A0000010B0000020B0000030B"
      "0000040B0000 texts=\"\\0\\0\"\n";
  cdbuild::Body body;
  cdbuild::ScriptError error;
  ASSERT_TRUE(cdbuild::BuildScript(script, &body, &error)) << error.line << ": " << error.message;
  const NOTEID id = note_testing::StoreNoteWith(
      db_, [&](NOTEHANDLE note) { return body.AppendItems(note, "Body"); });
  ASSERT_NE(id, 0u);
  auto* item = new VelkoRTItem(session_); // the session deletes it
  ASSERT_EQ(item->Connect("", kDbPath, id, "Body", 0), NOERROR);

  const fs::path path = out_ / "resources.eml";
  ASSERT_EQ(item->SaveAsMime(path.c_str(), "HTML", "DoclinkGraphic=cid:_a_viewlink"), NOERROR);
  const read_message message = ReadMessage(ReadFile(path));
  ASSERT_TRUE(message.parsed);
  ASSERT_FALSE(message.parts.empty());
  EXPECT_EQ(NamedIDs(message.parts[0].data),
            (std::vector<std::string>{"art_logo&amp;1.gif", "missing.gif", "back%281%29.jpg",
                                      "_a_viewlink"}));
  ASSERT_EQ(message.parts.size(), 4u);
  const struct {
    const char* type;
    const char* id;
    std::string data;
  } expected[] = {{"image/gif", "art_logo&1.gif", gif},
                  {"image/jpeg", "back(1).jpg", "JPEG bytes"},
                  {"image/gif", "_a_viewlink", ""}};
  for (size_t i = 0; i < std::size(expected); ++i) {
    SCOPED_TRACE(expected[i].id);
    const read_part& part = message.parts[i + 1];
    EXPECT_EQ(part.type, expected[i].type);
    EXPECT_EQ(part.id, expected[i].id);
    EXPECT_EQ(part.disposition, "inline");
    if (!expected[i].data.empty())
      EXPECT_EQ(part.data, expected[i].data);
    else
      EXPECT_EQ(part.data.substr(0, 6), "GIF89a");
  }
}

TEST_F(ItemExportTest, ALongBodyComesFromThePartFileAndTheBuffer) {
  Load(LongScript());
  const std::string expected = RenderedForMime(kEncoded);
  ASSERT_GT(expected.size(), size_t{kWorkBlockSize});
  const fs::path path = out_ / "long.eml";
  ASSERT_EQ(item_->SaveAsMime(path.c_str(), "HTML", ""), NOERROR);
  const read_message message = ReadMessage(ReadFile(path));
  ASSERT_EQ(message.parts.size(), 1u);
  EXPECT_EQ(message.parts[0].raw, expected);
  EXPECT_THAT(message.parts[0].data, HasSubstr("Paragraph 1499 of a long body"));
  EXPECT_EQ(note_testing::AttachedFileNames(note_), "");
  EXPECT_TRUE(TempEmpty());
}

/* The message as GMime writes it once it has read it: headers, boundaries
 * and contents as they were read, lines ending in CR LF. */
std::string RewrittenByGMime(const std::string& text) {
  GMimeStream* stream = g_mime_stream_mem_new_with_buffer(text.data(), text.size());
  GMimeParser* parser = g_mime_parser_new_with_stream(stream);
  GMimeMessage* parsed = g_mime_parser_construct_message(parser, nullptr);
  std::string rewritten;
  if (parsed != nullptr) {
    GMimeStream* out = g_mime_stream_mem_new();
    GMimeFormatOptions* format = g_mime_format_options_new();
    g_mime_format_options_set_newline_format(format, GMIME_NEWLINE_FORMAT_DOS);
    g_mime_object_write_to_stream(GMIME_OBJECT(parsed), format, out);
    g_mime_format_options_free(format);
    const GByteArray* bytes = g_mime_stream_mem_get_byte_array(GMIME_STREAM_MEM(out));
    rewritten.assign(reinterpret_cast<const char*>(bytes->data), bytes->len);
    g_object_unref(out);
    g_object_unref(parsed);
  }
  g_object_unref(parser);
  g_object_unref(stream);
  return rewritten;
}

/* A large HTML is written as it stands around what GMime writes of the
 * rest of the message; a small one goes through GMime. Either way the
 * message is the one GMime itself writes for what it holds, and holds the
 * renderer's bytes. */
TEST_F(ItemExportTest, TheMessageIsTheOneGMimeWritesWhateverTheHTMLsSize) {
  const std::string paragraphs = LongScript().substr(std::string("PABDEF id=1\n").size());
  const struct {
    const char* name;
    std::string script;
    size_t parts;
  } cases[] = {{"small", ItemScript(), 4}, {"large", ItemScript() + paragraphs, 4}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Restart();
    Load(c.script);
    const std::string expected = RenderedForMime(kEncoded);
    const fs::path path = out_ / "item.eml";
    ASSERT_EQ(item_->SaveAsMime(path.c_str(), "HTML", ""), NOERROR);
    const std::string text = ReadFile(path);
    EXPECT_EQ(RewrittenByGMime(text), text);
    const read_message message = ReadMessage(text);
    ASSERT_EQ(message.parts.size(), c.parts);
    EXPECT_EQ(message.parts[0].raw, expected);
  }
}

TEST_F(ItemExportTest, OptionsChooseTheCharsetAndTheTransferEncoding) {
  Load(ItemScript());
  const struct {
    const char* options;
    const char* rendered; /* the options the renderer gets */
    const char* charset;
  } cases[] = {
      {"Charset=UTF-8", "Charset=UTF-8 ContentTransferEncoding=quoted-printable", "UTF-8"},
      {"CharsetNum=82", "CharsetNum=82 ContentTransferEncoding=quoted-printable", "windows-1252"},
      {kEncoded, kEncoded, "ISO-8859-1"},
      // Not encoded by the renderer: GMime encodes the text, taking each
      // line end as a line break of the message (CR LF).
      {"ContentTransferEncoding=8bit", "ContentTransferEncoding=8bit", "ISO-8859-1"},
  };
  for (const auto& test : cases) {
    SCOPED_TRACE(test.options);
    const std::string rendered = RenderedForMime(test.rendered);
    const fs::path path = out_ / "item.eml";
    ASSERT_EQ(item_->SaveAsMime(path.c_str(), "HTML", test.options), NOERROR);
    const read_message message = ReadMessage(ReadFile(path));
    ASSERT_EQ(message.parts.size(), 4u);
    EXPECT_EQ(message.parts[0].charset, test.charset);
    EXPECT_EQ(message.parts[0].encoding, "quoted-printable");
    if (strstr(test.rendered, kEncoded) != nullptr) {
      EXPECT_EQ(message.parts[0].raw, rendered);
    } else {
      std::string lines;
      for (size_t at = 0; at < rendered.size(); ++at) {
        if (rendered[at] == '\r' && at + 1 < rendered.size() && rendered[at + 1] == '\n')
          continue;
        lines += rendered[at] == '\n' ? "\r\n" : std::string(1, rendered[at]);
      }
      EXPECT_EQ(message.parts[0].data, lines);
    }
  }
}

/* The closing texts follow the renderer's last flush, yet they belong to
 * the quoted-printable part as much as the rest: encoded, in lines of at
 * most 76, their 8-bit bytes translated. */
TEST_F(ItemExportTest, TheClosingTextsAreEncodedWithTheRestOfThePart) {
  const std::string closing = "<p class=\"end\">" + std::string(90, 'z') + " caf\x82</p>";
  const std::string options = "ClosingBody='" + closing + "</body>' Postscript=<!--a=b-->";
  const struct {
    const char* name;
    std::string script;
  } cases[] = {{"held", ItemScript()}, {"part file and held", LongScript()}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Restart();
    Load(c.script);
    const fs::path path = out_ / "item.eml";
    ASSERT_EQ(item_->SaveAsMime(path.c_str(), "HTML", options.c_str()), NOERROR);
    const read_message message = ReadMessage(ReadFile(path));
    ASSERT_FALSE(message.parts.empty());
    const read_part& html = message.parts[0];
    ASSERT_EQ(html.encoding, "quoted-printable");
    std::istringstream lines(html.raw);
    for (std::string line; std::getline(lines, line);) {
      EXPECT_LE(line.size(), 77u) << line; // 76 and the CR
      for (size_t at = line.find('='); at != std::string::npos; at = line.find('=', at + 1))
        EXPECT_TRUE(at + 2 == line.size() || (isxdigit(line[at + 1]) && isxdigit(line[at + 2])))
            << line;
    }
    std::string decoded = html.data;
    for (size_t at; (at = decoded.find("\r\n")) != std::string::npos;)
      decoded.erase(at, 2);
    EXPECT_THAT(decoded, HasSubstr("<p class=\"end\">" + std::string(90, 'z') + " caf\xE9</p>"));
    EXPECT_THAT(decoded, EndsWith("<!--a=b-->"));
  }
}

/* Text in a multi-byte set is written in its bytes, and the HTML part
 * is labelled with that set, so that a reader decodes what was written. */
TEST_F(ItemExportTest, TheHTMLPartIsLabelledWithTheSetItsBytesAreIn) {
  Load(ItemScript());
  // "中文 café" through the closing text, which the renderer translates.
  const std::string text = LmbcsFromUtf8("\xE4\xB8\xAD\xE6\x96\x87 caf\xC3\xA9");
  const struct {
    const char* charset;
    const char* name;
    std::string written;
  } cases[] = {
      {"BIG5", "Big5", "\xA4\xA4\xA4\xE5 caf&#233;"},
      {"GB", "GB2312", "\xD6\xD0\xCE\xC4 caf\xA8\xA6"},
      {"EUC", "EUC-JP", "\xC3\xE6\xCA\xB8 caf\x8F\xAB\xB1"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.charset);
    const std::string options =
        std::string("Charset=") + c.charset + " ClosingBody='<p>" + text + "</p></body>'";
    const fs::path path = out_ / "item.eml";
    ASSERT_EQ(item_->SaveAsMime(path.c_str(), "HTML", options.c_str()), NOERROR);
    const read_message message = ReadMessage(ReadFile(path));
    ASSERT_EQ(message.parts.size(), 4u);
    EXPECT_EQ(message.parts[0].charset, c.name);
    EXPECT_THAT(message.parts[0].data, HasSubstr("<p>" + c.written + "</p>"));
  }
}

/* Attachment names beyond ASCII are encoded in the headers (RFC 2231)
 * and read back as the note's names. */
TEST_F(ItemExportTest, AttachmentNamesReadBackAsTheNotesNames) {
  const std::string names[] = {"r\xC3\xA9sum\xC3\xA9.txt", "\xE4\xB8\xAD\xE6\x96\x87.txt",
                               "two words; a=b.txt"};
  std::string script = "PARAGRAPH\nPABDEF id=1\nPABREF id=1\n";
  for (const std::string& name : names) {
    const std::string held = LmbcsFromUtf8(name);
    script += "HOTSPOTBEGIN type=4 data=\"" + held + "\\0" + held + "\"\nTEXT text=\"f\"\n"
              "HOTSPOTEND\n";
  }
  Load(script);
  for (const std::string& name : names) {
    const fs::path file = out_ / "data";
    std::ofstream(file, std::ios::binary) << name;
    ASSERT_EQ(NSFNoteAttachFile(note_, "$FILE", 5, file.c_str(), LmbcsFromUtf8(name).c_str(), 0),
              NOERROR);
  }
  const fs::path path = out_ / "files.eml";
  ASSERT_EQ(item_->SaveAsMime(path.c_str(), "HTML", "AttachmentHandling=NAME"), NOERROR);
  const std::string text = ReadFile(path);
  EXPECT_EQ(text.find_first_of("\xC3\xE4"), std::string::npos); // no raw 8-bit header
  const read_message message = ReadMessage(text);
  ASSERT_EQ(message.parts.size(), 4u);
  for (size_t i = 0; i < 3; ++i) {
    EXPECT_EQ(message.parts[i + 1].filename, names[i]);
    EXPECT_EQ(message.parts[i + 1].data, names[i]);
  }
}

TEST_F(ItemExportTest, AttachmentsRenderedByNameBecomeAttachmentParts) {
  Load(kAttachmentScript);
  const fs::path file = out_ / "report.txt";
  std::ofstream(file, std::ios::binary) << "report body\n";
  ASSERT_EQ(NSFNoteAttachFile(note_, "$FILE", 5, file.c_str(), "report.txt", 0), NOERROR);
  fs::remove(file);
  const fs::path path = out_ / "files.eml";
  ASSERT_EQ(item_->SaveAsMime(path.c_str(), "HTML", "AttachmentHandling=NAME"), NOERROR);
  const read_message message = ReadMessage(ReadFile(path));
  EXPECT_EQ(message.root, "multipart/mixed");
  ASSERT_EQ(message.parts.size(), 2u);
  EXPECT_THAT(message.parts[0].data, HasSubstr("&lt;attachment: report.txt&gt;"));
  EXPECT_EQ(message.parts[1].disposition, "attachment");
  EXPECT_EQ(message.parts[1].filename, "report.txt");
  EXPECT_EQ(message.parts[1].data, "report body\n");
  // The note keeps its own attachment and gains none.
  EXPECT_EQ(note_testing::AttachedFileNames(note_), "report.txt");

  // Without by-name handling the renderer shows no attachment: none goes in.
  ASSERT_EQ(item_->SaveAsMime(path.c_str(), "HTML", ""), NOERROR);
  EXPECT_EQ(ReadMessage(ReadFile(path)).parts.size(), 1u);
}

TEST_F(ItemExportTest, PythonsEmailPackageReadsTheMessage) {
  Load(ItemScript());
  const fs::path eml = out_ / "item.eml";
  const fs::path html = out_ / "expected.html";
  std::ofstream(html, std::ios::binary) << RenderedForMime(kEncoded);
  ASSERT_EQ(item_->SaveAsMime(eml.c_str(), "HTML", ""), NOERROR);
  const std::string command = std::string("python3 ") + VELKO_SOURCE_DIR +
                              "/tests/export/check_mime_message.py " + eml.string() + " " +
                              html.string() + " 4";
  EXPECT_EQ(std::system(command.c_str()), 0) << command;
}

TEST_F(ItemExportTest, TheMessageConvertsBackIntoTheItem) {
  Load(ItemScript());
  const fs::path path = out_ / "item.eml";
  ASSERT_EQ(item_->SaveAsMime(path.c_str(), "HTML", ""), NOERROR);
  const std::string message = ReadFile(path);

  NOTEHANDLE other = NULLHANDLE;
  ASSERT_EQ(NSFNoteCreate(db_, &other), NOERROR);
  ASSERT_EQ(MIMEStoreMessage(other, "Body", message.data(), static_cast<DWORD>(message.size())),
            NOERROR);
  {
    VelkoRTItem back(session_);
    ASSERT_EQ(back.ConnectBackend(other, "Body", 0), NOERROR);
    VelkoRTChunk* chunk = back.DefineChunk("Everything");
    ASSERT_NE(chunk, nullptr);
    char* rendered = chunk->GenerateHTML("", "Plain Text", "", 0, nullptr, nullptr);
    ASSERT_NE(rendered, nullptr);
    const std::string text(rendered, session_->render_result_length);
    VelkoDeallocatePtr(session_, rendered);
    EXPECT_THAT(text, HasSubstr("Bold start and plain text"));
    EXPECT_THAT(text, HasSubstr("cell one"));
    EXPECT_THAT(text, HasSubstr("cell two"));
    EXPECT_THAT(text, HasSubstr("See"));
    delete chunk;
  }
  // The images' bytes come back: as image records of the body, or as
  // files of the note where the import does not make images of cid: parts.
  std::string held;
  for (const auto& value : note_testing::ItemValues(other, "Body"))
    held.append(value.begin(), value.end());
  for (const auto& file : note_testing::Attachments(other)) {
    std::string data;
    if (ReadAttachmentData(other, file.name.c_str(), false, &data) == NOERROR)
      held += data;
  }
  EXPECT_THAT(held, HasSubstr(HexBytes(kBlackGif)));
  EXPECT_THAT(held, HasSubstr(HexBytes(kWhiteGif)));
  NSFNoteClose(other);
}

/* ---- the part taken in memory ---- */

/* Collects what the renderer hands on in place of a part file. */
class collected_part final : public mime_part_memory {
public:
  bool Append(const char* text, size_t length) override {
    text_.append(text, length);
    ++pieces_;
    return true;
  }
  std::string text_;
  int pieces_ = 0;
};

/* One MIME run over the whole item and what it leaves. */
struct mime_run {
  STATUS status = NOERROR; /* the run's, else the reading of its part */
  std::string html;        /* the part, then the buffer's text */
  std::string part_name;
  std::vector<int> used;
  DWORD ids_used = 0; /* object ids of the database the run used up */
  std::vector<HostTestMessage> messages;
  bool operator==(const mime_run&) const = default;
};

/* The object id the database gives next (taken and given back). */
DWORD NextObjectID(DBHANDLE db) {
  DWORD id = 0;
  EXPECT_EQ(NSFDbAllocObject(db, 0, OBJECT_FILE, 0, &id), NOERROR);
  EXPECT_EQ(NSFDbFreeObject(db, id), NOERROR);
  return id;
}

/* GenerateHTMLToMime with a part file that is attached, read and taken
 * off the note again; or, with memory, the part taken there. */
mime_run RunForMime(VelkoRTItem* item, DBHANDLE db, const char* options, bool inMemory,
                    int failStorageWrite = 0) {
  mime_run run;
  const DWORD before = NextObjectID(db);
  VelkoRTChunk* chunk = item->DefineChunk("Everything");
  std::vector<char> buffer(kWorkBlockSize);
  DWORD length = static_cast<DWORD>(buffer.size());
  char partName[256] = {};
  int used[kLinkGraphics] = {};
  int word = 0;
  collected_part memory;
  HostTestClearMessages();
  HostTestFailStorageWrite(failStorageWrite);
  run.status = GenerateHTMLToMimeInMemory(
      chunk, 1, "HTML", options, static_cast<WORD>(strlen(options)), buffer.data(), &length, 9,
      partName, nullptr, nullptr, nullptr, nullptr, used, &word, inMemory ? &memory : nullptr);
  std::string part = memory.text_;
  if (!inMemory && partName[0] != '\0') {
    const STATUS read = ReadAttachmentData(item->note, partName, true, &part);
    if (run.status == NOERROR)
      run.status = read;
  }
  HostTestFailStorageWrite(0);
  delete chunk;
  run.messages = HostTestMessages();
  if (run.status == NOERROR)
    run.html = part + std::string(buffer.data(), length);
  run.part_name = partName;
  run.used.assign(std::begin(used), std::end(used));
  run.ids_used = NextObjectID(db) - before - 1;
  return run;
}

/* The renderer's part taken in memory holds the bytes the part file would
 * have held, under the same name, and leaves the note, the database and
 * the temporary directory as the part file's attachment and removal would. */
TEST_F(ItemExportTest, APartTakenInMemoryIsThePartFileAttachedAndTakenOffAgain) {
  const struct {
    const char* label;
    std::string script;
    const char* options;
    bool part; /* the HTML passes the buffer: a part is written */
  } cases[] = {
      {"no part", ItemScript(), kEncoded, false},
      {"a part, encoded", ItemScript() + LongScript(200), kEncoded, true},
      {"a part, not encoded", LongScript(200), "ContentTransferEncoding=8bit", true},
      {"a part, UTF-8", ItemScript() + LongScript(200), "Charset=UTF-8 MaxLineLength=40", true},
  };
  HostTestCaptureMessages();
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    Restart();
    Load(c.script);
    const mime_run file = RunForMime(item_, db_, c.options, false);
    const mime_run memory = RunForMime(item_, db_, c.options, true);
    EXPECT_EQ(memory, file);
    EXPECT_EQ(memory.status, NOERROR);
    EXPECT_EQ(memory.part_name.empty(), !c.part);
    EXPECT_EQ(memory.ids_used, c.part ? 1u : 0u);
    EXPECT_EQ(note_testing::AttachedFileNames(note_), "");
    EXPECT_TRUE(TempEmpty());
  }
}

/* A database that cannot take the part's object fails the run in memory
 * at the same write, with the same status and message, as it fails the
 * attachment of the part file or its removal. */
TEST_F(ItemExportTest, APartTakenInMemoryMeetsStorageFailuresAsThePartFile) {
  Load(ItemScript() + LongScript(200));
  HostTestCaptureMessages();
  int failed = 0;
  for (int nth = 1; nth <= 8; ++nth) {
    SCOPED_TRACE(nth);
    const mime_run file = RunForMime(item_, db_, kEncoded, false, nth);
    // A part file that could not be attached stays for its caller.
    for (const auto& entry : fs::directory_iterator(temp_))
      fs::remove(entry.path());
    const mime_run memory = RunForMime(item_, db_, kEncoded, true, nth);
    EXPECT_EQ(memory.status, file.status);
    EXPECT_EQ(memory.messages, file.messages);
    EXPECT_EQ(memory.ids_used, file.ids_used);
    if (memory.status != NOERROR)
      ++failed;
    EXPECT_TRUE(TempEmpty());
  }
  EXPECT_GT(failed, 0);
}

/* ---- the ids of encoded HTML ---- */

/* The HTML's bytes quoted-printable: "=" as "=3D", and a soft break
 * "=\r\n" before every `every`-th byte of the HTML (never inside an
 * escape); `every` 0 for none. */
std::string Encoded(const std::string& html, size_t every) {
  std::string encoded;
  for (size_t at = 0; at < html.size(); ++at) {
    if (every != 0 && at != 0 && at % every == 0)
      encoded += "=\r\n";
    encoded += html[at] == '=' ? std::string("=3D") : std::string(1, html[at]);
  }
  return encoded;
}

TEST(QuotedPrintableContentIDsTest, FindsTheIdsOfTheDecodedTextWhereverTheBlocksEnd) {
  const struct {
    const char* name;
    std::string html;
    std::vector<std::string> ids;
  } cases[] = {
      {"ids in order of first use, each once",
       "<img src=\"cid:_1_first\"> text <a href='cid:second'>x</a> (cid:_1_first) "
       "<img src=cid:third>",
       {"_1_first", "second", "third"}},
      {"an empty id names nothing", "cid:) cid:\"x\" cid:a", {"a"}},
      {"an id that runs to the end", "<p>see cid:last", {"last"}},
      {"the text's last bytes begin the prefix", "cid:one cid", {"one"}},
      {"prefixes that overlap", "ccid:cid:id cicid:two", {"cid:id", "two"}},
      {"no id", "<p>a=b</p>", {}},
      {"nothing", "", {}},
  };
  for (const auto& c : cases) {
    for (const size_t every : {size_t{0}, size_t{1}, size_t{3}, size_t{7}}) {
      const std::string encoded = Encoded(c.html, every);
      // Blocks of every size across the text, and one block for all.
      for (size_t block = 1; block <= encoded.size() + 1; ++block) {
        SCOPED_TRACE(std::string(c.name) + ", a soft break every " + std::to_string(every) +
                     ", blocks of " + std::to_string(block));
        EXPECT_EQ(QuotedPrintableContentIDs(encoded, block), c.ids);
      }
      EXPECT_EQ(QuotedPrintableContentIDs(encoded), c.ids) << c.name;
    }
  }
}

/* Of thousands of ids, each named again later among the new ones, every
 * id comes once, in the order of its first use, whether the ids are found
 * by decoding the text or without. */
TEST(QuotedPrintableContentIDsTest, ManyIdsComeOnceEachInTheOrderOfTheirFirstUse) {
  std::string html;
  std::vector<std::string> ids;
  for (int k = 0; k < 3000; ++k) {
    ids.push_back("_1_" + std::to_string(k));
    html += "<img src=\"cid:_1_" + std::to_string(k) + "\"> <img src=\"cid:_1_" +
            std::to_string(k / 2) + "\">\r\n";
  }
  for (const size_t every : {size_t{0}, size_t{76}}) {
    SCOPED_TRACE(every);
    const std::string encoded = Encoded(html, every);
    EXPECT_EQ(QuotedPrintableContentIDs(encoded), ids);
    const encoded_html_reading read = ReadEncodedHTML(encoded, 4096);
    ASSERT_TRUE(read.well_formed_ids.has_value());
    EXPECT_EQ(*read.well_formed_ids, ids);
  }
}

/* Found without decoding, the ids of well-formed text are those found by
 * decoding it, whatever the pieces it grows by; text of any other form is
 * left to the decoding. Random text of the bytes that matter, and text
 * built well-formed around ids with escapes and soft breaks anywhere. */
TEST(QuotedPrintableContentIDsTest, WellFormedTextGivesTheIdsOfItsDecoding) {
  static const char* const kBytes[] = {"c", "i", "d", ":", "=3A", "=63", "=", "=\r\n", "\r\n",
                                       "\r", "\n", " ", "x", "_", "\"", ">", "=3D", "=3a", "=0D=0A",
                                       "\t", "=20", "cid:"};
  std::mt19937 random(7);
  int wellFormed = 0;
  for (int round = 0; round < 20000; ++round) {
    std::string encoded;
    const int pieces = 1 + static_cast<int>(random() % 24);
    for (int i = 0; i < pieces; ++i)
      encoded += kBytes[random() % std::size(kBytes)];
    SCOPED_TRACE(encoded);
    const encoded_html_reading whole = ReadEncodedHTML(encoded);
    if (whole.well_formed_ids) {
      ++wellFormed;
      EXPECT_EQ(*whole.well_formed_ids, QuotedPrintableContentIDs(encoded));
    }
    // Read as it grows, a piece of every size at a time: the same.
    for (const size_t piece : {size_t{1}, size_t{2}, size_t{3}, size_t{5}}) {
      const encoded_html_reading grown = ReadEncodedHTML(encoded, piece);
      EXPECT_EQ(grown.well_formed_ids, whole.well_formed_ids) << piece;
      EXPECT_EQ(grown.crlf_line_ends, whole.crlf_line_ends) << piece;
    }
  }
  EXPECT_GT(wellFormed, 2000);
  const struct {
    const char* name;
    std::string encoded;
    bool well_formed;
  } cases[] = {
      {"ids behind escapes and soft breaks",
       "<img src=3D\"ci=\r\nd:_1_a=\r\nb\"> c=69=64=3Asecond cid:x=\r\n\r\ncid:x", true},
      {"lower-case hex", "cid:a=3db", false},
      {"an \"=\" that ends the text", "cid:a=", false},
      {"a soft break of a line feed alone", "cid:a=\nb", false},
      {"blanks before breaks, a line feed alone", "cid:a =\r\nci\nd:b cid:c\t\r\n", true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const auto fast = ReadEncodedHTML(c.encoded).well_formed_ids;
    EXPECT_EQ(fast.has_value(), c.well_formed);
    if (fast) {
      EXPECT_EQ(*fast, QuotedPrintableContentIDs(c.encoded));
    }
  }
  EXPECT_EQ(*ReadEncodedHTML(cases[0].encoded).well_formed_ids,
            (std::vector<std::string>{"_1_ab", "second", "x"}));
}

/* The renderer's encoded HTML is well-formed: its ids are found without
 * decoding it. */
TEST_F(ItemExportTest, TheRenderersEncodedHTMLGivesItsIdsWithoutDecoding) {
  Load(ItemScript() + LongScript(300));
  for (const char* options : {kEncoded, "Charset=UTF-8 ContentTransferEncoding=quoted-printable"}) {
    SCOPED_TRACE(options);
    const std::string encoded = RenderedForMime(options);
    const encoded_html_reading read = ReadEncodedHTML(encoded, 4096);
    EXPECT_TRUE(read.crlf_line_ends);
    const auto& fast = read.well_formed_ids;
    ASSERT_TRUE(fast.has_value());
    EXPECT_EQ(fast->size(), 3u);
    EXPECT_EQ(*fast, QuotedPrintableContentIDs(encoded));
  }
}

/* A line end is one of a CR LF wherever it falls among the blocks of
 * sixteen bytes, the groups of four blocks that are tested together and
 * the pieces the text grows by. */
TEST(QuotedPrintableContentIDsTest, EveryLineEndMustBeACRLF) {
  EXPECT_TRUE(ReadEncodedHTML("").crlf_line_ends);
  EXPECT_TRUE(ReadEncodedHTML(std::string(40, 'a')).crlf_line_ends);
  const struct {
    const char* ends;
    bool paired;
  } cases[] = {{"\r\n", true},   {"\r\n\r\n", true}, {"\r", false},
               {"\n", false},     {"\n\r", false},      {"\r\r\n", false},
               {"\r\n\n", false}};
  for (const auto& c : cases) {
    for (const size_t at : {0, 1, 14, 15, 16, 17, 31, 32, 40, 63, 64, 65, 127, 128, 129, 150}) {
      SCOPED_TRACE(std::to_string(at));
      std::string text(150, 'a');
      text.insert(at, c.ends);
      for (const size_t piece :
           {size_t{1}, size_t{16}, size_t{17}, size_t{63}, size_t{64}, size_t{65}, text.size()}) {
        EXPECT_EQ(ReadEncodedHTML(text, piece).crlf_line_ends, c.paired) << c.ends << piece;
      }
    }
  }
}

/* The reader looks for the colons and the "=" that are no soft break
 * sixty-four places at a time: an id, an escaped colon, a soft break or
 * an "=" that ends the text at every place around those groups, read
 * whole and as it grows, gives the ids of the decoding. */
TEST(QuotedPrintableContentIDsTest, MarksAreFoundWhereverTheyFallAmongTheGroupsOfPlaces) {
  const struct {
    const char* name;
    const char* put;
    std::vector<std::string> ids; /* with "cid:x" after the filler */
    bool well_formed;
  } cases[] = {
      {"an id", " cid:id ", {"id", "x"}, true},
      {"an escaped colon", " cid=3Aid ", {"id", "x"}, true},
      {"a soft break inside the prefix", " ci=\r\nd:id ", {"id", "x"}, true},
      {"soft breaks one after another", "=\r\n=\r\n", {"x"}, true},
      {"an escape", "=3D", {"x"}, true},
      {"an \"=\" that is no escape", "=zz", {}, false},
  };
  for (const auto& c : cases) {
    for (size_t at = 0; at <= 140; ++at) {
      SCOPED_TRACE(std::string(c.name) + " at " + std::to_string(at));
      const std::string encoded =
          std::string(at, 'a') + c.put + std::string(150 - at, 'b') + " cid:x";
      const encoded_html_reading whole = ReadEncodedHTML(encoded);
      ASSERT_EQ(whole.well_formed_ids.has_value(), c.well_formed);
      if (c.well_formed) {
        EXPECT_EQ(*whole.well_formed_ids, c.ids);
        EXPECT_EQ(*whole.well_formed_ids, QuotedPrintableContentIDs(encoded));
      }
      for (const size_t piece : {size_t{1}, size_t{63}, size_t{64}, size_t{65}}) {
        EXPECT_EQ(ReadEncodedHTML(encoded, piece).well_formed_ids, whole.well_formed_ids)
            << piece;
      }
    }
  }
  // An "=" among the last two places of the text.
  for (const char* end : {"=", "=\r", "=3"}) {
    const std::string encoded = std::string(64, 'a') + " cid:x " + std::string(57, 'b') + end;
    EXPECT_FALSE(ReadEncodedHTML(encoded).well_formed_ids.has_value()) << end;
  }
}

/* ---- failures ---- */

/* Every tracked allocation, then every host allocation, failing in turn:
 * each export succeeds whole or fails with nothing left: no file, no part
 * file, no attachment, and (for the tracked sweep) no tracked block in
 * use. A host refusal under the tracked allocator itself leaves its pool
 * entry counted as in use until the session ends, whoever asked, so the
 * host sweep does not count blocks. */
TEST_F(ItemExportTest, RunningOutOfMemoryLeavesNothing) {
  const struct {
    const char* label;
    void (*fail)(int);
    int count;
    bool count_blocks;
  } sweeps[] = {{"tracked", VelkoTestFailTrackedAllocation, 400, true},
                {"host", HostTestFailAllocation, 400, false}};
  const struct {
    const char* label;
    std::string script;
    bool mime;
  } exports[] = {{"HTML", ItemScript(), false},
                 {"MIME", ItemScript(), true},
                 {"MIME with a part file", LongScript(120), true}};
  for (const auto& sweep : sweeps) {
    for (const auto& item : exports) {
      int succeeded = 0;
      int failed = 0;
      for (int nth = 1; nth <= sweep.count; ++nth) {
        SCOPED_TRACE(std::string(sweep.label) + " " + item.label + " " + std::to_string(nth));
        Restart();
        Load(item.script);
        ASSERT_NE(ItemBody(item_), nullptr);
        const DWORD blocks = VelkoTrackedBlocksInUse(session_);
        const fs::path path = out_ / "item.out";
        HostTestCaptureLog(true);
        sweep.fail(nth);
        const STATUS status = item.mime ? item_->SaveAsMime(path.c_str(), "HTML", "")
                                        : item_->SaveAsHTML(path.c_str(), "HTML", "");
        sweep.fail(0);
        EXPECT_EQ(item_->last_status, status);
        if (sweep.count_blocks) {
          EXPECT_EQ(VelkoTrackedBlocksInUse(session_), blocks) << "status " << status;
        }
        EXPECT_TRUE(TempEmpty());
        EXPECT_EQ(note_testing::AttachedFileNames(note_), "");
        if (status == NOERROR) {
          EXPECT_TRUE(fs::exists(path));
          ++succeeded;
        } else {
          EXPECT_TRUE(OutFiles().empty()) << status;
          ++failed;
        }
      }
      EXPECT_GT(failed, 0) << item.label;
      EXPECT_GT(succeeded, 0) << item.label;
    }
  }
}

} // namespace
