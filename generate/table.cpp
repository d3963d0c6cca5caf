/*
 * GenerateTable: a whole new table from the session's table-append
 * parameters (per column a width, a property string and a sizing flag)
 * and the table's property string. Writes the paragraph around it, the
 * optional table-level records (margin definition, the bracketed
 * CDPRETABLEBEGIN with its data extension, border, border image and HTML
 * name), the table begin, each cell with its paragraph, text and extras,
 * an optional timer and the table end.
 *
 * Counts and edges are checked before anything is written: the session's
 * column tables hold 64 entries, cells carry their row in a byte, and cell
 * edges are 16-bit. A "TextFont=" of a cell changes that cell's text
 * record only (a copy of the item's default), and the font override's
 * colour words are cleared for every cell, so nothing of one cell leaks
 * into the next or past the table.
 *
 * The table begin, a cell, a first-row cell's definition and the closing
 * records are built by functions of their own, which the HTML import's
 * tables call too.
 */
#include <stdlib.h>
#include <string.h>

#include <algorithm>
#include <string>

#include "generate/attribute_strings.h"
#include "generate/color_string.h"
#include "generate/hotspot.h"
#include "generate/services.h"
#include "generate/structure_internal.h"
#include "store/rtitem_internal.h"
#include "store/session.h"
#include "store/tracked_memory.h"
#include "velko/property_string.h"

using namespace structure;

namespace {

constexpr WORD kDefaultTableMargin = 1440;
constexpr WORD kFitToWindowMargin = 1080;
constexpr DWORD kLargestTableEdge = 0xFFFF;
constexpr WORD kCellInset = 40;
constexpr DWORD kFractionWhole = 28800;

constexpr WORD kTableFlags = 0x0002;
constexpr WORD kTableAdjustable = 0x0001;
constexpr BYTE kCellFlags = 0x02;
constexpr BYTE kCellColored = 0x01;
constexpr BYTE kCellCenter = 0x20;
constexpr BYTE kCellBottom = 0x80;

constexpr WORD kMarginDefinitionFlagsCleared = 0x1400;
constexpr WORD kMarginDefinitionFlags2 = 0x0494;
constexpr WORD kCellDefinitionFlagsSet = 0x0086;
constexpr WORD kCellDefinitionFlags2 = 0x0440;
constexpr WORD kFullPercent = 100;

constexpr WORD kPreTableVersion = 1;
constexpr WORD kTabFontPartSize = 14;
constexpr DWORD kTabFontOffset = 48;
constexpr WORD kDataExtensionLength = 62;
constexpr WORD kBorderSideWidth = 1;
constexpr WORD kDropShadowWidth = 12;
constexpr WORD kImageBorderStyle = 10;
constexpr size_t kRowByte = 8;
constexpr size_t kColumnByte = 9;
constexpr size_t kSizingWordOffset = 12;
constexpr WORD kTabLabelFlags = 2;
constexpr WORD kRowNameFlags = 1;
constexpr WORD kTextVersion = 0;

/* The four sides of "CellBorder=": the border byte and word of a cell. */
struct cell_borders {
  BYTE byte = kTableCellBorderByte;
  WORD word = kTableCellBorderWord;
};

/* One position of "CellBorder=": 0, 1 or 2, or -1 when the character
 * names none. */
int BorderSide(char side) {
  switch (side) {
  case '0':
  case 'N':
  case 'n': return 0;
  case '1':
  case 'S':
  case 's': return 1;
  case '2':
  case 'D':
  case 'd': return 2;
  default: return -1;
  }
}

cell_borders ReadCellBorder(const std::string& text) {
  struct side_bits {
    BYTE single;
    BYTE twice;
    int shift;
  };
  static constexpr side_bits kSides[4] = {
      {0x10, 0x20, 8}, {0x40, 0x80, 12}, {0x01, 0x02, 0}, {0x04, 0x08, 4}};
  cell_borders borders{0, 0};
  int value = text.empty() ? -1 : BorderSide(text[0]);
  if (value < 0)
    return borders;
  for (size_t position = 0; position < 4; ++position) {
    if (position > 0 && position < text.size() && BorderSide(text[position]) >= 0)
      value = BorderSide(text[position]);
    const side_bits& side = kSides[position];
    if (value == 1)
      borders.byte |= side.single;
    else if (value == 2)
      borders.byte |= side.twice;
    borders.word = static_cast<WORD>(borders.word | (value << side.shift));
  }
  return borders;
}

bool HoldsAnyKey(const char* properties, std::initializer_list<const char*> keys) {
  for (const char* key : keys) {
    if (Has(properties, key))
      return true;
  }
  return false;
}

bool HoldsWord(const char* properties, const char* word) {
  return properties != nullptr && stristr(properties, word) != nullptr;
}

/* One table being written: the caller's state, the session's parameters
 * and the work area the variable records are built in. */
class table_writer {
public:
  table_writer(structure_generation* state, WORD columns, WORD rows)
      : state_(state), gen_(state->gen), session_(SessionOf(state->gen)),
        parameters_(session_->internal), item_(state->gen->item), columns_(columns), rows_(rows),
        properties_(state->properties) {}
  ~table_writer() {
    if (work_ != nullptr)
      VelkoDeallocatePtr(session_, work_);
  }
  table_writer(const table_writer&) = delete;
  table_writer& operator=(const table_writer&) = delete;

