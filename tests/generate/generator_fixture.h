// Runs the image and hotspot generators inside a real writing operation
// (set-up, the generator in place of the walk, finish) over a note's body,
// and reads the saved body back. The expected records are written with the
// byte-level builder.
#ifndef VELKO_TESTS_GENERATE_GENERATOR_FIXTURE_H
#define VELKO_TESTS_GENERATE_GENERATOR_FIXTURE_H

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "generate/hotspot.h"
#include "store/vocabulary.h"
#include "tests/support/bytes_support.h"
#include "tests/support/test_fixture.h"

namespace generator_test {

using engine_test::Bytes;

class GeneratorTest : public engine_test::EngineTest {
protected:
  /* A fresh note whose body holds the records (by default one empty text
   * record). */
  void Fresh(const std::vector<Bytes>& body = {engine_test::Text("")}) {
    if (fresh_)
      Restart();
    fresh_ = true;
    skip_mark_ = 0;
    AppendItem(body);
  }

  /* Places the hotspot data where the generators read it. */
  void SetData(const std::string& data) {
    std::memcpy(session_->result_text + kHotspotDataOffset, data.data(), data.size());
    session_->result_length = static_cast<WORD>(data.size());
  }

  /* Runs the work inside a writing operation; the final status. `current`
   * names the input record (from 1) the work sees as current, 0 none. */
  STATUS InOperation(const std::function<STATUS(hotspot_state*)>& work, int current = 0) {
    return InWritingOperation([&](chunk_process_state* state) {
      hotspot_state hotspot;
      hotspot.gen = &state->gen;
      hotspot.label_font = &state->fonts[0];
      hotspot.label_font_mask = &state->font_masks[0];
      hotspot.secondary_status = &state->secondary_status;
      hotspot.skip_mark = &skip_mark_;
      if (current > 0) {
        hotspot.current = item_->internal->input->records;
        for (int n = 1; n < current; ++n)
          hotspot.current = hotspot.current->next;
      }
      return work(&hotspot);
    });
  }

  /* The saved body is the records and the text record the finish closes
   * every body with. */
  void ExpectBody(std::vector<Bytes> records) {
    records.push_back(engine_test::Text(""));
    EXPECT_EQ(bytes_test::ShowHex(BodyRecords()),
              bytes_test::ShowHex(note_testing::Records(records)));
  }

  DWORD skip_mark_ = 0;
  bool fresh_ = false;
};

/* A record with a zero pad byte counted in its length: what a generator
 * emits for a record of odd length. */
inline Bytes Even(const Bytes& record) {
  return record.size() % 2 == 0 ? record : cdbuild::WithTail(record, {0});
}

} // namespace generator_test

#endif
