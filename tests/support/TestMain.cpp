#include "TestSupport.h"

#include "platform/BackgroundPool.h"

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
    const int result = RUN_ALL_TESTS();
    // What the last test left running or queued (background jobs and the results they post) is
    // ended and dropped, not delivered, before the application goes: its receivers and the
    // objects it would resume into are gone, and leak checks see it freed.
    background::pool().waitForDone();
    QCoreApplication::removePostedEvents(nullptr);
    return result;
}
