/*
 * GenerateSectionBegin: opens a collapsible section. Writes the paragraph
 * holding the section (a new indented definition for a reply), the
 * hotspot begin and the section's bar record with its title, border
 * style, expand and hide rules and title font, and leaves the hotspot
 * bracket open for the section's content; the section end closes it.
 *
 * The bar's colour word is 0: no earlier step leaves a title-bar colour
 * for it.
 */
#include <string.h>

#include <string>
#include <vector>

#include "generate/services.h"
#include "generate/structure_internal.h"
#include "store/rtitem_internal.h"
#include "store/session.h"

using namespace structure;

namespace {

constexpr WORD kBracketVersion = 0;
constexpr WORD kSectionHotspotType = 12;
constexpr DWORD kSectionHotspotFlags = 8;
constexpr DWORD kSectionAlways = 0x04000000;
constexpr int kStyleShift = 28;
constexpr DWORD kReplyPreset = 0x8000 | 0x0010;
constexpr WORD kDefaultStyle = 1;
constexpr DWORD kReplyTab = 19;
constexpr DWORD kPlainTab = 1;
constexpr DWORD kDiagonalTab = 2;
constexpr WORD kTabVersion = 1;
constexpr WORD kTabWidth = 128;
constexpr char kReplyParagraph[] = "Justify='Left' ShiftLeftOffset='-0.25in' ";

/* The border style of "BorderStyle=" (1 when absent). */
WORD BorderStyle(const std::string* value) {
  if (value == nullptr)
    return kDefaultStyle;
  const struct {
    const char* name;
    WORD style;
  } styles[] = {{"None", 1},    {"PostReply", 0}, {"Single", 2},        {"Double", 3},
                {"Triple", 4},  {"Shadow", 0},    {"Box", 0},           {"Caption", 6},
                {"WindowCaption", 6}, {"Gradient", 7}, {"TAB", 7},      {"DIAGTAB", 7}};
  for (const auto& style : styles) {
    if (Same(*value, style.name))
      return style.style;
  }
  if (Begins(*value, "TWO"))
    return 5;
  return kDefaultStyle;
}

bool IsYes(const char* properties, const char* key) {
  std::string value;
  return Value(properties, key, &value) && Same(value, "Yes");
}

/* The section's flags from its property string. */
DWORD SectionFlags(const char* properties, bool* reply, DWORD* tabKind) {
  *reply = false;
  *tabKind = 0;
  std::string style;
  const bool hasStyle = Value(properties, "BorderStyle=", &style);
  DWORD flags = kSectionAlways | (DWORD{BorderStyle(hasStyle ? &style : nullptr)} << kStyleShift);
  if (!hasStyle)
    style.clear();
  if (Same(style, "PostReply")) {
    *reply = true;
    *tabKind = kReplyTab;
    flags |= kReplyPreset;
  } else if (Same(style, "TAB")) {
    *tabKind = kPlainTab;
  } else if (Same(style, "DIAGTAB")) {
    *tabKind = kDiagonalTab;
  }
  if (properties == nullptr)
    return flags;
  const struct {
    const char* key;
    DWORD flag;
  } switches[] = {{"EditorsOnly=", 0x0001},
                  {"Expanded=", 0x0002},
                  {"PreviewOnly=", 0x0004},
                  {"BorderInvisible=", 0x1000},
                  {"TitleHiddenExpanded=", 0x4000}};
  for (const auto& entry : switches) {
    if (IsYes(properties, entry.key))
      flags |= entry.flag;
  }
  const struct {
    const char* key;
    DWORD expand;
    DWORD collapse;
  } rules[] = {{"ExpandReading=", 0x0010, 0x0100},
               {"ExpandPreview=", 0x0020, 0x0200},
               {"ExpandEditing=", 0x0040, 0x0400},
               {"ExpandPrinting=", 0x0080, 0x0800}};
  for (const auto& rule : rules) {
    std::string value;
    if (!Value(properties, rule.key, &value))
      continue;
    if (Same(value, "Auto-Expand"))
      flags |= rule.expand;
    else if (Same(value, "Auto-Collapse"))
      flags |= rule.collapse;
  }
  return flags;
}

class section_writer {
public:
  explicit section_writer(structure_generation* state)
      : state_(state), gen_(state->gen), item_(state->gen->item),
        title_(state->title != nullptr ? state->title : "") {}

  STATUS Write();

private:
  STATUS ParagraphAndReference();
  STATUS Bar();
  STATUS EmptyText() {
    const CDTEXT header = DefaultText(item_);
    return GenerateCDText(nullptr, 0, &header, gen_);
  }

