#include "Velto/sync/SyncSettingsView.h"

#include "Velto/sync/MacSyncAdapter.h"
#include "core/sync/SyncFailure.h"
#include "core/sync/SyncState.h"
#include "platform/Detached.h"
#include "platform/Icons.h"
#include "platform/L10n.h"

#include <QEvent>
#include <QFontDatabase>
#include <QFormLayout>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPixmap>
#include <QPushButton>
#include <QStackedLayout>
#include <QVBoxLayout>

using namespace Qt::StringLiterals;

namespace {

const QString defaultFolderName = u"Velto Dokumente"_s;

enum class Text { headline, subheadline, body, caption, caption2 };
enum class Tone { primary, secondary, tertiary };

QLabel *label(const QString &text, Text style, Tone tone = Tone::primary, QWidget *parent = nullptr)
{
    auto *l = new QLabel(text, parent);
    QFont font = l->font();
    const qreal base = font.pointSizeF() > 0 ? font.pointSizeF() : 10;
    switch (style) {
    case Text::headline:
        font.setBold(true);
        break;
    case Text::subheadline:
        font.setPointSizeF(base * 0.92);
        font.setBold(true);
        break;
    case Text::body:
        break;
    case Text::caption:
        font.setPointSizeF(base * 0.85);
        break;
    case Text::caption2:
        font.setPointSizeF(base * 0.8);
        break;
    }
    l->setFont(font);
    if (tone != Tone::primary) {
        QPalette palette = l->palette();
        QColor color = palette.color(QPalette::WindowText);
        color.setAlphaF(tone == Tone::secondary ? 0.6 : 0.4);
        palette.setColor(QPalette::WindowText, color);
        l->setPalette(palette);
    }
    l->setWordWrap(style != Text::headline);
    return l;
}

QFrame *divider(QWidget *parent)
{
    auto *line = new QFrame(parent);
    line->setFrameShape(QFrame::HLine);
    line->setFrameShadow(QFrame::Sunken);
    return line;
}

QPushButton *prominentButton(const QString &text, QWidget *parent)
{
    auto *button = new QPushButton(text, parent);
    button->setDefault(true);
    return button;
}

// A filled circle that does not follow the connection: the folder is set up, that is all.
QLabel *greenDot(QWidget *parent)
{
    QPixmap pixmap(16, 16);
    pixmap.setDevicePixelRatio(2);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(0x34, 0xC7, 0x59));
    painter.drawEllipse(QRectF(0, 0, 8, 8));
    painter.end();
    auto *dot = new QLabel(parent);
    dot->setPixmap(pixmap);
    dot->setFixedSize(8, 8);
    return dot;
}

} // namespace

SyncSettingsView::SyncSettingsView(MacSyncAdapter &adapter, QWidget *parent)
    : QWidget(parent)
    , m_adapter(adapter)
{
    auto *root = new QVBoxLayout(this);
    root->setContentsMargins(20, 20, 20, 20);
    root->setSpacing(16);
    m_pages = new QStackedLayout;
    root->addLayout(m_pages);
    m_setupPage = buildSetupPage();
    m_pairedPage = buildPairedPage();
    m_pages->addWidget(m_setupPage);
    m_pages->addWidget(m_pairedPage);
    m_pairedPage->installEventFilter(this);

    SyncState &state = m_adapter.state();
    connect(&state, &SyncState::isPairedChanged, this, &SyncSettingsView::showLayoutForState);
    connect(&state, &SyncState::folderIdChanged, this, &SyncSettingsView::showLayoutForState);
    showLayoutForState();
}

QWidget *SyncSettingsView::buildSetupPage()
{
    auto *page = new QWidget(this);
    auto *layout = new QVBoxLayout(page);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(16);
    layout->setAlignment(Qt::AlignTop | Qt::AlignLeading);
    layout->addWidget(label(L10n::text(u"sync.setup.title"_s), Text::headline));
    layout->addWidget(
        label(L10n::text(u"sync.setup.description"_s), Text::caption, Tone::secondary));

    auto *form = new QFormLayout;
    form->setContentsMargins(0, 0, 0, 0);
    m_folderName = new QLineEdit(page);
    m_folderName->setPlaceholderText(defaultFolderName);
    m_folderName->setFixedWidth(200);
    form->addRow(L10n::text(u"sync.folderName"_s), m_folderName);
    layout->addLayout(form);

    m_create = prominentButton(L10n::text(u"sync.createFolder"_s), page);
    connect(m_create, &QPushButton::clicked, this,
            [this] { runDetached(createFolder(), u"Creating a sync folder"_s); });
    layout->addWidget(m_create, 0, Qt::AlignLeading);

    auto *status = label({}, Text::caption, Tone::secondary, page);
    m_statusLabels.append(status);
    layout->addWidget(status);
    layout->addStretch();
    return page;
}

