// Whole jobs on four threads at once, each through a session of its own on
// a note of its own in one shared database file, give what the same job
// gives alone: saving as HTML and as a MIME message, every generation with
// its images and attachments written to disk, and the imports of a text
// file, an HTML file and an image. scripts/test runs these tests once more
// under ThreadSanitizer.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "cdbuild/cd_script.h"
#include "host/host_testing.h"
#include "host/nsfdb.h"
#include "host/nsfnote.h"
#include "store/session.h"
#include "tests/support/database_file_fixture.h"
#include "tests/support/note_fixture.h"
#include "velko/velko.h"

namespace {

namespace fs = std::filesystem;

constexpr int kThreads = 4;

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

/* Every file under the directory with its content, in name order. */
std::string DirectoryText(const fs::path& dir) {
  std::map<std::string, std::string> files;
  for (const auto& entry : fs::recursive_directory_iterator(dir)) {
    if (entry.is_regular_file())
      files[fs::relative(entry.path(), dir).string()] = ReadFile(entry.path());
  }
  std::string text;
  for (const auto& [name, content] : files)
    text += "[" + name + "] " + content + "\n";
  return text;
}

/* The message without what differs from one writing to the next: its
 * date and its boundaries. */
std::string Settled(const std::string& message) {
  std::string settled = std::regex_replace(message, std::regex("Date: [^\r\n]*\r\n"), "");
  std::smatch found;
  while (std::regex_search(settled, found, std::regex("boundary=\"([^\"]{2,})\""))) {
    const std::string boundary = found[1];
    std::string replaced;
    size_t from = 0;
    for (size_t at = settled.find(boundary); at != std::string::npos;
         at = settled.find(boundary, from)) {
      replaced.append(settled, from, at - from);
      replaced += "B";
      from = at + boundary.size();
    }
    replaced.append(settled, from, std::string::npos);
    settled = std::move(replaced);
  }
  return settled;
}

/* A GIF of the size (its screen width and height are what the import
 * reads). */
std::string Gif(char width, char height) {
  std::string gif("GIF89a");
  for (const char size : {width, height}) {
    gif.push_back(size);
    gif.push_back('\0');
  }
  gif.append("\x80\0\0\0\0\0\xFF\xFF\xFF\x2C\0\0\0\0\1\0\1\0\0\2\2\x44\1\0\x3B", 25);
  return gif;
}

class SessionThreadsJobsTest : public DatabaseFileFixture<> {
protected:
  void SetUp() override {
    DatabaseFileFixture<>::SetUp();
    HostTestSetEnvironment("EDITIMP1", "GIF Image,0,imgfilt,GIF,.GIF");
    for (fs::path& dir : dirs_) {
      char pattern[] = "/tmp/velko-jobs-XXXXXX";
      ASSERT_NE(mkdtemp(pattern), nullptr);
      dir = pattern;
    }
  }
  void TearDown() override {
    for (const fs::path& dir : dirs_)
      fs::remove_all(dir);
    DatabaseFileFixture<>::TearDown();
  }

  /* The thread's directory, emptied. */
  const fs::path& Fresh(int thread) {
    fs::remove_all(dirs_[thread]);
    fs::create_directories(dirs_[thread]);
    return dirs_[thread];
  }

  /* Runs the job of each thread alone, then the four at once, twice; each
   * gives what it gave alone. */
  void ExpectTheSameOnFourThreads(const std::function<std::string(int)>& job) {
    std::string alone[kThreads];
    for (int t = 0; t < kThreads; ++t) {
      alone[t] = job(t);
      EXPECT_NE(alone[t].find("thread" + std::to_string(t)), std::string::npos) << alone[t];
    }
    for (int round = 0; round < 2; ++round) {
      std::string together[kThreads];
      std::vector<std::thread> threads;
      for (int t = 0; t < kThreads; ++t)
        threads.emplace_back([&, t] { together[t] = job(t); });
      for (std::thread& thread : threads)
        thread.join();
      for (int t = 0; t < kThreads; ++t)
        EXPECT_EQ(together[t], alone[t]) << "thread " << t << ", round " << round;
    }
  }

