// Block workers: the traces of a profile are cut into blocks, processed by
// worker threads (each with its own source and pipeline: the library is used
// from one thread per chain) and handed to a sink in trace order. At most a
// few blocks per worker are in flight, so memory follows the block size, not
// the profile. The result does not depend on the number of workers.
#ifndef TOOLS_PARALLEL_H_
#define TOOLS_PARALLEL_H_

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "tools/owned_buffer.h"

namespace vantir3_cli {

// One channel's traces of a block.
struct ChannelBlock {
    const int16_t* processed = nullptr; // count x samples, in result or copy
    OwnedBuffer result;                 // the steps' output
    std::vector<int16_t> copy;          // its samples when they do not lie trace after trace
    std::vector<int16_t> raw;           // the same traces unprocessed, when asked for
};

struct Block {
    int64_t first = 0, count = 0;       // traces
    std::vector<ChannelBlock> channels; // each channel processed, in order
    // With several channels: their processed traces scan after scan, as a
    // file holds them.
    std::vector<int16_t> scans;
    // The recorded leading words of the traces, scan after scan, when the
    // input's were deferred.
    std::vector<uint8_t> words;

    // The processed traces scan after scan: the one channel's, or scans.
    const int16_t* Scans() const { return channels.size() == 1 ? channels.front().processed : scans.data(); }
    // Hands the channels' library buffers back.
    void ReleaseResults() {
        for (ChannelBlock& c : channels) {
            c.result = OwnedBuffer();
            c.processed = nullptr;
        }
    }
};

// Fills block.channels (and block.scans, block.words) for block.first,
// block.count.
using BlockFn = std::function<void(Block&)>;
// Called once in each worker thread to make that worker's BlockFn.
using WorkerFactory = std::function<BlockFn()>;
// Receives blocks: a RunBlocks sink (may be empty) in trace order on one
// thread at a time.
using BlockSink = std::function<void(const Block&)>;

// A progress bar on standard error, drawn only when it is a terminal and the
// work has taken more than half a second.
class Progress {
public:
    Progress(std::string label, int64_t total);
    ~Progress();
    void Update(int64_t done);

private:
    std::string label_;
    int64_t total_;
    bool enabled_, shown_ = false;
    int lastPercent_ = -1;
    std::chrono::steady_clock::time_point start_;
};

// Traces per block for traces of `samples` samples: about 256 KiB of
// samples. A block passes through several buffers (read, each step's
// output, the encoded output) that then stay in the processor's cache, and
// the library's buffers of this size come from malloc, which reuses them,
// rather than from fresh mappings whose pages the system must clear first.
int64_t DefaultBlockTraces(int32_t samples);

// Processes traces [0, traces) in blocks of blockTraces with `workers`
// threads. Blocks of blockBytes each are taken ahead of the sink up to about
// 32 MiB (at least two per worker), so that a worker the system pauses for a
// while does not soon hold up the others. The first exception of a worker or
// of the sink stops the run and is rethrown here.
void RunBlocks(int64_t traces, int64_t blockTraces, int64_t blockBytes, int workers, const WorkerFactory& factory,
               const BlockSink& sink, Progress* progress);

}  // namespace vantir3_cli

#endif  // TOOLS_PARALLEL_H_
