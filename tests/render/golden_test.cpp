// The rendering harness of the golden corpus (tests/render/golden): each
// case's records are stored as the "Body" item of a note and rendered end
// to end through GenerateHTML (or GenerateHTMLToMime, for the caller buffer
// and caller file sinks) with the fixed clock and version text; the output
// must equal the case's expected file byte for byte and parse without an
// error in the strict parser. The same records then run directly through
// ProcessXMLStream on a context made from the same options, and the
// driver's bytes must agree with the end-to-end run: the whole output for
// fragments, the text between the frame pieces otherwise.
//
// The expected files are never written from this harness's output; the
// corpus's own well-formedness is checked by golden_check.cpp.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "render_fixture.h"
#include "golden_files.h"
#include "golden_fixture.h"
#include "host/nsfdb.h"
#include "store/session.h"
#include "tests/support/note_fixture.h"
#include "cdbuild/cd_script.h"

namespace {

using golden_testing::GoldenCase;
using golden_testing::Header;
using golden_testing::IsFragment;
using golden_testing::IsXhtml;

void GoldenDate(WORD *month, WORD *day, WORD *year) {
  *month = 12;
  *day = 6;
  *year = 2026;
}
const char *GoldenVersion() { return "velko"; }
const render_frame_source kGoldenSource = {GoldenDate, GoldenVersion};

/* The generation name handed to the entry points; the fragment forms are
 * HTML and XHTML with the fragment switched on by the options. */
const char *GenerationName(const std::string &generation) {
  if (generation == "Text")
    return "Plain Text";
  return IsXhtml(generation) ? "XHTML" : "HTML";
}

WORD GenerationWord(const std::string &generation) {
  if (generation == "Text")
    return kGenerationText;
  return IsXhtml(generation) ? kGenerationXHTML : kGenerationHTML;
}

/* Everything written to the file, from its start. */
std::string FileContent(FILE *file) {
  std::string text;
  rewind(file);
  for (int c; (c = fgetc(file)) != EOF;)
    text += static_cast<char>(c);
  return text;
}

/* The pieces handed to the output callback, in order. */
std::string CallbackText() {
  std::string text;
  for (const std::string &piece : text_testing::Pieces())
    text += piece;
  return text;
}

/* Where the first difference lies, for the failure message. */
std::string FirstDifference(const std::string &actual, const std::string &expected) {
  size_t at = 0;
  while (at < actual.size() && at < expected.size() && actual[at] == expected[at])
    ++at;
  return "first difference at byte " + std::to_string(at) + ": actual \"" + actual.substr(at, 60) +
         "\", expected \"" + expected.substr(at, 60) + "\"";
}

/* Whether the whole output is the frame with the driver's text inside it:
 * whole == frame[0, at) + driver + frame[end, size) for some at <= end. The
 * frame comes from an empty body, whose run the driver completes with an
 * empty head pass (frame[at, end)); the records' run replaces it. */
bool FramesDriverText(const std::string &whole, const std::string &frame,
                      const std::string &driver) {
  if (whole.size() < driver.size())
    return false;
  for (size_t at = 0; at <= frame.size(); ++at) {
    if (whole.compare(0, at, frame, 0, at) != 0)
      return false;
    if (whole.compare(at, driver.size(), driver) != 0)
      continue;
    const size_t rest = whole.size() - at - driver.size();
    if (rest <= frame.size() - at &&
        whole.compare(at + driver.size(), rest, frame, frame.size() - rest, rest) == 0)
      return true;
  }
  return false;
}

class GoldenRunTest : public driver_testing::DriverTest,
                      public ::testing::WithParamInterface<GoldenCase> {
protected:
  void SetUp() override {
    DriverTest::SetUp();
    SetRenderFrameSource(&kGoldenSource);
    golden_testing::ReadCase(GetParam(), &header_, &body_, &expected_);
    dir_ = golden_testing::FreshCaseDirectory();
    options_ = golden_testing::OptionsIn(header_.options, dir_);
    golden_testing::StoreResources(db_, header_);
    note_items_ = [this](NOTEHANDLE note) { return golden_testing::AppendNoteItems(note, header_); };
    golden_testing::LinkCallbackState() = {header_.link_answer, {}};
  }

  /* The link callback of the case, or none. */
  QueryLinkDataCallback LinkCallback() const {
    return header_.hasLinkAnswer ? golden_testing::AnswerLink : nullptr;
  }

  /* What the run handed the link callback and showed the user is what the
   * case says; both are cleared for the next run. */
  void ExpectLinkCallsAndMessages(const char *run) {
    SCOPED_TRACE(run);
    golden_testing::link_callback_state &links = golden_testing::LinkCallbackState();
    EXPECT_EQ(links.received, header_.link_received);
    links.received.clear();
    std::vector<std::string> shown;
    for (const HostTestMessage &message : HostTestMessages())
      shown.push_back(message.text);
    EXPECT_EQ(shown, header_.messages);
    HostTestClearMessages();
  }

  void TearDown() override {
    DriverTest::TearDown(); // releases the context that writes to the file
    if (file_ != nullptr)
      fclose(file_);
    golden_testing::fs::remove_all(dir_);
  }

  /* The files and image resources the run left behind are the case's;
   * the directory is emptied for the next run. */
  void CheckWritten(const char *run) {
    SCOPED_TRACE(run);
    golden_testing::fs::path readback = golden_testing::FreshCaseDirectory("_readback");
    for (const auto &[name, bytes] : header_.made_resources)
      EXPECT_EQ(golden_testing::ResourceImage(session_.get(), kDbPath, name, readback), bytes)
          << name;
    golden_testing::fs::remove_all(readback);
    EXPECT_EQ(golden_testing::WrittenFiles(dir_), golden_testing::ExpectedFiles(header_));
    golden_testing::fs::remove_all(dir_);
    golden_testing::fs::create_directories(dir_);
  }

  const char *Options() const { return options_.empty() ? nullptr : options_.c_str(); }
  WORD OptionsLength() const { return static_cast<WORD>(options_.size()); }

  /* The output of GenerateHTML or GenerateHTMLToMime on the chunk, read
   * from the case's sink. */
  std::string EndToEnd(VelkoRTChunk *chunk) {
    text_testing::Pieces().clear();
    const char *generation = GenerationName(header_.generation);
    if (header_.sink.rfind("buffer:", 0) == 0)
      return IntoCallersBuffer(chunk, generation, std::stoul(header_.sink.substr(7)));
    if (header_.sink == "file")
      return IntoCallersFile(chunk, generation);
    const bool callback = header_.sink == "callback";
    char *result = chunk->GenerateHTML("", generation, Options(), 0,
                                       callback ? text_testing::RecordPiece : nullptr,
                                       LinkCallback());
    EXPECT_NE(result, nullptr);
    EXPECT_EQ(chunk->status, NOERROR);
    if (result == nullptr)
      return "(null)";
    const std::string returned(result, session_->render_result_length);
    VelkoDeallocatePtr(session_.get(), result);
    return (callback ? CallbackText() : std::string()) + returned;
  }

  std::string IntoCallersBuffer(VelkoRTChunk *chunk, const char *generation, size_t capacity) {
    std::vector<char> buffer(capacity);
    DWORD length = static_cast<DWORD>(capacity);
    char name[8];
    EXPECT_EQ(chunk->GenerateHTMLToMime(0, 0, generation, Options(), OptionsLength(), buffer.data(),
                                        &length, 0, name, nullptr, nullptr, nullptr,
                                        LinkCallback(), nullptr, nullptr),
              NOERROR);
    EXPECT_LE(length, capacity);
    return std::string(buffer.data(), std::min<size_t>(length, capacity));
  }

  std::string IntoCallersFile(VelkoRTChunk *chunk, const char *generation) {
    FILE *file = tmpfile();
    EXPECT_NE(file, nullptr);
    if (file == nullptr)
      return "(no file)";
    DWORD length = 0;
    char name[8];
    EXPECT_EQ(chunk->GenerateHTMLToMime(0, 0, generation, Options(), OptionsLength(), nullptr,
                                        &length, 0, name, file, "golden.html", nullptr,
                                        LinkCallback(), nullptr, nullptr),
              NOERROR);
    const std::string text = FileContent(file);
    fclose(file);
    return text;
  }

  /* The frame pieces alone: the same options on a note whose body item
   * holds no record, so that the driver never runs. */
  std::string FrameOnly() {
    const NOTEID id = note_testing::StoreNote(db_, {});
    EXPECT_NE(id, 0u);
    auto *item = new VelkoRTItem(session_.get()); // the session deletes it
    EXPECT_EQ(item->Connect("", kDbPath, id, "Body", 0), NOERROR);
    VelkoRTChunk *chunk = item->DefineChunk("Everything");
    EXPECT_NE(chunk, nullptr);
    return chunk != nullptr ? EndToEnd(chunk) : "(no chunk)";
  }

  /* The records straight through the driver on a context made as the entry
   * point and the engine make it, into the case's sink. */
  std::string Direct() {
    text_testing::Pieces().clear();
    Prepare(body_, Options(), GenerationWord(header_.generation));
    context_->output_nls = session_->internal->nls_info;
    context_->session_nls = session_->internal->nls_info;
    // As the entry point sets them before the options are read.
    if (options_.find("ImageHandling=") == std::string::npos)
      context_->image_handling = kHandlingDefault;
    if (options_.find("AttachmentHandling=") == std::string::npos)
      context_->attachment_handling = kHandlingDefault;
    if (item_->db != NULLHANDLE)
      NSFDbReplicaInfoGet(item_->db, &context_->replica_info);
    if (header_.sink.rfind("buffer:", 0) == 0) {
      callers_buffer_.assign(std::stoul(header_.sink.substr(7)), '\0');
      UseCallersBuffer(callers_buffer_.data(), static_cast<DWORD>(callers_buffer_.size()));
    } else if (header_.sink == "file") {
      file_ = tmpfile();
      context_->out_file = file_;
    } else if (header_.sink == "callback") {
      chunk_->SetActOnTextCallback(text_testing::RecordPiece);
    }
    chunk_->SetQueryLinkDataCallback(LinkCallback());
    // The engine pairs the item's definitions before the chunk renders.
    if ((context_->flags2 & html_flags2::ConsolidatePABIDS) != 0) {
      EXPECT_EQ(chunk_->Exists(), 1); // the item's records are loaded
      EXPECT_EQ(ConsolidateParagraphForXML(nullptr, context_), NOERROR);
    }
    const std::string held = Drive();
    return (file_ != nullptr ? FileContent(file_) : CallbackText()) + held;
  }

  Header header_;
  cdbuild::Body body_;
  std::string expected_;
  /* The case's directory for written files, and its options naming it. */
  golden_testing::fs::path dir_;
  std::string options_;
  /* The direct run's caller buffer and caller file; the context keeps
   * pointing at them until it is released. */
  std::vector<char> callers_buffer_;
  FILE *file_ = nullptr;
};

TEST_P(GoldenRunTest, RendersTheExpectedOutputBothWays) {
  Load(body_);
  HostTestClearMessages();
  const std::string actual = EndToEnd(chunk_);
  EXPECT_EQ(actual, expected_) << FirstDifference(actual, expected_);
  ExpectLinkCallsAndMessages("end to end");
  CheckWritten("end to end");

  if (header_.generation != "Text") {
    const std::vector<std::string> errors = golden_testing::ParseErrors(
        golden_testing::ParserInput(actual, header_), IsXhtml(header_.generation));
    EXPECT_TRUE(errors.empty()) << golden_testing::Joined(errors);
  }

  const bool whole = IsFragment(header_.generation);
  const std::string frame = whole ? std::string() : FrameOnly();
  HostTestClearMessages();
  const std::string driver = Direct();
  ExpectLinkCallsAndMessages("driver");
  CheckWritten("direct");
  if (whole) {
    EXPECT_EQ(driver, actual) << FirstDifference(driver, actual);
    return;
  }
  EXPECT_TRUE(FramesDriverText(actual, frame, driver))
      << "output: " << actual << "\nframe:  " << frame << "\ndriver: " << driver;
}

INSTANTIATE_TEST_SUITE_P(Corpus, GoldenRunTest, ::testing::ValuesIn(golden_testing::FindCases()),
                         golden_testing::CaseName);

} // namespace
