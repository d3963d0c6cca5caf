/*
 * What the fuzz targets share: the check that traps on a broken invariant,
 * and the storing of a body's bytes as the rich-text items of a note.
 */
#ifndef VELKO_FUZZ_FUZZ_SUPPORT_H
#define VELKO_FUZZ_FUZZ_SUPPORT_H

#include <ctype.h>
#include <stddef.h>
#include <stdint.h>
#include <string.h>

#include <string>
#include <string_view>

#include "host/host_testing.h"
#include "host/osenv.h"
#include "tests/support/note_fixture.h"
#include "velko/status.h"

/* A broken invariant traps; the fuzzer reports the input. */
inline void check(bool condition) {
  if (!condition)
    __builtin_trap();
}

/* Whether any of the keys stands anywhere in the option string, in any
 * case: the option reader may find a key inside another option's value. */
template <size_t N>
bool NamesAnyKey(std::string_view options, const char* const (&keys)[N]) {
  for (const std::string_view key : keys) {
    for (size_t at = 0; at + key.size() <= options.size(); ++at) {
      size_t i = 0;
      while (i < key.size() && tolower(static_cast<unsigned char>(options[at + i])) ==
                                   tolower(static_cast<unsigned char>(key[i])))
        ++i;
      if (i == key.size())
        return true;
    }
  }
  return false;
}

/* The host as a fuzz process runs it: its log and messages captured
 * (damaged bodies are logged; the fuzzer's output stays readable), and the
 * sessions' temporary directory set. */
inline void QuietFuzzHost(const char* temporaryDirectory) {
  HostTestCaptureLog(true);
  HostTestCaptureMessages();
  OSSetEnvironmentVariable("$TarnoTempDirectory", temporaryDirectory);
}

/* The generations a fuzz input's first byte chooses from (the last none). */
inline constexpr const char* kGenerations[] = {"HTML 4.01", "XHTML 1.0", "Plain Text", "Passthrough",
                                               "HTML",      "XHTML",     "Fragment",   nullptr};

/* An input's option string (its bytes up to the first NUL, at most
 * `longest` of them kept) and the body bytes behind that NUL. */
struct options_and_body {
  std::string options;
  const uint8_t* body = nullptr;
  size_t body_length = 0;
};

inline options_and_body SplitOptionsAndBody(const uint8_t* data, size_t size, size_t longest) {
  options_and_body split;
  const auto* options = reinterpret_cast<const char*>(data);
  const size_t length = strnlen(options, size);
  split.options.assign(options, length < longest ? length : longest);
  const size_t bodyStart = length < size ? length + 1 : size;
  split.body = data + bodyStart;
  split.body_length = size - bodyStart;
  return split;
}

/* The largest piece stored as one item: an item value less its type word. */
constexpr size_t kLargestPiece = 65533;

/* Splits the bytes into `pieces` about equal parts (the last takes the
 * rest), each cut to kLargestPiece, and appends each as a TYPE_COMPOSITE
 * value of the item (Body unless named) to the note. */
inline void AppendPieces(NOTEHANDLE note, const uint8_t* data, size_t size, int pieces,
                         const char* itemName = "Body") {
  const size_t each = size / pieces;
  for (int piece = 0; piece < pieces; ++piece) {
    const size_t from = piece * each;
    size_t length = piece == pieces - 1 ? size - from : each;
    if (length > kLargestPiece)
      length = kLargestPiece;
    const note_testing::Bytes value(data + from, data + from + length);
    check(note_testing::AppendRecords(note, itemName, value) == NOERROR);
  }
}

/* A new note of the database whose item (Body) holds the body bytes in
 * `pieces` values, `more` given the note to add to before it is saved;
 * the saved note's id. */
template <typename More>
NOTEID StoreFuzzNote(DBHANDLE db, const uint8_t* body, size_t length, int pieces, More more) {
  NOTEHANDLE note = NULLHANDLE;
  check(NSFNoteCreate(db, &note) == NOERROR);
  AppendPieces(note, body, length, pieces);
  more(note);
  check(NSFNoteUpdate(note, UPDATE_FORCE) == NOERROR);
  NOTEID noteId = 0;
  NSFNoteGetInfo(note, _NOTE_ID, &noteId);
  NSFNoteClose(note);
  return noteId;
}

#endif
