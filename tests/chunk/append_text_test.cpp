// AppendText's clean-up: text appended to a body that holds an empty text
// run inside a text envelope runs the clean-up pass afterwards, which drops
// an empty run standing beside a text run. Each case stores a body written
// in the record script, appends under AutoSave, opens the database again
// and compares the stored body with the record script of what must be
// left, written by hand from the append and clean-up rules.
#include <gtest/gtest.h>

#include <cstdio>
#include <ostream>
#include <string>
#include <vector>

#include "cdbuild/cd_script.h"
#include "store/rtitem_internal.h"
#include "store/session.h"
#include "tests/support/database_file_fixture.h"
#include "tests/support/stored_values.h"
#include "velko/velko.h"

namespace {

using Bytes = note_testing::Bytes;

std::string Hex(const Bytes& bytes) {
  std::string hex;
  char pair[4];
  for (BYTE byte : bytes) {
    std::snprintf(pair, sizeof pair, "%02X ", byte);
    hex += pair;
  }
  return hex;
}

const std::string kStart = "PABDEF id=1 flags=0x0100 ext=1440,0,1440,0,0,100\nPABREF id=1\n";
/* A coloured empty run, as a coloured AppendText of no text leaves it,
 * then an empty run after the envelope. */
const std::string kEnvelope = kStart + "BEGIN sig=TEXT\nTEXT text=\"\"\nCOLOR rgb=0xFF0000\n"
                                       "END sig=TEXT\nTEXT text=\"\"\n";

struct append_text_case {
  const char* name;
  std::string body;
  const char* text;
  WORD length;
  std::string saved;
};

const append_text_case kCases[] = {
    /* The envelope's empty run sets the item's flag while the body is
     * copied; the run after the envelope then stands before the new text
     * and goes. The run inside the envelope stays: no text run is beside
     * it. */
    {"EmptyRunBeforeTheTextGoes", kEnvelope, "b", 1,
     kStart + "BEGIN sig=TEXT\nTEXT text=\"\"\nCOLOR rgb=0xFF0000\nEND sig=TEXT\n"
              "TEXT text=\"b\"\n"},
    /* A length of 0 appends the text's string length: it is text too. */
    {"TextOfItsStringLength", kEnvelope, "b", 0,
     kStart + "BEGIN sig=TEXT\nTEXT text=\"\"\nCOLOR rgb=0xFF0000\nEND sig=TEXT\n"
              "TEXT text=\"b\"\n"},
    /* No text: no clean-up, so the empty runs beside "c" stay. */
    {"NoTextNoCleanUp", kEnvelope + "TEXT text=\"c\"\n", "", 0,
     kEnvelope + "TEXT text=\"c\"\nTEXT text=\"\"\n"},
    /* No empty run in an envelope: the body is not cleaned, the empty run
     * before "c" stays. */
    {"NoEnvelopeNoCleanUp", kStart + "TEXT text=\"\"\nTEXT text=\"c\"\n", "b", 1,
     kStart + "TEXT text=\"\"\nTEXT text=\"c\"\nTEXT text=\"b\"\n"},
};

void PrintTo(const append_text_case& c, std::ostream* out) { *out << c.name; }

class AppendTextTest : public DatabaseFileFixture<::testing::TestWithParam<append_text_case>> {};

TEST_P(AppendTextTest, CleansUpAfterAnEmptyRunInAnEnvelope) {
  const append_text_case& c = GetParam();
  const NOTEID id = StoreBody(Script(c.body));
  auto* session = new LSXLsiSession;
  auto* item = new VelkoRTItem(session);
  ASSERT_EQ(item->Connect("", path_.c_str(), id, "Body", 0), NOERROR);
  item->AutoSave = 1;
  VelkoRTChunk* chunk = item->DefineChunk("Everything");
  ASSERT_NE(chunk, nullptr);
  EXPECT_EQ(chunk->AppendText(c.text, c.length, nullptr), NOERROR);
  /* The flag is the next operation's to set anew. */
  EXPECT_EQ(item->internal->pending_paragraph, 0u);
  delete session;

  const std::vector<Bytes> stored = note_testing::StoredBodyValues(path_, id, true);
  ASSERT_EQ(stored.size(), 1u);
  EXPECT_EQ(Hex(stored[0]), Hex(note_testing::Value(Script(c.saved).RecordBytes())));
}

INSTANTIATE_TEST_SUITE_P(AppendText, AppendTextTest, ::testing::ValuesIn(kCases),
                         [](const ::testing::TestParamInfo<append_text_case>& info) {
                           return std::string(info.param.name);
                         });

} // namespace
