#include "SessionBook.h"

#include <cstdio>

namespace folvane::sim {

SessionBook::SessionBook() : random_(std::random_device{}()) {}

std::string SessionBook::open() {
    char text[33];
    std::snprintf(text, sizeof text, "%016llx%016llx", static_cast<unsigned long long>(random_()),
                  static_cast<unsigned long long>(random_()));
    current_ = text;
    return current_;
}

} // namespace folvane::sim
