#include "support/TestSupport.h"

#include "Velto/api/DebugServer.h"
#include "Velto/model/AppSettings.h"
#include "Velto/model/WorkspaceState.h"
#include "Velto/preview/PageSchemeHandler.h"
#include "Velto/preview/PreviewView.h"
#include "Velto/shell/ApiWiring.h"
#include "platform/Defaults.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <memory>

namespace {

testsupport::BeforeApplication registerPageScheme(&PageSchemeHandler::registerScheme);

TEST(ApiWiring, theWindowShownLastHandsItsWorkspaceAndPreviewToTheServer)
{
    QTemporaryDir dir;
    Defaults defaults(dir.filePath(QStringLiteral("defaults.json")));
    AppSettings settings(defaults);
    WorkspaceState::Services services;
    services.defaults = &defaults;
    auto workspace = std::make_unique<WorkspaceState>(services);
    DebugServer server(settings);

    auto view = std::make_unique<PreviewView>(*workspace, settings);
    exposeWindowToApi(server, *workspace, view.get());
    EXPECT_EQ(server.webView(), view.get());
    EXPECT_EQ(server.workspace(), workspace.get());

    // Both are held weakly: a closed window leaves nothing dangling behind.
    view.reset();
    workspace.reset();
    EXPECT_EQ(server.webView(), nullptr);
    EXPECT_EQ(server.workspace(), nullptr);
}

} // namespace
