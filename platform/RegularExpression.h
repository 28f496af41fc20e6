#pragma once

#include <QString>

#include <functional>
#include <memory>
#include <optional>

// A regular expression in ICU's syntax (set operations such as [[a-z]--[aeiou]], \N{…} names,
// named groups), compiled without options: Unicode-aware classes, and CR LF is one line end for
// `$`, `^` and `.`. An empty match between CR and LF never counts, so nothing built from the
// matches lands inside a line end. Each match is bounded in time: a pattern that backtracks
// without end fails instead of hanging the caller.
class RegularExpression
{
public:
    // Nothing when the pattern does not compile.
    static std::optional<RegularExpression> compile(const QString &pattern);

    RegularExpression(RegularExpression &&) noexcept;
    RegularExpression &operator=(RegularExpression &&) noexcept;
    ~RegularExpression();

    // Calls visit(start, end) (UTF-16 offsets) for the matches in order until it answers false.
    // False when matching failed (the time limit ran out).
    bool forEachMatch(const QString &text,
                      const std::function<bool(qsizetype start, qsizetype end)> &visit) const;

    // Every match replaced by the template: "$n" and "${name}" insert a group, "\" escapes the
    // next character. Nothing when matching fails or the template names a group that does not
    // exist.
    std::optional<QString> replaceAll(const QString &text,
                                      const QString &replacementTemplate) const;

private:
    struct Compiled;
    explicit RegularExpression(std::unique_ptr<Compiled> compiled);

    std::unique_ptr<Compiled> m_compiled;
};
