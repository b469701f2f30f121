// The chunked writer: a file written as a sequence of large chunks, the next filled while the
// one before is written.
#pragma once

#include <cstddef>
#include <string>

#include "core/worker_pool.hpp"
#include "io/file_handle.hpp"

namespace velk::io {

// How write_in_chunks fills the chunks after the first: on the calling thread between writes
// (fill may spread its work over the pool), or on a worker while the calling thread writes the
// chunk before (fill then runs on that one thread), which hides the formatting behind the
// system calls when writing costs about as much as formatting.
enum class ChunkFilling { BetweenWrites, WhileWriting };

// Creates the file and writes it as chunks in order: fill(k, buffer) makes a reused buffer hold
// chunk k (it holds an earlier chunk on entry), which is then written whole. Closing the file
// ends the write and its failure is reported. The one place where a chunked writer's file is
// opened, written and closed.
template <class Fill>
Status write_in_chunks(const std::string& name, std::size_t chunks, ChunkFilling filling,
                       Fill&& fill) {
  auto file = File::create(name);
  if (!file) return fail_with(file.error());
  std::string buffers[2];
  if (chunks > 0) fill(0, buffers[0]);
  for (std::size_t k = 0; k < chunks; ++k) {
    const std::string& current = buffers[k % 2];
    std::string& next = buffers[(k + 1) % 2];
    Status written;
    if (k + 1 == chunks) {
      written = file->write_all(current);
    } else if (filling == ChunkFilling::WhileWriting) {
      // The write stays on the calling thread, where a Ctrl-C can end it even when it blocks
      // (a stalled pipe); the next chunk is filled on a worker meanwhile.
      pool::beside_caller([&] { fill(k + 1, next); }, [&] { written = file->write_all(current); });
    } else {
      written = file->write_all(current);
      if (written) fill(k + 1, next);
    }
    if (!written) return written;
  }
  return file->close();
}

}  // namespace velk::io
