#pragma once

#include "core/markdown/LocalReparse.h"
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
// From this length on a revision is analysed from the one before it where the edit allows.
inline constexpr qsizetype localReparseSize = 8 * 1024;

// One revision of a text and everything derived from it: its parse, and whatever the views make
// of it (styles, outline, counts, preview blocks). Each is made once, by the first thread that
// asks for it; a thread asking for what another one is making right now waits for it instead of
// making it again. Nothing here changes after it is made, so every reader of the revision sees
// the same results, which are those of a fresh parse of the text.
//
//     const HighlightRuns &runs = analysis.derived(&styleRunsOf);
//
// An analysis may be made from an earlier revision of the same text (its base). Then a part that
// knows how (the editor's styles, the outline) is made from the base's where the edit allows a
// local re-parse (localReparse()), by putting the re-parsed lines in the place of the old ones;
// the result is the same as from a parse of the whole text.
class TextAnalysis
{
public:
    // `shared`: what the text is known to share with the base's at its ends.
    TextAnalysis(quint64 revision, const QString &text,
                 std::shared_ptr<const TextAnalysis> base = nullptr, SharedEnds shared = {});
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

    // The earlier revision this one may be made from, while it is kept.
    std::shared_ptr<const TextAnalysis> base() const;
    // Lets the base go (with everything it holds); this revision's parts are then made whole.
    void dropBase() const;
    // What the text is known to share with the base's at its start and end.
    SharedEnds sharedWithBase() const { return m_shared; }
    // Where the top-level blocks start. Made from the base's where the edit allows, else from
    // document().
    const BlockLayout &layout() const;
    bool hasLayout() const;
    // Whether every part derived from `other` (not counting the parse) is made here too.
    bool hasPartsOf(const TextAnalysis &other) const;
    // The lines parsed again since base(); null when the text was parsed whole.
    const LocalReparse *localReparse() const;

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
    // `make`'s part when it is made (waiting for it while another thread makes it), else null.
    template<typename T> std::shared_ptr<const T> made(T (*make)(const TextAnalysis &)) const
    {
        return std::static_pointer_cast<const T>(madePart(reinterpret_cast<const void *>(make)));
    }

private:
    const std::shared_ptr<const void> &
    derive(const void *key, const std::function<std::shared_ptr<const void>()> &make) const;
    bool hasPart(const void *key) const;
    std::shared_ptr<const void> madePart(const void *key) const;
    struct Reparse;
    const Reparse &reparse() const;

    const quint64 m_revision;
    const QString m_text;
    mutable std::shared_ptr<const TextAnalysis> m_base;
    const SharedEnds m_shared;
    mutable std::mutex m_mutex;
    mutable std::condition_variable m_made;
    mutable std::map<const void *, std::shared_ptr<const void>> m_parts;
    mutable std::set<const void *> m_making;
};
