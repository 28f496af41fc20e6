#include "Velto/shell/LegalInfoType.h"
#include "platform/Icons.h"
#include "platform/L10n.h"

#include <QFile>
#include <QIcon>

#include <gtest/gtest.h>

namespace {

TEST(ShellResources, everyTextAndSymbolTheShellUsesIsBundled)
{
    QStringList keys {
        "content.edited",   "editor.chatHelp",   "editor.outlineHelp", "editor.scrollSyncHelp",
        "history.empty",    "history.openHint",  "history.remove",     "menu.about",
        "menu.edit",        "menu.exportHTML",   "menu.exportPDF",     "menu.file",
        "menu.focusMode",   "menu.help",         "menu.legal",         "menu.newFile",
        "menu.open",        "menu.quit",         "menu.save",          "menu.saveAs",
        "menu.settings",    "menu.view",         "menu.wideMode",      "panel.exportHTML",
        "panel.exportPDF",  "panel.saveAs",      "settings.title",     "sidebar.openHelp",
        "status.chars",     "status.words",      "unsaved.cancel",     "unsaved.detail",
        "unsaved.discard",  "unsaved.message",   "unsaved.save",       "unsaved.title",
        "unsaved.untitled", "edit.undo",         "edit.redo",          "edit.cut",
        "edit.copy",        "edit.paste",        "edit.selectAll",     "edit.find",
        "edit.findNext",    "edit.findPrevious", "edit.replace",       "Sync"};
    for (LegalInfoType type : LegalInfoTypes::allCases())
        keys << LegalInfoTypes::menuKey(type);
    for (const QString &key : keys)
        EXPECT_TRUE(L10n::has(key)) << key.toStdString();

    for (const char *name :
         {"plus", "clock", "trash", "folder", "folder.fill", "exclamationmark.triangle.fill", "doc",
          "doc.text", "doc.richtext", "doc.badge.gearshape", "swift", "list.bullet.indent", "link",
          "link.badge.plus", "sparkles"})
        EXPECT_FALSE(Icons::symbol(QString::fromLatin1(name)).isNull()) << name;
    EXPECT_TRUE(QFile::exists(QStringLiteral(":/app/velto.svg")));
}

} // namespace
