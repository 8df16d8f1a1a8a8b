// The report's helper threads (the GeoTIFFs' compressors, the classes'
// thread) run behind the walk that feeds them.
//
// The walk reads both rasters and forms every figure on one thread, and
// hands lines over to the helpers; with more threads than cores (two
// compressors and the classes' thread beside it), an even share of the
// cores would leave the walk waiting for a core while the helpers have
// caught up with it. At a lower priority the helpers take the time the
// walk leaves, their queues holding what it gives meanwhile.
#ifndef KARVEL_REPORT_BEHIND_H
#define KARVEL_REPORT_BEHIND_H

#include <cstddef>

// How much lower the helpers run (nice values).
constexpr int kBehind = 5;

// Lowers the priority of process or thread `id` by kBehind (at most to 19;
// on Linux the priority set for a thread's id is that thread's alone);
// false when the system refused, which costs only time.
bool put_behind(int id);
// The same for the calling thread.
bool run_behind();

// How many items of `item_bytes` a helper's queue holds: as many as fit in
// `budget` bytes, within [least, most].
size_t queue_room(size_t item_bytes, size_t budget, size_t least, size_t most);

#endif
