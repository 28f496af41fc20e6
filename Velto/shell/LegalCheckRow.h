#pragma once

#include <QWidget>

class QCheckBox;
class QToolButton;

// One row of the acceptance view: a box to tick, its title beside it, and a button that opens
// the text in full. Painted as a rounded panel on the control background.
class LegalCheckRow : public QWidget
{
    Q_OBJECT
public:
    LegalCheckRow(const QString &titleKey, const QColor &accent, QWidget *parent);

    QCheckBox *checkBox() const { return m_box; }
    QToolButton *detailsButton() const { return m_details; }

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QCheckBox *m_box;
    QToolButton *m_details;
};
