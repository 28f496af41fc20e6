#include "Velto/shell/LegalCheckRow.h"

#include "Velto/shell/LegalViewParts.h"
#include "platform/L10n.h"

#include <QCheckBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPainterPath>
#include <QToolButton>

LegalCheckRow::LegalCheckRow(const QString &titleKey, const QColor &accent, QWidget *parent)
    : QWidget(parent)
{
    auto *row = new QHBoxLayout(this);
    row->setContentsMargins(16, 12, 16, 12);
    row->setSpacing(12);
    m_box = new QCheckBox(this);
    m_box->setAccessibleName(L10n::text(titleKey));
    m_box->setAccessibleDescription(
        L10n::text(QStringLiteral("accessibility.legal.checkbox.hint")));
    row->addWidget(m_box);
    // Not the box's own text: clicking the title does not tick the box.
    auto *label = new QLabel(L10n::text(titleKey), this);
    label->setWordWrap(true);
    row->addWidget(label, 1);
    m_details = LegalViewParts::symbolButton(QStringLiteral("info.circle"), accent, this);
    m_details->setToolTip(L10n::text(QStringLiteral("legal.show.details")));
    m_details->setAccessibleName(L10n::text(QStringLiteral("accessibility.legal.details")));
    m_details->setAccessibleDescription(
        L10n::text(QStringLiteral("accessibility.legal.details.hint")));
    row->addWidget(m_details);
}

void LegalCheckRow::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    QPainterPath path;
    path.addRoundedRect(QRectF(rect()), 8, 8);
    painter.fillPath(path, palette().color(QPalette::Base));
}
