// Memory running short, on demand: a program that links replaced_new.cpp and
// failing_allocations.cpp has an operator new that can be told to fail, on
// one thread at a time, so that gtest and the other threads go on. It also
// counts what each thread allocates.
#pragma once

#include <cstddef>

namespace audio_test {

// Bytes the calling thread has asked of operator new so far.
size_t allocated_bytes();

// The next `count` allocations of the calling thread throw std::bad_alloc
// (0 disarms).
void fail_allocations(int count);

// Runs call() with the next `count` allocations of this thread failing.
// Whatever the test needs besides is allocated before, and checked after.
template <typename Call>
auto with_failing_allocations(int count, Call call) {
    struct Disarm {
        ~Disarm() { fail_allocations(0); }
    } disarm;
    fail_allocations(count);
    return call();
}

}  // namespace audio_test
