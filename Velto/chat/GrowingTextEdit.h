#pragma once

#include <QPlainTextEdit>

// The chat's message field: borderless, one line high at first and growing with its text up to
// five lines, scrolling beyond. Return submits; Shift+Return starts a new line.
class GrowingTextEdit : public QPlainTextEdit
{
    Q_OBJECT

public:
    explicit GrowingTextEdit(QWidget *parent = nullptr);

    static constexpr int maximumLines = 5;

    // The lines the field shows now (1 to maximumLines).
    int visibleLines() const { return m_visibleLines; }

signals:
    void submitted();

protected:
    void keyPressEvent(QKeyEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;

private:
    void fitHeight();

    int m_visibleLines = 1;
};
