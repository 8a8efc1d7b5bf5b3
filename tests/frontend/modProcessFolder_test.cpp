#include <gif_lib.h>
#include <gtest/gtest.h>
#include <png.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "Dialogs.h"
#include "EngineLibrary.h"
#include "RecordingEngine.h"
#include "TestSupport.h"
#include "modErrorReport.h"
#include "modProcessFolder.h"

using namespace folvane;

namespace {

// A 24-bit bottom-up BMP of w x h pixels, all one grey.
void WriteBmp(const std::string& path, int w, int h)
{
    const int stride = (w * 3 + 3) / 4 * 4;
    const int size = 54 + stride * h;
    std::vector<uint8_t> b(static_cast<size_t>(size), 0x80);
    auto put32 = [&](int at, int v) {
        for (int i = 0; i < 4; ++i) b[at + i] = static_cast<uint8_t>(v >> (8 * i));
    };
    b[0] = 'B', b[1] = 'M';
    put32(2, size);  // file size
    put32(6, 0);     // reserved
    put32(10, 54);   // pixel offset
    put32(14, 40);   // info header size
    put32(18, w);
    put32(22, h);               // positive: bottom-up
    put32(26, 1 | (24 << 16));  // one plane, 24 bits
    put32(30, 0);               // no compression
    for (int at = 34; at < 54; at += 4) put32(at, 0);
    kxtest::WriteFileBytes(path, b);
}

// A w x h GIF in two colours, striped.
void WriteGif(const std::string& path, int w, int h)
{
    int error = 0;
    GifFileType* gif = EGifOpenFileName(path.c_str(), false, &error);
    ASSERT_NE(gif, nullptr);
    const GifColorType colours[2] = {{255, 0, 0}, {0, 0, 255}};
    ColorMapObject* map = GifMakeMapObject(2, colours);
    ASSERT_EQ(EGifPutScreenDesc(gif, w, h, 1, 0, map), GIF_OK);
    ASSERT_EQ(EGifPutImageDesc(gif, 0, 0, w, h, false, nullptr), GIF_OK);
    std::vector<GifPixelType> line(static_cast<size_t>(w));
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) line[x] = static_cast<GifPixelType>(x & 1);
        ASSERT_EQ(EGifPutLine(gif, line.data(), w), GIF_OK);
    }
    GifFreeMapObject(map);
    ASSERT_EQ(EGifCloseFile(gif, &error), GIF_OK);
}

void WritePng(const std::string& path, int w, int h)
{
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    image.width = static_cast<png_uint_32>(w);
    image.height = static_cast<png_uint_32>(h);
    image.format = PNG_FORMAT_RGB;
    std::vector<uint8_t> pixels(static_cast<size_t>(w * h * 3), 0x40);
    ASSERT_NE(png_image_write_to_file(&image, path.c_str(), 0, pixels.data(), 0, nullptr), 0);
}

void WriteJpeg(const std::string& path, int w, int h)
{
    kxtest::Image image{w, h, std::vector<uint8_t>(static_cast<size_t>(w * h * 3), 0x60)};
    kxtest::EncodeJpegFile(path, image, 90, 0);
}

using kxtest::RecordingEngine;

class BatchTest : public testing::Test, public IDialogs, public IProgressView {
protected:
    void SetUp() override
    {
        SetDialogs(this);
        SetProgressView(nullptr);
        ResetMeter();
        SetProgressView(this);
        kx::SetReportHandler([this](const std::string& text) { reports.push_back(text); });
    }
    void TearDown() override
    {
        SetDialogs(nullptr);
        SetProgressView(nullptr);
        kx::SetReportHandler(nullptr);
    }
    MessageAnswer ShowMessage(const std::string& text, const std::string& title, MessageStyle style) override
    {
        messages.push_back(title + "|" + text + "|" + std::to_string(static_cast<int>(style)));
        return MessageAnswer::Ok;
    }
    void Beep() override { ++beeps; }
    std::string ChooseFolder(const std::string&) override { return {}; }
    void ShowMeter(const MeterState& meter, bool repaintNow) override
    {
        shown.push_back(meter);
        repaints.push_back(repaintNow);
    }

