/*
 * Text runs and their fonts: the routine that gathers the text run starting
 * at the current record (a text record, a text effect, or a CDBEGIN of
 * text) and re-emits it in a new font, splits it around the occurrences of
 * a search text, tells whether its font is in use or reads its font; and
 * the cases of ChangeFont (also the font property settings), Highlight,
 * HighlightText and FontInUse, which also change section title bars and
 * buttons when asked.
 *
 * A run is [text effect] text, or CDBEGIN ... [text effect] text ...
 * [colour] CDEND (to the list's end when no CDEND comes). A stretch that
 * is no such run (no text record, a second text record, a record of
 * another kind inside the envelope) goes on unchanged. Every record of
 * a run is emitted once: what the run becomes goes out here, and the skip
 * mark makes the frame drop the run's later records.
 *
 * Also the test the walk's lane makes of a text record that is a run of
 * its own: whether the case would emit it as it is (no match, or already
 * in the new font and text), with its FONTID alone changed, or split into
 * text records of its own header and of the match font alone, so that the
 * lane takes it (or its pieces) instead.
 */
#include <assert.h>
#include <stddef.h>
#include <stdint.h>
#include <string.h>

#include <initializer_list>
#include <new>
#include <vector>

#include "engine/process_state.h"
#include "engine/property_set_actions.h"
#include "engine/record_fields.h"
#include "engine/services.h"
#include "engine/walk.h"
#include "generate/font_string.h"
#include "store/owned_text.h"
#include "store/rtitem_internal.h"
#include "store/tracked_memory.h"
#include "store/vocabulary.h"

namespace {

/* The FONTID of a text record and of a text effect. */
constexpr DWORD kRunFontAt = offsetof(CDTEXT, FontID);
/* A text effect: signature word, length word 8, FONTID. */
constexpr DWORD kEffectLength = 8;
/* A colour record: its BSIG, one colour value, and a second one when the
 * first's flags say so. */
constexpr DWORD kColorValueAt = offsetof(CDCOLOR, Color);
constexpr DWORD kColorLength = sizeof(CDCOLOR);
constexpr DWORD kColorLengthWithSecond = kColorLength + sizeof(COLOR_VALUE);
constexpr WORD kSecondColorValue = 0x0010;
/* The FONTID of a section title bar and of a button. */
constexpr DWORD kBarFontAt = offsetof(CDBAR, FontID);
constexpr DWORD kButtonFontAt = offsetof(CDBUTTON, FontID);

/* The text record's header becomes the item's default text header: its
 * signature and font, with the length of a bare header, since the records
 * made from it later (a blank body among them) take it as it stands. */
void TakeDefaultTextHeader(const record_storage* text, chunk_process_state* state) {
  CDTEXT header;
  memcpy(&header, text->data, sizeof header);
  header.Header.Length = sizeof header;
  memcpy(StateItem(state)->internal->default_text_header, &header, sizeof header);
}

bool IsTextBegin(const record_storage* node) {
  return node->signature == SIG_CD_BEGIN && NodeBracket(node) == SIG_CD_TEXT;
}

/* The records of one text run, the last seen of each kind. */
struct text_run {
  DWORD count = 0; /* records gathered, the current one first */
  record_storage* first = nullptr;
  record_storage* last = nullptr;
  record_storage* begin = nullptr;
  record_storage* effect = nullptr;
  record_storage* text = nullptr;
  record_storage* color = nullptr;
  record_storage* end = nullptr;
  /* Only the kinds of a run, each once and long enough for its fields. */
  bool well_formed = true;
};

void Take(text_run* run, record_storage* node) {
  run->last = node;
  ++run->count;
}

/* Files the record under its kind; false for a record that has no place
 * in a run (another kind, a second of a kind, one too short). */
bool File(text_run* run, record_storage* node) {
  record_storage** slot = nullptr;
  if (IsTextEffect(node->signature) && node->length >= kEffectLength)
    slot = &run->effect;
  else if (IsTextRun(node->signature) && node->length >= sizeof(CDTEXT))
    slot = &run->text;
  else if (node->signature == SIG_CD_COLOR && node->length >= kColorLength &&
           node->length <= kColorLengthWithSecond)
    slot = &run->color;
  if (slot == nullptr || *slot != nullptr)
    return false;
  *slot = node;
  return true;
}

/* Gathers the run that starts at the node. Without a CDBEGIN it is the
 * text record, or the text effect and the text record right after it; with
 * one it reaches the first CDEND, or the list's end. */
text_run GatherRun(record_storage* first) {
  text_run run;
  run.first = first;
  Take(&run, first);
  if (!IsTextBegin(first)) {
    run.well_formed = File(&run, first);
    if (run.effect != nullptr && first->next != nullptr && IsTextRun(first->next->signature)) {
      Take(&run, first->next);
      run.well_formed = run.well_formed && File(&run, first->next);
    }
    return run;
  }
  run.begin = first;
  for (record_storage* node = first->next; node != nullptr; node = node->next) {
    if (node->signature == SIG_CD_END) {
      Take(&run, node);
      run.end = node;
      run.well_formed = NodeBracket(node) == SIG_CD_TEXT;
      break;
    }
    // A record that has no place in a run ends the stretch before it: the
    // walk handles it and what follows (the chunk may close there).
    if (!File(&run, node)) {
      run.well_formed = false;
      break;
    }
    Take(&run, node);
  }
  return run;
}

/* The run's font and colour as the actions change them: copies, so that
 * the input records stay as they were. */
struct run_font {
  FONTID font = {};
  alignas(4) BYTE color[kColorLengthWithSecond] = {};
  DWORD color_length = 0; /* 0: the run has no colour record */

