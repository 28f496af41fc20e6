#include "core/markdown/TextAnalysis.h"

namespace {
// The key of the parse among the parts.
const char parseKey = 0;
} // namespace

TextAnalysis::TextAnalysis(quint64 revision, const QString &text)
    : m_revision(revision)
    , m_text(text)
{
}

TextAnalysis::~TextAnalysis() = default;

bool TextAnalysis::isOf(const QString &text) const
{
    return text.size() == m_text.size()
        && (text.constData() == m_text.constData() || text == m_text);
}

std::shared_ptr<const MarkdownDocument> TextAnalysis::sharedDocument() const
{
    const std::shared_ptr<const void> &part = derive(&parseKey, [this] {
        return std::static_pointer_cast<const void>(MarkdownDocument::parse(m_text));
    });
    return std::static_pointer_cast<const MarkdownDocument>(part);
}

bool TextAnalysis::hasPart(const void *key) const
{
    std::lock_guard lock(m_mutex);
    return m_parts.contains(key);
}

const std::shared_ptr<const void> &
TextAnalysis::derive(const void *key,
                     const std::function<std::shared_ptr<const void>()> &make) const
{
    std::unique_lock lock(m_mutex);
    for (;;) {
        if (const auto found = m_parts.find(key); found != m_parts.end())
            return found->second; // parts are never removed, so the reference stays valid
        if (!m_making.contains(key))
            break;
        m_made.wait(lock);
    }
    m_making.insert(key);
    lock.unlock();

    std::shared_ptr<const void> part;
    try {
        part = make();
    } catch (...) {
        // No longer being made: a waiter makes it itself.
        lock.lock();
        m_making.erase(key);
        m_made.notify_all();
        throw;
    }
    lock.lock();
    m_making.erase(key);
    const std::shared_ptr<const void> &stored = m_parts.emplace(key, std::move(part)).first->second;
    m_made.notify_all();
    return stored;
}
