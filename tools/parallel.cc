#include "tools/parallel.h"

#include <unistd.h>

#include <algorithm>
#include <condition_variable>
#include <cstdio>
#include <exception>
#include <map>
#include <mutex>
#include <thread>

namespace vantir3_cli {

Progress::Progress(std::string label, int64_t total)
    : label_(std::move(label)), total_(total), enabled_(::isatty(2) == 1),
      start_(std::chrono::steady_clock::now()) {}

Progress::~Progress() {
    if (shown_) std::fprintf(stderr, "\r%*s\r", 72, "");
}

void Progress::Update(int64_t done) {
    if (!enabled_ || total_ <= 0) return;
    if (!shown_ && std::chrono::steady_clock::now() - start_ < std::chrono::milliseconds(500)) return;
    const int percent = static_cast<int>(100 * done / total_);
    if (percent == lastPercent_) return;
    lastPercent_ = percent;
    shown_ = true;
    const int width = 30, filled = percent * width / 100;
    std::string label = label_.size() > 30 ? "..." + label_.substr(label_.size() - 27) : label_;
    std::fprintf(stderr, "\r%-30s [%s%s] %3d%%", label.c_str(), std::string(filled, '#').c_str(),
                 std::string(width - filled, ' ').c_str(), percent);
    std::fflush(stderr);
}

int64_t DefaultBlockTraces(int32_t samples) {
    return std::max<int64_t>(1, (int64_t{256} << 10) / (2 * std::max<int32_t>(samples, 1)));
}

void RunBlocks(int64_t traces, int64_t blockTraces, int64_t blockBytes, int workers, const WorkerFactory& factory,
               const BlockSink& sink, Progress* progress) {
    const int64_t blocks = (traces + blockTraces - 1) / blockTraces;
    workers = static_cast<int>(std::max<int64_t>(1, std::min<int64_t>(workers, blocks)));
    // Blocks taken but not yet consumed.
    const int64_t window = std::max<int64_t>(2 * int64_t{workers}, (int64_t{32} << 20) / std::max<int64_t>(blockBytes, 1));

    std::mutex mutex;
    std::condition_variable cv;
    int64_t nextTake = 0, nextConsume = 0;
    bool consuming = false;
    std::exception_ptr error;
    std::map<int64_t, Block> done;
    std::vector<Block> spare;  // consumed blocks, reused so their buffers keep their size

    auto work = [&] {
        try {
            const BlockFn fn = factory();
            for (;;) {
                int64_t index;
                Block block;
                {
                    std::unique_lock<std::mutex> lock(mutex);
                    cv.wait(lock, [&] { return error || nextTake >= blocks || nextTake - nextConsume < window; });
                    if (error || nextTake >= blocks) return;
                    index = nextTake++;
                    if (!spare.empty()) {
                        block = std::move(spare.back());
                        spare.pop_back();
                    }
                }
                block.first = index * blockTraces;
                block.count = std::min(blockTraces, traces - block.first);
                fn(block);
                std::unique_lock<std::mutex> lock(mutex);
                done.emplace(index, std::move(block));
                // One thread at a time hands finished blocks to the sink, in order.
                while (!consuming && !error && done.count(nextConsume) != 0) {
                    consuming = true;
                    Block ready = std::move(done[nextConsume]);
                    done.erase(nextConsume);
                    lock.unlock();
                    try {
                        if (sink) sink(ready);
                    } catch (...) {
                        lock.lock();
                        consuming = false;
                        throw;
                    }
                    lock.lock();
                    consuming = false;
                    ready.ReleaseResults();  // the library's buffers go back now, not at reuse
                    spare.push_back(std::move(ready));
                    ++nextConsume;
                    if (progress != nullptr) progress->Update(std::min(traces, nextConsume * blockTraces));
                    cv.notify_all();
                }
            }
        } catch (...) {
            std::lock_guard<std::mutex> lock(mutex);
            if (!error) error = std::current_exception();
            cv.notify_all();
        }
    };
    if (workers == 1) {
        work();
    } else {
        std::vector<std::thread> threads;
        for (int i = 0; i < workers; ++i) threads.emplace_back(work);
        for (std::thread& t : threads) t.join();
    }
    if (error) std::rethrow_exception(error);
}

}  // namespace vantir3_cli
