#pragma once

#include "Velto/model/FilePanels.h"

#include <QStringList>

// File panels that remember their completion until the test answers.
class FakePanels : public FilePanels
{
public:
    void chooseOpenItem(const QString &message, Completion completion) override;
    void chooseSaveLocation(const QString &proposedName, Completion completion) override;

    bool openPending() const { return bool(m_open); }
    bool savePending() const { return bool(m_save); }
    void answerOpen(std::optional<QUrl> url);
    void answerSave(std::optional<QUrl> url);

    // What the panels were asked, in order.
    QStringList messages;
    QStringList proposedNames;

private:
    Completion m_open;
    Completion m_save;
};
