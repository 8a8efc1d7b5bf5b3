// The "Resize pictures" window driven by keys and clicks over the real
// engine, on copies of two pictures in a folder of their own.
#include <QSignalSpy>
#include <QTest>
#include <semaphore>
#include <thread>

#include "common/modImageInfo.h"
#include "frontend/frmResize.h"
#include "tests/support/PhotoFixtures.h"
#include "tests/support/TestSupport.h"
#include "tests/support/WindowDriver.h"

using namespace folvane;

namespace {

std::pair<int, int> SizeOf(const std::string& path)
{
    const kx::ImageInfo info = kx::GetImageInfo(path);
    return {info.Width, info.Height};
}

// Holds each picture until the test lets it go.
class GatedEngine : public kx::batch::Engine {
public:
    bool Resize(kx::batch::Method method, const std::string& in, const std::string& out,
                const kx::batch::Sizes& sizes, int32_t quality) override
    {
        ++arrived;
        gate.acquire();
        return inner->Resize(method, in, out, sizes, quality);
    }
    std::atomic<int> arrived{0};
    std::counting_semaphore<> gate{0};
    kx::batch::Engine* inner = nullptr;
};

class ResizeWindow : public testing::Test {
protected:
    ResizeWindow()
    {
        qputenv("XDG_DATA_HOME", QByteArray::fromStdString(dir / "data"));  // the test's own trash
        for (const char* name : {"a.jpg", "b.jpg"})
            kxtest::WriteFileBytes(dir / name, kxtest::JpegOf(kxtest::AsymmetricPicture(1000, 500)));
    }
    std::unique_ptr<frmResize> Open(kx::batch::Engine& engine, std::vector<std::string> files)
    {
        auto window = std::make_unique<frmResize>(std::move(files), engine, settings);
        window->show();
        return window;
    }
    std::unique_ptr<frmResize> Open() { return Open(engines, {dir / "a.jpg", dir / "b.jpg"}); }
    static void Choose(QComboBox* box, int index)
    {
        QTest::keyClick(box, Qt::Key_Home);
        for (int i = 0; i < index; ++i) QTest::keyClick(box, Qt::Key_Down);
    }
    static void Type(QSpinBox* box, int value)
    {
        box->setFocus();
        QTest::keyClick(box, Qt::Key_A, Qt::ControlModifier);
        QTest::keyClicks(box, QString::number(value));
    }
    // Presses Resize and waits until the run has ended.
    static void Run(frmResize& window)
    {
        QSignalSpy ended(&window, &frmResize::Finished);
        QTest::mouseClick(window.cmdResize, Qt::LeftButton);
        ASSERT_TRUE(ended.wait(60000));
    }