  STATUS Write();

private:
  STATUS CheckSize();
  STATUS Paragraph() { return Emit(state_->paragraph, SIG_CD_PARAGRAPH, gen_); }
  STATUS EmptyText(const CDTEXT& header) { return GenerateCDText(nullptr, 0, &header, gen_); }
  STATUS EmitWork(WORD signature, DWORD length) {
    return CopyCDUpdated(work_, signature, length, gen_);
  }
  void ClearWork(DWORD bytes) { memset(work_, 0, std::min<DWORD>(bytes, work_size_)); }

  STATUS TableLevelRecords();
  STATUS MarginDefinition();
  STATUS PreTable();
  STATUS DataExtension();
  STATUS Border();
  STATUS BorderImage();
  STATUS IdName(WORD signature, const char* prefix, const char* properties);
  STATUS TableBegin();
  STATUS Cell(WORD row, WORD column, WORD left);
  STATUS CellDefinition(WORD column, WORD left, WORD right);
  STATUS CellText(const char* properties, const CDTEXT& header);
  STATUS RowExtras(const char* properties);
  STATUS Closing();

  structure_generation* state_;
  generation_context* gen_;
  LSXLsiSession* session_;
  _internal_SESS* parameters_;
  VelkoRTItem* item_;
  WORD columns_;
  WORD rows_;
  const char* properties_;

