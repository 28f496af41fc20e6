#include "core/model/OutlineItem.h"

OutlineItem::OutlineItem(int level, QString title, int line)
    : id(QUuid::createUuid())
    , level(level)
    , title(std::move(title))
    , line(line)
{
}
