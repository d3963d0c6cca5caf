/*
 * The paragraph-style string parser: VelkoRTItem::ParseParagraphString and
 * the engine's ParseParagraphString, which parses into a paragraph_spec
 * block of the session.
 *
 * Each string is read key by key and word by word in a fixed order (not
 * the order of the text): the shifts (style string only), margins and
 * their extension words, spacing, tabs, justification, the flag words, the
 * list words and NO_FLAGS. Unknown keys and words are ignored; numbers are
 * the leading number of a value, clamped into 32 bits and then kept in 16
 * where the field is 16 bits wide.
 */
#include <math.h>
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include <string>

#include "chunk/paragraph_style.h"
#include "store/tracked_memory.h"
#include "velko/property_string.h"

namespace {

constexpr double kTwipsPerInch = 1440.0;
constexpr WORD kRightPercentDefault = 100;

/* The leading number of a value: optional blanks, sign, digits, decimal
 * point and fraction; 0 when there is none. No exponent, no "inf". */
double LeadingNumber(const char* text) {
  const char* p = text;
  while (*p == ' ')
    ++p;
  const char* start = p;
  if (*p == '+' || *p == '-')
    ++p;
  while (*p >= '0' && *p <= '9')
    ++p;
  if (*p == '.') {
    ++p;
    while (*p >= '0' && *p <= '9')
      ++p;
  }
  const std::string number(start, p);
  return strtod(number.c_str(), nullptr); // 0 for "", "-" or "."
}

/* A value turned into a 32-bit integer: truncated toward zero, clamped,
 * NaN as 0. */
int32_t ClampToInt32(double value) {
  if (isnan(value))
    return 0;
  if (value >= 2147483647.0)
    return INT32_MAX;
  if (value <= -2147483648.0)
    return INT32_MIN;
  return static_cast<int32_t>(value);
}

int32_t InchesToTwips(const char* value) {
  return ClampToInt32(LeadingNumber(value) * kTwipsPerInch);
}

int32_t LeadingInteger(const char* value) { return ClampToInt32(LeadingNumber(value)); }

/* The low 16 bits, as a 16-bit field keeps a value. */
WORD Low16(int32_t value) { return static_cast<WORD>(static_cast<uint32_t>(value)); }

bool SameWord(const char* value, const char* word) { return strcasecmp(value, word) == 0; }

WORD SpacingValue(const char* value) {
  if (SameWord(value, "DOUBLE"))
    return 2;
  if (SameWord(value, "SINGLE"))
    return 0;
  return 1;
}

WORD JustifyValue(const char* value) {
  static const char* const kModes[] = {"LEFT", "RIGHT", "FULL", "CENTER", "NONE"};
  for (WORD mode = 0; mode < 5; ++mode) {
    if (SameWord(value, kModes[mode]))
      return mode;
  }
  return 0;
}

/* The six flag masks while a call works on them. */
struct flag_masks {
  WORD set[3];
  WORD clear[3];
};

/* A flag word: the flags word it names (0 Flags, 1 Flags2, 2 Flags3), its
 * bit, and the Flags2 bit of the other kind of the same margin, which
 * setting it clears. Bare Flags3 words only mark the slot. */
struct flag_word {
  const char* word;
  int field;
  WORD bit;
  WORD other;
};

constexpr flag_word kFlagWordsBeforeLists[] = {
    {"PAGINATE_BEFORE", 0, 0x0001, 0},  {"KEEP_WITH_NEXT", 0, 0x0002, 0},
    {"KEEP_TOGETHER", 0, 0x0004, 0},    {"PROPAGATE", 0, 0x0008, 0},
    {"LM_PERCENT", 1, 0x0008, 0x0004},  {"LM_OFFSET", 1, 0x0004, 0x0008},
    {"LMF_PERCENT", 1, 0x0020, 0x0010}, {"LMF_OFFSET", 1, 0x0010, 0x0020},
    {"RM_PERCENT", 1, 0x0080, 0x0040},  {"RM_OFFSET", 1, 0x0040, 0x0080},
    {"HIDE_READ", 0, 0x0010, 0},        {"HIDE_PREVIEW_READ", 0, 0x2000, 0},
    {"HIDE_EDIT", 0, 0x0020, 0},        {"HIDE_PREVIEW_EDIT", 0, 0x4000, 0},
    {"HIDE_PRINT", 0, 0x0040, 0},       {"HIDE_MOBILE", 2, 0x0002, 0},
    {"HIDE_EMBEDDED", 2, 0x0001, 0},    {"HIDE_IF", 0, 0x0800, 0},
    {"DISPLAY_RIGHT", 0, 0x0080, 0},    {"LAYER_USES_RM", 2, 0x0004, 0},
    {"HIDE_COPY", 0, 0x0200, 0},
};

constexpr flag_word kFlagWordsAfterLists[] = {
    {"HIDE_NOTES", 0, 0x8000, 0},
    {"TABLE_FLAGS", 0, 0x0006, 0},
    {"HIDE_WEB", 1, 0x0001, 0},
    {"RTL", 1, 0x4000, 0},
};

constexpr const char* kListWords[] = {
    "LIST_TYPE",        "BULLET",           "NUMBERED_LIST",    "CHECKED_LIST",
    "CIRCLE_LIST",      "SQUARE_LIST",      "UNCHECKED_LIST",   "LOWER_ALPHA_LIST",
    "LOWER_ROMAN_LIST", "UPPER_ALPHA_LIST", "UPPER_ROMAN_LIST",
};

enum class word_action { set, clear, bare };

/* The first acceptable occurrence of the word decides its action by the
 * character before it. False when the word does not occur. */
bool FindWord(const char* text, const char* word, word_action* action) {
  const char* hit = ExtractFlag(text, word);
  if (hit == nullptr)
    return false;
  const char before = hit == text ? '\0' : hit[-1];
  *action = before == '+'   ? word_action::set
            : before == '-' ? word_action::clear
                            : word_action::bare;
  return true;
}

/* Reads one string into its entry, the masks and its criteria row. */
class string_reader {
public:
  string_reader(const char* text, char* value, _CDPABDEFEXT* entry, flag_masks* masks,
                int* criteria)
      : text_(text), value_(value), entry_(entry), def_(entry->Definition), masks_(masks),
        criteria_(criteria) {}

