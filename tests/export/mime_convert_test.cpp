/*
 * Converting a note's MIME items to rich text: items that cannot be read
 * stay byte for byte, a failed conversion puts the items back and leaves no
 * attachment or temporary file, host allocation and storage failures leave
 * the note converted or as it was, and (once the HTML import answers) the
 * converted item holds the body and the attachments.
 */
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "export/mime_read.h"
#include "host/host_testing.h"
#include "host/mime_items.h"
#include "host/nsfdata.h"
#include "host/nsfnote.h"
#include "host/status.h"
#include "store/services.h"
#include "store/session.h"
#include "tests/support/note_fixture.h"
#include "tests/support/test_fixture.h"

namespace {

using engine_test::Bytes;
using ::testing::ElementsAre;
using ::testing::HasSubstr;

const std::string kMessage =
    "MIME-Version: 1.0\nContent-Type: multipart/mixed; boundary=m\n\n"
    "--m\nContent-Type: multipart/alternative; boundary=a\n\n"
    "--a\nContent-Type: text/plain\n\nplain twin\n"
    "--a\nContent-Type: multipart/related; boundary=r\n\n"
    "--r\nContent-Type: text/html; charset=iso-8859-1\nContent-Transfer-Encoding: "
    "quoted-printable\n\n<p>Caf=E9 body</p><img src=3D\"cid:pic@x\">\n"
    "--r\nContent-Type: image/gif\nContent-ID: <pic@x>\nContent-Transfer-Encoding: base64\n\n"
    "R0lGODlhAQABAIAAAA==\n"
    "--r\nContent-Type: image/gif\nContent-ID: <spare>\n"
    "Content-Disposition: inline; filename=spare.gif\nContent-Transfer-Encoding: base64\n\n"
    "R0lGODlhAQABAIAAAA==\n"
    "--r--\n--a--\n"
    "--m\nContent-Type: application/octet-stream\n"
    "Content-Disposition: attachment; filename=\"../../x\"\n\nescape\n"
    "--m\nContent-Type: text/plain; name=\"=?utf-8?Q?r=C3=A9sum=C3=A9.txt?=\"\n"
    "Content-Disposition: attachment\n\nnotes\n"
    "--m--\n";

const std::string kAttachmentsOnly =
    "MIME-Version: 1.0\nContent-Type: multipart/mixed; boundary=m\n\n"
    "--m\nContent-Disposition: attachment; filename=\"../../x\"\n\nescape\n"
    "--m\nContent-Type: image/gif\nContent-ID: <unused>\n"
    "Content-Disposition: inline; filename*=utf-8''%C3%A9.gif\n"
    "Content-Transfer-Encoding: base64\n\nR0lGODlhAQABAIAAAA==\n"
    "--m--\n";

class MimeConvertTest : public engine_test::EngineTest {
protected:
  void SetUp() override {
    EngineTest::SetUp();
    temp_ = std::filesystem::temp_directory_path() /
            ("velko-mime-" + std::to_string(::getpid()) + "/");
    std::filesystem::remove_all(temp_);
    std::filesystem::create_directories(temp_);
    SetTempDirectory();
  }
  void TearDown() override {
    EngineTest::TearDown();
    std::filesystem::remove_all(temp_);
  }

  void SetTempDirectory() {
    const std::string directory = temp_.string();
    std::snprintf(session_->internal->temp_directory, sizeof session_->internal->temp_directory,
                  "%s", directory.c_str());
    session_->internal->temp_directory_len = static_cast<WORD>(directory.size());
  }

  void StoreMessage(const std::string& message) {
    ASSERT_EQ(MIMEStoreMessage(note_, "Body", message.data(), static_cast<DWORD>(message.size())),
              NOERROR);
  }

  STATUS Convert() {
    VelkoRTItem item(session_);
    return ConvertFromMIMEBackend(&item, note_, "Body", "", 0, "", 0);
  }

