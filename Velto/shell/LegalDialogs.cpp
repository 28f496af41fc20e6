#include "Velto/shell/LegalDialogs.h"

#include "Velto/shell/ShellStyle.h"
#include "platform/Defaults.h"
#include "platform/L10n.h"

#include <QCheckBox>
#include <QDateTime>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QToolButton>
#include <QVBoxLayout>

using namespace ShellStyle;

namespace {

constexpr int standardPadding = 12;

QFrame *divider(QWidget *parent)
{
    auto *line = new QFrame(parent);
    line->setFrameShape(QFrame::HLine);
    line->setFrameShadow(QFrame::Sunken);
    return line;
}

QFont semibold(TextStyle style, const QFont &base)
{
    QFont f = font(style, base);
    f.setWeight(QFont::DemiBold);
    return f;
}

// A legal text: plain, selectable, scrolling, in the body font.
QPlainTextEdit *legalTextArea(const QString &content, QWidget *parent)
{
    auto *text = new QPlainTextEdit(parent);
    text->setReadOnly(true);
    text->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    text->setFrameShape(QFrame::NoFrame);
    text->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    text->document()->setDocumentMargin(standardPadding);
    text->setPlainText(content);
    return text;
}

// Paints the control background in a rounded rectangle behind its children.
class RoundedPanel : public QWidget
{
public:
    explicit RoundedPanel(QWidget *parent)
        : QWidget(parent)
    {
    }

protected:
    void paintEvent(QPaintEvent *) override
    {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        QPainterPath path;
        path.addRoundedRect(QRectF(rect()), 8, 8);
        painter.fillPath(path, palette().color(QPalette::Base));
    }
};

// The acceptance dialog's header: from the window colour at the top to the control background
// at half strength at the bottom.
class GradientHeader : public QWidget
{
public:
    explicit GradientHeader(QWidget *parent)
        : QWidget(parent)
    {
    }

protected:
    void paintEvent(QPaintEvent *) override
    {
        QPainter painter(this);
        QLinearGradient gradient(0, 0, 0, height());
        gradient.setColorAt(0, palette().color(QPalette::Window));
        QColor bottom = palette().color(QPalette::Base);
        bottom.setAlphaF(0.5);
        gradient.setColorAt(1, bottom);
        painter.fillRect(rect(), gradient);
    }
};

QPixmap headerIcon(const QColor &accent, qreal dpr)
{
    constexpr int side = 80;
    QPixmap pixmap(QSize(side, side) * dpr);
    pixmap.setDevicePixelRatio(dpr);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    QColor circle = accent;
    circle.setAlphaF(0.1);
    painter.setPen(Qt::NoPen);
    painter.setBrush(circle);
    painter.drawEllipse(QRectF(0, 0, side, side));
    constexpr int symbol = 36;
    painter.drawPixmap((side - symbol) / 2, (side - symbol) / 2,
                       tintedSymbol(QStringLiteral("doc.text.fill"), symbol, accent, dpr));
    return pixmap;
}

QToolButton *symbolButton(const QString &symbol, const QColor &color, QWidget *parent)
{
    auto *button = new QToolButton(parent);
    button->setAutoRaise(true);
    const int side = button->fontMetrics().height() + 4;
    button->setIcon(QIcon(tintedSymbol(symbol, side, color, parent->devicePixelRatioF())));
    button->setIconSize(QSize(side, side));
    return button;
}

} // namespace

// ---- one text

LegalTextDialog::LegalTextDialog(const QString &titleKey, const QString &content, QWidget *parent)
    : QDialog(parent)
{
    setWindowTitle(L10n::text(titleKey));
    setFixedSize(500, 500);
    auto *root = new QVBoxLayout(this);
    root->setContentsMargins(0, 0, 0, 0);
    root->setSpacing(0);

    auto *header = new QWidget(this);
    header->setAutoFillBackground(true);
    header->setBackgroundRole(QPalette::Window);
    auto *headerRow = new QHBoxLayout(header);
    headerRow->setContentsMargins(standardPadding, standardPadding, standardPadding,
                                  standardPadding);
    auto *title = new QLabel(L10n::text(titleKey), header);
    title->setFont(ShellStyle::font(TextStyle::headline, title->font()));
    title->setWordWrap(true);
    headerRow->addWidget(title, 1);
    QToolButton *close = symbolButton(QStringLiteral("xmark.circle.fill"),
                                      foreground(Foreground::secondary, palette()), header);
    close->setAccessibleName(L10n::text(QStringLiteral("legal.button.close")));
    close->setToolTip(close->accessibleName());
    headerRow->addWidget(close);
    root->addWidget(header);
    root->addWidget(divider(this));

    m_text = legalTextArea(content, this);
    root->addWidget(m_text, 1);
    root->addWidget(divider(this));

    auto *footer = new QHBoxLayout;
    footer->setContentsMargins(standardPadding, standardPadding, standardPadding, standardPadding);
    footer->addStretch();
    auto *done = new QPushButton(L10n::text(QStringLiteral("legal.button.close")), this);
    done->setDefault(true);
    footer->addWidget(done);
    root->addLayout(footer);

    connect(close, &QToolButton::clicked, this, &QDialog::accept);
    connect(done, &QPushButton::clicked, this, &QDialog::accept);
}

