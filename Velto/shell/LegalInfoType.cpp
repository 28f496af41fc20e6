#include "Velto/shell/LegalInfoType.h"

const QList<LegalInfoType> &LegalInfoTypes::allCases()
{
    static const QList<LegalInfoType> cases {LegalInfoType::impressum, LegalInfoType::terms,
                                             LegalInfoType::privacy, LegalInfoType::accessibility};
    return cases;
}

QString LegalInfoTypes::toString(LegalInfoType type)
{
    switch (type) {
    case LegalInfoType::impressum:
        return QStringLiteral("impressum");
    case LegalInfoType::terms:
        return QStringLiteral("terms");
    case LegalInfoType::privacy:
        return QStringLiteral("privacy");
    case LegalInfoType::accessibility:
        return QStringLiteral("accessibility");
    }
    return {};
}

QString LegalInfoTypes::menuKey(LegalInfoType type)
{
    return QStringLiteral("menu.") + toString(type);
}

std::optional<LegalInfoType> LegalInfoTypes::fromString(const QString &raw)
{
    for (LegalInfoType type : allCases()) {
        if (toString(type) == raw)
            return type;
    }
    return std::nullopt;
}

QString LegalInfoTypes::contentKey(LegalInfoType type)
{
    return QStringLiteral("legal.") + toString(type) + QStringLiteral(".content");
}
