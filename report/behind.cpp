#include "behind.h"

#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

bool run_behind() {
    const id_t self = id_t(gettid());
    errno = 0;
    const int now = getpriority(PRIO_PROCESS, self);
    if (now == -1 && errno != 0) return false;
    return setpriority(PRIO_PROCESS, self, std::min(now + kBehind, 19)) == 0;
}

size_t queue_room(size_t item_bytes, size_t budget, size_t least, size_t most) {
    return std::clamp(budget / std::max<size_t>(item_bytes, 1), least, most);
}
