#include "stream/huge_pages.h"

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

#if defined(__linux__)
namespace {
// Moves the pages of a mapped region into a larger mapping, or null.
void* remapped(void* region, std::size_t size, std::size_t newSize) {
  if (size < kHugePage || newSize < kHugePage) return nullptr;
  void* const moved = mremap(region, size, newSize, MREMAP_MAYMOVE);
  return moved == MAP_FAILED ? nullptr : moved;
}
}  // namespace
#define BLOCK2GCI_HAVE_REMAP 1
#endif
#else
void* allocateRegion(std::size_t& size) {
  if (size > SIZE_MAX - 2 * kHugePage) return nullptr;
  size = regionSize(size);
  return std::malloc(size);
}

void freeRegion(void* region, std::size_t) { std::free(region); }
#endif

void* growRegion(void* region, std::size_t size, std::size_t& newSize, std::size_t keep) {
  if (newSize > SIZE_MAX - 2 * kHugePage) return nullptr;
#ifdef BLOCK2GCI_HAVE_REMAP
  std::size_t mapped = regionSize(newSize);
  if (void* const moved = remapped(region, size, mapped)) {
    newSize = mapped;
    return moved;
  }
#endif
  void* const grown = allocateRegion(newSize);
  if (!grown) return nullptr;
  if (keep > 0) std::memcpy(grown, region, keep);
  if (region) freeRegion(region, size);
  return grown;
}
