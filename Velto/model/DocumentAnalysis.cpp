#include "Velto/model/DocumentAnalysis.h"

#include "Velto/model/WorkspaceState.h"
#include "platform/LatestWorker.h"

#include <algorithm>
#include <utility>
#include <vector>

namespace {

// A long text's analysis holds megabytes in many pieces (styles, block layout, preview blocks).
// Whichever thread lets go of it last, it is taken apart on the background pool: on the window's
// thread that took milliseconds, every few keystrokes.
std::shared_ptr<const TextAnalysis> makeAnalysis(quint64 revision, const QString &text,
                                                 std::shared_ptr<const TextAnalysis> base = nullptr,
                                                 SharedEnds shared = {})
{
    auto *made = new TextAnalysis(revision, text, std::move(base), shared);
    if (text.size() < backgroundParseSize)
        return std::shared_ptr<const TextAnalysis>(made);
    return std::shared_ptr<const TextAnalysis>(made, [](const TextAnalysis *analysis) {
        destroyInBackground([owned = std::shared_ptr<const TextAnalysis>(analysis)] {});
    });
}

} // namespace

DocumentAnalysis &DocumentAnalysis::of(WorkspaceState &workspace)
{
    auto *analysis = workspace.findChild<DocumentAnalysis *>(QString(), Qt::FindDirectChildrenOnly);
    return analysis ? *analysis : *new DocumentAnalysis(workspace);
}

DocumentAnalysis::DocumentAnalysis(WorkspaceState &workspace)
    : QObject(&workspace)
    , m_workspace(&workspace)
    , m_current(makeAnalysis(1, workspace.text()))
    , m_currentTextRevision(workspace.textRevision())
    , m_readyRevision(1)
    , m_worker(std::make_unique<LatestWorker>(this))
    , m_newest(std::make_shared<Newest>())
{
    m_newest->analysis = m_current;
    connect(&workspace, &WorkspaceState::textChanged, this, &DocumentAnalysis::textChanged);
}

DocumentAnalysis::~DocumentAnalysis() = default;

bool DocumentAnalysis::isBusy() const
{
    return m_worker->isBusy();
}

DocumentAnalysis::Lookup DocumentAnalysis::lookup() const
{
    return [newest = m_newest](const QString &text) -> std::shared_ptr<const TextAnalysis> {
        std::lock_guard lock(newest->mutex);
        return newest->analysis && newest->analysis->isOf(text) ? newest->analysis : nullptr;
    };
}

void DocumentAnalysis::setPreparation(const QObject *consumer, Prepare prepare)
{
    const auto found = std::find_if(m_preparations.begin(), m_preparations.end(),
                                    [&](const auto &entry) { return entry.first == consumer; });
    if (!prepare) {
        // A job under way may still make its part; nothing waits for it.
        if (found != m_preparations.end())
            m_preparations.erase(found);
        return;
    }
    if (found != m_preparations.end()) {
        found->second = std::move(prepare);
        return;
    }
    m_preparations.emplace_back(consumer, std::move(prepare));
    if (m_current->text().size() >= backgroundParseSize) {
        // Ready so far only for the consumers there were; the parts made already are kept.
        m_readyRevision = 0;
        prepareCurrent();
    }
}

void DocumentAnalysis::textChanged()
{
    if (!m_workspace)
        return;
    const quint64 textRevision = std::exchange(m_currentTextRevision, m_workspace->textRevision());
    if (m_current->isOf(m_workspace->text()))
        return;
    const SharedEnds edit = m_workspace->sharedEndsSince(textRevision);
    // The next revision is made from the newest one that has every part its own base had (a
    // part its base lacks is made whole); one that never got that far passes its base on. A
    // base keeps no base of its own, so at most two revisions are held.
    std::shared_ptr<const TextAnalysis> base;
    SharedEnds shared;
    if (m_workspace->text().size() >= localReparseSize) {
        base = m_current->base();
        shared = m_current->sharedWithBase().then(edit);
        if (m_current->hasLayout() && (!base || m_current->hasPartsOf(*base))) {
            base = m_current;
            shared = edit;
        }
        if (base)
            base->dropBase();
    }
    m_current
        = makeAnalysis(m_current->revision() + 1, m_workspace->text(), std::move(base), shared);
    {
        std::lock_guard lock(m_newest->mutex);
        m_newest->analysis = m_current;
    }
    if (m_current->text().size() < backgroundParseSize || m_preparations.empty()) {
        m_readyRevision = m_current->revision();
        emit ready();
        return;
    }
    prepareCurrent();
}

void DocumentAnalysis::prepareCurrent()
{
    std::vector<Prepare> prepares;
    prepares.reserve(m_preparations.size());
    for (const auto &entry : m_preparations)
        prepares.push_back(entry.second);
    // One job makes every part: a part made from the revision before costs about as much as the
    // edit, less than handing each part to a thread of its own and back. A newer text stops it
    // between parts, so a part still being made holds up the next revision's at most.
    m_worker->submit(
        [this, analysis = m_current, prepares = std::move(prepares)]() -> LatestWorker::Finish {
            // Only `analysis` is used here: this object may be gone by now.
            for (const Prepare &prepare : prepares) {
                if (LatestWorker::isSuperseded())
                    return nullptr;
                prepare(*analysis);
            }
            return [this, analysis] { prepared(analysis); };
        });
}

void DocumentAnalysis::prepared(const std::shared_ptr<const TextAnalysis> &analysis)
{
    // The one place where an older revision's result is dropped: it is announced only while it
    // is the analysis of the workspace's text.
    if (analysis != m_current)
        return;
    m_readyRevision = analysis->revision();
    emit ready();
}
