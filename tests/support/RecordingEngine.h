// An engine that records each call of a batch run instead of resizing, and
// says every picture was written: "<engine method> <in> <out> <its numbers,
// comma separated>", with the numbers in the engine method's argument order
// and the quality last. Read `calls` once the run is over.
#pragma once

#include <mutex>
#include <string>
#include <vector>

#include "BatchRun.h"

namespace kxtest {

class RecordingEngine : public kx::batch::Engine {
public:
    bool Resize(kx::batch::Method method, const std::string& in, const std::string& out,
                const kx::batch::Sizes& sizes, int32_t quality) override
    {
        const kx::batch::MethodSpec& row = kx::batch::SpecOf(method);
        std::string call = std::string(row.EngineName) + " " + in + " " + out + " ";
        if (row.UsesHeight) call += std::to_string(sizes.Height) + ",";
        if (row.UsesWidth) call += std::to_string(sizes.Width) + ",";
        if (row.UsesPercentage) call += std::to_string(sizes.Percentage) + ",";
        std::lock_guard lock(mutex_);
        calls.push_back(call + std::to_string(quality));
        return true;
    }

    std::vector<std::string> calls;

private:
    std::mutex mutex_;
};

}  // namespace kxtest
