// The test program's operator new, which RefuseAllocations (test_util.h)
// makes fail for large blocks. Under AddressSanitizer, whose own operator
// new the program keeps, allocations are never refused.
#include <cstdlib>
#include <new>

#include "support/test_util.h"

#if defined(__SANITIZE_ADDRESS__)
#define QUORVEL_OWN_OPERATOR_NEW 0
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define QUORVEL_OWN_OPERATOR_NEW 0
#endif
#endif
#ifndef QUORVEL_OWN_OPERATOR_NEW
#define QUORVEL_OWN_OPERATOR_NEW 1
#endif

namespace quorvel::testing {
namespace {

thread_local int refusing = 0;

}  // namespace

RefuseAllocations::RefuseAllocations() { ++refusing; }
RefuseAllocations::~RefuseAllocations() { --refusing; }
bool RefuseAllocations::works() { return QUORVEL_OWN_OPERATOR_NEW != 0; }

#if QUORVEL_OWN_OPERATOR_NEW
namespace {

void* allocate(std::size_t size) {
  if (refusing > 0 && size >= RefuseAllocations::kRefusedBytes) throw std::bad_alloc();
  if (void* block = std::malloc(size == 0 ? 1 : size)) return block;
  throw std::bad_alloc();
}

}  // namespace
#endif

}  // namespace quorvel::testing

#if QUORVEL_OWN_OPERATOR_NEW
// The library's other forms (no-throw, sized) come to these.
void* operator new(std::size_t size) { return quorvel::testing::allocate(size); }
void* operator new[](std::size_t size) { return quorvel::testing::allocate(size); }
void operator delete(void* block) noexcept { std::free(block); }
void operator delete[](void* block) noexcept { std::free(block); }
void operator delete(void* block, std::size_t) noexcept { std::free(block); }
void operator delete[](void* block, std::size_t) noexcept { std::free(block); }
#endif
