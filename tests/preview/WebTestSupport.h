#pragma once

#include "Velto/preview/PreviewController.h"

#include <QString>
#include <QVariant>

class MarkdownPageBuilder;
class PageSchemeHandler;
class QWebEnginePage;

namespace webtest {

// Evaluates a script in the page's main world and waits for its result.
QVariant evaluate(QWebEnginePage *page, const QString &script);

// Waits until the script's result is true (polling; for asynchronous work such as Mermaid).
bool waitForTrue(QWebEnginePage *page, const QString &script, int timeoutMs = 15000);

// The test process's page builder over the build's web folder, and its page handler (installed
// on first use, kept to the end of the process).
const MarkdownPageBuilder &pages();
PageSchemeHandler &pageHandler();

// The libraries of the build's web folder, minus the names given.
QStringList libraries(const QStringList &without = {});

// Sources with the application's renderer and pages, the build's libraries minus `without`,
// and the look taken from the given style (read at every swap).
PreviewController::Sources sources(const PreviewController::Style *style = nullptr,
                                   const QStringList &without = {});

} // namespace webtest
