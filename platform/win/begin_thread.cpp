#include "platform/win/begin_thread.h"

#include <atomic>
#include <system_error>
#include <thread>

uintptr_t _beginthread(PFN_BEGINTHREAD_START pfnStart, unsigned /*nStackSize*/, void* pArg) {
    if (!pfnStart) return static_cast<uintptr_t>(-1);
    static std::atomic<uintptr_t> s_nNextId{1};
    try {
        std::thread(pfnStart, pArg).detach();
    } catch (const std::system_error&) {
        return static_cast<uintptr_t>(-1);
    }
    return s_nNextId.fetch_add(1);
}
