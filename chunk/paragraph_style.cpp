/*
 * Paragraph definitions against parsed paragraph-style strings: matching a
 * definition to a selection, updating it with new values, comparing two
 * definitions and writing one back as text (chunk/paragraph_style.h).
 *
 * Every definition that comes from a record is read through a zeroed
 * 92-byte copy of at most its Length bytes, and its Tabs count is read as
 * at most 20, so no routine reads past a record or past its tab array.
 */
#include <stdarg.h>
#include <stdio.h>
#include <string.h>

#include "chunk/paragraph_style.h"

namespace {

constexpr int kTabStops = 20;
constexpr WORD kListFlags = 0x1400;  /* bulleted 0x0400, numbered 0x1000 */
constexpr WORD kListStyles = 0x3802; /* list-style bits of Flags2 */
constexpr WORD kBulleted = 0x0400;
constexpr WORD kNumbered = 0x1000;
constexpr WORD kUpdated = 0x0100;   /* Flags: set by every update */
constexpr WORD kFullForm = 0x8000;  /* Flags2: the record has Flags3 */
constexpr int kImpliedIndent = 360; /* twips a list indents by */
constexpr int kImpliedPercent = 3;
constexpr WORD kDefaultMarginTwips = 1440;
constexpr WORD kDefaultMarginPercent = 12;
constexpr WORD kRightPercentDefault = 100;
constexpr int kPercentWidth = 12024; /* twips a percentage is taken of */
constexpr double kTwipsPerInch = 1440.0;

/* A list kind: its Flags list bit and its Flags2 list-style bits. */
struct list_kind {
  DWORD bit;
  WORD flags;
  WORD styles;
};

constexpr list_kind kKindTable[] = {
    {0x002, kBulleted, 0x0000}, {0x004, kNumbered, 0x0000}, {0x008, kBulleted, 0x0002},
    {0x010, kBulleted, 0x0800}, {0x020, kBulleted, 0x1000}, {0x040, kBulleted, 0x2000},
    {0x080, kNumbered, 0x1802}, {0x100, kNumbered, 0x1002}, {0x200, kNumbered, 0x1800},
    {0x400, kNumbered, 0x0802},
};

/* The definition in a zeroed 92-byte area: at most its Length bytes. */
_CDPABDEFEXT WorkCopy(const _CDPABDEFEXT* record) {
  _CDPABDEFEXT copy;
  memset(&copy, 0, sizeof copy);
  if (record == nullptr)
    return copy;
  size_t length = record->Definition.Header.Length;
  if (length > sizeof copy)
    length = sizeof copy;
  memcpy(&copy, record, length);
  return copy;
}

int TabCount(const CDPABDEFINITION& d) { return d.Tabs > kTabStops ? kTabStops : d.Tabs; }

bool Has(WORD word, WORD bits) { return (word & bits) != 0; }

bool HasListBits(const CDPABDEFINITION& d) {
  return Has(d.Flags, kListFlags) || Has(d.Flags2, kListStyles);
}

void ClearListBits(CDPABDEFINITION& d) {
  d.Flags &= static_cast<WORD>(~kListFlags);
  d.Flags2 &= static_cast<WORD>(~kListStyles);
}

/* Whether the definition is of the kind (LIST_TYPE: any list). */
bool IsOfKind(const CDPABDEFINITION& d, DWORD bit) {
  if (bit == kListAny)
    return Has(d.Flags, kListFlags);
  for (const list_kind& kind : kKindTable) {
    if (kind.bit == bit)
      return (d.Flags & kListFlags) == kind.flags && (d.Flags2 & kListStyles) == kind.styles;
  }
  return false;
}

bool IsOfAnyKind(const CDPABDEFINITION& d, DWORD mask) {
  for (DWORD bit = kListAny; bit <= kListUpperRoman; bit <<= 1) {
    if ((mask & bit) != 0 && IsOfKind(d, bit))
      return true;
  }
  return false;
}

/* A margin's extension words agree: the offset and percentage bits are the
 * same in both, and so is the value of each bit that is set. */
bool ExtensionAgrees(WORD existingFlags2, WORD wantedFlags2, WORD offsetBit, WORD percentBit,
                     WORD existingOffset, WORD wantedOffset, WORD existingPercent,
                     WORD wantedPercent) {
  const WORD bits = offsetBit | percentBit;
  if ((existingFlags2 & bits) != (wantedFlags2 & bits))
    return false;
  if (Has(existingFlags2, offsetBit) && existingOffset != wantedOffset)
    return false;
  return !Has(existingFlags2, percentBit) || existingPercent == wantedPercent;
}

WORD Add16(WORD value, int32_t amount) {
  return static_cast<WORD>(value + static_cast<WORD>(static_cast<uint32_t>(amount)));
}

} // namespace

