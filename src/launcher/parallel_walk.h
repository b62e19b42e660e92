#pragma once

#include <cstddef>
#include <functional>

// Visits the items 0 to count - 1 on up to `workers` threads, the calling thread one of them: each takes
// the next item nobody has taken yet, so they are begun in order. Once a visit answers false no further
// item is taken, and the walk waits for the visits under way. `worker` (0 to workers - 1) tells the
// visits of one thread from those of the others; a thread visits one item at a time. True when every
// visit answered true.
bool WalkInParallel(std::size_t workers, std::size_t count,
                    const std::function<bool(std::size_t worker, std::size_t item)>& visit);
