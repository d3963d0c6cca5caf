/*
 * Reading MIME messages for the conversion to rich text: which part is the
 * body and how it becomes UTF-8 HTML, which parts are inline parts, and the
 * attachment names and contents.
 */
#include "export/mime_read.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "host/status.h"

namespace {

using ::testing::ElementsAreArray;

struct part_text {
  std::string key; /* id or name */
  std::string data;
  bool operator==(const part_text&) const = default;
};

void PrintTo(const part_text& part, std::ostream* out) {
  *out << "{" << part.key << ", " << ::testing::PrintToString(part.data) << "}";
}

struct read_case {
  const char* label;
  std::string message;
  std::string body;
  std::vector<part_text> inline_parts;
  std::vector<part_text> attachments;
};

const std::string kGif("GIF89a\x01\x00\x01\x00\x80\x00\x00", 13);

std::vector<read_case> ReadCases() {
  return {
      {"plain text only, escaped, a <br> per line",
       "MIME-Version: 1.0\nContent-Type: text/plain; charset=us-ascii\n\n"
       "a < b & c > \"d\"\r\nsecond\n\nlast",
       "a &lt; b &amp; c &gt; &quot;d&quot;<br>second<br><br>last<br>",
       {},
       {}},
      {"alternative: the HTML, the plain twin dropped",
       "MIME-Version: 1.0\nContent-Type: multipart/alternative; boundary=\"b1\"\n\n"
       "--b1\nContent-Type: text/plain\n\nplain\n"
       "--b1\nContent-Type: text/html\n\n<p>first html</p>\n"
       "--b1\nContent-Type: text/html\n\n<p>last html</p>\n"
       "--b1--\n",
       "<p>last html</p>",
       {},
       {}},
      {"related with a cid GIF and an inline part the body does not show",
       "MIME-Version: 1.0\nContent-Type: multipart/related; boundary=r\n\n"
       "--r\nContent-Type: text/html; charset=utf-8\n\n<img src=\"cid:pic@x\">\n"
       "--r\nContent-Type: image/gif; name=pic.gif\nContent-ID: <pic@x>\n"
       "Content-Transfer-Encoding: base64\n\nR0lGODlhAQABAIAAAA==\n"
       "--r\nContent-Type: image/gif\nContent-ID: <spare>\n"
       "Content-Disposition: inline; filename=\"spare.gif\"\n"
       "Content-Transfer-Encoding: base64\n\nR0lGODlhAQABAIAAAA==\n"
       "--r--\n",
       "<img src=\"cid:pic@x\">",
       {{"pic@x", kGif}, {"spare", kGif}},
       {}},
      {"quoted-printable soft breaks and ISO-8859-1",
       "MIME-Version: 1.0\nContent-Type: text/html; charset=ISO-8859-1\n"
       "Content-Transfer-Encoding: quoted-printable\n\n<p>caf=E9 au =\nlait</p>",
       "<p>caf\xC3\xA9 au lait</p>",
       {},
       {}},
      {"iso-8859-2 named in lower case",
       "MIME-Version: 1.0\nContent-Type: text/html; charset=\"iso-8859-2\"\n"
       "Content-Transfer-Encoding: quoted-printable\n\n=A3=F3d=BC",
       "\xC5\x81\xC3\xB3\x64\xC5\xBA",
       {},
       {}},
      {"base64 UTF-8 plain text",
       "MIME-Version: 1.0\nContent-Type: text/plain; charset=UTF-8\n"
       "Content-Transfer-Encoding: base64\n\nR3LDvMOfZSwgxYHDs2TFug==\n",
       "Gr\xC3\xBC\xC3\x9F" "e, \xC5\x81\xC3\xB3\x64\xC5\xBA<br>",
       {},
       {}},
      {"mixed: RFC 2231 and RFC 2047 names, a path cut to its last part",
       "MIME-Version: 1.0\r\nContent-Type: multipart/mixed; boundary=\"=_m\"\r\n\r\n"
       "preamble\r\n"
       "--=_m\r\nContent-Type: text/html\r\n\r\n<b>hi</b>\r\n"
       "--=_m\r\nContent-Type: application/pdf\r\n"
       "Content-Disposition: attachment; filename*=UTF-8''r%C3%A9sum%C3%A9.pdf\r\n"
       "Content-Transfer-Encoding: base64\r\n\r\nJVBERi0xLjQgdGlueQ==\r\n"
       "--=_m\r\nContent-Type: text/plain; name=\"=?ISO-8859-1?Q?caf=E9.txt?=\"\r\n"
       "Content-Disposition: attachment\r\n\r\nnotes\r\n"
       "--=_m\r\nContent-Type: application/octet-stream\r\n"
       "Content-Disposition: attachment; filename=\"../../x\"\r\n\r\nescape\r\n"
       "--=_m--\r\n",
       "<b>hi</b>",
       {},
       {{"r\xC3\xA9sum\xC3\xA9.pdf", "%PDF-1.4 tiny"},
        {"caf\xC3\xA9.txt", "notes"},
        {"x", "escape"}}},
      {"a forwarded message is one file, headers and every part kept",
       "MIME-Version: 1.0\nContent-Type: multipart/mixed; boundary=b\n\n"
       "--b\nContent-Type: text/plain\n\nSee below.\n"
       "--b\nContent-Type: message/rfc822\n"
       "Content-Disposition: attachment; filename=\"=?utf-8?Q?Re=3A_caf=C3=A9?=.eml\"\n\n"
       "From: a@example.com\nSubject: Re: cafe\nMIME-Version: 1.0\n"
       "Content-Type: multipart/alternative; boundary=in\n\n"
       "--in\nContent-Type: text/plain\n\ninner plain\n"
       "--in\nContent-Type: text/html\n\n<p>inner html</p>\n--in--\n"
       "--b\nContent-Type: message/rfc822\n\nSubject: unnamed\n\nhi\n"
       "--b--\n",
       "See below.<br>",
       {},
       {{"Re caf\xC3\xA9.eml",
         "From: a@example.com\nSubject: Re: cafe\nMIME-Version: 1.0\n"
         "Content-Type: multipart/alternative; boundary=in\n\n"
         "--in\nContent-Type: text/plain\n\ninner plain\n"
         "--in\nContent-Type: text/html\n\n<p>inner html</p>\n--in--\n"},
        {"ATT2", "Subject: unnamed\n\nhi"}}},
      {"an HTML attachment is no body; no text gives an empty body",
       "MIME-Version: 1.0\nContent-Type: multipart/mixed; boundary=q\n\n"
       "--q\nContent-Type: text/html\nContent-Disposition: attachment; filename=page.html\n\n"
       "<p>kept as a file</p>\n"
       "--q\nContent-Type: application/octet-stream\n\nraw\n"
       "--q--\n",
       "",
       {},
       {{"page.html", "<p>kept as a file</p>"}, {"ATT2", "raw"}}},
  };
}

TEST(MimeReadTest, BodiesPartsAndNames) {
  for (const read_case& test : ReadCases()) {
    SCOPED_TRACE(test.label);
    mime_content content;
    ASSERT_EQ(ReadMimeMessage(test.message, &content), NOERROR);
    EXPECT_EQ(content.body, test.body);
    std::vector<part_text> inlineParts;
    for (const mime_inline_part& part : content.inline_parts)
      inlineParts.push_back({part.id, part.data});
    EXPECT_THAT(inlineParts, ElementsAreArray(test.inline_parts));
    std::vector<part_text> attachments;
    for (const mime_attachment& attachment : content.attachments)
      attachments.push_back({attachment.name, attachment.data});
    EXPECT_THAT(attachments, ElementsAreArray(test.attachments));
  }
}

TEST(MimeReadTest, UnreadableMessages) {
  for (const char* message :
       {"", "Not rich text!", "Subject: no MIME version\n\nhello\n"}) {
    SCOPED_TRACE(message);
    mime_content content;
    EXPECT_EQ(ReadMimeMessage(message, &content), ERR_NOT_FOUND);
  }
}

TEST(MimeReadTest, AttachmentNamesAreCleaned) {
  const struct {
    const char* given;
    const char* cleaned;
  } cases[] = {
      {"../../x", "x"},        {"C:\\dir\\y.doc", "y.doc"}, {"a\tb\x01.txt", "ab.txt"},
      {"..", "ATT7"},          {"dir/", "ATT7"},            {"", "ATT7"},
      {"c:name", "cname"},
  };
  for (const auto& test : cases)
    EXPECT_EQ(CleanAttachmentName(test.given, 7), test.cleaned) << test.given;
}

} // namespace