int MatchParagraph(const _CDPABDEFEXT* existing, const _CDPABDEFEXT* wanted, DWORD listSet,
                   DWORD listClear, const int* c) {
  if (wanted == nullptr || c == nullptr)
    return 1;
  const _CDPABDEFEXT e = WorkCopy(existing);
  const CDPABDEFINITION& E = e.Definition;
  const CDPABDEFINITION& W = wanted->Definition;
  if ((c[kCritLeftMargin] && E.LeftMargin != W.LeftMargin) ||
      (c[kCritRightMargin] && E.RightMargin != W.RightMargin) ||
      (c[kCritFirstLineMargin] && E.FirstLineLeftMargin != W.FirstLineLeftMargin))
    return 0;
  if (c[kCritLeftExtension] &&
      !ExtensionAgrees(E.Flags2, W.Flags2, 0x0004, 0x0008, e.LeftMarginOffset,
                       wanted->LeftMarginOffset, e.LeftMarginPercent, wanted->LeftMarginPercent))
    return 0;
  if (c[kCritRightExtension] &&
      !ExtensionAgrees(E.Flags2, W.Flags2, 0x0040, 0x0080, e.RightMarginOffset,
                       wanted->RightMarginOffset, e.RightMarginPercent, wanted->RightMarginPercent))
    return 0;
  if (c[kCritFirstLineExtension] &&
      !ExtensionAgrees(E.Flags2, W.Flags2, 0x0010, 0x0020, e.FirstLineLeftMarginOffset,
                       wanted->FirstLineLeftMarginOffset, e.FirstLineLeftMarginPercent,
                       wanted->FirstLineLeftMarginPercent))
    return 0;
  if (c[kCritListSet] && !IsOfAnyKind(E, listSet))
    return 0;
  if (c[kCritListClear] && IsOfAnyKind(E, listClear))
    return 0;
  if ((c[kCritSpacingBefore] && E.ParagraphSpacingBefore != W.ParagraphSpacingBefore) ||
      (c[kCritSpacingAfter] && E.ParagraphSpacingAfter != W.ParagraphSpacingAfter) ||
      (c[kCritLineSpacing] && E.LineSpacing != W.LineSpacing))
    return 0;
  if (c[kCritTabs]) {
    if (E.Tabs != W.Tabs || E.TabTypes != W.TabTypes)
      return 0;
    for (int k = 0; k < TabCount(E); ++k) {
      if (E.Tab[k] != W.Tab[k])
        return 0;
    }
  }
  if (c[kCritTabInterval] && (E.Tabs != 0 || E.Tab[0] != W.Tab[0]))
    return 0;
  if (c[kCritJustify] && E.JustifyMode != W.JustifyMode)
    return 0;
  if (c[kCritFlags] && E.Flags != W.Flags)
    return 0;
  return 1;
}

namespace {

/* One update: the target's work copy, the working masks and what the
 * record's length must grow to. */
struct paragraph_update {
  _CDPABDEFEXT t;
  _CDPABDEFEXT* v;
  int* c;
  WORD s2;
  WORD c2;
  bool setImplied;
  bool extension = false;
  bool full = false;
  int32_t leftShift;
  int32_t percentShift;

  CDPABDEFINITION& T() { return t.Definition; }
  CDPABDEFINITION& V() { return v->Definition; }
  void MarkBothMasks() { c[kCritSetMask] = c[kCritClearMask] = 1; }

  /* The implied list indentation: a list given to a paragraph that has
   * none moves it right, a list taken away moves it left, unless a left
   * margin is named. */
  void ImpliedListShift(DWORD listSet, DWORD listClear) {
    const bool marginNamed = c[kCritLeftMargin] || c[kCritFirstLineMargin] ||
                             c[kCritLeftExtension] || c[kCritFirstLineExtension];
    int direction = 0;
    if (c[kCritListSet] && (listSet & kListKinds) != 0 && !HasListBits(T())) {
      if (!marginNamed)
        direction = 1;
    } else if (c[kCritListClear] && IsOfAnyKind(T(), listClear) && !marginNamed) {
      direction = -1;
    }
    if (direction == 0)
      return;
    if (!c[kCritShiftLeftOffset]) {
      leftShift = direction * kImpliedIndent;
      c[kCritShiftLeftOffset] = 1;
    }
    if (!c[kCritShiftLeftPercent]) {
      percentShift = direction * kImpliedPercent;
      c[kCritShiftLeftPercent] = 1;
    }
  }

