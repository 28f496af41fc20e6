#pragma once

#include "core/markdown/MarkdownDocument.h"

#include <condition_variable>
#include <memory>
#include <mutex>
#include <vector>

// From this length on (UTF-16 units) a text that is being edited is parsed, and what is derived
// from its parse is made, on worker threads; a shorter text parses in a few milliseconds.
inline constexpr qsizetype backgroundParseSize = 32 * 1024;

// Hands out the most recent parses while their texts are unchanged, so the consumers of one
// revision (highlighter, preview, outline, status bar) parse the text once between them, on
// whichever thread asks first. A thread asking for a text another thread is parsing right now
// waits for that parse instead of starting its own. Results are those of a fresh parse: a parse
// is reused only for an identical text.
class MarkdownDocumentCache
{
public:
    MarkdownDocumentCache() = default;
    static MarkdownDocumentCache &shared();

    std::shared_ptr<const MarkdownDocument> document(const QString &text);
    // The parse of `text` if one is at hand; never parses or waits.
    std::shared_ptr<const MarkdownDocument> cached(const QString &text);
    // Offers a parse made elsewhere to later askers.
    void add(std::shared_ptr<const MarkdownDocument> document);
    void clear();

private:
    std::shared_ptr<const MarkdownDocument> findLocked(const QString &text) const;
    void addLocked(std::shared_ptr<const MarkdownDocument> document);

    // The tree of a long text takes many times the text's size; askers of an older text than the
    // newest parsed one are rare, since a parse being made is waited for.
    static constexpr size_t kept = 1;

    std::mutex m_mutex;
    std::condition_variable m_parsed;
    std::vector<std::shared_ptr<const MarkdownDocument>> m_recent;
    std::vector<QString> m_parsing; // texts being parsed right now
};
