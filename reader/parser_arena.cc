#include "reader/parser_arena.h"

#include "reader/huge_pages.h"

#include <pugixml.hpp>

#include <cstdint>

namespace {

constexpr std::size_t kAlignment = alignof(std::max_align_t);
// The smallest first shared region; each further one doubles, up to
// kMaxGrowth.
constexpr std::size_t kFirstRegion = std::size_t(64) << 10;
constexpr std::size_t kMaxGrowth = std::size_t(256) << 20;

ParserArena* current = nullptr;

std::size_t roundUp(std::size_t size, std::size_t to) { return (size + to - 1) / to * to; }

void* arenaAllocate(std::size_t size) { return current ? current->allocate(size) : nullptr; }

// Pages go back to the system with the arena; a single free buys nothing.
void arenaDeallocate(void*) {}

}  // namespace

struct ParserArena::Region {
  Region* next;
  std::size_t size;
};

ParserArena::ParserArena(std::size_t expected)
    : growth_(expected > kFirstRegion ? expected : kFirstRegion),
      previousAllocate_(pugi::get_memory_allocation_function()),
      previousDeallocate_(pugi::get_memory_deallocation_function()) {
  current = this;
  pugi::set_memory_management_functions(arenaAllocate, arenaDeallocate);
}

ParserArena::~ParserArena() {
  pugi::set_memory_management_functions(previousAllocate_, previousDeallocate_);
  current = nullptr;
  while (regions_) {
    Region* const next = regions_->next;
    freeRegion(regions_, regions_->size);
    regions_ = next;
  }
}

ParserArena::Region* ParserArena::newRegion(std::size_t atLeast) {
  const std::size_t header = roundUp(sizeof(Region), kAlignment);
  if (atLeast > SIZE_MAX - header) return nullptr;
  std::size_t size = atLeast + header;
  void* base = allocateRegion(size);
  if (!base) return nullptr;
  Region* const region = static_cast<Region*>(base);
  region->next = regions_;
  region->size = size;
  regions_ = region;
  reserved_ += size;
  return region;
}

void* ParserArena::allocate(std::size_t size) {
  size = roundUp(size == 0 ? 1 : size, kAlignment);
  if (size <= static_cast<std::size_t>(end_ - next_)) {
    void* const block = next_;
    next_ += size;
    return block;
  }
  const std::size_t header = roundUp(sizeof(Region), kAlignment);
  if (size > growth_ / 2) {
    // A large block (the document text, a long string) gets a region of its
    // own, so that the shared region keeps its free space.
    Region* const region = newRegion(size);
    return region ? reinterpret_cast<char*>(region) + header : nullptr;
  }
  Region* region = newRegion(growth_);
  if (!region) region = newRegion(size);  // short of memory: ask for no more than needed
  if (!region) return nullptr;
  if (growth_ < kMaxGrowth) growth_ *= 2;
  char* const start = reinterpret_cast<char*>(region) + header;
  next_ = start + size;
  end_ = reinterpret_cast<char*>(region) + region->size;
  return start;
}