  void ImpliedLeftOffset(WORD value) {
    c[kCritLeftExtension] = 1;
    v->LeftMarginOffset = value;
    V().Flags2 |= 0x0004;
    s2 |= 0x0004;
    c2 |= 0x0108;
    MarkBothMasks();
  }

  void ImpliedFirstLineOffset(WORD value, WORD clear) {
    c[kCritFirstLineExtension] = 1;
    v->FirstLineLeftMarginOffset = value;
    V().Flags2 |= 0x0010;
    s2 |= 0x0010;
    c2 |= clear;
    MarkBothMasks();
  }

  void LeftMargin() {
    if (c[kCritLeftMargin]) {
      T().LeftMargin = V().LeftMargin;
      if (!setImplied)
        return;
      if (!c[kCritFirstLineMargin])
        T().FirstLineLeftMargin = V().LeftMargin;
      if (!c[kCritLeftExtension])
        ImpliedLeftOffset(V().LeftMargin);
      if (!c[kCritFirstLineExtension] && !c[kCritFirstLineMargin])
        ImpliedFirstLineOffset(V().LeftMargin, 0x0220);
    } else if (c[kCritShiftLeftOffset]) {
      T().LeftMargin = Add16(T().LeftMargin, leftShift);
      if (setImplied) {
        c2 |= 0x0300;
        c[kCritClearMask] = 1;
      }
    }
  }

  void RightMargin(int32_t shiftRightOffset) {
    if (c[kCritRightMargin]) {
      T().RightMargin = V().RightMargin;
      if (!setImplied || c[kCritRightExtension])
        return;
      c[kCritRightExtension] = 1;
      if (V().RightMargin == 0) {
        v->RightMarginPercent = kRightPercentDefault;
        V().Flags2 |= 0x0080;
        s2 |= 0x0080;
        c2 |= 0x0040;
      } else {
        v->RightMarginOffset = V().RightMargin;
        V().Flags2 |= 0x0040;
        s2 |= 0x0040;
        c2 |= 0x0080;
      }
      MarkBothMasks();
      return;
    }
    if (c[kCritShiftRightOffset])
      T().RightMargin = Add16(T().RightMargin, shiftRightOffset);
    if (setImplied && !c[kCritRightExtension] && !Has(T().Flags2, 0x0040 | 0x0080 | 0x0400)) {
      // The default right margin: 100 percent, written where the bit is.
      s2 |= 0x0480;
      c2 |= 0x0040;
      t.RightMarginPercent = kRightPercentDefault;
      extension = true;
      MarkBothMasks();
    }
  }

  void FirstLineMargin() {
    if (c[kCritFirstLineMargin]) {
      T().FirstLineLeftMargin = V().FirstLineLeftMargin;
      if (!setImplied)
        return;
      if (!c[kCritLeftMargin] && !c[kCritFirstLineExtension])
        T().LeftMargin = V().FirstLineLeftMargin;
      if (!c[kCritFirstLineExtension])
        ImpliedFirstLineOffset(V().FirstLineLeftMargin, 0x0220);
    } else if (c[kCritShiftLeftOffset]) {
      T().FirstLineLeftMargin = Add16(T().FirstLineLeftMargin, leftShift);
      if (setImplied) {
        c2 |= 0x0200;
        c[kCritClearMask] = 1;
      }
    }
  }

  /* Shifts an offset or percentage word, starting from its default when
   * it is 0 (then the margin's default bit goes). */
  void ShiftWord(WORD* word, int32_t shift, WORD fromDefault, WORD defaultBit) {
    if (*word != 0) {
      *word = Add16(*word, shift);
    } else {
      *word = Add16(fromDefault, shift);
      T().Flags2 &= static_cast<WORD>(~defaultBit);
    }
    extension = true;
  }