QWidget *SyncSettingsView::buildPairedPage()
{
    auto *page = new QWidget(this);
    auto *layout = new QVBoxLayout(page);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(16);
    layout->setAlignment(Qt::AlignTop | Qt::AlignLeading);

    auto *activeRow = new QHBoxLayout;
    activeRow->setSpacing(8);
    activeRow->addWidget(greenDot(page), 0, Qt::AlignVCenter);
    activeRow->addWidget(label(L10n::text(u"sync.active"_s), Text::headline), 0, Qt::AlignVCenter);
    activeRow->addStretch();
    layout->addLayout(activeRow);

    m_folderIdRow = new QWidget(page);
    auto *idForm = new QFormLayout(m_folderIdRow);
    idForm->setContentsMargins(0, 0, 0, 0);
    m_folderId = label({}, Text::caption, Tone::primary, m_folderIdRow);
    QFont mono = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    mono.setPointSizeF(m_folderId->font().pointSizeF());
    m_folderId->setFont(mono);
    m_folderId->setTextInteractionFlags(Qt::TextSelectableByMouse);
    idForm->addRow(L10n::text(u"Folder-ID"_s), m_folderId);
    layout->addWidget(m_folderIdRow);

    layout->addWidget(divider(page));
    layout->addWidget(label(L10n::text(u"sync.pairDevice"_s), Text::subheadline));
    layout->addWidget(label(L10n::text(u"sync.pairDeviceHint"_s), Text::caption, Tone::secondary));

    auto *codeRow = new QHBoxLayout;
    m_code = new QLineEdit(page);
    m_code->setAccessibleName(L10n::text(u"sync.enterCode"_s));
    m_code->setPlaceholderText(u"123 456 789"_s);
    m_code->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    m_code->setFixedWidth(140);
    m_confirm = prominentButton(L10n::text(u"sync.confirm"_s), page);
    m_confirm->setEnabled(false);
    connect(m_code, &QLineEdit::textChanged, this, [this](const QString &code) {
        m_confirm->setEnabled(digitsOf(code).size() >= minimumCodeDigits);
    });
    connect(m_confirm, &QPushButton::clicked, this,
            [this] { runDetached(confirmPairing(), u"Confirming a pairing code"_s); });
    codeRow->addWidget(m_code, 0, Qt::AlignVCenter);
    codeRow->addWidget(m_confirm, 0, Qt::AlignVCenter);
    codeRow->addStretch();
    layout->addLayout(codeRow);

    auto *status = label({}, Text::caption, Tone::secondary, page);
    m_statusLabels.append(status);
    layout->addWidget(status);

    layout->addWidget(divider(page));
    m_deviceSection = new QWidget(page);
    auto *section = new QVBoxLayout(m_deviceSection);
    section->setContentsMargins(0, 0, 0, 0);
    section->addWidget(label(L10n::text(u"sync.connectedDevices"_s), Text::subheadline));
    m_deviceRows = new QVBoxLayout;
    section->addLayout(m_deviceRows);
    layout->addWidget(m_deviceSection);
    layout->addWidget(divider(page));

    m_disconnect = new QPushButton(L10n::text(u"sync.disconnect"_s), page);
    m_disconnect->setStyleSheet(u"color: #FF3B30;"_s);
    connect(m_disconnect, &QPushButton::clicked, this, &SyncSettingsView::disconnectSync);
    layout->addWidget(m_disconnect, 0, Qt::AlignLeading);
    layout->addStretch();

    rebuildDeviceRows();
    setStatusMessage({});
    return page;
}

void SyncSettingsView::showLayoutForState()
{
    const SyncState &state = m_adapter.state();
    const auto folderId = state.folderId();
    m_folderIdRow->setVisible(folderId.has_value());
    m_folderId->setText(folderId.value_or(QString()));
    m_pages->setCurrentWidget(state.isPaired() ? m_pairedPage : m_setupPage);
}

bool SyncSettingsView::showsPairedLayout() const
{
    return m_pages->currentWidget() == m_pairedPage;
}

