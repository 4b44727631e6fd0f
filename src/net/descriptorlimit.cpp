#include "net/descriptorlimit.h"

#include <sys/resource.h>

#include <algorithm>
#include <climits>

namespace {

// Where the hard limit is unlimited, the kernel's own ceiling (fs.nr_open)
// still applies; a million is at or below its usual value.
constexpr rlim_t CeilingWhenUnlimited = 1 << 20;

} // namespace

int descriptorLimit()
{
    rlimit limit{};
    if (::getrlimit(RLIMIT_NOFILE, &limit) != 0)
        return -1;
    return limit.rlim_cur == RLIM_INFINITY ? INT_MAX : int(std::min<rlim_t>(limit.rlim_cur, INT_MAX));
}

int raiseDescriptorLimit()
{
    rlimit limit{};
    if (::getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur != limit.rlim_max) {
        rlimit raised = limit;
        raised.rlim_cur = limit.rlim_max == RLIM_INFINITY ? std::max(limit.rlim_cur, CeilingWhenUnlimited)
                                                          : limit.rlim_max;
        if (::setrlimit(RLIMIT_NOFILE, &raised) != 0 && limit.rlim_max == RLIM_INFINITY) {
            // Above fs.nr_open: settle for what the kernel allows by default.
            raised.rlim_cur = std::max<rlim_t>(limit.rlim_cur, 1 << 16);
            (void)::setrlimit(RLIMIT_NOFILE, &raised);
        }
    }
    return descriptorLimit();
}