  void LeftExtension() {
    if (c[kCritLeftExtension]) {
      c2 |= 0x0300;
      c[kCritClearMask] = 1;
      // The margin's kind bits go with its value (as for the right and
      // first-line margins), also for the later definitions of an
      // operation, whose working masks no longer carry the implied ones.
      if (Has(V().Flags2, 0x0004)) {
        t.LeftMarginOffset = v->LeftMarginOffset;
        s2 |= 0x0004;
        c2 |= 0x0008;
        MarkBothMasks();
        extension = true;
        if (setImplied) {
          if (!c[kCritFirstLineExtension] && !c[kCritFirstLineMargin])
            ImpliedFirstLineOffset(v->LeftMarginOffset, 0x0020);
          if (!c[kCritLeftMargin])
            T().LeftMargin = v->LeftMarginOffset;
          if (!c[kCritFirstLineMargin] && !c[kCritLeftMargin])
            T().FirstLineLeftMargin = v->LeftMarginOffset;
        }
      }
      if (Has(V().Flags2, 0x0008)) {
        t.LeftMarginPercent = v->LeftMarginPercent;
        s2 |= 0x0008;
        c2 |= 0x0004;
        MarkBothMasks();
        extension = true;
        if (setImplied) {
          if (!c[kCritFirstLineExtension] && !c[kCritFirstLineMargin]) {
            c[kCritFirstLineExtension] = 1;
            t.FirstLineLeftMarginPercent = v->FirstLineLeftMarginPercent = v->LeftMarginPercent;
            V().Flags2 |= 0x0020;
            s2 |= 0x0020;
            c2 |= 0x0010;
            MarkBothMasks();
          }
          const WORD twips = static_cast<WORD>(v->LeftMarginPercent * kPercentWidth / 100);
          if (!c[kCritLeftMargin])
            T().LeftMargin = twips;
          if (!c[kCritFirstLineMargin] && !c[kCritLeftMargin])
            T().FirstLineLeftMargin = twips;
        }
      }
    } else if (c[kCritShiftLeftOffset]) {
      c2 |= 0x0300;
      c[kCritClearMask] = 1;
      if (Has(T().Flags2 | V().Flags2, 0x0004))
        ShiftWord(&t.LeftMarginOffset, leftShift, kDefaultMarginTwips, 0x0100);
      if (Has(T().Flags2 | V().Flags2, 0x0008))
        ShiftWord(&t.LeftMarginPercent, percentShift, kDefaultMarginPercent, 0x0100);
    }
  }

  void RightExtension(int32_t shiftRightOffset, int32_t shiftRightPercent) {
    if (c[kCritRightExtension]) {
      if (Has(V().Flags2, 0x0040)) {
        t.RightMarginOffset = v->RightMarginOffset;
        s2 |= 0x0040;
        c2 |= 0x0080;
        MarkBothMasks();
        extension = true;
      }
      if (Has(V().Flags2, 0x0080)) {
        t.RightMarginPercent = v->RightMarginPercent;
        if (t.RightMarginPercent == 0)
          t.RightMarginPercent = v->RightMarginPercent = kRightPercentDefault;
        s2 |= 0x0080;
        c2 |= 0x0040;
        MarkBothMasks();
        extension = true;
      }
    } else if (c[kCritShiftRightOffset]) {
      if (Has(T().Flags2 | V().Flags2, 0x0040)) {
        t.RightMarginOffset = Add16(t.RightMarginOffset, shiftRightOffset);
        extension = true;
      }
      if (Has(T().Flags2 | V().Flags2, 0x0080)) {
        t.RightMarginPercent = Add16(t.RightMarginPercent, shiftRightPercent);
        extension = true;
      }
    }
  }

  void FirstLineExtension() {
    if (c[kCritFirstLineExtension]) {
      c2 |= 0x0200;
      c[kCritClearMask] = 1;
      if (Has(V().Flags2, 0x0010)) {
        t.FirstLineLeftMarginOffset = v->FirstLineLeftMarginOffset;
        s2 |= 0x0010;
        c2 |= 0x0020;
        c[kCritSetMask] = 1;
        extension = true;
      }
      if (Has(V().Flags2, 0x0020)) {
        t.FirstLineLeftMarginPercent = v->FirstLineLeftMarginPercent;
        s2 |= 0x0020;
        c2 |= 0x0010;
        c[kCritSetMask] = 1;
        extension = true;
      }
    } else if (c[kCritShiftLeftOffset]) {
      c2 |= 0x0200;
      c[kCritClearMask] = 1;
      if (Has(T().Flags2 | V().Flags2, 0x0010))
        ShiftWord(&t.FirstLineLeftMarginOffset, leftShift, kDefaultMarginTwips, 0x0200);
      if (Has(T().Flags2 | V().Flags2, 0x0020))
        ShiftWord(&t.FirstLineLeftMarginPercent, percentShift, kDefaultMarginPercent, 0x0200);
    }
  }

