#include "WindowDriver.h"

#include <QApplication>
#include <memory>

namespace {

// Made before the first test and gone after the last, before Qt's statics.
class Application : public testing::Environment {
public:
    void SetUp() override
    {
        if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
        app_ = std::make_unique<QApplication>(argc_, argv_);
    }
    void TearDown() override { app_.reset(); }
    int argc_ = 1;
    char name_[5] = "test";
    char* argv_[2] = {name_, nullptr};
    std::unique_ptr<QApplication> app_;
};
testing::Environment* const kApplication = testing::AddGlobalTestEnvironment(new Application);

}  // namespace
