/*
 * Images of the HTML import (import/html_images.h): choosing how an img
 * element is kept, decoding its data: URI, finding its inline part, and
 * writing its records.
 */
#include "import/html_images.h"

#include <ctype.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <strings.h>

#include <algorithm>
#include <string>

#include "chunk/rtchunk_internal.h"
#include "engine/process_state.h"
#include "generate/attribute_text.h"
#include "generate/built_record.h"
#include "generate/hotspot.h"
#include "host/image_data.h"
#include "host/image_records.h"
#include "import/charset.h"
#include "store/emitter.h"

namespace {

/* The longest address kept as a storage link. */
constexpr size_t kLongestAddress = 2048;
constexpr WORD kGraphicBracketVersion = 1;
constexpr WORD kStorageLinkToUrl = 2;
/* CDGRAPHIC flags: its destination size is in pixels. */
constexpr BYTE kGraphicSizeInPixels = 0x01;

bool BeginsWithNoCase(std::string_view text, std::string_view prefix) {
  return text.size() >= prefix.size() && strncasecmp(text.data(), prefix.data(), prefix.size()) == 0;
}

const char* Attribute(TidyNode node, TidyAttrId id) {
  TidyAttr attribute = tidyAttrGetById(node, id);
  return attribute == nullptr ? nullptr : tidyAttrValue(attribute);
}

int Sextet(unsigned char c) {
  if (c >= 'A' && c <= 'Z')
    return c - 'A';
  if (c >= 'a' && c <= 'z')
    return c - 'a' + 26;
  if (c >= '0' && c <= '9')
    return c - '0' + 52;
  return c == '+' ? 62 : c == '/' ? 63 : -1;
}

/* Base64 (blanks skipped, padding optional); false for another character,
 * text after the padding or a lone last character. */
bool DecodeBase64(std::string_view text, std::string* bytes) {
  DWORD bits = 0;
  int held = 0; /* bits not yet written */
  int padding = 0;
  for (const char c : text) {
    if (isspace(static_cast<unsigned char>(c)))
      continue;
    if (c == '=') {
      ++padding;
      continue;
    }
    const int value = Sextet(static_cast<unsigned char>(c));
    if (value < 0 || padding > 0)
      return false;
    bits = (bits << 6 | static_cast<DWORD>(value)) & 0xFFFF;
    held += 6;
    if (held >= 8) {
      held -= 8;
      bytes->push_back(static_cast<char>(bits >> held & 0xFF));
    }
  }
  return padding <= 2 && held < 6;
}

/* The bytes of a base64 data: URI ("data:[type][;parameters];base64,"
 * then the data); false for another form or bad data. */
bool DataUriBytes(std::string_view source, std::string* bytes) {
  const size_t comma = source.find(',');
  if (comma == std::string_view::npos)
    return false;
  const std::string_view header = source.substr(0, comma);
  constexpr std::string_view kBase64 = ";base64";
  if (header.size() < kBase64.size() ||
      !BeginsWithNoCase(header.substr(header.size() - kBase64.size()), kBase64))
    return false;
  return DecodeBase64(source.substr(comma + 1), bytes);
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9')
    return c - '0';
  c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
  return c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
}

/* A cid: URL's content-id: its %XX escapes decoded. */
std::string ContentId(std::string_view url) {
  std::string id;
  for (size_t at = 0; at < url.size(); ++at) {
    if (url[at] == '%' && at + 2 < url.size() && HexDigit(url[at + 1]) >= 0 &&
        HexDigit(url[at + 2]) >= 0) {
      id.push_back(static_cast<char>(HexDigit(url[at + 1]) * 16 + HexDigit(url[at + 2])));
      at += 2;
    } else {
      id.push_back(url[at]);
    }
  }
  return id;
}

} // namespace

inline_part_node* inline_part_index::Find(const chunk_process_state* process,
                                          const std::string& id) {
  if (!made_) {
    if (process->chunk != nullptr && process->chunk->internal != nullptr) {
      for (inline_part_node* node = process->chunk->internal->inline_parts; node != nullptr;
           node = node->next) {
        if (node->name != nullptr)
          parts_.emplace(node->name, node); // a later part of the same id is never found
      }
    }
    made_ = true;
  }
  const auto found = parts_.find(id);
  return found != parts_.end() ? found->second : nullptr;
}

