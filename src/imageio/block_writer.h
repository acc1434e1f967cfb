#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "imageio/aligned_buffer.h"
#include "imageio/worker.h"
#include "records/cancellation.h"
#include "records/write_event.h"

namespace ImageIO {

// The consumer of the write pass: turns chunks of the expanded image into
// whole-block writes at block-aligned offsets of `destination`, keeping the
// tail that does not fill a block pending until the next chunk. Every write
// comes from a buffer aligned for direct I/O.
//
// A write runs on a thread of its own while the pass reads and hashes the
// next chunk. Everything else keeps the order of one write at a time: before
// the next write (or when settle() is called) the writer waits for the one
// running, then counts it, sends its "writing" event and checks the stop
// flag. So an event is never sent before its bytes are on the device, a write
// error ends the pass before that write's event, and no write starts after a
// stop was seen. Only the source is read one chunk ahead of the device.
// `destination`, `cancel` and `progress` must outlive the writer, which never
// closes the descriptor.
class BlockWriter {
 public:
  BlockWriter(int destination, std::size_t blockSize, int64_t expected,
              const Cancellation& cancel, const Progress& progress);

  // Takes one chunk of at most kChunkBytes (copied; the caller may reuse
  // it at once) and starts writing every whole block now available. Throws
  // "Expanded image is larger than expected." before writing past
  // `expected`, writeAll's error for the write before, the event's error
  // and cancelled.
  void append(std::span<const uint8_t> chunk);

  // Finishes the write running, if any: waits for it, counts it, sends its
  // event and checks the stop flag. Call it when the pass ends, however it
  // ends, before anything else happens; its error then comes first, as the
  // device's answer would have.
  void settle();

  // Writes the pending tail, if any, as one block padded with zeros, once
  // the pass is settled. Sends no event; the padding is not counted.
  void writeLastBlock();

  int64_t written() const { return written_; }

 private:
  int destination_;
  std::size_t blockSize_;
  int64_t expected_;
  const Cancellation& cancel_;
  const Progress& progress_;
  // Two block buffers in turn: one is written while the next chunk is
  // gathered in the other. The pending tail waits in its own block.
  AlignedBuffer blocks_[2];
  AlignedBuffer tail_;
  std::size_t next_ = 0;     // the block buffer to gather into
  std::size_t pending_ = 0;  // bytes in tail_
  std::size_t running_ = 0;  // bytes of the write running, 0 when none
  int64_t written_ = 0;
  Worker worker_;  // last, so that a running write ends before the buffers go
};

}  // namespace ImageIO
