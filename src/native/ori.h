#pragma once

// The flat interface: plain functions with unmangled names, integer and
// pointer arguments, and no exceptions. Yes/no results are 1 or 0; a failed
// descriptor or count is -1. Messages are copied into a caller-owned buffer
// with snprintf (cut to size - 1 bytes and NUL-terminated; nothing is written
// when size is 0). Descriptors returned belong to the caller.

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

// ---- Archive image reader: the payload of a raw, gzip, xz or zip image ----

// Opens a reader on `fd` at its current offset and moves to the payload.
// The reader never closes `fd`. Null on failure, with a message.
void* ori_archive_open(int fd, char* error, size_t error_size);

// Reads up to `count` payload bytes: the number read (> 0), 0 at the end of
// the payload, or -1 with a message.
int64_t ori_archive_read(void* handle, void* destination, size_t count, char* error,
                         size_t error_size);

// After the payload: 1 when the archive ends cleanly with no other regular
// file, 0 with a message otherwise.
int ori_archive_finish(void* handle, char* error, size_t error_size);

// Releases a reader (null is allowed); the descriptor stays open.
void ori_archive_close(void* handle);

// ---- Channel sockets ----

// A stream socket connected to the Unix socket at `path`, or -1. Paths of
// more than 103 bytes fail without creating a socket. The listener must have
// bound exactly `path`: one bound under another name is left at once, before
// anything is sent.
int ori_unix_connect(const char* path);

// A stream socket bound to `path` and listening with a backlog of 1, or -1.
// An existing file at `path` makes it fail.
int ori_unix_listener(const char* path);

// 1 and the effective uid of the peer of a connected socket in `uid`; 0 and
// `uid` untouched when it cannot be told.
int ori_peer_uid(int fd, uint32_t* uid);

// ---- Disks ----

// 1 with the device's logical block size and its capacity in bytes; 0 when
// either cannot be read, the block size is 0, or the capacity overflows 64
// bits (the block size output may already be written then).
int ori_geometry(int fd, uint32_t* block_size, uint64_t* capacity);

// 1 when a disk may be written: protection known (1), not protected (0),
// external (1), physical (1) and a non-zero size.
int ori_safe_target(int protected_known, int is_protected, int is_external, int is_physical,
                    uint64_t size);

#ifdef __cplusplus
}
#endif