namespace {

/* A size attribute in pixels ("120", "120px"); 0 for none, a percentage
 * or another unit. */
WORD PixelSize(const char* value) {
  if (value == nullptr)
    return 0;
  char* end = nullptr;
  const long pixels = strtol(value, &end, 10);
  while (end != value && isspace(static_cast<unsigned char>(*end)))
    ++end;
  if (end == value || pixels <= 0 || (*end != '\0' && strcasecmp(end, "px") != 0))
    return 0;
  return pixels > 0xFFFF ? WORD{0xFFFF} : static_cast<WORD>(pixels);
}

/* A GIF or JPEG with a size: its kind and size. */
struct picture {
  const BYTE* data;
  DWORD size;
  WORD kind, width, height;
};

bool ReadPicture(std::string_view bytes, picture* out) {
  if (bytes.size() > 0xFFFFFFFFu)
    return false;
  out->data = reinterpret_cast<const BYTE*>(bytes.data());
  out->size = static_cast<DWORD>(bytes.size());
  out->kind = ReadImageDataSize(out->data, out->size, &out->width, &out->height);
  if (out->width == 0 || out->height == 0)
    return false;
  if (out->kind == IMAGE_DATA_GIF)
    return true;
  return out->kind == IMAGE_DATA_JPEG && out->data[0] == 0xFF && out->data[1] == 0xD8;
}

STATUS EmitImageRecord(void* context, const void* record, WORD signature, DWORD length) {
  return CopyCDUpdated(record, signature, length, static_cast<generation_context*>(context));
}

/* The size the element asks for: what it gives, the other side scaled to
 * keep the picture's shape. */
void DestinationSize(const picture& image, WORD* width, WORD* height) {
  if (*width != 0 && *height == 0)
    *height = static_cast<WORD>(
        std::min<DWORD>(0xFFFF, (static_cast<DWORD>(image.height) * *width + image.width / 2) /
                                    image.width));
  else if (*height != 0 && *width == 0)
    *width = static_cast<WORD>(
        std::min<DWORD>(0xFFFF, (static_cast<DWORD>(image.width) * *height + image.height / 2) /
                                    image.height));
}

/* The picture in the body, at the element's size when it gives one. */
STATUS WritePicture(chunk_process_state* process, const picture& image, WORD width, WORD height,
                    const std::string& alt, const html_image_walk& walk) {
  generation_context* gen = &process->gen;
  CDGRAPHIC graphic = {};
  if (width != 0 || height != 0) {
    DestinationSize(image, &width, &height);
    graphic.DestWidth = width;
    graphic.DestHeight = height;
    graphic.Resize = 1;
    graphic.Flags = kGraphicSizeInPixels;
  }
  RETURN_IF_FAILED(walk.begin_records());
  RETURN_IF_FAILED(GenerateCDBegin(SIG_CD_GRAPHIC, kGraphicBracketVersion, gen));
  RETURN_IF_FAILED(WriteImageRecords(image.data, image.size, image.kind, image.width, image.height,
                                     &graphic, EmitImageRecord, gen));
  RETURN_IF_FAILED(EmitAltText(alt.c_str(), gen));
  return GenerateCDEnd(SIG_CD_GRAPHIC, kGraphicBracketVersion, gen);
}

/* A storage link to the address, with the alt text and the sizes given. */
STATUS WriteStorageLink(chunk_process_state* process, const char* address, WORD width,
                        WORD height, const std::string& alt, const html_image_walk& walk) {
  std::string buffer(alt.size() + 64, '\0');
  attribute_text properties;
  AttributeTextOpen(&properties, buffer.data(), buffer.size() - 1);
  if (!alt.empty())
    AttributeTextQuoted(&properties, "AltText=", alt.data(), alt.size());
  if (width != 0)
    AttributeTextPrintf(&properties, "ImageWidth=%u ", width);
  if (height != 0)
    AttributeTextPrintf(&properties, "ImageHeight=%u ", height);
  hotspot_state state;
  state.gen = &process->gen;
  state.secondary_status = &process->secondary_status;
  RETURN_IF_FAILED(walk.begin_records());
  return GenerateStorageLink(kStorageLinkToUrl, address, properties.text, &state);
}

} // namespace

bool IsScriptAddress(const char* address) {
  while (isspace(static_cast<unsigned char>(*address)))
    ++address;
  return strncasecmp(address, "javascript:", 11) == 0 || strncasecmp(address, "vbscript:", 9) == 0;
}

STATUS ImportHTMLImage(chunk_process_state* process, TidyNode node, const html_image_walk& walk) {
  const char* source = Attribute(node, TidyAttr_SRC);
  const char* altUtf8 = Attribute(node, TidyAttr_ALT);
  const char* widthText = Attribute(node, TidyAttr_WIDTH);
  const char* heightText = Attribute(node, TidyAttr_HEIGHT);
  if (process->chunk != nullptr)
    process->chunk->RaiseReplaceHTMLScripting("img", source, altUtf8, widthText, heightText);
  const std::string_view address = source != nullptr ? source : "";
  const WORD width = PixelSize(widthText);
  const WORD height = PixelSize(heightText);
  std::string alt;
  if (altUtf8 != nullptr)
    RETURN_IF_FAILED(TranslateUtf8(altUtf8, &alt));

  picture image = {};
  if (BeginsWithNoCase(address, "cid:")) {
    inline_part_node* part = walk.parts->Find(process, ContentId(address.substr(4)));
    if (part != nullptr && part->data != nullptr &&
        ReadPicture(std::string_view(part->data, part->length), &image)) {
      part->used = true;
      return WritePicture(process, image, width, height, alt, walk);
    }
  } else if (BeginsWithNoCase(address, "data:")) {
    std::string bytes;
    if (DataUriBytes(address.substr(5), &bytes) && ReadPicture(bytes, &image))
      return WritePicture(process, image, width, height, alt, walk);
  } else if (!address.empty() && address.size() <= kLongestAddress && !IsScriptAddress(source)) {
    return WriteStorageLink(process, source, width, height, alt, walk);
  }
  return altUtf8 == nullptr ? NOERROR : walk.text(altUtf8);
}
