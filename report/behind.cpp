#include "behind.h"

#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

bool put_behind(int id) {
    errno = 0;
    const int now = getpriority(PRIO_PROCESS, id_t(id));
    if (now == -1 && errno != 0) return false;
    return setpriority(PRIO_PROCESS, id_t(id), std::min(now + kBehind, 19)) == 0;
}

bool run_behind() { return put_behind(int(gettid())); }

size_t queue_room(size_t item_bytes, size_t budget, size_t least, size_t most) {
    return std::clamp(budget / std::max<size_t>(item_bytes, 1), least, most);
}
