#include "Velto/shell/LegalTextView.h"

#include "Velto/shell/LegalViewParts.h"
#include "platform/L10n.h"

#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QToolButton>
#include <QVBoxLayout>

using namespace ShellStyle;
using namespace LegalViewParts;

LegalTextView::LegalTextView(const QString &titleKey, const QString &content, QWidget *parent)
    : QDialog(parent)
{
    setWindowTitle(L10n::text(titleKey));
    setFixedSize(500, 500);
    auto *root = new QVBoxLayout(this);
    root->setContentsMargins(0, 0, 0, 0);
    root->setSpacing(0);

    auto *header = new QWidget(this);
    header->setAutoFillBackground(true);
    header->setBackgroundRole(QPalette::Window);
    auto *headerRow = new QHBoxLayout(header);
    headerRow->setContentsMargins(standardPadding, standardPadding, standardPadding,
                                  standardPadding);
    auto *title = new QLabel(L10n::text(titleKey), header);
    title->setFont(ShellStyle::font(TextStyle::headline, title->font()));
    title->setWordWrap(true);
    headerRow->addWidget(title, 1);
    QToolButton *close = symbolButton(QStringLiteral("xmark.circle.fill"),
                                      foreground(Foreground::secondary, palette()), header);
    close->setAccessibleName(L10n::text(QStringLiteral("legal.button.close")));
    close->setToolTip(close->accessibleName());
    headerRow->addWidget(close);
    root->addWidget(header);
    root->addWidget(divider(this));

    m_text = legalTextArea(content, this);
    root->addWidget(m_text, 1);
    root->addWidget(divider(this));

    auto *footer = new QHBoxLayout;
    footer->setContentsMargins(standardPadding, standardPadding, standardPadding, standardPadding);
    footer->addStretch();
    auto *done = new QPushButton(L10n::text(QStringLiteral("legal.button.close")), this);
    done->setDefault(true);
    footer->addWidget(done);
    root->addLayout(footer);

    connect(close, &QToolButton::clicked, this, &QDialog::accept);
    connect(done, &QPushButton::clicked, this, &QDialog::accept);
}