    kxtest::TempDir dir;
    QSettings settings{QString::fromStdString(dir / "settings.ini"), QSettings::IniFormat};
    std::optional<EngineLibrary> library = EngineLibrary::LoadFrom(KESTRIX_LIBRARY);
    FormatEngines engines{*library};
};

TEST_F(ResizeWindow, PresetsFillTheSizesAndChoicesAreRemembered)
{
    auto window = Open();
    const std::pair<int, int> shown[] = {{854, 480}, {1366, 768}, {1920, 1080}, {320, 568}, {1200, 800}};
    for (int index = 0; index < 5; ++index) {
        Choose(window->cboSize, index);
        EXPECT_EQ(std::pair(window->txtWidth->value(), window->txtHeight->value()), shown[index]) << index;
    }
    Choose(window->cboSize, 1);
    Type(window->txtWidth, 1000);
    Choose(window->cboSize, 0);
    EXPECT_EQ(window->txtWidth->value(), 854);
    Choose(window->cboSize, 1);
    EXPECT_TRUE(window->optFit->isChecked() && window->optBeside->isChecked());
    QTest::mouseClick(window->optFill, Qt::LeftButton);
    QTest::mouseClick(window->optSubFolder, Qt::LeftButton);
    QTest::keyClick(window.get(), Qt::Key_Escape);
    EXPECT_FALSE(window->isVisible());

    window = Open();
    EXPECT_EQ(window->cboSize->currentText(), "Medium");
    EXPECT_EQ(std::pair(window->txtWidth->value(), window->txtHeight->value()), std::pair(1000, 768));
    EXPECT_TRUE(window->optFill->isChecked() && window->optSubFolder->isChecked());
}

TEST_F(ResizeWindow, CopiesBesideOrInASubFolderNeverOverwriteAFile)
{
    const kxtest::Tree originals = kxtest::FilesBelow(dir.Path());
    struct Row {
        int size, width, height;  // cboSize's row, and the custom size
        QRadioButton *frmResize::*sizing, *frmResize::*placement;
        bool shrinkOnly;
        int format;           // cboFormat's row
        const char* written;  // %1 for the picture's name
        std::pair<int, int> sized;
    };
    const auto fit = &frmResize::optFit, fill = &frmResize::optFill, exact = &frmResize::optExact;
    const auto beside = &frmResize::optBeside, sub = &frmResize::optSubFolder;
    const Row rows[] = {
        {0, 0, 0, fit, beside, true, 0, "%1 (Small).jpg", {854, 427}},
        {4, 300, 300, fill, beside, true, 2, "%1 (300x300).png", {300, 300}},
        {4, 2000, 400, exact, beside, true, 3, "%1 (2000x400).webp", {1000, 400}},
        {4, 2000, 400, exact, beside, false, 3, "%1 (2000x400) 2.webp", {2000, 400}},
        {0, 0, 0, fit, beside, true, 1, "%1 (Small) 2.jpg", {854, 427}},
        {0, 0, 0, fit, sub, true, 1, "Resized/%1.jpg", {854, 427}},
        {0, 0, 0, fit, sub, true, 1, "Resized/%1 2.jpg", {854, 427}},
    };
    for (const Row& row : rows) {
        auto window = Open();
        Choose(window->cboSize, row.size);
        if (row.width) {
            Type(window->txtWidth, row.width);
            Type(window->txtHeight, row.height);
        }
        QTest::mouseClick((*window).*row.sizing, Qt::LeftButton);
        QTest::mouseClick((*window).*row.placement, Qt::LeftButton);
        if (window->chkShrinkOnly->isChecked() != row.shrinkOnly)
            QTest::keyClick(window->chkShrinkOnly, Qt::Key_Space);
        Choose(window->cboFormat, row.format);
        Run(*window);
        EXPECT_EQ(window->lblStatus->text(), "2 of 2 pictures resized.") << row.written;
        for (const char* picture : {"a", "b"})
            EXPECT_EQ(SizeOf(dir / QString(row.written).arg(picture).toStdString()), row.sized)
                << row.written;
    }
    for (const auto& [name, bytes] : originals) EXPECT_EQ(kxtest::ReadFileBytes(dir / name), bytes) << name;
}

TEST_F(ResizeWindow, ReplacingMovesTheOriginalsToTheTrash)
{
    auto window = Open();
    QTest::mouseClick(window->optReplace, Qt::LeftButton);
    Run(*window);
    if (window->lblStatus->text().contains("trash"))
        GTEST_SKIP() << "no trash here: " << window->lblStatus->text().toStdString();
    EXPECT_EQ(window->lblStatus->text(), "2 of 2 pictures resized.");
    EXPECT_EQ(dir.List(), (std::vector<std::string>{"a.jpg", "b.jpg", "data", "settings.ini"}));
    for (const char* name : {"a.jpg", "b.jpg"}) {
        EXPECT_EQ(SizeOf(dir / name), std::pair(854, 427));
        EXPECT_EQ(SizeOf(dir / "data/Trash/files/" + name), std::pair(1000, 500));
    }
}

TEST_F(ResizeWindow, StopStartsNoFurtherPicture)
{
    // More pictures than the run has workers, one per processor.
    const int workers = int(std::max(1u, std::thread::hardware_concurrency())), count = workers + 2;
    std::vector<std::string> files;
    for (int i = 0; i < count; ++i) {
        files.push_back(dir / ("p" + std::to_string(i) + ".jpg"));
        std::filesystem::copy_file(dir / "a.jpg", files.back());
    }
    GatedEngine gated;
    gated.inner = &engines;
    auto window = Open(gated, files);
    QSignalSpy ended(window.get(), &frmResize::Finished);
    QTest::mouseClick(window->cmdResize, Qt::LeftButton);
    EXPECT_EQ(window->cmdClose->text(), "&Stop");
    ASSERT_TRUE(QTest::qWaitFor([&] { return gated.arrived > 0; }, 60000));
    QTest::mouseClick(window->cmdClose, Qt::LeftButton);
    EXPECT_TRUE(window->isVisible());
    gated.gate.release(count);
    ASSERT_TRUE(ended.wait(60000));
    const int started = gated.arrived;
    EXPECT_LE(started, workers);
    EXPECT_EQ(window->lblStatus->text(),
              QString("Stopped: %1 of %2 pictures resized.").arg(started).arg(count));
    EXPECT_EQ(window->barProgress->value(), started);
    EXPECT_EQ(window->cmdClose->text(), "&Close");
}

}  // namespace
