#pragma once

// A growing byte buffer in one region of huge_pages.h memory.

#include <cstddef>

// Bytes in one region, filled at the back and consumed from the front. It
// grows by a quarter at a time, or to what one append needs: where large
// regions grow without a copy (see growRegion), a buffer that carries a huge
// construct holds little more than the construct.
class RegionBytes {
 public:
  RegionBytes() = default;
  ~RegionBytes();
  RegionBytes(const RegionBytes&) = delete;
  RegionBytes& operator=(const RegionBytes&) = delete;

  char* data() { return data_; }
  const char* data() const { return data_; }
  std::size_t size() const { return size_; }
  // How many bytes it holds without growing.
  std::size_t capacity() const { return capacity_; }

  // Room for `count` more bytes after the others, or null when there is no
  // memory for them; grow() then counts those written.
  char* room(std::size_t count);
  void grow(std::size_t count) { size_ += count; }

  // Appends `count` bytes; false when there is no memory for them.
  bool append(const char* bytes, std::size_t count);

  // Drops the first `count` bytes.
  void consume(std::size_t count);

  // Drops every byte; the memory stays for the next ones.
  void clear() { size_ = 0; }

 private:
  char* data_ = nullptr;
  std::size_t size_ = 0;
  std::size_t capacity_ = 0;
};
