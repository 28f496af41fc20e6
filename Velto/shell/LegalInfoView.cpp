#include "Velto/shell/LegalInfoView.h"

#include "Velto/shell/LegalViewParts.h"
#include "platform/L10n.h"

#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QPlainTextEdit>
#include <QToolButton>
#include <QVBoxLayout>

using namespace ShellStyle;
using namespace LegalViewParts;

LegalInfoView::LegalInfoView(LegalInfoType type, QWidget *parent)
    : QDialog(parent)
    , m_type(type)
{
    setWindowTitle(L10n::text(LegalInfoTypes::menuKey(type)));
    setFixedSize(520, 500);
    auto *root = new QVBoxLayout(this);
    root->setContentsMargins(0, 0, 0, 0);
    root->setSpacing(0);
    auto *header = new QHBoxLayout;
    header->setContentsMargins(standardPadding, standardPadding, standardPadding, standardPadding);
    m_title = new QLabel(L10n::text(LegalInfoTypes::menuKey(type)), this);
    m_title->setFont(semibold(TextStyle::title2, m_title->font()));
    header->addWidget(m_title);
    header->addStretch();
    // A window-modal dialog has no close control of the window manager everywhere; this one
    // brings its own, like the detail sheets.
    QToolButton *close = symbolButton(QStringLiteral("xmark.circle.fill"),
                                      foreground(Foreground::secondary, palette()), this);
    close->setObjectName(QStringLiteral("close"));
    close->setAccessibleName(L10n::text(QStringLiteral("legal.button.close")));
    close->setToolTip(close->accessibleName());
    connect(close, &QToolButton::clicked, this, &QDialog::accept);
    header->addWidget(close);
    root->addLayout(header);
    root->addWidget(divider(this));
    m_text = legalTextArea(L10n::text(LegalInfoTypes::contentKey(type)), this);
    root->addWidget(m_text, 1);
}
