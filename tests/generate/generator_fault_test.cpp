// Every tracked allocation inside each image and hotspot generator refused
// in turn: the failure is returned and the note keeps its old body; with no
// failure the generator completes.
#include "store/tracked_memory_testing.h"
#include "tests/generate/generator_fixture.h"

namespace {

using namespace generator_test;

class GeneratorFaultTest : public GeneratorTest {};

TEST_F(GeneratorFaultTest, ARefusedAllocationIsReturnedAndTheBodyKept) {
  const struct {
    const char* what;
    std::function<STATUS(hotspot_state*)> run;
  } cases[] = {
      {"a resource with every optional record",
       [](hotspot_state* state) {
         return GenerateResource(3, 19, "logo.gif", "Caption=c CaptionFont=RED ImageHTMLID='i'",
                                 0, state, 0, 0, "alt", "ALIGN_TOP", "1", "2", "3");
       }},
      {"a background resource",
       [](hotspot_state* state) {
         return GenerateResource(3, 19, "logo.gif", "Repeat=TILE", 1, state, 0, 0, nullptr,
                                 nullptr, nullptr, nullptr, nullptr);
       }},
      {"a storage link",
       [](hotspot_state* state) {
         return GenerateStorageLink(2, "http://x/y.gif", "AltText=a Caption=c ImageHTMLID='i'",
                                    state);
       }},
      {"a button",
       [](hotspot_state* state) {
         return GenerateHotspot(kHotspotButton, kHotspotCodeFormula, "Go", 2,
                                "ButtonWidth=9 TextFont=Bold HotspotHTML HotspotHTMLID=h", 0,
                                state);
       }},
      {"a JavaScript action",
       [](hotspot_state* state) {
         return GenerateHotspot(kHotspotAction, kHotspotCodeJavaScript, "Go", 2,
                                "CommonJavaScript=Yes", 0, state);
       }},
      {"a linked control",
       [](hotspot_state* state) {
         return GenerateHotspot(kHotspotEmbeddedLinked, 0, "Go", 2,
                                "UNID=0123456789ABCDEF0123456789ABCDEF TextFont=Bold", 0, state);
       }},
      {"a file hotspot",
       [](hotspot_state* state) {
         return GenerateFileHotspot("/a/b.txt", "B", nullptr, 0, "AlreadyAttached=Yes UseText=t",
                                    state);
       }},
      {"an image map area",
       [](hotspot_state* state) {
         return GenerateImageHotspot(0, 0, "poly NumPoints=2 x1=1", "HotspotHTMLID=h", 0, state);
       }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    int failures = 0;
    for (int nth = 1;; ++nth) {
      Fresh();
      SetData("@Command");
      const std::vector<Bytes> before = Values();
      bool fired = false;
      const STATUS status = InOperation([&](hotspot_state* state) {
        VelkoTestFailTrackedAllocation(nth);
        const STATUS result = c.run(state);
        fired = VelkoTestTrackedRequests() >= nth;
        VelkoTestFailTrackedAllocation(0);
        return result;
      });
      if (!fired) {
        EXPECT_EQ(status, NOERROR);
        break;
      }
      SCOPED_TRACE(nth);
      EXPECT_EQ(status, VELKO_ERR_MEMORY);
      EXPECT_EQ(Values(), before);
      ++failures;
    }
    EXPECT_GE(failures, 4);
  }
}

} // namespace
