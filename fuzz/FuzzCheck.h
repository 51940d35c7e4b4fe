#pragma once

#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>

namespace folvane::fuzz {

// Standard error as it was at start: the runs drop what the code under test logs there (libFuzzer's
// -close_fd_mask=2), but the reason of a failed check must reach the report.
inline const int reportFd = ::dup(STDERR_FILENO);

// A post-condition of the target: when it fails, the reason is reported and the input counts as a crash.
inline void check(bool condition, const char* what, const std::string& detail = {}) {
    if (condition)
        return;
    const std::string line =
        std::string("check failed: ") + what + (detail.empty() ? "" : " " + detail) + "\n";
    [[maybe_unused]] const ssize_t written =
        ::write(reportFd < 0 ? STDERR_FILENO : reportFd, line.data(), line.size());
    std::abort();
}

} // namespace folvane::fuzz
