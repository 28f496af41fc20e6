#include "Velto/editor/EditorTextMapping.h"

#include <QList>
#include <QRandomGenerator>
#include <QTextBoundaryFinder>

#include <gtest/gtest.h>

namespace {

// Applies an edit to a text (the editor copy or the workspace text).
void applyEdits(QString &text, const EditorTextMapping::Edit &edit)
{
    text.replace(edit.position, edit.removed, edit.text);
}

void applyEdits(QString &text, const std::vector<EditorTextMapping::Edit> &edits)
{
    for (const auto &edit : edits)
        applyEdits(text, edit);
}

const QString mixed = QStringLiteral("a\r\nb\rc\u2029d\uFDD0e\uFDD1f\u00A0g\u2028h\ni");

} // namespace

TEST(EditorTextMapping, copyShowsEveryMappedBreakAsLineFeedAndKeepsTheRest)
{
    EditorTextMapping mapping;
    const QString copy = mapping.reset(mixed);
    EXPECT_EQ(copy, QStringLiteral("a\nb\nc\nd\ne\nf\u00A0g\u2028h\ni"));
    EXPECT_FALSE(mapping.isIdentity());
    EXPECT_EQ(mapping.workspaceTextFor(copy), mixed);
    EXPECT_EQ(mapping.lineBreak(), QStringLiteral("\r\n"));

    // Only the CR LF pair shifts offsets.
    EXPECT_EQ(mapping.toEditor(0), 0);
    EXPECT_EQ(mapping.toEditor(1), 1); // before the CR
    EXPECT_EQ(mapping.toEditor(2), 1); // between CR and LF
    EXPECT_EQ(mapping.toEditor(3), 2); // after the pair
    EXPECT_EQ(mapping.toEditor(mixed.size()), copy.size());
    EXPECT_EQ(mapping.toWorkspace(1), 1);
    EXPECT_EQ(mapping.toWorkspace(2), 3);
    EXPECT_EQ(mapping.toWorkspace(copy.size()), mixed.size());

    EditorTextMapping plain;
    EXPECT_EQ(plain.reset(QStringLiteral("x\ny")), QStringLiteral("x\ny"));
    EXPECT_TRUE(plain.isIdentity());
    EXPECT_EQ(plain.lineBreak(), QStringLiteral("\n"));
    EXPECT_EQ(plain.reset(QStringLiteral("x\ry")), QStringLiteral("x\ny"));
    EXPECT_EQ(plain.lineBreak(), QStringLiteral("\r"));
}

TEST(EditorTextMapping, editorEditsBecomeTheSmallestWorkspaceEdits)
{
    EditorTextMapping mapping;
    QString workspace = QStringLiteral("one\r\ntwo\r\nthree");
    QString copy = mapping.reset(workspace);

    // Typing at the end of a line goes before its CR.
    auto edit = mapping.mirrorEditorEdit(3, QString(), QStringLiteral("!"), u'\n');
    EXPECT_EQ(edit, (EditorTextMapping::Edit {3, 0, QStringLiteral("!")}));
    applyEdits(workspace, edit);
    copy.insert(3, u'!');
    EXPECT_EQ(workspace, QStringLiteral("one!\r\ntwo\r\nthree"));

    // A new line feed takes the document's line break.
    edit = mapping.mirrorEditorEdit(6, QString(), QStringLiteral("\n"), u'w');
    applyEdits(workspace, edit);
    copy.insert(6, u'\n');
    EXPECT_EQ(workspace, QStringLiteral("one!\r\nt\r\nwo\r\nthree"));

    // Deleting a line feed removes the whole pair.
    edit = mapping.mirrorEditorEdit(4, QStringLiteral("\n"), QString(), u't');
    applyEdits(workspace, edit);
    copy.remove(4, 1);
    EXPECT_EQ(workspace, QStringLiteral("one!t\r\nwo\r\nthree"));

    // A reported replacement of text by itself changes nothing.
    edit = mapping.mirrorEditorEdit(0, copy, copy, QChar());
    EXPECT_TRUE(edit.isEmpty());
    EXPECT_EQ(mapping.workspaceTextFor(copy), workspace);
}

