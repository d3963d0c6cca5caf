/*
 * MIME items: a message stored as one item per entity (boundary line,
 * headers, content), long content going on in later items, the items
 * joining back into the message, and values that are no MIME part.
 */
#include "host/mime_items.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "host/host_testing.h"
#include "host/nsfdata.h"
#include "host/nsfnote.h"
#include "host/status.h"
#include "tests/support/note_fixture.h"

namespace {

struct stored_part {
  WORD flags;
  std::string boundary, headers, content;
  bool operator==(const stored_part&) const = default;
};

void PrintTo(const stored_part& part, std::ostream* out) {
  *out << "{" << part.flags << ", " << ::testing::PrintToString(part.boundary) << ", "
       << ::testing::PrintToString(part.headers) << ", " << ::testing::PrintToString(part.content)
       << "}";
}

class MimeItemsTest : public ::testing::Test {
protected:
  void SetUp() override {
    HostTestReset();
    ASSERT_EQ(note_testing::CreateDatabase("mem:mimeitems", &db_), NOERROR);
    ASSERT_EQ(NSFNoteCreate(db_, &note_), NOERROR);
  }
  void TearDown() override {
    NSFNoteClose(note_);
    NSFDbClose(db_);
    HostTestReset();
  }

  std::vector<stored_part> Parts(const char* name = "Body") {
    std::vector<stored_part> parts;
    for (const note_testing::Bytes& value : note_testing::ItemValues(note_, name)) {
      MIME_PART_SPANS spans{};
      EXPECT_EQ(MIMEPartSpans(value.data(), static_cast<DWORD>(value.size()), &spans), NOERROR);
      parts.push_back({spans.Flags, std::string(spans.Boundary, spans.BoundaryLength),
                       std::string(spans.Headers, spans.HeadersLength),
                       std::string(spans.Content, spans.ContentLength)});
    }
    return parts;
  }

  STATUS Store(const std::string& message, const char* name = "Body") {
    return MIMEStoreMessage(note_, name, message.data(), static_cast<DWORD>(message.size()));
  }

