// Image maps inside a real writing operation, read back from the saved
// note: a new map around an area of each shape, an area joining the map the
// current record closes, a following map copied forward with its count of
// the area's shape raised and the walk told to drop the originals, and a
// formula event; and the coordinates read from shape texts.
#include "store/session.h"
#include "tests/generate/generator_fixture.h"

namespace {

using namespace generator_test;
using cdbuild::Begin;
using cdbuild::End;

Bytes Box(int32_t left, int32_t top, int32_t right, int32_t bottom) {
  Bytes bytes(16);
  const int32_t values[4] = {left, top, right, bottom};
  for (size_t n = 0; n < 4; ++n)
    cdbuild::PutDword(bytes, 4 * n, static_cast<DWORD>(values[n]));
  return bytes;
}

Bytes Points(const std::vector<std::pair<int32_t, int32_t>>& points) {
  Bytes bytes(2 + 8 * points.size());
  cdbuild::PutWord(bytes, 0, static_cast<WORD>(points.size()));
  for (size_t n = 0; n < points.size(); ++n) {
    cdbuild::PutDword(bytes, 2 + 8 * n, static_cast<DWORD>(points[n].first));
    cdbuild::PutDword(bytes, 6 + 8 * n, static_cast<DWORD>(points[n].second));
  }
  return bytes;
}

std::vector<Bytes> Area(WORD shape, const Bytes& coordinates, WORD tab = 0) {
  return {Begin(SIG_CD_AREAELEMENT, 1), cdbuild::AreaElement(shape, tab, coordinates),
          End(SIG_CD_AREAELEMENT, 1)};
}

/* A new map of one area. */
std::vector<Bytes> NewMap(const cdbuild::MapElementFields& map, std::vector<Bytes> area) {
  area.insert(area.begin(), {Begin(SIG_CD_MAPELEMENT, 1), cdbuild::MapElement(map)});
  area.push_back(End(SIG_CD_MAPELEMENT, 1));
  return area;
}

class ImageMapTest : public GeneratorTest {
protected:
  STATUS Area(const char* shape, const char* properties, int current = 0) {
    return InOperation(
        [&](hotspot_state* state) {
          return GenerateImageHotspot(0, 0, shape, properties, 0, state);
        },
        current);
  }
};

TEST_F(ImageMapTest, ANewMapAroundEachShape) {
  const std::vector<std::pair<int32_t, int32_t>> hundred(100, {7, -7});
  std::string many = "poly NumPoints=100";
  for (int n = 1; n <= 100; ++n)
    many += " x" + std::to_string(n) + "=7 y" + std::to_string(n) + "=-7";
  const struct {
    const char* what;
    std::string shape;
    const char* properties;
    std::vector<Bytes> expected;
  } cases[] = {
      {"a rectangle with its tab index", "rect left=10 top=5 width=30 height=40", "TabIndex=4",
       NewMap({1, 2, 1, 1}, ::Area(1, Box(10, 5, 40, 45), 4))},
      {"a circle by its box", "CIRCLE left=1 top=2 right=3 bottom=4", "",
       NewMap({1, 1, 2, 1}, ::Area(2, Box(1, 2, 3, 4)))},
      {"a default area has no coordinates", "default left=5", "",
       NewMap({2, 1, 1, 1}, ::Area(4, {}))},
      {"an unknown shape is a rectangle", "oval", "", NewMap({1, 2, 1, 1}, ::Area(1, Box(0, 0, 20, 20)))},
      {"a polygon of two points, a missing value 0", "poly NumPoints=2 x1=1 y1=2 x2=-3", "",
       NewMap({1, 1, 1, 2}, ::Area(3, Points({{1, 2}, {-3, 0}})))},
      {"a polygon of 0 points has no coordinates", "poly NumPoints=0 x1=1", "",
       NewMap({1, 1, 1, 2}, ::Area(3, {}))},
      {"nor has one of 101 points", "polygon NumPoints=101 x1=1", "",
       NewMap({1, 1, 1, 2}, ::Area(3, {}))},
      {"a polygon of 100 points", many, "", NewMap({1, 1, 1, 2}, ::Area(3, Points(hundred)))},
      {"HTML attributes of the area", "rect", "HotspotHTMLTitle=t",
       NewMap({1, 2, 1, 1}, {Begin(SIG_CD_AREAELEMENT, 1),
                             cdbuild::AreaElement(1, 0, Box(0, 0, 20, 20)),
                             Even(cdbuild::IdName({.title = "t"})), End(SIG_CD_AREAELEMENT, 1)})},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    Fresh();
    ASSERT_EQ(Area(c.shape.c_str(), c.properties), NOERROR);
    ExpectBody(c.expected);
  }
}

TEST_F(ImageMapTest, WhereTheAreaGoes) {
  const std::vector<Bytes> map = {Begin(SIG_CD_MAPELEMENT, 1), cdbuild::MapElement({1, 2, 1, 1}),
                                  Begin(SIG_CD_AREAELEMENT, 1),
                                  cdbuild::AreaElement(1, 0, Box(0, 0, 9, 9)),
                                  End(SIG_CD_AREAELEMENT, 1), End(SIG_CD_MAPELEMENT, 1)};
  std::vector<Bytes> imageThenMap = {engine_test::Text("img")};
  imageThenMap.insert(imageThenMap.end(), map.begin(), map.end());
  imageThenMap.push_back(engine_test::Text(""));
  std::vector<Bytes> copied = {Begin(SIG_CD_MAPELEMENT, 1), cdbuild::MapElement({1, 2, 2, 1}),
                               Begin(SIG_CD_AREAELEMENT, 1),
                               cdbuild::AreaElement(1, 0, Box(0, 0, 9, 9)),
                               End(SIG_CD_AREAELEMENT, 1)};
  const std::vector<Bytes> circle = ::Area(2, Box(0, 0, 20, 20));
  copied.insert(copied.end(), circle.begin(), circle.end());
  const struct {
    const char* what;
    std::vector<Bytes> body;
    int current;
    std::vector<Bytes> expected;
    DWORD skip;
  } cases[] = {
      {"no current record: a new map", imageThenMap, 0, NewMap({1, 1, 2, 1}, circle), 0},
      {"the current record closes a map: the area joins it", imageThenMap, 7, circle, 0},
      {"a map follows: copied forward, counting the area, and dropped by the walk", imageThenMap,
       1, copied, 6},
      {"nothing follows the current record: a new map", {engine_test::Text("img")}, 1,
       NewMap({1, 1, 2, 1}, circle), 0},
      {"the current record is no map's: a new map", imageThenMap, 3,
       NewMap({1, 1, 2, 1}, circle), 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    Fresh(c.body);
    ASSERT_EQ(Area("circle", "", c.current), NOERROR);
    ExpectBody(c.expected);
    EXPECT_EQ(skip_mark_, c.skip);
  }
}

TEST_F(ImageMapTest, AFormulaAreaHasItsClickEvent) {
  const Bytes formula = {'F', 'M', 1, 0};
  const struct {
    const char* properties;
    bool common;
  } cases[] = {{"", false}, {"CommonJavaScript=YES", true}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.properties);
    Fresh();
    SetData(std::string(formula.begin(), formula.end()));
    session_->internal->hotspot_code_kind = kAreaCodeFormula;
    ASSERT_EQ(Area("rect", c.properties), NOERROR);
    std::vector<Bytes> area = {Begin(SIG_CD_AREAELEMENT, 1),
                               cdbuild::AreaElement(1, 0, Box(0, 0, 20, 20))};
    for (WORD signature : {SIG_CD_EVENT, SIG_CD_EVENT_COMMON}) {
      if (signature == SIG_CD_EVENT || c.common)
        area.push_back(cdbuild::Event({.signature = signature,
                                       .event_type = 1,
                                       .action_type = 1,
                                       .action_length = 4,
                                       .action = formula}));
    }
    area.push_back(End(SIG_CD_AREAELEMENT, 1));
    ExpectBody(NewMap({1, 2, 1, 1}, area));
  }
}

TEST(ParseCoordsTest, ShapeTexts) {
  const struct {
    const char* shape;
    Bytes expected;
  } cases[] = {
      {"rect", Box(0, 0, 20, 20)},
      {"rect bottom=5", Box(0, 0, 20, 5)},
      {"rect bottom=-3", Box(0, -23, 20, -3)},
      {"rect left=30", Box(30, 0, 50, 20)},
      {"rect top=25", Box(0, 25, 20, 45)},
      {"rect left=10 right=5", Box(-15, 0, 5, 20)},
      {"rect left=10 width=0", Box(10, 0, 30, 20)},
      {"rect width=50 right=5", Box(0, 0, 50, 20)},
      {"rect top=3 height=-1 bottom=100", Box(0, 3, 20, 23)},
      {"circle LEFT=1 Top=2 WIDTH=3 height=4", Box(1, 2, 4, 6)},
      {"rect xleft=9 left=4", Box(4, 0, 20, 20)},
      {"Poly NumPoints=1 x1=-5 y1=6", Points({{-5, 6}})},
      {"poly NumPoints=3 y2=8", Points({{0, 0}, {0, 8}, {0, 0}})},
      {"poly", {}},
      {"poly NumPoints=0", {}},
      {"poly NumPoints=101", {}},
      {"poly NumPoints=-1", {}},
  };
  LSXLsiSession session;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.shape);
    BYTE out[kCoordinateBytes] = {};
    const DWORD count = ParseCoords(&session, c.shape, out);
    EXPECT_EQ(Bytes(out, out + count), c.expected);
  }
}

} // namespace
