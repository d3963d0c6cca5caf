/*
 * Reading a MIME message for the conversion of MIME items to rich text:
 * the body as UTF-8 HTML, the parts that the body names by Content-ID, and
 * the attachments. The message is parsed by GMime.
 */
#ifndef VELKO_EXPORT_MIME_READ_H
#define VELKO_EXPORT_MIME_READ_H

#include <string>
#include <string_view>
#include <vector>

#include "velko/host_types.h"

struct mime_inline_part {
  std::string id;   /* the Content-ID without "<>" */
  std::string name; /* the attachment name, when it goes in as one */
  std::string data; /* decoded */
};

struct mime_attachment {
  std::string name; /* cleaned: no directory, never empty */
  std::string data; /* decoded */
};

struct mime_content {
  std::string body; /* UTF-8 HTML; empty when the message has no text */
  std::vector<mime_inline_part> inline_parts;
  std::vector<mime_attachment> attachments;
};

/* Reads the message. 0; 1028 when it cannot be read as MIME; 263 when
 * memory runs out. */
STATUS ReadMimeMessage(std::string_view message, mime_content* content);

/* The attachment name a MIME file name gives: its last path part without
 * control characters; a default name when nothing is left. */
std::string CleanAttachmentName(std::string_view name, int number);

#endif
