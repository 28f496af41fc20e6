#include "Velto/model/DocumentAnalysis.h"

#include "Velto/model/WorkspaceState.h"
#include "platform/LatestWorker.h"

#include <algorithm>
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

void DocumentAnalysis::setPreparation(const QObject *consumer, Prepare prepare, int urgency)
{
    if (!prepare) {
        m_preparations.erase(consumer);
        return;
    }
    const bool added
        = m_preparations.insert_or_assign(consumer, std::pair(urgency, std::move(prepare))).second;
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
    std::vector<std::pair<int, Prepare>> preparations;
    for (const auto &[consumer, preparation] : m_preparations)
        preparations.push_back(preparation);
    std::stable_sort(preparations.begin(), preparations.end(),
                     [](const auto &a, const auto &b) { return a.first < b.first; });
    // The one place where an older revision's result is dropped: it is shown only while it is
    // the analysis of the workspace's text.
    auto made = [this](std::shared_ptr<const TextAnalysis> analysis, bool all) {
        return [this, analysis = std::move(analysis), all] {
            if (analysis != m_current)
                return;
            if (all)
                m_readyRevision = analysis->revision();
            emit ready();
        };
    };
    m_worker->submit([analysis = m_current, preparations, made]() -> LatestWorker::Finish {
        for (size_t i = 0; i < preparations.size(); ++i) {
            // A newer text has been handed in: its own job makes what is needed of it.
            if (LatestWorker::isSuperseded())
                return {};
            preparations[i].second(*analysis);
            if (i + 1 < preparations.size())
                LatestWorker::post(made(analysis, false));
        }
        return made(analysis, true);
    });
}