// ---- acceptance

LegalAcceptanceDialog::LegalAcceptanceDialog(Defaults &defaults, std::function<void()> onAccept,
                                             std::function<void()> onDecline, QWidget *parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint)
    , m_defaults(defaults)
    , m_onAccept(std::move(onAccept))
    , m_onDecline(std::move(onDecline))
{
    setWindowTitle(L10n::text(QStringLiteral("legal.title")));
    const QColor accent = palette().color(QPalette::Highlight);
    auto *root = new QVBoxLayout(this);
    root->setContentsMargins(0, 0, 0, 0);
    root->setSpacing(0);

    auto *header = new GradientHeader(this);
    auto *headerColumn = new QVBoxLayout(header);
    headerColumn->setContentsMargins(0, 24, 0, 24);
    headerColumn->setSpacing(12);
    auto *icon = new QLabel(header);
    icon->setPixmap(headerIcon(accent, devicePixelRatioF()));
    icon->setContentsMargins(0, 8, 0, 0);
    icon->setAlignment(Qt::AlignCenter);
    icon->setAccessibleName(QString());
    headerColumn->addWidget(icon);
    auto *title = new QLabel(L10n::text(QStringLiteral("legal.title")), header);
    title->setFont(semibold(TextStyle::title2, title->font()));
    title->setAlignment(Qt::AlignCenter);
    title->setWordWrap(true);
    headerColumn->addWidget(title);
    m_subtitle = ShellStyle::label(L10n::text(QStringLiteral("legal.subtitle")), TextStyle::callout,
                                   Foreground::secondary, header);
    m_subtitle->setAlignment(Qt::AlignCenter);
    m_subtitle->setContentsMargins(32, 0, 32, 0);
    headerColumn->addWidget(m_subtitle);
    root->addWidget(header);
    root->addWidget(divider(this));

    auto *rows = new QVBoxLayout;
    rows->setContentsMargins(24, 20, 24, 20);
    rows->setSpacing(10);
    const auto checkRow = [&](const QString &titleKey, QCheckBox *&box, QToolButton *&details) {
        auto *panel = new RoundedPanel(this);
        auto *row = new QHBoxLayout(panel);
        row->setContentsMargins(16, 12, 16, 12);
        row->setSpacing(12);
        box = new QCheckBox(panel);
        box->setAccessibleName(L10n::text(titleKey));
        box->setAccessibleDescription(
            L10n::text(QStringLiteral("accessibility.legal.checkbox.hint")));
        row->addWidget(box);
        // Not the box's own text: clicking the title does not tick the box.
        auto *label = new QLabel(L10n::text(titleKey), panel);
        label->setWordWrap(true);
        row->addWidget(label, 1);
        details = symbolButton(QStringLiteral("info.circle"), accent, panel);
        details->setToolTip(L10n::text(QStringLiteral("legal.show.details")));
        details->setAccessibleName(L10n::text(QStringLiteral("accessibility.legal.details")));
        details->setAccessibleDescription(
            L10n::text(QStringLiteral("accessibility.legal.details.hint")));
        row->addWidget(details);
        rows->addWidget(panel);
    };
    checkRow(QStringLiteral("legal.terms.title"), m_terms, m_termsDetails);
    checkRow(QStringLiteral("legal.privacy.title"), m_privacy, m_privacyDetails);
    root->addLayout(rows);
    root->addWidget(divider(this));

    auto *buttonBar = new QWidget(this);
    buttonBar->setAutoFillBackground(true);
    buttonBar->setBackgroundRole(QPalette::Window);
    auto *buttons = new QHBoxLayout(buttonBar);
    buttons->setContentsMargins(24, 16, 24, 16);
    buttons->setSpacing(12);
    m_decline = new QPushButton(L10n::text(QStringLiteral("legal.button.decline")), buttonBar);
    m_accept = new QPushButton(L10n::text(QStringLiteral("legal.button.accept")), buttonBar);
    m_accept->setDefault(true);
    m_accept->setEnabled(false);
    for (QPushButton *button : {m_decline, m_accept}) {
        button->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
        button->setMinimumHeight(button->sizeHint().height() + 8);
        buttons->addWidget(button, 1);
    }
    root->addWidget(buttonBar);

    const auto updateAccept
        = [this] { m_accept->setEnabled(m_terms->isChecked() && m_privacy->isChecked()); };
    connect(m_terms, &QCheckBox::toggled, this, updateAccept);
    connect(m_privacy, &QCheckBox::toggled, this, updateAccept);
    connect(m_termsDetails, &QToolButton::clicked, this, [this] {
        showDetails(QStringLiteral("legal.terms.title"), QStringLiteral("legal.terms.content"));
    });
    connect(m_privacyDetails, &QToolButton::clicked, this, [this] {
        showDetails(QStringLiteral("legal.privacy.title"), QStringLiteral("legal.privacy.content"));
    });
    connect(m_decline, &QPushButton::clicked, this, [this] {
        if (m_onDecline)
            m_onDecline();
    });
    connect(m_accept, &QPushButton::clicked, this, &LegalAcceptanceDialog::accept);
    fitHeight();
}

