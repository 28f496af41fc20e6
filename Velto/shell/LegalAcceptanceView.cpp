#include "Velto/shell/LegalAcceptanceView.h"

#include "Velto/shell/LegalCheckRow.h"
#include "Velto/shell/LegalTextView.h"
#include "Velto/shell/LegalViewParts.h"
#include "platform/Defaults.h"
#include "platform/L10n.h"

#include <QCheckBox>
#include <QDateTime>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QLinearGradient>
#include <QPainter>
#include <QPushButton>
#include <QToolButton>
#include <QVBoxLayout>

using namespace ShellStyle;
using namespace LegalViewParts;

namespace {

// The acceptance view's header: from the window colour at the top to the control background
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

} // namespace

LegalAcceptanceView::LegalAcceptanceView(Defaults &defaults, std::function<void()> onAccept,
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
    auto *terms = new LegalCheckRow(QStringLiteral("legal.terms.title"), accent, this);
    auto *privacy = new LegalCheckRow(QStringLiteral("legal.privacy.title"), accent, this);
    m_terms = terms->checkBox();
    m_termsDetails = terms->detailsButton();
    m_privacy = privacy->checkBox();
    m_privacyDetails = privacy->detailsButton();
    rows->addWidget(terms);
    rows->addWidget(privacy);
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
    connect(m_accept, &QPushButton::clicked, this, &LegalAcceptanceView::accept);
    fitHeight();
}

void LegalAcceptanceView::fitHeight()
{
    setFixedWidth(fixedWidth);
    layout()->activate();
    const int height = layout()->hasHeightForWidth() ? layout()->totalHeightForWidth(fixedWidth)
                                                     : layout()->totalSizeHint().height();
    setFixedHeight(height);
}

void LegalAcceptanceView::accept()
{
    if (!m_terms->isChecked() || !m_privacy->isChecked())
        return;
    // Stored before anyone hears of it; one acceptance covers every later version of the texts.
    m_defaults.set(hasAcceptedLegalKey, true);
    m_defaults.setDate(acceptanceDateKey, QDateTime::currentDateTimeUtc());
    if (m_onAccept)
        m_onAccept();
}

void LegalAcceptanceView::reject() { }

void LegalAcceptanceView::dismiss()
{
    QDialog::done(QDialog::Accepted);
}

void LegalAcceptanceView::showDetails(const QString &titleKey, const QString &contentKey)
{
    auto *details = new LegalTextView(titleKey, L10n::text(contentKey), this);
    details->setAttribute(Qt::WA_DeleteOnClose);
    details->setWindowModality(Qt::WindowModal);
    details->open();
}
