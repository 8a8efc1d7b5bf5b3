// An engine and dialogs that record instead of acting; linking this gives a
// test program its QApplication (offscreen unless told otherwise).
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "batch/BatchRun.h"
#include "common/modErrorReport.h"
#include "frontend/Dialogs.h"

namespace kxtest {

// Records each call instead of resizing, and says every picture was written:
// "<engine method> <in> <out> <height>,<width>,<percentage>,<quality>".
class RecordingEngine : public kx::batch::Engine {
public:
    bool Resize(kx::batch::Method method, const std::string& in, const std::string& out,
                const kx::batch::Sizes& sizes, int32_t quality) override
    {
        std::string call = std::string(kx::batch::SpecOf(method).EngineName) + " " + in + " " + out + " ";
        for (int32_t n : {sizes.Height, sizes.Width, sizes.Percentage, quality})
            call += std::to_string(n) + ",";
        std::lock_guard lock(mutex);
        calls.push_back(call.substr(0, call.size() - 1));
        return true;
    }
    std::vector<std::string> calls;
    std::mutex mutex;
};

// Records each box as "title|text|style number", then " " and what `watch`
// gives, if set; answers No to questions; the chooser gives `folder`.
class FakeDialogs : public folvane::IDialogs {
public:
    folvane::MessageAnswer ShowMessage(const std::string& text, const std::string& title,
                                       folvane::MessageStyle style) override
    {
        std::lock_guard lock(mutex);
        boxes.push_back(title + "|" + text + "|" + std::to_string(static_cast<int>(style)) +
                        (watch ? " " + watch() : ""));
        return style == folvane::MessageStyle::Question ? folvane::MessageAnswer::No
                                                        : folvane::MessageAnswer::Ok;
    }
    void Beep() override { ++beeps; }
    std::string ChooseFolder(const std::string& title) override
    {
        chooserTitle = title;
        return folder;
    }
    std::vector<std::string> boxes;
    std::function<std::string()> watch;
    std::string folder, chooserTitle;
    std::atomic<int> beeps = 0;
    std::mutex mutex;
};

// Installs FakeDialogs and collects the error reports of one test.
class DialogsTest : public testing::Test {
protected:
    void SetUp() override
    {
        folvane::SetDialogs(&dialogs);
        kx::SetReportHandler([this](const std::string& text) {
            std::lock_guard lock(dialogs.mutex);
            reports.push_back(text);
        });
    }
    void TearDown() override
    {
        folvane::SetDialogs(nullptr);
        kx::SetReportHandler(nullptr);
    }
    FakeDialogs dialogs;
    std::vector<std::string> reports;
};

}  // namespace kxtest
