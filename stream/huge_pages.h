#pragma once

// Memory in large regions that the system may back with huge pages.
//
// On a machine where every fresh 4 KiB page costs a fault (a virtual
// machine above all), touching the few tens of megabytes a load needs would
// take longer than reading the whole file. A region advised for
// transparent huge pages takes one fault per 2 MiB instead. Where there are
// no huge pages the regions are ordinary memory and nothing else changes.

#include <cstddef>

// At least `size` bytes of memory, or null when the system has no more to
// give; `size` is set to what the region holds. A region of a megabyte or
// more is whole huge pages; a smaller one is not worth one. Give it back with
// freeRegion.
void* allocateRegion(std::size_t& size);
void freeRegion(void* region, std::size_t size);

// Grows `region`, of `size` bytes, to hold at least `newSize` bytes, keeping
// its first `keep` bytes; `newSize` is set to what the grown region holds.
// Returns the grown region, which may have moved, or null when the system has
// no more memory to give (the old region is then untouched). Where the
// system can move pages (Linux), a large region grows without a copy and
// without standing twice in memory.
void* growRegion(void* region, std::size_t size, std::size_t& newSize, std::size_t keep);
