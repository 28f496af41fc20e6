#include "Velto/shell/LegalViewParts.h"

#include <QFrame>
#include <QPlainTextEdit>
#include <QTextDocument>
#include <QToolButton>

namespace LegalViewParts {

QFrame *divider(QWidget *parent)
{
    auto *line = new QFrame(parent);
    line->setFrameShape(QFrame::HLine);
    line->setFrameShadow(QFrame::Sunken);
    return line;
}

QFont semibold(ShellStyle::TextStyle style, const QFont &base)
{
    QFont f = ShellStyle::font(style, base);
    f.setWeight(QFont::DemiBold);
    return f;
}

QPlainTextEdit *legalTextArea(const QString &content, QWidget *parent)
{
    auto *text = new QPlainTextEdit(parent);
    text->setReadOnly(true);
    text->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    text->setFrameShape(QFrame::NoFrame);
    text->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    text->document()->setDocumentMargin(standardPadding);
    text->setPlainText(content);
    return text;
}

QToolButton *symbolButton(const QString &symbol, const QColor &color, QWidget *parent)
{
    auto *button = new QToolButton(parent);
    button->setAutoRaise(true);
    const int side = button->fontMetrics().height() + 4;
    button->setIcon(
        QIcon(ShellStyle::tintedSymbol(symbol, side, color, parent->devicePixelRatioF())));
    button->setIconSize(QSize(side, side));
    return button;
}

} // namespace LegalViewParts
