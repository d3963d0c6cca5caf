// Character sets of imported text: texts that UTF-8 and LMBCS write alike
// are copied without the host's translation, so for every kind of byte the
// importer's translation must give what the host's gives; and the length
// of an LMBCS character, which cuts text runs, must be the host's for
// every lead byte.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "host/nls.h"
#include "import/charset.h"

namespace {

/* The host's translation of the whole text in one call. */
std::string HostTranslation(const std::string& text, WORD csid, WORD direction) {
  NLS_PINFO info = nullptr;
  EXPECT_EQ(NLS_load_charset(csid, &info), NLS_SUCCESS);
  std::string out(4 * text.size() + 16, '\0');
  WORD written = static_cast<WORD>(out.size());
  EXPECT_EQ(NLS_translate(reinterpret_cast<const BYTE*>(text.data()),
                          static_cast<WORD>(text.size()), reinterpret_cast<BYTE*>(out.data()),
                          &written, NLS_NONULLTERMINATE | direction, info),
            NLS_SUCCESS);
  NLS_unload_charset(info);
  out.resize(written);
  return out;
}

TEST(ImportCharsetTest, TranslationsGiveTheHostsBytesWhetherCopiedOrTranslated) {
  const struct {
    const char* name;
    std::string utf8;
  } cases[] = {
      {"printable ASCII", "Plain words, digits 0-9 and ~{|}."},
      {"line ends and tabs", "a\tb\r\nc\nd"},
      {"a NUL", std::string("a\0b", 3)},
      {"a control below a blank", "a\x01" "b\x1F" "c"},
      {"DEL", "a\x7F" "b"},
      {"Latin-1 letters", "caf\xC3\xA9 \xC3\xBC"},
      {"beyond code page 850", "\xE2\x82\xAC \xE4\xB8\xAD"},
      {"outside the basic plane", "x\xF0\x9F\x98\x80y"},
      {"empty", ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::string lmbcs = "kept:";
    ASSERT_EQ(TranslateUtf8(c.utf8, &lmbcs), NOERROR);
    EXPECT_EQ(lmbcs, "kept:" + HostTranslation(c.utf8, NLS_CS_UTF8, NLS_TARGETISLMBCS));
    std::string back = "kept:";
    ASSERT_EQ(TranslateLmbcsToUtf8(lmbcs.substr(5), &back), NOERROR);
    EXPECT_EQ(back, "kept:" + HostTranslation(lmbcs.substr(5), NLS_CS_UTF8, NLS_SOURCEISLMBCS));
  }
}

/* Texts are tested for copying eight or sixteen bytes at a time: each
 * ASCII byte, and a character beyond it, at each place of a word, of a
 * block and of the tail, in texts shorter than a block, of whole blocks
 * and of blocks and a tail. */
TEST(ImportCharsetTest, EveryByteAtEveryPlaceOfALongerTextIsTranslatedAsTheHostDoes) {
  std::vector<std::string> odd;
  for (int byte = 0; byte < 0x80; ++byte)
    odd.push_back(std::string(1, static_cast<char>(byte)));
  odd.push_back("\xC3\xA9");
  for (const size_t length : {7, 14, 19, 31, 40}) {
    for (const std::string& inserted : odd) {
      for (size_t at = 0; at <= length; ++at) {
        std::string utf8(length, 'q');
        utf8.insert(at, inserted);
        SCOPED_TRACE(testing::Message()
                     << "byte " << int(static_cast<unsigned char>(inserted[0])) << " at " << at
                     << " of " << utf8.size());
        std::string lmbcs;
        ASSERT_EQ(TranslateUtf8(utf8, &lmbcs), NOERROR);
        EXPECT_EQ(lmbcs, HostTranslation(utf8, NLS_CS_UTF8, NLS_TARGETISLMBCS));
      }
    }
  }
}

TEST(ImportCharsetTest, CharacterLengthsAreTheHostsForEveryLeadByte) {
  for (int lead = 0; lead < 256; ++lead) {
    SCOPED_TRACE(lead);
    const std::string text = {static_cast<char>(lead), 'A', 'B', 'C'};
    WORD host = 0;
    ASSERT_EQ(NLS_string_bytes(reinterpret_cast<const BYTE*>(text.data()), 1, &host, nullptr),
              NLS_SUCCESS);
    EXPECT_EQ(LmbcsCharacterLength(text, 0), host == 0 ? 1u : host);
  }
  // A character cut short by the end of the text ends there.
  EXPECT_EQ(LmbcsCharacterLength(std::string("x\x14" "A", 3), 1), 2u);
}

} // namespace
