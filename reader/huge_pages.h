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

// Bytes in one region that grows by doubling: filled at the back, consumed
// from the front.
class RegionBytes {
 public:
  RegionBytes() = default;
  ~RegionBytes();
  RegionBytes(const RegionBytes&) = delete;
  RegionBytes& operator=(const RegionBytes&) = delete;

  char* data() { return data_; }
  const char* data() const { return data_; }
  std::size_t size() const { return size_; }

  // Room for `count` more bytes after the others, or null when there is no
  // memory for them; grow() then counts those written.
  char* room(std::size_t count);
  void grow(std::size_t count) { size_ += count; }

  // Appends `count` bytes; false when there is no memory for them.
  bool append(const char* bytes, std::size_t count);

  // Drops the first `count` bytes.
  void consume(std::size_t count);

 private:
  char* data_ = nullptr;
  std::size_t size_ = 0;
  std::size_t capacity_ = 0;
};
