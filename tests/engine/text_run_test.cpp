// Text runs and their fonts through the chunk methods: ChangeFont,
// Highlight, HighlightText and FontInUse, and the font properties, on
// bodies written in the record script. Each case compares the body saved
// with the one written by hand: runs kept as they were when the filter
// rejects them, re-emitted in the new font with the records the font needs
// around them (text effect, CDBEGIN, colour record, CDEND), split around
// the occurrences of a search text, and section title bars and buttons
// changed only when the caller's flag asks for it.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "cdbuild/cd_script.h"
#include "store/session.h"
#include "store/vocabulary.h"
#include "tests/support/test_fixture.h"

namespace {

using namespace engine_test;

constexpr const char* kParagraph = "PABDEF id=1\nPABREF id=1\n";

/* A text effect of face 1, size 10, black, with the attribute byte. */
std::string Effect(const char* attributes) {
  return std::string("RAW sig=0xFFC3 data=01") + attributes + "000A\n";
}

/* The values as hexadecimal pairs, so that a mismatch shows where. */
std::string Hex(const std::vector<Bytes>& values) {
  std::string hex;
  for (const Bytes& value : values)
    hex += host_test::Hex(std::string(value.begin(), value.end())) + "| ";
  return hex;
}

class TextRunTest : public EngineTest {
protected:
  std::vector<Bytes> Script(const std::string& script) {
    cdbuild::Body body;
    cdbuild::ScriptError error;
    EXPECT_TRUE(cdbuild::BuildScript(std::string(kParagraph) + script, &body, &error))
        << error.line << ": " << error.message;
    return {note_testing::Value(body.RecordBytes())};
  }

  /* Stores the body, connects the item with AutoSave on and returns the
   * body as stored. */
  std::vector<Bytes> Store(const std::string& script) {
    const std::vector<Bytes> values = Script(script);
    AppendItem({Bytes(values[0].begin() + 2, values[0].end())});
    Connect()->AutoSave = 1;
    return Values();
  }