  COLOR_VALUE* Color() {
    return color_length != 0 ? reinterpret_cast<COLOR_VALUE*>(color + kColorValueAt) : nullptr;
  }
};

run_font FontOfRun(const text_run& run) {
  run_font font;
  const record_storage* holder = run.effect != nullptr ? run.effect : run.text;
  memcpy(&font.font, holder->data + kRunFontAt, sizeof font.font);
  if (run.color != nullptr) {
    font.color_length = run.color->length;
    memcpy(font.color, run.color->data, run.color->length);
  }
  return font;
}

/* What a changed run needs around its text. */
struct run_change {
  run_font font;
  DWORD envelope = 0; /* CDBEGIN, colour record and CDEND */
  DWORD effect = 0;   /* a text effect before the text */
};

run_change ChangeRunFont(const text_run& run, chunk_process_state* state) {
  run_change change;
  change.font = FontOfRun(run);
  ApplyFontOverrideExt(&change.font.font, change.font.Color(), &change.envelope, &change.effect,
                       &state->fonts[0], state->font_masks[0].given);
  return change;
}

/* The text record's 8-byte header with the font. */
CDTEXT HeaderWithFont(const text_run& run, const FONTID& font) {
  CDTEXT header;
  memcpy(&header, run.text->data, sizeof header);
  header.FontID = font;
  return header;
}

STATUS EmitCopy(const record_storage* node, chunk_process_state* state) {
  return CopyCDUpdated(node->data, node->signature, node->length, &state->gen);
}

/* A text effect of the font: the run's own with the font, or a new one. */
STATUS EmitEffect(const text_run& run, const FONTID& font, chunk_process_state* state) {
  alignas(4) BYTE effect[kEffectLength] = {};
  const WORD signature = run.effect != nullptr ? run.effect->signature : SIG_CD_TEXTEFFECT;
  const WORD length = kEffectLength;
  memcpy(effect, &signature, sizeof signature);
  memcpy(effect + sizeof signature, &length, sizeof length);
  memcpy(effect + kRunFontAt, &font, sizeof font);
  return CopyCDUpdated(effect, signature, kEffectLength, &state->gen);
}

/* The colour record of a changed envelope: the run's own as changed, or
 * one built from the set font's colour value. */
STATUS EmitEnvelopeColor(run_change& change, chunk_process_state* state) {
  if (change.font.color_length != 0)
    return CopyCDUpdated(change.font.color, SIG_CD_COLOR, change.font.color_length, &state->gen);
  const COLOR_VALUE& value = state->fonts[0].color_value;
  alignas(4) BYTE color[kColorLengthWithSecond] = {};
  const DWORD length =
      (value.Flags & kSecondColorValue) != 0 ? kColorLengthWithSecond : kColorLength;
  color[0] = static_cast<BYTE>(SIG_CD_COLOR);
  color[1] = static_cast<BYTE>(length);
  memcpy(color + kColorValueAt, &value, sizeof value);
  return CopyCDUpdated(color, SIG_CD_COLOR, length, &state->gen);
}

/* A CDTEXT of the text with the 8-byte header's font, built straight into
 * its output node. */
STATUS EmitText(const void* header, const char* text, DWORD length, chunk_process_state* state) {
  return GenerateCDTextDirect(header, text, length, &state->gen);
}

#define EMIT(call)                                                                                 \
  do {                                                                                             \
    if (const STATUS emitted = (call); emitted != NOERROR)                                         \
      return emitted;                                                                              \
  } while (0)

/* The text in the changed font: effect, CDBEGIN, the text, colour record
 * and CDEND, as the change needs them. */
STATUS EmitChangedText(const text_run& run, run_change& change, const char* text, DWORD length,
                       chunk_process_state* state) {
  if (change.effect != 0)
    EMIT(EmitEffect(run, change.font.font, state));
  if (change.envelope != 0)
    EMIT(GenerateCDBegin(SIG_CD_TEXT, 0, &state->gen));
  const CDTEXT header = HeaderWithFont(run, change.font.font);
  EMIT(EmitText(&header, text, length, state));
  if (change.envelope != 0) {
    EMIT(EmitEnvelopeColor(change, state));
    EMIT(GenerateCDEnd(SIG_CD_TEXT, 0, &state->gen));
  }
  return NOERROR;
}

/* A piece of the text as the run had it: its own effect, CDBEGIN, colour
 * record and CDEND around a text record of the item's default header. */
STATUS EmitPlainPiece(const text_run& run, const char* text, DWORD length,
                      chunk_process_state* state) {
  if (run.effect != nullptr)
    EMIT(EmitCopy(run.effect, state));
  if (run.begin != nullptr)
    EMIT(EmitCopy(run.begin, state));
  EMIT(EmitText(StateItem(state)->internal->default_text_header, text, length, state));
  if (run.color != nullptr)
    EMIT(EmitCopy(run.color, state));
  if (run.end != nullptr)
    EMIT(EmitCopy(run.end, state));
  return NOERROR;
}

/* ChangeFont and Highlight: the whole run in the new font, when the filter
 * font passes it. *emitted tells whether it went out here. */
STATUS ReEmitRun(const text_run& run, chunk_process_state* state, bool* emitted) {
  run_font font = FontOfRun(run);
  if (FontNotFilteredExt(&font.font, font.Color(), &state->fonts[1], state->font_masks[1].given) ==
      0)
    return NOERROR;
  run_change change = ChangeRunFont(run, state);
  *emitted = true;
  const char* text = run.text->data + sizeof(CDTEXT);
  const DWORD length = run.text->length - sizeof(CDTEXT);
  EMIT(EmitChangedText(run, change, text, length, state));
  StateItem(state)->Modified = 1;
  return NOERROR;
}

/* The search text's length: p2 bytes, or none when p2 is 0. */
WORD SearchLength(const chunk_process_state* state) {
  return state->s2 != nullptr ? state->p2 : 0;
}

bool Replaces(const chunk_process_state* state) {
  return state->action == ACTION_REPLACE_TEXT_QUICK ||
         state->action == ACTION_REPLACE_TEXT_SAME_LENGTH;
}

/* The replacement's bytes: p1, or its string length when p1 is 0. */
DWORD ReplacementLength(const chunk_process_state* state) {
  if (state->s1 == nullptr)
    return 0;
  return state->p1 != 0 ? state->p1 : static_cast<DWORD>(strlen(state->s1));
}

/* The match, cut to fit, in the first scratch text. */
void KeepMatch(const char* match, DWORD matchLength, chunk_process_state* state) {
  char* kept = state->session->scratch_first;
  const DWORD keptLength = matchLength < VELKO_SCRATCH_TEXT_SIZE - 1 ? matchLength
                                                                     : VELKO_SCRATCH_TEXT_SIZE - 1;
  memcpy(kept, match, keptLength);
  kept[keptLength] = '\0';
}

/* What takes a match's place: the match in the new font, or the
 * replacement (s1, p1 bytes or its string length; for 2399 no more bytes
 * than the match covers, cut between whole characters), the match kept in
 * the first scratch text. */
STATUS EmitMatch(const text_run& run, run_change& change, const char* match, WORD matchLength,
                 chunk_process_state* state) {
  if (!Replaces(state))
    return EmitChangedText(run, change, match, matchLength, state);
  KeepMatch(match, matchLength, state);
  DWORD length = ReplacementLength(state);
  if (state->action == ACTION_REPLACE_TEXT_SAME_LENGTH && length > matchLength)
    length = WholeCharacters(state->s1, length, matchLength);
  return EmitChangedText(run, change, state->s1 != nullptr ? state->s1 : "", length, state);
}

/* Action 2399: the chunk's second event string, when it has one, is a
 * font applied over the set font to every replacement's text record. */
STATUS ApplyEventStringFont(run_change* change, chunk_process_state* state) {
  const char* font = state->action == ACTION_REPLACE_TEXT_SAME_LENGTH && state->chunk != nullptr
                         ? state->chunk->event_strings[1]
                         : nullptr;
  if (font == nullptr)
    return NOERROR;
  font_spec specs[2] = {};
  font_spec_mask masks[2] = {};
  if (STATUS status = ParseFontString(font, nullptr, StateItem(state), specs, masks);
      status != NOERROR)
    return status;
  return ApplyFontOverride(&change->font.font, nullptr, nullptr, &specs[0], masks[0].given);
}

/* With the item's permanent pen on, whether a replacement needs a text
 * effect is decided again from its final font, so a font of the event
 * string that adds an effect gets its record. The envelope stays as the
 * set font decided it: a colour the run did not have comes from that font
 * and would otherwise be lost. */
void RedecideEffect(run_change* change) {
  font_spec none = {};
  font_spec_mask noneGiven = {};
  DWORD envelope = 0;
  ApplyFontOverrideExt(&change->font.font, change->font.Color(), &envelope, &change->effect, &none,
                       noneGiven.given);
}

/* What a match of the run becomes: the set font, then the event string's. */
STATUS ChangeRunFontAt(const text_run& run, run_change* change, chunk_process_state* state) {
  *change = ChangeRunFont(run, state);
  if (STATUS status = ApplyEventStringFont(change, state); status != NOERROR)
    return status;
  if (StateItem(state)->PermanentPen != 0)
    RedecideEffect(change);
  return NOERROR;
}

/* True when the run's records stand in the order EmitPlainPiece writes
 * them (text effect, CDBEGIN, text, colour, CDEND): a piece of its whole
 * text is then the run's records byte for byte. */
bool InPlainPieceOrder(const text_run& run) {
  const record_storage* node = run.first;
  DWORD seen = 0;
  for (const record_storage* expected : {run.effect, run.begin, run.text, run.color, run.end}) {
    if (expected == nullptr)
      continue;
    if (node != expected)
      return false;
    ++seen;
    node = node->next;
  }
  return seen == run.count;
}

/* The next occurrence of the search text in the remaining text of a run:
 * its offset and the bytes it covers, or -1 when there is none that
 * covers a byte and ends within the text (an empty match would not
 * advance: the rest is kept as it is). */
int32_t FindInRun(const char* text, DWORD remaining, const chunk_process_state* state,
                  WORD* matchLength) {
  const VelkoRTChunk* chunk = state->chunk;
  *matchLength = 0;
  const int32_t at =
      SearchBuffer(text, static_cast<WORD>(remaining), state->s2, SearchLength(state),
                   state->text_wildcards, chunk->CaseSensitive, chunk->AccentSensitive,
                   chunk->SearchWordBoundaries, chunk->RegularExpression, matchLength, nullptr);
  if (at < 0 || *matchLength == 0 || static_cast<DWORD>(at) + *matchLength > remaining)
    return -1;
  return at;
}

/* FindInRun over the whole text of the run's text record: the answer the
 * lane's test found for the record when it has one (taken only once). */
int32_t FindFirstInRun(const text_run& run, chunk_process_state* state, WORD* matchLength) {
  if (state->lone_run_searched == run.text) {
    state->lone_run_searched = nullptr;
    *matchLength = state->lone_run_match_length;
    return state->lone_run_match_at;
  }
  return FindInRun(run.text->data + sizeof(CDTEXT), run.text->length - sizeof(CDTEXT), state,
                   matchLength);
}

/* HighlightText and the replacements: the run split around each
 * occurrence of the search text. *emitted tells whether anything went out
 * here. */
STATUS SplitRun(const text_run& run, chunk_process_state* state, bool* emitted) {
  const WORD searchLength = SearchLength(state);
  if (searchLength == 0)
    return NOERROR;
  TakeDefaultTextHeader(run.text, state);
  const char* text = run.text->data + sizeof(CDTEXT);
  DWORD remaining = run.text->length - sizeof(CDTEXT); // a record's length word bounds it
  // The changed font is worked out at the first match, as most runs have
  // none; a font of the event string is read at once, since it may fail.
  run_change change;
  bool changed = false;
  if (state->action == ACTION_REPLACE_TEXT_SAME_LENGTH) {
    if (STATUS status = ChangeRunFontAt(run, &change, state); status != NOERROR)
      return status;
    changed = true;
  }
  while (remaining > 0) {
    WORD matchLength = 0;
    const int32_t at = text == run.text->data + sizeof(CDTEXT)
                           ? FindFirstInRun(run, state, &matchLength)
                           : FindInRun(text, remaining, state, &matchLength);
    if (at < 0) {
      // A run without a match whose records stand as the piece would write
      // them goes on as it is, without being built again.
      if (text == run.text->data + sizeof(CDTEXT) && InPlainPieceOrder(run) &&
          run.text->length <= kLargestEmittedRecord)
        return NOERROR;
      break;
    }
    if (!changed) {
      if (STATUS status = ChangeRunFontAt(run, &change, state); status != NOERROR)
        return status;
      changed = true;
    }
    *emitted = true;
    if (at > 0)
      EMIT(EmitPlainPiece(run, text, static_cast<DWORD>(at), state));
    EMIT(EmitMatch(run, change, text + at, matchLength, state));
    StateItem(state)->Modified = 1;
    text += at + matchLength;
    remaining -= static_cast<DWORD>(at) + matchLength;
  }
  if (remaining > 0) {
    *emitted = true;
    EMIT(EmitPlainPiece(run, text, remaining, state));
  }
  return NOERROR;
}

/* FontInUse: "1" in the first scratch text when the run's font passes. */
void TestFontInUse(const text_run& run, chunk_process_state* state) {
  run_font font = FontOfRun(run);
  if (FontNotFilteredExt(&font.font, font.Color(), &state->fonts[1], state->font_masks[1].given) ==
      0)
    return;
  strcpy(state->session->scratch_first, "1");
  state->found = 1;
}

/* Action 13: the run's font (the part p1 names) in the third scratch
 * text, without its one trailing blank. */
void ReadRunFont(const text_run& run, chunk_process_state* state) {
  run_font font = FontOfRun(run);
  char* answer = state->session->scratch_third;
  CalculateFontStringInternal(&font.font,
                              font.color_length != 0
                                  ? reinterpret_cast<const CDCOLOR*>(font.color)
                                  : nullptr,
                              StateItem(state), answer, state->p1);
  const size_t length = strlen(answer);
  if (length > 0 && answer[length - 1] == ' ')
    answer[length - 1] = '\0';
  state->found = 1;
}

/* A run whose text record a writing action cannot rebuild: a text of
 * another kind than CDTEXT is kept as it is. */
bool Rebuildable(const text_run& run) { return run.text->signature == SIG_CD_TEXT; }

/* The first record of a text run. */
bool StartsRun(const char* record, WORD signature, DWORD length) {
  return signature == SIG_CD_TEXT || signature == SIG_CD_TEXTEFFECT ||
         IsBeginOf(record, signature, length, SIG_CD_TEXT);
}

/* ChangeFont and Highlight on a section title bar or a button: the FONTID
 * at fontAt filtered and changed; a colour (or, for a bar, colour flags)
 * puts the record into a new bracket with a colour record, unless a
 * CDBEGIN already stands before it. */
STATUS ChangeLabelFont(const char* record, WORD signature, DWORD length, DWORD fontAt,
                       chunk_record_output* output, chunk_process_state* state) {
  if (length < fontAt + sizeof(FONTID))
    return NOERROR;
  FONTID font;
  memcpy(&font, record + fontAt, sizeof font);
  if (FontNotFiltered(&font, &state->fonts[1], state->font_masks[1].given) == 0)
    return NOERROR;
  DWORD rgb = 0;
  WORD colorFlags = 0;
  ApplyFontOverride(&font, &rgb, &colorFlags, &state->fonts[0], state->font_masks[0].given);
  char* changed = NewOutputRecord(length, signature, output, state);
  if (changed == nullptr)
    return VELKO_ERR_MEMORY;
  memcpy(changed, record, length);
  memcpy(changed + fontAt, &font, sizeof font);
  StateItem(state)->Modified = 1;
  const bool inPlace = signature == SIG_CD_BUTTON ? rgb == 0 : rgb == 0 && colorFlags == 0;
  const record_storage* previous =
      state->current_record != nullptr ? state->current_record->previous : nullptr;
  if (inPlace || previous == nullptr || previous->signature == SIG_CD_BEGIN)
    return NOERROR;
  EMIT(GenerateCDBegin(signature, 0, &state->gen));
  EMIT(CopyCDUpdated(changed, signature, length, &state->gen));
  EMIT(GenerateCDColorValue(static_cast<BYTE>(SIG_CD_COLOR), rgb, colorFlags, &state->gen));
  EMIT(GenerateCDEnd(signature, 0, &state->gen));
  output->length = 0;
  return NOERROR;
}

} // namespace