  void Copies() {
    if (c[kCritSpacingBefore])
      T().ParagraphSpacingBefore = V().ParagraphSpacingBefore;
    if (c[kCritSpacingAfter])
      T().ParagraphSpacingAfter = V().ParagraphSpacingAfter;
    if (c[kCritLineSpacing])
      T().LineSpacing = V().LineSpacing;
    if (c[kCritJustify])
      T().JustifyMode = V().JustifyMode;
    if (c[kCritTabs]) {
      T().Tabs = static_cast<WORD>(TabCount(V()));
      for (int k = 0; k < T().Tabs; ++k)
        T().Tab[k] = V().Tab[k];
      T().TabTypes = V().TabTypes;
    }
    if (c[kCritTabInterval]) {
      T().Tab[0] = V().Tab[0];
      T().Tabs = 0;
    }
    if (c[kCritFlags]) {
      // Whole words, but an updated definition keeps its update mark, and
      // the full-form bit stays with the record's form.
      T().Flags = static_cast<WORD>(V().Flags | kUpdated);
      T().Flags2 = static_cast<WORD>((V().Flags2 & ~kFullForm) | (T().Flags2 & kFullForm));
    }
  }

  void RemoveLists(DWORD listClear) {
    if ((listClear & kListAny) != 0) {
      ClearListBits(T());
      return;
    }
    for (const list_kind& kind : kKindTable) {
      if ((listClear & kind.bit) != 0 && IsOfKind(T(), kind.bit)) {
        ClearListBits(T());
        return;
      }
    }
  }

  void SetLists(DWORD listSet) {
    if ((listSet & kListKinds) == 0) {
      if ((listSet & kListAny) != 0)
        T().Flags |= kBulleted;
      return;
    }
    ClearListBits(T());
    for (const list_kind& kind : kKindTable) {
      if ((listSet & kind.bit) != 0) {
        T().Flags |= kind.flags;
        T().Flags2 |= kind.styles;
        return;
      }
    }
  }

  void SettleLength() {
    CDPABDEFINITION& d = T();
    if (t.Flags3 == 0)
      full = false;
    if (full && d.Header.Length < kPabdefFullLength) {
      d.Header.Length = kPabdefFullLength;
      t.ExtFlags |= 1;
      d.Flags2 |= kFullForm;
    } else if (extension && d.Header.Length < kPabdefExtendedLength) {
      d.Header.Length = kPabdefExtendedLength;
    }
    if (d.Header.Length < kPabdefFullLength) {
      t.ExtFlags &= ~DWORD{1};
      d.Flags2 &= static_cast<WORD>(~kFullForm);
    }
  }
};

} // namespace