    // Runs the real engine, loaded as the program loads it; with `options`
    // when given, otherwise as the window runs it.
    void RunWithEngine(const ResizeJob& job, const BatchOptions* options = nullptr, RunEnd* end = nullptr)
    {
        std::string why;
        auto library = EngineLibrary::LoadFrom(KESTRIX_LIBRARY, &why);
        ASSERT_TRUE(library) << why;
        KestrixObject object = library->CreateObject();
        KestrixEngine engine(library->Api(), object.get());
        if (!options) return ProcessFolder(dir.Path(), job, engine);
        const RunEnd ended = ProcessFolder(dir.Path(), job, engine, *options);
        if (end) *end = ended;
    }
    std::vector<std::string> Outputs() const { return ListOrdinaryFiles(dir / "Resized"); }

    kxtest::TempDir dir;
    std::vector<std::string> messages, reports;
    std::vector<MeterState> shown;
    std::vector<bool> repaints;
    int beeps = 0;
    const std::string done = "Folvane|Done!|0";
};

MeterState Meter(int32_t top, int32_t height, int32_t step, const char* caption)
{
    return {top, height, step, caption};
}

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

TEST_F(BatchTest, ResizesThePicturesAndStepsForEveryListedFile)
{
    WriteBmp(dir / "a.bmp", 8, 4);
    kxtest::WriteFileBytes(dir / "b.txt", {'h', 'i'});
    WriteGif(dir / "c.gif", 6, 10);
    RunWithEngine({3, "0", "4", "0"});  // scale to width 4

    EXPECT_TRUE(reports.empty());
    EXPECT_EQ(messages, std::vector<std::string>{done});
    EXPECT_EQ(beeps, 1);
    const std::vector<MeterState> expected = {
        Meter(5360, 160, 1577, "Working..."),  Meter(3783, 1737, 1577, "Working..."),
        Meter(2206, 3314, 1577, "Working..."), Meter(629, 4891, 1577, "Working..."),
        Meter(630, 4890, 1577, "Done!"),       Meter(5360, 160, 1577, "Ready!")};
    EXPECT_EQ(shown, expected);
    EXPECT_EQ(repaints, (std::vector<bool>{true, true, true, true, false, true}));
    EXPECT_EQ(Outputs(), (std::vector<std::string>{"a.jpg", "c.jpg"}));
    EXPECT_EQ(kxtest::DecodeJpegFile(dir / "Resized/a.jpg").width, 4);
    EXPECT_EQ(kxtest::DecodeJpegFile(dir / "Resized/c.jpg").width, 4);
}

TEST_F(BatchTest, NamesExtensionsContentAndHiddenFiles)
{
    WriteBmp(dir / "holiday.photo.bmp", 4, 4);
    WriteJpeg(dir / "photo.JPEG", 4, 4);                        // extension not accepted
    WritePng(dir / "photo.png", 4, 4);                          // extension not accepted
    WritePng(dir / "p.gif", 4, 4);                              // the probe goes by content
    kxtest::WriteFileBytes(dir / "fake.jpg", {1, 2, 3});        // not a picture
    WriteBmp(dir / ".hidden.bmp", 4, 4);                        // neither counted nor resized
    ASSERT_EQ(::mkdir((dir / "folder.bmp").c_str(), 0777), 0);  // folders never
    WriteBmp(dir / "folder.bmp/inside.bmp", 4, 4);
    ASSERT_EQ(::symlink("holiday.photo.bmp", (dir / "link.bmp").c_str()), 0);
    RunWithEngine({1, "0", "0", "100"});

    EXPECT_TRUE(reports.empty());
    EXPECT_EQ(messages, std::vector<std::string>{done});
    ASSERT_FALSE(shown.empty());
    EXPECT_EQ(shown.front().lngMeterStep, 788);  // 6 listed: 4730 / 6 = 788.33
    EXPECT_EQ(shown.size(), 9u);                 // start, 6 steps, finish, reset
    EXPECT_EQ(Outputs(), (std::vector<std::string>{"holiday.jpg", "link.jpg", "p.jpg"}));
}

