#include "QStringPrinter.h"

#include "Velto/preview/OutlinePanelView.h"

#include <QLabel>
#include <QTest>
#include <QToolButton>

#include <gtest/gtest.h>

namespace {

struct OutlinePanelViewTest : ::testing::Test
{
    OutlinePanelView panel;
    QList<int> selected;
    int closed = 0;

    OutlinePanelViewTest()
    {
        panel.onSelect = [this](int line) { selected << line; };
        panel.onClose = [this] { ++closed; };
        panel.resize(200, 400);
        panel.show();
    }
};

TEST_F(OutlinePanelViewTest, withoutHeadingsOnlyTheHeaderAndTheEmptyTextShow)
{
    panel.setItems({});
    EXPECT_EQ(panel.width(), 200);
    EXPECT_FALSE(panel.showsList());
    EXPECT_TRUE(panel.emptyLabel()->isVisible());
    EXPECT_EQ(panel.emptyLabel()->text(), QStringLiteral("Keine Überschriften"));
    EXPECT_EQ(panel.titleLabel()->text(), QStringLiteral("Gliederung"));
    EXPECT_EQ(panel.rowCount(), 0);
    EXPECT_FALSE(panel.closeButton()->icon().isNull());
}

TEST_F(OutlinePanelViewTest, levelsShowRightAlignedDotsAndWeights)
{
    panel.setItems(
        {OutlineItem(1, QStringLiteral("Top"), 1), OutlineItem(3, QStringLiteral("Deep"), 5)});
    ASSERT_TRUE(panel.showsList());
    ASSERT_EQ(panel.rowCount(), 2);

    const OutlineRow *top = panel.row(0);
    EXPECT_EQ(top->dotsLabel()->text(), QString());
    EXPECT_EQ(top->dotsLabel()->width(), 0);
    EXPECT_EQ(top->titleText()->font().weight(), QFont::Medium);

    const OutlineRow *deep = panel.row(1);
    EXPECT_EQ(deep->dotsLabel()->text(), QStringLiteral("\u00B7\u00B7"));
    EXPECT_EQ(deep->dotsLabel()->width(), 20);
    EXPECT_TRUE(deep->dotsLabel()->alignment() & Qt::AlignRight);
    EXPECT_EQ(deep->titleText()->font().weight(), QFont::Normal);
    EXPECT_EQ(deep->titleText()->text(), QStringLiteral("Deep"));
}

TEST_F(OutlinePanelViewTest, clickingARowReportsItsLineOnceAndLeavesNoSelection)
{
    panel.setItems(
        {OutlineItem(1, QStringLiteral("A"), 1), OutlineItem(2, QStringLiteral("B"), 7)});
    QTest::mouseClick(panel.row(1), Qt::LeftButton);
    EXPECT_EQ(selected, QList<int> {7});
    EXPECT_FALSE(panel.row(1)->isChecked());
    EXPECT_FALSE(panel.row(1)->isCheckable());

    QTest::mouseClick(panel.closeButton(), Qt::LeftButton);
    EXPECT_EQ(closed, 1);
}

TEST_F(OutlinePanelViewTest, aLongTitleIsCutToOneLine)
{
    const QString title = QStringLiteral(
        "A very long heading title that cannot possibly fit into the narrow panel");
    panel.setItems({OutlineItem(2, title, 3)});
    QCoreApplication::processEvents();
    const ElidedText *text = panel.row(0)->titleText();
    const QString shown = text->displayedText();
    EXPECT_NE(shown, title);
    EXPECT_TRUE(shown.endsWith(QChar(0x2026)));
    EXPECT_LE(text->fontMetrics().horizontalAdvance(shown), text->width());
    EXPECT_LE(text->mapTo(&panel, QPoint(text->width(), 0)).x(), panel.width());
    EXPECT_EQ(text->height(), text->fontMetrics().height());
}

TEST_F(OutlinePanelViewTest, anUnchangedOutlineFromANewParseKeepsItsRows)
{
    panel.setItems(
        {OutlineItem(1, QStringLiteral("A"), 1), OutlineItem(2, QStringLiteral("B"), 3)});
    const OutlineRow *first = panel.row(0);
    panel.setItems(
        {OutlineItem(1, QStringLiteral("A"), 1), OutlineItem(2, QStringLiteral("B"), 3)});
    EXPECT_EQ(panel.row(0), first);

    panel.setItems({OutlineItem(1, QStringLiteral("A"), 2)});
    ASSERT_EQ(panel.rowCount(), 1);
    QTest::mouseClick(panel.row(0), Qt::LeftButton);
    EXPECT_EQ(selected, QList<int> {2});

    panel.setItems({});
    EXPECT_FALSE(panel.showsList());
}

} // namespace
