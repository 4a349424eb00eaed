#include "reader/parser_arena.h"

#include <pugixml.hpp>

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <string>

namespace {

int foreignAllocations = 0;
void* countingAllocate(size_t size) {
  ++foreignAllocations;
  return std::malloc(size);
}

TEST(ParserArenaTest, BlocksAreAlignedDistinctAndWritable) {
  ParserArena arena;
  char* previous = nullptr;
  for (size_t size : {1u, 7u, 16u, 100u, 32768u, 3u << 20, 1u, 40u << 20, 5u}) {
    char* block = static_cast<char*>(arena.allocate(size));
    ASSERT_NE(block, nullptr) << size;
    EXPECT_EQ(reinterpret_cast<std::uintptr_t>(block) % alignof(std::max_align_t), 0u) << size;
    EXPECT_NE(block, previous);
    std::memset(block, 0xAB, size);  // under the sanitizers this proves the block is inside a region
    previous = block;
  }
  EXPECT_GE(arena.reservedBytes(), (43u << 20));
}

TEST(ParserArenaTest, ARequestTheSystemCannotServeGivesNull) {
  ParserArena arena;
  EXPECT_EQ(arena.allocate(SIZE_MAX - 64), nullptr);
  EXPECT_EQ(arena.allocate(SIZE_MAX / 2), nullptr);
  EXPECT_NE(arena.allocate(64), nullptr);  // and it goes on serving what it can
}

TEST(ParserArenaTest, ServesTheParserAndGivesBackItsFunctions) {
  pugi::set_memory_management_functions(countingAllocate, std::free);
  {
    ParserArena arena;
    pugi::xml_document document;
    std::string text = "<R>";
    for (int i = 0; i < 20000; ++i) text += "<P><Name>n" + std::to_string(i) + "</Name></P>";
    text += "</R>";
    ASSERT_TRUE(document.load_string(text.c_str()));
    EXPECT_EQ(foreignAllocations, 0);
    EXPECT_GT(arena.reservedBytes(), text.size());
    EXPECT_EQ(std::distance(document.first_child().begin(), document.first_child().end()), 20000);
  }
  pugi::xml_document after;
  ASSERT_TRUE(after.load_string("<R><A/></R>"));
  EXPECT_GT(foreignAllocations, 0);
  pugi::set_memory_management_functions(std::malloc, std::free);
}

}  // namespace
