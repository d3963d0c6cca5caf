/*
 * What the keyword and wiki matching methods share: the session's keyword
 * table and link target, and the item switches changed while they run.
 */
#ifndef VELKO_CHUNK_LINK_MATCHING_H
#define VELKO_CHUNK_LINK_MATCHING_H

#include "velko/velko.h"

/* Frees the table's lists and note table and forgets the keys. */
void DropCachedTable(LSXLsiSession* session);

/* Reads the link database's replica ID and the view's UNID for the links. */
STATUS ReadLinkTarget(LSXLsiSession* session, const char* view);

/* The item's switches changed for the matching passes, restored after.
 * The passes keep their records cached, so AutoSave is off meanwhile: the
 * note is stored once, after the commit. */
class SavedSwitches {
public:
  explicit SavedSwitches(VelkoRTChunk& chunk)
      : chunk_(chunk), cache_records_(chunk.item->CacheRecords),
        auto_merge_(chunk.item->AutoMergeText), wildcards_(chunk.TextWildcards),
        auto_save_(chunk.item->AutoSave) {
    chunk.item->CacheRecords = 1;
    chunk.item->AutoMergeText = 0;
    chunk.item->AutoSave = 0;
  }
  ~SavedSwitches() { RestoreAll(); }
  SavedSwitches(const SavedSwitches&) = delete;
  SavedSwitches& operator=(const SavedSwitches&) = delete;

  WORD auto_merge() const { return auto_merge_; }
  WORD cache_records() const { return cache_records_; }
  void RestoreMerge() {
    chunk_.item->AutoMergeText = auto_merge_;
    chunk_.TextWildcards = wildcards_;
  }
  void RestoreAll() {
    RestoreMerge();
    chunk_.item->CacheRecords = cache_records_;
    chunk_.item->AutoSave = auto_save_;
  }

private:
  VelkoRTChunk& chunk_;
  WORD cache_records_;
  WORD auto_merge_;
  WORD wildcards_;
  WORD auto_save_;
};

#endif