  BYTE* work_ = nullptr;
  DWORD work_size_ = 0;
  WORD margin_ = kDefaultTableMargin;       /* the table definition's margin */
  WORD table_left_ = kDefaultTableMargin;   /* the table's left edge */
  DWORD width_total_ = 0;
  WORD base_pabid_ = 0;
  bool bracketed_ = false;
  cell_borders borders_;
  BYTE cell_signature_ = static_cast<BYTE>(SIG_CD_TABLECELL);
};

STATUS table_writer::CheckSize() {
  if (columns_ < 1 || columns_ > kGeneratedTableColumns || rows_ < 1 ||
      rows_ > kGeneratedTableRows)
    return kGeneratorRefused;
  std::string value;
  if (Value(properties_, "TableMarginLeft=", &value)) {
    margin_ = static_cast<WORD>(InchesToTwips(value.c_str()));
    table_left_ = margin_;
  }
  if (Value(properties_, "TableWidth=", &value) && Same(value, "FIT_TO_WINDOW"))
    table_left_ = kFitToWindowMargin;
  for (WORD column = 0; column < columns_; ++column)
    width_total_ += parameters_->column_widths[column];
  if (table_left_ + width_total_ > kLargestTableEdge)
    return kGeneratorRefused;
  return NOERROR;
}

STATUS table_writer::Write() {
  if (STATUS status = CheckSize(); status != NOERROR)
    return status;
  if (STATUS status = Paragraph(); status != NOERROR)
    return status;
  /* The work area holds any record built from the longest property
   * string with room to spare. */
  size_t longest = properties_ != nullptr ? strlen(properties_) : 0;
  for (WORD column = 0; column < columns_; ++column) {
    if (const char* text = parameters_->cell_texts[column])
      longest = std::max(longest, strlen(text));
  }
  work_size_ = static_cast<DWORD>(std::max<size_t>(kTableWorkAreaSize, longest + 256));
  work_ = static_cast<BYTE*>(VelkoAllocatePtr(session_, VELKO_HERE, work_size_, 1));
  if (work_ == nullptr)
    return VELKO_ERR_MEMORY;

  // The margin definition takes the base id, cell n (from 1) the base and n.
  const DWORD base = PabidAboveLoaded(item_, DWORD{state_->level_pabid} + 2);
  if (base + columns_ > 0xFFFF) {
    RefuseParagraphIdPastLargest(gen_);
    return kGeneratorRefused;
  }
  base_pabid_ = static_cast<WORD>(base);
  if (properties_ != nullptr) {
    if (STATUS status = TableLevelRecords(); status != NOERROR)
      return status;
  }
  if (STATUS status = TableBegin(); status != NOERROR)
    return status;
  cell_signature_ = static_cast<BYTE>(gen_->table_level <= 1 ? SIG_CD_TABLECELL
                                                             : SIG_CD_NESTEDTABLECELL);
  std::string border;
  if (Value(properties_, "CellBorder=", &border))
    borders_ = ReadCellBorder(border);
  for (WORD row = 0; row < rows_; ++row) {
    WORD left = table_left_;
    for (WORD column = 0; column < columns_; ++column) {
      if (STATUS status = Cell(row, column, left); status != NOERROR)
        return status;
      left = static_cast<WORD>(left + parameters_->column_widths[column]);
    }
  }
  return Closing();
}

/* ---- table-level records ---- */

STATUS table_writer::TableLevelRecords() {
  const bool margins = HoldsAnyKey(properties_, {"TableMarginLeft=", "TableMarginRight="});
  if (margins || state_->level_saves_definitions != 0) {
    if (STATUS status = MarginDefinition(); status != NOERROR)
      return status;
  }
  bracketed_ = HoldsAnyKey(properties_, {"BorderColor=", "BorderStyle=", "BorderEffects=",
                                         "TableName=", "TabIndent=", "TabFont=", "TabsEqual="}) ||
               HoldsWord(properties_, "BorderThickness") || HoldsWord(properties_, "TableHTML");
  if (bracketed_) {
    if (STATUS status = GenerateCDBegin(SIG_CD_PRETABLEBEGIN, kPreTableVersion, gen_);
        status != NOERROR)
      return status;
  }
  if (STATUS status = PreTable(); status != NOERROR)
    return status;
  if (HoldsAnyKey(properties_, {"TabIndent=", "TabFont=", "TabsEqual="})) {
    if (STATUS status = DataExtension(); status != NOERROR)
      return status;
  }
  if (!bracketed_)
    return NOERROR;
  if (HoldsAnyKey(properties_, {"BorderColor=", "BorderStyle=", "BorderEffects="}) ||
      HoldsWord(properties_, "BorderThickness")) {
    if (STATUS status = Border(); status != NOERROR)
      return status;
  }
  if (HoldsWord(properties_, "TableHTML") || HoldsWord(properties_, "TableName=")) {
    if (STATUS status = IdName(SIG_CD_IDNAME, "Table", properties_); status != NOERROR)
      return status;
  }
  return GenerateCDEnd(SIG_CD_PRETABLEBEGIN, kPreTableVersion, gen_);
}

STATUS table_writer::MarginDefinition() {
  _CDPABDEFEXT definition = CurrentDefinition(gen_);
  CDPABDEFINITION& fixed = definition.Definition;
  fixed.PABID = base_pabid_;
  fixed.LeftMargin = margin_;
  fixed.FirstLineLeftMargin = margin_;
  fixed.RightMargin = 0;
  definition.LeftMarginOffset = margin_;
  definition.FirstLineLeftMarginOffset = margin_;
  definition.RightMarginPercent = kFullPercent;
  fixed.Flags = static_cast<WORD>(fixed.Flags & ~kMarginDefinitionFlagsCleared);
  fixed.Flags2 = kMarginDefinitionFlags2;
  if (STATUS status = CopyCDUpdated(&definition, SIG_CD_PABDEFINITION,
                                    DefinitionLength(definition), gen_);
      status != NOERROR)
    return status;
  CDPABREFERENCE reference = CurrentReference(gen_);
  reference.PABID = base_pabid_;
  SetCurrentReference(gen_, reference);
  return Emit(reference, SIG_CD_PABREFERENCE, gen_);
}

STATUS table_writer::PreTable() {
  ClearWork(work_size_);
  CDPRETABLEBEGIN table = {};
  table.Header.Signature = SIG_CD_PRETABLEBEGIN;
  table.Header.Length = sizeof table;
  memcpy(work_, &table, sizeof table);
  work_[kRowByte] = static_cast<BYTE>(rows_);
  work_[kColumnByte] = static_cast<BYTE>(columns_);
  DWORD sizing = 0;
  for (WORD column = 0; column < 32 && column < columns_; ++column) {
    if (parameters_->column_width_flags[column] != 0)
      sizing |= DWORD{1} << column;
  }
  memcpy(work_ + kSizingWordOffset, &sizing, sizeof sizing);
  if (STATUS status = ApplyPropertiesToTableRecord(session_, item_, SIG_CD_PRETABLEBEGIN, work_,
                                                   work_size_, properties_, 1);
      status != NOERROR)
    return status;
  memcpy(&table, work_, sizeof table);
  return EmitWork(SIG_CD_PRETABLEBEGIN, table.Header.Length);
}

STATUS table_writer::DataExtension() {
  ClearWork(kDataExtensionLength);
  CDTABLEDATAEXTENSION extension = {};
  extension.Header.Signature = SIG_CD_TABLEDATAEXTENSION;
  extension.Header.Length = kDataExtensionLength;
  extension.TabFontPartSize = kTabFontPartSize;
  memcpy(work_, &extension, sizeof extension);
  FONTID font = 0;
  SetFontByte(&font, FONTID_FACE_BYTE, 1);
  SetFontByte(&font, FONTID_SIZE_BYTE, 10);
  memcpy(work_ + kTabFontOffset, &font, sizeof font);
  if (STATUS status = ApplyPropertiesToTableRecord(session_, item_, SIG_CD_TABLEDATAEXTENSION,
                                                   work_, work_size_, properties_, 1);
      status != NOERROR)
    return status;
  return EmitWork(SIG_CD_TABLEDATAEXTENSION, kDataExtensionLength);
}

STATUS table_writer::Border() {
  CDBORDERINFO border = {};
  border.Header.Signature = SIG_CD_BORDERINFO;
  border.Header.Length = sizeof border;
  border.BorderWidthTop = border.BorderWidthLeft = kBorderSideWidth;
  border.BorderWidthBottom = border.BorderWidthRight = kBorderSideWidth;
  border.DropShadowWidth = kDropShadowWidth;
  ApplyPropertiesToBorderRecord(session_, SIG_CD_BORDERINFO, &border, sizeof border, properties_,
                                0);
  if (STATUS status = Emit(border, SIG_CD_BORDERINFO, gen_); status != NOERROR)
    return status;
  if (border.BorderStyle == kImageBorderStyle && Has(properties_, "BorderImage="))
    return BorderImage();
  return NOERROR;
}

STATUS table_writer::BorderImage() {
  std::string name, server, path, replica;
  Value(properties_, "BorderImage=", &name);
  Value(properties_, "BorderServer=", &server);
  Value(properties_, "BorderFilePath=", &path);
  Value(properties_, "BorderReplica=", &replica);
  BYTE replicaBytes[8];
  ReplicaBytes(replica, replicaBytes);
  std::string record;
  if (!BuildImageResource(SIG_CD_RESOURCE_FF5B, path.empty() ? 0 : CDRESOURCE_FLAGS_FILE_PATH, name,
                          server, path, replicaBytes, &record))
    return kGeneratorRefused;
  return CopyCDUpdated(record.data(), SIG_CD_RESOURCE_FF5B, static_cast<DWORD>(record.size()),
                       gen_);
}

STATUS table_writer::IdName(WORD signature, const char* prefix, const char* properties) {
  ClearWork(work_size_);
  CDIDNAME header = {};
  header.Header.Signature = signature;
  header.Header.Length = sizeof header;
  memcpy(work_, &header, sizeof header);
  STATUS status = NOERROR;
  const DWORD changed = ApplyPropertiesToIDNAMERecord(session_, work_, work_size_ - 1, nullptr, 0,
                                                      prefix, properties, nullptr, &status);
  if (status != NOERROR)
    return status;
  if (changed == 0)
    return NOERROR;
  memcpy(&header, work_, sizeof header);
  DWORD length = header.Header.Length;
  if ((length & 1) != 0) {
    work_[length] = 0;
    ++length;
    header.Header.Length = static_cast<WORD>(length);
    memcpy(work_, &header, sizeof header);
  }
  return EmitWork(signature, length);
}

STATUS table_writer::TableBegin() {
  CDTABLEBEGIN table = TableBeginRecord(gen_->table_level != 0, table_left_);
  const WORD signature = table.Header.Signature;
  std::string value;
  if (Value(properties_, "ColumnSpacing=", &value))
    table.HorizInterCellSpace = static_cast<WORD>(InchesToTwips(value.c_str()));
  if (Value(properties_, "RowSpacing=", &value))
    table.VertInterCellSpace = static_cast<WORD>(InchesToTwips(value.c_str()));
  if (properties_ == nullptr && parameters_->adjustable_table != 0)
    table.Flags |= kTableAdjustable;
  ApplyPropertiesToTableRecord(session_, item_, signature, &table, sizeof table, properties_, 0);
  return Emit(table, signature, gen_);
}

/* ---- cells ---- */

STATUS table_writer::Cell(WORD row, WORD column, WORD left) {
  const WORD width = parameters_->column_widths[column];
  const char* properties = parameters_->cell_texts[column];
  CDTABLECELL cell = TableCellRecord(cell_signature_ == SIG_CD_NESTEDTABLECELL,
                                     static_cast<BYTE>(row), static_cast<BYTE>(column), left,
                                     static_cast<WORD>(left + width));
  if (parameters_->adjustable_table != 0 && width_total_ != 0)
    cell.Reserved = static_cast<WORD>(width * kFractionWhole / width_total_);
  cell.BorderWidths = borders_.byte;
  cell.V42Border = borders_.word;

  /* The cell's text record and colour words start afresh for every cell. */
  CDTEXT text = DefaultText(item_);
  parameters_->override_color = 0;
  parameters_->override_color_flags = 0;
  DWORD backgroundRgb = 0;
  bool backgroundParsed = false;
  if (properties != nullptr) {
    std::string value;
    if (Value(properties, "CellColor=", &value)) {
      WORD index = 0;
      backgroundParsed = ParseColorString(value.c_str(), &index, &backgroundRgb,
                                          parameters_->global_client_preference) == NOERROR;
      if (backgroundParsed) {
        cell.BackgroundColor = index;
        cell.Flags |= kCellColored;
      }
    }
    if (Value(properties, "TextFont=", &value) &&
        ParseFontString(value.c_str(), nullptr, item_, state_->fonts, state_->font_masks) ==
            NOERROR)
      ApplyFontOverride(&text.FontID, &parameters_->override_color,
                        &parameters_->override_color_flags, &state_->fonts[0],
                        state_->font_masks[0].given);
    if (Value(properties, "VertAlign=", &value)) {
      if (Begins(value, "Center"))
        cell.Flags |= kCellCenter;
      else if (Begins(value, "Bottom"))
        cell.Flags |= kCellBottom;
    }
  }
  if (STATUS status = Emit(cell, cell_signature_, gen_); status != NOERROR)
    return status;
  if (STATUS status = Paragraph(); status != NOERROR)
    return status;
  if (row == 0) {
    if (STATUS status = CellDefinition(column, left, cell.RightMargin); status != NOERROR)
      return status;
  } else {
    const emitter_column& kept = gen_->levels[gen_->table_level].columns[column];
    WORD pabid = 0;
    memcpy(&pabid, kept.definition + offsetof(CDPABDEFINITION, PABID), sizeof pabid);
    gen_->next_pabid = pabid;
  }
  if (STATUS status = Emit(CurrentReference(gen_), SIG_CD_PABREFERENCE, gen_); status != NOERROR)
    return status;
  gen_->next_pabid = 0;
  if (STATUS status = CellText(properties, text); status != NOERROR)
    return status;
  if (properties == nullptr)
    return NOERROR;
  if (column == 0) {
    if (STATUS status = RowExtras(properties); status != NOERROR)
      return status;
  }
  if (std::string image; Value(properties, "BackgroundImage=", &image) && !image.empty()) {
    hotspot_state resource;
    resource.gen = gen_;
    if (STATUS status = GenerateResource(3, kImageResourceClass, image.c_str(), properties, 1,
                                         &resource, 0, 0, nullptr, nullptr, nullptr, nullptr,
                                         nullptr);
        status != NOERROR)
      return status;
  }
  if (backgroundParsed && backgroundRgb != 0) {
    if (STATUS status = GenerateCDColorValue(static_cast<BYTE>(SIG_CD_CELLCOLOR), backgroundRgb,
                                             0, gen_);
        status != NOERROR)
      return status;
  }
  if (HoldsWord(properties, "CellHTML"))
    return IdName(SIG_CD_IDNAME2, "Cell", properties);
  return NOERROR;
}

STATUS table_writer::CellDefinition(WORD column, WORD left, WORD right) {
  const auto pabid = static_cast<WORD>(base_pabid_ + column + 1);
  const _CDPABDEFEXT definition = CellDefinitionRecord(CurrentDefinition(gen_), left, right, pabid);
  if (STATUS status = CopyCDUpdated(&definition, SIG_CD_PABDEFINITION,
                                    DefinitionLength(definition), gen_);
      status != NOERROR)
    return status;
  gen_->next_pabid = pabid;
  return NOERROR;
}

STATUS table_writer::CellText(const char* properties, const CDTEXT& header) {
  if (properties == nullptr)
    return EmptyText(header);
  std::string text;
  if (!Value(properties, "Text=", &text))
    text = properties;
  if (text.size() + sizeof(CDTEXT) > kLargestEmittedRecord)
    return kGeneratorRefused;
  const int length = static_cast<int>(text.size());
  if (parameters_->override_color == 0)
    return GenerateCDText(text.data(), length, &header, gen_);
  STATUS status = GenerateCDBegin(SIG_CD_TEXT, kTextVersion, gen_);
  if (status == NOERROR)
    status = GenerateCDText(text.data(), length, &header, gen_);
  if (status == NOERROR)
    status = GenerateCDColorValue(static_cast<BYTE>(SIG_CD_COLOR), parameters_->override_color,
                                  parameters_->override_color_flags, gen_);
  if (status == NOERROR)
    status = GenerateCDEnd(SIG_CD_TEXT, kTextVersion, gen_);
  return status;
}

STATUS table_writer::RowExtras(const char* properties) {
  std::string value;
  if (Value(properties, "RowHeight=", &value)) {
    CDROWHEIGHT height = {};
    height.Header.Signature = static_cast<BYTE>(SIG_CD_ROWHEIGHT);
    height.Header.Length = sizeof height;
    height.Height = static_cast<WORD>(InchesToTwips(value.c_str()));
    if (STATUS status = Emit(height, SIG_CD_ROWHEIGHT, gen_); status != NOERROR)
      return status;
  }
  const struct {
    const char* key;
    WORD flags;
  } labels[] = {{"TabLabel=", kTabLabelFlags}, {"RowName=", kRowNameFlags}};
  for (const auto& label : labels) {
    if (!Value(properties, label.key, &value))
      continue;
    const WORD length = static_cast<WORD>(std::min<size_t>(value.size(), 0xFFFF));
    if (STATUS status = GenerateTabLabel(label.flags, value.data(), length, gen_);
        status != NOERROR)
      return status;
  }
  return NOERROR;
}

/* ---- the end ---- */

STATUS table_writer::Closing() {
  std::string value;
  if (Value(properties_, "RowCycleMilliseconds=", &value)) {
    CDTIMERINFO timer = {};
    timer.Header.Signature = static_cast<BYTE>(SIG_CD_TIMERINFO);
    timer.Header.Length = sizeof timer;
    timer.Interval = static_cast<DWORD>(strtoul(value.c_str(), nullptr, 10));
    if (STATUS status = Emit(timer, SIG_CD_TIMERINFO, gen_); status != NOERROR)
      return status;
  }
  VelkoDeallocatePtr(session_, work_);
  work_ = nullptr;
  gen_->next_pabid = 0;
  return GenerateTableClosing(gen_->table_level > 1, state_->paragraph, 0, gen_);
}

} // namespace