  DBHANDLE db_ = NULLHANDLE;
  NOTEHANDLE note_ = NULLHANDLE;
};

TEST_F(MimeItemsTest, OneItemPerEntityInMessageOrder) {
  const std::string top = "MIME-Version: 1.0\r\nContent-Type: multipart/mixed;\r\n"
                          " boundary=\"outer\"\r\n\r\n";
  const std::string nested = "Content-Type: multipart/alternative; BOUNDARY=in\r\n\r\n";
  const struct {
    const char* label;
    std::string message;
    std::vector<stored_part> parts;
  } cases[] = {
      {"a single entity", "MIME-Version: 1.0\nContent-Type: text/plain\n\nline\n--x\n",
       {{0, "", "MIME-Version: 1.0\nContent-Type: text/plain\n\n", "line\n--x\n"}}},
      {"a longer boundary that starts with a shorter one",
       "Content-Type: multipart/mixed; boundary=b\n\n--b\nContent-Type: multipart/mixed; "
       "boundary=b2\n\n--b2 \n\nx\n--bx\n--b2--\n--b\n\ny\n",
       {{0, "", "Content-Type: multipart/mixed; boundary=b\n\n", ""},
        {0, "--b\n", "Content-Type: multipart/mixed; boundary=b2\n\n", ""},
        {0, "--b2 \n", "\n", "x\n--bx\n--b2--\n"},
        {0, "--b\n", "\n", "y\n"}}},
      {"headers without a blank line", "Subject: only", {{0, "", "Subject: only", ""}}},
      {"nested multiparts; closing lines stay with the content before them",
       top + "preamble\r\n--outer\r\n" + nested + "--in\r\nContent-Type: text/plain\r\n\r\n" +
           "p\r\n--in\r\n\r\nh\r\n--in--\r\n--outer\r\nContent-ID: <a>\r\n\r\nGIF\r\n" +
           "--outer--\r\nepilogue",
       {{0, "", top, "preamble\r\n"},
        {0, "--outer\r\n", nested, ""},
        {0, "--in\r\n", "Content-Type: text/plain\r\n\r\n", "p\r\n"},
        {0, "--in\r\n", "\r\n", "h\r\n--in--\r\n"},
        {0, "--outer\r\n", "Content-ID: <a>\r\n\r\n", "GIF\r\n--outer--\r\nepilogue"}}},
  };
  for (const auto& test : cases) {
    SCOPED_TRACE(test.label);
    ASSERT_EQ(Store(test.message), NOERROR);
    const std::vector<stored_part> parts = Parts();
    EXPECT_EQ(parts, test.parts);
    std::string joined;
    for (const stored_part& part : parts)
      joined += part.boundary + part.headers + part.content;
    EXPECT_EQ(joined, test.message);
  }
}

TEST_F(MimeItemsTest, LongContentGoesOnInLaterItems) {
  const std::string headers = "Content-Type: text/plain\n\n";
  std::string content(2 * MIME_PART_CONTENT_LIMIT + 7, 'a');
  content.back() = 'z';
  ASSERT_EQ(Store(headers + content), NOERROR);
  const std::vector<stored_part> expected = {
      {0, "", headers, content.substr(0, MIME_PART_CONTENT_LIMIT)},
      {MIME_PART_CONTINUED, "", "", content.substr(MIME_PART_CONTENT_LIMIT,
                                                   MIME_PART_CONTENT_LIMIT)},
      {MIME_PART_CONTINUED, "", "", content.substr(2 * MIME_PART_CONTENT_LIMIT)}};
  EXPECT_EQ(Parts(), expected);
}

TEST_F(MimeItemsTest, StoringReplacesTheItemsOfTheNameOnly) {
  ASSERT_EQ(note_testing::AppendRecords(note_, "Body", {1, 2}), NOERROR);
  ASSERT_EQ(NSFItemSetText(note_, "Other", "kept", 4), NOERROR);
  ASSERT_EQ(Store("A: b\n\nfirst"), NOERROR);
  ASSERT_EQ(Store("A: b\n\nsecond"), NOERROR);
  EXPECT_EQ(Parts(), (std::vector<stored_part>{{0, "", "A: b\n\n", "second"}}));
  char text[8] = {};
  EXPECT_EQ(NSFItemGetText(note_, "Other", text, sizeof text), 4);
}

TEST_F(MimeItemsTest, AFailedStoreLeavesNoItemsOfTheName) {
  HostTestSetItemValueLimit(200);
  const std::string message = "A: b\n\nsmall\n";
  EXPECT_EQ(Store(message + std::string(300, 'x')), ERR_HOST_VALUE_TOO_LARGE);
  EXPECT_TRUE(note_testing::ItemValues(note_, "Body").empty());
  EXPECT_EQ(MIMEStoreMessage(note_, "", "x", 1), ERR_HOST_BAD_ARGUMENT);
}

TEST_F(MimeItemsTest, ValuesThatAreNoMimePart) {
  // type 25, version 2, flags, boundary 1, headers 1, content 1, then "bhc"
  const std::string good("\x19\x00\x02\x00\x00\x00\x01\x00\x01\x00\x01\x00\x00\x00" "bhc", 17);
  MIME_PART_SPANS spans{};
  ASSERT_EQ(MIMEPartSpans(good.data(), static_cast<DWORD>(good.size()), &spans), NOERROR);
  EXPECT_EQ(std::string(spans.Content, spans.ContentLength), "c");
  const struct {
    const char* label;
    size_t at;
    char byte;
  } damage[] = {{"type word", 0, 0x01},      {"version", 2, 0x03},       {"unknown flag", 4, 0x02},
                {"lengths too long", 10, 2}, {"lengths too short", 10, 0}};
  for (const auto& test : damage) {
    std::string value = good;
    value[test.at] = test.byte;
    EXPECT_EQ(MIMEPartSpans(value.data(), static_cast<DWORD>(value.size()), &spans),
              ERR_HOST_BAD_RECORD)
        << test.label;
  }
  EXPECT_EQ(MIMEPartSpans(good.data(), 13, &spans), ERR_HOST_BAD_RECORD);
}

} // namespace
