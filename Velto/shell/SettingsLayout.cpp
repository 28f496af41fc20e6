#include "Velto/shell/SettingsLayout.h"

#include "Velto/shell/ShellStyle.h"
#include "platform/L10n.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QVBoxLayout>

#include <algorithm>

using namespace ShellStyle;

namespace SettingsLayout {

QVBoxLayout *column(QWidget *tab, int spacing)
{
    auto *layout = new QVBoxLayout(tab);
    layout->setContentsMargins(20, 20, 20, 20);
    layout->setSpacing(spacing);
    return layout;
}

QHBoxLayout *labelledRow(QVBoxLayout *column, const QString &labelKey, QWidget *parent,
                         QLabel **label)
{
    auto *row = new QHBoxLayout;
    row->setSpacing(8);
    auto *title = new QLabel(L10n::text(labelKey), parent);
    row->addWidget(title);
    column->addLayout(row);
    if (label)
        *label = title;
    return row;
}

void alignLabels(const QList<QLabel *> &labels)
{
    int width = 0;
    for (QLabel *label : labels)
        width = std::max(width, label->sizeHint().width());
    for (QLabel *label : labels)
        label->setMinimumWidth(width);
}

QLabel *caption(const QString &text, QWidget *parent)
{
    return ShellStyle::label(text, TextStyle::caption, Foreground::secondary, parent);
}

QLabel *heading(const QString &text, QWidget *parent)
{
    auto *label = new QLabel(text, parent);
    QFont f = font(TextStyle::subheadline, parent->font());
    f.setBold(true);
    label->setFont(f);
    return label;
}

} // namespace SettingsLayout
