// The replaceable operator new of failing_allocations.h.
#include "failing_allocations.h"

#include <cstdlib>
#include <new>

namespace {

// Allocations on this thread that are still to fail.
thread_local int t_failures_left = 0;
thread_local size_t t_allocated_bytes = 0;

}  // namespace

void audio_test::fail_allocations(int count) { t_failures_left = count; }
size_t audio_test::allocated_bytes() { return t_allocated_bytes; }

void* operator new(std::size_t size) {
    if (t_failures_left > 0) {
        --t_failures_left;
        throw std::bad_alloc();
    }
    t_allocated_bytes += size;
    if (void* block = std::malloc(size ? size : 1)) return block;
    throw std::bad_alloc();
}
void* operator new[](std::size_t size) { return operator new(size); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
    try {
        return operator new(size);
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}
void* operator new[](std::size_t size, const std::nothrow_t& tag) noexcept { return operator new(size, tag); }
// Inlined where operator new was called, these free() calls look like a
// mismatch to GCC; they are the other half of the operator new above.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
#endif
void operator delete(void* block) noexcept { std::free(block); }
void operator delete[](void* block) noexcept { std::free(block); }
void operator delete(void* block, std::size_t) noexcept { std::free(block); }
void operator delete[](void* block, std::size_t) noexcept { std::free(block); }
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic pop
#endif