TEST_F(BatchTest, TheLaterNameInByteOrderWinsASharedOutput)
{
    WriteBmp(dir / "x.bmp", 8, 4);
    WriteGif(dir / "x.gif", 6, 3);
    WriteJpeg(dir / "X.jpg", 10, 10);  // "X" sorts before "x": overwritten next
    RunWithEngine({1, "0", "0", "100"});
    EXPECT_EQ(Outputs(), (std::vector<std::string>{"X.jpg", "x.jpg"}));
    const kxtest::Image winner = kxtest::DecodeJpegFile(dir / "Resized/x.jpg");
    EXPECT_EQ(winner.width, 6);
    EXPECT_EQ(winner.height, 3);
}

TEST_F(BatchTest, AnEmptyFolderCompletesNormally)
{
    RunWithEngine({0, "10", "10", "0"});
    EXPECT_TRUE(reports.empty());
    EXPECT_EQ(messages, std::vector<std::string>{done});
    EXPECT_EQ(beeps, 1);
    EXPECT_EQ(shown, (std::vector<MeterState>{Meter(5360, 160, 0, "Working..."), Meter(630, 4890, 0, "Done!"),
                                              Meter(5360, 160, 0, "Ready!")}));
    struct stat info {};
    ASSERT_EQ(::stat((dir / "Resized").c_str(), &info), 0);
    EXPECT_TRUE(S_ISDIR(info.st_mode));
}

TEST_F(BatchTest, AFileNamedResizedStandsForTheFolder)
{
    kxtest::WriteFileBytes(dir / "Resized", {'k', 'e', 'e', 'p'});
    WriteBmp(dir / "a.bmp", 4, 4);
    RunWithEngine({2, "2", "0", "0"});
    EXPECT_EQ(messages, std::vector<std::string>{done});  // no "Cannot Create" either
    EXPECT_EQ(kxtest::ReadFileBytes(dir / "Resized"), (std::vector<uint8_t>{'k', 'e', 'e', 'p'}));
    EXPECT_EQ(dir.List(), (std::vector<std::string>{"Resized", "a.bmp"}));
}

TEST_F(BatchTest, EachMethodReadsOnlyItsOwnSizes)
{
    WriteBmp(dir / "a.bmp", 4, 4);
    const std::string in = dir / "a.bmp", out = dir / "Resized/a.jpg";
    const struct {
        int16_t method;
        ResizeJob job;
        std::string call;  // empty: no call
    } cases[] = {
        {0, {0, "120", "160", "x"}, "ImageResize " + in + " " + out + " 120,160,90"},
        {1, {1, "99999999999", "abc", "50"}, "ImagePercentageResize " + in + " " + out + " 50,90"},
        {2, {2, "120", "abc", "x"}, "ImageResizeMaxHeight " + in + " " + out + " 120,90"},
        {3, {3, "abc", "160", "x"}, "ImageResizeMaxWidth " + in + " " + out + " 160,90"},
        {4, {4, "120", "160", "x"}, "ImageResizeWithinDimensions " + in + " " + out + " 120,160,90"},
        {5, {5, "abc", "abc", "abc"}, ""},
        {-1, {-1, "abc", "abc", "abc"}, ""},
    };
    for (const auto& c : cases) {
        RecordingEngine engine;
        messages.clear();
        ProcessFolder(dir.Path(), c.job, engine);
        EXPECT_EQ(engine.calls,
                  c.call.empty() ? std::vector<std::string>{} : std::vector<std::string>{c.call})
            << c.method;
        EXPECT_EQ(messages, std::vector<std::string>{done}) << c.method;
    }
    EXPECT_TRUE(reports.empty());
}

