#pragma once

#include "Velto/editor/EditorTextMapping.h"
#include "core/highlight/HighlightStyle.h"
#include "core/highlight/RunShift.h"
#include "core/markdown/TextAnalysis.h"
#include "platform/PostOnce.h"
#include "platform/TextBuffers.h"

#include <QColor>
#include <QFont>
#include <QObject>
#include <QPointer>

#include <functional>
#include <memory>
#include <optional>

class AppSettings;
class DocumentAnalysis;
class LatestWorker;
class MarkdownHighlighter;
class QTextCursor;
class VeltoTextView;
class WorkspaceState;

// Keeps one editor text view in step with a window's workspace and the settings.
//
// The workspace text is authoritative. The view shows the copy made by EditorTextMapping (the
// workspace text itself while no line break is mapped, so the controller holds no second copy);
// every change of the view's document is mirrored into the workspace text by range, at once, and
// the whole text is restyled from one parse. While the view shows the workspace text as it is, the
// styles are those of the workspace's DocumentAnalysis, which the preview, outline and status
// bar share. Up to backgroundParseSize they are made at once, so a keystroke shows its styles
// before the next event is handled; in a longer text the styles move with the edits until the
// analysis of the newest text is ready (only ever those of the text the view holds by then).
// Changes from outside (a file opened, an AI answer, the API, another device), theme and font
// changes and the one-shot requests are applied by sync(), which runs queued after them, so a
// caller's writes that belong together (a new text, then its caret) arrive together.
//
// A text replaced from outside puts the caret at 0 (or at the workspace's restore request, once)
// and scrolls to the top. A change from another device (remoteEditGeneration moved) is applied
// in place instead, as the smallest replacement, so caret, selection and scroll stay.
class EditorController : public QObject
{
    Q_OBJECT

public:
    using PositionHandler = std::function<void(qint64)>;

    EditorController(WorkspaceState &workspace, AppSettings &settings, VeltoTextView *view,
                     QObject *parent = nullptr);
    ~EditorController() override;

    // Called with the caret (selection start, UTF-16 offset of the workspace text) whenever the
    // selection changes.
    void setOnCursorChange(PositionHandler handler) { m_onCursorChange = std::move(handler); }
    // Called with the 1-based source line at the top of the visible area when it changes.
    void setOnVisibleLineChange(PositionHandler handler)
    {
        m_onVisibleLineChange = std::move(handler);
    }

    // A one-shot request to scroll to a 1-based line; cleared once applied.
    std::optional<qint64> scrollToLine() const { return m_scrollToLine; }
    void setScrollToLine(std::optional<qint64> line);

    // Brings the view in step now. Runs by itself after every observed change; call it directly
    // only to flush (before user input, in tests).
    void sync();
    bool isSyncPending() const { return m_syncPost.isPending(); }

    // Offset of the start of a 1-based line: 0 for line 1, just after the (n−1)-th LF for n ≥ 2,
    // the text's length when there are fewer lines or n < 1.
    static qint64 lineStartOffset(qint64 line, QStringView text);
    // The 1-based source line of the paragraph at the top of the view.
    qint64 topLine() const;

    // Offset conversions between the workspace text and the view's document. Editor positions are
    // clamped to the document and never fall inside a Character.
    qint64 workspaceOffset(int editorPosition) const;
    int editorPosition(qint64 workspaceOffset) const;

    VeltoTextView *view() const { return m_view; }
    MarkdownHighlighter *highlighter() const { return m_highlighter; }
    const EditorTextMapping &mapping() const { return m_mapping; }
    // The workspace text the view currently stands for.
    const QString &mirroredText() const { return m_workspaceText; }
    qint64 lastReportedLine() const { return m_lastReportedLine; }
    // True when the styles shown come from a parse of the view's current text.
    bool isHighlightCurrent() const { return m_highlightCurrent; }

signals:
    void scrollToLineChanged();
    // The styles of a parse of the current text were applied.
    void highlightApplied();

private:
    friend struct EditorControllerTestAccess;

    // The view's document text, block breaks as LF.
    const QString &editorText() const
    {
        return m_mapping.isIdentity() ? m_workspaceText : m_editorText;
    }
    void onContentsChange(int position, int removed, int added);
    void onWorkspaceTextChanged();
    void scheduleSync();
    void replaceText(const QString &text);
    void applyRemoteEdit(const QString &text);
    void applyTheme(const QColor &text, const QColor &background);
    void placeCaret(int position);
    HighlightRuns computeRuns();
    // The styles of the view's text when it differs from the workspace text (`softBreaks` its
    // soft breaks), from a parse of its own.
    static HighlightRuns runsFor(const QString &editorText, const std::vector<qint64> &softBreaks);
    // The workspace's analysis when it stands for the text the view shows, else none.
    std::shared_ptr<const TextAnalysis> sharedAnalysis() const;
    void analysisReady();
    void updatePreparation();
    // Marks the document's block break at `at` as a soft break (SoftBreaks.h).
    static void markSoftBreak(QTextCursor &cursor, qint64 at);
    // Offsets in the document's text [from, from + inserted) of block breaks that are soft.
    std::vector<qsizetype> softBreaksIn(qsizetype from, QStringView inserted) const;
    TextEditSpan editSpan(qsizetype from, QStringView removed, QStringView inserted) const;
    TextEditSpan appliedSpan(int position, int added, int length) const;
    void requestHighlight();
    void highlightLanded(quint64 revision, HighlightRuns runs);
    QString documentText(int from, int to) const;
    void reportCursor();
    void reportVisibleLine();

    QPointer<WorkspaceState> m_workspace;
    AppSettings &m_settings;
    QPointer<VeltoTextView> m_view;
    MarkdownHighlighter *m_highlighter = nullptr;

    EditorTextMapping m_mapping;
    QString m_workspaceText; // what the view stands for
    TextBuffers m_textBuffers; // where a shared m_workspaceText is copied to when it changes
    // The view's document text, block breaks as LF, where it differs from m_workspaceText (line
    // breaks mapped); empty while the mapping is the identity.
    QString m_editorText;

    PositionHandler m_onCursorChange;
    PositionHandler m_onVisibleLineChange;
    std::optional<qint64> m_scrollToLine;

    std::optional<QFont> m_lastFont;
    std::optional<QString> m_lastThemeID;
    QColor m_lastText;
    QColor m_lastBackground;
    qint64 m_lastRemoteGeneration = 0;
    qint64 m_lastReportedLine = 0;

    PostOnce m_syncPost {this, [this] { sync(); }};
    bool m_applying = false; // the controller itself is changing the document
    bool m_pushing = false; // the controller itself is writing the workspace text
    bool m_externalPending = false; // the workspace text changed and sync() has not run yet
    int m_highlightCount = 0; // full restyles from a fresh parse
    bool m_highlightCurrent = false;
    bool m_replacing = false; // the whole text is being replaced: styled at once
    bool m_marking = false; // soft breaks are being marked: the text stays as it is
    quint64 m_revision = 0; // of the view's text, raised by every change
    int m_styledBlocks = 0; // the document's blocks when it was last restyled
    int m_styledLength = 0;
    QPointer<DocumentAnalysis> m_analysis;
    bool m_preparing = false; // the analysis makes the view's styles for long texts
    std::unique_ptr<LatestWorker> m_worker; // styles a view text that is not the workspace's
};
