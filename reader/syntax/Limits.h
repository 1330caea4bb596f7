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

// Where a file's structure is looked for when it is not where ISO 32000-1, 7.5.2 and 7.5.5 put
// it: "%PDF-" anywhere in the first kHeaderWindow bytes (a preamble before it), and the last
// "startxref" within the last kStartxrefWindow bytes (a trailing block after "%%EOF").
inline constexpr std::size_t kHeaderWindow = 1024;
inline constexpr std::size_t kStartxrefWindow = 1024;

// In strict mode "startxref" must lie within the last kStrictStartxrefWindow - 1 bytes.
inline constexpr std::size_t kStrictStartxrefWindow = 50;

// Cross-reference sections read for one document along the /Prev chain.
inline constexpr std::uint32_t kMaxSections = 25;

// Object headers ("N G obj") that the recovery scan of a damaged file takes in; it stops at the
// next one. Each costs 16 bytes while the scan runs: a file of nothing but headers ends there.
// ISO 32000-1, Annex C.2 gives 8,388,607 objects as a reader's limit; far fewer headers make up
// real files.
inline constexpr std::size_t kMaxRecoveredObjects = std::size_t{1} << 22;

// Page tree nodes visited to count the pages when the root's /Count cannot be used: a tree of
// more, or a /Kids array of more entries, gives no page count rather than taking seconds.
inline constexpr std::size_t kMaxPageTreeNodes = std::size_t{1} << 17;

// White space and comments stepped over in one run where a keyword or a dictionary may follow
// (after an object header, "trailer", a dictionary or stream data): a longer run is taken to
// hold none, so that a file of white space, or of zeros, is not walked to its end there.
inline constexpr std::uint64_t kMaxBlankRun = 4096;

// White space and comments stepped over in one run between two tokens of an object (ISO
// 32000-1, 7.2.3: a comment counts as white space). A longer run ends the object there, as if
// its data ended, so that a million comments cost one linear pass and no more.
inline constexpr std::uint64_t kMaxBlanksBetweenTokens = std::uint64_t{1} << 20;

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

// Markup ("<") in an XMP packet up to which it is read with the XML parser, whose tree costs
// some tens of bytes a node; a packet of more is searched as text instead.
inline constexpr std::size_t kMaxXmpTags = std::size_t{1} << 18;

// Structs within structs of an XMP property that the reading of the whole packet follows
// (xmpMM:History is one level, a struct of its items another); deeper fields are left out, so
// that nesting costs neither stack nor time.
inline constexpr int kMaxXmpStructDepth = 8;
// First output buffer of an inflate, before it doubles: small enough that a large input does
// not allocate its twentyfold at once.
inline constexpr std::size_t kMaxInitialInflateBytes = std::size_t{1} << 20;

// Object streams that one load keeps open for the next objects read from them (the catalog,
// the information dictionary and the page tree root often lie in a few), and the bytes that
// those beside the one in use may hold together, as stored and decoded. Beyond either, the
// stream used longest ago is let go and, when needed again, read and inflated anew.
inline constexpr std::size_t kMaxCachedObjectStreams = 8;
inline constexpr std::size_t kMaxCachedObjectStreamBytes = std::size_t{8} << 20;

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
