#!/usr/bin/env python3
"""Reads a message that SaveAsMime wrote with Python's email package and
checks it against the HTML that the item renders for MIME.

Usage: check_mime_message.py MESSAGE.eml EXPECTED.html PART_COUNT

EXPECTED.html is the renderer's quoted-printable output. Checks: the
message is multipart/related of PART_COUNT leaf parts; the first is
text/html, quoted-printable, with a charset, holding EXPECTED.html as it
stands, so that it decodes as EXPECTED.html decodes; every other part carries a Content-ID and a
base64-encoded image; each id the HTML names after "cid:" is the
Content-ID of exactly one part, and every part's id is named. Prints what
differs and exits 1 on the first failure; exits 0 when all hold.
"""
import email
import email.policy
import quopri
import re
import sys


def fail(message):
    print("check_mime_message: " + message)
    sys.exit(1)


def main():
    if len(sys.argv) != 4:
        fail("usage: check_mime_message.py MESSAGE.eml EXPECTED.html PART_COUNT")
    with open(sys.argv[1], "rb") as f:
        message = email.message_from_binary_file(f, policy=email.policy.compat32)
    with open(sys.argv[2], "rb") as f:
        expected = f.read()
    count = int(sys.argv[3])

    if message.get("MIME-Version", "").strip() != "1.0":
        fail("MIME-Version is %r" % message.get("MIME-Version"))
    if message.get_content_type() != "multipart/related":
        fail("the message is %s" % message.get_content_type())
    if message.get_param("type") != "text/html":
        fail("the related type is %r" % message.get_param("type"))
    parts = [part for part in message.walk() if not part.is_multipart()]
    if len(parts) != count:
        fail("%d parts, expected %d" % (len(parts), count))

    html = parts[0]
    if html.get_content_type() != "text/html":
        fail("the first part is %s" % html.get_content_type())
    if html.get("Content-Transfer-Encoding", "").lower() != "quoted-printable":
        fail("the HTML is %r" % html.get("Content-Transfer-Encoding"))
    if not html.get_content_charset():
        fail("the HTML has no charset")
    # The parser gives the lines of the message without their CR.
    expected = expected.replace(b"\r\n", b"\n")
    raw = html.get_payload(decode=False).encode("ascii", "surrogateescape")
    if raw != expected:
        fail("the HTML part differs:\n%r\n%r" % (raw[:200], expected[:200]))
    decoded = html.get_payload(decode=True)
    if decoded != quopri.decodestring(expected):
        fail("the decoded HTML differs: %r" % decoded[:200])
    if b"<table" not in decoded:
        fail("the decoded HTML holds no table: %r" % decoded[:200])

    ids = []
    for part in parts[1:]:
        content_id = part.get("Content-ID", "").strip()
        if not (content_id.startswith("<") and content_id.endswith(">")):
            fail("a part has the Content-ID %r" % content_id)
        if part.get_content_maintype() != "image":
            fail("part %s is %s" % (content_id, part.get_content_type()))
        if part.get("Content-Transfer-Encoding", "").lower() != "base64":
            fail("part %s is not base64" % content_id)
        data = part.get_payload(decode=True)
        if not data.startswith(b"GIF8") and not data.startswith(b"\xff\xd8"):
            fail("part %s holds no image" % content_id)
        ids.append(content_id[1:-1])

    named = set(re.findall(rb"cid:([^\"' >)\r\n]+)", decoded))
    for name in named:
        holders = ids.count(name.decode("ascii"))
        if holders != 1:
            fail("cid:%s names %d parts" % (name.decode("ascii"), holders))
    for content_id in ids:
        if content_id.encode("ascii") not in named:
            fail("the part %s is not named by the HTML" % content_id)
    return 0


if __name__ == "__main__":
    sys.exit(main())
