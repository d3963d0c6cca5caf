/*
 * MIME items (host/mime_items.h): splitting an RFC 822 message into one
 * item per entity and reading an item's spans back.
 */
#include "host/mime_items.h"

#include <strings.h>

#include <cstring>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

#include "host/nsfdata.h"
#include "host/nsfnote.h"
#include "host/status.h"

namespace {

/* The end of the line starting at `from` (past its line break). */
size_t LineEnd(std::string_view text, size_t from) {
  const size_t newline = text.find('\n', from);
  return newline == std::string_view::npos ? text.size() : newline + 1;
}

bool IsBlankLine(std::string_view line) { return line == "\n" || line == "\r\n"; }

/* A boundary as delimiter lines give it: without the blanks that may
 * follow it on its line. */
std::string_view WithoutTrailingBlanks(std::string_view text) {
  const size_t end = text.find_last_not_of(" \t\r\n");
  return end == std::string_view::npos ? std::string_view() : text.substr(0, end + 1);
}

/* The boundary parameters that a header block declares. */
void AddBoundaries(std::string_view headers, std::unordered_set<std::string>* boundaries) {
  static constexpr std::string_view kKey = "boundary=";
  for (size_t at = 0; at + kKey.size() <= headers.size(); ++at) {
    if (strncasecmp(headers.data() + at, kKey.data(), kKey.size()) != 0)
      continue;
    if (at > 0 && headers[at - 1] != ';' && headers[at - 1] != ' ' && headers[at - 1] != '\t')
      continue;
    size_t from = at + kKey.size();
    std::string_view value;
    if (from < headers.size() && headers[from] == '"') {
      const size_t close = headers.find('"', from + 1);
      if (close == std::string_view::npos)
        continue;
      value = headers.substr(from + 1, close - from - 1);
    } else {
      size_t to = from;
      while (to < headers.size() && headers[to] != ';' && headers[to] != '\r' &&
             headers[to] != '\n' && headers[to] != ' ' && headers[to] != '\t')
        ++to;
      value = headers.substr(from, to - from);
    }
    value = WithoutTrailingBlanks(value);
    if (!value.empty())
      boundaries->emplace(value);
  }
}

/* Whether the line opens an entity: "--" and a known boundary, then only
 * blanks; not the closing "--boundary--". The boundaries are looked up,
 * so that a message declaring many is read in linear time. */
bool OpensEntity(std::string_view line, const std::unordered_set<std::string>& boundaries) {
  if (line.size() < 2 || line[0] != '-' || line[1] != '-' || boundaries.empty())
    return false;
  const std::string_view candidate = WithoutTrailingBlanks(line.substr(2));
  return !candidate.empty() && boundaries.count(std::string(candidate)) != 0;
}

struct entity_span {
  std::string_view boundary, headers, content;
};

std::vector<entity_span> SplitEntities(std::string_view message) {
  std::vector<entity_span> entities;
  std::unordered_set<std::string> boundaries;
  size_t at = 0;
  bool first = true;
  while (first || at < message.size()) {
    entity_span entity;
    const size_t start = at;
    if (!first)
      at = LineEnd(message, at);
    entity.boundary = message.substr(start, at - start);
    const size_t headersStart = at;
    while (at < message.size()) {
      const size_t end = LineEnd(message, at);
      const bool blank = IsBlankLine(message.substr(at, end - at));
      at = end;
      if (blank)
        break;
    }
    entity.headers = message.substr(headersStart, at - headersStart);
    AddBoundaries(entity.headers, &boundaries);
    const size_t contentStart = at;
    while (at < message.size() && !OpensEntity(message.substr(at, LineEnd(message, at) - at),
                                               boundaries))
      at = LineEnd(message, at);
    entity.content = message.substr(contentStart, at - contentStart);
    entities.push_back(entity);
    first = false;
  }
  return entities;
}

STATUS AppendPart(NOTEHANDLE note, const char* itemName, WORD flags, std::string_view boundary,
                  std::string_view headers, std::string_view content) {
  if (boundary.size() > 0xFFFF || headers.size() > 0xFFFF)
    return ERR_HOST_VALUE_TOO_LARGE;
  MIME_PART part = {MIME_PART_VERSION, flags, static_cast<WORD>(boundary.size()),
                    static_cast<WORD>(headers.size()), static_cast<DWORD>(content.size())};
  std::string value(reinterpret_cast<const char*>(&part), sizeof part);
  value.append(boundary).append(headers).append(content);
  return NSFItemAppend(note, 0, itemName, static_cast<WORD>(std::strlen(itemName)),
                       TYPE_MIME_PART, value.data(), static_cast<DWORD>(value.size()));
}

STATUS StoreEntities(NOTEHANDLE note, const char* itemName, std::string_view message) {
  for (const entity_span& entity : SplitEntities(message)) {
    std::string_view content = entity.content;
    std::string_view piece = content.substr(0, MIME_PART_CONTENT_LIMIT);
    if (STATUS status = AppendPart(note, itemName, 0, entity.boundary, entity.headers, piece);
        status != NOERROR)
      return status;
    for (content.remove_prefix(piece.size()); !content.empty();
         content.remove_prefix(piece.size())) {
      piece = content.substr(0, MIME_PART_CONTENT_LIMIT);
      if (STATUS status = AppendPart(note, itemName, MIME_PART_CONTINUED, {}, {}, piece);
          status != NOERROR)
        return status;
    }
  }
  return NOERROR;
}

} // namespace

STATUS MIMEPartSpans(const void* value, DWORD valueLength, MIME_PART_SPANS* spans) {
  if (value == nullptr || spans == nullptr || valueLength < sizeof(WORD) + sizeof(MIME_PART))
    return ERR_HOST_BAD_RECORD;
  const char* bytes = static_cast<const char*>(value);
  WORD type = 0;
  std::memcpy(&type, bytes, sizeof type);
  MIME_PART part;
  std::memcpy(&part, bytes + sizeof type, sizeof part);
  const DWORD room = valueLength - static_cast<DWORD>(sizeof type + sizeof part);
  if (type != TYPE_MIME_PART || part.Version != MIME_PART_VERSION ||
      (part.Flags & ~MIME_PART_CONTINUED) != 0 ||
      static_cast<uint64_t>(part.BoundaryLength) + part.HeadersLength + part.ContentLength !=
          room)
    return ERR_HOST_BAD_RECORD;
  spans->Flags = part.Flags;
  spans->Boundary = bytes + sizeof type + sizeof part;
  spans->BoundaryLength = part.BoundaryLength;
  spans->Headers = spans->Boundary + part.BoundaryLength;
  spans->HeadersLength = part.HeadersLength;
  spans->Content = spans->Headers + part.HeadersLength;
  spans->ContentLength = part.ContentLength;
  return NOERROR;
}

STATUS MIMEStoreMessage(NOTEHANDLE note, const char* itemName, const char* message,
                        DWORD messageLength) {
  if (itemName == nullptr || itemName[0] == '\0' || (message == nullptr && messageLength > 0))
    return ERR_HOST_BAD_ARGUMENT;
  const WORD nameLength = static_cast<WORD>(std::strlen(itemName));
  if (STATUS status = NSFItemDelete(note, itemName, nameLength);
      status != NOERROR && status != ERR_ITEM_NOT_FOUND)
    return status;
  STATUS status = StoreEntities(note, itemName, std::string_view(message, messageLength));
  if (status != NOERROR)
    static_cast<void>(NSFItemDelete(note, itemName, nameLength));
  return status;
}