  fs::path dirs_[kThreads];
};

/* A session of its own with an item connected to a note of the file. */
struct item_session {
  item_session(const std::string& path, NOTEID id) {
    item = new VelkoRTItem(session.get()); // the session deletes it
    EXPECT_EQ(item->Connect("", path.c_str(), id, "Body", 0), NOERROR);
  }
  std::unique_ptr<LSXLsiSession> session = std::make_unique<LSXLsiSession>();
  VelkoRTItem* item = nullptr;
};

/* Styled text naming the thread, a table, two GIFs (one named), a
 * document link and a file hotspot. */
std::string ThreadScript(int thread) {
  const std::string word = "thread" + std::to_string(thread);
  std::string script = "PARAGRAPH\nPABDEF id=1\nPABREF id=1\nTEXT attributes=bold text=\"";
  script += word;
  script += " starts\"\nTEXT text=\" and goes on\"\n"
            "PARAGRAPH\nPABREF id=1\nTABLEBEGIN\n"
            "TABLECELL row=0 column=0\nPABREF id=1\nTEXT text=\"";
  script += word;
  script += " one\"\nTABLECELL row=0 column=1\nPABREF id=1\nTEXT text=\"cell two\"\nTABLEEND\n"
            "PARAGRAPH\nPABREF id=1\n"
            "BEGIN sig=CDGRAPHIC\nGRAPHIC\nIMAGEHEADER type=1 width=1 height=1 segments=1\n"
            "IMAGESEGMENT data=\"GIF89a-";
  script += word;
  script += "\"\nIDNAME name=\"picture\"\nEND sig=CDGRAPHIC\nTEXT text=\" between \"\n"
            "BEGIN sig=CDGRAPHIC\nGRAPHIC\nIMAGEHEADER type=1 width=1 height=1 segments=1\n"
            "IMAGESEGMENT data=\"GIF89a-second\"\nEND sig=CDGRAPHIC\n"
            "PARAGRAPH\nPABREF id=1\nTEXT text=\"See \"\n"
            "DOCLINK notelink=01000000AB000000010A0000020A0000030A0000040A0000010B0000020B0000030B"
            "0000040B0000 texts=\"\\0\\0\"\nTEXT text=\" here\"\n"
            "HOTSPOTBEGIN type=4 data=\"att1\\0report.txt\"\nTEXT text=\"icon\"\nHOTSPOTEND\n";
  return script;
}

TEST_F(SessionThreadsJobsTest, SavingAsHTMLAndAsMimeGivesWhatItGivesAlone) {
  NOTEID ids[kThreads] = {};
  for (int t = 0; t < kThreads; ++t)
    ids[t] = StoreBody(Script(ThreadScript(t)));
  ExpectTheSameOnFourThreads([&](int t) {
    const fs::path& dir = Fresh(t);
    item_session run(path_, ids[t]);
    std::string result;
    const fs::path html = dir / "item.html";
    const fs::path mime = dir / "item.eml";
    for (const char* generation : {"HTML", "XHTML"}) {
      EXPECT_EQ(run.item->SaveAsHTML(html.c_str(), generation, ""), NOERROR);
      result += ReadFile(html);
    }
    EXPECT_EQ(run.item->SaveAsMime(mime.c_str(), "HTML", "AttachmentHandling=NAME"), NOERROR);
    result += Settled(ReadFile(mime));
    return result;
  });
}

TEST_F(SessionThreadsJobsTest, EveryGenerationWithFilesOnDiskGivesWhatItGivesAlone) {
  NOTEID ids[kThreads] = {};
  for (int t = 0; t < kThreads; ++t)
    ids[t] = StoreBody(Script(ThreadScript(t)));
  ExpectTheSameOnFourThreads([&](int t) {
    item_session run(path_, ids[t]);
    std::string result;
    for (const char* generation : {"HTML", "XHTML", "Plain Text"}) {
      for (const char* naming : {"", " ImageUseName=Yes"}) {
        const fs::path& dir = Fresh(t);
        const std::string options = "ImageHandling=DISK ImageURLDirectory=img ImageDirectory=" +
                                    dir.string() + " AttachmentHandling=DISK AttachmentDirectory=" +
                                    dir.string() + naming;
        VelkoRTChunk* chunk = run.item->DefineChunk("Everything");
        char* out = chunk->GenerateHTML("", generation, options.c_str(), 0, nullptr, nullptr);
        EXPECT_EQ(chunk->status, NOERROR) << generation << naming;
        result += std::string(generation) + naming + "\n";
        if (out != nullptr)
          result += std::string(out, run.session->render_result_length) + "\n";
        VelkoDeallocatePtr(run.session.get(), out);
        delete chunk;
        result += DirectoryText(dir);
      }
    }
    return result;
  });
}

TEST_F(SessionThreadsJobsTest, ImportsGiveWhatTheyGiveAlone) {
  ExpectTheSameOnFourThreads([&](int t) {
    const fs::path& dir = Fresh(t);
    const std::string word = "thread" + std::to_string(t);
    std::ofstream(dir / "notes.txt", std::ios::binary)
        << word << " line one\r\nline two, a little longer\r\n\r\nlast line";
    std::ofstream(dir / "page.htm", std::ios::binary)
        << "<html><body><h1>" << word << "</h1><p>Some <b>bold</b> text</p>"
        << "<table border=1><tr><td>a</td><td>b</td></tr></table><ul><li>one</li></ul>"
        << "</body></html>";
    std::ofstream(dir / "small.gif", std::ios::binary) << Gif(static_cast<char>(3 + t), 7);
    // A note of its own for every run: the imports change it.
    const NOTEID id = StoreBody(Script("PARAGRAPH\nPABDEF id=1\nPABREF id=1\nTEXT text=\"x\"\n"));
    item_session run(path_, id);
    run.session->InitializeTempDirectory();
    run.item->AutoSave = 1;
    VelkoRTChunk* chunk = run.item->DefineChunk("Everything");
    EXPECT_EQ(chunk->AppendImportFile((dir / "notes.txt").c_str(), "Velko"), NOERROR);
    EXPECT_EQ(chunk->AppendImportFile((dir / "page.htm").c_str(), "Velko"), NOERROR);
    EXPECT_EQ(chunk->AppendGraphic("File", (dir / "small.gif").c_str(), nullptr), NOERROR);
    EXPECT_EQ(chunk->AppendHTML("INLINE", ("<p><i>" + word + "</i></p>").c_str(), ""), NOERROR);
    std::string result;
    for (const note_testing::Bytes& value : note_testing::ItemValues(run.item->note, "Body"))
      result += std::string(value.begin(), value.end()) + "\n";
    return result;
  });
}

} // namespace
