#include "core/markdown/MarkdownDocumentCache.h"

MarkdownDocumentCache &MarkdownDocumentCache::shared()
{
    static auto *cache = new MarkdownDocumentCache;
    return *cache;
}

std::shared_ptr<const MarkdownDocument> MarkdownDocumentCache::document(const QString &text)
{
    {
        QMutexLocker lock(&m_mutex);
        if (m_last && m_last->isParseOf(text))
            return m_last;
    }
    auto parsed = MarkdownDocument::parse(text);
    QMutexLocker lock(&m_mutex);
    m_last = parsed;
    return parsed;
}

void MarkdownDocumentCache::clear()
{
    QMutexLocker lock(&m_mutex);
    m_last.reset();
}
