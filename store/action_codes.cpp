/*
 * Action codes and chunk properties: the writes flag of every action code
 * (whether the operation rebuilds the item or only reads it) and the chunk
 * property table, which gives for each property its id, the action that reads
 * it, the action that sets it and the session place that carries the answer.
 *
 * Issuing and carrying out the actions is the chunk's and the engine's work.
 */
#include "store/vocabulary.h"

// clang-format off
const action_parameter action_parameter_table[kActionParameterCount] = {
    {2351, true}, {2352, true}, {2353, true}, {2354, true}, {2355, true},
    {2356, true}, {2357, true}, {2358, true}, {2359, true}, {2360, true},
    {2361, true}, {2362, true}, {2363, true}, {2364, true}, {2365, false},
    {2366, true}, {2367, false}, {2368, false}, {2369, false}, {2370, false},
    {2371, false}, {2372, true}, {2373, true}, {2374, true}, {2375, true},
    {2376, true}, {2377, true}, {2378, true}, {2379, true}, {2380, true},
    {2381, true}, {2382, true}, {2383, true}, {2384, true}, {2385, true},
    {2386, true}, {2387, true}, {2388, true}, {2389, true}, {2390, true},
    {2391, true}, {2392, true}, {2393, true}, {2394, true}, {2395, true},
    {2396, true}, {2397, true}, {2398, false}, {2399, true}, {2400, false},
    {2401, false}, {2402, false}, {2403, false}, {2404, true}, {2405, true},
    {2406, true}, {2407, false}, {2408, false}, {2409, true}, {2410, true},
    {2411, true}, {2412, true}, {2413, true}, {2414, false}, {2415, true},
    {2416, true}, {2417, true}, {2418, false}, {2419, false}, {2420, false},
    {2421, false}, {2422, true}, {2423, true}, {2424, true}, {2425, true},
    {2426, true}, {2427, false}, {2428, true}, {2429, true}, {2430, true},
    {2431, false}, {2432, false}, {2433, true}, {2434, true}, {2435, false},
    {2436, false}, {2437, true}, {2438, true}, {2439, true}, {2440, true},
    {2441, true}, {2442, true}, {2443, true}, {2444, false}, {2445, true},
    {2446, true}, {2447, true}, {2448, true}, {2449, true}, {2801, true},
    {2802, true}, {2803, true}, {2804, false}, {2805, true}, {2806, true},
    {2807, true}, {2808, true}, {2809, true}, {2810, true}, {2811, true},
    {2812, true}, {2813, true}, {2814, true}, {2815, true}, {2816, true},
    {2817, true}, {2818, false}, {2819, true}, {2820, true}, {2821, true},
};
// clang-format on

namespace {

constexpr WORD kFirstOperation = 2351; /* rows 0-98 */
constexpr WORD kLastOperation = 2449;
constexpr WORD kFirstLateOperation = 2801; /* rows 99-119 */
constexpr WORD kLastLateOperation = 2821;
constexpr size_t kFirstLateOperationRow = 99;

/* The property actions without a row that rebuild the item. */
constexpr WORD kWritingPropertyActions[] = {4,  6,  8,  10, 17, 21, 23, 25, 30, 32,
                                            34, 40, 42, 44, 48, 49, 54, 55, 68, 69};

/* The operation driver treats two combinations as reading: link matching
 * and action 2819, each with p1 naming a reading code. */
constexpr WORD kLinkMatchingReadOnlyP1 = 2804;
constexpr WORD kReadOnlyAction2819 = 2819;
constexpr WORD kReadOnlyAction2819P1 = 2818;

constexpr uint16_t kNumber = RTCHUNK_PROP_KIND_NUMBER;
constexpr uint16_t kText = RTCHUNK_PROP_KIND_TEXT;

} // namespace

/* Sorted by name ignoring case; LookupChunkProperty stops at the first row
 * that sorts after the wanted name, so a row out of order hides the rows
 * after it. Ids are shared where the properties share them: HideFormula and
 * TextAttributes (2333; the actions tell them apart), LinkPopupText and
 * PopupText (2340), OLEFileName and OriginalFileName (2621). */