CDTABLEBEGIN TableBeginRecord(bool nested, WORD leftMargin) {
  CDTABLEBEGIN table = {};
  table.Header.Signature =
      static_cast<BYTE>(nested ? SIG_CD_NESTEDTABLEBEGIN : SIG_CD_TABLEBEGIN);
  table.Header.Length = sizeof table;
  table.LeftMargin = leftMargin;
  const WORD fixedWords[2] = {40, 60};
  memcpy(table.Reserved, fixedWords, sizeof fixedWords);
  table.Flags = kTableFlags;
  return table;
}

CDTABLECELL TableCellRecord(bool nested, BYTE row, BYTE column, WORD left, WORD right) {
  CDTABLECELL cell = {};
  cell.Header.Signature = static_cast<BYTE>(nested ? SIG_CD_NESTEDTABLECELL : SIG_CD_TABLECELL);
  cell.Header.Length = sizeof cell;
  cell.Row = row;
  cell.Column = column;
  cell.LeftMargin = left;
  cell.RightMargin = right;
  cell.BorderWidths = kTableCellBorderByte;
  cell.V42Border = kTableCellBorderWord;
  cell.Flags = kCellFlags;
  cell.RowSpan = 1;
  cell.ColumnSpan = 1;
  return cell;
}

_CDPABDEFEXT CellDefinitionRecord(const _CDPABDEFEXT& base, WORD left, WORD right, WORD pabid) {
  _CDPABDEFEXT definition = base;
  CDPABDEFINITION& fixed = definition.Definition;
  const int inner = left + kCellInset;
  if (fixed.LeftMargin < inner) {
    const int offset = static_cast<int>(fixed.FirstLineLeftMargin) - fixed.LeftMargin;
    if (offset >= 0) {
      fixed.LeftMargin = static_cast<WORD>(inner);
      fixed.FirstLineLeftMargin = static_cast<WORD>(inner + offset);
    } else {
      fixed.FirstLineLeftMargin = static_cast<WORD>(inner);
      fixed.LeftMargin = static_cast<WORD>(inner - offset);
    }
  }
  if (fixed.FirstLineLeftMargin < inner)
    fixed.FirstLineLeftMargin = static_cast<WORD>(inner);
  fixed.RightMargin = static_cast<WORD>(right - kCellInset);
  fixed.Flags = static_cast<WORD>((fixed.Flags | kCellDefinitionFlagsSet) &
                                  ~kMarginDefinitionFlagsCleared);
  fixed.Flags2 = kCellDefinitionFlags2;
  definition.RightMarginPercent = kFullPercent;
  fixed.PABID = pabid;
  return definition;
}