  /* A fresh note of the body, the call on an "Everything" chunk, and the
   * body saved compared with the expected script ("" : unchanged). */
  void Check(const std::string& body, const std::function<STATUS(VelkoRTChunk*)>& call,
             STATUS status, const std::string& expected, const char* definition = "Everything") {
    Restart();
    const std::vector<Bytes> before = Store(body);
    EXPECT_EQ(call(Chunk(definition)), status);
    EXPECT_EQ(Hex(Values()), Hex(expected.empty() ? before : Script(expected)));
  }
};

auto ChangeFont(const char* font, const char* filter = nullptr, int flag = 0) {
  return [=](VelkoRTChunk* chunk) { return chunk->ChangeFont(font, filter, flag); };
}
auto Highlight(int flag) {
  return [=](VelkoRTChunk* chunk) { return chunk->Highlight(flag); };
}
/* A font property set on the chunk: its setter always asks for labels. */
auto SetFontProperty(const char* property, const char* value) {
  return [=](VelkoRTChunk* chunk) {
    return chunk->SetPropertyText(property, value, 0) == 1 ? STATUS{NOERROR} : chunk->status;
  };
}
auto HighlightText(const char* text) {
  return [=](VelkoRTChunk* chunk) { return chunk->HighlightText(text, 0); };
}

struct run_case {
  const char* what;
  std::string body;
  std::function<STATUS(VelkoRTChunk*)> call;
  std::string expected; /* "" : the body as it was */
};

TEST_F(TextRunTest, ChangeFontReEmitsEachRunInTheFontItNeeds) {
  const std::string envelope = "BEGIN sig=TEXT\nTEXT text=\"abc\"\nCOLOR rgb=0x102030\n"
                               "END sig=TEXT\n";
  const run_case cases[] = {
      {"a bare run takes the font", "TEXT text=\"abc\"\nTEXT text=\"de\" size=12\n",
       ChangeFont("+BOLD"),
       "TEXT text=\"abc\" attributes=bold\nTEXT text=\"de\" size=12 attributes=bold\n"},
      {"the filter picks the runs", "TEXT text=\"abc\"\nTEXT text=\"de\" attributes=italic\n",
       ChangeFont("+BOLD", "+ITALIC"),
       "TEXT text=\"abc\"\nTEXT text=\"de\" attributes=bold+italic\n"},
      {"a run the filter rejects stays with its envelope and effect",
       "BEGIN sig=TEXT\n" + Effect("80") + "TEXT text=\"abc\" attributes=shadow\n"
       "COLOR rgb=0x102030\nEND sig=TEXT\n",
       ChangeFont("+BOLD", "+ITALIC"), ""},
      {"an enveloped run keeps its colour in new brackets", envelope, ChangeFont("+BOLD 10PT"),
       "BEGIN sig=TEXT\nTEXT text=\"abc\" attributes=bold\nCOLOR rgb=0x102030\n"
       "END sig=TEXT\n"},
      // A one-word font names a colour too: black, which needs no envelope.
      {"a palette colour drops the envelope: the bare text record", envelope,
       ChangeFont("+BOLD"), "TEXT text=\"abc\" attributes=bold\n"},
      {"an effect is rewritten with the font, into the text record too",
       Effect("80") + "TEXT text=\"abc\" attributes=shadow\n", ChangeFont("+BOLD"),
       Effect("81") + "TEXT text=\"abc\" attributes=0x81\n"},
      {"a font without effect drops the effect record",
       Effect("80") + "TEXT text=\"abc\" attributes=shadow\n", ChangeFont("-SHADOW"),
       "TEXT text=\"abc\"\n"},
      {"a new effect record when the font gains one", "TEXT text=\"abc\"\n",
       ChangeFont("+SHADOW"), Effect("80") + "TEXT text=\"abc\" attributes=shadow\n"},
      // Runs the gathering cannot take go on record by record.
      {"a text effect with no text after it", Effect("80") + "PARAGRAPH\nTEXT text=\"abc\"\n",
       ChangeFont("+BOLD"), Effect("80") + "PARAGRAPH\nTEXT text=\"abc\" attributes=bold\n"},
      {"an envelope with a colour record and no text",
       "BEGIN sig=TEXT\nCOLOR rgb=0x102030\nEND sig=TEXT\n", ChangeFont("+BOLD"), ""},
      // The second text ends the stretch: it is a run of its own.
      {"an envelope holding two texts", "BEGIN sig=TEXT\nTEXT text=\"a\"\nTEXT text=\"b\"\n"
                                         "END sig=TEXT\n",
       ChangeFont("+BOLD"),
       "BEGIN sig=TEXT\nTEXT text=\"a\"\nTEXT text=\"b\" attributes=bold\nEND sig=TEXT\n"},
      {"a CDBEGIN without CDEND ends at the list's end",
       "BEGIN sig=TEXT\nTEXT text=\"abc\"\nCOLOR rgb=0x102030\n", ChangeFont("+BOLD 10PT"),
       "BEGIN sig=TEXT\nTEXT text=\"abc\" attributes=bold\nCOLOR rgb=0x102030\n"
       "END sig=TEXT\n"},
  };
  for (const run_case& c : cases) {
    SCOPED_TRACE(c.what);
    Check(c.body, c.call, NOERROR, c.expected);
  }
}

/* A CDBEGIN of text whose envelope a paragraph interrupts, in a chunk
 * that closes at that paragraph: what follows the chunk is written once. */
TEST_F(TextRunTest, AStretchEndsWhereARecordOfAnotherKindStands) {
  Check("BEGIN sig=TEXT\nTEXT text=\"a\"\nPARAGRAPH\nTEXT text=\"b\"\nEND sig=TEXT\n",
        ChangeFont("+BOLD"), NOERROR, "", "Paragraph 1");
}

/* The highlight font "RED +BOLD" in a bracket of the signature: red needs
 * an RGB colour record. */
std::string Red(const std::string& record, const char* signature) {
  return std::string("BEGIN sig=") + signature + "\n" + record + " color=red attributes=bold\n" +
         "COLOR rgb=0xFF0000\nEND sig=" + signature + "\n";
}

/* Section title bars and buttons change with the flag only. A colour puts
 * each into a bracket of its own with a colour record, unless a CDBEGIN
 * already stands before it; without one the record keeps its place. */
TEST_F(TextRunTest, TitlesAndButtonsChangeOnlyWithTheFlag) {
  const std::string body = "SECTIONBAR title=\"Bar\"\nBUTTON label=\"Go\"\nTEXT text=\"x\"\n";
  const std::string labels = "SECTIONBAR title=\"Bar\"\nBUTTON label=\"Go\"\n";
  const run_case cases[] = {
      {"Highlight without the flag", body, Highlight(0),
       labels + Red("TEXT text=\"x\"", "TEXT")},
      {"Highlight with the flag", body, Highlight(1),
       Red("SECTIONBAR title=\"Bar\"", "SECTIONBAR") + Red("BUTTON label=\"Go\"", "BUTTON") +
           Red("TEXT text=\"x\"", "TEXT")},
      {"ChangeFont without the flag", body, ChangeFont("+ITALIC 10PT"),
       labels + "TEXT text=\"x\" attributes=italic\n"},
      {"ChangeFont with the flag and a filter none passes", body,
       ChangeFont("+ITALIC 10PT", "12PT", 1), ""},
      {"a palette colour without RGB keeps each label in place", body,
       ChangeFont("+ITALIC 10PT", nullptr, 1),
       "SECTIONBAR title=\"Bar\" attributes=italic\nBUTTON label=\"Go\" attributes=italic\n"
       "TEXT text=\"x\" attributes=italic\n"},
      {"a font property changes the labels too", body,
       SetFontProperty("TextAttributes", "Italic"),
       "SECTIONBAR title=\"Bar\" attributes=italic\nBUTTON label=\"Go\" attributes=italic\n"
       "TEXT text=\"x\" attributes=italic\n"},
      {"a CDBEGIN before a label keeps it in place",
       "BEGIN sig=SECTIONBAR\nSECTIONBAR title=\"Bar\"\nEND sig=SECTIONBAR\n", Highlight(1),
       "BEGIN sig=SECTIONBAR\nSECTIONBAR title=\"Bar\" color=red attributes=bold\n"
       "END sig=SECTIONBAR\nTEXT text=\"\"\n"}, // a body ends in a text record
  };
  for (const run_case& c : cases) {
    SCOPED_TRACE(c.what);
    Check(c.body, c.call, NOERROR, c.expected);
  }
}

/* A run that starts in the chunk and reaches past its end (a chunk of a
 * text effect alone, or of an envelope's CDBEGIN and text) goes out once,
 * in the new font: its records after the chunk are not copied again. */
TEST_F(TextRunTest, ARunReachingPastTheChunkGoesOutOnce) {
  const run_case cases[] = {
      {"a text effect and its text",
       "TEXT text=\"a\"\n" + Effect("80") + "TEXT text=\"b\" attributes=shadow\nTEXT text=\"c\"\n",
       ChangeFont("+BOLD"),
       "TEXT text=\"a\"\n" + Effect("81") + "TEXT text=\"b\" attributes=0x81\nTEXT text=\"c\"\n"},
      {"an envelope split around a match",
       "TEXT text=\"pre\"\nBEGIN sig=TEXT\nTEXT text=\"abc\"\nCOLOR rgb=0x102030\nEND sig=TEXT\n"
       "TEXT text=\"post\"\n",
       HighlightText("c"),
       "TEXT text=\"pre\"\nBEGIN sig=TEXT\nTEXT text=\"ab\"\nCOLOR rgb=0x102030\nEND sig=TEXT\n" +
           Red("TEXT text=\"c\"", "TEXT") + "TEXT text=\"post\"\n"},
  };
  for (const run_case& c : cases) {
    SCOPED_TRACE(c.what);
    Check(c.body, c.call, NOERROR, c.expected, "Text 2");
  }
}

TEST_F(TextRunTest, HighlightTextSplitsTheRunAroundEachMatch) {
  const std::string envelope = "BEGIN sig=TEXT\nTEXT text=\"ab\"\nCOLOR rgb=0x102030\n"
                               "END sig=TEXT\n";
  const run_case cases[] = {
      {"a match inside", "TEXT text=\"xaby\"\n", HighlightText("ab"),
       "TEXT text=\"x\"\n" + Red("TEXT text=\"ab\"", "TEXT") + "TEXT text=\"y\"\n"},
      {"matches at the start and the end leave no empty pieces", "TEXT text=\"abcab\"\n",
       HighlightText("AB"),
       Red("TEXT text=\"ab\"", "TEXT") + "TEXT text=\"c\"\n" + Red("TEXT text=\"ab\"", "TEXT")},
      {"an absent text rebuilds the run from its own header", "TEXT text=\"abc\" size=14\n",
       HighlightText("zz"), ""},
      {"an absent text in an envelope", envelope, HighlightText("zz"), ""},
      {"an absent text in an envelope with its colour first is written in the pieces' order",
       "BEGIN sig=TEXT\nCOLOR rgb=0x102030\nTEXT text=\"ab\"\nEND sig=TEXT\n", HighlightText("zz"),
       envelope},
      {"an enveloped run: plain pieces in the old envelope, the match in a new one",
       "BEGIN sig=TEXT\nTEXT text=\"abcab\"\nCOLOR rgb=0x102030\nEND sig=TEXT\n",
       HighlightText("c"), envelope + Red("TEXT text=\"c\"", "TEXT") + envelope},
      {"a text effect goes before each piece",
       Effect("80") + "TEXT text=\"abc\" attributes=shadow\n", HighlightText("b"),
       Effect("80") + "TEXT text=\"a\" attributes=shadow\n" +
           "RAW sig=0xFFC3 data=0181020A\n" + // the effect in the new font
           "BEGIN sig=TEXT\nTEXT text=\"b\" color=red attributes=0x81\nCOLOR rgb=0xFF0000\n"
           "END sig=TEXT\n" +
           Effect("80") + "TEXT text=\"c\" attributes=shadow\n"},
      {"each run is searched on its own", "TEXT text=\"a\"\nTEXT text=\"b\"\n",
       HighlightText("ab"), ""},
  };
  for (const run_case& c : cases) {
    SCOPED_TRACE(c.what);
    Check(c.body, c.call, NOERROR, c.expected);
  }
}

/* Action 2399 applies the second event string's font over the set font;
 * with the permanent pen on, an effect that font adds gets its text effect
 * record, and the pen's own font is the set font. */
TEST_F(TextRunTest, SameLengthReplacementDecidesTheEffectAgainUnderThePermanentPen) {
  struct Case {
    const char* what;
    int pen;
    const char* replaced;
  };
  const Case cases[] = {
      {"without the pen", 0, "TEXT text=\"New\" attributes=shadow\n"},
      // The pen's blue needs an envelope; the event string's one-word font
      // names black for the text record.
      {"with the pen", 1,
       "RAW sig=0xFFC3 data=0181000A\nBEGIN sig=TEXT\nTEXT text=\"New\" attributes=0x81\n"
       "COLOR rgb=0x0000FF\nEND sig=TEXT\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Check("TEXT text=\"an Old day\"\n",
          [&](VelkoRTChunk* chunk) {
            item_->PermanentPen = static_cast<WORD>(c.pen);
            chunk->SetEventRetString(2, "+SHADOW", 7);
            return chunk->AlterRichText(ACTION_REPLACE_TEXT_SAME_LENGTH, 5, 3, 1, 0, "Newer",
                                        "old", nullptr, nullptr);
          },
          NOERROR,
          std::string("TEXT text=\"an \"\n") + c.replaced + "TEXT text=\" day\"\n");
  }
}

TEST_F(TextRunTest, FontInUseAnswersOnceForTheFirstMatchingRun) {
  struct Case {
    const char* font;
    int answer;
  };
  const Case cases[] = {{"+BOLD", 1}, {"12PT", 1}, {"+ITALIC", 0}, {"RED", 0}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.font);
    Restart();
    const std::vector<Bytes> before = Store(
        "TEXT text=\"a\"\nTEXT text=\"b\" attributes=bold size=12\nTEXT text=\"c\" size=12 "
        "attributes=bold\n");
    EXPECT_EQ(Chunk("Everything")->FontInUse(c.font), c.answer);
    EXPECT_STREQ(session_->scratch_first, c.answer != 0 ? "1" : "0");
    EXPECT_EQ(Values(), before);
  }
}

/* What a font property is set to, it reads back; the other runs of the
 * body keep their fonts. */
TEST_F(TextRunTest, FontPropertiesReadBackWhatWasSet) {
  struct Case {
    const char* property;
    const char* value;
    const char* read;
  };
  const Case cases[] = {
      {"Font", "Bold Blue 12pt", "Bold Blue 12pt Default Sans Serif"},
      {"FontColor", "Green", "Green"},
      {"TextAttributes", "Italic Underline", "Italic Underline"},
      {"FontFace", "Default Monospace", "Default Monospace"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.property);
    Restart();
    Store("TEXT text=\"one\"\nPARAGRAPH\nTEXT text=\"two\"\n");
    VelkoRTChunk* chunk = Chunk("Paragraph 1");
    EXPECT_EQ(chunk->SetPropertyText(c.property, c.value, 0), 1);
    char read[256] = {};
    chunk->GetPropertyText(c.property, read, sizeof read);
    EXPECT_STREQ(read, c.read);
    Chunk("Paragraph 2")->GetPropertyText("Font", read, sizeof read);
    EXPECT_STREQ(read, "Plain Black 10pt Default Sans Serif");
  }
}

} // namespace
