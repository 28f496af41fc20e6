#pragma once

#include "core/markdown/MarkdownDocument.h"

#include <QString>

#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <set>

// From this length on (UTF-16 units) a text that is being edited is parsed, and what is derived
// from its parse is made, on the background pool; a shorter text parses in a few milliseconds.
inline constexpr qsizetype backgroundParseSize = 32 * 1024;

// One revision of a text and everything derived from it: its parse, and whatever the views make
// of it (styles, outline, counts, preview blocks). Each is made once, by the first thread that
// asks for it; a thread asking for what another one is making right now waits for it instead of
// making it again. Nothing here changes after it is made, so every reader of the revision sees
// the same results, which are those of a fresh parse of the text.
//
//     const HighlightRuns &runs = analysis.derived(&styleRunsOf);
class TextAnalysis
{
public:
    TextAnalysis(quint64 revision, const QString &text);
    ~TextAnalysis();
    TextAnalysis(const TextAnalysis &) = delete;
    TextAnalysis &operator=(const TextAnalysis &) = delete;

    // Counts up with every change of the text the analysis stands for (per workspace).
    quint64 revision() const { return m_revision; }
    const QString &text() const { return m_text; }
    // True when this is an analysis of exactly `text`.
    bool isOf(const QString &text) const;

    // The parse of text(), made on first use.
    const MarkdownDocument &document() const { return *sharedDocument(); }
    std::shared_ptr<const MarkdownDocument> sharedDocument() const;

    // What `make` derives from this revision, made on first use; `make` is its key.
    template<typename T> const T &derived(T (*make)(const TextAnalysis &)) const
    {
        const std::shared_ptr<const void> &part = derive(reinterpret_cast<const void *>(make), [&] {
            return std::static_pointer_cast<const void>(std::make_shared<const T>(make(*this)));
        });
        return *static_cast<const T *>(part.get());
    }
    // Whether `make`'s part is made already (it then costs nothing to ask for it).
    template<typename T> bool has(T (*make)(const TextAnalysis &)) const
    {
        return hasPart(reinterpret_cast<const void *>(make));
    }

private:
    const std::shared_ptr<const void> &
    derive(const void *key, const std::function<std::shared_ptr<const void>()> &make) const;
    bool hasPart(const void *key) const;

    const quint64 m_revision;
    const QString m_text;
    mutable std::mutex m_mutex;
    mutable std::condition_variable m_made;
    mutable std::map<const void *, std::shared_ptr<const void>> m_parts;
    mutable std::set<const void *> m_making;
};
