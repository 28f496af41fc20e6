#pragma once

#include "core/sync/SyncModels.h"

#include <QList>
#include <QPointer>
#include <QString>
#include <QWidget>

#include <qcoro/qcorotask.h>

class MacSyncAdapter;
class QLabel;
class QLineEdit;
class QPushButton;
class QStackedLayout;
class QVBoxLayout;

// The sync tab of the settings window. Without folder credentials it offers to create a sync
// folder; with them it shows the folder id, confirms pairing codes of other devices, lists the
// folder's devices and disconnects. Every action goes through the adapter; the view keeps only
// the texts typed, the last result and the device list. Actions may still be running when the
// view goes away; their results are then dropped.
class SyncSettingsView : public QWidget
{
    Q_OBJECT
public:
    static constexpr int minimumCodeDigits = 9;

    explicit SyncSettingsView(MacSyncAdapter &adapter, QWidget *parent = nullptr);

    QString pairingCode() const;
    QString folderName() const;
    QString statusMessage() const { return m_statusMessage; }
    const QList<PairedDevice> &devices() const { return m_devices; }
    bool showsPairedLayout() const;

    // The numeric characters of a code, in order ("123 456 789" → "123456789").
    static QString digitsOf(const QString &code);
    // "ipad" for exactly that device type, else "desktopcomputer".
    static QString symbolFor(const PairedDevice &device);

    // The actions behind the buttons.
    QCoro::Task<> createFolder();
    QCoro::Task<> confirmPairing();
    QCoro::Task<> loadDevices();
    void disconnectSync();

    QLineEdit *folderNameField() const { return m_folderName; }
    QLineEdit *codeField() const { return m_code; }
    QPushButton *createButton() const { return m_create; }
    QPushButton *confirmButton() const { return m_confirm; }
    QPushButton *disconnectButton() const { return m_disconnect; }
    QWidget *deviceSection() const { return m_deviceSection; }

Q_SIGNALS:
    void statusMessageChanged();
    void devicesChanged();

private:
    QWidget *buildSetupPage();
    QWidget *buildPairedPage();
    void showLayoutForState();
    void setStatusMessage(const QString &message);
    void setDevices(const QList<PairedDevice> &devices);
    void rebuildDeviceRows();
    bool eventFilter(QObject *watched, QEvent *event) override;

    MacSyncAdapter &m_adapter;
    QString m_statusMessage;
    QList<PairedDevice> m_devices;

    QStackedLayout *m_pages = nullptr;
    QWidget *m_setupPage = nullptr;
    QWidget *m_pairedPage = nullptr;
    QLineEdit *m_folderName = nullptr;
    QPushButton *m_create = nullptr;
    QLabel *m_folderId = nullptr;
    QWidget *m_folderIdRow = nullptr;
    QLineEdit *m_code = nullptr;
    QPushButton *m_confirm = nullptr;
    QPushButton *m_disconnect = nullptr;
    QList<QLabel *> m_statusLabels;
    QWidget *m_deviceSection = nullptr;
    QVBoxLayout *m_deviceRows = nullptr;
};
