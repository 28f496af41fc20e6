#pragma once

#include <QFrame>

class QLineEdit;

// The floating field for a free AI instruction (Ctrl+J), shown over the editor below the text it
// is about. It only collects the instruction: Return asks for it to be sent, Escape for the
// prompt to close; its owner does both.
class InlinePrompt : public QFrame
{
    Q_OBJECT

public:
    // forSelection picks the placeholder: an instruction about the selected text, or a free one.
    InlinePrompt(bool forSelection, QWidget *parent);

    QLineEdit *field() const { return m_field; }

signals:
    void submitRequested();
    void dismissRequested();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    QLineEdit *m_field = nullptr;
};
