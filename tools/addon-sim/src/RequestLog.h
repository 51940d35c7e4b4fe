#pragma once

#include "AddonRequest.h"
#include "Json.h"

#include <vector>

namespace folvane::sim {

// Every add-on request in arrival order, for tests to check what the client sent.
class RequestLog {
public:
    void append(const AddonRequest& request);
    Json toJson() const;
    void clear();

private:
    std::vector<Json> entries_;
    long long nextSeq_ = 1;
};

} // namespace folvane::sim
