/*
 * The session's tracked working memory.
 *
 * Every subsystem takes its working memory from the session's pool with the
 * requesting source line and file. A released block stays in the pool (and,
 * for host memory, stays locked) and is handed to the next request it can
 * hold; the whole pool is freed when the session ends, with a log line for
 * every block still in use. Requests whose rounded size is below 65366 bytes
 * come from the host's memory objects, larger ones from the heap.
 *
 * Callers pass their place with VELKO_HERE:
 *   char* text = (char*)VelkoAllocatePtr(session, VELKO_HERE, size, 1);
 */
#ifndef VELKO_STORE_TRACKED_MEMORY_H
#define VELKO_STORE_TRACKED_MEMORY_H

#include <stddef.h>
#include <stdint.h>

#include "velko/host_types.h"

class LSXLsiSession;

#define VELKO_HERE __LINE__, __FILE_NAME__

/* Rounded sizes below this come from host memory objects. */
constexpr DWORD kHostMemoryBlockLimit = 65366;
/* The largest request served; larger ones are refused rather than cut. */
constexpr size_t kLargestTrackedRequest = 0xFFFFFFD6u;
/* A length rounded up to an even number: blocks are always even, and a
 * stored record of odd length takes one more 0 byte. */
template <typename Length>
constexpr Length EvenLength(Length length) {
  return length + (length & 1);
}
/* The size of the engine's standard work block: an item's conversion
 * buffers, the body writer's buffer, a chunk's field buffers and the
 * output buffer a rendering starts with. */
constexpr DWORD kWorkBlockSize = 65406;

/* One block of the pool.
 *
 * Built with AddressSanitizer, the pool poisons what no holder may touch:
 * a free block whole, and the rest of a larger free block handed out again
 * behind the bytes asked for (rounded up to even). A record arena poisons
 * the room of its slabs that no piece holds and the tail of each piece
 * behind its size. */
struct velko_allocation {
  DWORD size = 0;          /* bytes, always even */
  DWORD requested = 0;     /* bytes the current holder asked for, rounded up to even */
  DWORD use_count = 0;     /* how many times the block was handed out */
  WORD line = 0;           /* source line of the current holder; 0 when free */
  char file[10] = {};      /* source file of the holder; empty when free */
  DWORD os_memory = 0;     /* 1: a host memory object; 0: a heap block */
  LSXLsiSession* session = nullptr;
  DHANDLE handle = NULLHANDLE;
  void* data = nullptr;    /* locked address (host memory) or the heap block */
  velko_allocation* next = nullptr;
  /* Place in the pool's order behind the head: the size the block was
   * linked with, then the order of creation. */
  DWORD link_size = 0;
  uint64_t sequence = 0;
  /* The pool's index finds the block by its data. */
  bool data_indexed = false;

  velko_allocation(LSXLsiSession* session, size_t size);
  ~velko_allocation();
  velko_allocation(const velko_allocation&) = delete;
  velko_allocation& operator=(const velko_allocation&) = delete;

  /* Stamps the block for a holder and returns its data (null without). */
  void* Allocate(LSXLsiSession* session, int line, const char* file, int zero);
  /* Clears the stamp; the memory stays with the block. */
  void Deallocate(LSXLsiSession* session);

  bool InUse() const { return file[0] != '\0'; }
  /* False when the host refused the block's memory. */
  bool HoldsMemory() const { return os_memory ? handle != NULLHANDLE : data != nullptr; }
};

velko_allocation* VelkoAllocate(LSXLsiSession* session, int line, const char* file, size_t size,
                                int zero);
void* VelkoAllocatePtr(LSXLsiSession* session, int line, const char* file, size_t size, int zero);
/* A NUL-terminated tracked copy of count bytes of source (count 0: its whole
 * length); null for a null source or when memory cannot be had. */
char* VelkoAllocatePtrAndCopy(LSXLsiSession* session, int line, const char* file,
                              const char* source, size_t count);
/* A tracked copy of the key's value in the property string, or null when the
 * key is absent or its value empty. The value passes through the session's
 * first scratch text. */
char* VelkoAllocatePtrExtractProperty(LSXLsiSession* session, int line, const char* file,
                                      const char* properties, const char* key);
/* Makes the tracked block in use at data hold size bytes, keeping its
 * content up to the smaller size, for a buffer that grows (or shrinks when
 * it is done). A heap block is resized where the heap has it, so that a
 * growing buffer leaves no smaller copies of itself in the pool; a block
 * from a host memory object, or a size the host serves, gets a new block
 * and the old one is released. The block is stamped for line and file.
 * Returns the (possibly moved) data; null when memory cannot be had or
 * data is not a tracked block in use, and the block is then unchanged. */
