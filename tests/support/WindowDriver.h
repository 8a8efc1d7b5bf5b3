// An engine and dialogs that record instead of acting; linking this gives a
// test program its QApplication (offscreen unless told otherwise).
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "BatchRun.h"
#include "Dialogs.h"
#include "modErrorReport.h"

namespace kxtest {

// Records each call of a run instead of resizing, and says every picture was
// written: "<engine method> <in> <out> <its numbers in the method's argument
// order, comma separated>,<quality>".
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

// Records each box as "title|text|style number", then " " and what `watch`
// gives as it comes up, if set; answers No to questions; the chooser gives
// `folder`. Safe to call from a run's threads.
class FakeDialogs : public folvane::IDialogs {
public:
    folvane::MessageAnswer ShowMessage(const std::string& text, const std::string& title,
                                       folvane::MessageStyle style) override
    {
        std::lock_guard lock(mutex_);
        boxes.push_back(title + "|" + text + "|" + std::to_string(static_cast<int>(style)) +
                        (watch ? " " + watch() : ""));
        return style == folvane::MessageStyle::Question ? folvane::MessageAnswer::No
                                                        : folvane::MessageAnswer::Ok;
    }
    void Beep() override
    {
        std::lock_guard lock(mutex_);
        ++beeps;
    }
    std::string ChooseFolder(const std::string& title) override
    {
        chooserTitle = title;
        return folder;
    }
    std::vector<std::string> boxes;
    std::function<std::string()> watch;
    std::string folder, chooserTitle;
    int beeps = 0;

private:
    std::mutex mutex_;
};

// Installs FakeDialogs and collects the error reports of one test.
class DialogsTest : public testing::Test {
protected:
    void SetUp() override
    {
        folvane::SetDialogs(&dialogs);
        kx::SetReportHandler([this](const std::string& text) {
            std::lock_guard lock(reportsMutex);
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
    std::mutex reportsMutex;
};

}  // namespace kxtest