TEST(EditorTextMapping, replacedLineBreaksKeepTheirFormWhenTheCountStays)
{
    // Wrapping a selection over a lone CR and a U+2029 (one edit block: one merged report).
    EditorTextMapping mapping;
    QString workspace = QStringLiteral("x\ra\u2029b\ny");
    QString copy = mapping.reset(workspace);
    ASSERT_EQ(copy, QStringLiteral("x\na\nb\ny"));
    const QString removed = copy.mid(1, 5); // "\na\nb\n"
    const QString inserted = QStringLiteral("\n**a\nb**\n");
    auto edit = mapping.mirrorEditorEdit(1, removed, inserted, u'y');
    applyEdits(workspace, edit);
    copy.replace(1, 5, inserted);
    EXPECT_EQ(workspace, QStringLiteral("x\r**a\u2029b**\ny"));
    EXPECT_EQ(mapping.workspaceTextFor(copy), workspace);

    // A paste that adds line feeds writes the document's line break for them.
    edit = mapping.mirrorEditorEdit(0, QStringLiteral("x"), QStringLiteral("1\n2"), u'\n');
    applyEdits(workspace, edit);
    copy.replace(0, 1, QStringLiteral("1\n2"));
    EXPECT_EQ(workspace, QStringLiteral("1\r2\r**a\u2029b**\ny"));
    EXPECT_EQ(mapping.workspaceTextFor(copy), workspace);
}

TEST(EditorTextMapping, workspaceChangesBecomeSmallEditorEdits)
{
    EditorTextMapping mapping;
    const QString before = QStringLiteral("head\r\nbody text\r\ntail");
    QString copy = mapping.reset(before);
    EXPECT_TRUE(mapping.applyWorkspaceChange(before, before).empty());

    // A word changed in the middle: only that word is replaced in the copy.
    QString after = QStringLiteral("head\r\nbody TEXT\r\ntail");
    auto edits = mapping.applyWorkspaceChange(before, after);
    EXPECT_EQ(edits, (std::vector<EditorTextMapping::Edit> {{10, 4, QStringLiteral("TEXT")}}));
    applyEdits(copy, edits);
    EXPECT_EQ(mapping.workspaceTextFor(copy), after);

    // Text at the start of a line goes there, not before the line break.
    const QString third = QStringLiteral("head\r\nbody TEXT\r\n>tail");
    edits = mapping.applyWorkspaceChange(after, third);
    EXPECT_EQ(edits, (std::vector<EditorTextMapping::Edit> {{15, 0, QStringLiteral(">")}}));
    applyEdits(copy, edits);
    EXPECT_EQ(mapping.workspaceTextFor(copy), third);

    // A CR inserted before an LF pairs with it: the copy keeps one line break.
    const QString fourth = QStringLiteral("head\r\nbody TEXT\r\n>tail\r");
    applyEdits(copy, mapping.applyWorkspaceChange(third, fourth));
    EXPECT_EQ(copy, EditorTextMapping::editorCopy(fourth));
    const QString fifth = QStringLiteral("head\r\nbody TEXT\r\n>tail\r\n");
    applyEdits(copy, mapping.applyWorkspaceChange(fourth, fifth));
    EXPECT_EQ(copy, EditorTextMapping::editorCopy(fifth));
    EXPECT_EQ(mapping.workspaceTextFor(copy), fifth);

    // Two changes far apart are two edits; the text between them is left alone.
    QString sixth = fifth;
    sixth.replace(QStringLiteral("head"), QStringLiteral("HEAD"));
    sixth.replace(QStringLiteral("tail"), QStringLiteral("TAIL"));
    edits = mapping.applyWorkspaceChange(fifth, sixth);
    EXPECT_EQ(edits,
              (std::vector<EditorTextMapping::Edit> {{16, 4, QStringLiteral("TAIL")},
                                                     {0, 4, QStringLiteral("HEAD")}}));
    applyEdits(copy, edits);
    EXPECT_EQ(mapping.workspaceTextFor(copy), sixth);
}

// The editor copy without its soft breaks, which must be that of a fresh open.
QString joined(const EditorTextMapping &mapping, const QString &copy)
{
    return EditorTextMapping::joinSoftBreaks(copy, mapping.softBreaks()).text;
}

