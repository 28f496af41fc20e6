#pragma once

#include "Velto/api/DebugServer.h"
#include "Velto/model/AppSettings.h"
#include "core/ai/AISettings.h"
#include "platform/Defaults.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <memory>

namespace settingstest {

// Calls scheduled for later; the test runs them when it wants time to have passed.
struct FakeDelay
{
    struct Call
    {
        std::chrono::milliseconds delay;
        std::function<void()> call;
    };
    QList<Call> calls;
    std::function<void(std::chrono::milliseconds, std::function<void()>)> scheduler()
    {
        return [this](std::chrono::milliseconds delay, std::function<void()> call) {
            calls.append({delay, std::move(call)});
        };
    }
};

// Fresh settings, AI settings and API server over a temporary store.
class SettingsTest : public ::testing::Test
{
protected:
    void SetUp() override;
    void TearDown() override;

    // Removes the store's file, so a later write shows as the file coming back.
    void forgetStoreFile();
    bool storeWasWritten() const;
    // The status of GET /api/status with the token, from the server on the port.
    static int statusWithToken(quint16 port, const QString &token);

    QTemporaryDir tmp;
    std::unique_ptr<Defaults> defaults;
    std::unique_ptr<AppSettings> settings;
    std::unique_ptr<AISettings> ai;
    std::unique_ptr<DebugServer> server;
    FakeDelay delay;
};

} // namespace settingstest
