// One QApplication for the whole run, on the offscreen platform unless the
// caller chose another.
#include <gtest/gtest.h>

#include <QApplication>

namespace {

class TQtEnvironment final : public ::testing::Environment {
public:
    void SetUp() override
    {
        if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
            qputenv("QT_QPA_PLATFORM", "offscreen");
        FApp = new QApplication(FArgc, FArgv);
    }
    void TearDown() override
    {
        delete FApp;
        FApp = nullptr;
    }

private:
    int FArgc = 1;
    char FName[12] = "vinsk_tests";
    char* FArgv[2] = {FName, nullptr};
    QApplication* FApp = nullptr;
};

[[maybe_unused]] ::testing::Environment* const Registered =
    ::testing::AddGlobalTestEnvironment(new TQtEnvironment);

} // namespace
