#pragma once

#include "Velto/shell/ShellStyle.h"

#include <QFont>

class QColor;
class QFrame;
class QPlainTextEdit;
class QString;
class QToolButton;
class QWidget;

// Pieces the acceptance, text and information views share, so the three look alike.
namespace LegalViewParts {

constexpr int standardPadding = 12;

QFrame *divider(QWidget *parent);
QFont semibold(ShellStyle::TextStyle style, const QFont &base);
// A legal text: plain, selectable, scrolling, in the body font.
QPlainTextEdit *legalTextArea(const QString &content, QWidget *parent);
QToolButton *symbolButton(const QString &symbol, const QColor &color, QWidget *parent);

} // namespace LegalViewParts
