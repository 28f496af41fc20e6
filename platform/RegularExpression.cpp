#include "platform/RegularExpression.h"

#include <unicode/regex.h>

namespace {

// In steps of ICU's match engine, on the order of a second here: ample for any sensible pattern
// on a large document, short enough that a runaway one gives up.
constexpr int32_t matchTimeLimit = 5000;

// Read-only views of strings that outlive the matcher working on them.
icu::UnicodeString alias(const QString &text)
{
    return icu::UnicodeString(false, reinterpret_cast<const UChar *>(text.utf16()),
                              int32_t(text.size()));
}

bool insideLineEnd(const QString &text, qsizetype start, qsizetype end)
{
    return start == end && start > 0 && start < text.size() && text[start - 1] == u'\r'
        && text[start] == u'\n';
}

} // namespace

struct RegularExpression::Compiled
{
    std::unique_ptr<icu::RegexPattern> pattern;

    // A matcher on `input`, which must outlive it.
    std::unique_ptr<icu::RegexMatcher> matcher(const icu::UnicodeString &input) const
    {
        UErrorCode status = U_ZERO_ERROR;
        std::unique_ptr<icu::RegexMatcher> m(pattern->matcher(input, status));
        if (U_FAILURE(status))
            return nullptr;
        m->setTimeLimit(matchTimeLimit, status);
        return U_SUCCESS(status) ? std::move(m) : nullptr;
    }
};

RegularExpression::RegularExpression(std::unique_ptr<Compiled> compiled)
    : m_compiled(std::move(compiled))
{
}

RegularExpression::RegularExpression(RegularExpression &&) noexcept = default;
RegularExpression &RegularExpression::operator=(RegularExpression &&) noexcept = default;
RegularExpression::~RegularExpression() = default;

std::optional<RegularExpression> RegularExpression::compile(const QString &pattern)
{
    UErrorCode status = U_ZERO_ERROR;
    UParseError where;
    // A copy: the compiled pattern keeps its source, which must not alias a caller's buffer.
    const icu::UnicodeString source(reinterpret_cast<const UChar *>(pattern.utf16()),
                                    int32_t(pattern.size()));
    std::unique_ptr<icu::RegexPattern> compiled(
        icu::RegexPattern::compile(source, 0, where, status));
    if (U_FAILURE(status) || !compiled)
        return std::nullopt;
    auto result = std::make_unique<Compiled>();
    result->pattern = std::move(compiled);
    return RegularExpression(std::move(result));
}

bool RegularExpression::forEachMatch(
    const QString &text, const std::function<bool(qsizetype start, qsizetype end)> &visit) const
{
    const icu::UnicodeString input = alias(text);
    const auto matcher = m_compiled->matcher(input);
    if (!matcher)
        return false;
    UErrorCode status = U_ZERO_ERROR;
    while (matcher->find(status) && U_SUCCESS(status)) {
        const qsizetype start = matcher->start(status);
        const qsizetype end = matcher->end(status);
        if (insideLineEnd(text, start, end))
            continue;
        if (!visit(start, end))
            return true;
    }
    return U_SUCCESS(status);
}

std::optional<QString> RegularExpression::replaceAll(const QString &text,
                                                     const QString &replacementTemplate) const
{
    const icu::UnicodeString input = alias(text);
    const icu::UnicodeString replacement = alias(replacementTemplate);
    const auto matcher = m_compiled->matcher(input);
    if (!matcher)
        return std::nullopt;
    icu::UnicodeString result;
    UErrorCode status = U_ZERO_ERROR;
    while (matcher->find(status) && U_SUCCESS(status)) {
        // A skipped match leaves its text to the next append.
        if (insideLineEnd(text, matcher->start(status), matcher->end(status)))
            continue;
        matcher->appendReplacement(result, replacement, status);
        if (U_FAILURE(status))
            return std::nullopt;
    }
    if (U_FAILURE(status))
        return std::nullopt;
    matcher->appendTail(result);
    return QString(reinterpret_cast<const QChar *>(result.getBuffer()), result.length());
}
