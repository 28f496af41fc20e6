#include "core/markdown/TextAnalysis.h"

#include <algorithm>

namespace {
// The keys of the parse and of the layout among the parts.
const char parseKey = 0;
const char reparseKey = 0;
} // namespace

struct TextAnalysis::Reparse
{
    BlockLayout layout;
    std::optional<LocalReparse> local;
};

TextAnalysis::TextAnalysis(quint64 revision, const QString &text,
                           std::shared_ptr<const TextAnalysis> base, SharedEnds shared)
    : m_revision(revision)
    , m_text(text)
    , m_base(std::move(base))
    , m_shared(shared)
{
}

std::shared_ptr<const TextAnalysis> TextAnalysis::base() const
{
    std::lock_guard lock(m_mutex);
    return m_base;
}

void TextAnalysis::dropBase() const
{
    std::shared_ptr<const TextAnalysis> base;
    std::lock_guard lock(m_mutex);
    base.swap(m_base); // released after the lock
}

const TextAnalysis::Reparse &TextAnalysis::reparse() const
{
    const std::shared_ptr<const void> &part = derive(&reparseKey, [this] {
        auto made = std::make_shared<Reparse>();
        const std::shared_ptr<const TextAnalysis> earlier = base();
        if (earlier && earlier->hasLayout()) {
            made->local = LocalReparse::find(earlier->layout(), earlier->text(), m_text, m_shared);
            if (made->local)
                made->layout = made->local->splice(earlier->layout());
        }
        if (!made->local)
            made->layout = BlockLayout::of(document());
        return std::static_pointer_cast<const void>(
            std::shared_ptr<const Reparse>(std::move(made)));
    });
    return *static_cast<const Reparse *>(part.get());
}

const BlockLayout &TextAnalysis::layout() const
{
    return reparse().layout;
}

bool TextAnalysis::hasLayout() const
{
    return hasPart(&reparseKey);
}

bool TextAnalysis::hasPartsOf(const TextAnalysis &other) const
{
    std::vector<const void *> keys;
    {
        std::lock_guard lock(other.m_mutex);
        for (const auto &part : other.m_parts)
            keys.push_back(part.first);
    }
    std::lock_guard lock(m_mutex);
    return std::all_of(keys.begin(), keys.end(), [this](const void *key) {
        return key == &parseKey || m_parts.contains(key);
    });
}

const LocalReparse *TextAnalysis::localReparse() const
{
    const Reparse &made = reparse();
    return made.local ? &*made.local : nullptr;
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

std::shared_ptr<const void> TextAnalysis::madePart(const void *key) const
{
    std::unique_lock lock(m_mutex);
    for (;;) {
        if (const auto found = m_parts.find(key); found != m_parts.end())
            return found->second;
        if (!m_making.contains(key))
            return nullptr;
        m_made.wait(lock);
    }
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
