#include "Velto/api/SettingsEndpoints.h"

#include "Velto/api/DebugServer.h"
#include "Velto/model/AppSettings.h"
#include "core/ai/AISettings.h"
#include "platform/L10n.h"

namespace settingsendpoints {

using namespace Qt::Literals::StringLiterals;

ApiAnswer theme(AppSettings &settings, const ApiRequest &request)
{
    const auto id = apihttp::textField(request.body, u"id"_s);
    if (!id)
        return ApiAnswer::literal(400, R"({"error":"missing id"})");
    // Not checked against the built-in themes: an unknown id is stored and shows the standard
    // theme, as a hand-edited settings file would.
    settings.setThemeID(*id);
    return ApiAnswer::json({{u"ok"_s, true}, {u"theme"_s, settings.themeID()}});
}

ApiAnswer viewMode(AppSettings &settings, const ApiRequest &request)
{
    if (const auto focus = apihttp::flagField(request.body, u"focus"_s))
        settings.setIsFocusMode(*focus);
    if (const auto wide = apihttp::flagField(request.body, u"wide"_s))
        settings.setIsWideMode(*wide);
    return ApiAnswer::json({{u"ok"_s, true},
                            {u"focusMode"_s, settings.isFocusMode()},
                            {u"wideMode"_s, settings.isWideMode()}});
}

ApiAnswer aiProvider(AISettings &ai, const ApiRequest &request)
{
    const auto key = apihttp::textField(request.body, u"apiKey"_s);
    // Checked before anything is stored: a line break would end the key's header early when it
    // is sent.
    if (key && !AISettings::isValidAPIKey(*key)) {
        ApiAnswer refused
            = ApiAnswer::json({{u"error"_s, L10n::text(u"settings.apiKeyInvalid"_s)}});
        refused.status = 400;
        return refused;
    }
    if (const auto name = apihttp::textField(request.body, u"provider"_s)) {
        if (const auto provider = AIProviderTypes::fromString(*name))
            ai.setProvider(*provider);
    }
    if (key)
        ai.setApiKey(*key);
    if (const auto model = apihttp::textField(request.body, u"model"_s))
        ai.setModel(*model);
    return ApiAnswer::json({{u"ok"_s, true},
                            {u"provider"_s, AIProviderTypes::toString(ai.provider())},
                            {u"isConfigured"_s, ai.isConfigured()},
                            {u"model"_s, ai.effectiveModel()}});
}

void registerWith(DebugServer &server, AppSettings &settings, AISettings &ai)
{
    server.setRouteHandler(ApiRoute::Theme, [&settings](const ApiRequest &r, auto connection) {
        DebugServer::send(connection, theme(settings, r));
    });
    server.setRouteHandler(ApiRoute::ViewMode, [&settings](const ApiRequest &r, auto connection) {
        DebugServer::send(connection, viewMode(settings, r));
    });
    server.setRouteHandler(ApiRoute::AIProvider, [&ai](const ApiRequest &r, auto connection) {
        DebugServer::send(connection, aiProvider(ai, r));
    });
}

} // namespace settingsendpoints