void* VelkoReallocatePtr(LSXLsiSession* session, int line, const char* file, void* data,
                         size_t size);
void VelkoDeallocate(LSXLsiSession* session, velko_allocation* block);
void VelkoDeallocatePtr(LSXLsiSession* session, void* data);
/* Frees the whole pool, logging each block still in use. With onlyWhenInUse
 * non-zero nothing happens unless some block is in use. */
void VelkoDeallocateAndFreeAll(LSXLsiSession* session, int onlyWhenInUse);

/* ---- record arenas ---- */

/* Pieces of tracked memory for many small objects that are released
 * together: the record nodes of a body, their data and side data. Pieces
 * are carved, 8-byte aligned, from tracked blocks of kRecordArenaSlabSize
 * bytes (the size makes them heap blocks, not host memory objects); a piece
 * larger than a slab can hold gets a tracked block of its own. A piece is
 * never released alone: ReleaseRecordArena releases every block of the
 * arena at once, back into the session's pool. Value-initialised, an arena
 * is empty; an arena holds no memory of its own and may be copied only
 * while empty. */
struct record_arena {
  char* free = nullptr;    /* the next free byte of the current slab */
  size_t room = 0;         /* bytes left behind it */
  void* last_block = nullptr; /* the arena's blocks, chained from the last */
  void* first_block = nullptr; /* the end of that chain, so that moving it is one step */
  DWORD block_count = 0;
};

constexpr DWORD kRecordArenaSlabSize = 65536;
constexpr size_t kRecordArenaAlignment = 8;

/* A piece of at least size bytes (zeroed when zero is non-zero), 8-byte
 * aligned; null when memory cannot be had, after the allocator's log line
 * and message. line and file name the requester, as for VelkoAllocate. */
void* RecordArenaAllocate(LSXLsiSession* session, record_arena* arena, int line, const char* file,
                          size_t size, int zero);
/* Gives the last size bytes of a piece back to the arena, when nothing was
 * carved behind the piece: the piece ends at `end`, where the current
 * slab's free room begins (size a multiple of kRecordArenaAlignment).
 * Nothing happens otherwise. */
void RecordArenaGiveBack(record_arena* arena, void* end, size_t size);
/* A spare piece of an arena that many small pieces are cut from in turn,
 * so that a piece costs no arena call of its own: *spare is where the
 * next piece is cut, *room the bytes left behind it. ReturnArenaSpare
 * gives the rest back to the arena (RecordArenaGiveBack) and empties it. */
inline void ReturnArenaSpare(record_arena* arena, char** spare, size_t* room) {
  if (*spare != nullptr)
    RecordArenaGiveBack(arena, *spare + *room, *room);
  *spare = nullptr;
  *room = 0;
}
/* A piece of `piece` bytes (8-byte aligned) cut from the spare piece,
 * refilled from the arena when it is too short: with the rest of the
 * arena's current slab up to spareSize bytes, or else a new slab's first
 * spareSize bytes, what was left of it given back first. A piece larger
 * than spareSize gets an arena piece of its own. Null when memory runs
 * out. line and file name the requester. */
inline void* CutFromArenaSpare(LSXLsiSession* session, record_arena* arena, char** spare,
                               size_t* room, size_t piece, size_t spareSize, int line,
                               const char* file) {
  if (piece > *room) {
    ReturnArenaSpare(arena, spare, room);
    if (piece > spareSize)
      return RecordArenaAllocate(session, arena, line, file, piece, 0);
    const size_t take = arena->room >= piece && arena->room < spareSize
                            ? arena->room & ~(kRecordArenaAlignment - 1)
                            : spareSize;
    *spare = static_cast<char*>(RecordArenaAllocate(session, arena, line, file, take, 0));
    if (*spare == nullptr)
      return nullptr;
    *room = take;
  }
  char* cut = *spare;
  *spare += piece;
  *room -= piece;
  return cut;
}
/* Releases every block of the arena to the session's pool; the arena is
 * empty afterwards. Null arenas are ignored. */
void ReleaseRecordArena(LSXLsiSession* session, record_arena* arena);
/* Gives every block of `from` to `to`, whose pieces stay where they are
 * and are released with `to`; `to` goes on carving its own current slab,
 * and `from` is empty afterwards. */
void MoveRecordArena(record_arena* to, record_arena* from);

#endif
