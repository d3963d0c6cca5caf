/*
 * Fuzz target for paragraph-style strings.
 *
 * The first byte chooses options (implied properties, the forced third
 * flags word, the form of the definition updated, whether defaults are
 * left out of the dump); the rest is split at the first NUL byte into the
 * style string and the selection string, each held in an allocation of
 * exactly its length. The parse must succeed; its new-values entry is
 * dumped in both forms, which must fit the scratch text; the style dump
 * must parse again, and after two such rounds the dump must not change any
 * more. The parsed strings also update, match and compare a definition,
 * which must keep one of its three lengths and its update mark. A
 * sanitizer finding or a broken invariant traps.
 */
#include <stddef.h>
#include <stdint.h>
#include <string.h>

#include <memory>
#include <string>

#include "chunk/paragraph_style.h"
#include "fuzz/fuzz_support.h"
#include "store/tracked_memory.h"

namespace {

VelkoRTItem& Item() {
  static VelkoRTItem* item = new VelkoRTItem(new LSXLsiSession());
  return *item;
}

/* A copy of the bytes with a NUL after them and no room beyond. */
std::unique_ptr<char[]> Text(const uint8_t* data, size_t size) {
  std::unique_ptr<char[]> text(new char[size + 1]);
  memcpy(text.get(), data, size);
  text[size] = '\0';
  return text;
}

paragraph_spec* Parse(const char* style, const char* selection) {
  paragraph_spec* spec = nullptr;
  check(ParseParagraphString(&Item(), style, selection, &spec) == NOERROR && spec != nullptr);
  return spec;
}

std::string StyleDump(const _CDPABDEFEXT& entry, DWORD omit) {
  _CDPABDEFEXT full = entry;
  full.Definition.Header.Length = kPabdefFullLength;
  char out[VELKO_SCRATCH_TEXT_SIZE];
  out[0] = '\0';
  DumpParagraph(0, &full, out, omit);
  check(strlen(out) < sizeof out);
  return out;
}

void CheckAttributeDump(const _CDPABDEFEXT& entry) {
  _CDPABDEFEXT full = entry;
  full.Definition.Header.Length = kPabdefFullLength;
  char out[VELKO_SCRATCH_TEXT_SIZE];
  out[0] = '\0';
  DumpParagraph(1, &full, out, 0);
  check(strlen(out) < sizeof out);
}

/* The style dump parses again, and after two rounds it is settled (a
 * zero interval reads back as the default one, which is written anew). */
void CheckDumpReparses(const _CDPABDEFEXT& entry, DWORD omit) {
  LSXLsiSession* session = Item().session;
  std::string dump = StyleDump(entry, omit);
  for (int round = 0; round < 3; ++round) {
    paragraph_spec* again = Parse(dump.c_str(), nullptr);
    const std::string next = StyleDump(again->entries[0], omit);
    VelkoDeallocatePtr(session, again);
    if (round == 2)
      check(next == dump);
    dump = next;
  }
}

void CheckUpdate(paragraph_spec* spec, BYTE options) {
  static const WORD kLengths[] = {kPabdefBaseLength, kPabdefExtendedLength, kPabdefFullLength,
                                  kPabdefFullLength};
  _CDPABDEFEXT target = {};
  target.Definition.Header.Signature = 0xFF82;
  target.Definition.Header.Length = kLengths[(options >> 2) & 3];
  target.Definition.LeftMargin = target.Definition.FirstLineLeftMargin = 1440;
  target.Definition.Tab[0] = 720;
  for (int pass = 0; pass < 2; ++pass) {
    UpdateParagraph(&target, &spec->entries[0], spec->set_flags, spec->clear_flags,
                    spec->set_flags2, spec->clear_flags2, spec->set_flags3, spec->clear_flags3,
                    spec->list_set[0], spec->list_clear[0], spec->shift_left_offset,
                    spec->shift_right_offset, spec->shift_left_percent, spec->shift_right_percent,
                    spec->criteria[0], options & 1, options & 2);
    const WORD length = target.Definition.Header.Length;
    check(length == kPabdefBaseLength || length == kPabdefExtendedLength ||
          length == kPabdefFullLength);
    check((target.Definition.Flags & 0x0100) != 0);
    check(length == kPabdefFullLength || (target.Definition.Flags2 & 0x8000) == 0);
  }
  MatchParagraph(&target, &spec->entries[1], spec->list_set[1], spec->list_clear[1],
                 spec->criteria[1]);
  check(CompareParagraphs(Item().session, &target, &target, 1) == 1);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0)
    return 0;
  const BYTE options = data[0];
  ++data;
  --size;
  const uint8_t* nul = static_cast<const uint8_t*>(memchr(data, 0, size));
  const size_t styleSize = nul != nullptr ? static_cast<size_t>(nul - data) : size;
  std::unique_ptr<char[]> style = Text(data, styleSize);
  std::unique_ptr<char[]> selection =
      nul != nullptr ? Text(nul + 1, size - styleSize - 1) : nullptr;

  paragraph_spec* spec = Parse(style.get(), selection.get());
  const DWORD omit = (options >> 4) & 1;
  CheckAttributeDump(spec->entries[0]);
  CheckAttributeDump(spec->entries[1]);
  CheckDumpReparses(spec->entries[0], omit);
  CheckDumpReparses(spec->entries[1], omit);
  CheckUpdate(spec, options);
  VelkoDeallocatePtr(Item().session, spec);
  return 0;
}
