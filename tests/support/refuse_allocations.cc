// The test program's operator new, which RefuseAllocations (test_util.h)
// makes fail for large blocks.
#include <cstdlib>
#include <new>

#include "support/test_util.h"

namespace quorvel::testing {
namespace {

thread_local int refusing = 0;

void* allocate(std::size_t size) {
  if (refusing > 0 && size >= RefuseAllocations::kRefusedBytes) throw std::bad_alloc();
  if (void* block = std::malloc(size == 0 ? 1 : size)) return block;
  throw std::bad_alloc();
}

}  // namespace

RefuseAllocations::RefuseAllocations() { ++refusing; }
RefuseAllocations::~RefuseAllocations() { --refusing; }

}  // namespace quorvel::testing

void* operator new(std::size_t size) { return quorvel::testing::allocate(size); }
void* operator new[](std::size_t size) { return quorvel::testing::allocate(size); }
void operator delete(void* block) noexcept { std::free(block); }
void operator delete[](void* block) noexcept { std::free(block); }
void operator delete(void* block, std::size_t) noexcept { std::free(block); }
void operator delete[](void* block, std::size_t) noexcept { std::free(block); }
