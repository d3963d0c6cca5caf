/*
 * Reading a MIME message with GMime: finds the body (the HTML part, or the
 * plain text made HTML), decodes the other parts, and converts the body to
 * UTF-8. GMime is initialised once per process.
 */
#include "export/mime_read.h"

#include <new>

#include "export/gmime_support.h"
#include "host/status.h"

namespace {

/* Deeper entities are not looked into: the walks recurse. */
constexpr int kMaxDepth = 64;

bool IsType(GMimeObject* object, const char* type, const char* subtype) {
  GMimeContentType* contentType = g_mime_object_get_content_type(object);
  return contentType != nullptr && g_mime_content_type_is_type(contentType, type, subtype);
}

bool IsBodyCandidate(GMimeObject* object, const char* subtype) {
  return GMIME_IS_PART(object) && !g_mime_part_is_attachment(GMIME_PART(object)) &&
         IsType(object, "text", subtype);
}

/* The first part of the subtype in message order; within an alternative
 * the last one. */
GMimeObject* FindBody(GMimeObject* object, const char* subtype, int depth = 0) {
  if (depth > kMaxDepth)
    return nullptr;
  if (GMIME_IS_MULTIPART(object)) {
    GMimeMultipart* multipart = GMIME_MULTIPART(object);
    const int count = g_mime_multipart_get_count(multipart);
    const bool alternative = IsType(object, "multipart", "alternative");
    for (int i = 0; i < count; ++i) {
      GMimeObject* child = g_mime_multipart_get_part(multipart, alternative ? count - 1 - i : i);
      if (GMimeObject* found = FindBody(child, subtype, depth + 1))
        return found;
    }
    return nullptr;
  }
  return IsBodyCandidate(object, subtype) ? object : nullptr;
}

bool Contains(GMimeObject* object, GMimeObject* part, int depth = 0) {
  if (object == part)
    return true;
  if (depth > kMaxDepth || !GMIME_IS_MULTIPART(object))
    return false;
  GMimeMultipart* multipart = GMIME_MULTIPART(object);
  for (int i = 0; i < g_mime_multipart_get_count(multipart); ++i)
    if (Contains(g_mime_multipart_get_part(multipart, i), part, depth + 1))
      return true;
  return false;
}

/* The part's decoded content (transfer encoding undone). */
std::string DecodedContent(GMimePart* part) {
  GMimeDataWrapper* wrapper = g_mime_part_get_content(part);
  if (wrapper == nullptr)
    return {};
  object_ref<GMimeStream> stream(g_mime_stream_mem_new());
  g_mime_data_wrapper_write_to_stream(wrapper, stream.object);
  GByteArray* bytes = g_mime_stream_mem_get_byte_array(GMIME_STREAM_MEM(stream.object));
  return std::string(reinterpret_cast<const char*>(bytes->data), bytes->len);
}

/* The enclosed message as it is written. */
std::string MessageText(GMimeMessage* message) {
  if (message == nullptr)
    return {};
  object_ref<GMimeStream> stream(g_mime_stream_mem_new());
  g_mime_object_write_to_stream(GMIME_OBJECT(message), nullptr, stream.object);
  GByteArray* bytes = g_mime_stream_mem_get_byte_array(GMIME_STREAM_MEM(stream.object));
  return std::string(reinterpret_cast<const char*>(bytes->data), bytes->len);
}

bool IsValidUtf8(const std::string& text) {
  return g_utf8_validate(text.data(), static_cast<gssize>(text.size()), nullptr);
}

/* The text converted from the part's charset to UTF-8; text without a
 * charset, or of one that cannot be converted, is taken as UTF-8 when it
 * is valid and as ISO-8859-1 otherwise. */
std::string ToUtf8(GMimePart* part, const std::string& text) {
  const char* charset =
      g_mime_object_get_content_type_parameter(GMIME_OBJECT(part), "charset");
  if (charset != nullptr && g_ascii_strcasecmp(g_mime_charset_canon_name(charset), "UTF-8") != 0) {
    if (GMimeFilter* filter = g_mime_filter_charset_new(charset, "UTF-8")) {
      object_ref<GMimeStream> memory(g_mime_stream_mem_new());
      object_ref<GMimeStream> filtered(g_mime_stream_filter_new(memory.object));
      g_mime_stream_filter_add(GMIME_STREAM_FILTER(filtered.object), filter);
      g_object_unref(filter);
      g_mime_stream_write(filtered.object, text.data(), text.size());
      g_mime_stream_flush(filtered.object);
      GByteArray* bytes = g_mime_stream_mem_get_byte_array(GMIME_STREAM_MEM(memory.object));
      return std::string(reinterpret_cast<const char*>(bytes->data), bytes->len);
    }
  }
  if (IsValidUtf8(text))
    return text;
  gsize written = 0;
  gchar* converted = g_convert(text.data(), static_cast<gssize>(text.size()), "UTF-8",
                               "ISO-8859-1", nullptr, &written, nullptr);
  std::string result = converted != nullptr ? std::string(converted, written) : std::string();
  g_free(converted);
  return result;
}

/* Plain text as HTML: escaped, each line ended by <br>. */
std::string PlainTextAsHtml(const std::string& text) {
  std::string html;
  html.reserve(text.size() + text.size() / 8);
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    const size_t next = end == std::string::npos ? text.size() : end + 1;
    if (end == std::string::npos)
      end = text.size();
    if (end > start && text[end - 1] == '\r')
      --end;
    for (size_t i = start; i < end; ++i) {
      switch (text[i]) {
      case '&': html += "&amp;"; break;
      case '<': html += "&lt;"; break;
      case '>': html += "&gt;"; break;
      case '"': html += "&quot;"; break;
      default: html += text[i];
      }
    }
    html += "<br>";
    start = next;
  }
  return html;
}

