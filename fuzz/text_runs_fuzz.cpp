/*
 * Fuzz target for the font actions on text runs: ChangeFont (with its
 * filter font and the flag for section titles and buttons) or
 * HighlightText (with a fuzzed highlight font) over a body of text runs
 * built from the fuzz bytes, through the chunk methods.
 *
 * Input: byte 0: bit 0 HighlightText instead of ChangeFont, bit 1 the flag
 * for titles and buttons, bit 2 CaseSensitive, bit 3 TextWildcards, bit 4
 * SearchWordBoundaries, bit 5 AccentSensitive off. Then three NUL-ended
 * texts: the font, the filter font (empty: none), the search text (made
 * ASCII). The rest builds the records, a step at a time: a step byte picks
 * a shape (a bare text run, a text effect and its run, an enveloped run
 * with or without its effect and colour record, an envelope without text,
 * one with two texts, a paragraph, a section title bar, a button, a lone
 * text effect, an envelope left open at the end), the bytes after it give
 * fonts, colours and the texts (ASCII, up to 15 bytes).
 *
 * Checked: the action succeeds (the emitter accepts every record it is
 * given), the item's text read back is the text it had, and host handles
 * and tracked blocks are all given back.
 */
#include <stddef.h>
#include <stdint.h>
#include <string.h>

#include <string>
#include <vector>

#include "cdbuild/cd_builder.h"
#include "fuzz/fuzz_support.h"
#include "host/host_testing.h"
#include "host/nsfdb.h"
#include "host/nsfnote.h"
#include "store/rtitem_internal.h"
#include "store/session.h"
#include "store/vocabulary.h"
#include "tests/support/note_fixture.h"
#include "velko/status.h"

