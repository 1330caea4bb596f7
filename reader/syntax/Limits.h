#pragma once

// Hard limits that keep hostile files from exhausting the stack, memory or time. Every limit
// of the reader lives here, and each has a test that reaches it.

#include <cstddef>
#include <cstdint>

namespace vellumtag::limits {

// Longest line that the cross-reference table reader copies; longer lines are skipped.
inline constexpr std::size_t kLineBuffer = 100;

// Window of the bounded formatted reads: object headers and the number after "startxref".
inline constexpr std::size_t kScanWindow = 25;

// "startxref" must lie within the last kStartxrefWindow - 1 bytes of the file.
inline constexpr std::size_t kStartxrefWindow = 50;

// Cross-reference sections read for one document along the /Prev chain.
inline constexpr std::uint32_t kMaxSections = 25;

// Dictionaries nested deeper than this are skipped instead of parsed, so that a file of a
// million "<<" costs neither stack nor quadratic time.
inline constexpr int kMaxDictionaryDepth = 32;

// Bytes of dotted keys that folding nested dictionaries may create during one parse. A long
// key over a nested dictionary of many entries would otherwise repeat that key once per entry,
// which grows with the square of the input. Folded entries beyond it are dropped.
inline constexpr std::size_t kMaxFoldedKeyBytes = std::size_t{4} << 20;

// Bytes of one stream, as stored and after FlateDecode. Metadata packets and object streams
// stay far below it; a deflate bomb stops here with 107 instead of exhausting memory.
inline constexpr std::size_t kMaxStreamBytes = std::size_t{64} << 20;

// Bytes of all streams that one document may decode together: a file of many bombs, each
// below the stream limit, still ends.
inline constexpr std::size_t kMaxDocumentStreamBytes = std::size_t{256} << 20;

// Bytes of an XMP packet that is searched for metadata; it is held as UTF-16 while it is read.
// Real packets, thumbnails included, stay far below it; a larger one yields no XMP values.
inline constexpr std::size_t kMaxXmpPacketBytes = std::size_t{16} << 20;

// First output buffer of an inflate, before it doubles: small enough that a large input does
// not allocate its twentyfold at once.
inline constexpr std::size_t kMaxInitialInflateBytes = std::size_t{1} << 20;

// Bytes of one field of a cross-reference stream row (/W); eight hold any 64-bit value.
inline constexpr std::uint32_t kMaxXrefFieldWidth = 8;

// /Index pairs of a cross-reference stream up to which a lookup reads the object's row on
// demand. A lookup walks the pairs, so a stream with more has its rows turned into entries
// once, and a file of a million pairs and many references costs no quadratic time.
inline constexpr std::size_t kMaxIndexPairsPerLookup = 16;

// File mappings that may be live at once in the process (POSIX): the SIGBUS guard watches one
// slot for each, so that a file that shrinks under its mapping fails that load instead of
// killing the host. A mapping beyond them is refused and the file is read by chunks instead.
inline constexpr std::size_t kMaxGuardedMappings = 256;

} // namespace vellumtag::limits
