#pragma once

#include <algorithm>
#include <cstddef>

#include "syntax/Limits.h"

namespace vellumtag {

// What remains of the bytes that all the streams of one document may decode together
// (limits::kMaxDocumentStreamBytes): a file of many bombs, each below the stream limit, still
// ends.
class StreamBudget {
public:
    explicit StreamBudget(std::size_t bytes = limits::kMaxDocumentStreamBytes) : _left(bytes) {}

    std::size_t left() const { return _left; }
    void spend(std::size_t bytes) { _left -= std::min(_left, bytes); }

private:
    std::size_t _left;
};

} // namespace vellumtag
