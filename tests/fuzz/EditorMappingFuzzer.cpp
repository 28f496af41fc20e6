// Edits from both sides of the editor's text mapping, as the input dictates: after each one the
// editor copy must still give the workspace text back, offsets must map back and forth, and the
// copy must show the lines a fresh open of the workspace text shows (split as that open splits
// them while only changes from elsewhere came in).
#include "FuzzInput.h"

#include "Velto/editor/EditorTextMapping.h"

#include <QStringList>

using namespace Qt::StringLiterals;

namespace {

// The line breaks the mapping exists for, and the characters next to them that it must leave.
const QStringList &pieces()
{
    static const QStringList all {u"a"_s,      u"bc"_s,     u"\n"_s,        u"\r\n"_s,
                                  u"\r"_s,     u"\u2029"_s, u"\uFDD0"_s,    u"\uFDD1"_s,
                                  u"\u00A0"_s, u"\u2028"_s, u"\U0001F600"_s};
    return all;
}

QString piecesText(fuzz::Reader &in)
{
    QString text;
    for (int n = in.byte() % 4; n > 0; --n)
        text += pieces()[in.byte() % pieces().size()];
    return text;
}

void apply(QString &text, const EditorTextMapping::Edit &edit)
{
    fuzz::check(edit.position >= 0 && edit.removed >= 0
                    && edit.position + edit.removed <= text.size(),
                "edits lie inside their text");
    text.replace(edit.position, edit.removed, edit.text);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    fuzz::Reader in(data, size);
    // Now and then with lines split after a few characters, as long lines are.
    const bool shortLines = in.byte() % 2;
    const auto fresh
        = [shortLines] { return shortLines ? EditorTextMapping(6, 3) : EditorTextMapping(); };
    EditorTextMapping mapping = fresh();
    QString workspace;
    for (int n = in.byte() % 32; n > 0; --n)
        workspace += pieces()[in.byte() % pieces().size()];
    QString copy = mapping.reset(workspace);
    bool onlyRemote = true;

    while (!in.atEnd()) {
        const uint8_t kind = in.byte();
        if (kind % 2 == 0) {
            // Typed into the editor, which holds only LF line breaks.
            const qsizetype at = in.byte() % (copy.size() + 1);
            const qsizetype gone = std::min<qsizetype>(in.byte() % 5, copy.size() - at);
            const QString inserted = EditorTextMapping::editorCopy(piecesText(in));
            const qsizetype after = at + gone;
            const QString removed = copy.mid(at, gone);
            std::vector<qsizetype> soft;
            for (const qint64 s : mapping.softBreaks()) {
                if (s >= at && s < after)
                    soft.push_back(s - at);
            }
            copy.replace(at, gone, inserted);
            const auto edit = mapping.mirrorEditorEdit(at, removed, inserted,
                                                       QStringView(copy).mid(at + inserted.size()));
            apply(workspace, edit);
            if (kind % 4 == 0) {
                // Undone: what was removed comes back, its soft breaks soft again.
                copy.replace(at, inserted.size(), removed);
                const auto undo = mapping.mirrorEditorEdit(
                    at, inserted, removed, QStringView(copy).mid(at + removed.size()), soft);
                apply(workspace, undo);
            }
            onlyRemote = false;
        } else {
            // Another device changed the workspace text in a few places.
            QString next = workspace;
            for (int edits = 1 + kind % 3; edits > 0; --edits) {
                const qsizetype at = in.byte() % (next.size() + 1);
                const qsizetype gone = std::min<qsizetype>(in.byte() % 5, next.size() - at);
                next.replace(at, gone, piecesText(in));
            }
            for (const auto &edit : mapping.applyWorkspaceChange(workspace, next))
                apply(copy, edit);
            workspace = next;
        }
        fuzz::check(mapping.workspaceTextFor(copy) == workspace, "the copy maps to the workspace");
        EditorTextMapping reopened = fresh();
        const QString reopenedCopy = reopened.reset(workspace);
        if (onlyRemote) {
            fuzz::check(copy == reopenedCopy && mapping.softBreaks() == reopened.softBreaks(),
                        "changes from elsewhere split lines as a fresh open does");
        } else {
            fuzz::check(
                EditorTextMapping::joinSoftBreaks(copy, mapping.softBreaks()).text
                    == EditorTextMapping::joinSoftBreaks(reopenedCopy, reopened.softBreaks()).text,
                "soft breaks leave the lines of a fresh open");
        }
        for (qsizetype e = 0; e <= copy.size(); ++e) {
            // Both sides of a soft break are one place of the workspace text.
            qsizetype back = mapping.toEditor(mapping.toWorkspace(e));
            fuzz::check(back <= e, "offsets map back");
            while (back < e)
                fuzz::check(copy.at(back++) == u'\n', "offsets map back over soft breaks only");
        }
        for (qsizetype e = mapping.toEditor(workspace.size()); e < copy.size(); ++e)
            fuzz::check(copy.at(e) == u'\n', "the ends meet, but for soft breaks");
    }
    return 0;
}
