#include "platform/Text.h"

#include <gtest/gtest.h>

// The workspace compares every keystroke's text with the one before under canonical
// equivalence; that comparison looks only at the changed part, and must still be exact.
TEST(CanonicalEquality, largeTextsAreComparedAroundTheChangeOnly)
{
    const QString head = QString(5000, u'a') + QStringLiteral("\n— “quoted” ");
    const QString tail = QStringLiteral(" end\n") + QString(5000, u'z');
    auto with = [&](const QString &middle) { return head + middle + tail; };

    EXPECT_TRUE(canonicallyEqual(with(QStringLiteral("e\u0301")), with(QStringLiteral("é"))));
    // Combining marks in another order are the same text once ordered canonically.
    EXPECT_TRUE(canonicallyEqual(with(QStringLiteral("a\u0323\u0301")),
                                 with(QStringLiteral("a\u0301\u0323"))));
    // A Hangul syllable and its jamo.
    EXPECT_TRUE(
        canonicallyEqual(with(QStringLiteral("\uAC00")), with(QStringLiteral("\u1100\u1161"))));
    // A mark that belongs to the character before the change.
    EXPECT_TRUE(canonicallyEqual(head + QStringLiteral("o\u0308x") + tail,
                                 head + QStringLiteral("\u00F6x") + tail));

    EXPECT_FALSE(canonicallyEqual(with(QStringLiteral("ä")), with(QStringLiteral("a"))));
    EXPECT_FALSE(canonicallyEqual(with(QStringLiteral("e\u0301")), with(QStringLiteral("e"))));
    EXPECT_FALSE(canonicallyEqual(with(QString::fromUtf8("😀")), with(QString::fromUtf8("😃"))));
    EXPECT_FALSE(canonicallyEqual(with(QStringLiteral("x")), with(QStringLiteral("xx"))));
    EXPECT_FALSE(canonicallyEqual(head, head + QStringLiteral("\u0301")));
}
