// The allocator behind NewPtr and DisposePtr: it counts every block, so
// that a test can see what is left, reports a free of a block it never
// handed out, and fails the nth call on request, for the walks over every
// allocation failure. The lean form only counts, for benchmarks. The
// plug-in owns what it allocates; what it leaves the host frees at the end.
#include <cstdio>
#include <cstdlib>

#include "host_internal.h"

namespace vh
{

void Host::failAllocation(uint64_t n, bool onlyThat)
{
    failAt_ = n == 0 ? 0 : allocCalls_ + n;
    failOnlyThat_ = onlyThat;
}

void *Host::newPtr(int32_t size, bool clear)
{
    allocCalls_++;
    if (failAt_ != 0 && (allocCalls_ == failAt_ || (!failOnlyThat_ && allocCalls_ > failAt_)))
        return nullptr;
    if (size < 0)
        return nullptr;
    void *p = clear ? std::calloc(1, static_cast<size_t>(size) + 1)
                    : std::malloc(static_cast<size_t>(size) + 1);
    if (p != nullptr && lean_)
        leanBlocks_++;
    else if (p != nullptr)
        blocks_[p] = static_cast<size_t>(size);
    return p;
}

void Host::disposePtr(void *p)
{
    if (p == nullptr)
        return;
    if (lean_) {
        leanBlocks_--;
        std::free(p);
        return;
    }
    auto it = blocks_.find(p);
    if (it == blocks_.end()) {
        badFrees_++;
        std::fprintf(stderr, "host: DisposePtr(%p) of a block the host never handed out\n", p);
        emit("host: DisposePtr of a block the host never handed out");
        return;
    }
    blocks_.erase(it);
    std::free(p);
}

} // namespace vh
