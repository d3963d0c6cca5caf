// The class interface called the way callers get it wrong: lengths longer
// than the texts they come with (each text ends right before a page that
// may not be read, so a byte read past its NUL stops the test in any
// build), matching on the default chunk of an item that was disconnected,
// and an item connected again and again.
#include <gtest/gtest.h>

#include <sys/mman.h>
#include <unistd.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "store/session.h"
#include "tests/support/test_fixture.h"

namespace {

using namespace engine_test;

/* A NUL-terminated copy of a text whose NUL is the last byte before an
 * unreadable page. */
class GuardedText {
public:
  explicit GuardedText(const std::string& text) {
    page_ = static_cast<size_t>(sysconf(_SC_PAGESIZE));
    void* area = mmap(nullptr, 2 * page_, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS,
                      -1, 0);
    if (area == MAP_FAILED)
      return;
    area_ = static_cast<char*>(area);
    mprotect(area_ + page_, page_, PROT_NONE);
    text_ = area_ + page_ - text.size() - 1;
    std::memcpy(text_, text.c_str(), text.size() + 1);
  }
  ~GuardedText() {
    if (area_ != nullptr)
      munmap(area_, 2 * page_);
  }
  GuardedText(const GuardedText&) = delete;
  GuardedText& operator=(const GuardedText&) = delete;
  const char* get() const { return text_; }

private:
  size_t page_ = 0;
  char* area_ = nullptr;
  char* text_ = nullptr;
};

class CallerMisuseTest : public EngineTest {
protected:
  /* Every text run of the chunk, joined by "|". */
  std::string Runs(VelkoRTChunk* chunk) {
    char text[256] = {};
    chunk->GetText(nullptr, text, sizeof text, 1, "|");
    return text;
  }
};

TEST_F(CallerMisuseTest, TextShorterThanItsLengthEndsAtItsNul) {
  struct Case {
    const char* name;
    const char* text;
    /* Calls the method with the guarded text and a length past its end;
     * the method's result. */
    std::function<long(VelkoRTItem*, VelkoRTChunk*, const char*)> call;
    long result;
    const char* runs; /* the chunk's runs afterwards */
  };
  const Case cases[] = {
      {"AppendText", "ab", [](VelkoRTItem*, VelkoRTChunk* c, const char* t) {
         return c->AppendText(t, 100, nullptr); }, 0, "hello world|ab"},
      {"SetText", "xy", [](VelkoRTItem*, VelkoRTChunk* c, const char* t) {
         return c->SetText("Text 1", t, 100, nullptr); }, 0, "xy"},
      {"ReplaceTextQuick find", "world", [](VelkoRTItem*, VelkoRTChunk* c, const char* t) {
         return c->ReplaceTextQuick(t, 100, "there", 5, nullptr); }, 0, "hello |there"},
      {"ReplaceTextQuick replacement", "you", [](VelkoRTItem*, VelkoRTChunk* c, const char* t) {
         return c->ReplaceTextQuick("world", 5, t, 100, nullptr); }, 0, "hello |you"},
      {"HighlightText", "world", [](VelkoRTItem*, VelkoRTChunk* c, const char* t) {
         return c->HighlightText(t, 100); }, 0, "hello |world"},
      {"SetPropertyText", "xy", [](VelkoRTItem*, VelkoRTChunk* c, const char* t) {
         return c->SetPropertyText("Text", t, 100); }, 1, "xy"},
      {"FindTextChunk", "world", [](VelkoRTItem*, VelkoRTChunk* c, const char* t) {
         return c->FindTextChunk(1, t, 100, "SUBSTR", ""); }, 1, "hello world"},
      {"AppendParagraph formula", "1", [](VelkoRTItem*, VelkoRTChunk* c, const char* t) {
         return c->AppendParagraph("", nullptr, t, 100); }, 0, "hello world"},
      {"AppendHotspot code", "1", [](VelkoRTItem*, VelkoRTChunk* c, const char* t) {
         return c->AppendHotspot("Button Formula", t, 100, nullptr, "go", 2); }, 0,
       "hello world"},
      {"AppendHotspot label", "go", [](VelkoRTItem*, VelkoRTChunk* c, const char* t) {
         return c->AppendHotspot("Button Formula", "1", 1, nullptr, t, 100); }, 0,
       "hello world"},
      {"AppendLayer formula", "1", [](VelkoRTItem*, VelkoRTChunk* c, const char* t) {
         return c->AppendLayer(nullptr, nullptr, nullptr, nullptr, 0, nullptr, nullptr, t, 100); },
       0, "hello world"},
      {"item SetPropertyText", "RED", [](VelkoRTItem* i, VelkoRTChunk*, const char* t) {
         return i->SetPropertyText("HighlightFont", t, 60000) == 1 &&
                std::strcmp(i->HighlightFont, "RED") == 0; }, 1, "hello world"},
      {"item SetFormulaItem", "1", [](VelkoRTItem* i, VelkoRTChunk*, const char* t) {
         char formula[64] = {};
         return i->SetFormulaItem("F", t, 100) == NOERROR && i->GetFormulaItem("F", formula) == 1
                && std::strcmp(formula, "1") == 0; }, 1, "hello world"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Restart();
    AppendItem({PabDef(1), PabRef(1), Text("hello world")});
    VelkoRTChunk* chunk = Chunk("Everything");
    const GuardedText text(c.text);
    ASSERT_NE(text.get(), nullptr);
    EXPECT_EQ(c.call(item_, chunk, text.get()), c.result);
    EXPECT_EQ(Runs(chunk), c.runs);
  }
}

TEST_F(CallerMisuseTest, MatchingOnTheDefaultChunkOfADisconnectedItemIsRefused) {
  AppendItem({PabDef(1), PabRef(1), Text("hello world")});
  Connect();
  VelkoRTChunk* everything = item_->default_chunk;
  item_->CleanupTraces();
  ASSERT_EQ(everything->item, nullptr);
  EXPECT_EQ(everything->LinkMatching("", kDbPath, "Keywords", "Key", nullptr, nullptr, 2386),
            VELKO_ERR_BAD_ARGUMENT);
  EXPECT_EQ(everything->KeywordMatching("", kDbPath, "Keywords", "Key", nullptr, nullptr),
            VELKO_ERR_BAD_ARGUMENT);
  EXPECT_EQ(everything->WikiMatching("@", kDbPath, "Pages", "Title", nullptr, nullptr),
            VELKO_ERR_BAD_ARGUMENT);
  EXPECT_EQ(everything->status, VELKO_ERR_BAD_ARGUMENT);
}

TEST_F(CallerMisuseTest, ItemConnectedAgainKeepsOneDefaultChunk) {
  AppendItem({PabDef(1), PabRef(1), Text("hello world")});
  Connect();
  VelkoRTChunk* everything = item_->default_chunk;
  ASSERT_NE(everything, nullptr);
  ASSERT_EQ(everything->ZoomIn("Text 1"), 1);
  auto chunks = [&] {
    int count = 0;
    for (const VelkoRTChunk* chunk = session_->chunks; chunk != nullptr; chunk = chunk->next)
      ++count;
    return count;
  };
  const int before = chunks();
  for (int i = 0; i < 3; ++i) {
    ASSERT_EQ(i % 2 == 0 ? item_->ConnectBackend(note_, "Body", 0)
                         : item_->CreateBackend(note_, "Body", 0),
              NOERROR);
  }
  EXPECT_EQ(chunks(), before);
  EXPECT_EQ(item_->default_chunk, everything);
  EXPECT_EQ(everything->item, item_);
  EXPECT_STREQ(everything->definition, "Everything");
  EXPECT_EQ(everything->unzoomed_definition, nullptr);
  EXPECT_EQ(Runs(everything), "hello world");
}

} // namespace
