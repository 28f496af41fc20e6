#pragma once

#include <QRect>
#include <QScrollBar>

// The editor's vertical scroll bar. In a long text its range is many thousands of lines, and
// most keystrokes that change it (a line that wraps, a new line) move the slider by less than a
// pixel. A plain scroll bar repaints itself, and every widget behind it, on each such change;
// this one repaints only when what it shows changes: the slider's place or length, or whether
// an end is reached.
class EditorScrollBar : public QScrollBar
{
public:
    explicit EditorScrollBar(QWidget *parent = nullptr);

protected:
    void sliderChange(SliderChange change) override;
    void paintEvent(QPaintEvent *event) override;

private:
    struct Look
    {
        QRect slider;
        bool atMinimum = false;
        bool atMaximum = false;
        bool operator==(const Look &) const = default;
    };

    Look look() const;

    Look m_shown; // as last painted
};
