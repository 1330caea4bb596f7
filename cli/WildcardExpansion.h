#pragma once

#include <filesystem>
#include <vector>

namespace vellumtag {

// Replaces every argument that holds '*' or '?' by the files it matches, each with the
// pattern's directory part; "." and ".." are never included. A pattern that matches nothing
// stays as typed, so its load reports the missing file.
std::vector<std::filesystem::path> expandWildcards(const std::vector<std::filesystem::path> &args);

} // namespace vellumtag
