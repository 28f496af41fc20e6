#include "Velto/shell/AboutView.h"

#include "Velto/shell/ShellStyle.h"
#include "platform/Icons.h"
#include "platform/L10n.h"

#include <QApplication>
#include <QFrame>
#include <QHBoxLayout>
#include <QIcon>
#include <QLabel>
#include <QMouseEvent>
#include <QShortcut>
#include <QToolButton>
#include <QVBoxLayout>
#include <QWindow>

using namespace ShellStyle;

QVariantMap AboutView::applicationInfo()
{
    return {{QStringLiteral("version"), QStringLiteral(VELTO_VERSION)},
            {QStringLiteral("build"), QStringLiteral(VELTO_BUILD_NUMBER)}};
}

QString AboutView::stringOrDash(const QVariantMap &info, const QString &key)
{
    const QVariant value = info.value(key);
    if (value.typeId() != QMetaType::QString)
        return QStringLiteral("\u2013");
    return value.toString();
}

AboutView::AboutView(const QString &version, const QString &build, QWidget *parent)
    : QWidget(parent, Qt::Window | Qt::FramelessWindowHint)
{
    setWindowTitle(L10n::text(QStringLiteral("menu.about")));
    // No title bar: the content reaches the top edge, the window moves by its background, and
    // its own close control sits where a title bar would have it (Escape closes too).
    m_close = new QToolButton(this);
    m_close->setObjectName(QStringLiteral("close"));
    m_close->setAutoRaise(true);
    m_close->setIcon(Icons::symbol(QStringLiteral("xmark.circle.fill")));
    m_close->setIconSize(QSize(14, 14));
    m_close->setToolTip(L10n::text(QStringLiteral("legal.button.close")));
    m_close->setAccessibleName(m_close->toolTip());
    m_close->move(8, 8);
    connect(m_close, &QToolButton::clicked, this, &QWidget::close);
    auto *escape = new QShortcut(QKeySequence(Qt::Key_Escape), this);
    connect(escape, &QShortcut::activated, this, &QWidget::close);
    auto *column = new QVBoxLayout(this);
    column->setContentsMargins(padding, padding, padding, padding);
    column->setSpacing(16);

    const auto centred = [&](QLabel *label) {
        label->setAlignment(Qt::AlignHCenter);
        label->setWordWrap(true);
        label->setTextInteractionFlags(Qt::NoTextInteraction);
        column->addWidget(label);
        return label;
    };

    QIcon appIcon = QApplication::windowIcon();
    if (appIcon.isNull())
        appIcon = QIcon(QStringLiteral(":/app/velto.svg"));
    auto *icon = new QLabel(this);
    icon->setPixmap(appIcon.pixmap(QSize(96, 96), devicePixelRatioF()));
    centred(icon);

    QLabel *name = centred(new QLabel(L10n::text(QStringLiteral("Velto")), this));
    QFont nameFont = ShellStyle::font(TextStyle::title, name->font());
    nameFont.setBold(true);
    name->setFont(nameFont);
    m_version
        = centred(ShellStyle::label(L10n::format(QStringLiteral("about.version"), {version, build}),
                                    TextStyle::subheadline, Foreground::secondary, this));
    centred(ShellStyle::label(L10n::text(QStringLiteral("about.description")), TextStyle::body,
                              Foreground::secondary, this));

    auto *dividerRow = new QHBoxLayout;
    dividerRow->setContentsMargins(40, 0, 40, 0);
    auto *divider = new QFrame(this);
    divider->setFrameShape(QFrame::HLine);
    divider->setFrameShadow(QFrame::Sunken);
    dividerRow->addWidget(divider);
    column->addLayout(dividerRow);

    auto *maker = new QVBoxLayout;
    maker->setSpacing(4);
    QLabel *developedBy = ShellStyle::label(L10n::text(QStringLiteral("about.developed.by")),
                                            TextStyle::caption, Foreground::secondary, this);
    developedBy->setAlignment(Qt::AlignHCenter);
    maker->addWidget(developedBy);
    auto *company = new QLabel(L10n::text(QStringLiteral("about.company")), this);
    QFont companyFont = ShellStyle::font(TextStyle::body, company->font());
    companyFont.setWeight(QFont::Medium);
    company->setFont(companyFont);
    company->setAlignment(Qt::AlignHCenter);
    company->setWordWrap(true);
    maker->addWidget(company);
    column->addLayout(maker);

    centred(ShellStyle::label(L10n::text(QStringLiteral("about.copyright")), TextStyle::caption2,
                              Foreground::secondary, this));
    centred(ShellStyle::label(L10n::text(QStringLiteral("about.rights")), TextStyle::caption2,
                              Foreground::secondary, this));

    // 320 wide whatever the texts say; longer texts wrap and the window grows in height.
    setFixedWidth(fixedWidth);
    column->activate();
    setFixedHeight(column->hasHeightForWidth() ? column->totalHeightForWidth(fixedWidth)
                                               : column->totalSizeHint().height());
    m_close->raise();
}

void AboutView::mousePressEvent(QMouseEvent *event)
{
    if (event->button() == Qt::LeftButton && windowHandle() && windowHandle()->startSystemMove()) {
        event->accept();
        return;
    }
    QWidget::mousePressEvent(event);
}
