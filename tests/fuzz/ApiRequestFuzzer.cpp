// Bytes as the local API receives them: the request parser, the query and percent decoding and
// the typed body fields must take anything.
#include "FuzzInput.h"

#include "Velto/api/ApiHttp.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const ApiRequest request = apihttp::parseRequest(fuzz::bytes(data, size));
    for (const QString &name : {QStringLiteral("text"), QStringLiteral("path"), QString()})
        apihttp::parseQuery(request.path, name);
    if (const auto decoded = apihttp::percentDecodeStrict(request.path))
        fuzz::check(decoded->size() <= request.path.size(), "decoding never lengthens");
    for (auto it = request.headers.cbegin(); it != request.headers.cend(); ++it) {
        fuzz::check(it.key() == it.key().toLower(), "header names are lower-cased");
        apihttp::splitFirst(it.value(), u',');
    }
    for (auto it = request.body.constBegin(); it != request.body.constEnd(); ++it) {
        apihttp::textField(request.body, it.key());
        apihttp::flagField(request.body, it.key());
        if (const auto n = apihttp::integerField(request.body, it.key()))
            fuzz::check(*n >= 0, "integer fields are clamped");
    }
    apihttp::prettyJson(request.body);
    return 0;
}
