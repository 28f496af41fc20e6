#pragma once

#include <QAbstractSpinBox>
#include <QStringList>
#include <QWidget>

class AppSettings;
class QCheckBox;
class QComboBox;

// Steps a font size by whole points within 10–28 and shows it without its fraction, so a stored
// 14.5 reads "14 pt" and becomes 15.5 one step up; nothing is rounded or written back by showing.
class FontSizeStepper : public QAbstractSpinBox
{
    Q_OBJECT
public:
    explicit FontSizeStepper(AppSettings &settings, QWidget *parent = nullptr);

    static constexpr double minimum = 10;
    static constexpr double maximum = 28;

    void stepBy(int steps) override;

protected:
    StepEnabled stepEnabled() const override;

private:
    void refresh();

    AppSettings &m_settings;
};

// The editor tab: the editor font, its size and wide mode, written to the settings the moment
// the user changes them.
class EditorSettingsTab : public QWidget
{
    Q_OBJECT
public:
    EditorSettingsTab(AppSettings &settings, const QStringList &fonts, QWidget *parent = nullptr);

    QComboBox *fontPicker() const { return m_font; }
    FontSizeStepper *fontSizeStepper() const { return m_size; }
    QCheckBox *wideModeToggle() const { return m_wide; }

private:
    void refresh();

    AppSettings &m_settings;
    QComboBox *m_font;
    FontSizeStepper *m_size;
    QCheckBox *m_wide;
};
