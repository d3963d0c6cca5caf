/*
 * Image maps: GenerateImageHotspot adds one area (its shape, coordinates,
 * tab index, HTML attributes and formula event) to the map around the
 * current record, and ParseCoords reads an area's coordinates from its
 * shape text.
 */
#include <cstdio>
#include <cstdlib>
#include <initializer_list>
#include <cstring>

#include "generate/built_record.h"
#include "generate/hotspot.h"
#include "store/body.h"
#include "store/session.h"
#include "velko/property_string.h"

namespace {

constexpr WORD kMapVersion = 1;
constexpr WORD kActionFormula = 1;
constexpr WORD kEventClick = 1;

enum : WORD {
  kShapeRectangle = 1,
  kShapeCircle = 2,
  kShapePolygon = 3,
  kShapeDefault = 4,
};

WORD ShapeOf(const char* shape) {
  if (shape == nullptr)
    return kShapeRectangle;
  if (stristr(shape, "default") != nullptr)
    return kShapeDefault;
  if (stristr(shape, "rect") != nullptr)
    return kShapeRectangle;
  if (stristr(shape, "circle") != nullptr)
    return kShapeCircle;
  if (stristr(shape, "poly") != nullptr)
    return kShapePolygon;
  return kShapeRectangle;
}

/* The map element's last-region id of the shape. */
WORD* RegionOf(CDMAPELEMENT* map, WORD shape) {
  switch (shape) {
  case kShapeDefault:
    return &map->LastDefaultRegionID;
  case kShapeCircle:
    return &map->LastCircleRegionID;
  case kShapePolygon:
    return &map->LastPolyRegionID;
  default:
    return &map->LastRectRegionID;
  }
}

bool IsBracketOf(const record_storage* node, WORD bracket, WORD bracketed) {
  if (node == nullptr || node->signature != bracket || node->length < sizeof(CDBEGINRECORD))
    return false;
  CDBEGINRECORD record;
  std::memcpy(&record, node->data, sizeof record);
  return record.Signature == bracketed;
}

STATUS OpenMap(WORD shape, generation_context* gen) {
  RETURN_IF_FAILED(GenerateCDBegin(SIG_CD_MAPELEMENT, kMapVersion, gen));
  built_record record(SessionOf(gen), SIG_CD_MAPELEMENT, sizeof(CDMAPELEMENT), 0);
  RETURN_IF_FAILED(record.status());
  CDMAPELEMENT* map = record.as<CDMAPELEMENT>();
  map->LastDefaultRegionID = map->LastRectRegionID = 1;
  map->LastCircleRegionID = map->LastPolyRegionID = 1;
  *RegionOf(map, shape) = 2;
  return record.Emit(gen);
}

/* Copies the map after the current record (its records up to the CDEND
 * that closes it, never the list's last record), counting the new area in
 * its map element, and marks them for the walk to drop. */
STATUS CopyMapForward(WORD shape, hotspot_state* state) {
  generation_context* gen = state->gen;
  const record_storage* last = nullptr;
  for (const record_storage* node = state->current->next;
       node != nullptr && node->next != nullptr &&
       !IsBracketOf(node, SIG_CD_END, SIG_CD_MAPELEMENT);
       node = node->next) {
    if (node->signature == SIG_CD_MAPELEMENT && node->length >= sizeof(CDMAPELEMENT)) {
      built_record copy(SessionOf(gen), SIG_CD_MAPELEMENT, node->length, 0);
      RETURN_IF_FAILED(copy.status());
      std::memcpy(copy.data(), node->data, node->length);
      ++*RegionOf(copy.as<CDMAPELEMENT>(), shape);
      RETURN_IF_FAILED(copy.Emit(gen));
    } else {
      RETURN_IF_FAILED(CopyCDUpdated(node->data, node->signature, node->length, gen));
    }
    last = node;
  }
  if (last != nullptr && state->skip_mark != nullptr)
    *state->skip_mark = last->ordinal;
  return NOERROR;
}

/* The formula of the session's hotspot data as a click event, again for
 * every client when "CommonJavaScript=Yes". */
STATUS EmitFormulaEvents(const char* properties, generation_context* gen) {
  LSXLsiSession* session = SessionOf(gen);
  // Any length the word holds fits behind the offset in the result text.
  static_assert(VELKO_RESULT_TEXT_SIZE - kHotspotDataOffset > 0xFFFF);
  const WORD length = session->result_length;
  property_value values(session, properties);
  RETURN_IF_FAILED(values.status());
  const char* common = values.Read("CommonJavaScript=");
  const bool both = common != nullptr && SameText(common, "Yes");
  for (WORD signature : {SIG_CD_EVENT, SIG_CD_EVENT_COMMON}) {
    if (signature == SIG_CD_EVENT_COMMON && !both)
      break;
    built_record record(session, signature, sizeof(CDEVENT), length);
    RETURN_IF_FAILED(record.status());
    CDEVENT* event = record.as<CDEVENT>();
    event->EventType = kEventClick;
    event->ActionType = kActionFormula;
    event->ActionLength = length;
    record.Append(session->result_text + kHotspotDataOffset, length);
    RETURN_IF_FAILED(record.Emit(gen));
  }
  return NOERROR;
}

long ValueOf(LSXLsiSession* session, const char* text, const char* key, bool* present) {
  char* value = session->scratch_first;
  value[0] = '\0';
  *present = ExtractProperty(text, key, value, VELKO_SCRATCH_TEXT_SIZE) != 0;
  return *present ? std::strtol(value, nullptr, 10) : 0;
}

void PutInt(BYTE* out, size_t at, int32_t value) { std::memcpy(out + at, &value, sizeof value); }

} // namespace

