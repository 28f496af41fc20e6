// Frames of the live channel: what decodes must encode and decode to the same, and a received
// edit must apply exactly like the list of Characters it describes, checked or not.
#include "FuzzInput.h"

#include "core/live/LiveSyncMessage.h"
#include "core/live/TextDiff.h"
#include "live/NaiveTextDiff.h"

#include <QtGlobal>

using namespace Qt::StringLiterals;

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    // Refused edits are logged; the log is not what is being tested.
    qInstallMessageHandler([](QtMsgType, const QMessageLogContext &, const QString &) {});
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const auto message = LiveSyncMessage::decode(fuzz::bytes(data, size));
    if (!message)
        return 0;
    const auto encoded = message->encode();
    fuzz::check(encoded.has_value(), "a decoded message encodes");
    const auto again = LiveSyncMessage::decode(*encoded);
    fuzz::check(again && again->encode() == encoded, "encoding round-trips");

    if (!message->ops)
        return 0;
    static const QString document
        = u"Gr\u00fc\u00dfe \U0001F44D\U0001F3FD e\u0301\r\n\U0001F1E9\U0001F1EA \u0915\u094D\u0937 x"_s;
    const QString &text = message->text ? *message->text : document;
    bool fits = false;
    const QString expected = naive::apply(*message->ops, text, &fits);
    fuzz::check(TextDiff::apply(*message->ops, text) == expected, "apply follows the Characters");
    const auto checked = TextDiff::applyChecked(*message->ops, text);
    fuzz::check(checked.has_value() == fits, "checked apply refuses exactly what does not fit");
    fuzz::check(!checked || *checked == expected, "checked apply gives the same text");
    return 0;
}
