#pragma once

#include "Velto/model/EditorTheme.h"

#include <QList>
#include <QWidget>

class AppSettings;

// One theme of the design tab: a swatch with "Abc" in the theme's colours, the theme's name, and
// a checkmark while it is the chosen theme. A click anywhere on the row chooses it.
class ThemeRow : public QWidget
{
    Q_OBJECT
public:
    ThemeRow(const EditorTheme &theme, AppSettings &settings, QWidget *parent = nullptr);

    const EditorTheme &theme() const { return m_theme; }
    bool isSelected() const;

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;

private:
    EditorTheme m_theme;
    AppSettings &m_settings;
};

// The design tab: one row per built-in theme, in the order standard, sepia, night.
class ThemePickerView : public QWidget
{
    Q_OBJECT
public:
    explicit ThemePickerView(AppSettings &settings, QWidget *parent = nullptr);

    QList<ThemeRow *> rows() const { return m_rows; }

private:
    QList<ThemeRow *> m_rows;
};
