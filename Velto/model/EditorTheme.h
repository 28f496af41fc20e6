#pragma once

#include <QColor>
#include <QList>
#include <QPalette>
#include <QString>

#include <variant>

// A theme colour: a fixed colour, or a role of the application palette that is looked up when
// used, so it follows the light or dark appearance.
class ThemeColor
{
public:
    static ThemeColor fixed(const QColor &color);
    static ThemeColor role(QPalette::ColorRole role);

    // The colour now, from the application palette for a role.
    QColor color() const;
    QColor color(const QPalette &palette) const;
    operator QColor() const { return color(); }

    bool isRole() const { return std::holds_alternative<QPalette::ColorRole>(m_value); }

    friend bool operator==(const ThemeColor &a, const ThemeColor &b)
    {
        return a.m_value == b.m_value;
    }
    friend bool operator!=(const ThemeColor &a, const ThemeColor &b) { return !(a == b); }

private:
    explicit ThemeColor(std::variant<QColor, QPalette::ColorRole> value)
        : m_value(std::move(value))
    {
    }
    std::variant<QColor, QPalette::ColorRole> m_value;
};

// One of the built-in colour themes: the editor's background and text colours and the CSS the
// preview adds. Themes are values; two are equal when all five fields are.
struct EditorTheme
{
    QString id; // stored under "themeID"
    QString name; // localized once, when the built-in theme is made
    ThemeColor editorBg;
    ThemeColor editorText;
    QString previewExtraCSS;

    static const EditorTheme &standard();
    static const EditorTheme &sepia();
    static const EditorTheme &night();
    // standard, sepia, night: the order of the design tab.
    static const QList<EditorTheme> &all();

    friend bool operator==(const EditorTheme &a, const EditorTheme &b);
    friend bool operator!=(const EditorTheme &a, const EditorTheme &b) { return !(a == b); }
};