STATUS GenerateTableClosing(bool nested, const CDPARAGRAPH& paragraph, WORD pabid,
                            generation_context* gen) {
  CDTABLEEND end = {};
  const WORD signature = nested ? SIG_CD_NESTEDTABLEEND : SIG_CD_TABLEEND;
  end.Header.Signature = static_cast<BYTE>(signature);
  end.Header.Length = sizeof end;
  if (STATUS status = Emit(end, signature, gen); status != NOERROR)
    return status;
  if (STATUS status = Emit(paragraph, SIG_CD_PARAGRAPH, gen); status != NOERROR)
    return status;
  /* The end restores the reference in effect before the table. */
  CDPABREFERENCE reference = CurrentReference(gen);
  if (pabid != 0)
    reference.PABID = pabid;
  if (STATUS status = Emit(reference, SIG_CD_PABREFERENCE, gen); status != NOERROR)
    return status;
  const CDTEXT text = DefaultText(gen->item);
  return GenerateCDText(nullptr, 0, &text, gen);
}

STATUS GenerateTable(WORD columns, WORD rows, structure_generation* state) {
  if (state == nullptr || state->gen == nullptr || state->gen->item == nullptr ||
      state->gen->item->internal == nullptr || SessionOf(state->gen) == nullptr ||
      SessionOf(state->gen)->internal == nullptr)
    return kGeneratorRefused;
  table_writer writer(state, columns, rows);
  return writer.Write();
}
