#pragma once

#include <random>
#include <string>
#include <string_view>

namespace folvane::sim {

// ExpressionEngine sessions: each login opens a new one and only the newest counts as current.
class SessionBook {
public:
    SessionBook();

    std::string open(); // 32 hex digits, unpredictable enough to look real
    bool isCurrent(std::string_view id) const { return !current_.empty() && id == current_; }
    void clear() { current_.clear(); }

private:
    std::mt19937_64 random_;
    std::string current_;
};

} // namespace folvane::sim
