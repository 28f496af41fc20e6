#pragma once

#include <QString>
#include <QVariant>

#include <functional>

// The page side of a live preview: where the controller loads its page and evaluates scripts.
// The web view implements it; tests use a fake whose completions they run by hand.
class PreviewHost
{
public:
    virtual ~PreviewHost() = default;

    // Loads the page through the page scheme (no size limit).
    virtual void loadPage(const QString &html) = 0;
    // Loads a small page by another route, for when the first load failed.
    virtual void loadFallbackPage(const QString &html) = 0;
    // Shows a short message in place of the page (which is not coming back for this document).
    virtual void showNotice(const QString &text) = 0;

    // Evaluates a script in the page's main world; scripts run in submission order.
    virtual void runScript(const QString &script) = 0;
    virtual void runScript(const QString &script, std::function<void(const QVariant &)> done) = 0;
};
