#pragma once

#include <QDialog>

#include <functional>

class Defaults;
class QCheckBox;
class QLabel;
class QPushButton;
class QToolButton;

// The acceptance a user gives before working with Velto: both the terms and the privacy
// statement must be ticked to accept. It cannot be dismissed other than by its two buttons.
// Accept stores "hasAcceptedLegal" and "legalAcceptanceDate", then calls onAccept; Decline
// stores nothing and calls onDecline. The presenter closes the view (dismiss).
class LegalAcceptanceView : public QDialog
{
    Q_OBJECT
public:
    LegalAcceptanceView(Defaults &defaults, std::function<void()> onAccept,
                        std::function<void()> onDecline, QWidget *parent = nullptr);

    static constexpr int fixedWidth = 440;
    static inline const QString hasAcceptedLegalKey = QStringLiteral("hasAcceptedLegal");
    static inline const QString acceptanceDateKey = QStringLiteral("legalAcceptanceDate");

    // Closes the view; the only way it goes away.
    void dismiss();
    // Escape and the window manager's close do nothing.
    void reject() override;

    QCheckBox *termsCheckBox() const { return m_terms; }
    QCheckBox *privacyCheckBox() const { return m_privacy; }
    QToolButton *termsDetailsButton() const { return m_termsDetails; }
    QToolButton *privacyDetailsButton() const { return m_privacyDetails; }
    QPushButton *declineButton() const { return m_decline; }
    QPushButton *acceptButton() const { return m_accept; }
    QLabel *subtitleLabel() const { return m_subtitle; }

    // Fits the height to the content at the fixed width.
    void fitHeight();

private:
    void accept() override;
    void showDetails(const QString &titleKey, const QString &contentKey);

    Defaults &m_defaults;
    std::function<void()> m_onAccept;
    std::function<void()> m_onDecline;
    QLabel *m_subtitle;
    QCheckBox *m_terms;
    QCheckBox *m_privacy;
    QToolButton *m_termsDetails;
    QToolButton *m_privacyDetails;
    QPushButton *m_decline;
    QPushButton *m_accept;
};
