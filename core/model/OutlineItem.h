#pragma once

#include <QString>
#include <QUuid>

// One heading of a document's outline. Every item gets a fresh id, so two parses of the same
// text never share ids; items have no equality.
struct OutlineItem
{
    OutlineItem(int level, QString title, int line);

    QUuid id;
    int level; // 1 to 6
    QString title; // plain text of the heading
    int line; // 1-based source line on which the heading starts
};