// A change from elsewhere that shortens a long line splits it afresh: no soft break is left
// after a lone CR, where deleting the rest of the line would pair the CR with the next LF.
TEST(EditorTextMapping, aShortenedLineIsSplitAsAFreshOpenSplitsIt)
{
    EditorTextMapping mapping;
    QString workspace = QString(3000, u'A') + QString(2000, u'B') + QStringLiteral("\ny");
    QString copy = mapping.reset(workspace);
    const QString changed = QStringLiteral("x\r") + QString(904, u'B') + QStringLiteral("\ny");
    applyEdits(copy, mapping.applyWorkspaceChange(workspace, changed));
    workspace = changed;
    EditorTextMapping fresh;
    EXPECT_EQ(copy, fresh.reset(workspace));
    EXPECT_TRUE(mapping.softBreaks().empty());

    copy.remove(2, 904);
    applyEdits(
        workspace,
        mapping.mirrorEditorEdit(2, QString(904, u'B'), QString(), QStringView(copy).mid(2)));
    EXPECT_EQ(copy, QStringLiteral("x\n\ny"));
    EXPECT_EQ(workspace, QStringLiteral("x\r\n\ny"));
    EXPECT_EQ(fresh.reset(workspace), copy);
}

// Replacing text with as many line breaks keeps their forms, but a kept LF right after a kept
// lone CR would pair with it: the two stay two line breaks.
TEST(EditorTextMapping, keptLineBreaksNeverPairUp)
{
    EditorTextMapping mapping;
    QString workspace = QStringLiteral("b\ra\nz");
    QString copy = mapping.reset(workspace);
    copy.replace(0, 4, QStringLiteral("\n\nbc"));
    applyEdits(workspace,
               mapping.mirrorEditorEdit(0, QStringLiteral("b\na\n"), QStringLiteral("\n\nbc"),
                                        QStringView(copy).mid(4)));
    EXPECT_EQ(workspace, QStringLiteral("\r\rbcz"));
    EXPECT_EQ(EditorTextMapping::editorCopy(workspace), copy);
}

// Emptying the pieces of a split line after a lone CR, in any order, keeps the line's ends apart
// however many soft breaks stand between them and the emptied text.
TEST(EditorTextMapping, emptiedPiecesBetweenALoneCrAndALineFeedKeepBothBreaks)
{
    const QString original = QStringLiteral("x\rabcdefghi\ny");
    std::vector<int> order {0, 1, 2};
    do {
        EditorTextMapping mapping(8, 4);
        QString workspace = original;
        QString copy = mapping.reset(workspace);
        ASSERT_EQ(copy, QStringLiteral("x\nabcd\nefgh\ni\ny"));
        for (const int piece : order) {
            const QString text = QStringList {"abcd", "efgh", "i"}[piece];
            const qsizetype at = copy.indexOf(text);
            copy.remove(at, text.size());
            applyEdits(workspace,
                       mapping.mirrorEditorEdit(at, text, QString(), QStringView(copy).mid(at)));
            ASSERT_EQ(mapping.workspaceTextFor(copy), workspace);
            EditorTextMapping fresh(8, 4);
            const QString freshCopy = fresh.reset(workspace);
            ASSERT_EQ(joined(mapping, copy), joined(fresh, freshCopy))
                << order[0] << order[1] << order[2] << " " << workspace.toStdString();
        }
    } while (std::next_permutation(order.begin(), order.end()));
}

