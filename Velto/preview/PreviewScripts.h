#pragma once

#include <QString>

#include <optional>

// The script texts the preview and the PDF export evaluate in their pages. They test every
// library's global before calling it, so a page without some of the libraries still works.
namespace PreviewScripts {

// A JavaScript string literal that reads back as exactly the given text (also lone surrogates,
// U+2028 and U+2029). Never fails.
QString jsonStringLiteral(const QString &text);
// The same literal appended to `out`.
void appendJsonStringLiteral(QString &out, QStringView text);

// Sets the theme style text and re-runs highlighting, mathematics and diagrams on the whole body
// at once (what a page without the drawing runtime does).
QString redrawPiece();

// Swaps the body, sets the width and the theme's extra style, and scrolls to the line; the
// blocks are highlighted, typeset and drawn as they come near the view. With scrollLine empty the
// scroll call is left out. With blockCount given, the page remembers the body's top-level nodes
// as that many blocks for later patches (if it has that many). The script's value is "busy" while
// the visible part is still being drawn, else "done".
QString updateScript(const QString &bodyHTML, bool wideMode, const QString &extraCSS,
                     std::optional<int> scrollLine, std::optional<int> blockCount = std::nullopt);

// A new body given as its blocks (a JSON array of HTML strings, with a JSON array of their first
// lines), put in in slices that yield to input: the slice holding block focusBlock first, the
// others nearest first, in their places estimated until they are in. The page remembers the
// blocks for patches if it ends up with blockCount of them. Value as for updateScript.
QString fillScript(const QString &blocksJSON, const QString &linesJSON, int focusBlock,
                   int blockCount, bool wideMode, const QString &extraCSS,
                   std::optional<int> scrollLine);

// The first blocks of a new long body (a JSON array of HTML strings), shown at once while the
// rest is made, brought to the line; fillScript keeps them where its own first blocks are the
// same. No value.
QString headScript(const QString &blocksJSON, bool wideMode, const QString &extraCSS,
                   std::optional<int> scrollLine);

// Like updateScript, but turns the blocks the page holds into the new ones with the given
// operations (a JSON array: [from, count, lineDelta] keeps shown blocks, a string inserts a new
// block's HTML). Only inserted blocks are (later) highlighted, typeset and drawn. The script's
// value is "ok:" + the number of blocks sent (+ ":busy" while the visible part is being drawn),
// or "stale" when the page no longer holds those blocks.
QString patchScript(const QString &opsJSON, bool wideMode, const QString &extraCSS,
                    std::optional<int> scrollLine);

// Sets only the width and the theme's extra style, leaving the body as it is.
QString lookScript(bool wideMode, const QString &extraCSS);

// "busy" while the page is still putting in a body or drawing near its visible part, else "done".
QString busyScript();

// Run once after the libraries: initialises Mermaid, the page's drawing runtime and
// window._scrollToSourceLine.
// darkPage: the page is dark whatever the colour scheme says (a dark theme).
QString setupScript(bool darkPage = false);

QString scrollScript(int line);

// The redraw the PDF export runs after loading its page.
QString pdfPostRenderScript();

} // namespace PreviewScripts
