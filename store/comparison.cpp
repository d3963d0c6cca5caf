/*
 * Construction and destruction of the comparison settings: three items of
 * the session and the marks, fonts and table notes with which a comparison
 * of rich text would show its results. No comparison is carried out here or
 * anywhere else.
 */
#include <string.h>

#include <initializer_list>

#include "velko/velko.h"

namespace {

char* OwnedText(const char* text) {
  const size_t size = strlen(text) + 1;
  char* copy = new char[size];
  memcpy(copy, text, size);
  return copy;
}

} // namespace

VelkoRTComparison::VelkoRTComparison(LSXLsiSession* owner) : session(owner) {
  // The items join the session's item list, which deletes them; without a
  // session nothing would, so none are made.
  if (session != nullptr) {
    for (VelkoRTItem*& item : items)
      item = new VelkoRTItem(session);
  }
  removed_marker = OwnedText("(\x02-)");
  added_marker = OwnedText("(\x02+)");
  removed_font = OwnedText("RED +STRIKETHROUGH");
  removed_mark = OwnedText("(-)");
  added_mark = OwnedText("(+)");
  removed_style = OwnedText("RED +Strikethrough");
  added_style = OwnedText("Blue");
  added_font = OwnedText("BLUE");
  removed_marker_2 = OwnedText("(\x01-)");
  added_marker_2 = OwnedText("(\x01+)");
  columns_decreased = OwnedText("** The number of columns has decreased **");
  columns_increased = OwnedText("** The number of columns has increased **");
  rows_decreased = OwnedText("** The number of rows has decreased **");
  rows_increased = OwnedText("** The number of rows has increased **");
}

VelkoRTComparison::~VelkoRTComparison() {
  for (char* text : {removed_marker, added_marker, removed_font, unset_text_1, removed_mark,
                     added_mark, removed_style, added_style, added_font, unset_text_2,
                     removed_marker_2, added_marker_2, unset_text_3, unset_text_4,
                     columns_decreased, columns_increased, rows_decreased, rows_increased})
    delete[] text;
}
