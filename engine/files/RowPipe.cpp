#include "engine/files/RowPipe.h"

#include <algorithm>
#include <cstring>

namespace kx {

namespace {

// A block is a few rows of a wide picture: few enough hand-overs that their
// cost is lost in the decoding, small enough to stay in the cache.
constexpr size_t kBlockBytes = size_t{128} << 10;

size_t RowsPerBlock(size_t rowBytes)
{
    return std::max<size_t>(1, kBlockBytes / std::max<size_t>(rowBytes, 1));
}

}  // namespace

int64_t RowPipe::Bytes(size_t colourBytes, size_t alphaBytes)
{
    const size_t rowBytes = colourBytes + alphaBytes;
    return static_cast<int64_t>(kBlocks * RowsPerBlock(rowBytes) * rowBytes);
}

RowPipe::RowPipe(size_t colourBytes, size_t alphaBytes, Sink sink)
    : colourBytes_(colourBytes)
    , rowBytes_(colourBytes + alphaBytes)
    , rowsPerBlock_(RowsPerBlock(rowBytes_))
    , sink_(std::move(sink))
    , ring_(kBlocks * rowsPerBlock_ * rowBytes_)
    , thread_([this] { Run(); })
{}

RowPipe::~RowPipe()
{
    {
        const std::lock_guard lock(mutex_);
        stopping_ = closing_ = true;
    }
    changed_.notify_all();
    if (thread_.joinable()) thread_.join();
}

void RowPipe::Put(const uint8_t* colour, const uint8_t* alpha)
{
    if (filled_ == 0) {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [this] { return handed_ - taken_ < kBlocks; });
    }
    uint8_t* row = ring_.data() + ((handed_ % kBlocks) * rowsPerBlock_ + filled_) * rowBytes_;
    std::memcpy(row, colour, colourBytes_);
    if (rowBytes_ > colourBytes_) std::memcpy(row + colourBytes_, alpha, rowBytes_ - colourBytes_);
    if (++filled_ == rowsPerBlock_) HandOver();
}

void RowPipe::HandOver()
{
    {
        const std::lock_guard lock(mutex_);
        rowsIn_[handed_ % kBlocks] = filled_;
        ++handed_;
    }
    filled_ = 0;
    changed_.notify_all();
}

void RowPipe::Finish()
{
    if (filled_ > 0) HandOver();
    {
        const std::lock_guard lock(mutex_);
        closing_ = true;
    }
    changed_.notify_all();
    if (thread_.joinable()) thread_.join();
}

void RowPipe::Run()
{
    std::unique_lock lock(mutex_);
    for (;;) {
        changed_.wait(lock, [this] { return stopping_ || taken_ < handed_ || closing_; });
        if (stopping_ || taken_ == handed_) return;
        const size_t block = taken_ % kBlocks, rows = rowsIn_[block];
        lock.unlock();
        const uint8_t* row = ring_.data() + block * rowsPerBlock_ * rowBytes_;
        for (size_t i = 0; i < rows; ++i, row += rowBytes_) sink_(row);
        lock.lock();
        ++taken_;
        changed_.notify_all();
    }
}

}  // namespace kx
