/*
 * Fuzz target for AppendRow from a template row: a record list from the
 * fuzz bytes, one of whose table rows is the template of a new row, with
 * fuzzed per-cell strings (Text=, TextFont=, CellColor=, VertAlign=,
 * RowHeight=, labels, CellHTML...= or plain text).
 *
 * Input: byte 0: bits 0-1 the template row (1 to 4), bit 2 the chunk is
 * "Table 2" instead of "Table 1", bit 3 the chunk is the template row
 * itself ("Table 1; Row n"); byte 1: bits 0-1 how many items the body is
 * split into (1 to 3), bits 3-7 how many cell strings follow (0 to 20;
 * an empty one stands for a cell without a string). Then the cell strings,
 * each NUL-ended; the rest is the body's records.
 *
 * Checked: an append that succeeds leaves a body that loads again
 * completely and that a reading walk goes through; one that fails leaves
 * the item's values byte for byte as they were; host handles and tracked
 * blocks are all given back.
 */
#include <stddef.h>
#include <stdint.h>
#include <stdio.h>
#include <string.h>

#include <string>
#include <vector>

#include "fuzz/stored_body_checks.h"

namespace {

constexpr char kDbPath[] = "mem:appendrowfuzz";
constexpr size_t kHeader = 2;
constexpr size_t kCellSlots = 20;

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size < kHeader)
    return 0;
  size_t at = kHeader;
  std::vector<std::string> texts;
  const size_t count = (data[1] >> 3) % (kCellSlots + 1);
  for (size_t i = 0; i < count && at < size; ++i) {
    const void *end = memchr(data + at, 0, size - at);
    const size_t length = end != nullptr
                              ? static_cast<const uint8_t *>(end) - (data + at)
                              : size - at;
    texts.emplace_back(reinterpret_cast<const char *>(data + at), length);
    at += length + 1;
  }
  const char *cells[kCellSlots] = {};
  for (size_t i = 0; i < texts.size(); ++i)
    cells[i] = texts[i].empty() ? nullptr : texts[i].c_str();
  const uint8_t *body = at < size ? data + at : data;
  const size_t bodySize = at < size ? size - at : 0;

  const WORD row = static_cast<WORD>(1 + (data[0] & 3));
  char definition[32];
  if ((data[0] & 0x08) != 0)
    snprintf(definition, sizeof definition, "Table 1; Row %u", row);
  else
    snprintf(definition, sizeof definition, "%s",
             (data[0] & 0x04) != 0 ? "Table 2" : "Table 1");
  RunOnStoredBody(kDbPath, body, bodySize, 1 + (data[1] & 3) % 3,
                  [&](LSXLsiSession *session, NOTEHANDLE note) {
                    CheckChunkOperation(
                        session, note, definition, [&](VelkoRTChunk *chunk) {
                          return chunk->AppendRow(0, row, cells);
                        });
                  });
  return 0;
}
