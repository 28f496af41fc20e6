#pragma once

#include "core/model/OutlineItem.h"

#include <QAbstractButton>
#include <QList>
#include <QWidget>

#include <functional>
#include <vector>

class QLabel;
class QScrollArea;
class QStackedWidget;
class QToolButton;
class QVBoxLayout;

// One line of text cut with an ellipsis to the width it gets.
class ElidedText : public QWidget
{
    Q_OBJECT
public:
    explicit ElidedText(QWidget *parent = nullptr);

    QString text() const { return m_text; }
    void setText(const QString &text);
    // The text as drawn at the current width.
    QString displayedText() const;

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QString m_text;
};

// One heading of the outline: level dots, then the title; clicking it selects the heading.
class OutlineRow : public QAbstractButton
{
    Q_OBJECT
public:
    explicit OutlineRow(QWidget *parent = nullptr);

    void setItem(int level, const QString &title, int line);
    int level() const { return m_level; }
    int line() const { return m_line; }
    QLabel *dotsLabel() const { return m_dots; }
    ElidedText *titleText() const { return m_title; }

protected:
    void paintEvent(QPaintEvent *event) override;
    void enterEvent(QEnterEvent *event) override;
    void leaveEvent(QEvent *event) override;

private:
    QLabel *m_dots;
    ElidedText *m_title;
    int m_level = 0;
    int m_line = 0;
    bool m_hovered = false;
};

// The narrow panel beside the editor listing the document's headings. It keeps no state of its
// own beyond the items it was given: choosing a heading reports its source line, the close button
// asks to hide the panel.
class OutlinePanelView : public QWidget
{
    Q_OBJECT
public:
    explicit OutlinePanelView(QWidget *parent = nullptr);

    // Rebuilds the rows only when levels, titles or lines differ from the shown ones, so it can
    // be called on every keystroke.
    void setItems(const QList<OutlineItem> &items);
    const QList<OutlineItem> &items() const { return m_items; }

    std::function<void(int line)> onSelect;
    std::function<void()> onClose;

    QToolButton *closeButton() const { return m_closeButton; }
    QLabel *emptyLabel() const { return m_emptyLabel; }
    QLabel *titleLabel() const { return m_titleLabel; }
    int rowCount() const { return int(m_rows.size()); }
    OutlineRow *row(int index) const { return m_rows.at(size_t(index)); }
    // Whether the list (rather than the empty text) is shown.
    bool showsList() const;

private:
    void rebuild();

    QList<OutlineItem> m_items;
    std::vector<OutlineRow *> m_rows;
    QLabel *m_titleLabel;
    QToolButton *m_closeButton;
    QStackedWidget *m_stack;
    QLabel *m_emptyLabel;
    QScrollArea *m_scroll;
    QWidget *m_listWidget;
    QVBoxLayout *m_listLayout;
};
