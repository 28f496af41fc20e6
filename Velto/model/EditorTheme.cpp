#include "Velto/model/EditorTheme.h"

#include "platform/L10n.h"

#include <QGuiApplication>

ThemeColor ThemeColor::fixed(const QColor &color)
{
    return ThemeColor(color);
}

ThemeColor ThemeColor::role(QPalette::ColorRole role)
{
    return ThemeColor(role);
}

QColor ThemeColor::color() const
{
    return color(QGuiApplication::palette());
}

QColor ThemeColor::color(const QPalette &palette) const
{
    if (const auto *role = std::get_if<QPalette::ColorRole>(&m_value))
        return palette.color(QPalette::Active, *role);
    return std::get<QColor>(m_value);
}

namespace {

EditorTheme makeTheme(const QString &id, const char *nameKey, ThemeColor bg, ThemeColor text,
                      const QString &css)
{
    return EditorTheme {id, L10n::text(QString::fromLatin1(nameKey)), std::move(bg),
                        std::move(text), css};
}

} // namespace

const EditorTheme &EditorTheme::standard()
{
    return all().at(0);
}

const EditorTheme &EditorTheme::sepia()
{
    return all().at(1);
}

const EditorTheme &EditorTheme::night()
{
    return all().at(2);
}

const QList<EditorTheme> &EditorTheme::all()
{
    static const QList<EditorTheme> themes {
        makeTheme(QStringLiteral("standard"), "theme.standard", ThemeColor::role(QPalette::Base),
                  ThemeColor::role(QPalette::Text), QString()),
        makeTheme(QStringLiteral("sepia"), "theme.sepia",
                  ThemeColor::fixed(QColor::fromRgbF(0.98f, 0.95f, 0.90f, 1.0f)),
                  ThemeColor::fixed(QColor::fromRgbF(0.30f, 0.22f, 0.15f, 1.0f)),
                  QStringLiteral("body{background:#FAF3E6;color:#4D3826;} a{color:#8B5E3C;}")),
        makeTheme(QStringLiteral("night"), "theme.night",
                  ThemeColor::fixed(QColor::fromRgbF(0.10f, 0.10f, 0.18f, 1.0f)),
                  ThemeColor::fixed(QColor::fromRgbF(0.85f, 0.85f, 0.90f, 1.0f)),
                  QStringLiteral("body{background:#1A1A2E;color:#D8D8E0;} a{color:#6FA3EF;} "
                                 "pre,code{background:rgba(255,255,255,0.06);} "
                                 "th{background:rgba(255,255,255,0.04);}")),
    };
    return themes;
}

bool operator==(const EditorTheme &a, const EditorTheme &b)
{
    return a.id == b.id && a.name == b.name && a.editorBg == b.editorBg
        && a.editorText == b.editorText && a.previewExtraCSS == b.previewExtraCSS;
}