TEST_F(BatchTest, ASizeBeyond32BitsEndsTheRunWhereItStands)
{
    WriteBmp(dir / "a.bmp", 4, 4);
    WriteBmp(dir / "b.bmp", 4, 4);
    kxtest::WriteFileBytes(dir / "0.txt", {1});  // stepped over before the error
    RecordingEngine engine;
    BatchOptions one;
    one.Workers = 1;
    EXPECT_EQ(ProcessFolder(dir.Path(), {3, "0", "99999999999", "0"}, engine, one), RunEnd::Error);
    EXPECT_EQ(reports, std::vector<std::string>{
                           "Error in : ProcessFolder\r\nError Number : 6\r\nError Desc : Overflow"});
    EXPECT_TRUE(engine.calls.empty());
    EXPECT_TRUE(messages.empty());
    EXPECT_EQ(beeps, 0);
    EXPECT_EQ(CurrentMeter(), Meter(3783, 1737, 1577, "Working..."));  // one step made
}

TEST_F(BatchTest, AnErrorInOneWorkerEndsTheWholeRunOnce)
{
    for (const char* name : {"a.bmp", "b.bmp", "c.bmp", "d.bmp", "e.bmp", "f.bmp"})
        WriteBmp(dir / name, 4, 4);
    RecordingEngine engine;
    BatchOptions four;
    four.Workers = 4;
    EXPECT_EQ(ProcessFolder(dir.Path(), {3, "0", "99999999999", "0"}, engine, four), RunEnd::Error);
    // Every worker meets the overflow; only the first is reported.
    EXPECT_EQ(reports, std::vector<std::string>{
                           "Error in : ProcessFolder\r\nError Number : 6\r\nError Desc : Overflow"});
    EXPECT_TRUE(engine.calls.empty());
    EXPECT_TRUE(messages.empty());
    EXPECT_EQ(CurrentMeter(), Meter(5360, 160, 788, "Working..."));  // no file finished
}

TEST_F(BatchTest, AMissingSourceFolderEndsBeforeTheMeterMoves)
{
    const MeterState before = CurrentMeter();
    RecordingEngine engine;
    ProcessFolder(dir / "missing", {0, "1", "1", "1"}, engine);
    EXPECT_EQ(reports, std::vector<std::string>{
                           "Error in : ProcessFolder\r\nError Number : 76\r\nError Desc : Path not found"});
    EXPECT_TRUE(messages.empty());
    EXPECT_TRUE(shown.empty());
    EXPECT_EQ(CurrentMeter(), before);
}

TEST_F(BatchTest, AFolderThatCannotBeMadeEndsTheRun)
{
    // Refused even to root: no folder can be made at the top of sysfs.
    if (::access("/sys/kernel", F_OK) != 0) GTEST_SKIP() << "no sysfs";
    RecordingEngine engine;
    ProcessFolder("/sys", {0, "1", "1", "1"}, engine);
    EXPECT_EQ(reports, std::vector<std::string>{"Error in : ProcessFolder\r\nError Number : 75\r\n"
                                                "Error Desc : Path/File access error"});
    EXPECT_TRUE(shown.empty());
}

// A JPEG header the probe accepts (start of image, then a baseline frame of
// 64 x 48 in three components), followed by bytes no decoder can use.
void WriteBrokenJpeg(const std::string& path)
{
    std::vector<uint8_t> b = {0xFF, 0xD8, 0xFF, 0xC0, 0x00, 0x11, 8, 0, 48,   0, 64,
                              3,    1,    0x22, 0,    2,    0x11, 1, 3, 0x11, 1};
    for (int i = 0; i < 200; ++i) b.push_back(static_cast<uint8_t>(i * 37 + 11));
    kxtest::WriteFileBytes(path, b);
}