bool SyncSettingsView::eventFilter(QObject *watched, QEvent *event)
{
    // The device list is fresh each time the paired layout comes on screen.
    if (watched == m_pairedPage && event->type() == QEvent::Show)
        runDetached(loadDevices(), u"Loading the paired devices"_s);
    return QWidget::eventFilter(watched, event);
}

QString SyncSettingsView::pairingCode() const
{
    return m_code->text();
}

QString SyncSettingsView::folderName() const
{
    return m_folderName->text();
}

QString SyncSettingsView::digitsOf(const QString &code)
{
    QString digits;
    for (const QChar c : code) {
        if (c.isNumber())
            digits.append(c);
    }
    return digits;
}

QString SyncSettingsView::symbolFor(const PairedDevice &device)
{
    return device.deviceType == "ipad"_L1 ? u"ipad"_s : u"desktopcomputer"_s;
}

void SyncSettingsView::setStatusMessage(const QString &message)
{
    const bool changed = m_statusMessage != message;
    m_statusMessage = message;
    for (QLabel *status : std::as_const(m_statusLabels)) {
        status->setText(message);
        status->setVisible(!message.isEmpty());
    }
    if (changed)
        Q_EMIT statusMessageChanged();
}

void SyncSettingsView::setDevices(const QList<PairedDevice> &devices)
{
    if (m_devices == devices)
        return;
    m_devices = devices;
    rebuildDeviceRows();
    Q_EMIT devicesChanged();
}

void SyncSettingsView::rebuildDeviceRows()
{
    while (QLayoutItem *item = m_deviceRows->takeAt(0)) {
        if (QWidget *row = item->widget())
            row->deleteLater();
        delete item;
    }
    for (const PairedDevice &device : std::as_const(m_devices)) {
        auto *row = new QWidget(m_deviceSection);
        row->setObjectName(u"device-%1"_s.arg(device.id));
        auto *layout = new QHBoxLayout(row);
        layout->setContentsMargins(0, 0, 0, 0);
        auto *icon = new QLabel(row);
        icon->setObjectName(symbolFor(device));
        icon->setPixmap(Icons::symbol(symbolFor(device)).pixmap(14, 14));
        layout->addWidget(icon, 0, Qt::AlignVCenter);
        layout->addWidget(label(device.deviceName, Text::caption, Tone::primary, row), 0,
                          Qt::AlignVCenter);
        layout->addStretch();
        if (device.pairedAt) {
            auto *date = label(*device.pairedAt, Text::caption2, Tone::tertiary, row);
            date->setObjectName(u"pairedAt"_s);
            layout->addWidget(date, 0, Qt::AlignVCenter);
        }
        m_deviceRows->addWidget(row);
    }
    m_deviceSection->setVisible(!m_devices.isEmpty());
}

QCoro::Task<> SyncSettingsView::createFolder()
{
    const QPointer<SyncSettingsView> self(this);
    // A name of blanks is a name: it is not trimmed.
    const QString name = folderName().isEmpty() ? defaultFolderName : folderName();
    QString message;
    try {
        co_await m_adapter.createFolder(name);
        message = L10n::text(u"sync.folderCreated"_s);
    } catch (...) {
        message = syncFailureDescription(std::current_exception());
    }
    if (self)
        setStatusMessage(message);
}

QCoro::Task<> SyncSettingsView::confirmPairing()
{
    const QPointer<SyncSettingsView> self(this);
    const QString digits = digitsOf(pairingCode());
    if (digits.isEmpty())
        co_return;
    std::optional<QString> failure;
    try {
        co_await m_adapter.confirmPairing(digits);
    } catch (...) {
        failure = syncFailureDescription(std::current_exception());
    }
    if (!self)
        co_return;
    if (failure) {
        setStatusMessage(*failure);
        co_return;
    }
    m_code->clear();
    setStatusMessage(L10n::text(u"sync.devicePaired"_s));
    co_await loadDevices();
}

QCoro::Task<> SyncSettingsView::loadDevices()
{
    const QPointer<SyncSettingsView> self(this);
    const SyncState &state = m_adapter.state();
    const auto folderId = state.folderId();
    const auto folderToken = state.folderToken();
    if (!folderId || !folderToken)
        co_return;
    QList<PairedDevice> devices;
    try {
        devices = (co_await m_adapter.client().listDevices(*folderId, *folderToken)).devices;
    } catch (...) {
        // A list that cannot be loaded shows as no list.
    }
    if (self)
        setDevices(devices);
}

void SyncSettingsView::disconnectSync()
{
    m_adapter.state().clear();
    m_adapter.stop();
    setDevices({});
    setStatusMessage({});
}