// Pieces end between Characters: combining marks, emoji joined by ZWJ, flags, skin tones and
// Hangul syllables of jamo stay whole, and a Character longer than a piece makes a longer piece.
TEST(EditorTextMapping, softBreaksFallBetweenCharactersOnly)
{
    const QString marks = QStringLiteral("a") + QString(5000, QChar(0x0301));
    const QString marksCopy = EditorTextMapping::editorCopy(marks);
    EXPECT_LE(marksCopy.count(u'\n'), 4);

    const QList<QString> lines {QString::fromUtf8("😀\u200D").repeated(1500),
                                QString::fromUtf8("🇩🇪").repeated(3000),
                                QString::fromUtf8("👍🏽").repeated(1500),
                                QStringLiteral("\u1100\u1161\u11A8").repeated(3000),
                                QString::fromUtf8("e\u0301 ").repeated(3000) + marks,
                                QString::fromUtf8("x😀").repeated(3000)};
    for (const QString &line : lines) {
        EditorTextMapping mapping;
        const QString copy = mapping.reset(line);
        ASSERT_EQ(joined(mapping, copy), line);
        QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, line);
        qsizetype before = 0; // soft breaks before the one looked at
        for (const qint64 at : mapping.softBreaks()) {
            finder.setPosition(int(at - before++));
            EXPECT_TRUE(finder.isAtBoundary()) << at << " in line " << line.size();
        }
        EXPECT_LE(mapping.softBreaks().size(), size_t(line.size() / 1024 + 2));
    }
}

// Random edits from both sides keep the two texts in step and the offsets consistent.
TEST(EditorTextMapping, randomEditsFromBothSidesKeepTheTextsInStep)
{
    QRandomGenerator random(20240611);
    const QList<QString> pieces
        = {QStringLiteral("a"),      QStringLiteral("bc"),     QStringLiteral("\n"),
           QStringLiteral("\r\n"),   QStringLiteral("\r"),     QStringLiteral("\u2029"),
           QStringLiteral("\uFDD0"), QStringLiteral("\u00A0"), QStringLiteral("\u2028"),
           QString::fromUtf8("😀")};
    auto randomText = [&](int count) {
        QString s;
        for (int i = 0; i < count; ++i)
            s += pieces[random.bounded(qsizetype(pieces.size()))];
        return s;
    };

    for (int round = 0; round < 400; ++round) {
        EditorTextMapping mapping;
        QString workspace = randomText(random.bounded(0, 30));
        QString copy = mapping.reset(workspace);
        QString trace;
        auto esc = [](const QString &t) {
            QString o;
            for (QChar c : t)
                o += QStringLiteral("%1 ").arg(c.unicode(), 0, 16);
            return o;
        };
        for (int step = 0; step < 30; ++step) {
            trace += QStringLiteral("\n W=[%1] E=[%2] ").arg(esc(workspace), esc(copy));
            if (random.bounded(2) == 0) {
                // The user edits the copy (the editor only ever holds LF line breaks).
                const qsizetype at = random.bounded(copy.size() + 1);
                const qsizetype gone = random.bounded(std::min<qsizetype>(copy.size() - at, 4) + 1);
                QString inserted = EditorTextMapping::editorCopy(randomText(random.bounded(3)));
                const qsizetype after = at + gone;
                const auto edit
                    = mapping.mirrorEditorEdit(at, copy.mid(at, gone), inserted,
                                               after < copy.size() ? copy.at(after) : QChar());
                trace += QStringLiteral("user %1 %2 [%3]").arg(at).arg(gone).arg(esc(inserted));
                copy.replace(at, gone, inserted);
                applyEdits(workspace, edit);
            } else {
                // Another device edits the workspace text, in one to three places at once.
                QString next = workspace;
                for (int edits = random.bounded(1, 4); edits > 0; --edits) {
                    const qsizetype at = random.bounded(next.size() + 1);
                    const qsizetype gone
                        = random.bounded(std::min<qsizetype>(next.size() - at, 4) + 1);
                    next.replace(at, gone, randomText(random.bounded(3)));
                }
                trace += QStringLiteral("remote [%1]").arg(esc(next));
                applyEdits(copy, mapping.applyWorkspaceChange(workspace, next));
                workspace = next;
            }
            ASSERT_EQ(mapping.workspaceTextFor(copy), workspace)
                << "round " << round << " step " << step << " trace " << trace.toStdString();
            // The copy is what the workspace text shows: no two breaks became one CR LF.
            ASSERT_EQ(EditorTextMapping::editorCopy(workspace), copy)
                << "round " << round << " step " << step << " trace " << trace.toStdString();
            for (qsizetype e = 0; e <= copy.size(); ++e)
                ASSERT_EQ(mapping.toEditor(mapping.toWorkspace(e)), e);
            ASSERT_EQ(mapping.toEditor(workspace.size()), copy.size());
        }
    }
}

