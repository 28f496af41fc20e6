#pragma once

#include "core/markdown/TextAnalysis.h"

#include <QObject>
#include <QPointer>

#include <functional>
#include <memory>
#include <mutex>
#include <utility>
#include <vector>

class LatestWorker;
class WorkspaceState;

// The analysis of a workspace's text: one TextAnalysis per revision, shared by every view of the
// workspace (editor styles, outline, status bar counts, preview). This is where a result of an
// older revision is told apart from the current one, for all of them: ready() is emitted only for
// the revision the workspace holds when it is, so a consumer that takes current() on ready()
// never shows the results of an older text.
//
// A short text's analysis is ready at once (its parts are made by whoever asks first, on the GUI
// thread). For a text of backgroundParseSize and more, the parts its consumers prepare are made
// on the background pool by one newest-only job per revision (the parts share the parse), and
// ready() follows once they all are. A consumer that asks while parts are being made checks that
// its part is made (has()).
class DocumentAnalysis : public QObject
{
    Q_OBJECT

public:
    using Prepare = std::function<void(const TextAnalysis &)>;

    // The workspace's analysis, made on first use; it lives as long as the workspace.
    static DocumentAnalysis &of(WorkspaceState &workspace);
    ~DocumentAnalysis() override;

    // The analysis of the workspace's text now.
    std::shared_ptr<const TextAnalysis> current() const { return m_current; }
    // Whether current() has all parts prepared (always for a short text).
    bool isReady() const { return m_readyRevision == m_current->revision(); }
    // True while parts of a long text are being made; ready() follows unless the text changes.
    bool isBusy() const;

    // Finds, from any thread and also once the workspace is gone, the newest analysis when it
    // is one of `text`.
    using Lookup = std::function<std::shared_ptr<const TextAnalysis>(const QString &text)>;
    Lookup lookup() const;

    // What `consumer` needs made off the GUI thread for a long text; an empty function withdraws
    // it. Asked while the current text is long, it is made for that text too.
    void setPreparation(const QObject *consumer, Prepare prepare);

signals:
    void ready();

private:
    explicit DocumentAnalysis(WorkspaceState &workspace);
    void textChanged();
    void prepareCurrent();
    void prepared(const std::shared_ptr<const TextAnalysis> &analysis);

    QPointer<WorkspaceState> m_workspace;
    std::shared_ptr<const TextAnalysis> m_current;
    quint64 m_currentTextRevision = 0; // the workspace's textRevision() of m_current's text
    quint64 m_readyRevision = 0;
    // In the order asked for, which is the order the parts are made in.
    std::vector<std::pair<const QObject *, Prepare>> m_preparations;
    std::unique_ptr<LatestWorker> m_worker;
    struct Newest
    {
        std::mutex mutex;
        std::shared_ptr<const TextAnalysis> analysis;
    };
    const std::shared_ptr<Newest> m_newest; // for lookup()
};
