#pragma once

#include <QJsonObject>
#include <QString>
#include <QStringView>

#include <optional>

// Enumerators are spelled Insert/Delete because `delete` is a keyword; the wire names stay
// "insert" and "delete".
enum class EditOpKind { Insert, Delete };

QString toString(EditOpKind kind);
std::optional<EditOpKind> editOpKindFromString(QStringView text);

// One step of a live edit. Positions and lengths count Characters (extended grapheme clusters),
// never UTF-16 units.
struct EditOp
{
    EditOpKind op = EditOpKind::Insert;
    qint64 pos = 0; // 0 = before the first Character
    std::optional<QString> text; // inserts
    std::optional<qint64> len; // deletes

    static EditOp insert(qint64 pos, const QString &text);
    static EditOp deletion(qint64 pos, qint64 len);

    bool operator==(const EditOp &other) const = default;

    QJsonObject toJson() const;
    // Nothing when the object breaks the wire format (missing or unknown "op", "pos" not an
    // integer, a present key of the wrong type).
    static std::optional<EditOp> fromJson(const QJsonObject &object);
};
