/*
 * Fuzz target for the chunk append: a record list from the fuzz bytes
 * whose table rows SortByRow appends again in key order (the chunk's own
 * rows, copied as they stand), with a fuzzed column, switches and options.
 *
 * Input: byte 0: bits 0-1 the key column (1 to 4), bit 2 the title-rows
 * flag, bit 3 numeric, bit 4 reverse; byte 1: bits 0-1 how many items the
 * body is split into (1 to 3), bit 2 the chunk is "Table 2" instead of
 * "Table 1", bit 3 the options are null. Then a NUL-ended options text;
 * the rest is the body's records.
 *
 * Checked: a sort that succeeds leaves a body that loads again completely
 * and that a reading walk goes through; one that fails leaves the item's
 * values byte for byte as they were; host handles and tracked blocks are
 * all given back.
 */
#include <stddef.h>
#include <stdint.h>
#include <string.h>

#include <string>
#include <vector>

#include "fuzz/stored_body_checks.h"
#include "store/vocabulary.h"

namespace {

constexpr char kDbPath[] = "mem:appendchunkfuzz";
constexpr size_t kHeader = 2;

STATUS Sort(const uint8_t *data, const char *options, VelkoRTChunk *chunk) {
  const WORD column = static_cast<WORD>(1 + (data[0] & 3));
  return chunk->SortByRow(column, (data[0] >> 2) & 1, (data[0] >> 3) & 1,
                          (data[0] >> 4) & 1, options);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size < kHeader)
    return 0;
  size_t at = kHeader;
  const void *end = memchr(data + at, 0, size - at);
  const size_t length = end != nullptr
                            ? static_cast<const uint8_t *>(end) - (data + at)
                            : size - at;
  const std::string options(reinterpret_cast<const char *>(data + at), length);
  at += length + 1;
  const uint8_t *body = at < size ? data + at : data;
  const size_t bodySize = at < size ? size - at : 0;

  const char *given = (data[1] & 0x08) != 0 ? nullptr : options.c_str();
  const char *definition = (data[1] & 0x04) != 0 ? "Table 2" : "Table 1";
  RunOnStoredBody(kDbPath, body, bodySize, 1 + (data[1] & 3) % 3,
                  [&](LSXLsiSession *session, NOTEHANDLE note) {
                    CheckChunkOperation(
                        session, note, definition, [&](VelkoRTChunk *chunk) {
                          return Sort(data, given, chunk);
                        });
                  });
  return 0;
}
