// Reads the figures of process_figures.h and judges whether they stayed flat.
#include "process_figures.h"

#include <psapi.h>
#include <winternl.h>

#include <vector>

#include "diagnostics.h"

namespace audio_test {
namespace {

// The system's handle table (NtQuerySystemInformation class 16): one entry
// per open handle of every process.
constexpr int kSystemHandleInformation = 16;
struct SystemHandleEntry {
    ULONG process_id;
    BYTE object_type;
    BYTE flags;
    USHORT handle;
    PVOID object;
    ACCESS_MASK granted_access;
};
struct SystemHandleTable {
    ULONG count;
    SystemHandleEntry entries[1];
};

bool handles_counted = false;
bool bytes_summed = false;

// This process's entries in the system's handle table; 0 when unreadable.
DWORD count_handles_in_system_table() {
    std::vector<char> buffer(1 << 20);
    ULONG needed = 0;
    NTSTATUS status;
    while ((status = NtQuerySystemInformation(SYSTEM_INFORMATION_CLASS(kSystemHandleInformation), buffer.data(),
                                              ULONG(buffer.size()), &needed)) == LONG(0xC0000004)) {
        buffer.resize(buffer.size() * 2);  // STATUS_INFO_LENGTH_MISMATCH
    }
    if (status != 0) return 0;
    const auto* table = reinterpret_cast<const SystemHandleTable*>(buffer.data());
    DWORD mine = 0;
    for (ULONG i = 0; i < table->count; ++i)
        if (table->entries[i].process_id == GetCurrentProcessId()) ++mine;
    return mine;
}

// Committed private memory over the whole address space.
SIZE_T sum_private_committed() {
    SIZE_T total = 0;
    MEMORY_BASIC_INFORMATION region;
    const char* address = nullptr;
    while (VirtualQuery(address, &region, sizeof(region)) == sizeof(region)) {
        if (region.State == MEM_COMMIT && region.Type == MEM_PRIVATE) total += region.RegionSize;
        const char* next = static_cast<const char*>(region.BaseAddress) + region.RegionSize;
        if (next <= address) break;
        address = next;
    }
    return total;
}

}  // namespace

ProcessFigures measure_process() {
    ProcessFigures figures;
    GetProcessHandleCount(GetCurrentProcess(), &figures.handles);
    if (figures.handles == 0) {
        figures.handles = count_handles_in_system_table();
        handles_counted = true;
    }
    PROCESS_MEMORY_COUNTERS_EX memory = {};
    memory.cb = sizeof(memory);
    if (GetProcessMemoryInfo(GetCurrentProcess(), reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&memory),
                             sizeof(memory)))
        figures.private_bytes = memory.PrivateUsage;
    if (figures.private_bytes == 0) {
        figures.private_bytes = sum_private_committed();
        bytes_summed = true;
    }
    figures.streams = audio::library_stream_count();
    return figures;
}

const char* figure_sources() {
    if (handles_counted && bytes_summed)
        return "handles: the system's handle table; private bytes: committed private regions "
               "(GetProcessHandleCount and PrivateUsage report 0 here)";
    if (handles_counted) return "handles: the system's handle table (GetProcessHandleCount reports 0 here)";
    if (bytes_summed) return "private bytes: committed private regions (PrivateUsage reports 0 here)";
    return "handles: GetProcessHandleCount; private bytes: GetProcessMemoryInfo's PrivateUsage";
}

const char* not_flat_because(const ProcessFigures& base, const ProcessFigures& now,
                             SIZE_T max_bytes, DWORD max_handles) {
    // Only growth is a leak: the figures may fall below the first ones, which
    // held whatever the busiest moment of the first interval did.
    if (now.private_bytes > base.private_bytes + max_bytes) return "private bytes grew";
    if (now.handles > base.handles + max_handles) return "handle count grew";
    if (now.streams != 0) return "streams left over";
    return nullptr;
}

}  // namespace audio_test
