#include "ShellFixture.h"

#include "Velto/preview/PageSchemeHandler.h"
#include "Velto/preview/PreviewView.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

namespace {

testsupport::BeforeApplication registerPageScheme(&PageSchemeHandler::registerScheme);

using shelltest::ShellTest;

// The preview no longer knows the API; the window's preview factory hands it over.
TEST_F(ShellTest, theWindowsLivePreviewIsTheOneTheApiInspects)
{
    ShellServices s = services();
    s.makePreview = nullptr;
    const PreviewPane pane = s.resolved().makePreview(*ws, nullptr);
    std::unique_ptr<QWidget> view(pane.widget);
    ASSERT_NE(qobject_cast<PreviewView *>(view.get()), nullptr);
    EXPECT_EQ(api->webView(), view.get());

    // Held weakly: a closed window leaves nothing dangling behind.
    view.reset();
    EXPECT_EQ(api->webView(), nullptr);
}

} // namespace
