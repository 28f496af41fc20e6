#include "core/markdown/MarkdownDocumentCache.h"

#include <QScopeGuard>

#include <algorithm>

MarkdownDocumentCache &MarkdownDocumentCache::shared()
{
    static auto *cache = new MarkdownDocumentCache;
    return *cache;
}

std::shared_ptr<const MarkdownDocument> MarkdownDocumentCache::findLocked(const QString &text) const
{
    for (auto it = m_recent.rbegin(); it != m_recent.rend(); ++it) {
        if ((*it)->isParseOf(text))
            return *it;
    }
    return nullptr;
}

void MarkdownDocumentCache::addLocked(std::shared_ptr<const MarkdownDocument> document)
{
    std::erase_if(m_recent, [&](const auto &kept) { return kept == document; });
    m_recent.push_back(std::move(document));
    if (m_recent.size() > kept)
        m_recent.erase(m_recent.begin());
}

std::shared_ptr<const MarkdownDocument> MarkdownDocumentCache::document(const QString &text)
{
    auto beingParsed = [this, &text] {
        return std::any_of(m_parsing.begin(), m_parsing.end(), [&text](const QString &other) {
            return other.size() == text.size()
                && (other.constData() == text.constData() || other == text);
        });
    };
    std::unique_lock lock(m_mutex);
    for (;;) {
        if (std::shared_ptr<const MarkdownDocument> found = findLocked(text))
            return found;
        if (!beingParsed())
            break;
        m_parsed.wait(lock);
    }
    m_parsing.push_back(text);
    lock.unlock();

    std::shared_ptr<const MarkdownDocument> parsed;
    // Whatever happens to the parse, the text is no longer being parsed and waiters look again.
    const auto done = qScopeGuard([&] {
        std::lock_guard relock(m_mutex);
        m_parsing.erase(std::find_if(m_parsing.begin(), m_parsing.end(), [&](const QString &t) {
            return t.constData() == text.constData();
        }));
        if (parsed)
            addLocked(parsed);
        m_parsed.notify_all();
    });
    parsed = MarkdownDocument::parse(text);
    return std::shared_ptr<const MarkdownDocument>(parsed); // a copy: the guard still needs it
}

std::shared_ptr<const MarkdownDocument> MarkdownDocumentCache::cached(const QString &text)
{
    std::lock_guard lock(m_mutex);
    return findLocked(text);
}

void MarkdownDocumentCache::add(std::shared_ptr<const MarkdownDocument> document)
{
    if (!document)
        return;
    std::lock_guard lock(m_mutex);
    addLocked(std::move(document));
}

void MarkdownDocumentCache::clear()
{
    std::lock_guard lock(m_mutex);
    m_recent.clear();
}
