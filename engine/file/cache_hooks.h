// Where the file layer meets the block cache. The cache is not part of this
// engine yet: no file is ever admitted to it, so holds() is false, running()
// is false and the other hooks do nothing. The file layer calls them at the
// places the cache will take part, so that adding the cache fills these
// hooks in without reshaping the layer.
#pragma once

#include <cstdint>

#include "tablekit.h"

namespace tablekit::file::cache {

// At the start of every open, create and temporary-file creation: starts the
// cache when the context allows it to start by itself.
inline void autoStart(CODE4 &) {}

// Whether the cache runs for the context.
inline bool running(const CODE4 &) { return false; }

// Whether the file's reads and writes go through the cache.
inline bool holds(const FILE4 &) { return false; }

// Reads and writes through the cache; the number of bytes moved.
inline unsigned read(FILE4 &, std::uint64_t, void *, unsigned) { return 0; }
inline unsigned write(FILE4 &, std::uint64_t, const void *, unsigned) { return 0; }

// The length the cache knows for the file; -1 when it knows none.
inline long knownLength(const FILE4 &) { return -1; }

// A length change: drops the blocks beyond newLen and takes newLen as the
// cached length. True when the cache did all there is to do (writes are
// buffered), false when the file itself must change.
inline bool cut(FILE4 &, std::uint64_t) { return false; }

// Writes back the file's changed blocks. 0 or a negative code.
inline int flushFile(FILE4 &) { return 0; }

// Writes back and drops the file's blocks and takes it out of the cache (at
// close and before a replace). 0 or a negative code.
inline int withdraw(FILE4 &) { return 0; }

// Makes the next reads of a shared file see other users' changes.
inline int refresh(FILE4 &) { return 0; }

}  // namespace tablekit::file::cache
