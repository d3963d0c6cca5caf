// Strict parses of rendered output with libxml2, shared by the golden
// corpus and the render fuzz target: HTML through libxml2's HTML parser,
// XHTML through its XML parser with the HTML 4.01 named references made
// numeric first.
#ifndef VELKO_TESTS_SUPPORT_XML_CHECK_H
#define VELKO_TESTS_SUPPORT_XML_CHECK_H

#include <libxml/HTMLparser.h>
#include <libxml/parser.h>
#include <libxml/xmlerror.h>

#include <cctype>
#include <functional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

namespace xml_check {

/* Named references other than the five XML ones become numeric references
 * of their HTML 4.01 code points; names HTML does not know stay as they are
 * (so the XML parser reports them). */
inline std::string NumericEntities(std::string_view text) {
  static const std::set<std::string, std::less<>> kXmlNames = {"amp", "lt", "gt", "quot", "apos"};
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '&') {
      out += text[i];
      continue;
    }
    size_t end = i + 1;
    while (end < text.size() && std::isalnum(static_cast<unsigned char>(text[end])))
      ++end;
    if (end == i + 1 || end >= text.size() || text[end] != ';' ||
        !std::isalpha(static_cast<unsigned char>(text[i + 1]))) {
      out += text[i];
      continue;
    }
    const std::string name(text.substr(i + 1, end - i - 1));
    const htmlEntityDesc *entity =
        kXmlNames.count(name) != 0
            ? nullptr
            : htmlEntityLookup(reinterpret_cast<const xmlChar *>(name.c_str()));
    if (entity == nullptr) {
      out += text[i];
      continue;
    }
    out += "&#" + std::to_string(entity->value) + ";";
    i = end;
  }
  return out;
}

inline void CollectError(void *sink, const xmlError *error) {
  if (error == nullptr || error->level < XML_ERR_ERROR)
    return;
  auto *messages = static_cast<std::vector<std::string> *>(sink);
  std::string message = error->message != nullptr ? error->message : "(no message)";
  while (!message.empty() && message.back() == '\n')
    message.pop_back();
  messages->push_back("line " + std::to_string(error->line) + ": " + message);
}

/* The parser's errors for the text: libxml2's HTML parser for HTML, its XML
 * parser for XHTML. Empty when the text parses cleanly. */
inline std::vector<std::string> ParseErrors(const std::string &text, bool xhtml) {
  std::vector<std::string> messages;
  // The handler's error argument is const only in newer libxml2 versions.
  xmlSetStructuredErrorFunc(&messages, [](void *sink, auto error) { CollectError(sink, error); });
  xmlDocPtr document = nullptr;
  if (xhtml) {
    document = xmlReadMemory(text.data(), static_cast<int>(text.size()), "golden.xhtml", "UTF-8",
                             XML_PARSE_NONET);
  } else {
    document = htmlReadMemory(text.data(), static_cast<int>(text.size()), "golden.html", "UTF-8",
                              HTML_PARSE_NONET);
  }
  xmlSetStructuredErrorFunc(nullptr, nullptr);
  if (document == nullptr && messages.empty())
    messages.emplace_back("no document");
  xmlFreeDoc(document);
  return messages;
}

} // namespace xml_check

#endif
