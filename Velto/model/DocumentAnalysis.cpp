#include "Velto/model/DocumentAnalysis.h"

#include "Velto/model/WorkspaceState.h"
#include "platform/LatestWorker.h"

#include <vector>

DocumentAnalysis &DocumentAnalysis::of(WorkspaceState &workspace)
{
    auto *analysis = workspace.findChild<DocumentAnalysis *>(QString(), Qt::FindDirectChildrenOnly);
    return analysis ? *analysis : *new DocumentAnalysis(workspace);
}

DocumentAnalysis::DocumentAnalysis(WorkspaceState &workspace)
    : QObject(&workspace)
    , m_workspace(&workspace)
    , m_current(std::make_shared<const TextAnalysis>(1, workspace.text()))
    , m_readyRevision(1)
    , m_newest(std::make_shared<Newest>())
    , m_worker(std::make_unique<LatestWorker>(this))
{
    m_newest->analysis = m_current;
    connect(&workspace, &WorkspaceState::textChanged, this, &DocumentAnalysis::textChanged);
    if (m_current->text().size() >= backgroundParseSize) {
        m_readyRevision = 0;
        prepareCurrent();
    }
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
    if (!prepare) {
        m_preparations.erase(consumer);
        return;
    }
    const bool added = m_preparations.insert_or_assign(consumer, std::move(prepare)).second;
    if (added && m_current->text().size() >= backgroundParseSize)
        prepareCurrent();
}

void DocumentAnalysis::textChanged()
{
    if (!m_workspace || m_current->isOf(m_workspace->text()))
        return;
    m_current
        = std::make_shared<const TextAnalysis>(m_current->revision() + 1, m_workspace->text());
    {
        std::lock_guard lock(m_newest->mutex);
        m_newest->analysis = m_current;
    }
    if (m_current->text().size() < backgroundParseSize) {
        m_readyRevision = m_current->revision();
        emit ready();
        return;
    }
    prepareCurrent();
}

void DocumentAnalysis::prepareCurrent()
{
    std::vector<Prepare> preparations;
    for (const auto &[consumer, prepare] : m_preparations)
        preparations.push_back(prepare);
    m_worker->submit([analysis = m_current, preparations, this]() -> LatestWorker::Finish {
        for (const Prepare &prepare : preparations) {
            // A newer text has been handed in: its own job makes what is needed of it.
            if (LatestWorker::isSuperseded())
                return {};
            prepare(*analysis);
        }
        return [this, analysis] {
            // The one place where an older revision's result is dropped.
            if (analysis != m_current)
                return;
            m_readyRevision = analysis->revision();
            emit ready();
        };
    });
}
