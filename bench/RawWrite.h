// The disk's own write speed, as the benchmarks compare against it: plain
// unbuffered writes from one thread, in order, into a fresh preallocated
// file. Nothing is shared between calls; the file is left for the caller to
// remove.
#pragma once

#include <cstdint>
#include <filesystem>
#include <span>

#include <boost/asio/io_context.hpp>

namespace orvale::bench {

// Seconds taken by `writes` writes of `block` bytes each (a multiple of the
// sector size) into a new file at `path`. The bytes come in turn from
// `sources` arrays, each holding `content` zero-padded to the block, so that
// they come from as much memory as the compared writes take theirs. The file
// is forced to the device after the writes; with `timeSync` the clock runs
// until it is, for comparisons whose own figure includes making the bytes
// durable. A failure ends the process.
double RawWriteSeconds(const std::filesystem::path& path, std::span<const uint8_t> content,
                       uint64_t block, uint64_t writes, uint64_t sources,
                       boost::asio::io_context& io, bool timeSync = false);

}  // namespace orvale::bench