  WORD BodyType() {
    WORD type = 0;
    NSFItemInfo(note_, "Body", 4, nullptr, &type, nullptr, nullptr);
    return type;
  }

  bool TempDirectoryEmpty() { return std::filesystem::is_empty(temp_); }

  std::filesystem::path temp_;
};

TEST_F(MimeConvertTest, ItemsThatCannotBeReadStayAsTheyAre) {
  const struct {
    const char* label;
    std::function<void()> store;
    STATUS status;
  } cases[] = {
      {"no MIME items", [] {}, ERR_ITEM_NOT_FOUND},
      {"a message that is no MIME", [&] { StoreMessage("Not rich text!"); }, ERR_NOT_FOUND},
      {"an item that is no MIME part",
       [&] {
         StoreMessage(kMessage);
         const char broken[] = {2, 0, 0, 0, 9, 0, 9, 0, 9, 0, 0, 0, 'x'};
         ASSERT_EQ(NSFItemAppend(note_, 0, "Body", 4, TYPE_MIME_PART, broken, sizeof broken),
                   NOERROR);
       },
       ERR_NOT_FOUND},
  };
  for (const auto& test : cases) {
    SCOPED_TRACE(test.label);
    Restart();
    SetTempDirectory();
    test.store();
    const std::vector<Bytes> before = Values();
    EXPECT_EQ(Convert(), test.status);
    EXPECT_EQ(Values(), before);
    EXPECT_EQ(note_testing::AttachedFileNames(note_), "");
  }
}

TEST_F(MimeConvertTest, ConnectingToAnUnreadableMessageSaysNotRichText) {
  StoreMessage("Not rich text!");
  const std::vector<Bytes> before = Values();
  VelkoRTItem item(session_);
  HostTestCaptureLog(true);
  static_cast<void>(item.ConnectBackend(note_, "Body", 0));
  EXPECT_EQ(item.IsConnected, 0);
  ASSERT_FALSE(HostTestMessages().empty());
  EXPECT_EQ(HostTestMessages().back().text,
            "Cannot connect to item of type 25.  Not rich text!");
  EXPECT_EQ(Values(), before);
}

TEST_F(MimeConvertTest, ConnectingConvertsTheMessage) {
  StoreMessage(kMessage);
  VelkoRTItem item(session_);
  ASSERT_EQ(item.ConnectBackend(note_, "Body", 0), NOERROR);
  EXPECT_EQ(BodyType(), TYPE_COMPOSITE);
  std::string records;
  for (const Bytes& value : Values())
    records.append(value.begin(), value.end());
  EXPECT_THAT(records, HasSubstr("body"));
  // The GIF the body shows is in the body; the unused inline GIF and the
  // two attachments are files, the path-like name cut to its last part,
  // the names in LMBCS.
  EXPECT_EQ(note_testing::AttachedFileNames(note_), "x r\x82sum\x82.txt spare.gif");
  EXPECT_THAT(records, HasSubstr(std::string("GIF89a\x01\x00\x01\x00\x80\x00\x00", 13)));
  EXPECT_TRUE(TempDirectoryEmpty());
  EXPECT_FALSE(std::filesystem::exists(temp_ / "../../x"));
}

TEST_F(MimeConvertTest, AMessageOfAttachmentsOnlyConnectsWithItsFiles) {
  StoreMessage(kAttachmentsOnly);
  VelkoRTItem item(session_);
  ASSERT_EQ(item.ConnectBackend(note_, "Body", 0), NOERROR);
  EXPECT_EQ(item.IsConnected, 1);
  EXPECT_EQ(BodyType(), TYPE_COMPOSITE);
  // The path-like name is cut to its last part; the unused inline part
  // goes in as a file after the attachments.
  EXPECT_EQ(note_testing::AttachedFileNames(note_), "x \x82.gif");
  EXPECT_TRUE(TempDirectoryEmpty());
  EXPECT_FALSE(std::filesystem::exists(temp_ / "../../x"));
}

/* Parts of one extension pass through one temporary file in turn: each
 * attachment holds its own bytes, a shorter one none of the longer one's
 * before it. */
TEST_F(MimeConvertTest, EachAttachmentHoldsItsOwnPart) {
  StoreMessage("MIME-Version: 1.0\nContent-Type: multipart/mixed; boundary=m\n\n"
               "--m\nContent-Disposition: attachment; filename=a.txt\n\nthe longer one\n"
               "--m\nContent-Disposition: attachment; filename=b.bin\n\nother kind\n"
               "--m\nContent-Disposition: attachment; filename=c.txt\n\nshort\n--m--\n");
  ASSERT_EQ(Convert(), NOERROR);
  std::vector<std::string> files;
  for (const note_testing::attachment& file : note_testing::Attachments(note_)) {
    const std::filesystem::path path = temp_ / "extracted";
    ASSERT_EQ(NSFNoteExtractFile(note_, file.item, path.c_str(), nullptr), NOERROR);
    std::ifstream in(path, std::ios::binary);
    files.push_back(file.name + ":" + std::string(std::istreambuf_iterator<char>(in), {}));
    std::filesystem::remove(path);
  }
  EXPECT_THAT(files, ElementsAre("a.txt:the longer one", "b.bin:other kind", "c.txt:short"));
  EXPECT_TRUE(TempDirectoryEmpty());
}

/* An attachment whose name the note holds already (letters compared
 * without case) is named "Att" and the first free number, with its own
 * name's extension: A.TXT after a.txt takes Att0.TXT, which the third
 * a.txt then finds taken as Att0.txt; a name of that form goes past the
 * numbers taken; a file the note held before counts. Past Att999 the
 * conversion fails and the note keeps its message. */
TEST_F(MimeConvertTest, AttachmentsOfNamesTakenGetTheFirstFreeNumber) {
  const std::filesystem::path held = temp_ / "held.bin";
  std::ofstream(held, std::ios::binary) << "held";
  ASSERT_EQ(NSFNoteAttachFile(note_, "$FILE", 5, held.c_str(), "b.bin", 0), NOERROR);
  std::filesystem::remove(held);
  std::string message = "MIME-Version: 1.0\nContent-Type: multipart/mixed; boundary=m\n\n";
  for (const char* name : {"a.txt", "A.TXT", "a.txt", "Att0.txt", "b.bin", "a.txt"})
    message += std::string("--m\nContent-Disposition: attachment; filename=") + name +
               "\n\n" + name + "\n";
  StoreMessage(message + "--m--\n");
  ASSERT_EQ(Convert(), NOERROR);
  EXPECT_EQ(note_testing::AttachedFileNames(note_),
            "b.bin a.txt Att0.TXT Att1.txt Att2.txt Att0.bin Att3.txt");

  Restart();
  SetTempDirectory();
  message = "MIME-Version: 1.0\nContent-Type: multipart/mixed; boundary=m\n\n";
  for (int part = 0; part < 1002; ++part)
    message += "--m\nContent-Disposition: attachment; filename=f.bin\n\nx\n";
  StoreMessage(message + "--m--\n");
  const std::vector<Bytes> stored = Values();
  EXPECT_EQ(Convert(), ERR_NOT_FOUND) << "f.bin and Att0.bin to Att999.bin are taken";
  EXPECT_EQ(Values(), stored);
  EXPECT_EQ(note_testing::AttachedFileNames(note_), "");
  EXPECT_TRUE(TempDirectoryEmpty());
}

/* A name in another script (one of its characters holds a '\' byte in
 * LMBCS), and one longer than a name may be: the converted item shows the
 * name, and a MIME export gives it back as sent. */
TEST_F(MimeConvertTest, AttachmentNamesComeBackFromTheConvertedItem) {
  const std::string longName = std::string(250, 'a') + "\xE6\x97\xA5\xE6\x9C\xAC.txt";
  StoreMessage("MIME-Version: 1.0\nContent-Type: multipart/mixed; boundary=m\n\n"
               "--m\nContent-Type: text/plain\n\nsee files\n"
               "--m\nContent-Disposition: attachment; filename*=utf-8''"
               "%E5%B3%B0%E6%97%A5%E6%9C%AC%20caf%C3%A9.txt\n\nfirst\n"
               "--m\nContent-Disposition: attachment; filename*=utf-8''" +
               std::string(250, 'a') + "%E6%97%A5%E6%9C%AC.txt\n\nsecond\n--m--\n");
  VelkoRTItem* item = new VelkoRTItem(session_);
  ASSERT_EQ(item->ConnectBackend(note_, "Body", 0), NOERROR);
  const std::filesystem::path path = temp_ / "out.eml";
  ASSERT_EQ(item->SaveAsMime(path.c_str(), "HTML", "AttachmentHandling=NAME"), NOERROR);
  std::ifstream in(path, std::ios::binary);
  const std::string exported((std::istreambuf_iterator<char>(in)), {});
  std::filesystem::remove(path);
  VelkoRTChunk* chunk = item->DefineChunk("Everything");
  char* output = chunk->GenerateHTML("", "Fragment", "", 0, nullptr, nullptr);
  ASSERT_NE(output, nullptr);
  const std::string rendered(output, session_->render_result_length);
  VelkoDeallocatePtr(session_, output);
  EXPECT_THAT(rendered, HasSubstr(" - &#23792;&#26085;&#26412; caf&eacute;.txt</a>"));

  mime_content content;
  ASSERT_EQ(ReadMimeMessage(exported, &content), NOERROR);
  std::vector<std::string> names;
  for (const mime_attachment& attachment : content.attachments)
    names.push_back(attachment.name);
  // The long name is cut to 255 bytes between characters.
  EXPECT_THAT(names, ElementsAre("\xE5\xB3\xB0\xE6\x97\xA5\xE6\x9C\xAC caf\xC3\xA9.txt",
                                 std::string(250, 'a') + "\xE6\x97\xA5"));
}

/* Every host allocation, then every storage write, failing in turn: the
 * note is converted, or holds its MIME items as before and no new file;
 * running out of memory is logged. */
TEST_F(MimeConvertTest, HostFailuresLeaveTheNoteConvertedOrAsItWas) {
  const struct {
    const char* label;
    void (*fail)(int);
    int count;
  } sweeps[] = {{"allocation", HostTestFailAllocation, 300},
                {"storage write", HostTestFailStorageWrite, 40}};
  for (const auto& sweep : sweeps) {
    int converted = 0;
    int failed = 0;
    for (int nth = 1; nth <= sweep.count; ++nth) {
      for (const std::string* message : {&kMessage, &kAttachmentsOnly}) {
        SCOPED_TRACE(std::string(sweep.label) + " " + std::to_string(nth) +
                     (message == &kMessage ? " (HTML)" : " (attachments)"));
        Restart();
        SetTempDirectory();
        HostTestCaptureLog(true);
        StoreMessage(*message);
        const std::vector<Bytes> before = Values();
        sweep.fail(nth);
        const STATUS status = Convert();
        sweep.fail(0);
        if (BodyType() == TYPE_COMPOSITE) {
          EXPECT_EQ(status, NOERROR);
          ++converted;
        } else {
          failed += message == &kAttachmentsOnly ? 1 : 0;
          EXPECT_NE(status, NOERROR);
          EXPECT_EQ(Values(), before);
          EXPECT_EQ(note_testing::AttachedFileNames(note_), "");
        }
        if (status == ERR_MEMORY) {
          bool logged = false;
          for (const std::string& line : HostTestLogLines())
            logged = logged || line.rfind("Out of memory at ", 0) == 0;
          EXPECT_TRUE(logged);
        }
        EXPECT_TRUE(TempDirectoryEmpty());
      }
    }
    // The sweep reached failures inside the conversion and ran past them.
    EXPECT_GT(converted, 0) << sweep.label;
    EXPECT_GT(failed, 0) << sweep.label;
  }
}

} // namespace
