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
        if (row.kind != SidebarModel::Kind::treeRow)
            return {option.rect.width(), header ? headerHeight : rowHeight};
        // A file name in the tree is shown whole, on as many lines as it needs.
        const auto *view = qobject_cast<const QAbstractItemView *>(parent());
        const int width = view ? view->viewport()->width() : option.rect.width();
        const QRect text = textRect(QRect(0, 0, width, rowHeight), row);
        const int lines
            = QFontMetrics(rowFont(option.font, row))
                  .boundingRect(QRect(0, 0, text.width(), 1 << 20), wrapFlags, row.title)
                  .height();
        return {width, std::max(rowHeight, lines + rowHeight - option.fontMetrics.height())};
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
        const int x = r.left() + leadingMargin + row.indent;
        const QIcon icon = Icons::symbol(row.iconName);
        const qreal dpr = painter->device() ? painter->device()->devicePixelRatioF() : 1.0;
        // Beside the first line of a title that wraps.
        const QRect iconRect(x, r.top() + (std::min(r.height(), rowHeight) - iconSize) / 2,
                             iconSize, iconSize);
        if (row.warningIcon)
            painter->drawPixmap(iconRect, tinted(icon, Colors::yellow, iconSize, dpr));
        else if (!row.enabled)
            icon.paint(painter, iconRect, Qt::AlignCenter, QIcon::Disabled);
        else
            icon.paint(painter, iconRect);

        const QFont f = rowFont(option.font, row);
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
        const QRect text = textRect(r, row);
        if (row.kind == SidebarModel::Kind::treeRow) {
            painter->drawText(text, Qt::AlignLeft | Qt::AlignVCenter | wrapFlags, row.title);
        } else {
            painter->drawText(text, Qt::AlignLeft | Qt::AlignVCenter,
                              QFontMetrics(f).elidedText(row.title, Qt::ElideRight, text.width()));
        }
        painter->restore();
    }

private:
    static constexpr int wrapFlags = Qt::TextWordWrap | Qt::TextWrapAnywhere;

    static QFont rowFont(QFont font, const SidebarModel::Row &row)
    {
        if (row.medium)
            font.setWeight(QFont::DemiBold);
        return font;
    }
    static QRect textRect(const QRect &r, const SidebarModel::Row &row)
    {
        const int x = r.left() + leadingMargin + row.indent + iconSize + 6;
        return {x, r.top(), std::max(1, r.right() - x - leadingMargin), r.height()};
    }

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
    m_list->setResizeMode(QListView::Adjust); // tree titles wrap anew at the new width
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
