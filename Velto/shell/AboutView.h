#pragma once

#include <QVariantMap>
#include <QWidget>

class QLabel;
class QToolButton;

// The about window: icon, name, version and build, a short description, the maker and the
// rights notice. Nothing in it can be clicked; each use of the menu command opens a new one.
class AboutView : public QWidget
{
    Q_OBJECT
public:
    AboutView(const QString &version, const QString &build, QWidget *parent = nullptr);

    static constexpr int fixedWidth = 320;
    static constexpr int padding = 30;

    // What the program says about itself: "version" and "build".
    static QVariantMap applicationInfo();
    // The string stored under the key, or "–" when it is missing or not a string.
    static QString stringOrDash(const QVariantMap &info, const QString &key);

    QLabel *versionLabel() const { return m_version; }
    QToolButton *closeButton() const { return m_close; }

protected:
    void mousePressEvent(QMouseEvent *event) override;

private:
    QLabel *m_version;
    QToolButton *m_close;
};