void UpdateParagraph(_CDPABDEFEXT* target, _CDPABDEFEXT* values, WORD setFlags, WORD clearFlags,
                     WORD setFlags2, WORD clearFlags2, WORD setFlags3, WORD clearFlags3,
                     DWORD listSet, DWORD listClear, int32_t shiftLeftOffset,
                     int32_t shiftRightOffset, int32_t shiftLeftPercent, int32_t shiftRightPercent,
                     int* criteria, DWORD setImplied, DWORD forceFlags3) {
  if (target == nullptr || values == nullptr || criteria == nullptr)
    return;
  paragraph_update u;
  u.t = WorkCopy(target);
  u.v = values;
  u.c = criteria;
  u.s2 = setFlags2;
  u.c2 = clearFlags2;
  u.setImplied = setImplied != 0;
  u.leftShift = shiftLeftOffset;
  u.percentShift = shiftLeftPercent;
  int* c = criteria;
  u.T().Flags |= kUpdated;
  const int savedShiftOffset = c[kCritShiftLeftOffset];
  const int savedShiftPercent = c[kCritShiftLeftPercent];
  if (u.setImplied)
    u.ImpliedListShift(listSet, listClear);
  u.LeftMargin();
  u.RightMargin(shiftRightOffset);
  u.FirstLineMargin();
  u.LeftExtension();
  u.RightExtension(shiftRightOffset, shiftRightPercent);
  u.FirstLineExtension();
  u.Copies();
  if (c[kCritListClear])
    u.RemoveLists(listClear);
  if (c[kCritClearMask]) {
    u.T().Flags &= static_cast<WORD>(~clearFlags);
    u.T().Flags2 &= static_cast<WORD>(~u.c2);
    u.t.Flags3 &= static_cast<DWORD>(static_cast<WORD>(~clearFlags3));
  }
  if (c[kCritListSet])
    u.SetLists(listSet);
  if (forceFlags3 != 0) {
    u.T().Flags2 |= kFullForm;
    u.t.ExtFlags = 1;
    if (u.T().Header.Length < kPabdefFullLength)
      u.t.Flags3 = 0x0004;
    u.full = true;
  }
  if (c[kCritSetMask]) {
    u.T().Flags |= setFlags;
    u.T().Flags2 |= u.s2;
    if (setFlags3 != 0) {
      u.T().Flags2 |= kFullForm;
      u.t.ExtFlags |= 1;
      u.t.Flags3 |= setFlags3;
      u.full = true;
    }
  }
  if (u.setImplied) {
    c[kCritShiftLeftOffset] = savedShiftOffset;
    c[kCritShiftLeftPercent] = savedShiftPercent;
  }
  u.SettleLength();
  memcpy(target, &u.t, sizeof u.t);
}

int CompareParagraphs(LSXLsiSession*, const _CDPABDEFEXT* a, const _CDPABDEFEXT* b,
                      int checkLength) {
  if (a == nullptr || b == nullptr)
    return a == b ? 1 : 0;
  if (checkLength != 0 && a->Definition.Header.Length != b->Definition.Header.Length)
    return 0;
  _CDPABDEFEXT copies[2] = {WorkCopy(a), WorkCopy(b)};
  for (_CDPABDEFEXT& copy : copies) {
    CDPABDEFINITION& d = copy.Definition;
    d.Header.Length = 0;
    d.PABID = 0;
    // With no explicit stops Tab[0] is the interval and stays compared.
    for (int k = d.Tabs == 0 ? 1 : TabCount(d); k < kTabStops; ++k)
      d.Tab[k] = 0;
  }
  return memcmp(&copies[0], &copies[1], sizeof copies[0]) == 0 ? 1 : 0;
}

namespace {

/* Appends to the dump's text, which has room for a scratch text. */
class dump_writer {
public:
  explicit dump_writer(char* out) : out_(out), used_(0) { out_[0] = '\0'; }

  void Put(const char* text) { Format("%s", text); }

  __attribute__((format(printf, 2, 3))) void Format(const char* format, ...) {
    if (used_ + 1 >= kRoom)
      return;
    va_list args;
    va_start(args, format);
    const int n = vsnprintf(out_ + used_, kRoom - used_, format, args);
    va_end(args);
    if (n > 0)
      used_ = used_ + static_cast<size_t>(n) < kRoom ? used_ + n : kRoom - 1;
  }

  void Inches(const char* format, int value) { Format(format, value / kTwipsPerInch); }

