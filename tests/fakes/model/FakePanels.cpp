#include "fakes/model/FakePanels.h"

#include <gtest/gtest.h>

#include <utility>

void FakePanels::chooseOpenItem(const QString &message, Completion completion)
{
    messages.append(message);
    m_open = std::move(completion);
}

void FakePanels::chooseSaveLocation(const QString &proposedName, Completion completion)
{
    proposedNames.append(proposedName);
    m_save = std::move(completion);
}

void FakePanels::answerOpen(std::optional<QUrl> url)
{
    ASSERT_TRUE(m_open);
    std::exchange(m_open, {})(std::move(url));
}

void FakePanels::answerSave(std::optional<QUrl> url)
{
    ASSERT_TRUE(m_save);
    std::exchange(m_save, {})(std::move(url));
}