namespace {

using note_testing::Bytes;

constexpr char kDbPath[] = "mem:textrunsfuzz";
constexpr size_t kTexts = 3;
constexpr size_t kLongestText = 15;
constexpr size_t kMostSteps = 200;

/* The fuzz bytes read from the front; zeros once they run out. */
class reader {
public:
  reader(const uint8_t* data, size_t size) : data_(data), size_(size) {}
  bool done() const { return at_ >= size_; }
  uint8_t Byte() { return at_ < size_ ? data_[at_++] : 0; }
  /* A NUL-ended text, up to the end of the bytes. */
  std::string Text() {
    std::string text;
    while (at_ < size_ && data_[at_] != 0)
      text += static_cast<char>(data_[at_++]);
    ++at_;
    return text;
  }
  cdbuild::Font Font() {
    cdbuild::Font font;
    font.face = Byte();
    font.attributes = Byte();
    font.color = Byte();
    font.size = Byte();
    return font;
  }
  /* A printable ASCII text of up to 15 bytes. */
  std::string Ascii() {
    std::string text(Byte() % (kLongestText + 1), ' ');
    for (char& c : text)
      c = static_cast<char>(' ' + Byte() % 95);
    return text;
  }

private:
  const uint8_t* data_;
  size_t size_;
  size_t at_ = 0;
};

/* Printable ASCII, so that the search text is a plain text too. */
std::string MadeAscii(const std::string& text) {
  std::string ascii = text;
  for (char& c : ascii)
    c = static_cast<char>(' ' + static_cast<uint8_t>(c) % 95);
  return ascii;
}

void Add(std::vector<Bytes>* records, const Bytes& record) { records->push_back(record); }

Bytes TextRun(reader& in) {
  const cdbuild::Font font = in.Font();
  return cdbuild::Text(in.Ascii(), font);
}

Bytes Effect(reader& in) {
  Bytes effect = cdbuild::Sized(SIG_CD_TEXTEFFECT, 8);
  const FONTID font = cdbuild::FontId(in.Font());
  memcpy(effect.data() + 4, &font, sizeof font);
  return effect;
}

Bytes Color(reader& in) {
  cdbuild::ColorFields fields;
  fields.color.flags = in.Byte() & 0x0F; // no gradient: an 8-byte record
  fields.color.red = in.Byte();
  fields.color.green = in.Byte();
  fields.color.blue = in.Byte();
  return cdbuild::Color(fields);
}

/* The records of the steps; false once the body is complete. */
bool Step(reader& in, std::vector<Bytes>* records) {
  const uint8_t step = in.Byte();
  switch (step % 11) {
  case 0:
    Add(records, TextRun(in));
    break;
  case 1:
    Add(records, Effect(in));
    Add(records, TextRun(in));
    break;
  case 2: // an enveloped run, its effect and colour record by the step's bits
  case 10:
    Add(records, cdbuild::Begin(SIG_CD_TEXT));
    if ((step & 0x10) != 0)
      Add(records, Effect(in));
    Add(records, TextRun(in));
    if ((step & 0x20) != 0)
      Add(records, Color(in));
    Add(records, cdbuild::End(SIG_CD_TEXT));
    break;
  case 3:
    Add(records, cdbuild::Begin(SIG_CD_TEXT));
    Add(records, Color(in));
    Add(records, cdbuild::End(SIG_CD_TEXT));
    break;
  case 4:
    Add(records, cdbuild::Begin(SIG_CD_TEXT));
    Add(records, TextRun(in));
    Add(records, TextRun(in));
    Add(records, cdbuild::End(SIG_CD_TEXT));
    break;
  case 5:
    Add(records, cdbuild::Paragraph());
    break;
  case 6:
    Add(records, cdbuild::SectionBar({.flags = 0, .font = in.Font(), .color = 0,
                                      .title = in.Ascii()}));
    break;
  case 7:
    Add(records, cdbuild::Button({.flags = 0, .width = 0, .font = in.Font(),
                                  .label = in.Ascii()}));
    break;
  case 8:
    Add(records, Effect(in));
    Add(records, cdbuild::Paragraph());
    break;
  case 9: // an envelope that the body's end closes
    Add(records, cdbuild::Begin(SIG_CD_TEXT));
    Add(records, TextRun(in));
    return false;
  default:
    break;
  }
  return !in.done();
}

/* The text of all the item's runs, joined, as the chunk reads it. */
std::string ItemText(VelkoRTChunk* chunk) {
  static char text[VELKO_RESULT_TEXT_SIZE];
  const DWORD length = chunk->GetText(nullptr, text, sizeof text, 1, nullptr);
  return std::string(text, length);
}

void Run(uint8_t switches, const std::string (&texts)[kTexts], LSXLsiSession* session,
         NOTEHANDLE note) {
  auto* item = new VelkoRTItem(session);
  check(item->ConnectBackend(note, "Body", 0) == NOERROR);
  VelkoRTChunk* chunk = item->DefineChunk("Everything");
  check(chunk != nullptr);
  chunk->CaseSensitive = (switches >> 2) & 1;
  chunk->TextWildcards = (switches >> 3) & 1;
  chunk->SearchWordBoundaries = (switches >> 4) & 1;
  chunk->AccentSensitive = ((switches >> 5) & 1) ^ 1;
  const std::string before = ItemText(chunk);
  check(chunk->status == NOERROR);
  STATUS status = NOERROR;
  if ((switches & 1) != 0) {
    item->SetPropertyText("HighlightFont", texts[0].c_str(), 0);
    const std::string search = MadeAscii(texts[2]);
    status = chunk->HighlightText(search.c_str(), 0);
  } else {
    status = chunk->ChangeFont(texts[0].c_str(), texts[1].empty() ? nullptr : texts[1].c_str(),
                               (switches >> 1) & 1);
  }
  check(status == NOERROR);
  check(ItemText(chunk) == before);
  delete item;
  check(VelkoTrackedBlocksInUse(session) == 0);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  reader in(data, size);
  const uint8_t switches = in.Byte();
  std::string texts[kTexts];
  for (std::string& text : texts)
    text = in.Text();
  std::vector<Bytes> records = {note_testing::DefaultDefinition(1, 1440, true), cdbuild::PabRef(1)};
  for (size_t steps = 0; steps < kMostSteps && Step(in, &records); ++steps) {
  }
  const DBHANDLE db = note_testing::ProcessDatabase(kDbPath);
  const size_t handles = HostTestLiveHandles();
  NOTEHANDLE note = NULLHANDLE;
  check(NSFNoteCreate(db, &note) == NOERROR);
  check(note_testing::AppendRecords(note, "Body", note_testing::Records(records)) == NOERROR);
  {
    auto* session = new LSXLsiSession;
    Run(switches, texts, session, note);
    delete session;
  }
  NSFNoteClose(note);
  check(HostTestLiveHandles() == handles);
  return 0;
}
