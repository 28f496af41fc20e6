#pragma once

#include "Velto/preview/PreviewController.h"
#include "Velto/preview/PreviewHost.h"

#include <QStringList>

#include <functional>
#include <vector>

// Records what the controller asks of its page; the test completes scripts by hand.
struct FakePreviewHost : PreviewHost
{
    struct Call
    {
        QString script;
        std::function<void(const QVariant &)> done; // empty for scripts without completion
    };

    QStringList pages;
    QStringList fallbackPages;
    QStringList notices;
    std::vector<Call> calls;

    void loadPage(const QString &html) override { pages << html; }
    void loadFallbackPage(const QString &html) override { fallbackPages << html; }
    void showNotice(const QString &text) override { notices << text; }
    void runScript(const QString &script) override { calls.push_back({script, {}}); }
    void runScript(const QString &script, std::function<void(const QVariant &)> done) override
    {
        calls.push_back({script, std::move(done)});
    }

    // Completes the oldest script that still waits for its completion.
    bool completeNext(const QVariant &result = {})
    {
        for (auto &call : calls) {
            if (call.done) {
                auto done = std::move(call.done);
                call.done = nullptr;
                done(result);
                return true;
            }
        }
        return false;
    }
    int waiting() const
    {
        int n = 0;
        for (const auto &call : calls)
            n += call.done ? 1 : 0;
        return n;
    }
    QStringList scriptsContaining(const QString &fragment) const
    {
        QStringList out;
        for (const auto &call : calls)
            if (call.script.contains(fragment))
                out << call.script;
        return out;
    }
};