  void DropTrailingBlank() {
    if (used_ > 0 && out_[used_ - 1] == ' ')
      out_[--used_] = '\0';
  }

private:
  static constexpr size_t kRoom = VELKO_SCRATCH_TEXT_SIZE;
  char* out_;
  size_t used_;
};

const char* SpacingWord(WORD value) {
  return value == 2 ? "DOUBLE" : value == 0 ? "SINGLE" : "1.5";
}

const char* JustifyWord(WORD mode) {
  static const char* const kWords[] = {"LEFT", "RIGHT", "FULL", "CENTER"};
  return mode < 4 ? kWords[mode] : "NONE";
}

/* The stop's type letter; stops past the 16th, which the type word has no
 * room for, are left stops. */
char TabLetter(DWORD types, int k) { return k < 16 ? "LRDC"[(types >> (2 * k)) & 3] : 'L'; }

const char* ListWord(const CDPABDEFINITION& d) {
  const WORD styles = d.Flags2 & kListStyles;
  if (Has(d.Flags, kBulleted)) {
    static const struct {
      WORD bit;
      const char* word;
    } kBullets[] = {{0x0002, "Checked_List"},
                    {0x0800, "Circle_List"},
                    {0x1000, "Square_List"},
                    {0x2000, "Unchecked_List"}};
    for (const auto& bullet : kBullets) {
      if (Has(styles, bullet.bit))
        return bullet.word;
    }
    return "Bullet";
  }
  if (Has(d.Flags, kNumbered)) {
    switch (styles) {
    case 0x1802: return "Lower_Alpha_List";
    case 0x1002: return "Lower_Roman_List";
    case 0x1800: return "Upper_Alpha_List";
    case 0x0802: return "Upper_Roman_List";
    default: return "Numbered_List";
    }
  }
  return nullptr;
}

/* The flag words of the definition; mode 0 also writes right-to-left.
 * Each word is followed by a blank. */
void DumpFlagWords(dump_writer& w, const _CDPABDEFEXT& e, bool styleString) {
  const CDPABDEFINITION& d = e.Definition;
  if (d.Flags == 0 && !Has(d.Flags2, 0x0001)) {
    w.Put("NO_FLAGS ");
  } else {
    static const struct {
      WORD bit;
      const char* word;
    } kWords[] = {
        {0x0001, "PAGINATE_BEFORE"}, {0x0002, "KEEP_WITH_NEXT"},    {0x0004, "KEEP_TOGETHER"},
        {0x0008, "PROPAGATE"},       {0x0010, "HIDE_READ"},         {0x2000, "HIDE_PREVIEW_READ"},
        {0x0020, "HIDE_EDIT"},       {0x4000, "HIDE_PREVIEW_EDIT"}, {0x0040, "HIDE_PRINT"},
        {0x0800, "HIDE_IF"},         {0x0080, "DISPLAY_RIGHT"},     {0x0200, "HIDE_COPY"}};
    for (const auto& word : kWords) {
      if (Has(d.Flags, word.bit))
        w.Format("%s ", word.word);
    }
    if (const char* list = ListWord(d); list != nullptr)
      w.Format("%s ", list);
    if (Has(d.Flags, 0x8000))
      w.Put("HIDE_NOTES ");
    if (Has(d.Flags2, 0x0001))
      w.Put("HIDE_WEB ");
  }
  if (!styleString)
    return;
  // Right-to-left and the third flags word do not live in Flags, so they
  // are written whatever Flags holds. Bare Flags3 words only mark their
  // slot when read; their '+' forms set the bits.
  if (Has(d.Flags2, 0x4000))
    w.Put("RTL ");
  static const struct {
    DWORD bit;
    const char* word;
  } kThird[] = {{0x0001, "+HIDE_EMBEDDED"}, {0x0002, "+HIDE_MOBILE"}, {0x0004, "+LAYER_USES_RM"}};
  for (const auto& word : kThird) {
    if ((e.Flags3 & word.bit) != 0)
      w.Format("%s ", word.word);
  }
}

void DumpStyleString(dump_writer& w, const _CDPABDEFEXT& e, bool omit) {
  const CDPABDEFINITION& d = e.Definition;
  if (Has(d.Flags2, 0x0004) && e.LeftMarginOffset != 0) {
    if (!(omit && e.LeftMarginOffset == kDefaultMarginTwips))
      w.Inches("LeftMarginOffset=\"%4.2f\" ", e.LeftMarginOffset);
  } else if (Has(d.Flags2, 0x0008)) {
    if (!(omit && e.LeftMarginPercent == 0))
      w.Format("LeftMarginPercent=\"%d%%\" ", e.LeftMarginPercent);
  } else if (!(omit && d.LeftMargin == kDefaultMarginTwips)) {
    w.Inches("LeftMargin=\"%4.2f\" ", d.LeftMargin);
  }
  if (Has(d.Flags2, 0x0040))
    w.Inches("RightMarginOffset=\"%4.2f\" ", e.RightMarginOffset);
  else if (Has(d.Flags2, 0x0080) && e.RightMarginPercent != 0)
    w.Format("RightMarginPercent=\"%d%%\" ", e.RightMarginPercent);
  else if (!(omit && d.RightMargin == 0))
    w.Inches("RightMargin=\"%4.2f\" ", d.RightMargin);
  if (Has(d.Flags2, 0x0010) && e.FirstLineLeftMarginOffset != 0) {
    if (!(omit && e.FirstLineLeftMarginOffset == kDefaultMarginTwips))
      w.Inches("FirstLeftMarginOffset=\"%4.2f\" ", e.FirstLineLeftMarginOffset);
  } else if (Has(d.Flags2, 0x0020)) {
    if (!(omit && e.FirstLineLeftMarginPercent == 0))
      w.Format("FirstLeftMarginPercent=\"%d%%\" ", e.FirstLineLeftMarginPercent);
  } else if (!(omit && d.FirstLineLeftMargin == kDefaultMarginTwips)) {
    w.Inches("LeftMarginFirst=\"%4.2f\" ", d.FirstLineLeftMargin);
  }
  const struct {
    const char* key;
    WORD value;
  } spacings[] = {{"Above", d.ParagraphSpacingBefore},
                  {"Below", d.ParagraphSpacingAfter},
                  {"InterLine", d.LineSpacing}};
  for (const auto& spacing : spacings) {
    if (!(omit && spacing.value == 0))
      w.Format("%s=\"%s\" ", spacing.key, SpacingWord(spacing.value));
  }
  if (d.Tabs == 0) {
    if (!(omit && (d.Tab[0] == 720 || d.Tab[0] == 0))) {
      if (d.Tab[0] == 0)
        w.Put("TabInterval=\"0.5\" ");
      else
        w.Inches("TabInterval=\"%4.2f\" ", d.Tab[0]);
    }
  } else {
    w.Put("Tabs=\"");
    for (int k = 0; k < TabCount(d); ++k)
      w.Format("%s%c%4.2f", k == 0 ? "" : ";", TabLetter(d.TabTypes, k), d.Tab[k] / kTwipsPerInch);
    w.Put("\" ");
  }
  if (!(omit && d.JustifyMode == 0))
    w.Format("Justify=\"%s\" ", JustifyWord(d.JustifyMode));
  DumpFlagWords(w, e, true);
}

void DumpAttributes(dump_writer& w, const _CDPABDEFEXT& e) {
  const CDPABDEFINITION& d = e.Definition;
  w.Put(" leftmargin=");
  if (Has(d.Flags2, 0x0004))
    w.Inches("'%4.2fin'", e.LeftMarginOffset);
  else if (Has(d.Flags2, 0x0008))
    w.Format("%3d%%", e.LeftMarginPercent);
  else
    w.Inches("'%4.2fin'", d.LeftMargin);
  w.Put(" rightmargin=");
  if (Has(d.Flags2, 0x0040))
    w.Inches("'%4.2fin'", e.RightMarginOffset);
  else if (Has(d.Flags2, 0x0080))
    w.Format("'%3d%%'", e.RightMarginPercent);
  else
    w.Inches("'%4.2f'", d.RightMargin);
  w.Put(" firstlineleftmargin=");
  if (Has(d.Flags2, 0x0010))
    w.Inches("'%4.2fin'", e.FirstLineLeftMarginOffset);
  else if (Has(d.Flags2, 0x0020))
    w.Format("'%3d%%'", e.FirstLineLeftMarginPercent);
  else
    w.Inches("'%4.2fin'", d.FirstLineLeftMargin);
  const struct {
    const char* key;
    WORD value;
  } spacings[] = {{" spacebefore='", d.ParagraphSpacingBefore},
                  {" spaceafter='", d.ParagraphSpacingAfter},
                  {" linespacing='", d.LineSpacing}};
  for (const auto& spacing : spacings) {
    if (spacing.value != 0)
      w.Format("%s%s'", spacing.key, spacing.value == 2 ? "2" : "1.5");
  }
  if (d.Tabs == 0) {
    w.Inches("TabInterval=%4.2f ", d.Tab[0]);
  } else {
    w.Put("Tabs=");
    for (int k = 0; k < TabCount(d); ++k)
      w.Format("%c%fin ", TabLetter(d.TabTypes, k), d.Tab[k] / kTwipsPerInch);
  }
  w.Format("Justify=%s ", JustifyWord(d.JustifyMode));
  DumpFlagWords(w, e, false);
}

} // namespace

void DumpParagraph(WORD mode, const _CDPABDEFEXT* definition, char* out, DWORD omitDefaults) {
  if (out == nullptr)
    return;
  const _CDPABDEFEXT e = WorkCopy(definition);
  dump_writer w(out);
  if (mode == 0)
    DumpStyleString(w, e, omitDefaults != 0);
  else
    DumpAttributes(w, e);
  w.DropTrailingBlank();
}
