#pragma once

// Memory for the XML parser, served from a few large regions.
//
// The sections of a large block make the parser ask for hundreds of small
// pages; with the system allocator much of the load is then spent taking a
// page fault for every 4 KiB the kernel zeroes and maps. The arena hands out
// the parser's pages from regions of huge pages (see huge_pages.h), and gives
// all of them back at once when it goes out of scope.

#include <cstddef>

// While a ParserArena lives, every allocation the parser makes is served
// from it; frees are no-ops, and everything is released by the destructor.
// So every parser object created in its scope must be destroyed before it
// ends. Only one arena may live at a time, and the parser must not be used
// from other threads meanwhile. An allocation that cannot be served returns
// null, which the parser reports as running out of memory.
class ParserArena {
 public:
  // `expected` is about how many bytes the parser will ask for: the first
  // region is that large, so that most documents need one region only.
  explicit ParserArena(std::size_t expected = 0);
  ~ParserArena();
  ParserArena(const ParserArena&) = delete;
  ParserArena& operator=(const ParserArena&) = delete;

  // Bytes obtained from the system so far, for tests and measurements.
  std::size_t reservedBytes() const { return reserved_; }

  // `size` bytes aligned for any object, or null when the system has no more
  // memory to give.
  void* allocate(std::size_t size);

 private:
  struct Region;  // the bookkeeping lives at the start of each region

  Region* newRegion(std::size_t atLeast);

  Region* regions_ = nullptr;  // every region, newest first
  char* next_ = nullptr;       // free space of the region small requests come from
  char* end_ = nullptr;
  std::size_t growth_;  // size of the next shared region
  std::size_t reserved_ = 0;
  void* (*previousAllocate_)(std::size_t);
  void (*previousDeallocate_)(void*);
};
