#include "Velto/editor/EditorScrollBar.h"

#include <QApplication>
#include <QPaintEvent>
#include <QTest>

#include <functional>

#include <gtest/gtest.h>

namespace {

// Counts the paints the bar gets once pending updates are delivered.
struct PaintCounter : QObject
{
    int paints = 0;
    bool eventFilter(QObject *, QEvent *event) override
    {
        if (event->type() == QEvent::Paint)
            ++paints;
        return false;
    }
    int after(const std::function<void()> &change)
    {
        QApplication::processEvents();
        paints = 0;
        change();
        QApplication::processEvents();
        return paints;
    }
};

} // namespace

TEST(EditorScrollBar, repaintsOnlyWhenTheSliderOrAnEndChangesOnScreen)
{
    EditorScrollBar bar;
    bar.resize(14, 650);
    bar.setRange(0, 100000);
    bar.setPageStep(40);
    bar.setValue(50000);
    bar.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&bar));
    PaintCounter counter;
    bar.installEventFilter(&counter);

    // A line more or less in a long text moves the slider by less than a pixel.
    EXPECT_EQ(counter.after([&] { bar.setMaximum(100001); }), 0);
    EXPECT_EQ(counter.after([&] { bar.setValue(50001); }), 0);
    // Far enough to move it, back to a place painted before, and to an end.
    EXPECT_GT(counter.after([&] { bar.setValue(60000); }), 0);
    EXPECT_GT(counter.after([&] { bar.setValue(50001); }), 0);
    EXPECT_GT(counter.after([&] { bar.setRange(0, 500); }), 0);
    EXPECT_GT(counter.after([&] { bar.setValue(499); }), 0);
    EXPECT_GT(counter.after([&] { bar.setMaximum(0); }), 0);
}