STATUS ProcessTextStream(const char*, WORD, DWORD, chunk_process_state* state) {
  record_storage* current = state->current_record;
  if (current == nullptr)
    return VELKO_ERR_FAILED;
  state->skip_mark = 0;
  const text_run run = GatherRun(current);
  STATUS status = NOERROR;
  bool emitted = false;
  if (run.text != nullptr && run.well_formed) {
    switch (state->action) {
    case ACTION_GET_FONT:
      ReadRunFont(run, state);
      break;
    case ACTION_FONT_IN_USE:
      TestFontInUse(run, state);
      break;
    case ACTION_CHANGE_FONT:
    case ACTION_HIGHLIGHT:
      if (Rebuildable(run))
        status = ReEmitRun(run, state, &emitted);
      break;
    case ACTION_HIGHLIGHT_TEXT:
    case ACTION_REPLACE_TEXT_QUICK:
    case ACTION_REPLACE_TEXT_SAME_LENGTH:
      if (Rebuildable(run))
        status = SplitRun(run, state, &emitted);
      break;
    default:
      break;
    }
  }
  // A run nothing was emitted for goes on as it was, record by record.
  if (!emitted && state->writes != 0) {
    for (const record_storage* node = run.first; status == NOERROR; node = node->next) {
      status = EmitInputRecord(node->data, node->signature, node->length, state);
      if (node == run.last)
        break;
    }
  }
  state->skip_mark = state->record_counter + run.count - 1;
  return status;
}

