#include <QApplication>
#include <QLocale>

#include <gtest/gtest.h>

int main(int argc, char* argv[])
{
    // ctest sets the offscreen platform; running the executable by hand
    // should not need a display either.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QLocale::setDefault(QLocale::c());
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
