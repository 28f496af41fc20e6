#include "Velto/shell/StatusBarView.h"

#include "Velto/model/DocumentAnalysis.h"
#include "Velto/model/WorkspaceState.h"
#include "Velto/shell/ShellStyle.h"
#include "Velto/sync/MacSyncAdapter.h"
#include "core/model/TextMetrics.h"
#include "core/sync/SyncState.h"
#include "platform/L10n.h"

#include <QFileInfo>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>

using namespace ShellStyle;

namespace {

constexpr auto countsOf = &WorkspaceState::countsOf;

} // namespace

StatusBarView::StatusBarView(WorkspaceState &workspace, MacSyncAdapter &syncAdapter,
                             QWidget *parent)
    : QWidget(parent)
    , m_workspace(workspace)
    , m_syncState(syncAdapter.state())
{
    setAutoFillBackground(false);
    // paintEvent covers the whole bar: a count that changes with every keystroke repaints only
    // the bar, not every widget behind it up to the window.
    setAttribute(Qt::WA_OpaquePaintEvent);
    setFont(ShellStyle::font(TextStyle::caption));
    QPalette pal = palette();
    pal.setColor(QPalette::WindowText, foreground(Foreground::secondary, pal));
    setPalette(pal);

    auto *layout = new QHBoxLayout(this);
    layout->setContentsMargins(12, 4, 12, 4);
    layout->setSpacing(16);
    m_words = new QLabel(this);
    m_chars = new QLabel(this);
    m_readingTime = new QLabel(this);
    layout->addWidget(m_words);
    layout->addWidget(m_chars);
    layout->addWidget(m_readingTime);
    layout->addStretch(1);

    m_syncIndicator = new QWidget(this);
    auto *syncLayout = new QHBoxLayout(m_syncIndicator);
    syncLayout->setContentsMargins(0, 0, 0, 0);
    syncLayout->setSpacing(4);
    m_syncDot = new StatusDot(6, m_syncIndicator);
    auto *syncText = new QLabel(L10n::text(QStringLiteral("Sync")), m_syncIndicator);
    syncText->setFont(ShellStyle::font(TextStyle::caption2));
    QPalette tertiary = syncText->palette();
    tertiary.setColor(QPalette::WindowText, foreground(Foreground::tertiary, palette()));
    syncText->setPalette(tertiary);
    syncLayout->addWidget(m_syncDot, 0, Qt::AlignVCenter);
    syncLayout->addWidget(syncText);
    layout->addWidget(m_syncIndicator);

    m_fileName = new QLabel(this);
    layout->addWidget(m_fileName);

    m_analysis = &DocumentAnalysis::of(workspace);
    m_analysis->setPreparation(this,
                               [](const TextAnalysis &analysis) { analysis.derived(countsOf); });
    connect(m_analysis, &DocumentAnalysis::ready, this, &StatusBarView::recount);
    connect(&workspace, &WorkspaceState::selectedFileURLChanged, this,
            &StatusBarView::refreshFileName);
    connect(&m_syncState, &SyncState::isPairedChanged, this, &StatusBarView::refreshSync);
    connect(&m_syncState, &SyncState::connectionStatusChanged, this, &StatusBarView::refreshSync);
    recount();
    refreshSync();
    refreshFileName();
}

StatusBarView::~StatusBarView()
{
    if (m_analysis)
        m_analysis->setPreparation(this, {});
}

void StatusBarView::recount()
{
    // A long text's counts come with ready(); until then the last ones stay.
    if (!m_analysis)
        return;
    const std::shared_ptr<const TextAnalysis> analysis = m_analysis->current();
    if (analysis->text().size() < backgroundParseSize || analysis->has(countsOf))
        showCounts(analysis->derived(countsOf));
}

bool StatusBarView::isCounting() const
{
    return m_analysis && (m_analysis->isBusy() || !m_analysis->current()->has(countsOf));
}

namespace {

// A label whose size follows its text makes every layout above it, up to the window with the
// editor and the preview, lay itself out again; while typing in a long text the counts change
// with nearly every keystroke. So a count label is held at a fixed size that only ever grows.
void setCountText(QLabel *label, const QString &text)
{
    label->setText(text);
    const QSize hint = label->sizeHint();
    if (label->minimumWidth() != label->maximumWidth() || hint.width() > label->maximumWidth()
        || hint.height() != label->maximumHeight())
        label->setFixedSize(hint);
}

} // namespace

void StatusBarView::showCounts(const WorkspaceState::TextCounts &counts)
{
    setCountText(m_words, L10n::format(QStringLiteral("status.words"), {qint64(counts.words)}));
    setCountText(m_chars,
                 L10n::format(QStringLiteral("status.chars"), {qint64(counts.characters)}));
    setCountText(m_readingTime, TextMetrics::readingTime(counts.words));
}

QColor StatusBarView::syncDotColor() const
{
    switch (m_syncState.connectionStatus().kind) {
    case SyncState::ConnectionStatus::Kind::disconnected:
    case SyncState::ConnectionStatus::Kind::pairing:
        return Colors::gray;
    case SyncState::ConnectionStatus::Kind::connecting:
    case SyncState::ConnectionStatus::Kind::syncing:
        return Colors::orange;
    case SyncState::ConnectionStatus::Kind::connected:
        return Colors::green;
    case SyncState::ConnectionStatus::Kind::error:
        return Colors::red;
    }
    return Colors::gray;
}

void StatusBarView::refreshSync()
{
    m_syncDot->setColor(syncDotColor());
    m_syncIndicator->setVisible(m_syncState.isPaired());
}

void StatusBarView::refreshFileName()
{
    const auto url = m_workspace.selectedFileURL();
    m_fileName->setVisible(url.has_value());
    m_fileName->setText(url ? QFileInfo(url->path()).fileName() : QString());
}

void StatusBarView::paintEvent(QPaintEvent *event)
{
    // The bar's own background with a hairline above it.
    QPainter painter(this);
    painter.fillRect(rect(), palette().color(QPalette::Window));
    QColor line = palette().color(QPalette::Mid);
    painter.fillRect(QRect(0, 0, width(), 1), line);
    QWidget::paintEvent(event);
}
