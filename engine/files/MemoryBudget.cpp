#include "engine/files/MemoryBudget.h"

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <climits>
#include <condition_variable>
#include <cstdio>
#include <mutex>

#include "engine/files/FailureReason.h"

namespace kx {

namespace {

std::mutex budgetMutex;
std::condition_variable budgetFreed;
int64_t heldByAll = 0;  // guarded by budgetMutex
std::atomic<int64_t> limitSet{0};
thread_local int64_t heldHere = 0;

int64_t MachineMemory()
{
    const long pages = ::sysconf(_SC_PHYS_PAGES);
    const long pageSize = ::sysconf(_SC_PAGESIZE);
    if (pages <= 0 || pageSize <= 0) return 0;
    return int64_t{pages} * pageSize;
}

}  // namespace

int64_t DefaultMemoryLimit()
{
    constexpr int64_t kOneGiB = int64_t{1} << 30;
    const int64_t quarter = MachineMemory() / 4;
    return quarter > 0 ? std::min(kOneGiB, quarter) : kOneGiB;
}

int64_t MemoryLimit()
{
    const int64_t set = limitSet.load(std::memory_order_relaxed);
    return set > 0 ? set : DefaultMemoryLimit();
}

void SetMemoryLimit(int64_t bytes)
{
    limitSet.store(std::max<int64_t>(bytes, 0), std::memory_order_relaxed);
    // A larger limit may let a waiting picture start.
    budgetFreed.notify_all();
}

bool ReservePictureMemory(int64_t bytes)
{
    ReleasePictureMemory();
    bytes = std::max<int64_t>(bytes, 0);
    std::unique_lock lock(budgetMutex);
    for (;;) {
        const int64_t limit = MemoryLimit();
        if (bytes > limit) {
            lock.unlock();
            SetFailureReason(OverLimitReason(bytes, limit));
            return false;
        }
        if (heldByAll + bytes <= limit) break;
        budgetFreed.wait(lock);
    }
    heldByAll += bytes;
    heldHere = bytes;
    return true;
}

bool EnsurePictureMemory(int64_t bytes) { return bytes <= heldHere || ReservePictureMemory(bytes); }

bool CountMorePictureMemory(int64_t bytes)
{
    return bytes >= 0 && bytes <= MemoryLimit() - heldHere && EnsurePictureMemory(heldHere + bytes);
}

void ReleasePictureMemory()
{
    if (heldHere == 0) return;
    {
        std::lock_guard lock(budgetMutex);
        heldByAll -= heldHere;
        heldHere = 0;
    }
    budgetFreed.notify_all();
}

int64_t HeldPictureMemory() { return heldHere; }

PictureNeeds& PictureNeeds::Pixels(int64_t width, int64_t height, int64_t bytesPerPixel)
{
    int64_t bytes = 0;
    if (width <= 0 || height <= 0 || bytesPerPixel <= 0) return *this;
    if (__builtin_mul_overflow(width, height, &bytes) || __builtin_mul_overflow(bytes, bytesPerPixel, &bytes))
        bytes = INT64_MAX;
    return Bytes(bytes);
}

PictureNeeds& PictureNeeds::Surface(int64_t width, int64_t height)
{
    if (width <= 0 || height <= 0 || width > INT64_MAX / 4)
        return width > 0 && height > 0 ? Bytes(INT64_MAX) : *this;
    return Pixels((width * 3 + 3) & ~int64_t{3}, height, 1);
}

PictureNeeds& PictureNeeds::Bytes(int64_t bytes)
{
    if (bytes > 0 && __builtin_add_overflow(total_, bytes, &total_)) total_ = INT64_MAX;
    return *this;
}

bool PictureNeeds::Reserve() const { return ReservePictureMemory(total_); }

std::string OverLimitReason(int64_t bytes, int64_t limit)
{
    return "this picture needs " + ReadableBytes(bytes) + ", more than the " + ReadableBytes(limit) +
           " memory limit";
}

std::string ReadableBytes(int64_t bytes)
{
    static constexpr const char* kUnits[] = {"bytes", "KB", "MB", "GB", "TB"};
    double value = static_cast<double>(std::max<int64_t>(bytes, 0));
    size_t unit = 0;
    while (value >= 1024 && unit + 1 < std::size(kUnits)) value /= 1024, ++unit;
    char text[32];
    if (unit == 0 || value >= 10 || value == static_cast<int64_t>(value))
        std::snprintf(text, sizeof text, "%.0f %s", value, kUnits[unit]);
    else
        std::snprintf(text, sizeof text, "%.1f %s", value, kUnits[unit]);
    return text;
}

}  // namespace kx
