#include "Velto/shell/AISettingsTab.h"

#include "Velto/shell/SettingsLayout.h"
#include "Velto/shell/ShellStyle.h"
#include "core/ai/AISettings.h"
#include "platform/L10n.h"

#include <QComboBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QVBoxLayout>

using namespace ShellStyle;

namespace {

constexpr int fieldWidth = 260;

// A row that can be left out as a whole: the label, then the control.
QWidget *labelledField(QVBoxLayout *column, const QString &labelKey, QWidget *control,
                       QList<QLabel *> &labels)
{
    auto *row = new QWidget(column->parentWidget());
    auto *layout = new QHBoxLayout(row);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(8);
    auto *label = new QLabel(L10n::text(labelKey), row);
    labels.append(label);
    control->setParent(row);
    control->setAccessibleName(label->text());
    layout->addWidget(label);
    layout->addWidget(control);
    layout->addStretch();
    column->addWidget(row);
    return row;
}

// Writes a field's text to the settings on every edit by the user, and shows the settings'
// value when something else changed it (without moving the caret while they agree).
void bindText(QLineEdit *field, AISettings &settings, QString (AISettings::*get)() const,
              void (AISettings::*set)(const QString &), void (AISettings::*changed)())
{
    QObject::connect(field, &QLineEdit::textEdited, &settings,
                     [&settings, set](const QString &text) { (settings.*set)(text); });
    auto show = [field, &settings, get] {
        if (field->text() != (settings.*get)())
            field->setText((settings.*get)());
    };
    QObject::connect(&settings, changed, field, show);
    show();
}

} // namespace

AISettingsTab::AISettingsTab(AISettings &settings, QWidget *parent)
    : QWidget(parent)
    , m_settings(settings)
{
    QVBoxLayout *column = SettingsLayout::column(this, 16);
    QList<QLabel *> labels;

    m_provider = new QComboBox;
    m_provider->setFixedWidth(160);
    for (AIProviderType provider : AIProviderTypes::allCases())
        m_provider->addItem(AIProviderTypes::displayName(provider), QVariant::fromValue(provider));
    labelledField(column, QStringLiteral("Provider"), m_provider, labels);

    m_description = SettingsLayout::caption({}, this);
    column->addWidget(m_description);

    m_guideRow = new QWidget(this);
    auto *guide = new QHBoxLayout(m_guideRow);
    guide->setContentsMargins(0, 0, 0, 0);
    guide->setSpacing(4);
    auto *info = new QLabel(m_guideRow);
    info->setPixmap(tintedSymbol(QStringLiteral("info.circle"), 12,
                                 foreground(Foreground::secondary, palette()),
                                 devicePixelRatioF()));
    QLabel *link = SettingsLayout::caption(
        QStringLiteral("<a href=\"%1\">%2</a>")
            .arg(ollamaGuideURL,
                 L10n::text(QStringLiteral("settings.ollamaGuide")).toHtmlEscaped()),
        m_guideRow);
    link->setTextFormat(Qt::RichText);
    link->setOpenExternalLinks(true);
    link->setPalette(palette());
    guide->addWidget(info);
    guide->addWidget(link, 1);
    column->addWidget(m_guideRow);

    m_key = new QLineEdit;
    m_key->setEchoMode(QLineEdit::Password);
    m_key->setFixedWidth(fieldWidth);
    QWidget *keyField = labelledField(column, QStringLiteral("API-Key"), m_key, labels);
    // The key row and the text that refuses a key come and go together.
    m_keyRow = new QWidget(this);
    auto *keyLayout = new QVBoxLayout(m_keyRow);
    keyLayout->setContentsMargins(0, 0, 0, 0);
    keyLayout->setSpacing(4);
    column->replaceWidget(keyField, m_keyRow);
    keyField->setParent(m_keyRow);
    keyLayout->addWidget(keyField);
    m_keyProblem
        = SettingsLayout::caption(L10n::text(QStringLiteral("settings.apiKeyInvalid")), m_keyRow);
    QPalette problem = m_keyProblem->palette();
    problem.setColor(QPalette::WindowText, Colors::red);
    m_keyProblem->setPalette(problem);
    m_keyProblem->hide();
    keyLayout->addWidget(m_keyProblem);

    m_model = new QLineEdit;
    m_model->setFixedWidth(fieldWidth);
    m_modelRow = labelledField(column, QStringLiteral("settings.model"), m_model, labels);
    m_endpoint = new QLineEdit;
    m_endpoint->setFixedWidth(fieldWidth);
    m_endpointRow = labelledField(column, QStringLiteral("Endpoint"), m_endpoint, labels);

    auto *status = new QHBoxLayout;
    status->setSpacing(6);
    m_dot = new StatusDot(8, this);
    m_status = SettingsLayout::caption({}, this);
    status->addWidget(m_dot);
    status->addWidget(m_status, 1);
    column->addLayout(status);
    column->addStretch();
    SettingsLayout::alignLabels(labels);

    connect(m_provider, &QComboBox::activated, this, &AISettingsTab::chooseProvider);
    connect(m_key, &QLineEdit::textEdited, this, &AISettingsTab::editKey);
    bindText(m_model, settings, &AISettings::model, &AISettings::setModel,
             &AISettings::modelChanged);
    bindText(m_endpoint, settings, &AISettings::endpoint, &AISettings::setEndpoint,
             &AISettings::endpointChanged);
    connect(&settings, &AISettings::providerChanged, this, &AISettingsTab::showProvider);
    connect(&settings, &AISettings::apiKeyChanged, this, &AISettingsTab::showKey);
    showProvider();
    showKey();
}

void AISettingsTab::chooseProvider(int index)
{
    const auto provider = m_provider->itemData(index).value<AIProviderType>();
    if (provider == m_settings.provider())
        return;
    // A new provider starts from its own default model and endpoint; the key stays.
    m_settings.setProvider(provider);
    m_settings.setModel(QString());
    m_settings.setEndpoint(QString());
}

void AISettingsTab::editKey(const QString &text)
{
    const bool valid = AISettings::isValidAPIKey(text);
    m_keyProblem->setVisible(!valid);
    if (valid)
        m_settings.setApiKey(text);
}

void AISettingsTab::showProvider()
{
    const AIProviderType provider = m_settings.provider();
    {
        const QSignalBlocker block(m_provider);
        m_provider->setCurrentIndex(m_provider->findData(QVariant::fromValue(provider)));
    }
    m_description->setText(AIProviderTypes::descriptionKey(provider));
    m_guideRow->setVisible(provider == AIProviderType::ollama);
    m_keyRow->setVisible(AIProviderTypes::needsAPIKey(provider));
    const bool overrides = provider != AIProviderType::veltoKI;
    m_modelRow->setVisible(overrides);
    m_endpointRow->setVisible(overrides);
    m_model->setPlaceholderText(AIProviderTypes::defaultModel(provider));
    m_endpoint->setPlaceholderText(AIProviderTypes::defaultEndpoint(provider));
    showStatus();
}

void AISettingsTab::showKey()
{
    if (m_key->text() != m_settings.apiKey()) {
        m_key->setText(m_settings.apiKey());
        m_keyProblem->hide();
    }
    showStatus();
}

void AISettingsTab::showStatus()
{
    const bool ready = m_settings.isConfigured();
    m_dot->setColor(ready ? Colors::green : Colors::red);
    m_status->setText(L10n::text(ready ? QStringLiteral("settings.ready")
                                       : QStringLiteral("settings.apiKeyRequired")));
}
