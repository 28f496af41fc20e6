#pragma once

#include <QIcon>
#include <QString>

// Symbol images addressed by name ("folder.fill", "sparkles"): SVGs bundled under
// resources/icons/<name>.svg. An unknown name gives a null icon.
class Icons
{
public:
    static QIcon symbol(const QString &name);
    static bool exists(const QString &name);
};
