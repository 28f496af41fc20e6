#include "TestSupport.h"

#include <QApplication>
#include <QStandardPaths>

#include <gtest/gtest.h>

#include <vector>

namespace testsupport {
std::vector<void (*)()> &beforeApplicationHooks();
}

int main(int argc, char **argv)
{
    // Headless whatever the caller's environment; nothing a test does may reach the user's files.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    if (qEnvironmentVariableIsEmpty("QTWEBENGINE_DISABLE_SANDBOX"))
        qputenv("QTWEBENGINE_DISABLE_SANDBOX", "1");
    if (qEnvironmentVariableIsEmpty("QTWEBENGINE_CHROMIUM_FLAGS"))
        qputenv("QTWEBENGINE_CHROMIUM_FLAGS", "--disable-gpu");
    QStandardPaths::setTestModeEnabled(true);
    ::testing::InitGoogleTest(&argc, argv);
    for (auto hook : testsupport::beforeApplicationHooks())
        hook();
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("VeltoTests"));
    return RUN_ALL_TESTS();
}
