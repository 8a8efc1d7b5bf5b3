// What the desktop program's batch run adds to the batch core (tested with the
// core): the meter's twips, boxes and reports, texts as typed.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QImage>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "batch/TreeListing.h"
#include "frontend/EngineLibrary.h"
#include "frontend/modProcessFolder.h"
#include "tests/support/TestSupport.h"
#include "tests/support/WindowDriver.h"

using namespace folvane;
using Names = std::vector<std::string>;

namespace {

Names Listed(const std::string& folder) { return kx::batch::ListTree(folder, false).Names; }

// A w x h grey picture: a ".bmp" is a BMP, any other name a PNG (the run goes by content).
void WritePicture(const std::string& path, int w, int h)
{
    QImage image(w, h, QImage::Format_RGB888);
    image.fill(QColor(0x80, 0x80, 0x80));
    ASSERT_TRUE(image.save(QString::fromStdString(path), path.ends_with(".bmp") ? "BMP" : "PNG")) << path;
}

// Makes `folder` with an 8 x 4 picture of each name, but ".txt" and ".jpg" hold text.
void WriteFiles(const std::string& folder, const Names& names)
{
    ASSERT_EQ(::mkdir(folder.c_str(), 0777), 0);
    for (const std::string& name : names) {
        if (name.ends_with(".txt") || name.ends_with(".jpg"))
            kxtest::WriteFileBytes(folder + "/" + name, {'h', 'i'});
        else
            WritePicture(folder + "/" + name, 8, 4);
    }
}

class Batch : public kxtest::DialogsTest, public IProgressView {
protected:
    void ShowMeter(const MeterState& meter, bool now) override { shown.push_back({meter, now}); }
    // Runs the real engine, loaded as the program loads it, scaling to width 4.
    RunEnd Run(const std::string& folder, const BatchOptions& options = {4, kBatchQuality, nullptr, {}})
    {
        std::string why;
        std::optional<EngineLibrary> library = EngineLibrary::LoadFrom(KESTRIX_LIBRARY, &why);
        EXPECT_TRUE(library) << why;
        KestrixObject object = library->CreateObject();
        KestrixEngine engine(library->Api(), object.get());
        return ProcessFolder(folder, {3, "0", "4", "0"}, engine, meter, options);
    }

    kxtest::TempDir dir;
    Meter meter{this};
    std::vector<std::pair<MeterState, bool>> shown;  // with "repaint now"
};

}  // namespace

TEST(StartMeter, SharesTheColumnOutRoundingHalvesToEven)
{
    // Files, twips a step: 4730 / 3 = 1576.67, / 4 = 1182.5, / 860 = 5.5,
    // 9459 and 9460 either side of a step of 0.5; no files, nothing to share.
    const std::pair<int32_t, int32_t> cases[] = {{3, 1577}, {4, 1182}, {860, 6},
                                                 {9459, 1}, {9460, 0}, {0, 0}};
    Meter meter;
    for (const auto& [count, step] : cases) {
        meter.StartMeter(count, "Working...");
        EXPECT_EQ(meter.CurrentMeter().lngMeterStep, step) << count;
    }
}

TEST_F(Batch, TheMeterStepsOncePerListedFileAndDoneFillsIt)
{
    // The names, how many are listed, the step (4730 twips over them), the outputs.
    const std::tuple<Names, int32_t, int32_t, Names> cases[] = {
        {{}, 0, 0, {}},  // an empty folder completes normally
        {{".h.bmp", "a.bmp", "b.txt", "c.tar.gif", "d.jpg", "e.png"}, 5, 946, {"a.jpg", "c.jpg"}}};
    for (const auto& [names, listed, step, outputs] : cases) {
        SCOPED_TRACE(step);
        const std::string folder = dir / std::to_string(step);
        WriteFiles(folder, names);
        EXPECT_EQ(Run(folder), RunEnd::Done);
        // The column ends a step or so short of full until "Done!" fills it;
        // only "Done!" is not repainted at once.
        std::vector<std::pair<MeterState, bool>> meters;
        for (int32_t i = 0; i <= listed; ++i)
            meters.push_back({{5360 - step * i, 160 + step * i, step, "Working..."}, true});
        meters.push_back({{630, 4890, step, "Done!"}, false});
        meters.push_back({{5360, 160, step, "Ready!"}, true});
        EXPECT_EQ(std::exchange(shown, {}), meters);
        EXPECT_EQ(std::exchange(dialogs.boxes, {}), Names{"Folvane|Done!|0"});
        EXPECT_EQ(Listed(folder + "/Resized"), outputs);
        for (const std::string& output : outputs)
            EXPECT_EQ(kxtest::DecodeJpegFile(folder + "/Resized/" + output).width, 4) << output;
    }
    EXPECT_EQ(dialogs.beeps, 2);
    EXPECT_TRUE(reports.empty());
}