// A GIF header the probe accepts (8 x 8 screen), then nothing usable.
void WriteBrokenGif(const std::string& path)
{
    kxtest::WriteFileBytes(path, {'G', 'I', 'F', '8', '9', 'a', 8, 0, 8, 0, 0x80, 0, 0, 1, 2, 3});
}

std::string OutcomeText(const FileReport& report)
{
    switch (report.Outcome) {
    case FileOutcome::Resized: return "resized";
    case FileOutcome::Skipped: return "skipped";
    case FileOutcome::Failed: return "failed " + std::to_string(report.ErrorCode);
    case FileOutcome::UpToDate:
    case FileOutcome::WouldResize: break;  // not in a folder run
    }
    return "?";
}

TEST_F(BatchTest, WorkersWriteExactlyWhatOneAtATimeWrites)
{
    int i = 0;
    for (const char* name : {"p0.bmp", "p1.bmp", "p2.bmp", "p3.bmp", "p4.bmp", "p5.bmp", "p6.bmp", "p7.bmp"})
        WriteBmp(dir / name, 20 + 7 * i, 9 + i), ++i;
    WriteBmp(dir / "x.bmp", 8, 4);
    WriteGif(dir / "x.gif", 6, 3);   // later in the listing: wins x.jpg
    WriteBrokenJpeg(dir / "m.jpg");  // in the middle of the listing
    WriteBmp(dir / "y.bmp", 10, 6);
    WriteBrokenGif(dir / "y.gif");  // fails: y.bmp's y.jpg stays
    kxtest::WriteFileBytes(dir / "notes.txt", {'n'});

    std::map<unsigned, std::map<std::string, std::string>> outcomes;
    for (const unsigned workers : {1u, 2u, 4u}) {
        SCOPED_TRACE(workers);
        std::mutex guard;
        BatchOptions options;
        options.Workers = workers;
        options.FileDone = [&](const FileReport& report) {
            std::lock_guard lock(guard);
            outcomes[workers][report.Name] = OutcomeText(report);
        };
        RunEnd end = RunEnd::Error;
        RunWithEngine({3, "0", "16", "0"}, &options, &end);
        EXPECT_EQ(end, RunEnd::Done);
        std::filesystem::rename(dir / "Resized", dir / ("Resized-" + std::to_string(workers)));
    }
    const std::map<std::string, std::string> expected = {
        {"m.jpg", "failed 1"}, {"notes.txt", "skipped"}, {"p0.bmp", "resized"}, {"p1.bmp", "resized"},
        {"p2.bmp", "resized"}, {"p3.bmp", "resized"},    {"p4.bmp", "resized"}, {"p5.bmp", "resized"},
        {"p6.bmp", "resized"}, {"p7.bmp", "resized"},    {"x.bmp", "resized"},  {"x.gif", "resized"},
        {"y.bmp", "resized"},  {"y.gif", "failed 1"}};
    EXPECT_EQ(outcomes[1], expected);
    EXPECT_EQ(outcomes[2], expected);
    EXPECT_EQ(outcomes[4], expected);

    const std::string one = dir / "Resized-1";
    const std::vector<std::string> names = ListOrdinaryFiles(one);
    EXPECT_EQ(names, (std::vector<std::string>{"p0.jpg", "p1.jpg", "p2.jpg", "p3.jpg", "p4.jpg", "p5.jpg",
                                               "p6.jpg", "p7.jpg", "x.jpg", "y.jpg"}));
    EXPECT_EQ(kxtest::DecodeJpegFile(one + "/x.jpg").height, 8);   // 6 x 3 to width 16
    EXPECT_EQ(kxtest::DecodeJpegFile(one + "/y.jpg").height, 10);  // 10 x 6 to width 16
    for (const char* many : {"Resized-2", "Resized-4"}) {
        EXPECT_EQ(ListOrdinaryFiles(dir / many), names) << many;
        for (const std::string& name : names)
            EXPECT_EQ(kxtest::ReadFileBytes(dir / many + "/" + name), kxtest::ReadFileBytes(one + "/" + name))
                << many << "/" << name;
    }
}

