// The hooks of replaced_new.h for programs that make memory run short on
// demand (failing_allocations.h).
#include "failing_allocations.h"

#include "replaced_new.h"

namespace {

// Allocations on this thread that are still to fail.
thread_local int t_failures_left = 0;
thread_local size_t t_allocated_bytes = 0;

}  // namespace

void audio_test::fail_allocations(int count) { t_failures_left = count; }
size_t audio_test::allocated_bytes() { return t_allocated_bytes; }

bool audio_test::allocation_fails(std::size_t size) {
    if (t_failures_left > 0) {
        --t_failures_left;
        return true;
    }
    t_allocated_bytes += size;
    return false;
}
void audio_test::note_release() {}
