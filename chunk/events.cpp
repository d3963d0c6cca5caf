/*
 * Caller data that a chunk carries for later use: the six event return
 * strings, which the engine's link and field generation reads, and the two
 * rendering callbacks, through which the renderer hands each piece of
 * output and each rendered link to the caller.
 *
 * The renderer decides when to raise the callbacks; this file only stores
 * them and, for links, turns the identifier texts into their binary form
 * and hands the callback's answer back.
 */
#include <ctype.h>
#include <stddef.h>
#include <string.h>

#include <new>

#include "chunk/rtchunk_internal.h"
#include "host/nsfdata.h"
#include "store/note_access.h"
#include "store/owned_text.h"
#include "velko/status.h"

// The link callback's note IDs are the host's UNIDs.
static_assert(sizeof(UNIVERSALNOTEID) == sizeof(UNID));
static_assert(offsetof(UNIVERSALNOTEID, Note) == offsetof(UNID, Note));

namespace {

constexpr WORD kEventSlots = 6;

WORD TextLength(const char* text) {
  if (text == nullptr)
    return 0;
  const size_t length = strlen(text);
  return length > 0xFFFF ? 0xFFFF : static_cast<WORD>(length);
}

bool StartsWithHexDigits(const char* text, size_t count) {
  for (size_t i = 0; i < count; ++i) {
    if (!isxdigit(static_cast<unsigned char>(text[i])))
      return false;
  }
  return true;
}

/* A replica ID as text: 16 characters holding ':' give the first word from
 * the ninth character on and the second from the first eight; a longer
 * text starting with '_' and holding ':' gives the first word from
 * characters 11 to 18 and the second from 3 to 10, and so does "__" with
 * 16 hexadecimal digits (the database part of a rendered link,
 * "__<second><first>.NSF"). Anything else gives 0. */
TIMEDATE ParseReplicaID(const char* text) {
  TIMEDATE id = {};
  if (text == nullptr)
    return id;
  const size_t length = strlen(text);
  if (length >= 18 && text[0] == '_' && text[1] == '_' && StartsWithHexDigits(text + 2, 16)) {
    id.Innards[0] = ReadHexNumber(text + 10, 8);
    id.Innards[1] = ReadHexNumber(text + 2, 8);
    return id;
  }
  if (strchr(text, ':') == nullptr)
    return id;
  if (length == 16) {
    id.Innards[0] = ReadHexNumber(text + 8, 8);
    id.Innards[1] = ReadHexNumber(text, 8);
  } else if (length > 17 && text[0] == '_') {
    id.Innards[0] = ReadHexNumber(text + 10, 8);
    id.Innards[1] = ReadHexNumber(text + 2, 8);
  }
  return id;
}

} // namespace

void VelkoRTChunk::SetEventRetString(WORD slot, const char* text, WORD length) {
  if (slot < 1 || slot > kEventSlots) {
    if (link_mode > 0)
      --link_mode;
    return;
  }
  CleanupEventRetString(slot);
  if (text == nullptr)
    return;
  // A text shorter than the given length ends at its NUL.
  const size_t used = strnlen(text, length);
  if (used == 0)
    return;
  event_strings[slot - 1] = CopyOwnedText(text, used);
  if (event_strings[slot - 1] == nullptr)
    status = VELKO_ERR_MEMORY; // the link callback's answer is lost: its raise reports it
}

void VelkoRTChunk::CleanupEventRetString(WORD slot) {
  if (slot < 1 || slot > kEventSlots)
    return;
  delete[] event_strings[slot - 1];
  event_strings[slot - 1] = nullptr;
}

ActOnTextCallback VelkoRTChunk::SetActOnTextCallback(ActOnTextCallback callback) {
  const ActOnTextCallback before = internal->act_on_text;
  internal->act_on_text = callback;
  return before;
}

QueryLinkDataCallback VelkoRTChunk::SetQueryLinkDataCallback(QueryLinkDataCallback callback) {
  const QueryLinkDataCallback before = internal->query_link_data;
  internal->query_link_data = callback;
  return before;
}

void VelkoRTChunk::RaiseActOnText(const char* text, WORD length) {
  if (internal->act_on_text != nullptr)
    internal->act_on_text(this, text, length);
}

void VelkoRTChunk::RaiseQueryLinkData(const char*, WORD, WORD kind, const char* replicaText,
                                      const char* viewText, const char* noteText, const char* text1,
                                      const char* text2, const char* text3,
                                      VelkoLinkAnswer* answer) {
  if (internal->query_link_data == nullptr)
    return;
  TIMEDATE replicaID = ParseReplicaID(replicaText);
  UNIVERSALNOTEID viewID = ParseUniversalNoteID(viewText);
  UNIVERSALNOTEID noteID = ParseUniversalNoteID(noteText);
  // The callback answers through the event strings: the chunk's own wait
  // aside, so that neither the answer nor the chunk's strings are lost.
  char* kept[kEventSlots];
  for (WORD slot = 0; slot < kEventSlots; ++slot) {
    kept[slot] = event_strings[slot];
    event_strings[slot] = nullptr;
  }
  const WORD statusBefore = status;
  status = NOERROR;
  const WORD result = internal->query_link_data(
      this, kind, replicaText, TextLength(replicaText), &replicaID, &viewID, &noteID, text1,
      TextLength(text1), text2, TextLength(text2), text3, TextLength(text3));
  for (WORD slot = 0; slot < kEventSlots; ++slot) {
    const bool answered = answer != nullptr && slot < 3;
    if (answered) {
      delete[] answer->texts[slot];
      answer->texts[slot] = event_strings[slot];
    } else {
      delete[] event_strings[slot];
    }
    event_strings[slot] = kept[slot];
  }
  if (answer != nullptr) {
    answer->kind = result == 0 || result == 2 || result == 4 ? result : kLinkAnswerNone;
    answer->status = status == VELKO_ERR_MEMORY ? STATUS{VELKO_ERR_MEMORY} : STATUS{NOERROR};
  }
  status = statusBefore;
}

WORD VelkoRTChunk::RaiseReplaceHTMLScripting(const char*, const char*, const char*, const char*,
                                             const char*) {
  return 0;
}