  structure_generation* state_;
  generation_context* gen_;
  VelkoRTItem* item_;
  std::string title_;
  bool reply_ = false;
  DWORD tab_kind_ = 0;
  DWORD flags_ = 0;
};

STATUS section_writer::Write() {
  if (sizeof(CDBAR) + sizeof(WORD) + title_.size() + 2 > kLargestEmittedRecord)
    return kGeneratorRefused;
  flags_ = SectionFlags(state_->properties, &reply_, &tab_kind_);
  STATUS status = ParagraphAndReference();
  if (status == NOERROR)
    status = EmptyText();
  if (status == NOERROR)
    status = Bar();
  if (status == NOERROR)
    status = EmptyText();
  if (status == NOERROR)
    status = Emit(state_->paragraph, SIG_CD_PARAGRAPH, gen_);
  if (status == NOERROR)
    status = Emit(CurrentReference(gen_), SIG_CD_PABREFERENCE, gen_);
  if (status == NOERROR && state_->current_signature != 0 &&
      state_->current_signature != SIG_CD_TEXT)
    status = EmptyText();
  return status;
}

STATUS section_writer::ParagraphAndReference() {
  _CDPABDEFEXT current = CurrentDefinition(gen_);
  WORD pabid = current.Definition.PABID;
  if (reply_) {
    _CDPABDEFEXT copy = current;
    if (STATUS status = ApplyParagraphStyleText(item_, kReplyParagraph, &copy); status != NOERROR)
      return status;
    const WORD highest = HighestLoadedPabid(item_);
    if (highest > state_->last_pabid)
      state_->last_pabid = highest;
    if (STATUS status = TakeNextPabid(state_, &pabid); status != NOERROR)
      return status;
    copy.Definition.PABID = pabid;
    if (STATUS status = Emit(state_->paragraph, SIG_CD_PARAGRAPH, gen_); status != NOERROR)
      return status;
    if (STATUS status =
            CopyCDUpdated(&copy, SIG_CD_PABDEFINITION, DefinitionLength(copy), gen_);
        status != NOERROR)
      return status;
  } else if (STATUS status = Emit(state_->paragraph, SIG_CD_PARAGRAPH, gen_); status != NOERROR) {
    return status;
  }
  CDPABREFERENCE reference = CurrentReference(gen_);
  reference.PABID = pabid;
  const STATUS status = Emit(reference, SIG_CD_PABREFERENCE, gen_);
  reference.PABID = current.Definition.PABID;
  SetCurrentReference(gen_, reference);
  return status;
}

STATUS section_writer::Bar() {
  CDHOTSPOTBEGIN hotspot = {};
  hotspot.Header.Signature = SIG_CD_V4HOTSPOTBEGIN;
  hotspot.Header.Length = sizeof hotspot;
  hotspot.Type = kSectionHotspotType;
  hotspot.Flags = kSectionHotspotFlags;
  STATUS status = GenerateCDBegin(SIG_CD_V4HOTSPOTBEGIN, kBracketVersion, gen_);
  if (status == NOERROR)
    status = Emit(hotspot, SIG_CD_V4HOTSPOTBEGIN, gen_);
  if (status == NOERROR)
    status = GenerateCDBegin(SIG_CD_SECTIONBAR, kBracketVersion, gen_);
  if (status != NOERROR)
    return status;

  /* The bar: flags, title font, colour word, the title with its NUL. */
  CDBAR bar = {};
  const size_t length = sizeof bar + sizeof(WORD) + title_.size() + 1;
  std::vector<BYTE> record(length + (length & 1), 0);
  bar.Header.Signature = SIG_CD_SECTIONBAR;
  bar.Header.Length = static_cast<WORD>(record.size());
  bar.Flags = flags_;
  bar.FontID = DefaultText(item_).FontID;
  ApplyFontOverride(&bar.FontID, nullptr, nullptr, &state_->fonts[0],
                    state_->font_masks[0].given);
  memcpy(record.data(), &bar, sizeof bar);
  memcpy(record.data() + sizeof bar + sizeof(WORD), title_.data(), title_.size());
  status = CopyCDUpdated(record.data(), SIG_CD_SECTIONBAR, static_cast<DWORD>(record.size()),
                         gen_);
  if (status == NOERROR && tab_kind_ != 0) {
    CDTABRECORD tab = {};
    tab.Header.Signature = static_cast<BYTE>(SIG_CD_TABRECORD);
    tab.Header.Length = sizeof tab;
    tab.Version = kTabVersion;
    tab.Width = kTabWidth;
    tab.Kind = tab_kind_;
    status = Emit(tab, SIG_CD_TABRECORD, gen_);
  }
  if (status == NOERROR)
    status = GenerateCDColorValue(static_cast<BYTE>(SIG_CD_COLOR), 0, 0x0001, gen_);
  if (status == NOERROR)
    status = GenerateCDEnd(SIG_CD_SECTIONBAR, kBracketVersion, gen_);
  return status;
}

} // namespace

STATUS GenerateSectionBegin(structure_generation* state) {
  if (state == nullptr || state->gen == nullptr || state->gen->item == nullptr ||
      state->gen->item->internal == nullptr)
    return kGeneratorRefused;
  section_writer writer(state);
  return writer.Write();
}
