#pragma once

#include <QDialog>

class QPlainTextEdit;

// One legal text to read: a title, the text in a scrolling, selectable area, and two ways to
// close it. Shown over the acceptance view for the terms and the privacy statement.
class LegalTextView : public QDialog
{
    Q_OBJECT
public:
    LegalTextView(const QString &titleKey, const QString &content, QWidget *parent = nullptr);

    QPlainTextEdit *textArea() const { return m_text; }

private:
    QPlainTextEdit *m_text;
};