  void Shifts(int32_t* leftOffset, int32_t* rightOffset, int32_t* leftPercent,
              int32_t* rightPercent) {
    if (Key("ShiftLeftOffset="))
      *leftOffset = Mark(kCritShiftLeftOffset, InchesToTwips(value_));
    if (Key("ShiftLeftPercent="))
      *leftPercent = Mark(kCritShiftLeftPercent, LeadingInteger(value_));
    if (Key("ShiftRightOffset="))
      *rightOffset = Mark(kCritShiftRightOffset, InchesToTwips(value_));
    if (Key("ShiftRightPercent="))
      *rightPercent = Mark(kCritShiftRightPercent, LeadingInteger(value_));
  }

  void Margins() {
    if (Key("LEFTMARGIN="))
      def_.LeftMargin = Low16(Mark(kCritLeftMargin, InchesToTwips(value_)));
    if (Key("RIGHTMARGIN="))
      def_.RightMargin = Low16(Mark(kCritRightMargin, InchesToTwips(value_)));
    if (Key("LEFTMARGINFIRST="))
      def_.FirstLineLeftMargin = Low16(Mark(kCritFirstLineMargin, InchesToTwips(value_)));
    if (Key("LEFTMARGINOFFSET=")) {
      entry_->LeftMarginOffset = Low16(InchesToTwips(value_));
      Extension(kCritLeftExtension, 0x0004, 0x0008, 0);
    }
    if (Key("LEFTMARGINPERCENT=")) {
      entry_->LeftMarginPercent = Low16(LeadingInteger(value_));
      Extension(kCritLeftExtension, 0x0008, 0x0004, 0);
    }
    if (Key("FirstLeftMarginOffset=") || Key("FirstLineLeftMarginOffset=")) {
      entry_->FirstLineLeftMarginOffset = Low16(InchesToTwips(value_));
      Extension(kCritFirstLineExtension, 0x0010, 0x0020, 0);
    } else if (Key("FirstLeftMarginPercent=") || Key("FirstLineLeftMarginPercent=")) {
      entry_->FirstLineLeftMarginPercent = Low16(LeadingInteger(value_));
      Extension(kCritFirstLineExtension, 0x0020, 0x0010, 0);
    }
    if (Key("RightMarginOffset=")) {
      entry_->RightMarginOffset = Low16(InchesToTwips(value_));
      Extension(kCritRightExtension, 0x0040, 0x0080, 0x0400);
    }
    if (Key("RightMarginPercent=")) {
      const WORD percent = Low16(LeadingInteger(value_));
      entry_->RightMarginPercent = percent != 0 ? percent : kRightPercentDefault;
      Extension(kCritRightExtension, 0x0080, 0x0040, 0x0400);
    }
  }

