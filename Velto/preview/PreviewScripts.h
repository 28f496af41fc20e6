#pragma once

#include <QString>

#include <optional>

// The script texts the preview and the PDF export evaluate in their pages. They test every
// library's global before calling it, so a page without some of the libraries still works.
namespace PreviewScripts {

// A JavaScript string literal that reads back as exactly the given text (also lone surrogates,
// U+2028 and U+2029). Never fails.
QString jsonStringLiteral(const QString &text);

// Closes the theme style text and re-runs highlighting, mathematics and diagrams on the body.
QString redrawPiece();

// Swaps the body, sets the width and the theme's extra style, redraws, and scrolls to the line.
// With scrollLine empty the scroll call is left out.
QString updateScript(const QString &bodyHTML, bool wideMode, const QString &extraCSS,
                     std::optional<int> scrollLine);

// Run once after the libraries: initialises Mermaid and defines window._scrollToSourceLine.
QString setupScript();

QString scrollScript(int line);

// The redraw the PDF export runs after loading its page.
QString pdfPostRenderScript();

} // namespace PreviewScripts
