#include "core/model/OutlineItem.h"

OutlineItem::OutlineItem(int level_, QString title_, int line_)
    : id(QUuid::createUuid())
    , level(level_)
    , title(std::move(title_))
    , line(line_)
{
}