  void SpacingTabsAndJustify() {
    if (Key("Above="))
      def_.ParagraphSpacingBefore = Mark(kCritSpacingBefore, SpacingValue(value_));
    if (Key("Below="))
      def_.ParagraphSpacingAfter = Mark(kCritSpacingAfter, SpacingValue(value_));
    if (Key("InterLine="))
      def_.LineSpacing = Mark(kCritLineSpacing, SpacingValue(value_));
    if (Key("TabInterval=")) {
      def_.Tab[0] = static_cast<int16_t>(Low16(InchesToTwips(value_)));
      def_.Tabs = 0;
      criteria_[kCritTabInterval] = 1;
    }
    if (Key("Tabs=")) {
      criteria_[kCritTabs] = 1;
      TabStops();
    }
    if (Key("Justify="))
      def_.JustifyMode = Mark(kCritJustify, JustifyValue(value_));
  }

  void FlagWords(const flag_word* words, size_t count) {
    for (size_t i = 0; i < count; ++i) {
      const flag_word& word = words[i];
      word_action action;
      if (!FindWord(text_, word.word, &action))
        continue;
      switch (action) {
      case word_action::set:
        masks_->set[word.field] |= word.bit;
        if (word.other != 0) {
          masks_->clear[1] |= word.other;
          criteria_[kCritClearMask] = 1;
        }
        criteria_[kCritSetMask] = 1;
        break;
      case word_action::clear:
        masks_->clear[word.field] |= word.bit;
        criteria_[kCritClearMask] = 1;
        break;
      case word_action::bare:
        if (word.field == 0)
          def_.Flags |= word.bit;
        else if (word.field == 1)
          def_.Flags2 |= word.bit;
        if (word.other != 0) {
          masks_->clear[1] |= word.other;
          criteria_[kCritClearMask] = 1;
        }
        criteria_[kCritFlags] = 1;
        break;
      }
    }
  }

  void ListWords(DWORD* listSet, DWORD* listClear) {
    DWORD set = 0;
    DWORD clear = 0;
    for (size_t i = 0; i < sizeof kListWords / sizeof kListWords[0]; ++i) {
      const DWORD bit = DWORD{1} << i;
      word_action action;
      if (!FindWord(text_, kListWords[i], &action))
        continue;
      if (action == word_action::clear) {
        clear |= bit;
        criteria_[kCritListClear] = 1;
        continue;
      }
      set = action == word_action::set ? set | bit : bit; // a bare word replaces
      criteria_[kCritListSet] = 1;
    }
    *listSet = set;
    *listClear = clear;
  }

  void NoFlags() {
    if (stristr(text_, "NO_FLAGS") == nullptr)
      return;
    def_.Flags = 0;
    criteria_[kCritFlags] = 1;
  }

private:
  bool Key(const char* key) {
    return ExtractProperty(text_, key, value_, VELKO_SCRATCH_TEXT_SIZE) != 0;
  }

  template <typename T> T Mark(int slot, T value) {
    criteria_[slot] = 1;
    return value;
  }

  /* A margin given as an offset or a percentage: its Flags2 bit on, the
   * other kind's bit (and `alsoOff`) off, in the entry and in the masks. */
  void Extension(int slot, WORD bit, WORD other, WORD alsoOff) {
    def_.Flags2 = static_cast<WORD>((def_.Flags2 | bit) & ~(other | alsoOff));
    masks_->set[1] |= bit;
    masks_->clear[1] |= static_cast<WORD>(other | alsoOff);
    criteria_[slot] = 1;
    criteria_[kCritSetMask] = 1;
    criteria_[kCritClearMask] = 1;
  }

  /* "Tabs=": up to 20 stops, each an optional type letter and a position
   * in inches, separated by commas, semicolons, double quotes or blanks.
   * The count includes a stop whose text is empty and the position of an
   * unusable character, which ends the list and keeps its old value. */
  void TabStops() {
    const char* p = value_;
    if (*p == '\0') {
      def_.Tab[0] = 0;
      def_.Tabs = 0;
      return;
    }
    constexpr int kStops = 20;
    constexpr int kTypedStops = 16;
    int k = 0;
    while (k < kStops) {
      DWORD type = 0;
      if (!ReadTabType(&p, &type)) {
        ++k;
        break;
      }
      def_.Tab[k] = static_cast<int16_t>(Low16(InchesToTwips(p)));
      if (k < kTypedStops) // the type word has room for 16 stops
        def_.TabTypes |= type << (2 * k);
      const char* end = p;
      while (*end != '\0' && !IsTabSeparator(*end))
        ++end;
      ++k;
      if (end == p)
        break;
      while (*end != '\0' && IsTabSeparator(*end))
        ++end;
      p = end;
      if (*p == '\0')
        break;
    }
    def_.Tabs = static_cast<WORD>(k);
  }