STATUS ProcessTextRunAction(const char* record, WORD signature, DWORD length,
                            chunk_record_output* output, chunk_process_state* state) {
  switch (state->action) {
  case ACTION_CHANGE_FONT:
  case ACTION_HIGHLIGHT:
    if (state->p1 != 0 && signature == SIG_CD_SECTIONBAR)
      return ChangeLabelFont(record, signature, length, kBarFontAt, output, state);
    if (state->p1 != 0 && signature == SIG_CD_BUTTON)
      return ChangeLabelFont(record, signature, length, kButtonFontAt, output, state);
    break;
  case ACTION_FONT_IN_USE:
    if (state->found != 0)
      return NOERROR;
    break;
  case ACTION_HIGHLIGHT_TEXT:
    break;
  default:
    return NOERROR;
  }
  if (!StartsRun(record, signature, length))
    return NOERROR;
  output->length = 0;
  return ProcessTextStream(record, signature, length, state);
}

/* ---- text records the walk's lane may take ---- */

namespace {

/* What the case does for a text record the lane may take (TextRunStays):
 * how it is emitted, and what else. */
enum : BYTE {
  kRunStays = 0x01,
  kRunMarksItem = 0x02,     /* the item is marked modified */
  kRunDefaultHeader = 0x04, /* its header becomes the default text header */
  kRunKeepsMatch = 0x08,    /* its whole text is kept as the last match */
  kRunNewFont = 0x10,       /* emitted with the FONTID lone_run_new_font */
  kRunSplits = 0x20,        /* split around its matches (EmitLaneSplitRun) */
};

/* What a match of a lone run of a font becomes (SplitRunStays): text in
 * the FONTID lone_run_new_font alone, without text effect or envelope;
 * and that FONTID is the run's own. */
enum : BYTE {
  kMatchPlain = 0x01,
  kMatchKeepsFont = 0x02,
};

/* The run GatherRun gathers at a text record: the record alone. */
text_run LoneTextRun(const record_storage* node) {
  text_run run;
  run.count = 1;
  run.first = run.last = run.text = const_cast<record_storage*>(node);
  return run;
}

/* True when the run's text record has the header EmitText writes for its
 * text: its signature and its own length. */
bool HeaderAsWritten(const text_run& run) {
  WSIG header;
  memcpy(&header, run.text->data, sizeof header);
  return header.Signature == SIG_CD_TEXT && header.Length == run.text->length;
}

/* True when the run's whole text emitted with the change (EmitChangedText)
 * is the run's text record but for its FONTID: no text effect, no
 * envelope and a header as EmitText writes it. */
bool ChangeKeepsAllButFont(const text_run& run, const run_change& change) {
  return change.effect == 0 && change.envelope == 0 && HeaderAsWritten(run);
}

/* ... and in the run's own font: the record byte for byte. */
bool ChangeKeepsRecord(const text_run& run, const run_change& change) {
  return ChangeKeepsAllButFont(run, change) &&
         memcmp(&change.font.font, run.text->data + kRunFontAt, sizeof(FONTID)) == 0;
}

unsigned LoneRunSlot(FONTID font) { return (font * 0x9E3779B1u) >> 20; }
static_assert(kLoneRunAnswers == 4096, "LoneRunSlot gives 12 bits");

/* What answer(run, state, &newFont) gives for a lone run of the font,
 * kept in the font's slot: for a lone run (no colour record) the answer
 * depends on its font alone, and a body's runs use few fonts. The FONTID
 * the run is emitted in goes to lone_run_new_font. */
template <typename Answer>
BYTE FontAnswer(const text_run& run, chunk_process_state* state, Answer answer) {
  FONTID font;
  memcpy(&font, run.text->data + kRunFontAt, sizeof font);
  lone_run_answer& kept = state->lone_runs[LoneRunSlot(font)];
  if (kept.known == 0 || kept.font != font) {
    kept.new_font = font;
    kept.stays = answer(run, state, &kept.new_font);
    kept.font = font;
    kept.known = 1;
  }
  state->lone_run_new_font = kept.new_font;
  return kept.stays;
}

/* ChangeFont and Highlight (ReEmitRun): a run the filter font does not
 * pass stays; one it passes stays when the new font is its own, and is
 * emitted in the new font when that is all the change makes of it.
 * ChangeFont's frame marks the item for every run. */
BYTE ReEmittedRunStays(const text_run& run, chunk_process_state* state) {
  if (!HeaderAsWritten(run))
    return 0;
  return FontAnswer(run, state,
                    [](const text_run& lone, chunk_process_state* walk, FONTID* newFont) -> BYTE {
    run_font font = FontOfRun(lone);
    if (FontNotFilteredExt(&font.font, font.Color(), &walk->fonts[1],
                           walk->font_masks[1].given) == 0)
      return walk->action == ACTION_CHANGE_FONT ? kRunStays | kRunMarksItem : kRunStays;
    const run_change change = ChangeRunFont(lone, walk);
    if (!ChangeKeepsAllButFont(lone, change))
      return 0;
    if (ChangeKeepsRecord(lone, change))
      return kRunStays | kRunMarksItem;
    *newFont = change.font.font;
    return kRunStays | kRunMarksItem | kRunNewFont;
  });
}

/* Whether the lane takes what SplitRun makes of a lone run with a match,
 * and in which FONTID its matches go (lone_run_new_font). */
BYTE MatchAnswer(const text_run& run, chunk_process_state* state) {
  return FontAnswer(run, state,
                    [](const text_run& lone, chunk_process_state* walk, FONTID* newFont) -> BYTE {
    const run_change change = ChangeRunFont(lone, walk);
    if (change.effect != 0 || change.envelope != 0)
      return 0;
    *newFont = change.font.font;
    return memcmp(&change.font.font, lone.text->data + kRunFontAt, sizeof(FONTID)) == 0
               ? kMatchPlain | kMatchKeepsFont
               : kMatchPlain;
  });
}

/* HighlightText and ReplaceTextQuick (SplitRun): a run without a match
 * stays; so does one that is a single match throughout when what takes
 * its place is the same text in the run's own font. ReplaceTextQuick's
 * frame marks the item for every run. Any other run with a match is split
 * in the lane when its matches need no text effect nor envelope; the
 * first match is kept, so that the split does not look for it again. */
BYTE SplitRunStays(const text_run& run, chunk_process_state* state) {
  const BYTE frameMarks = state->action == ACTION_REPLACE_TEXT_QUICK ? kRunMarksItem : 0;
  if (SearchLength(state) == 0)
    return kRunStays | frameMarks;
  const char* text = run.text->data + sizeof(CDTEXT);
  const DWORD length = run.text->length - sizeof(CDTEXT);
  WORD matchLength = 0;
  const int32_t at = FindInRun(text, length, state, &matchLength);
  state->lone_run_searched = run.text;
  state->lone_run_match_at = at;
  state->lone_run_match_length = matchLength;
  if (at < 0) {
    if (run.text->length > kLargestEmittedRecord)
      return 0;
    return kRunStays | frameMarks | kRunDefaultHeader;
  }
  const BYTE match = MatchAnswer(run, state);
  if (match == 0)
    return 0;
  const bool replacedBySame =
      !Replaces(state) || (state->s1 != nullptr && ReplacementLength(state) == length &&
                           memcmp(state->s1, text, length) == 0);
  if (at == 0 && matchLength == length && replacedBySame && (match & kMatchKeepsFont) != 0 &&
      HeaderAsWritten(run))
    return kRunStays | kRunMarksItem | kRunDefaultHeader | (Replaces(state) ? kRunKeepsMatch : 0);
  return kRunSplits | kRunMarksItem | kRunDefaultHeader;
}

} // namespace

