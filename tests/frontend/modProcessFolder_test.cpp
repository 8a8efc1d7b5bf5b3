#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QImage>
#include <atomic>
#include <filesystem>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "EngineLibrary.h"
#include "TestSupport.h"
#include "WindowDriver.h"
#include "modProcessFolder.h"

using namespace folvane;
using kxtest::RecordingEngine;

namespace {

// A w x h picture in one grey: "BMP" is 24 bits, bottom-up. The run goes
// by content, so a ".gif" may hold a PNG.
void WritePicture(const std::string& path, int w, int h, const char* format = "BMP")
{
    QImage image(w, h, QImage::Format_RGB888);
    image.fill(QColor(0x80, 0x80, 0x80));
    ASSERT_TRUE(image.save(QString::fromStdString(path), format)) << path;
}

const std::string kDone = "Folvane|Done!|0";

class Batch : public kxtest::DialogsTest, public IProgressView {
protected:
    void SetUp() override
    {
        DialogsTest::SetUp();
        SetProgressView(nullptr);
        ResetMeter();
        SetProgressView(this);
        std::string why;
        library = EngineLibrary::LoadFrom(KESTRIX_LIBRARY, &why);
        ASSERT_TRUE(library) << why;
    }
    void TearDown() override
    {
        SetProgressView(nullptr);
        DialogsTest::TearDown();
    }
    void ShowMeter(const MeterState& meter, bool repaintNow) override
    {
        shown.push_back(meter);
        repaints.push_back(repaintNow);
    }
    // Runs the real engine over `folder`, loaded as the program loads it.
    RunEnd Run(const std::string& folder, const ResizeJob& job, const BatchOptions& options = {})
    {
        KestrixObject object = library->CreateObject();
        KestrixEngine engine(library->Api(), object.get());
        return ProcessFolder(folder, job, engine, options);
    }

    std::optional<EngineLibrary> library;
    kxtest::TempDir dir;
    std::vector<MeterState> shown;
    std::vector<bool> repaints;
};

}  // namespace

TEST(StartMeter, SharesTheColumnOutRoundingHalvesToEven)
{
    const struct {
        int32_t count, step;
    } cases[] = {
        {1, 4730},   {2, 2365}, {3, 1577},  // 1576.67
        {4, 1182},                          // 1182.5
        {860, 6},                           // 5.5
        {1892, 2},                          // 2.5
        {1720, 3},                          // 2.75
        {9459, 1},   {9460, 0},             // 0.5
        {100000, 0}, {0, 0},                // no files: nothing to share out
    };
    for (const auto& c : cases) {
        StartMeter(c.count, "Working...");
        EXPECT_EQ(CurrentMeter().lngMeterStep, c.step) << c.count;
    }
    ResetMeter();
}

