#include "base/heap_reserve.h"

#include <atomic>

namespace nl {

namespace {

std::atomic<HeapReserver> reserverSlot{nullptr};

}  // namespace

void setHeapReserver(HeapReserver reserver) { reserverSlot.store(reserver); }

void expectHeapGrowth(size_t bytes) {
    if (HeapReserver r = reserverSlot.load()) r(bytes);
}

}  // namespace nl
