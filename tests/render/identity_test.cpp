// Element identity attributes (CalculateXMLIDName over CDIDNAME records,
// with and without AutoQuoteHTMLParams and a caller's extra text) and the
// note-link texts of DumpNotelink, each table-driven over exact outputs.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "render/identity.h"
#include "render_fixture.h"
#include "store/tracked_memory_testing.h"

namespace {

using cdbuild::Bytes;
using cdbuild::IdNameFields;

class IdentityTest : public render_testing::RenderContextTest {
protected:
  void SetUp() override {
    RenderContextTest::SetUp();
    UseOutput();
  }

  std::string Attributes(const Bytes &record, const char *extra = nullptr) {
    context_->output_length = 0;
    context_->write_ptr = context_->output_buffer;
    context_->output_buffer[0] = '\0';
    EXPECT_EQ(CalculateXMLIDName(reinterpret_cast<const char *>(record.data()),
                                 static_cast<DWORD>(record.size()), context_, extra),
              NOERROR);
    return Held();
  }
};

TEST_F(IdentityTest, AttributesAndExtraTextAsTheyAreWritten) {
  struct Case {
    const char *what;
    IdNameFields fields;
    bool autoQuote;
    const char *extra; /* the caller's replacement, or null */
    const char *expected;
  };
  const Case cases[] = {
      {"id alone", {.id = "main"}, false, nullptr, " id=\"main\""},
      {"order id, name, class, style, title; attribute escaping",
       {.id = "a", .class_name = "c", .style = "s", .title = "x\"y<z", .name = "n"},
       false,
       nullptr,
       " id=\"a\" name=\"n\" class=\"c\" style=\"s\" title=\"x&quot;y&lt;z\""},
      {"unquoted values quoted", {.extra = "onclick=go() width=5"}, true, nullptr,
       " onclick=\"go()\" width=\"5\""},
      {"a value quoted in the source is copied to its closing quote",
       {.extra = "href=\"a?b=c\""}, true, nullptr, " href=\"a?b=c\""},
      {"an = inside a value this copy quoted is part of it", {.extra = "href=a?b=c x=1"}, true,
       nullptr, " href=\"a?b=c\" x=\"1\""},
      {"markup characters everywhere", {.extra = "a=<b> t='<'"}, true, nullptr,
       " a=\"&lt;b&gt;\" t='&lt;'"},
      {"a quote inside a quoted value", {.extra = "a=x'y\"z"}, true, nullptr,
       " a=\"x&quot;y&quot;z\""},
      {"an open source quote is closed", {.extra = "title=\"abc"}, true, nullptr,
       " title=\"abc\""},
      {"without quoting: markup made safe, text kept", {.extra = "border=1 onclick=\"x<y\""},
       false, nullptr, " border=1 onclick=\"x&lt;y\""},
      {"without quoting: an open quote is closed", {.extra = "title='abc"}, false, nullptr,
       " title='abc'"},
      {"the caller's text replaces the record's, control keys removed",
       {.extra = "ignored=1"}, false, "Caption=Sales src=x.gif border=1", " border=1"},
      {"a text of control keys alone writes nothing", {.extra = "Caption=Totals"}, false,
       nullptr, ""},
      {"control keys go when quoting too",
       {.extra = "TarnoTH=1 Caption=Totals width=5 TarnoDataTable=x"}, true, nullptr,
       " width=\"5\""},
      {"a text starting with a blank gets no second one", {.extra = "x"}, false, " border=1",
       " border=1"},
      {"no extra text in the record: the caller's is not written", {.id = "i"}, false,
       "border=1", " id=\"i\""},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    context_->flags3 = c.autoQuote ? DWORD{html_flags3::AutoQuoteHTMLParams} : DWORD{0};
    EXPECT_EQ(Attributes(cdbuild::IdName(c.fields), c.extra), c.expected);
  }
}

TEST_F(IdentityTest, TextLengthsStopAtTheRecordsEnd) {
  Bytes record = cdbuild::IdName({.id = "abc", .title = "t"});
  // The title claims 200 bytes: it reaches the record's end and no further.
  cdbuild::PutWord(record, offsetof(CDIDNAME, TitleLength), 200);
  EXPECT_EQ(Attributes(record), " id=\"abc\" title=\"t\"");
  record.resize(sizeof(CDIDNAME) - 1); // too short for the fixed part
  EXPECT_EQ(Attributes(record), "");
}

TEST_F(IdentityTest, ExtraTextWithoutMemoryIsAStatusAfterTheAttributes) {
  const Bytes record = cdbuild::IdName({.id = "a", .extra = "border=1"});
  VelkoTestFailTrackedAllocation(1);
  const STATUS status = CalculateXMLIDName(reinterpret_cast<const char *>(record.data()),
                                           static_cast<DWORD>(record.size()), context_, nullptr);
  VelkoTestFailTrackedAllocation(0);
  EXPECT_EQ(status, VELKO_ERR_MEMORY);
  EXPECT_EQ(Held(), " id=\"a\"");
}

/* ---- note links ---- */

NOTELINK MakeLink(DWORD r0, DWORD r1, std::array<DWORD, 4> view, std::array<DWORD, 4> note) {
  NOTELINK link = {};
  link.File.Innards[0] = r0;
  link.File.Innards[1] = r1;
  link.View.File[0] = view[0];
  link.View.File[1] = view[1];
  link.View.Note.Innards[0] = view[2];
  link.View.Note.Innards[1] = view[3];
  link.Note.File[0] = note[0];
  link.Note.File[1] = note[1];
  link.Note.Note.Innards[0] = note[2];
  link.Note.Note.Innards[1] = note[3];
  return link;
}

TEST_F(IdentityTest, NoteLinkTextsByAction) {
  const std::array<DWORD, 4> view = {0xA01, 0xA02, 0xA03, 0xA04};
  const std::array<DWORD, 4> note = {0xB01, 0xB02, 0xB03, 0xB04};
  const std::array<DWORD, 4> none = {};
  const std::string v = "00000A0200000A0100000A0400000A03";
  const std::string n = "00000B0200000B0100000B0400000B03";
  struct Case {
    const char *what;
    NOTELINK link;
    WORD action;
    BOOL omit;
    const char *base;    /* BasePathname= */
    DWORD here[2];       /* the replica ID of the database rendered */
    const char *command; /* OpenDocumentString= */
    std::string expected;
  };
  const Case cases[] = {
      {"replica ID, second word first", MakeLink(1, 0xAB, view, note), kNotelinkReplicaID, FALSE,
       "", {}, nullptr, "000000AB00000001"},
      {"view UNID", MakeLink(1, 0xAB, view, note), kNotelinkViewID, FALSE, "", {}, nullptr, v},
      {"note UNID", MakeLink(1, 0xAB, view, note), kNotelinkNoteID, FALSE, "", {}, nullptr, n},
      {"another action writes nothing", MakeLink(1, 0xAB, view, note), 2325, FALSE, "", {},
       nullptr, ""},
      {"document", MakeLink(1, 0xAB, view, note), kNotelinkURL, FALSE, "", {}, nullptr,
       "__000000AB00000001.NSF/" + v + "/" + n + "?OpenDocument"},
      {"document without its command", MakeLink(1, 0xAB, view, note), kNotelinkURLAlso, TRUE, "",
       {}, nullptr, "__000000AB00000001.NSF/" + v + "/" + n},
      {"OpenDocumentString= replaces the command", MakeLink(1, 0xAB, view, note), kNotelinkURL,
       FALSE, "", {}, "?Read", "__000000AB00000001.NSF/" + v + "/" + n + "?Read"},
      {"database", MakeLink(1, 0xAB, none, none), kNotelinkURL, FALSE, "", {}, nullptr,
       "__000000AB00000001.NSF?OpenDatabase"},
      {"database without its command", MakeLink(1, 0xAB, none, none), kNotelinkURL, TRUE, "", {},
       nullptr, "__000000AB00000001.NSF"},
      {"a view whose words have low 16 bits 0 is a view",
       MakeLink(1, 0xAB, {0x10000, 0, 0, 0x20000}, none), kNotelinkURL, FALSE, "", {}, nullptr,
       "__000000AB00000001.NSF/00000000000100000002000000000000?OpenView"},
      {"a note without a view: the view is 0", MakeLink(1, 0xAB, none, note), kNotelinkURL,
       FALSE, "", {}, nullptr, "__000000AB00000001.NSF/0/" + n + "?OpenDocument"},
      {"a link into the database rendered takes the base path",
       MakeLink(1, 0xAB, view, none), kNotelinkURL, FALSE, "apps/db.nsf", {1, 0xAB}, nullptr,
       "/apps/db.nsf/" + v + "?OpenView"},
      {"another database keeps its replica ID", MakeLink(2, 0xAB, none, none), kNotelinkURL,
       FALSE, "apps/db.nsf", {1, 0xAB}, nullptr, "__000000AB00000002.NSF?OpenDatabase"},
      {"no base path: the replica ID even when it is the database's",
       MakeLink(0, 0, none, none), kNotelinkURL, FALSE, "", {0, 0}, nullptr,
       "__0000000000000000.NSF?OpenDatabase"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    std::strcpy(context_->base_pathname, c.base);
    context_->replica_info.ID.Innards[0] = c.here[0];
    context_->replica_info.ID.Innards[1] = c.here[1];
    context_->open_document_string = const_cast<char *>(c.command);
    render_text out(session_.get());
    EXPECT_EQ(DumpNotelink(c.link, &out, c.action, kGenerationHTML, context_, c.omit), NOERROR);
    EXPECT_EQ(std::string(out.data != nullptr ? out.data : "", out.length), c.expected);
    context_->open_document_string = nullptr; // not the context's to free
  }
}

} // namespace
