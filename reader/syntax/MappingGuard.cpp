#include "syntax/MappingGuard.h"

#include <array>
#include <atomic>
#include <cerrno>
#include <cstdint>
#include <thread>

#include <signal.h>
#include <sys/mman.h>
#include <unistd.h>

#include "syntax/Limits.h"

namespace vellumtag {
namespace {

// Everything the handler touches is a lock-free atomic or written before it is installed, so
// that it is async-signal-safe and serves mappings of any thread.
enum SlotState : unsigned { kFree, kClaimed, kLive, kReleasing };

struct Slot {
    std::atomic<unsigned> state{kFree};
    // Handlers looking at the slot right now; release waits for them.
    std::atomic<unsigned> users{0};
    std::atomic<std::uintptr_t> begin{0};
    // One past the last page of the mapping.
    std::atomic<std::uintptr_t> end{0};
    std::atomic<bool> failed{false};
};

static_assert(std::atomic<unsigned>::is_always_lock_free &&
              std::atomic<std::uintptr_t>::is_always_lock_free &&
              std::atomic<bool>::is_always_lock_free);

std::array<Slot, limits::kMaxGuardedMappings> gSlots;
struct sigaction gPrevious {};
std::uintptr_t gPageSize = 0;

// Maps zeros over the rest of the registered mapping that holds address; false when none
// holds it or the zeros cannot be mapped.
bool answerFault(std::uintptr_t address) {
    for (Slot &slot : gSlots) {
        if (slot.state.load() != kLive)
            continue;
        slot.users.fetch_add(1);
        bool inside = false, answered = false;
        // Checked again once counted, so that a slot being released is left alone.
        if (slot.state.load() == kLive) {
            const std::uintptr_t end = slot.end.load();
            inside = address >= slot.begin.load() && address < end;
            if (inside) {
                // Everything from the faulting page on lies past the file's end, so one mapping
                // of zeros ends the faults of the whole read. mmap is a plain system call on
                // Linux and the BSDs, though POSIX does not list it as async-signal-safe.
                const std::uintptr_t page = address & ~(gPageSize - 1);
                void *zeros = ::mmap(reinterpret_cast<void *>(page), end - page, PROT_READ,
                                     MAP_FIXED | MAP_ANONYMOUS | MAP_PRIVATE, -1, 0);
                answered = zeros != MAP_FAILED;
                if (answered)
                    slot.failed.store(true);
            }
        }
        slot.users.fetch_sub(1);
        if (inside)
            return answered;
    }
    return false;
}

// Hands the signal to the disposition that was in place before ours, so that it behaves as if
// we were not there.
void forward(int signal, siginfo_t *info, void *context) {
    if ((gPrevious.sa_flags & SA_SIGINFO) != 0) {
        if (gPrevious.sa_sigaction != nullptr)
            gPrevious.sa_sigaction(signal, info, context);
        return;
    }
    if (gPrevious.sa_handler != SIG_DFL && gPrevious.sa_handler != SIG_IGN) {
        gPrevious.sa_handler(signal);
        return;
    }
    // A signal sent by kill or raise (si_code <= 0) is raised again under the old disposition.
    // A fault repeats when the handler returns; Linux does not let a fault be ignored, so under
    // the default disposition it ends the process as it would have without us.
    const bool sent = info == nullptr || info->si_code <= 0;
    if (sent && gPrevious.sa_handler == SIG_IGN)
        return;
    struct sigaction defaults {};
    defaults.sa_handler = SIG_DFL;
    sigemptyset(&defaults.sa_mask);
    ::sigaction(signal, &defaults, nullptr);
    if (sent)
        ::raise(signal);
}

void onSigbus(int signal, siginfo_t *info, void *context) {
    const int savedErrno = errno;
    const bool answered = info != nullptr && info->si_code > 0 &&
                          answerFault(reinterpret_cast<std::uintptr_t>(info->si_addr));
    errno = savedErrno;
    if (!answered)
        forward(signal, info, context);
}

bool installHandler() {
    // The previous disposition is read before ours is in place, so that a fault on another
    // thread never sees it half written.
    static const bool installed = [] {
        const long pageSize = ::sysconf(_SC_PAGESIZE);
        if (pageSize <= 0 || (pageSize & (pageSize - 1)) != 0)
            return false;
        gPageSize = static_cast<std::uintptr_t>(pageSize);
        if (::sigaction(SIGBUS, nullptr, &gPrevious) != 0)
            return false;
        struct sigaction ours {};
        ours.sa_sigaction = onSigbus;
        ours.sa_flags = SA_SIGINFO | SA_ONSTACK | SA_RESTART;
        sigemptyset(&ours.sa_mask);
        return ::sigaction(SIGBUS, &ours, nullptr) == 0;
    }();
    return installed;
}

// True when our handler is installed and still the process's SIGBUS handler.
bool handlerInPlace() {
    if (!installHandler())
        return false;
    struct sigaction current {};
    return ::sigaction(SIGBUS, nullptr, &current) == 0 && (current.sa_flags & SA_SIGINFO) != 0 &&
           current.sa_sigaction == onSigbus;
}

} // namespace

bool MappingGuard::guard(const void *begin, std::size_t length) {
    release();
    if (begin == nullptr || length == 0 || !handlerInPlace())
        return false;
    const auto first = reinterpret_cast<std::uintptr_t>(begin);
    const std::uintptr_t end = (first + length + gPageSize - 1) & ~(gPageSize - 1);
    for (std::size_t i = 0; i < gSlots.size(); ++i) {
        Slot &slot = gSlots[i];
        unsigned expected = kFree;
        if (!slot.state.compare_exchange_strong(expected, kClaimed))
            continue;
        slot.begin.store(first);
        slot.end.store(end);
        slot.failed.store(false);
        slot.state.store(kLive);
        _slot = static_cast<int>(i);
        return true;
    }
    return false;
}

void MappingGuard::release() {
    if (_slot < 0)
        return;
    Slot &slot = gSlots[static_cast<std::size_t>(_slot)];
    slot.state.store(kReleasing);
    // A handler on another thread that counted itself in before the store finishes first;
    // one that comes later sees the slot released.
    while (slot.users.load() != 0)
        std::this_thread::yield();
    slot.state.store(kFree);
    _slot = -1;
}

bool MappingGuard::failed() const {
    return _slot >= 0 && gSlots[static_cast<std::size_t>(_slot)].failed.load();
}

} // namespace vellumtag