TEST_F(BatchTest, TheMeterStepsOncePerFileAsFilesFinish)
{
    for (const char* name : {"p0.bmp", "p1.bmp", "p2.bmp", "p3.bmp", "p4.bmp"}) WriteBmp(dir / name, 12, 8);
    kxtest::WriteFileBytes(dir / "a.txt", {1});
    kxtest::WriteFileBytes(dir / "z.txt", {1});
    BatchOptions options;
    options.Workers = 4;
    RunWithEngine({4, "4", "4", "0"}, &options);
    // 7 listed: step 676 (675.71); start, 7 steps, done, ready.
    ASSERT_EQ(shown.size(), 10u);
    for (int i = 0; i <= 7; ++i) EXPECT_EQ(shown[i], Meter(5360 - 676 * i, 160 + 676 * i, 676, "Working..."));
    EXPECT_EQ(shown[8], Meter(630, 4890, 676, "Done!"));
    EXPECT_EQ(shown[9], Meter(5360, 160, 676, "Ready!"));
    EXPECT_EQ(messages, std::vector<std::string>{done});
}

TEST_F(BatchTest, TheStopFlagLeavesFilesNotStartedAlone)
{
    for (const char* name : {"a.bmp", "b.bmp", "c.bmp", "d.bmp"}) WriteBmp(dir / name, 8, 8);
    std::atomic<bool> stop{false};
    std::vector<std::string> finished;
    BatchOptions options;
    options.Workers = 1;
    options.Stop = &stop;
    options.FileDone = [&](const FileReport& report) {
        finished.push_back(report.Name);
        if (finished.size() == 2) stop = true;
    };
    RunEnd end = RunEnd::Done;
    RunWithEngine({3, "0", "4", "0"}, &options, &end);
    EXPECT_EQ(end, RunEnd::Stopped);
    EXPECT_EQ(finished, (std::vector<std::string>{"a.bmp", "b.bmp"}));
    EXPECT_EQ(Outputs(), (std::vector<std::string>{"a.jpg", "b.jpg"}));
    EXPECT_TRUE(messages.empty());  // no "Done!"
    EXPECT_EQ(CurrentMeter(), Meter(2996, 2524, 1182, "Working..."));

    options.Workers = 4;  // raised before the run: nothing starts
    finished.clear();
    RunWithEngine({3, "0", "4", "0"}, &options, &end);
    EXPECT_EQ(end, RunEnd::Stopped);
    EXPECT_TRUE(finished.empty());
}

TEST(FolderExists, FoldersAndFilesButNotHiddenOrMissingNames)
{
    kxtest::TempDir dir;
    ASSERT_EQ(::mkdir((dir / "Resized").c_str(), 0777), 0);
    ASSERT_EQ(::mkdir((dir / ".cache").c_str(), 0777), 0);
    kxtest::WriteFileBytes(dir / "file", {1});
    EXPECT_TRUE(FolderExists(dir / "Resized"));
    EXPECT_TRUE(FolderExists(dir / "file"));
    EXPECT_FALSE(FolderExists(dir / ".cache"));
    EXPECT_FALSE(FolderExists(dir / "missing"));
    EXPECT_FALSE(FolderExists(dir / "Resized/"));
    EXPECT_FALSE(FolderExists(dir / "resized"));
}

TEST(ValidExtension, OnlyJpgBmpAndGifInAnyCase)
{
    for (const char* yes : {"jpg", "JPG", "Bmp", "gIF"}) EXPECT_TRUE(ValidExtension(yes)) << yes;
    for (const char* no : {"jpeg", "png", "tif", "", "jpg ", "bmp/x"}) EXPECT_FALSE(ValidExtension(no)) << no;
}
