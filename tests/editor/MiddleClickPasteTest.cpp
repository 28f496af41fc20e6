#include "EditorFixture.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QMimeData>
#include <QTest>

#include <gtest/gtest.h>

namespace {

TEST(MiddleClickPaste, anEmptyOrMissingSourcePastesNothingAndKeepsTheText)
{
    EditorFixture f(QStringLiteral("ungesicherter Text"));
    f.workspace.setText(QStringLiteral("ungesicherter Text!"));
    EditorFixture::settle();
    QClipboard *clipboard = QGuiApplication::clipboard();

    EXPECT_FALSE(VeltoTextView::hasPastableData(nullptr));
    clipboard->clear(QClipboard::Selection);
    QTest::mouseClick(f.view()->viewport(), Qt::MiddleButton, {}, QPoint(5, 5));
    clipboard->clear();
    f.view()->paste();
    clipboard->setMimeData(new QMimeData);
    EXPECT_FALSE(f.view()->canPaste());
    f.view()->paste();
    EditorFixture::settle();
    EXPECT_EQ(f.workspace.text(), QStringLiteral("ungesicherter Text!"));

    // A source with text still pastes.
    clipboard->setText(QStringLiteral(" mehr"));
    f.view()->moveCursor(QTextCursor::End);
    f.view()->paste();
    EditorFixture::settle();
    EXPECT_EQ(f.workspace.text(), QStringLiteral("ungesicherter Text! mehr"));
}

} // namespace
