#pragma once

#include "Velto/shell/LegalInfoType.h"

#include <QDialog>

#include <functional>

class Defaults;
class QCheckBox;
class QLabel;
class QPlainTextEdit;
class QPushButton;
class QToolButton;

// One legal text to read: a title, the text in a scrolling, selectable area, and two ways to
// close it. Shown over the acceptance dialog for the terms and the privacy statement.
class LegalTextDialog : public QDialog
{
    Q_OBJECT
public:
    LegalTextDialog(const QString &titleKey, const QString &content, QWidget *parent = nullptr);

    QPlainTextEdit *textArea() const { return m_text; }

private:
    QPlainTextEdit *m_text;
};

// The acceptance a user gives before working with Velto: both the terms and the privacy
// statement must be ticked to accept. It cannot be dismissed other than by its two buttons.
// Accept stores "hasAcceptedLegal" and "legalAcceptanceDate", then calls onAccept; Decline
// stores nothing and calls onDecline. The presenter closes the dialog (dismiss).
class LegalAcceptanceDialog : public QDialog
{
    Q_OBJECT
public:
    LegalAcceptanceDialog(Defaults &defaults, std::function<void()> onAccept,
                          std::function<void()> onDecline, QWidget *parent = nullptr);

    static constexpr int fixedWidth = 440;
    static inline const QString hasAcceptedLegalKey = QStringLiteral("hasAcceptedLegal");
    static inline const QString acceptanceDateKey = QStringLiteral("legalAcceptanceDate");

    // Closes the dialog; the only way it goes away.
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

// One of the four legal texts, chosen in the Help menu; closed with Escape or the window's
// close button.
class LegalInfoDialog : public QDialog
{
    Q_OBJECT
public:
    explicit LegalInfoDialog(LegalInfoType type, QWidget *parent = nullptr);

    LegalInfoType type() const { return m_type; }
    QLabel *titleLabel() const { return m_title; }
    QPlainTextEdit *textArea() const { return m_text; }

private:
    LegalInfoType m_type;
    QLabel *m_title;
    QPlainTextEdit *m_text;
};
