// Loading a large design writes a few hundred megabytes of fresh memory. Where
// the system hands memory out one small page at a time, the page faults cost
// more than the parsing itself. A platform whose allocator can be prepared for
// such a burst (large pages, say) registers how; the loaders announce what
// they are about to need. Without a registered reserver nothing happens.
#pragma once

#include <cstddef>

namespace nl {

using HeapReserver = void (*)(size_t bytes);

// Installs the platform's reserver (nullptr removes it). Call before loading starts.
void setHeapReserver(HeapReserver reserver);

// Heap bytes a loaded design needs per byte of its files, with some margin.
inline constexpr size_t kHeapPerFileByte = 4;

// About `bytes` of heap will be allocated soon.
void expectHeapGrowth(size_t bytes);

}  // namespace nl
