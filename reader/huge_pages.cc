#include "reader/huge_pages.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>

#if defined(__unix__) || defined(__APPLE__)
#include <sys/mman.h>
#define BLOCK2GCI_HAVE_MMAP 1
#endif

namespace {

constexpr std::size_t kHugePage = std::size_t(2) << 20;
constexpr std::size_t kPage = std::size_t(4) << 10;

std::size_t roundUp(std::size_t size, std::size_t to) { return (size + to - 1) / to * to; }

// The size of a region that holds `size` bytes.
std::size_t regionSize(std::size_t size) {
  return size >= kHugePage / 2 ? roundUp(size, kHugePage) : roundUp(size == 0 ? 1 : size, kPage);
}

}  // namespace

#ifdef BLOCK2GCI_HAVE_MMAP
void* allocateRegion(std::size_t& size) {
  if (size > SIZE_MAX - 2 * kHugePage) return nullptr;
  size = regionSize(size);
  // The allocator serves small regions again and again without the system.
  if (size < kHugePage) return std::malloc(size);
  // Mapped with a huge page of slack, then trimmed to start on a huge-page
  // boundary, so that the kernel can back all of it with huge pages.
  const std::size_t padded = size + kHugePage;
  void* mapped = mmap(nullptr, padded, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (mapped == MAP_FAILED) {
    // Too little address space for the slack: take the region unaligned.
    mapped = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    return mapped == MAP_FAILED ? nullptr : mapped;
  }
  char* const start = static_cast<char*>(mapped);
  char* const aligned = reinterpret_cast<char*>(roundUp(reinterpret_cast<std::uintptr_t>(start), kHugePage));
  if (aligned > start) munmap(start, static_cast<std::size_t>(aligned - start));
  char* const tail = aligned + size;
  const std::size_t tailSize = static_cast<std::size_t>(start + padded - tail);
  if (tailSize > 0) munmap(tail, tailSize);
#ifdef MADV_HUGEPAGE
  // Only advice: where transparent huge pages are off the call fails and
  // the region stays ordinary memory.
  madvise(aligned, size, MADV_HUGEPAGE);
#endif
  return aligned;
}

void freeRegion(void* region, std::size_t size) {
  if (size < kHugePage) {
    std::free(region);
  } else {
    munmap(region, size);
  }
}
#else
void* allocateRegion(std::size_t& size) {
  if (size > SIZE_MAX - 2 * kHugePage) return nullptr;
  size = regionSize(size);
  return std::malloc(size);
}

void freeRegion(void* region, std::size_t) { std::free(region); }
#endif

RegionBytes::~RegionBytes() {
  if (data_) freeRegion(data_, capacity_);
}

char* RegionBytes::room(std::size_t count) {
  if (capacity_ - size_ >= count) return data_ + size_;
  if (count > SIZE_MAX / 2 - size_) return nullptr;
  std::size_t capacity = size_ + count > 2 * capacity_ ? size_ + count : 2 * capacity_;
  char* const bigger = static_cast<char*>(allocateRegion(capacity));
  if (!bigger) return nullptr;
  if (size_ > 0) std::memcpy(bigger, data_, size_);
  if (data_) freeRegion(data_, capacity_);
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
