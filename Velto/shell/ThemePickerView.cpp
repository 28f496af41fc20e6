#include "Velto/shell/ThemePickerView.h"

#include "Velto/model/AppSettings.h"
#include "Velto/shell/SettingsLayout.h"
#include "Velto/shell/ShellStyle.h"
#include "platform/L10n.h"

#include <QFontDatabase>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QVBoxLayout>

using namespace ShellStyle;

namespace {
constexpr QSize swatchSize {64, 38};
constexpr int spacing = 12;
constexpr int checkSide = 18;
constexpr int padV = 4;
constexpr int padH = 8;
} // namespace

ThemeRow::ThemeRow(const EditorTheme &theme, AppSettings &settings, QWidget *parent)
    : QWidget(parent)
    , m_theme(theme)
    , m_settings(settings)
{
    setAccessibleName(theme.name);
    setCursor(Qt::PointingHandCursor);
    connect(&settings, &AppSettings::themeIDChanged, this, qOverload<>(&QWidget::update));
}

bool ThemeRow::isSelected() const
{
    return m_settings.themeID() == m_theme.id;
}

QSize ThemeRow::sizeHint() const
{
    const int text = fontMetrics().horizontalAdvance(m_theme.name);
    return {padH + swatchSize.width() + spacing + text + spacing + checkSide + padH,
            padV + swatchSize.height() + padV};
}

void ThemeRow::paintEvent(QPaintEvent *)
{
    const bool selected = isSelected();
    const QColor accent = palette().color(QPalette::Highlight);
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);

    QPainterPath clip;
    clip.addRoundedRect(QRectF(rect()), 8, 8);
    painter.setClipPath(clip);
    if (selected) {
        QColor tint = accent;
        tint.setAlphaF(0.08);
        painter.fillRect(rect(), tint);
    }

    const QRectF swatch(padH, (height() - swatchSize.height()) / 2.0, swatchSize.width(),
                        swatchSize.height());
    QPainterPath swatchPath;
    swatchPath.addRoundedRect(swatch, 6, 6);
    painter.fillPath(swatchPath, m_theme.editorBg.color(palette()));
    QFont mono = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    mono.setPixelSize(13);
    painter.setFont(mono);
    painter.setPen(m_theme.editorText.color(palette()));
    painter.drawText(swatch, Qt::AlignCenter, L10n::text(QStringLiteral("Abc")));
    QColor stroke = selected ? accent : foreground(Foreground::secondary, palette());
    if (!selected)
        stroke.setAlphaF(0.3);
    painter.setPen(QPen(stroke, selected ? 2 : 1));
    painter.setBrush(Qt::NoBrush);
    painter.drawPath(swatchPath);

    const int textLeft = int(swatch.right()) + spacing;
    painter.setFont(font());
    painter.setPen(palette().color(QPalette::WindowText));
    const QRect textRect(textLeft, 0, width() - textLeft - padH - checkSide - spacing, height());
    painter.drawText(textRect, Qt::AlignLeft | Qt::AlignVCenter, m_theme.name);

    if (selected) {
        const QPixmap check = tintedSymbol(QStringLiteral("checkmark.circle.fill"), checkSide,
                                           Colors::blue, devicePixelRatioF());
        painter.drawPixmap(width() - padH - checkSide, (height() - checkSide) / 2, check);
    }
}

void ThemeRow::mouseReleaseEvent(QMouseEvent *event)
{
    if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint()))
        m_settings.setThemeID(m_theme.id);
}

ThemePickerView::ThemePickerView(AppSettings &settings, QWidget *parent)
    : QWidget(parent)
{
    QVBoxLayout *column = SettingsLayout::column(this, 12);
    for (const EditorTheme &theme : EditorTheme::all()) {
        auto *row = new ThemeRow(theme, settings, this);
        m_rows.append(row);
        column->addWidget(row);
    }
    column->addStretch();
}
