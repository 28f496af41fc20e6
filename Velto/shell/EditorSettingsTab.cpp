#include "Velto/shell/EditorSettingsTab.h"

#include "Velto/model/AppSettings.h"
#include "Velto/shell/SettingsLayout.h"
#include "platform/L10n.h"

#include <QCheckBox>
#include <QComboBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>

FontSizeStepper::FontSizeStepper(AppSettings &settings, QWidget *parent)
    : QAbstractSpinBox(parent)
    , m_settings(settings)
{
    lineEdit()->setReadOnly(true);
    setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    setAccessibleName(L10n::text(QStringLiteral("settings.fontSize")));
    connect(&settings, &AppSettings::fontSizeChanged, this, &FontSizeStepper::refresh);
    refresh();
}

void FontSizeStepper::stepBy(int steps)
{
    const double size = m_settings.fontSize();
    m_settings.setFontSize(std::clamp(size + steps, minimum, maximum));
}

QAbstractSpinBox::StepEnabled FontSizeStepper::stepEnabled() const
{
    const double size = m_settings.fontSize();
    StepEnabled enabled = StepNone;
    if (size < maximum)
        enabled |= StepUpEnabled;
    if (size > minimum)
        enabled |= StepDownEnabled;
    return enabled;
}

void FontSizeStepper::refresh()
{
    const double size = m_settings.fontSize();
    const qint64 whole = std::isfinite(size) ? qint64(std::trunc(size)) : 0;
    lineEdit()->setText(L10n::format(QStringLiteral("%lld pt"), {whole}));
    update();
}

EditorSettingsTab::EditorSettingsTab(AppSettings &settings, const QStringList &fonts,
                                     QWidget *parent)
    : QWidget(parent)
    , m_settings(settings)
{
    QVBoxLayout *column = SettingsLayout::column(this, 16);
    QList<QLabel *> labels(3);

    QHBoxLayout *fontRow
        = SettingsLayout::labelledRow(column, QStringLiteral("settings.font"), this, &labels[0]);
    m_font = new QComboBox(this);
    m_font->setFixedWidth(160);
    m_font->addItems(fonts); // font names are shown as they are, never translated
    m_font->setAccessibleName(labels[0]->text());
    fontRow->addWidget(m_font);
    fontRow->addStretch();

    QHBoxLayout *sizeRow = SettingsLayout::labelledRow(column, QStringLiteral("settings.fontSize"),
                                                       this, &labels[1]);
    m_size = new FontSizeStepper(settings, this);
    m_size->setFixedWidth(90);
    sizeRow->addWidget(m_size);
    sizeRow->addStretch();

    QHBoxLayout *wideRow
        = SettingsLayout::labelledRow(column, QStringLiteral("menu.wideMode"), this, &labels[2]);
    m_wide = new QCheckBox(this);
    m_wide->setAccessibleName(labels[2]->text());
    wideRow->addWidget(m_wide);
    wideRow->addStretch();
    column->addStretch();
    SettingsLayout::alignLabels(labels);

    // Only what the user does is written; showing the tab or following the settings never is.
    connect(m_font, &QComboBox::activated, this,
            [this](int index) { m_settings.setFontName(m_font->itemText(index)); });
    connect(m_wide, &QCheckBox::clicked, &settings, &AppSettings::setIsWideMode);
    connect(&settings, &AppSettings::fontNameChanged, this, &EditorSettingsTab::refresh);
    connect(&settings, &AppSettings::isWideModeChanged, this, &EditorSettingsTab::refresh);
    refresh();
}

void EditorSettingsTab::refresh()
{
    const QSignalBlocker fontBlock(m_font);
    m_font->setCurrentIndex(m_font->findText(m_settings.fontName(), Qt::MatchExactly));
    m_wide->setChecked(m_settings.isWideMode());
}