struct part_walk {
  GMimeObject* body = nullptr;
  mime_content* content = nullptr;
  int unnamed = 0;
};

void CollectParts(GMimeObject* object, part_walk* walk, int depth = 0) {
  if (depth > kMaxDepth)
    return;
  if (GMIME_IS_MULTIPART(object)) {
    GMimeMultipart* multipart = GMIME_MULTIPART(object);
    const int count = g_mime_multipart_get_count(multipart);
    if (IsType(object, "multipart", "alternative") && count > 0) {
      // Only the alternative that is read: the one holding the body, else
      // the last.
      GMimeObject* chosen = g_mime_multipart_get_part(multipart, count - 1);
      for (int i = 0; i < count; ++i) {
        GMimeObject* child = g_mime_multipart_get_part(multipart, i);
        if (walk->body != nullptr && Contains(child, walk->body))
          chosen = child;
      }
      CollectParts(chosen, walk, depth + 1);
      return;
    }
    for (int i = 0; i < count; ++i)
      CollectParts(g_mime_multipart_get_part(multipart, i), walk, depth + 1);
    return;
  }
  std::string data;
  const char* fileName = nullptr;
  if (GMIME_IS_MESSAGE_PART(object)) {
    // An enclosed message (a forwarded mail) is one file: the message
    // whole, its headers and all its parts.
    data = MessageText(g_mime_message_part_get_message(GMIME_MESSAGE_PART(object)));
    fileName = g_mime_object_get_content_disposition_parameter(object, "filename");
    if (fileName == nullptr)
      fileName = g_mime_object_get_content_type_parameter(object, "name");
  } else if (GMIME_IS_PART(object) && object != walk->body) {
    data = DecodedContent(GMIME_PART(object));
    fileName = g_mime_part_get_filename(GMIME_PART(object));
  } else {
    return;
  }
  std::string name = CleanAttachmentName(fileName != nullptr ? fileName : "", ++walk->unnamed);
  if (const char* id = g_mime_object_get_content_id(object); id != nullptr && id[0] != '\0')
    walk->content->inline_parts.push_back({id, std::move(name), std::move(data)});
  else
    walk->content->attachments.push_back({std::move(name), std::move(data)});
}

} // namespace

std::string CleanAttachmentName(std::string_view name, int number) {
  const size_t slash = name.find_last_of("/\\");
  if (slash != std::string_view::npos)
    name.remove_prefix(slash + 1);
  std::string cleaned;
  for (char c : name)
    if (static_cast<unsigned char>(c) >= 0x20 && c != 0x7F && c != ':')
      cleaned += c;
  if (cleaned.empty() || cleaned == "." || cleaned == "..")
    cleaned = "ATT" + std::to_string(number);
  return cleaned;
}

STATUS ReadMimeMessage(std::string_view message, mime_content* content) {
  InitialiseGMime();
  try {
    *content = {};
    object_ref<GMimeStream> stream(
        g_mime_stream_mem_new_with_buffer(message.data(), message.size()));
    object_ref<GMimeParser> parser(g_mime_parser_new_with_stream(stream.object));
    object_ref<GMimeMessage> parsed(g_mime_parser_construct_message(parser.object, nullptr));
    if (parsed.object == nullptr)
      return ERR_NOT_FOUND;
    GMimeObject* root = g_mime_message_get_mime_part(parsed.object);
    if (root == nullptr || g_mime_object_get_header(GMIME_OBJECT(parsed.object),
                                                    "MIME-Version") == nullptr)
      return ERR_NOT_FOUND;
    part_walk walk;
    walk.content = content;
    walk.body = FindBody(root, "html");
    const bool html = walk.body != nullptr;
    if (!html)
      walk.body = FindBody(root, "plain");
    if (walk.body != nullptr) {
      GMimePart* part = GMIME_PART(walk.body);
      std::string text = ToUtf8(part, DecodedContent(part));
      content->body = html ? std::move(text) : PlainTextAsHtml(text);
    }
    CollectParts(root, &walk);
    return NOERROR;
  } catch (const std::bad_alloc&) {
    *content = {};
    return ERR_MEMORY;
  }
}
