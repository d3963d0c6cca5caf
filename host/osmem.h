/*
 * Memory objects of the host: blocks reached through 32-bit handles.
 *
 * A block is allocated with OSMemAlloc, locked (OSLockObject) to get its
 * address and unlocked again; locks are counted. The address stays the same
 * for the whole life of the handle, locked or not. A handle carries a
 * generation, so a handle whose block was freed is recognised (null from
 * OSLockObject, an error status from OSMemFree) instead of reaching another
 * block. Handles are never 0 and never pointers.
 *
 * Test controls for this table (fault injection, leak report) are in
 * host/host_testing.h.
 */
#ifndef VELKO_HOST_OSMEM_H
#define VELKO_HOST_OSMEM_H

#include "velko/host_types.h"

#ifdef __cplusplus
extern "C" {
#endif

/* The block type the engine asks for. Any type is accepted and ignored. */
#define MEM_TYPE_ENGINE 0x8000

/* Blocks above this size are refused with ERR_MEMORY. */
#define OSMEM_MAX_BLOCK_SIZE 0x10000000u

/* Allocates a zero-filled block of size bytes (0 is allowed). On failure,
 * injected or real, returns ERR_MEMORY and sets *retHandle to 0. */
STATUS OSMemAlloc(WORD blockType, DWORD size, DHANDLE* retHandle);

/* Adds one lock and returns the block's address; null for a handle that is
 * 0, unknown, or whose block was freed. */
void* OSLockObject(DHANDLE handle);

/* Removes one lock; FALSE when the handle is bad or the block not locked. */
BOOL OSUnlockObject(DHANDLE handle);

/* Frees the block, locked or not. ERR_HOST_DOUBLE_FREE when it was already
 * freed, ERR_HOST_STALE_HANDLE when its slot now holds another block,
 * ERR_HOST_BAD_HANDLE for anything else that is not a live handle. */
STATUS OSMemFree(DHANDLE handle);

/* The size asked for at allocation; 0 for a bad handle. */
DWORD OSMemGetSize(DHANDLE handle);

#ifdef __cplusplus
}
#endif

#endif
