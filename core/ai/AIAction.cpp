#include "core/ai/AIAction.h"

#include "platform/L10n.h"

#include <iterator>

namespace AIActions {

namespace {

struct Info
{
    AIAction action;
    const char *raw;
    const char *icon;
};

constexpr Info infos[] = {
    {AIAction::rewrite, "rewrite", "arrow.triangle.2.circlepath"},
    {AIAction::shorten, "shorten", "arrow.down.right.and.arrow.up.left"},
    {AIAction::expand, "expand", "arrow.up.left.and.arrow.down.right"},
    {AIAction::proofread, "proofread", "checkmark.circle"},
    {AIAction::translate, "translate", "globe"},
    {AIAction::simplify, "simplify", "text.badge.minus"},
    {AIAction::professional, "professional", "briefcase"},
    {AIAction::casual, "casual", "face.smiling"},
    {AIAction::summarize, "summarize", "doc.text.magnifyingglass"},
    {AIAction::custom, "custom", "text.cursor"},
};

constexpr bool tableFollowsDeclarationOrder()
{
    for (int i = 0; i < int(std::size(infos)); ++i) {
        if (static_cast<int>(infos[i].action) != i)
            return false;
    }
    return std::size(infos) == 10;
}
static_assert(tableFollowsDeclarationOrder());

const Info &info(AIAction action)
{
    return infos[static_cast<int>(action)];
}

} // namespace

QString toString(AIAction action)
{
    return QString::fromLatin1(info(action).raw);
}

std::optional<AIAction> fromString(const QString &raw)
{
    for (const Info &i : infos) {
        if (raw == QLatin1String(i.raw))
            return i.action;
    }
    return std::nullopt;
}

const QList<AIAction> &allCases()
{
    static const QList<AIAction> cases = [] {
        QList<AIAction> list;
        for (const Info &i : infos)
            list.append(i.action);
        return list;
    }();
    return cases;
}

QString title(AIAction action)
{
    return L10n::text(QStringLiteral("action.") + toString(action));
}

QString systemPrompt(AIAction)
{
    return L10n::text(QStringLiteral("action.systemPrompt"));
}

QString prompt(AIAction action, const QString &text)
{
    if (action == AIAction::custom)
        return text;
    return L10n::text(QStringLiteral("action.prompt.") + toString(action)) + QStringLiteral("\n\n")
        + text;
}

QString icon(AIAction action)
{
    return QString::fromLatin1(info(action).icon);
}

} // namespace AIActions
