#include "Velto/preview/OutlinePanelView.h"

#include "platform/Icons.h"
#include "platform/L10n.h"

#include <QEnterEvent>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QScrollArea>
#include <QStackedWidget>
#include <QToolButton>
#include <QVBoxLayout>

namespace {

constexpr int panelWidth = 200;
constexpr int dotWidthPerLevel = 10;
// Secondary and tertiary text: the palette's text colour at reduced strength.
constexpr double secondaryAlpha = 0.5;
constexpr double tertiaryAlpha = 0.26;

QColor textColor(const QWidget *w, double alpha)
{
    QColor c = w->palette().color(QPalette::WindowText);
    c.setAlphaF(float(alpha));
    return c;
}

void setTextColor(QWidget *w, double alpha)
{
    QPalette p = w->palette();
    p.setColor(QPalette::WindowText, textColor(w, alpha));
    p.setColor(QPalette::ButtonText, textColor(w, alpha));
    w->setPalette(p);
}

// Text sizes relative to the body font: subheadline ≈ 11/13, caption ≈ 10/13.
QFont scaledFont(const QFont &base, double factor, QFont::Weight weight = QFont::Normal)
{
    QFont f = base;
    if (f.pointSizeF() > 0)
        f.setPointSizeF(f.pointSizeF() * factor);
    else
        f.setPixelSize(qMax(1, int(f.pixelSize() * factor + 0.5)));
    f.setWeight(weight);
    return f;
}

QPixmap tintedSymbol(const QString &name, const QColor &color, int size, qreal dpr)
{
    const QIcon icon = Icons::symbol(name);
    if (icon.isNull())
        return {};
    QPixmap pm = icon.pixmap(QSize(size, size), dpr);
    QPainter p(&pm);
    p.setCompositionMode(QPainter::CompositionMode_SourceIn);
    p.fillRect(pm.rect(), color);
    return pm;
}

} // namespace

ElidedText::ElidedText(QWidget *parent)
    : QWidget(parent)
{
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
}

void ElidedText::setText(const QString &text)
{
    if (text == m_text)
        return;
    m_text = text;
    updateGeometry();
    update();
}

QString ElidedText::displayedText() const
{
    return fontMetrics().elidedText(m_text, Qt::ElideRight, width());
}

QSize ElidedText::sizeHint() const
{
    return {fontMetrics().horizontalAdvance(m_text), fontMetrics().height()};
}

QSize ElidedText::minimumSizeHint() const
{
    return {0, fontMetrics().height()};
}

void ElidedText::paintEvent(QPaintEvent *)
{
    QPainter p(this);
    p.setPen(palette().color(QPalette::WindowText));
    p.drawText(rect(), Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine, displayedText());
}

OutlineRow::OutlineRow(QWidget *parent)
    : QAbstractButton(parent)
    , m_dots(new QLabel(this))
    , m_title(new ElidedText(this))
{
    setFocusPolicy(Qt::NoFocus);
    setCursor(Qt::PointingHandCursor);
    // May shrink below the title's width: the title is elided instead.
    setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
    auto *layout = new QHBoxLayout(this);
    layout->setContentsMargins(8, 3, 8, 3);
    layout->setSpacing(6);
    m_dots->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    setTextColor(m_dots, tertiaryAlpha);
    layout->addWidget(m_dots);
    layout->addWidget(m_title, 1);
}

void OutlineRow::setItem(int level, const QString &title, int line)
{
    m_line = line;
    m_title->setText(title);
    if (level == m_level)
        return;
    m_level = level;
    const int dots = qMax(0, level - 1);
    m_dots->setText(QString(dots, QChar(0x00B7)));
    m_dots->setFixedWidth(dotWidthPerLevel * dots);
    QFont f = font();
    f.setWeight(level <= 2 ? QFont::Medium : QFont::Normal);
    m_title->setFont(f);
}

void OutlineRow::paintEvent(QPaintEvent *)
{
    if (!m_hovered && !isDown())
        return;
    QPainter p(this);
    p.fillRect(rect(), textColor(this, isDown() ? 0.12 : 0.06));
}

void OutlineRow::enterEvent(QEnterEvent *event)
{
    m_hovered = true;
    update();
    QAbstractButton::enterEvent(event);
}

void OutlineRow::leaveEvent(QEvent *event)
{
    m_hovered = false;
    update();
    QAbstractButton::leaveEvent(event);
}

