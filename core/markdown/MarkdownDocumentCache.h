#pragma once

#include "core/markdown/MarkdownDocument.h"

#include <QMutex>

#include <memory>

// Hands out the most recent parse while the text is unchanged, so the consumers of one keystroke
// (highlighter, preview, outline, status bar) parse the text once between them. Results are those
// of a fresh parse: a parse is reused only for an identical text.
class MarkdownDocumentCache
{
public:
    MarkdownDocumentCache() = default;
    static MarkdownDocumentCache &shared();

    std::shared_ptr<const MarkdownDocument> document(const QString &text);
    void clear();

private:
    QMutex m_mutex;
    std::shared_ptr<const MarkdownDocument> m_last;
};
