#pragma once

#include <QString>
#include <QUrl>

#include <functional>
#include <optional>

// The open and save panels the document operations ask. Both return at once; the completion runs
// later on the main thread with the chosen location, or with nothing when the user cancelled.
// Tests put a fake in their place that answers when the test says so.
class FilePanels
{
public:
    using Completion = std::function<void(std::optional<QUrl>)>;

    virtual ~FilePanels();

    // A file or a folder, one item.
    virtual void chooseOpenItem(const QString &message, Completion completion) = 0;
    // A location for a Markdown file; the chosen name carries the Markdown extension.
    virtual void chooseSaveLocation(const QString &proposedName, Completion completion) = 0;
};

// Window-independent, non-modal file dialogs. They open in the folder that startFolder names
// when they appear (the home folder without one). In the open dialog a single click on a file
// chooses it; a folder is chosen with the button, and a double click enters it.
class DialogFilePanels : public FilePanels
{
public:
    DialogFilePanels() = default;
    explicit DialogFilePanels(std::function<QString()> startFolder);

    void chooseOpenItem(const QString &message, Completion completion) override;
    void chooseSaveLocation(const QString &proposedName, Completion completion) override;

private:
    QString startFolder() const;

    std::function<QString()> m_startFolder;
};
