/*
 * Fuzz target for the image size reader: arbitrary image bytes in image
 * segment records, behind records that may already give a size.
 *
 * The first 8 bytes choose the records: bit 0 of byte 0 puts an image
 * header (image type byte 1, width and height bytes 2 to 5, little-endian)
 * first, bit 1 a bitmap header of the same size, bit 2 a graphic record
 * resized to it; byte 6 splits the rest into two image segments (0: one)
 * and byte 7 is added to each segment's declared data size, so that the
 * size can claim more than the record holds. Every record's data is an
 * allocation of exactly its length. The size must come out non-zero, and
 * GIF data alone gives its screen size. A sanitizer finding (a read past a
 * record) or a broken invariant traps; a loop would hang the fuzzer.
 */
#include <stddef.h>
#include <stdint.h>
#include <string.h>

#include <memory>
#include <vector>

#include "fuzz/fuzz_support.h"
#include "host/cdrecords.h"
#include "store/body.h"
#include "store/cd_storage.h"

namespace {

constexpr size_t kChoices = 8;

/* A node and the exact allocation its data lies in. */
struct Node {
  std::unique_ptr<char[]> data;
  record_storage node;
};

void MakeNode(Node* made, WORD signature, const void* fixed, size_t fixedSize,
              const uint8_t* tail = nullptr, size_t tailSize = 0) {
  made->data.reset(new char[fixedSize + tailSize]);
  memcpy(made->data.get(), fixed, fixedSize);
  if (tailSize != 0)
    memcpy(made->data.get() + fixedSize, tail, tailSize);
  made->node.data = made->data.get();
  made->node.length = static_cast<DWORD>(fixedSize + tailSize);
  made->node.signature = signature;
}

WORD Word(const uint8_t* at) { return static_cast<WORD>(at[0] | at[1] << 8); }

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < kChoices)
    return 0;
  const BYTE kinds = data[0];
  const WORD type = data[1];
  const WORD width = Word(data + 2);
  const WORD height = Word(data + 4);
  const uint8_t* image = data + kChoices;
  const size_t imageSize = size - kChoices;
  size_t split = imageSize == 0 ? 0 : data[6] % (imageSize + 1);
  if (split == 0)
    split = imageSize;

  std::vector<std::unique_ptr<Node>> nodes;
  if ((kinds & 1) != 0) {
    CDIMAGEHEADER header = {};
    header.Header.Signature = SIG_CD_IMAGEHEADER;
    header.Header.Length = sizeof header;
    header.ImageType = type;
    header.Width = width;
    header.Height = height;
    nodes.push_back(std::make_unique<Node>());
    MakeNode(nodes.back().get(), SIG_CD_IMAGEHEADER, &header, sizeof header);
  }
  if ((kinds & 2) != 0) {
    CDBITMAPHEADER header = {};
    header.Header.Signature = SIG_CD_BITMAPHEADER;
    header.Header.Length = sizeof header;
    header.Width = width;
    header.Height = height;
    nodes.push_back(std::make_unique<Node>());
    MakeNode(nodes.back().get(), SIG_CD_BITMAPHEADER, &header, sizeof header);
  }
  if ((kinds & 4) != 0) {
    CDGRAPHIC graphic = {};
    graphic.Header.Signature = SIG_CD_GRAPHIC;
    graphic.Header.Length = sizeof graphic;
    graphic.DestWidth = width;
    graphic.DestHeight = height;
    graphic.Resize = 1;
    nodes.push_back(std::make_unique<Node>());
    MakeNode(nodes.back().get(), SIG_CD_GRAPHIC, &graphic, sizeof graphic);
  }
  for (const auto& [from, length] :
       {std::pair<size_t, size_t>{0, split}, std::pair<size_t, size_t>{split, imageSize - split}}) {
    if (length == 0 && from != 0)
      continue;
    CDIMAGESEGMENT segment = {};
    segment.Header.Signature = SIG_CD_IMAGESEGMENT;
    segment.Header.Length = static_cast<DWORD>(sizeof segment + length);
    segment.DataSize = static_cast<WORD>(length + data[7]);
    segment.SegSize = segment.DataSize;
    nodes.push_back(std::make_unique<Node>());
    MakeNode(nodes.back().get(), SIG_CD_IMAGESEGMENT, &segment, sizeof segment, image + from,
             length);
  }
  for (size_t i = 0; i + 1 < nodes.size(); ++i) {
    nodes[i]->node.next = &nodes[i + 1]->node;
    nodes[i + 1]->node.previous = &nodes[i]->node;
  }

  WORD foundWidth = 0;
  WORD foundHeight = 0;
  check(GetDimensionsFromRecords(&nodes.front()->node, &foundWidth, &foundHeight) == NOERROR);
  check(foundWidth != 0 && foundHeight != 0);
  const bool gifAlone = (kinds & 7) == 0 && split >= 10 && data[7] == 0 &&
                        memcmp(image, "GIF", 3) == 0;
  if (gifAlone) {
    check(Word(image + 6) == 0 || foundWidth == Word(image + 6));
    check(Word(image + 8) == 0 || foundHeight == Word(image + 8));
  }
  return 0;
}