OutlinePanelView::OutlinePanelView(QWidget *parent)
    : QWidget(parent)
    , m_titleLabel(new QLabel(L10n::text(QStringLiteral("editor.outline"))))
    , m_closeButton(new QToolButton)
    , m_stack(new QStackedWidget)
    , m_emptyLabel(new QLabel(L10n::text(QStringLiteral("outline.noHeadings"))))
    , m_scroll(new QScrollArea)
    , m_listWidget(new QWidget)
    , m_listLayout(new QVBoxLayout(m_listWidget))
{
    setFixedWidth(panelWidth);
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);

    auto *header = new QWidget;
    auto *headerLayout = new QHBoxLayout(header);
    headerLayout->setContentsMargins(10, 6, 10, 6);
    const QFont subheadline = scaledFont(font(), 11.0 / 13.0, QFont::Medium);
    auto *icon = new QLabel;
    const QPixmap bullet
        = tintedSymbol(QStringLiteral("list.bullet"), textColor(this, secondaryAlpha),
                       QFontMetrics(subheadline).height(), devicePixelRatioF());
    if (bullet.isNull())
        icon->hide();
    else
        icon->setPixmap(bullet);
    m_titleLabel->setFont(subheadline);
    setTextColor(m_titleLabel, secondaryAlpha);
    headerLayout->addWidget(icon);
    headerLayout->addWidget(m_titleLabel);
    headerLayout->addStretch(1);

    const QFont caption = scaledFont(font(), 10.0 / 13.0);
    m_closeButton->setAutoRaise(true);
    m_closeButton->setFocusPolicy(Qt::NoFocus);
    m_closeButton->setFont(caption);
    const QPixmap xmark = tintedSymbol(QStringLiteral("xmark"), textColor(this, tertiaryAlpha),
                                       QFontMetrics(caption).height(), devicePixelRatioF());
    if (xmark.isNull()) {
        m_closeButton->setText(QString(QChar(0x00D7)));
        setTextColor(m_closeButton, tertiaryAlpha);
    } else {
        m_closeButton->setIcon(QIcon(xmark));
    }
    connect(m_closeButton, &QToolButton::clicked, this, [this] {
        if (onClose)
            onClose();
    });
    headerLayout->addWidget(m_closeButton);
    layout->addWidget(header);

    auto *divider = new QFrame;
    divider->setFrameShape(QFrame::HLine);
    divider->setFrameShadow(QFrame::Plain);
    setTextColor(divider, 0.15);
    layout->addWidget(divider);

    m_emptyLabel->setAlignment(Qt::AlignCenter);
    m_emptyLabel->setFont(scaledFont(font(), 11.0 / 13.0));
    m_emptyLabel->setWordWrap(true);
    setTextColor(m_emptyLabel, tertiaryAlpha);
    m_stack->addWidget(m_emptyLabel);

    m_listLayout->setContentsMargins(0, 4, 0, 4);
    m_listLayout->setSpacing(0);
    m_listLayout->addStretch(1);
    m_scroll->setWidget(m_listWidget);
    m_scroll->setWidgetResizable(true);
    m_scroll->setFrameShape(QFrame::NoFrame);
    m_scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_scroll->setFocusPolicy(Qt::NoFocus);
    m_stack->addWidget(m_scroll);
    layout->addWidget(m_stack, 1);
}

bool OutlinePanelView::showsList() const
{
    return m_stack->currentWidget() == m_scroll;
}

void OutlinePanelView::setItems(const QList<OutlineItem> &items)
{
    const bool same
        = std::equal(items.begin(), items.end(), m_items.begin(), m_items.end(),
                     [](const OutlineItem &a, const OutlineItem &b) {
                         return a.level == b.level && a.line == b.line && a.title == b.title;
                     });
    m_items = items;
    if (!same || m_rows.size() != size_t(items.size()))
        rebuild();
}

void OutlinePanelView::rebuild()
{
    const size_t count = size_t(m_items.size());
    // Rows are reused in place; only the difference in count creates or removes widgets.
    while (m_rows.size() > count) {
        delete m_rows.back();
        m_rows.pop_back();
    }
    while (m_rows.size() < count) {
        auto *row = new OutlineRow(m_listWidget);
        connect(row, &QAbstractButton::clicked, this, [this, row] {
            if (onSelect)
                onSelect(row->line());
        });
        m_listLayout->insertWidget(m_listLayout->count() - 1, row);
        m_rows.push_back(row);
    }
    for (size_t i = 0; i < count; ++i) {
        const OutlineItem &item = m_items.at(qsizetype(i));
        m_rows[i]->setItem(item.level, item.title, item.line);
    }
    m_stack->setCurrentWidget(count == 0 ? static_cast<QWidget *>(m_emptyLabel) : m_scroll);
}
