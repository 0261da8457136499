#include "tools/sizeChecks.hpp"

#include <cerrno>
#include <cstdio>
#include <cstdlib>

namespace lumaqc {

// Messages of a failed size check name this file, as the toolkit always has.
static const char* const kToolkitSourceName = "../tools/definitions.c";

void toolkitAssertFail(const char* condition, unsigned line, const char* function) {
    std::fflush(stdout);
    std::fprintf(stderr, "%s: %s:%u: %s: Assertion `%s' failed.\n", program_invocation_short_name,
                 kToolkitSourceName, line, function, condition);
    std::fflush(stderr);
    std::abort();
}

}  // namespace lumaqc
