#pragma once

#include "Velto/api/ApiHttp.h"
#include "platform/Clock.h"

#include <QPointer>
#include <QString>
#include <QVariant>

#include <chrono>
#include <functional>
#include <memory>
#include <optional>

class ApiConnection;
class DebugServer;
class QWebEngineView;

// The preview endpoints: they run scripts in the page of the preview registered with the server
// and answer from the script's completion. Every script has a safety timeout, and a preview that
// goes away while a script runs answers the route's failure form, so no connection waits forever.
namespace previewendpoints {

struct Timings
{
    // Between replacing the document and probing the page in the live-update test.
    std::chrono::milliseconds liveUpdateDelay {1000};
    // Longest wait for a script's completion.
    std::chrono::milliseconds scriptTimeout {15000};
    // Waits out both; Qt timers unless the application's or a test's clock is handed in.
    std::shared_ptr<Clock> clock = std::make_shared<Clock>();
};

// Runs a script in the view's page (main world) and calls `done` once from the event loop: with
// the result, or with nothing when the view went away or the timeout passed.
void runScript(Clock &clock, QPointer<QWebEngineView> view, const QString &script,
               std::chrono::milliseconds timeout,
               std::function<void(std::optional<QVariant>)> done);

// The script that evaluates code from a request and reports its outcome as {k, v}: the code runs
// by indirect eval (global scope, completion value), inside try/catch so that an exception comes
// back as its message instead of as a lost result.
QString evalWrapper(const QString &code);
// The answer text of a wrapped evaluation: "Error: <message>", "undefined", or the value's text.
QString evalAnswer(const std::optional<QVariant> &result);
// The code of an eval target: what follows the first "=" of its last query piece, decoded when
// it decodes; nothing when the target carries no code.
std::optional<QString> evalCode(const QString &target);
// The dom answer: the first 5000 characters and the full size when longer.
QString truncatedDom(const QString &html);

void registerWith(DebugServer &server, Timings timings = {});

} // namespace previewendpoints