TEST_F(Batch, EachMethodReadsOnlyItsOwnSizes)
{
    WritePicture(dir / "a.bmp", 4, 4);
    const std::string files = " " + dir / "a.bmp " + dir / "Resized/a.jpg ";
    const std::pair<ResizeJob, std::string> cases[] = {
        {{0, "120", "160", "x"}, "ImageResize" + files + "120,160,0,90"},
        {{1, "99999999999", "abc", "50"}, "ImagePercentageResize" + files + "0,0,50,90"},
        {{2, "120", "abc", "x"}, "ImageResizeMaxHeight" + files + "120,0,0,90"},
        {{3, "abc", "160", "x"}, "ImageResizeMaxWidth" + files + "0,160,0,90"},
        {{4, "120", "160", "x"}, "ImageResizeWithinDimensions" + files + "120,160,0,90"},
        {{5, "abc", "abc", "abc"}, ""},  // no such method: nothing
        {{-1, "abc", "abc", "abc"}, ""}};
    for (const auto& [job, call] : cases) {
        kxtest::RecordingEngine engine;
        ProcessFolder(dir.Path(), job, engine, meter);
        EXPECT_EQ(engine.calls, call.empty() ? Names{} : Names{call}) << job.ResizeMethod;
    }
    EXPECT_EQ(dialogs.boxes, Names(std::size(cases), "Folvane|Done!|0"));
    EXPECT_TRUE(reports.empty());
}

// One report where the run stands: a bad folder before the meter moves; an
// overflow alone after "0.txt", with four workers before any file is done.
TEST_F(Batch, ARunTimeErrorEndsTheRunWhereItStandsReportedOnce)
{
    WriteFiles(dir / "1", {"0.txt", "a.bmp", "b.bmp"});
    WriteFiles(dir / "4", {"a.bmp", "b.bmp", "c.bmp", "d.bmp", "e.bmp", "f.bmp"});
    const std::tuple<std::string, unsigned, std::string, std::optional<MeterState>> cases[] = {
        {dir / "missing", 1, "76\r\nError Desc : Path not found", std::nullopt},
        // Refused even to root: no folder can be made at the top of sysfs.
        {"/sys", 1, "75\r\nError Desc : Path/File access error", std::nullopt},
        {dir / "1", 1, "6\r\nError Desc : Overflow", MeterState{3783, 1737, 1577, "Working..."}},
        {dir / "4", 4, "6\r\nError Desc : Overflow", MeterState{5360, 160, 788, "Working..."}}};
    for (const auto& [folder, workers, report, meter] : cases) {
        if (folder == "/sys" && ::access("/sys/kernel", F_OK) != 0) continue;  // no sysfs here
        kxtest::RecordingEngine engine;
        reports.clear();
        shown.clear();
        EXPECT_EQ(ProcessFolder(folder, {3, "0", "99999999999", "0"}, engine, this->meter,
                                {workers, kBatchQuality, nullptr, {}}),
                  RunEnd::Error);
        EXPECT_EQ(reports, Names{"Error in : ProcessFolder\r\nError Number : " + report}) << folder;
        EXPECT_TRUE(engine.calls.empty());
        EXPECT_EQ(shown.empty() ? std::nullopt : std::optional(this->meter.CurrentMeter()), meter) << folder;
    }
    EXPECT_TRUE(dialogs.boxes.empty());
    EXPECT_EQ(dialogs.beeps, 0);
}

TEST_F(Batch, WorkersWriteExactlyWhatOneAtATimeWrites)
{
    for (int i = 0; i < 8; ++i) WritePicture(dir / ("p" + std::to_string(i) + ".bmp"), 20 + 7 * i, 9 + i);
    WritePicture(dir / "x.bmp", 8, 8);
    WritePicture(dir / "x.gif", 6, 3);    // later in the listing: wins x.jpg
    WritePicture(dir / "X.jpg", 10, 10);  // "X" sorts before "x": an output of its own
    WritePicture(dir / "y.bmp", 10, 6);
    // A GIF header the probe accepts (8 x 8 screen), then nothing usable: y.bmp's y.jpg stays.
    kxtest::WriteFileBytes(dir / "y.gif", {'G', 'I', 'F', '8', '9', 'a', 8, 0, 8, 0, 0x80, 0, 0, 1, 2, 3});
    kxtest::WriteFileBytes(dir / "notes.txt", {'n'});
    for (const unsigned workers : {1u, 2u, 4u}) {
        EXPECT_EQ(Run(dir.Path(), {workers, kBatchQuality, nullptr, {}}), RunEnd::Done);
        std::filesystem::rename(dir / "Resized", dir / ("Resized-" + std::to_string(workers)));
    }
    const std::string one = dir / "Resized-1";
    const Names names = Listed(one);
    EXPECT_EQ(names, (Names{"X.jpg", "p0.jpg", "p1.jpg", "p2.jpg", "p3.jpg", "p4.jpg", "p5.jpg", "p6.jpg",
                            "p7.jpg", "x.jpg", "y.jpg"}));
    for (const char* many : {"Resized-2", "Resized-4"}) {
        EXPECT_EQ(Listed(dir / many), names) << many;
        for (const std::string& name : names)
            EXPECT_EQ(kxtest::ReadFileBytes(dir / many + "/" + name), kxtest::ReadFileBytes(one + "/" + name))
                << many << "/" << name;
    }
}
