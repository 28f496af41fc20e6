#include "Velto/model/DocumentAnalysis.h"

#include "Velto/model/WorkspaceState.h"
#include "platform/LatestWorker.h"

#include <algorithm>
#include <utility>
#include <vector>

struct DocumentAnalysis::Lane
{
    Lane(QObject *receiver, Prepare prepare_)
        : prepare(std::move(prepare_))
        , worker(receiver)
    {
    }

    Prepare prepare;
    LatestWorker worker;
    quint64 preparedRevision = 0;
};

DocumentAnalysis &DocumentAnalysis::of(WorkspaceState &workspace)
{
    auto *analysis = workspace.findChild<DocumentAnalysis *>(QString(), Qt::FindDirectChildrenOnly);
    return analysis ? *analysis : *new DocumentAnalysis(workspace);
}

DocumentAnalysis::DocumentAnalysis(WorkspaceState &workspace)
    : QObject(&workspace)
    , m_workspace(&workspace)
    , m_current(std::make_shared<const TextAnalysis>(1, workspace.text()))
    , m_currentTextRevision(workspace.textRevision())
    , m_readyRevision(1)
    , m_newest(std::make_shared<Newest>())
{
    m_newest->analysis = m_current;
    connect(&workspace, &WorkspaceState::textChanged, this, &DocumentAnalysis::textChanged);
}

DocumentAnalysis::~DocumentAnalysis() = default;

bool DocumentAnalysis::isBusy() const
{
    return std::any_of(m_lanes.begin(), m_lanes.end(),
                       [](const auto &lane) { return lane.second->worker.isBusy(); });
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
    if (!prepare) {
        // Its worker goes without waiting for a part being made.
        m_lanes.erase(consumer);
        return;
    }
    std::unique_ptr<Lane> &lane = m_lanes[consumer];
    if (lane) {
        lane->prepare = std::move(prepare);
        return;
    }
    lane = std::make_unique<Lane>(this, std::move(prepare));
    if (m_current->text().size() >= backgroundParseSize) {
        // Ready so far only for the consumers there were.
        m_readyRevision = 0;
        prepareCurrent(consumer, *lane);
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
    m_current = std::make_shared<const TextAnalysis>(m_current->revision() + 1, m_workspace->text(),
                                                     std::move(base), shared);
    {
        std::lock_guard lock(m_newest->mutex);
        m_newest->analysis = m_current;
    }
    if (m_current->text().size() < backgroundParseSize || m_lanes.empty()) {
        m_readyRevision = m_current->revision();
        emit ready();
        return;
    }
    for (auto &[consumer, lane] : m_lanes)
        prepareCurrent(consumer, *lane);
}

void DocumentAnalysis::prepareCurrent(const QObject *consumer, Lane &lane)
{
    lane.worker.submit([this, consumer, target = &lane, analysis = m_current,
                        prepare = lane.prepare]() -> LatestWorker::Finish {
        // Only `analysis` is used here: the lane and this object may be gone by now.
        prepare(*analysis);
        return [this, consumer, target, analysis] { prepared(analysis, consumer, target); };
    });
}

void DocumentAnalysis::prepared(const std::shared_ptr<const TextAnalysis> &analysis,
                                const QObject *consumer, const Lane *lane)
{
    // The one place where an older revision's result is dropped: it is announced only while it
    // is the analysis of the workspace's text (and its consumer still wants it).
    const auto found = m_lanes.find(consumer);
    if (analysis != m_current || found == m_lanes.end() || found->second.get() != lane)
        return;
    found->second->preparedRevision = analysis->revision();
    if (std::all_of(m_lanes.begin(), m_lanes.end(), [&](const auto &other) {
            return other.second->preparedRevision == analysis->revision();
        }))
        m_readyRevision = analysis->revision();
    emit ready();
}
