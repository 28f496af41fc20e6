#pragma once

#include <QByteArray>
#include <QString>

#include <optional>

// The web assets (script libraries, style sheets, fonts) copied into the build by CMake and
// installed next to the executable. Looked up by flat file name ("katex.min.js").
class Resources
{
public:
    // The folder holding the web assets: "<exe dir>/resources/web" when present, else the build
    // tree's folder. Tests may point it elsewhere (an empty folder simulates missing assets).
    static QString webDir();
    static void setWebDir(const QString &dir);

    static QString webPath(const QString &fileName);
    static std::optional<QByteArray> readWebFile(const QString &fileName);
};
