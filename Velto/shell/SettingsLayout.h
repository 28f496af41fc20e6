#pragma once

#include <QList>
#include <QString>

class QHBoxLayout;
class QLabel;
class QVBoxLayout;
class QWidget;

// The building blocks the settings tabs share: a leading-aligned column inset 20 on every side,
// rows with a localized label on the leading side, and the caption and heading texts.
namespace SettingsLayout {

QVBoxLayout *column(QWidget *tab, int spacing);
// Adds a row to the column holding the label (a localization key); the caller adds the
// controls to the returned layout.
QHBoxLayout *labelledRow(QVBoxLayout *column, const QString &labelKey, QWidget *parent,
                         QLabel **label = nullptr);
// Gives every label the width of the widest, so the controls after them line up.
void alignLabels(const QList<QLabel *> &labels);

// Caption font in the secondary colour, wrapping.
QLabel *caption(const QString &text, QWidget *parent);
// Subheadline font, bold.
QLabel *heading(const QString &text, QWidget *parent);

} // namespace SettingsLayout
