/*
 * Construction and destruction of the comparison settings: three items of
 * the session and the marks, fonts and table notes with which a comparison
 * of rich text would show its results. No comparison is carried out here or
 * anywhere else.
 */
#include <string.h>

#include <initializer_list>
#include <new>

#include "store/new_object.h"
#include "store/owned_text.h"
#include "velko/velko.h"

VelkoRTComparison::VelkoRTComparison(LSXLsiSession* owner) : session(owner) {
  // The items join the session's item list, which deletes them; without a
  // session nothing would, so none are made.
  if (session != nullptr) {
    for (VelkoRTItem*& item : items)
      item = NewObject<VelkoRTItem>(session); // null when memory is short
  }
  removed_marker = CopyOwnedText("(\x02-)");
  added_marker = CopyOwnedText("(\x02+)");
  removed_font = CopyOwnedText("RED +STRIKETHROUGH");
  removed_mark = CopyOwnedText("(-)");
  added_mark = CopyOwnedText("(+)");
  removed_style = CopyOwnedText("RED +Strikethrough");
  added_style = CopyOwnedText("Blue");
  added_font = CopyOwnedText("BLUE");
  removed_marker_2 = CopyOwnedText("(\x01-)");
  added_marker_2 = CopyOwnedText("(\x01+)");
  columns_decreased = CopyOwnedText("** The number of columns has decreased **");
  columns_increased = CopyOwnedText("** The number of columns has increased **");
  rows_decreased = CopyOwnedText("** The number of rows has decreased **");
  rows_increased = CopyOwnedText("** The number of rows has increased **");
}

VelkoRTComparison::~VelkoRTComparison() {
  for (char* text : {removed_marker, added_marker, removed_font, unset_text_1, removed_mark,
                     added_mark, removed_style, added_style, added_font, unset_text_2,
                     removed_marker_2, added_marker_2, unset_text_3, unset_text_4,
                     columns_decreased, columns_increased, rows_decreased, rows_increased})
    delete[] text;
}
