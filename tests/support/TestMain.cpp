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
    // What the last test left running or to the event loop (background jobs and the results they
    // post, deferred deletes, coroutines resumed from it) ends before the application goes, so
    // leak checks report only what is really lost.
    background::pool().waitForDone();
    for (int round = 0; round < 4; ++round) {
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QCoreApplication::processEvents();
    }
    return result;
}