// clang-format off
const rtchunk_prop rtchunk_prop_table[kChunkPropertyCount + 1] = {
  /* name                  kind  class  id    get   set  read-only numeric chunk-answers */
    {"AccentSensitive",      kNumber, 17, 2622,    0,    0, false, true,  true},
    {"ActionFormula",        kText,    0, 2301,   20,   21, false, true,  true},
    {"AnchorText",           kText,    0, 2302,   16,   17, false, false, false},
    {"ButtonText",           kText,    0, 2303,   22,   23, false, false, false},
    {"CaseSensitive",        kNumber, 17, 2611,    0,    0, false, true,  true},
    {"CellColor",            kText,    0, 2606,   38, 2394, false, false, true},
    {"CellIsMerged",         kNumber, 13, 2601, 2601,    0, true,  true,  false},
    {"ContainsSomething",    kNumber, 14, 2304, 2304,    0, true,  true,  false},
    {"ContainsText",         kNumber, 14, 2305, 2305,    0, true,  true,  false},
    {"Definition",           kText,    0, 2306,    0,    0, true,  false, true},
    {"Exists",               kNumber, 15, 2315, 2315,    0, true,  true,  true},
    {"FileName",             kText,    1, 2337,   12,    0, true,  false, false},
    {"FileSize",             kNumber, 19, 2629,   66,    0, true,  false, false},
    {"FirstRecord",          kNumber, 15, 2316,    1,    0, true,  true,  false},
    {"Font",                 kText,    3, 2317,   13, 2363, false, false, true},
    {"FontColor",            kText,    3, 2318,   13, 2363, false, false, false},
    {"FontFace",             kText,    3, 2319,   13, 2363, false, false, true},
    {"GraphicFormat",        kText,    1, 2617,   50,    0, true,  false, false},
    {"GraphicHeight",        kNumber, 19, 2345,   29,    0, false, true,  false},
    {"GraphicOffset",        kText,    1, 2618,   51,    0, true,  false, false},
    {"GraphicRatio",         kNumber, 19, 2619,   52,    0, true,  true,  false},
    {"GraphicStorage",       kText,    1, 2630,   67,   68, false, false, false},
    {"GraphicUnit",          kText,    1, 2620,   53,    0, true,  false, false},
    {"GraphicWidth",         kNumber, 19, 2346,   31,    0, false, true,  false},
    {"HideFormula",          kText,    0, 2333,   24,   25, false, true,  false},
    {"HotspotBorder",        kNumber, 11, 2320,   18,    0, false, true,  false},
    {"ImageInPixels",        kNumber, 11, 2607,   39,    0, false, true,  false},
    {"InsideHotspot",        kNumber, 14, 2615,    0,    0, true,  true,  false},
    {"LastRecord",           kNumber, 16, 2321,    1,    0, true,  true,  false},
    {"LinkAnchorText",       kText,    3, 2338,   15, 2362, false, false, true},
    {"LinkHintServer",       kText,    3, 2339,   15, 2362, false, false, true},
    {"LinkNoteUniversalID",  kText,    3, 2322,   15, 2362, false, false, true},
    {"LinkPopupText",        kText,    3, 2340,   15, 2362, false, false, true},
    {"LinkReplicaID",        kText,    3, 2323,   15, 2362, false, false, true},
    {"LinkURL",              kText,    3, 2341,   15, 2362, true,  false, false},
    {"LinkViewUniversalID",  kText,    3, 2324,   15, 2362, false, false, true},
    {"MaxRightMargin",       kNumber, 19, 2604,   36,    0, true,  true,  false},
    {"MinLeftMargin",        kNumber, 19, 2605,   36,    0, true,  true,  false},
    {"OLEFileName",          kText,    1, 2621,   12,    0, true,  false, false},
    {"OriginalFileName",     kText,    1, 2621,   12,    0, true,  false, false},
    {"PABID",                kNumber, 20, 2343,   26,    0, true,  true,  false},
    {"ParagraphStyle",       kText,    3, 2327,   14, 2364, false, false, false},
    {"PassthruHTML",         kNumber, 11, 2612,   47,   48, false, false, true},
    {"PointSize",            kNumber, 19, 2328,   13,    0, false, true,  false},
    {"PopupText",            kText,    0, 2340,   15, 2362, false, false, true},
    {"RecordType",           kNumber, 18, 2330,    0,    0, true,  true,  false},
    {"RegularExpression",    kNumber, 17, 2632,    0,    0, false, true,  true},
    {"RowLabel",             kText,    1, 2608,   41,   42, false, false, false},
    {"SearchWordBoundaries", kNumber, 17, 2613,    0,    0, false, true,  true},
    {"SectionTitle",         kText,    1, 2331,    7,    8, false, false, false},
    {"SetImpliedProperties", kNumber, 17, 2616,    0,    0, false, true,  true},
    {"SimpleParagraphStyle", kText,    3, 2614,   14, 2364, false, false, true},
    {"StyleName",            kText,    1, 2344,   27,    0, true,  false, false},
    {"TableFitToWindow",     kNumber, 11, 2347,   33,    0, false, true,  false},
    {"TargetColumn",         kNumber, 19, 2602,    0,    0, true,  true,  true},
    {"TargetFrame",          kText,    1, 2609,   43,   44, false, false, false},
    {"TargetNth",            kNumber, 19, 2623,    0,    0, true,  true,  true},
    {"TargetRow",            kNumber, 19, 2603,    0,    0, true,  true,  true},
    {"TargetType",           kText,    1, 2348,    0,    0, true,  false, true},
    {"Text",                 kText,    0, 2332,    9,   10, false, false, false},
    {"TextAttributes",       kText,    3, 2333,   13, 2363, false, false, false},
    {"TextWildcards",        kNumber, 17, 2334,    0,    0, false, true,  true},
    {"UnformattedText",      kText,    0, 2610,    9,   10, false, false, true},
    {"UnzoomedDefinition",   kText,    0, 2335,    0,    0, true,  false, true},
    {nullptr,                0,        0,    0,    0,    0, false, false, false},
};
// clang-format on

bool ActionWrites(WORD action) {
  if (action >= kFirstOperation && action <= kLastOperation)
    return action_parameter_table[action - kFirstOperation].writes;
  if (action >= kFirstLateOperation && action <= kLastLateOperation)
    return action_parameter_table[action - kFirstLateOperation + kFirstLateOperationRow].writes;
  for (WORD writing : kWritingPropertyActions) {
    if (action == writing)
      return true;
  }
  return false;
}

bool OperationWritesItem(WORD action, WORD p1) {
  if (action == ACTION_LINK_MATCHING && p1 == kLinkMatchingReadOnlyP1)
    return false;
  if (action == kReadOnlyAction2819 && p1 == kReadOnlyAction2819P1)
    return false;
  return ActionWrites(action);
}
