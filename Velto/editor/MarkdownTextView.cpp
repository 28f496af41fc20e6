#include "Velto/editor/MarkdownTextView.h"

#include "Velto/editor/EditorController.h"
#include "Velto/editor/FindBar.h"

#include <QEvent>
#include <QVBoxLayout>

MarkdownTextView::MarkdownTextView(WorkspaceState &workspace, AppSettings &settings,
                                   QWidget *parent)
    : QWidget(parent)
{
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    m_findBar = new FindBar(this);
    m_textView = new VeltoTextView(this);
    m_textView->setFrameShape(QFrame::NoFrame);
    m_textView->setFindBar(m_findBar);
    layout->addWidget(m_findBar);
    layout->addWidget(m_textView, 1);

    m_controller = new EditorController(workspace, settings, m_textView, this);
    connect(m_controller, &EditorController::scrollToLineChanged, this,
            &MarkdownTextView::scrollToLineChanged);

    m_textView->installEventFilter(this);
    m_textView->viewport()->installEventFilter(this);
    setFocusProxy(m_textView);
}

MarkdownTextView::~MarkdownTextView() = default;

void MarkdownTextView::setOnAIAction(VeltoTextView::AIActionHandler handler)
{
    m_textView->setOnAIAction(std::move(handler));
}

void MarkdownTextView::setOnCursorChange(std::function<void(qint64)> handler)
{
    m_controller->setOnCursorChange(std::move(handler));
}

void MarkdownTextView::setOnVisibleLineChange(std::function<void(qint64)> handler)
{
    m_controller->setOnVisibleLineChange(std::move(handler));
}

std::optional<qint64> MarkdownTextView::scrollToLine() const
{
    return m_controller->scrollToLine();
}

void MarkdownTextView::setScrollToLine(std::optional<qint64> line)
{
    m_controller->setScrollToLine(line);
}

bool MarkdownTextView::eventFilter(QObject *watched, QEvent *event)
{
    // An outside change still waiting for its sync is applied before the user's next edit, so the
    // edit lands in the text the user now sees.
    switch (event->type()) {
    case QEvent::KeyPress:
    case QEvent::ShortcutOverride:
    case QEvent::InputMethod:
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonDblClick:
    case QEvent::Drop:
    case QEvent::ContextMenu:
        if (m_controller->isSyncPending())
            m_controller->sync();
        break;
    default:
        break;
    }
    return QWidget::eventFilter(watched, event);
}

void MarkdownTextView::changeEvent(QEvent *event)
{
    // The standard theme takes its colours from the application palette (light or dark).
    if (event->type() == QEvent::PaletteChange && m_controller)
        m_controller->sync();
    QWidget::changeEvent(event);
}
