#include "Velto/shell/SidebarView.h"

#include "Velto/model/WorkspaceState.h"
#include "Velto/shell/ShellStyle.h"
#include "Velto/shell/SidebarModel.h"
#include "platform/Icons.h"
#include "platform/L10n.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QListView>
#include <QMenu>
#include <QPainter>
#include <QPushButton>
#include <QStackedWidget>
#include <QStyledItemDelegate>
#include <QToolButton>
#include <QVBoxLayout>

using namespace ShellStyle;

namespace {

constexpr int rowHeight = 24;
constexpr int headerHeight = 26;
constexpr int leadingMargin = 8;
constexpr int iconSize = 16;

QPixmap tinted(const QIcon &icon, const QColor &color, int size, qreal dpr)
{
    QPixmap pixmap = icon.pixmap(QSize(size, size), dpr);
    QPainter painter(&pixmap);
    painter.setCompositionMode(QPainter::CompositionMode_SourceIn);
    painter.fillRect(pixmap.rect(), color);
    return pixmap;
}

// Paints the rows as the model describes them; the list itself has no selection.
class RowDelegate : public QStyledItemDelegate
{
public:
    RowDelegate(SidebarModel *model, QObject *parent)
        : QStyledItemDelegate(parent)
        , m_model(model)
    {
    }

    QSize sizeHint(const QStyleOptionViewItem &option, const QModelIndex &index) const override
    {
        const auto &row = m_model->rows().at(size_t(index.row()));
        const bool header = row.kind == SidebarModel::Kind::sectionHeader;
        return {option.rect.width(), header ? headerHeight : rowHeight};
    }

    void paint(QPainter *painter, const QStyleOptionViewItem &option,
               const QModelIndex &index) const override
    {
        const auto &row = m_model->rows().at(size_t(index.row()));
        const QPalette &pal = option.palette;
        painter->save();
        QRect r = option.rect;
        if (row.kind == SidebarModel::Kind::sectionHeader) {
            QFont f = ShellStyle::font(TextStyle::caption, option.font);
            f.setBold(true);
            painter->setFont(f);
            painter->setPen(foreground(ShellStyle::Foreground::secondary, pal));
            painter->drawText(r.adjusted(leadingMargin, 6, -leadingMargin, 0),
                              Qt::AlignLeft | Qt::AlignVCenter, row.title);
            painter->restore();
            return;
        }
        if (row.enabled && (option.state & QStyle::State_MouseOver)) {
            QColor hover = pal.color(QPalette::Highlight);
            hover.setAlphaF(0.12);
            painter->fillRect(r.adjusted(4, 1, -4, -1), hover);
        }
        painter->setOpacity(row.opacity);
        int x = r.left() + leadingMargin + row.indent;
        const QIcon icon = Icons::symbol(row.iconName);
        const qreal dpr = painter->device() ? painter->device()->devicePixelRatioF() : 1.0;
        const QRect iconRect(x, r.top() + (r.height() - iconSize) / 2, iconSize, iconSize);
        if (row.warningIcon)
            painter->drawPixmap(iconRect, tinted(icon, Colors::yellow, iconSize, dpr));
        else if (!row.enabled)
            icon.paint(painter, iconRect, Qt::AlignCenter, QIcon::Disabled);
        else
            icon.paint(painter, iconRect);
        x += iconSize + 6;

        QFont f = option.font;
        if (row.medium)
            f.setWeight(QFont::DemiBold);
        painter->setFont(f);
        QColor color;
        switch (row.foreground) {
        case SidebarModel::Foreground::primary:
            color = foreground(ShellStyle::Foreground::primary, pal);
            break;
        case SidebarModel::Foreground::secondary:
            color = foreground(ShellStyle::Foreground::secondary, pal);
            break;
        case SidebarModel::Foreground::tertiary:
            color = foreground(ShellStyle::Foreground::tertiary, pal);
            break;
        }
        if (!row.enabled)
            color = pal.color(QPalette::Disabled, QPalette::WindowText);
        painter->setPen(color);
        const QRect textRect(x, r.top(), r.right() - x - leadingMargin, r.height());
        const QString text
            = QFontMetrics(f).elidedText(row.title, Qt::ElideRight, textRect.width());
        painter->drawText(textRect, Qt::AlignLeft | Qt::AlignVCenter, text);
        painter->restore();
    }

private:
    SidebarModel *m_model;
};

QLabel *styledLabel(const QString &text, TextStyle style, ShellStyle::Foreground level,
                    QWidget *parent)
{
    QLabel *label = ShellStyle::label(text, style, level, parent);
    label->setAlignment(Qt::AlignCenter);
    return label;
}

} // namespace