bool TextRunsMayStay(const chunk_process_state* state) {
  switch (state->action) {
  case ACTION_CHANGE_FONT:
  case ACTION_HIGHLIGHT:
  case ACTION_HIGHLIGHT_TEXT:
    return true;
  case ACTION_REPLACE_TEXT_QUICK:
    return ReplacesInTextRuns(state);
  default:
    return false;
  }
}

BYTE TextRunStays(const record_storage* node, chunk_process_state* state) {
  if (node->signature != SIG_CD_TEXT || node->length <= sizeof(CDTEXT))
    return 0;
  const text_run run = LoneTextRun(node);
  switch (state->action) {
  case ACTION_CHANGE_FONT:
  case ACTION_HIGHLIGHT:
    return ReEmittedRunStays(run, state);
  case ACTION_HIGHLIGHT_TEXT:
  case ACTION_REPLACE_TEXT_QUICK:
    return SplitRunStays(run, state);
  default:
    return 0;
  }
}

namespace {

/* Room for one more FONTID changed in place; false when memory runs out
 * (the record is then copied instead). The first room is for as many
 * changes as the input the operation loaded has records, so that a walk
 * that changes most of them does not move the changes as they grow; the
 * pages of the room a walk does not reach are not touched. */
bool RoomForFontChange(chunk_process_state* state) {
  std::vector<lane_font_change>& changes = state->lane_font_changes;
  if (changes.size() < changes.capacity())
    return true;
  size_t room = 2 * changes.size();
  if (changes.empty()) {
    const record_storage* loaded =
        state->input_loaded_now != 0 ? StateItem(state)->internal->input->loaded_last : nullptr;
    room = loaded != nullptr && loaded->ordinal > 1024 ? loaded->ordinal : 1024;
  }
  try {
    changes.reserve(room);
  } catch (const std::bad_alloc&) {
    return false;
  }
  return true;
}

/* One piece of a split run: the header (signature and length set here)
 * and the text. */
STATUS EmitLanePiece(emitter_lane* lane, CDTEXT* header, const char* text, DWORD length, BYTE kind,
                     bool* taken) {
  const DWORD total = sizeof(CDTEXT) + length;
  header->Header.Signature = SIG_CD_TEXT;
  header->Header.Length = static_cast<WORD>(total);
  return EmitLaneRecordInParts(lane, SIG_CD_TEXT, total, kind, header, sizeof(CDTEXT), text,
                               taken);
}

/* What SplitRun emits for a lone run of which SplitRunStays found the
 * first match, as the lane's records: the text between matches in the
 * run's header, each match (or the replacement) in lone_run_new_font.
 * Either every piece goes to the lane or none (*taken clear): each has
 * text and fits the lane's room. The last match is kept as SplitRun keeps
 * it. */
STATUS EmitLaneSplitRun(emitter_lane* lane, const record_storage* node, BYTE kind,
                        chunk_process_state* state, bool* taken) {
  *taken = false;
  const bool replaces = Replaces(state);
  const DWORD replacementLength = replaces ? ReplacementLength(state) : 0;
  if (kind != EMITTER_LANE_TEXT || node->length > lane->room ||
      (replaces && (replacementLength == 0 || replacementLength > lane->room - sizeof(CDTEXT))))
    return NOERROR;
  WORD matchLength = 0;
  const int32_t first = FindFirstInRun(LoneTextRun(node), state, &matchLength);
  if (first < 0)
    return NOERROR; // SplitRunStays found one: not reached
  CDTEXT plain;
  memcpy(&plain, node->data, sizeof plain);
  CDTEXT changed = plain;
  changed.FontID = state->lone_run_new_font;
  auto piece = [&](CDTEXT* header, const char* from, DWORD bytes) {
    bool pieceTaken = false;
    const STATUS status = EmitLanePiece(lane, header, from, bytes, kind, &pieceTaken);
    assert(status != NOERROR || pieceTaken); // every piece fits, as checked above
    return status;
  };
  const char* text = node->data + sizeof(CDTEXT);
  DWORD remaining = node->length - sizeof(CDTEXT);
  DWORD at = static_cast<DWORD>(first);
  const char* match = nullptr;
  WORD lastLength = 0;
  for (;;) {
    if (at > 0)
      EMIT(piece(&plain, text, at));
    match = text + at;
    lastLength = matchLength;
    EMIT(replaces ? piece(&changed, state->s1, replacementLength)
                  : piece(&changed, match, matchLength));
    text = match + matchLength;
    remaining -= at + matchLength;
    if (remaining == 0)
      break;
    const int32_t next = FindInRun(text, remaining, state, &matchLength);
    if (next < 0) {
      EMIT(piece(&plain, text, remaining));
      break;
    }
    at = static_cast<DWORD>(next);
  }
  if (replaces)
    KeepMatch(match, lastLength, state);
  *taken = true;
  return NOERROR;
}

} // namespace

