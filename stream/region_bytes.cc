#include "stream/region_bytes.h"

#include "stream/huge_pages.h"

#include <cstdint>
#include <cstring>

RegionBytes::~RegionBytes() {
  if (data_) freeRegion(data_, capacity_);
}

char* RegionBytes::room(std::size_t count) {
  if (capacity_ - size_ >= count) return data_ + size_;
  if (count > SIZE_MAX / 2 - size_) return nullptr;
  const std::size_t step = capacity_ + capacity_ / 4;
  std::size_t capacity = size_ + count > step ? size_ + count : step;
  char* const bigger =
      static_cast<char*>(data_ ? growRegion(data_, capacity_, capacity, size_) : allocateRegion(capacity));
  if (!bigger) return nullptr;
  data_ = bigger;
  capacity_ = capacity;
  return data_ + size_;
}

bool RegionBytes::append(const char* bytes, std::size_t count) {
  char* const into = room(count);
  if (!into) return false;
  if (count > 0) std::memcpy(into, bytes, count);
  size_ += count;
  return true;
}

void RegionBytes::consume(std::size_t count) {
  size_ -= count;
  if (size_ > 0 && count > 0) std::memmove(data_, data_ + count, size_);
}
