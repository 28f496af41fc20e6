#pragma once

#include "core/markdown/MarkdownDocument.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <mutex>
#include <optional>

// Builds the preview and export pages around the rendered body, with the style sheets and
// scripts read from one folder of web assets. The theme style sheet (KaTeX fonts inlined as data
// addresses) and the script texts are built on first use and then kept: the first use fixes them
// for the builder's life, even if files appear later.
//
// The application's root owns one over the installed assets and hands it to the previews and
// exports; tests build their own over a folder of their choosing.
class MarkdownPageBuilder
{
public:
    explicit MarkdownPageBuilder(QString resourceDir);
    MarkdownPageBuilder(const MarkdownPageBuilder &) = delete;
    MarkdownPageBuilder &operator=(const MarkdownPageBuilder &) = delete;

    static const QStringList &katexFontNames();
    static const QStringList &previewScriptNames();
    // Fixed pieces of the pages.
    static QString pageHead(); // doctype to the opening of the theme style element
    static QString baseStyleBlock(); // closes the theme style, the base style, opens the body
    static QString pageTail(); // closes the body and the document
    static QString exportPostRender(); // the export page's script run after the libraries

    QString resourceDir() const { return m_resourceDir; }

    // A resource's text by file name with extension ("katex.min.js"); none when it is missing or
    // is not valid UTF-8. Only plain names inside the folder are looked up.
    std::optional<QString> loadResource(const QString &fileName) const;
    std::optional<QByteArray> loadResourceData(const QString &fileName) const;

    const QString &themeCSS() const;
    const QStringList &previewScripts() const;

    QString renderPage(const QString &markdown) const;
    QString renderPage(const MarkdownDocument &document) const;
    QString renderExportPage(const QString &markdown) const;
    QString renderExportPage(const MarkdownDocument &document) const;

private:
    QString pageAround(const QString &body) const;
    QString exportPageFrom(const QString &page) const;
    QString buildThemeCSS() const;
    QStringList readPreviewScripts() const;

    QString m_resourceDir;
    mutable std::once_flag m_themeOnce;
    mutable QString m_themeCSS;
    mutable std::once_flag m_scriptsOnce;
    mutable QStringList m_previewScripts;
};
