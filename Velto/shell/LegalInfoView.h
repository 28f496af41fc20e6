#pragma once

#include "Velto/shell/LegalInfoType.h"

#include <QDialog>

class QLabel;
class QPlainTextEdit;

// One of the four legal texts, chosen in the Help menu; closed with Escape or the window's
// close button.
class LegalInfoView : public QDialog
{
    Q_OBJECT
public:
    explicit LegalInfoView(LegalInfoType type, QWidget *parent = nullptr);

    LegalInfoType type() const { return m_type; }
    QLabel *titleLabel() const { return m_title; }
    QPlainTextEdit *textArea() const { return m_text; }

private:
    LegalInfoType m_type;
    QLabel *m_title;
    QPlainTextEdit *m_text;
};
