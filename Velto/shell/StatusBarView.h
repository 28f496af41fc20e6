#pragma once

#include "Velto/model/WorkspaceState.h"
#include "core/markdown/TextAnalysis.h"

#include <QPointer>
#include <QWidget>

class DocumentAnalysis;
class MacSyncAdapter;
class QLabel;
class StatusDot;
class SyncState;

// The bar under the editor area: words, characters and reading time of the open document at the
// leading edge; the sync indicator (while paired) and the open file's name at the trailing edge.
// It has no actions and keeps nothing but what it shows.
class StatusBarView : public QWidget
{
    Q_OBJECT
public:
    StatusBarView(WorkspaceState &workspace, MacSyncAdapter &syncAdapter,
                  QWidget *parent = nullptr);
    ~StatusBarView() override;

    // Documents shorter than this are counted at once on every change; longer ones with the rest
    // of their analysis off the GUI thread, so typing in a large document never waits for it.
    static constexpr qsizetype synchronousCountLimit = backgroundParseSize;

    QLabel *wordsLabel() const { return m_words; }
    QLabel *charsLabel() const { return m_chars; }
    QLabel *readingTimeLabel() const { return m_readingTime; }
    QWidget *syncIndicator() const { return m_syncIndicator; }
    QLabel *fileNameLabel() const { return m_fileName; }
    // True while a long text is being counted.
    bool isCounting() const;
    // The colour of the sync dot for the current connection status.
    QColor syncDotColor() const;

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    void recount();
    void showCounts(const WorkspaceState::TextCounts &counts);
    void refreshSync();
    void refreshFileName();

    WorkspaceState &m_workspace;
    SyncState &m_syncState;
    QLabel *m_words;
    QLabel *m_chars;
    QLabel *m_readingTime;
    QWidget *m_syncIndicator;
    StatusDot *m_syncDot;
    QLabel *m_fileName;
    QPointer<DocumentAnalysis> m_analysis;
};
