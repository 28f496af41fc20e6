#pragma once

#include <QWidget>

class AISettings;
class QComboBox;
class QLabel;
class QLineEdit;
class StatusDot;

// The AI tab: the provider, the key for the providers that need one, model and endpoint
// overrides, and a line that says whether the provider is ready. Every control writes the AI
// settings at once and follows them when something else changes them; the tab keeps nothing.
class AISettingsTab : public QWidget
{
    Q_OBJECT
public:
    explicit AISettingsTab(AISettings &settings, QWidget *parent = nullptr);

    // How to set up Ollama on Linux; shown only as the guide link.
    static inline const QString ollamaGuideURL
        = QStringLiteral("https://ollama.com/download/linux");

    QComboBox *providerPicker() const { return m_provider; }
    QLabel *descriptionLabel() const { return m_description; }
    QWidget *guideRow() const { return m_guideRow; }
    QWidget *keyRow() const { return m_keyRow; }
    QLineEdit *keyField() const { return m_key; }
    // The inline text under the key field while it holds a key that was refused.
    QLabel *keyProblemLabel() const { return m_keyProblem; }
    QWidget *modelRow() const { return m_modelRow; }
    QLineEdit *modelField() const { return m_model; }
    QWidget *endpointRow() const { return m_endpointRow; }
    QLineEdit *endpointField() const { return m_endpoint; }
    StatusDot *statusDot() const { return m_dot; }
    QLabel *statusLabel() const { return m_status; }

private:
    void chooseProvider(int index);
    void editKey(const QString &text);
    void showProvider();
    void showKey();
    void showStatus();

    AISettings &m_settings;
    QComboBox *m_provider;
    QLabel *m_description;
    QWidget *m_guideRow;
    QWidget *m_keyRow;
    QLineEdit *m_key;
    QLabel *m_keyProblem;
    QWidget *m_modelRow;
    QLineEdit *m_model;
    QWidget *m_endpointRow;
    QLineEdit *m_endpoint;
    StatusDot *m_dot;
    QLabel *m_status;
};