SidebarView::SidebarView(WorkspaceState &workspace, HistoryStore &history, Defaults &defaults,
                         QWidget *parent)
    : QWidget(parent)
    , m_workspace(workspace)
    , m_model(new SidebarModel(workspace, history, defaults, this))
{
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);

    auto *header = new QHBoxLayout;
    header->setContentsMargins(6, 4, 6, 4);
    header->addStretch(1);
    m_openButton = new QToolButton(this);
    m_openButton->setIcon(Icons::symbol(QStringLiteral("plus")));
    m_openButton->setToolTip(L10n::text(QStringLiteral("sidebar.openHelp")));
    m_openButton->setAutoRaise(true);
    header->addWidget(m_openButton);
    layout->addLayout(header);

    m_stack = new QStackedWidget(this);
    layout->addWidget(m_stack, 1);

    m_emptyState = new QWidget(m_stack);
    auto *empty = new QVBoxLayout(m_emptyState);
    empty->setSpacing(12);
    empty->setContentsMargins(12, 12, 12, 12);
    empty->addStretch(1);
    auto *clock = new QLabel(m_emptyState);
    clock->setAlignment(Qt::AlignCenter);
    clock->setPixmap(tinted(Icons::symbol(QStringLiteral("clock")),
                            foreground(ShellStyle::Foreground::tertiary, palette()), 36,
                            devicePixelRatioF()));
    empty->addWidget(clock);
    empty->addWidget(styledLabel(L10n::text(QStringLiteral("history.empty")), TextStyle::headline,
                                 ShellStyle::Foreground::secondary, m_emptyState));
    empty->addWidget(styledLabel(L10n::text(QStringLiteral("history.openHint")),
                                 TextStyle::subheadline, ShellStyle::Foreground::tertiary,
                                 m_emptyState));
    m_emptyOpenButton = new QPushButton(L10n::text(QStringLiteral("menu.open")), m_emptyState);
    empty->addWidget(m_emptyOpenButton, 0, Qt::AlignHCenter);
    empty->addStretch(1);
    m_stack->addWidget(m_emptyState);

    m_list = new QListView(m_stack);
    m_list->setModel(m_model);
    m_list->setItemDelegate(new RowDelegate(m_model, m_list));
    m_list->setSelectionMode(QAbstractItemView::NoSelection);
    m_list->setFrameShape(QFrame::NoFrame);
    m_list->setMouseTracking(true);
    m_list->setUniformItemSizes(false);
    m_list->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_list->setContextMenuPolicy(Qt::CustomContextMenu);
    m_list->viewport()->setAutoFillBackground(false);
    m_list->setAutoFillBackground(false);
    m_stack->addWidget(m_list);

    auto open = [this] { m_workspace.showOpenPanel(); };
    connect(m_openButton, &QToolButton::clicked, this, open);
    connect(m_emptyOpenButton, &QPushButton::clicked, this, open);
    connect(m_list, &QListView::clicked, this,
            [this](const QModelIndex &index) { m_model->activate(index.row()); });
    connect(m_list, &QWidget::customContextMenuRequested, this, [this](const QPoint &pos) {
        const QModelIndex index = m_list->indexAt(pos);
        if (!index.isValid())
            return;
        if (QMenu *menu = contextMenuForRow(index.row())) {
            menu->setAttribute(Qt::WA_DeleteOnClose);
            menu->popup(m_list->viewport()->mapToGlobal(pos));
        }
    });
    connect(m_model, &SidebarModel::rebuilt, this, &SidebarView::refreshPage);
    refreshPage();
}

bool SidebarView::showsEmptyState() const
{
    return m_stack->currentWidget() == m_emptyState;
}

QMenu *SidebarView::contextMenuForRow(int row)
{
    if (row < 0 || row >= int(m_model->rows().size())
        || !SidebarModel::hasContextMenu(m_model->rows().at(size_t(row))))
        return nullptr;
    auto *menu = new QMenu(this);
    QAction *remove = menu->addAction(Icons::symbol(QStringLiteral("trash")),
                                      L10n::text(QStringLiteral("history.remove")));
    // The entry, not the row: the rows may be rebuilt while the menu is open.
    const QUuid id = *m_model->rows().at(size_t(row)).entryID;
    connect(remove, &QAction::triggered, m_model,
            [model = m_model, id] { model->removeEntry(id); });
    return menu;
}

void SidebarView::refreshPage()
{
    m_stack->setCurrentWidget(m_model->showsEmptyState() ? m_emptyState : m_list);
}
