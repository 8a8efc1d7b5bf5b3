#include "tests/support/WindowDriver.h"

#include <QApplication>
#include <memory>

namespace {

// Made before the first test and gone after the last, before Qt's statics.
class Application : public testing::Environment {
public:
    void SetUp() override
    {
        if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
        static int argc = 1;
        static char name[] = "test", *argv[] = {name, nullptr};
        app_ = std::make_unique<QApplication>(argc, argv);
    }
    void TearDown() override { app_.reset(); }
    std::unique_ptr<QApplication> app_;
};
testing::Environment* const kApplication = testing::AddGlobalTestEnvironment(new Application);

}  // namespace