TEST_F(Batch, ResizesThePicturesAndStepsOncePerListedFile)
{
    struct Case {
        std::vector<std::string> names;
        unsigned workers;
        int32_t step;  // 4730 twips over the listed files
        std::vector<std::string> outputs;
    };
    const Case cases[] = {
        {{}, 0, 0, {}},                                              // an empty folder completes normally
        {{"a.bmp", "b.txt", "c.gif"}, 0, 1577, {"a.jpg", "c.jpg"}},  // 1576.67
        {{"a.txt", "p0.bmp", "p1.bmp", "p2.bmp", "p3.bmp", "p4.bmp", "z.txt"},
         4,
         676,  // 675.71
         {"p0.jpg", "p1.jpg", "p2.jpg", "p3.jpg", "p4.jpg"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.step);
        const std::string folder = dir / std::to_string(c.step);
        ASSERT_EQ(::mkdir(folder.c_str(), 0777), 0);
        for (const std::string& name : c.names) {
            if (name.ends_with(".bmp")) WritePicture(folder + "/" + name, 8, 4);
            if (name.ends_with(".gif")) WritePicture(folder + "/" + name, 6, 10, "PNG");
            if (name.ends_with(".txt")) kxtest::WriteFileBytes(folder + "/" + name, {'h', 'i'});
        }
        shown.clear();
        repaints.clear();
        dialogs.boxes.clear();
        BatchOptions options;
        options.Workers = c.workers;
        EXPECT_EQ(Run(folder, {3, "0", "4", "0"}, options), RunEnd::Done);  // scale to width 4
        // The column ends one step short of full (5360 - 3 x 1577 = 629)
        // until "Done!" fills it; only "Done!" is not repainted at once.
        std::vector<MeterState> meters;
        for (int32_t i = 0; i <= static_cast<int32_t>(c.names.size()); ++i)
            meters.push_back(MeterState{5360 - c.step * i, 160 + c.step * i, c.step, "Working..."});
        meters.push_back(MeterState{630, 4890, c.step, "Done!"});
        meters.push_back(MeterState{5360, 160, c.step, "Ready!"});
        EXPECT_EQ(shown, meters);
        std::vector<bool> repaint(meters.size(), true);
        repaint[meters.size() - 2] = false;
        EXPECT_EQ(repaints, repaint);
        EXPECT_EQ(dialogs.boxes, std::vector<std::string>{kDone});
        EXPECT_EQ(ListOrdinaryFiles(folder + "/Resized"), c.outputs);
        for (const std::string& output : c.outputs)
            EXPECT_EQ(kxtest::DecodeJpegFile(folder + "/Resized/" + output).width, 4) << output;
    }
    EXPECT_EQ(dialogs.beeps, 3);
    EXPECT_TRUE(reports.empty());
}

TEST_F(Batch, NamesExtensionsContentAndHiddenFiles)
{
    WritePicture(dir / "holiday.photo.bmp", 4, 4);
    WritePicture(dir / "photo.JPEG", 4, 4, "JPG");              // extension not accepted
    WritePicture(dir / "photo.png", 4, 4, "PNG");               // extension not accepted
    WritePicture(dir / "p.gif", 4, 4, "PNG");                   // the probe goes by content
    kxtest::WriteFileBytes(dir / "fake.jpg", {1, 2, 3});        // not a picture
    WritePicture(dir / ".hidden.bmp", 4, 4);                    // neither counted nor resized
    ASSERT_EQ(::mkdir((dir / "folder.bmp").c_str(), 0777), 0);  // folders never
    WritePicture(dir / "folder.bmp/inside.bmp", 4, 4);
    ASSERT_EQ(::symlink("holiday.photo.bmp", (dir / "link.bmp").c_str()), 0);
    EXPECT_EQ(Run(dir.Path(), {1, "0", "0", "100"}), RunEnd::Done);
    EXPECT_TRUE(reports.empty());
    EXPECT_EQ(dialogs.boxes, std::vector<std::string>{kDone});
    ASSERT_EQ(shown.size(), 9u);                 // start, 6 steps, finish, reset
    EXPECT_EQ(shown.front().lngMeterStep, 788);  // 6 listed: 4730 / 6 = 788.33
    EXPECT_EQ(ListOrdinaryFiles(dir / "Resized"),
              (std::vector<std::string>{"holiday.jpg", "link.jpg", "p.jpg"}));
}

TEST_F(Batch, AFileNamedResizedStandsForTheFolder)
{
    kxtest::WriteFileBytes(dir / "Resized", {'k', 'e', 'e', 'p'});
    WritePicture(dir / "a.bmp", 4, 4);
    Run(dir.Path(), {2, "2", "0", "0"});
    EXPECT_EQ(dialogs.boxes, std::vector<std::string>{kDone});  // no "Cannot Create" either
    EXPECT_EQ(kxtest::ReadFileBytes(dir / "Resized"), (std::vector<uint8_t>{'k', 'e', 'e', 'p'}));
    EXPECT_EQ(dir.List(), (std::vector<std::string>{"Resized", "a.bmp"}));
}

TEST_F(Batch, EachMethodReadsOnlyItsOwnSizes)
{
    WritePicture(dir / "a.bmp", 4, 4);
    const std::string in = dir / "a.bmp", out = dir / "Resized/a.jpg";
    const struct {
        ResizeJob job;
        std::string call;  // empty: no call
    } cases[] = {
        {{0, "120", "160", "x"}, "ImageResize " + in + " " + out + " 120,160,90"},
        {{1, "99999999999", "abc", "50"}, "ImagePercentageResize " + in + " " + out + " 50,90"},
        {{2, "120", "abc", "x"}, "ImageResizeMaxHeight " + in + " " + out + " 120,90"},
        {{3, "abc", "160", "x"}, "ImageResizeMaxWidth " + in + " " + out + " 160,90"},
        {{4, "120", "160", "x"}, "ImageResizeWithinDimensions " + in + " " + out + " 120,160,90"},
        {{5, "abc", "abc", "abc"}, ""},
        {{-1, "abc", "abc", "abc"}, ""},
    };
    for (const auto& c : cases) {
        RecordingEngine engine;
        dialogs.boxes.clear();
        ProcessFolder(dir.Path(), c.job, engine);
        EXPECT_EQ(engine.calls,
                  c.call.empty() ? std::vector<std::string>{} : std::vector<std::string>{c.call})
            << c.job.ResizeMethod;
        EXPECT_EQ(dialogs.boxes, std::vector<std::string>{kDone}) << c.job.ResizeMethod;
    }
    EXPECT_TRUE(reports.empty());
}

TEST_F(Batch, ASizeBeyond32BitsEndsTheRunWhereItStandsReportedOnce)
{
    // Alone, the file before the error steps ("0.txt" sorts first); with
    // four workers every one meets the overflow, none finishes a file, and
    // only the first overflow is reported.
    const struct {
        unsigned workers;
        std::vector<std::string> names;
        MeterState meter;
    } cases[] = {
        {1, {"0.txt", "a.bmp", "b.bmp"}, MeterState{3783, 1737, 1577, "Working..."}},
        {4, {"a.bmp", "b.bmp", "c.bmp", "d.bmp", "e.bmp", "f.bmp"}, MeterState{5360, 160, 788, "Working..."}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.workers);
        const std::string folder = dir / std::to_string(c.workers);
        ASSERT_EQ(::mkdir(folder.c_str(), 0777), 0);
        for (const std::string& name : c.names)
            name.ends_with(".txt") ? kxtest::WriteFileBytes(folder + "/" + name, {1})
                                   : WritePicture(folder + "/" + name, 4, 4);
        RecordingEngine engine;
        BatchOptions options;
        options.Workers = c.workers;
        reports.clear();
        EXPECT_EQ(ProcessFolder(folder, {3, "0", "99999999999", "0"}, engine, options), RunEnd::Error);
        EXPECT_EQ(reports, std::vector<std::string>{
                               "Error in : ProcessFolder\r\nError Number : 6\r\nError Desc : Overflow"});
        EXPECT_TRUE(engine.calls.empty());
        EXPECT_EQ(CurrentMeter(), c.meter);
    }
    EXPECT_TRUE(dialogs.boxes.empty());
    EXPECT_EQ(dialogs.beeps, 0);
}

TEST_F(Batch, AFolderThatIsMissingOrCannotBeMadeEndsBeforeTheMeterMoves)
{
    const std::pair<std::string, std::string> cases[] = {
        {dir / "missing", "Error in : ProcessFolder\r\nError Number : 76\r\nError Desc : Path not found"},
        // Refused even to root: no folder can be made at the top of sysfs.
        {"/sys", "Error in : ProcessFolder\r\nError Number : 75\r\nError Desc : Path/File access error"}};
    const MeterState before = CurrentMeter();
    for (const auto& [folder, report] : cases) {
        if (::access("/sys/kernel", F_OK) != 0 && folder == "/sys") continue;  // no sysfs here
        RecordingEngine engine;
        reports.clear();
        ProcessFolder(folder, {0, "1", "1", "1"}, engine);
        EXPECT_EQ(reports, std::vector<std::string>{report});
    }
    EXPECT_TRUE(dialogs.boxes.empty());
    EXPECT_TRUE(shown.empty());
    EXPECT_EQ(CurrentMeter(), before);
}

TEST_F(Batch, WorkersWriteExactlyWhatOneAtATimeWrites)
{
    for (int i = 0; i < 8; ++i) WritePicture(dir / ("p" + std::to_string(i) + ".bmp"), 20 + 7 * i, 9 + i);
    WritePicture(dir / "x.bmp", 8, 8);
    WritePicture(dir / "x.gif", 6, 3, "PNG");    // later in the listing: wins x.jpg
    WritePicture(dir / "X.jpg", 10, 10, "JPG");  // "X" sorts before "x": an output of its own
    // A header the probe accepts (a baseline frame of 64 x 48 in three
    // components), then bytes no decoder can use; in the middle of the listing.
    std::vector<uint8_t> broken = {0xFF, 0xD8, 0xFF, 0xC0, 0x00, 0x11, 8, 0, 48,   0, 64,
                                   3,    1,    0x22, 0,    2,    0x11, 1, 3, 0x11, 1};
    for (int i = 0; i < 200; ++i) broken.push_back(static_cast<uint8_t>(i * 37 + 11));
    kxtest::WriteFileBytes(dir / "m.jpg", broken);
    WritePicture(dir / "y.bmp", 10, 6);
    // A GIF header the probe accepts (8 x 8 screen), then nothing usable: y.bmp's y.jpg stays.
    kxtest::WriteFileBytes(dir / "y.gif", {'G', 'I', 'F', '8', '9', 'a', 8, 0, 8, 0, 0x80, 0, 0, 1, 2, 3});
    kxtest::WriteFileBytes(dir / "notes.txt", {'n'});

    std::map<std::string, std::string> expected = {
        {"X.jpg", "resized"}, {"m.jpg", "failed 1"}, {"notes.txt", "skipped"}, {"x.bmp", "resized"},
        {"x.gif", "resized"}, {"y.bmp", "resized"},  {"y.gif", "failed 1"}};
    for (int i = 0; i < 8; ++i) expected["p" + std::to_string(i) + ".bmp"] = "resized";
    for (const unsigned workers : {1u, 2u, 4u}) {
        SCOPED_TRACE(workers);
        std::mutex guard;
        std::map<std::string, std::string> outcomes;
        BatchOptions options;
        options.Workers = workers;
        options.FileDone = [&](const FileReport& report) {
            std::lock_guard lock(guard);
            const FileOutcome o = report.Outcome;
            outcomes[report.Name] = o == FileOutcome::Resized ? "resized"
                                    : o == FileOutcome::Skipped
                                        ? "skipped"
                                        : "failed " + std::to_string(report.ErrorCode);
        };
        EXPECT_EQ(Run(dir.Path(), {3, "0", "16", "0"}, options), RunEnd::Done);
        EXPECT_EQ(outcomes, expected);
        std::filesystem::rename(dir / "Resized", dir / ("Resized-" + std::to_string(workers)));
    }
    const std::string one = dir / "Resized-1";
    const std::vector<std::string> names = ListOrdinaryFiles(one);
    EXPECT_EQ(names, (std::vector<std::string>{"X.jpg", "p0.jpg", "p1.jpg", "p2.jpg", "p3.jpg", "p4.jpg",
                                               "p5.jpg", "p6.jpg", "p7.jpg", "x.jpg", "y.jpg"}));
    EXPECT_EQ(kxtest::DecodeJpegFile(one + "/X.jpg").height, 16);  // 10 x 10 to width 16
    EXPECT_EQ(kxtest::DecodeJpegFile(one + "/x.jpg").height, 8);   // x.gif's 6 x 3, not x.bmp's 8 x 8
    EXPECT_EQ(kxtest::DecodeJpegFile(one + "/y.jpg").height, 10);  // 10 x 6 to width 16
    for (const char* many : {"Resized-2", "Resized-4"}) {
        EXPECT_EQ(ListOrdinaryFiles(dir / many), names) << many;
        for (const std::string& name : names)
            EXPECT_EQ(kxtest::ReadFileBytes(dir / many + "/" + name), kxtest::ReadFileBytes(one + "/" + name))
                << many << "/" << name;
    }
}

TEST_F(Batch, TheStopFlagLeavesFilesNotStartedAlone)
{
    for (const char* name : {"a.bmp", "b.bmp", "c.bmp", "d.bmp"}) WritePicture(dir / name, 8, 8);
    std::atomic<bool> stop{false};
    std::vector<std::string> finished;
    BatchOptions options;
    options.Workers = 1;
    options.Stop = &stop;
    options.FileDone = [&](const FileReport& report) {
        finished.push_back(report.Name);
        if (finished.size() == 2) stop = true;
    };
    EXPECT_EQ(Run(dir.Path(), {3, "0", "4", "0"}, options), RunEnd::Stopped);
    EXPECT_EQ(finished, (std::vector<std::string>{"a.bmp", "b.bmp"}));
    EXPECT_EQ(ListOrdinaryFiles(dir / "Resized"), (std::vector<std::string>{"a.jpg", "b.jpg"}));
    EXPECT_TRUE(dialogs.boxes.empty());  // no "Done!"
    EXPECT_EQ(CurrentMeter(), (MeterState{2996, 2524, 1182, "Working..."}));
    options.Workers = 4;  // raised before the run: nothing starts
    finished.clear();
    EXPECT_EQ(Run(dir.Path(), {3, "0", "4", "0"}, options), RunEnd::Stopped);
    EXPECT_TRUE(finished.empty());
}

TEST(FolderExists, FoldersAndFilesButNotHiddenOrMissingNames)
{
    kxtest::TempDir dir;
    ASSERT_EQ(::mkdir((dir / "Resized").c_str(), 0777), 0);
    ASSERT_EQ(::mkdir((dir / ".cache").c_str(), 0777), 0);
    kxtest::WriteFileBytes(dir / "file", {1});
    for (const char* yes : {"Resized", "file"}) EXPECT_TRUE(FolderExists(dir / yes)) << yes;
    for (const char* no : {".cache", "missing", "Resized/", "resized"})
        EXPECT_FALSE(FolderExists(dir / no)) << no;
}

TEST(ValidExtension, OnlyJpgBmpAndGifInAnyCase)
{
    for (const char* yes : {"jpg", "JPG", "Bmp", "gIF"}) EXPECT_TRUE(ValidExtension(yes)) << yes;
    for (const char* no : {"jpeg", "png", "tif", "", "jpg ", "bmp/x"}) EXPECT_FALSE(ValidExtension(no)) << no;
}