STATUS EmitLaneTextRun(emitter_lane* lane, const record_storage* node, BYTE kind, BYTE stays,
                       chunk_process_state* state, bool* taken) {
  if ((stays & kRunSplits) != 0)
    return EmitLaneSplitRun(lane, node, kind, state, taken);
  if ((stays & kRunNewFont) == 0)
    return EmitLaneRecord(lane, node->data, node->signature, node->length, kind, taken);
  // A lasting record's node points at it: the FONTID is changed where it
  // lies, and put back if the operation fails.
  if (!lane->lasting || !RoomForFontChange(state))
    return EmitLaneRecordChanged(lane, node->data, node->signature, node->length, kind,
                                 kRunFontAt, &state->lone_run_new_font, sizeof(FONTID), taken);
  const STATUS status =
      EmitLaneRecord(lane, node->data, node->signature, node->length, kind, taken);
  if (status != NOERROR || !*taken)
    return status;
  lane_font_change change;
  change.at = node->data + kRunFontAt;
  memcpy(&change.font, change.at, sizeof change.font);
  state->lane_font_changes.push_back(change);
  memcpy(change.at, &state->lone_run_new_font, sizeof(FONTID));
  return NOERROR;
}

void CopyWalkedTextHeader(const record_storage* text, chunk_process_state* state) {
  BYTE* header = StateItem(state)->internal->current_text_header;
  memcpy(header, text->data, sizeof(CDTEXT));
  // Only the last record changed in place can be the last text record
  // of a lane run.
  const std::vector<lane_font_change>& changes = state->lane_font_changes;
  if (!changes.empty() && changes.back().at == text->data + kRunFontAt)
    memcpy(header + kRunFontAt, &changes.back().font, sizeof(FONTID));
}

void RestoreLaneFonts(chunk_process_state* state) {
  for (const lane_font_change& change : state->lane_font_changes)
    memcpy(change.at, &change.font, sizeof change.font);
  state->lane_font_changes.clear();
}

void PassTextRun(const record_storage* node, BYTE stays, chunk_process_state* state) {
  if ((stays & kRunMarksItem) != 0)
    StateItem(state)->Modified = 1;
  if ((stays & kRunDefaultHeader) != 0)
    TakeDefaultTextHeader(node, state);
  if ((stays & kRunKeepsMatch) != 0)
    KeepMatch(node->data + sizeof(CDTEXT), node->length - sizeof(CDTEXT), state);
}
