#pragma once

#include <QColor>
#include <QFont>
#include <QPalette>

// Text sizes, foreground levels and named colours of the shell's views. Sizes are relative to the
// application font, taken as 13 pt.
namespace ShellStyle {

enum class TextStyle { title, headline, body, callout, subheadline, caption, caption2 };
enum class Foreground { primary, secondary, tertiary };

QFont font(TextStyle style, QFont base = {});
QColor foreground(Foreground level, const QPalette &palette = {});

namespace Colors {
inline const QColor gray {0x8E, 0x8E, 0x93};
inline const QColor orange {0xFF, 0x95, 0x00};
inline const QColor green {0x34, 0xC7, 0x59};
inline const QColor red {0xFF, 0x3B, 0x30};
inline const QColor yellow {0xFF, 0xCC, 0x00};
} // namespace Colors

} // namespace ShellStyle