void LegalAcceptanceDialog::fitHeight()
{
    setFixedWidth(fixedWidth);
    layout()->activate();
    const int height = layout()->hasHeightForWidth() ? layout()->totalHeightForWidth(fixedWidth)
                                                     : layout()->totalSizeHint().height();
    setFixedHeight(height);
}

void LegalAcceptanceDialog::accept()
{
    if (!m_terms->isChecked() || !m_privacy->isChecked())
        return;
    // Stored before anyone hears of it; one acceptance covers every later version of the texts.
    m_defaults.set(hasAcceptedLegalKey, true);
    m_defaults.setDate(acceptanceDateKey, QDateTime::currentDateTimeUtc());
    if (m_onAccept)
        m_onAccept();
}

void LegalAcceptanceDialog::reject() { }

void LegalAcceptanceDialog::dismiss()
{
    QDialog::done(QDialog::Accepted);
}

void LegalAcceptanceDialog::showDetails(const QString &titleKey, const QString &contentKey)
{
    auto *details = new LegalTextDialog(titleKey, L10n::text(contentKey), this);
    details->setAttribute(Qt::WA_DeleteOnClose);
    details->setWindowModality(Qt::WindowModal);
    details->open();
}

// ---- information

LegalInfoDialog::LegalInfoDialog(LegalInfoType type, QWidget *parent)
    : QDialog(parent)
    , m_type(type)
{
    setWindowTitle(L10n::text(LegalInfoTypes::menuKey(type)));
    setFixedSize(520, 500);
    auto *root = new QVBoxLayout(this);
    root->setContentsMargins(0, 0, 0, 0);
    root->setSpacing(0);
    auto *header = new QHBoxLayout;
    header->setContentsMargins(standardPadding, standardPadding, standardPadding, standardPadding);
    m_title = new QLabel(L10n::text(LegalInfoTypes::menuKey(type)), this);
    m_title->setFont(semibold(TextStyle::title2, m_title->font()));
    header->addWidget(m_title);
    header->addStretch();
    // A window-modal dialog has no close control of the window manager everywhere; this one
    // brings its own, like the detail sheets.
    QToolButton *close = symbolButton(QStringLiteral("xmark.circle.fill"),
                                      foreground(Foreground::secondary, palette()), this);
    close->setObjectName(QStringLiteral("close"));
    close->setAccessibleName(L10n::text(QStringLiteral("legal.button.close")));
    close->setToolTip(close->accessibleName());
    connect(close, &QToolButton::clicked, this, &QDialog::accept);
    header->addWidget(close);
    root->addLayout(header);
    root->addWidget(divider(this));
    m_text = legalTextArea(L10n::text(LegalInfoTypes::contentKey(type)), this);
    root->addWidget(m_text, 1);
}
