// A SQLite file system ("vfs") that keeps the write-ahead log's index in heap
// memory shared by the connections of this process, instead of a "-shm" file
// mapped into memory beside the database.
//
// Why: a page of a mapped file that the kernel can no longer back (the file
// turned immutable, its filesystem went read-only or was shut down, its
// drive returned I/O errors) is delivered as SIGBUS at the next store into
// it, which kills the whole process. Heap memory cannot fault that way: a
// failing drive then shows only as errors of the database calls on it.
//
// Invariants: every connection of this process to one database file (by its
// device and inode) sees one index and one set of log locks, so several connections
// (the writers of an hour, its readers) share the log as SQLite's own shared
// memory lets them. Connections of other processes do not see it: a file
// opened through this vfs belongs to this process while it is open (the
// engine owns its drives' recordings). The database file itself is never
// mapped into memory either. Everything else goes to the default vfs.
// Thread-safe; the index of a file goes when its last connection closes.
#pragma once

namespace orvale::recorder {

// The name to open a database with (registered on first call).
const char* HeapWalIndexVfs();

}  // namespace orvale::recorder