  /* The stop's type letter (0 left, 1 right, 2 decimal, 3 center), stepping
   * over it; a stop that starts with a digit or '.' is left. False for any
   * other start. */
  static bool ReadTabType(const char** p, DWORD* type) {
    switch (**p) {
    case 'L':
    case 'l': *type = 0; break;
    case 'R':
    case 'r': *type = 1; break;
    case 'D':
    case 'd': *type = 2; break;
    case 'C':
    case 'c': *type = 3; break;
    default: *type = 0; return (**p >= '0' && **p <= '9') || **p == '.';
    }
    ++*p;
    return true;
  }

  static bool IsTabSeparator(char c) { return c == ',' || c == ';' || c == '"' || c == ' '; }

  const char* text_;
  char* value_;
  _CDPABDEFEXT* entry_;
  CDPABDEFINITION& def_;
  flag_masks* masks_;
  int* criteria_;
};

} // namespace

STATUS VelkoRTItem::ParseParagraphString(const char* style, const char* selection,
                                         _CDPABDEFEXT* defs, WORD* setFlags, WORD* clearFlags,
                                         WORD* setFlags2, WORD* clearFlags2, WORD* setFlags3,
                                         WORD* clearFlags3, DWORD listSet[2], DWORD listClear[2],
                                         int32_t* shiftLeftOffset, int32_t* shiftRightOffset,
                                         int32_t* shiftLeftPercent, int32_t* shiftRightPercent,
                                         int criteria[2][21]) {
  if (style == nullptr)
    return VELKO_ERR_BAD_ARGUMENT;
  memset(criteria, 0, sizeof(int) * 2 * kCriteriaSlots);
  char local[VELKO_SCRATCH_TEXT_SIZE];
  char* value = session != nullptr ? session->scratch_second : local;
  flag_masks masks = {{*setFlags, *setFlags2, *setFlags3},
                      {*clearFlags, *clearFlags2, *clearFlags3}};
  const char* texts[2] = {style, selection};
  for (int i = 0; i < 2; ++i) {
    const char* text = texts[i];
    if (text == nullptr || *text == '\0')
      continue;
    _CDPABDEFEXT* entry = &defs[i];
    entry->Definition.Flags = 0;
    entry->Definition.Flags2 = 0;
    string_reader reader(text, value, entry, &masks, criteria[i]);
    if (i == 0)
      reader.Shifts(shiftLeftOffset, shiftRightOffset, shiftLeftPercent, shiftRightPercent);
    reader.Margins();
    reader.SpacingTabsAndJustify();
    reader.FlagWords(kFlagWordsBeforeLists, sizeof kFlagWordsBeforeLists / sizeof(flag_word));
    reader.ListWords(&listSet[i], &listClear[i]);
    reader.FlagWords(kFlagWordsAfterLists, sizeof kFlagWordsAfterLists / sizeof(flag_word));
    reader.NoFlags();
  }
  *setFlags = masks.set[0];
  *setFlags2 = masks.set[1];
  *setFlags3 = masks.set[2];
  *clearFlags = masks.clear[0];
  *clearFlags2 = masks.clear[1];
  *clearFlags3 = masks.clear[2];
  return NOERROR;
}

STATUS ParseParagraphString(VelkoRTItem* item, const char* text, const char* second,
                            paragraph_spec** spec) {
  if (spec != nullptr)
    *spec = nullptr;
  if (item == nullptr || spec == nullptr || text == nullptr)
    return VELKO_ERR_BAD_ARGUMENT;
  auto* made = static_cast<paragraph_spec*>(
      VelkoAllocatePtr(item->session, VELKO_HERE, sizeof(paragraph_spec), 1));
  if (made == nullptr)
    return VELKO_ERR_MEMORY;
  const STATUS status = item->ParseParagraphString(
      text, second, made->entries, &made->set_flags, &made->clear_flags, &made->set_flags2,
      &made->clear_flags2, &made->set_flags3, &made->clear_flags3, made->list_set, made->list_clear,
      &made->shift_left_offset, &made->shift_right_offset, &made->shift_left_percent,
      &made->shift_right_percent, made->criteria);
  if (status != NOERROR) {
    VelkoDeallocatePtr(item->session, made);
    return status;
  }
  *spec = made;
  return NOERROR;
}