DWORD ParseCoords(LSXLsiSession* session, const char* shape, BYTE* out) {
  if (session == nullptr || shape == nullptr || out == nullptr)
    return 0;
  bool present = false;
  if (stristr(shape, "poly") != nullptr) {
    const WORD count = static_cast<WORD>(ValueOf(session, shape, "NumPoints=", &present));
    if (!present || count < 1 || count > kMaxPolygonPoints)
      return 0;
    std::memcpy(out, &count, sizeof count);
    for (WORD point = 1; point <= count; ++point) {
      char key[16];
      std::snprintf(key, sizeof key, "x%u=", point);
      PutInt(out, 2 + 8 * (point - 1), static_cast<int32_t>(ValueOf(session, shape, key, &present)));
      std::snprintf(key, sizeof key, "y%u=", point);
      PutInt(out, 6 + 8 * (point - 1), static_cast<int32_t>(ValueOf(session, shape, key, &present)));
    }
    return 2 + 8 * static_cast<DWORD>(count);
  }
  int32_t left = 0, top = 0, right = 20, bottom = 20;
  int32_t value = static_cast<int32_t>(ValueOf(session, shape, "left=", &present));
  if (present) {
    left = value;
    if (right <= left)
      right = left + 20;
  }
  value = static_cast<int32_t>(ValueOf(session, shape, "top=", &present));
  if (present) {
    top = value;
    if (bottom <= top)
      bottom = top + 20;
  }
  value = static_cast<int32_t>(ValueOf(session, shape, "width=", &present));
  if (present) {
    right = left + value;
    if (right <= left)
      right = left + 20;
  } else {
    value = static_cast<int32_t>(ValueOf(session, shape, "right=", &present));
    if (present) {
      right = value;
      if (right <= left)
        left = right - 20;
    }
  }
  value = static_cast<int32_t>(ValueOf(session, shape, "height=", &present));
  if (present) {
    bottom = top + value;
    if (bottom <= top)
      bottom = top + 20;
  } else {
    value = static_cast<int32_t>(ValueOf(session, shape, "bottom=", &present));
    if (present) {
      bottom = value;
      if (bottom <= top)
        top = bottom - 20;
    }
  }
  PutInt(out, 0, left);
  PutInt(out, 4, top);
  PutInt(out, 8, right);
  PutInt(out, 12, bottom);
  return 16;
}

STATUS GenerateImageHotspot(WORD /*kind*/, DWORD /*codeFlags*/, const char* shape,
                            const char* properties, WORD /*reserved*/, hotspot_state* state) {
  if (state == nullptr || state->gen == nullptr || state->gen->item == nullptr)
    return VELKO_ERR_BAD_ARGUMENT;
  generation_context* gen = state->gen;
  LSXLsiSession* session = SessionOf(gen);
  const WORD area = ShapeOf(shape);
  const record_storage* current = state->current;
  bool opened = false;
  if (!IsBracketOf(current, SIG_CD_END, SIG_CD_MAPELEMENT)) {
    if (current == nullptr || current->next == nullptr ||
        !IsBracketOf(current->next, SIG_CD_BEGIN, SIG_CD_MAPELEMENT)) {
      RETURN_IF_FAILED(OpenMap(area, gen));
      opened = true;
    } else {
      RETURN_IF_FAILED(CopyMapForward(area, state));
    }
  }

  RETURN_IF_FAILED(GenerateCDBegin(SIG_CD_AREAELEMENT, kMapVersion, gen));
  {
    BYTE coordinates[kCoordinateBytes];
    const DWORD count = area == kShapeDefault ? 0 : ParseCoords(session, shape, coordinates);
    built_record record(session, SIG_CD_AREAELEMENT, sizeof(CDAREAELEMENT), count);
    RETURN_IF_FAILED(record.status());
    property_value values(session, properties);
    RETURN_IF_FAILED(values.status());
    CDAREAELEMENT* element = record.as<CDAREAELEMENT>();
    element->Shape = area;
    if (const char* tab = values.Read("TabIndex="))
      element->TabIndex = static_cast<WORD>(std::strtol(tab, nullptr, 10));
    record.Append(coordinates, count);
    RETURN_IF_FAILED(record.Emit(gen));
  }
  RETURN_IF_FAILED(EmitIdNameRecord("Hotspot", properties, gen));
  if (session->internal->hotspot_code_kind == kAreaCodeFormula)
    RETURN_IF_FAILED(EmitFormulaEvents(properties, gen));
  RETURN_IF_FAILED(GenerateCDEnd(SIG_CD_AREAELEMENT, kMapVersion, gen));
  if (!opened)
    return NOERROR;
  return GenerateCDEnd(SIG_CD_MAPELEMENT, kMapVersion, gen);
}
