// Rows handed from a decoder's thread to a second thread that reduces them,
// so that decoding the next rows and reducing these overlap. The rows go in
// blocks through a ring of a few buffers; the second thread takes them in
// their order and gives each to the same function the decoder would have
// called, so the result does not depend on the threads.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace kx {

class RowPipe {
public:
    // Takes one row: its first `colourBytes` bytes, then `alphaBytes` more
    // when the rows have them.
    using Sink = std::function<void(const uint8_t* row)>;

    // The bytes a pipe for rows of colourBytes + alphaBytes allocates.
    static int64_t Bytes(size_t colourBytes, size_t alphaBytes);

    // Allocates the ring and starts the thread (which may throw, as
    // std::thread and std::vector do).
    RowPipe(size_t colourBytes, size_t alphaBytes, Sink sink);
    // Stops the thread; rows not yet taken are dropped.
    ~RowPipe();
    RowPipe(const RowPipe&) = delete;
    RowPipe& operator=(const RowPipe&) = delete;

    // Copies the row (and its alpha when the rows have it) into the ring,
    // waiting while every buffer is full.
    void Put(const uint8_t* colour, const uint8_t* alpha);
    // Waits until every row put has been taken; then ends the thread.
    void Finish();

private:
    static constexpr size_t kBlocks = 4;
    void HandOver();
    void Run();

    size_t colourBytes_, rowBytes_, rowsPerBlock_;
    Sink sink_;
    std::vector<uint8_t> ring_;
    size_t rowsIn_[kBlocks] = {};
    size_t filled_ = 0;  // rows in the block being filled
    // Blocks handed over and blocks taken since the start: the one being
    // filled is handed_ % kBlocks, the next to take taken_ % kBlocks.
    uint64_t handed_ = 0, taken_ = 0;
    bool closing_ = false, stopping_ = false;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::thread thread_;
};

}  // namespace kx
