#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "support/PdfBuilder.h"
#include "syntax/PDFResult.h"

namespace vellumtag::test {

// zlib data that inflate to `mebibytes` MiB of zeros, made in milliseconds whatever the size.
std::string zeroBomb(std::size_t mebibytes);

// A document built to exhaust a reader that lacks a limit, and the result it must end in.
struct HostileFile {
    std::string what;
    std::string bytes;
    PDFResult expected;
};

// The hostile documents: deflate bombs, deep nesting, /Prev loops, reference cycles and
// numbers beyond every width. The tests check that each ends in its result; bench_hostile
// times them.
std::vector<HostileFile> hostileFiles();

// A document with no cross-reference data at all, whose catalog (object 1) lies at its start
// and whose information dictionary (object 2, /Title (Far apart)) and trailer lie at its end,
// `gap` zero bytes apart: only a scan of all of it finds them. The holes cost no memory.
PdfBuilder objectsAtBothEnds(std::uint64_t gap);

// A file whose objects 1 (catalog) and 2 (information dictionary) lie in object stream 5, of
// the given dictionary entries and data, listed by a cross-reference stream.
std::string objectStreamFile(const std::string &objectStreamEntries,
                             const std::string &objectStreamData);

} // namespace vellumtag::test