// With long lines shown in pieces, random edits from both sides (and undos bringing removed
// pieces' breaks back) keep the texts in step: without its soft breaks the copy is what the
// workspace text shows.
TEST(EditorTextMapping, randomEditsOverSplitLinesKeepTheTextsInStep)
{
    QRandomGenerator random(20261209);
    const QList<QString> pieces
        = {QStringLiteral("a"),    QStringLiteral("bcd"),   QStringLiteral(" "),
           QStringLiteral("\n"),   QStringLiteral("\r\n"),  QStringLiteral("\r"),
           QString::fromUtf8("😀"), QStringLiteral("efghij")};
    auto randomText = [&](int count) {
        QString s;
        for (int i = 0; i < count; ++i)
            s += pieces[random.bounded(qsizetype(pieces.size()))];
        return s;
    };
    EditorTextMapping whole(1 << 30, 1 << 30);

    for (int round = 0; round < 300; ++round) {
        EditorTextMapping mapping(8, 4);
        QString workspace = randomText(random.bounded(0, 40));
        QString copy = mapping.reset(workspace);
        // The last user edit, to be undone: where, what it removed and which of that was soft.
        std::optional<std::tuple<qsizetype, QString, std::vector<qsizetype>, QString>> undo;
        bool onlyRemote = true; // the copy then splits lines as a fresh open does
        for (int step = 0; step < 40; ++step) {
            const int kind = random.bounded(3);
            if (kind == 2 && undo) {
                const auto [at, removed, soft, inserted] = *undo;
                copy.replace(at, inserted.size(), removed);
                applyEdits(workspace,
                           mapping.mirrorEditorEdit(at, inserted, removed,
                                                    QStringView(copy).mid(at + removed.size()),
                                                    soft));
                undo.reset();
                onlyRemote = false;
            } else if (kind != 1) {
                const qsizetype at = random.bounded(copy.size() + 1);
                const qsizetype gone = random.bounded(std::min<qsizetype>(copy.size() - at, 9) + 1);
                const QString inserted
                    = EditorTextMapping::editorCopy(randomText(random.bounded(3)));
                const QString removed = copy.mid(at, gone);
                std::vector<qsizetype> soft;
                for (const qint64 s : mapping.softBreaks()) {
                    if (s >= at && s < at + gone)
                        soft.push_back(s - at);
                }
                copy.replace(at, gone, inserted);
                applyEdits(workspace,
                           mapping.mirrorEditorEdit(at, removed, inserted,
                                                    QStringView(copy).mid(at + inserted.size())));
                undo = std::make_tuple(at, removed, soft, inserted);
                onlyRemote = false;
            } else {
                QString next = workspace;
                const qsizetype at = random.bounded(next.size() + 1);
                next.replace(at, random.bounded(std::min<qsizetype>(next.size() - at, 4) + 1),
                             randomText(random.bounded(4)));
                const std::vector<EditorTextMapping::Edit> edits
                    = mapping.applyWorkspaceChange(workspace, next);
                for (const auto &edit : edits) {
                    for (const qsizetype s : edit.softBreaks)
                        ASSERT_EQ(edit.text.at(s), u'\n');
                }
                applyEdits(copy, edits);
                workspace = next;
                undo.reset();
            }
            ASSERT_EQ(mapping.workspaceTextFor(copy), workspace) << round << " " << step;
            ASSERT_EQ(joined(mapping, copy), whole.reset(workspace)) << round << " " << step;
            if (onlyRemote) {
                ASSERT_EQ(copy, EditorTextMapping(8, 4).reset(workspace)) << round << " " << step;
            }
            qint64 previous = 0;
            for (qsizetype e = 0; e <= copy.size(); ++e) {
                const qint64 w = mapping.toWorkspace(e);
                ASSERT_GE(w, previous);
                previous = w;
                // Both sides of a soft break are one place of the workspace text.
                const qint64 back = mapping.toEditor(w);
                ASSERT_LE(back, e) << round << " " << step;
                ASSERT_EQ(copy.mid(back, e - back), QString(e - back, u'\n'))
                    << round << " " << step << " at " << e;
            }
        }
    }
}
