/*
 * Sixteen bytes compared at once, with the compiler's vector extension,
 * and the lanes of a comparison's result as bits: the one way the scans
 * of the output stage and the MIME export turn a block's comparison into
 * places.
 */
#ifndef VELKO_STORE_BYTE_LANES_H
#define VELKO_STORE_BYTE_LANES_H

#include <stdint.h>
#include <string.h>

typedef unsigned char lane_block __attribute__((vector_size(16)));

/* One bit for each lane of a comparison's result that is set, lane 0 in
 * bit 0: the top bits of the bytes gathered by the instruction that does
 * it where there is one, else by one multiplication for each eight, whose
 * partial products never meet. */
inline unsigned LaneBits(lane_block lanes) {
#if defined(__SSE2__)
  typedef char signed_block __attribute__((vector_size(16)));
  return static_cast<unsigned>(
      __builtin_ia32_pmovmskb128(reinterpret_cast<signed_block &>(lanes)));
#else
  uint64_t half[2];
  memcpy(half, &lanes, sizeof half);
  constexpr uint64_t kTops = 0x8080808080808080ull;
  constexpr uint64_t kGather = 0x0102040810204080ull;
  const unsigned low = static_cast<unsigned>(((half[0] & kTops) >> 7) * kGather >> 56);
  const unsigned high = static_cast<unsigned>(((half[1] & kTops) >> 7) * kGather >> 56);
  return low | high << 8;
#endif
}

#endif  // VELKO_STORE_BYTE_LANES_H
