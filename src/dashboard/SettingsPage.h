#pragma once

#include "DashboardServices.h"
#include "SettingsRules.h"

#include <QWidget>

#include <optional>

class DashboardState;
class QBoxLayout;
class QButtonGroup;
class QComboBox;
class QLabel;
class QLineEdit;
class QVBoxLayout;

// One settings row: the title and subtitle on the left, the control on the right; the control moves below
// the text when the row is too narrow for both side by side. With help text, an info icon follows the
// title; hovering it opens the row's help (the state's activeSettingsHelpID, keyed by the title).
class SettingsRow : public QWidget {
    Q_OBJECT

public:
    SettingsRow(DashboardState& state, const QString& title, const QString& subtitle,
                const std::optional<QString>& helpText, QWidget* accessory, QWidget* parent = nullptr);

    void setSubtitle(const QString& subtitle);
    SettingsRules::RowArrangement arrangement() const { return m_arrangement; }
    const QString& rowID() const { return m_rowID; }
    const std::optional<QString>& helpText() const { return m_helpText; }
    // The info icon (objectName "helpIcon"); none without help text.
    QWidget* helpIcon() const { return m_helpIcon; }

protected:
    void resizeEvent(QResizeEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    void arrange(int width);

    QString m_rowID;
    std::optional<QString> m_helpText;
    QWidget* m_helpIcon = nullptr;
    QWidget* m_text = nullptr;
    QLabel* m_title = nullptr;
    QLabel* m_subtitle = nullptr;
    QWidget* m_accessory = nullptr;
    QBoxLayout* m_layout = nullptr;
    SettingsRules::RowArrangement m_arrangement = SettingsRules::RowArrangement::Horizontal;
};

// The settings page: header, intro, and the cards of the setting groups.
class SettingsPage : public QWidget {
    Q_OBJECT

public:
    SettingsPage(DashboardState& state, DashboardServices services, QWidget* parent = nullptr);

private:
    QWidget* inputAndLanguageCard();
    void syncMicrophone();
    void syncPromptSettings();
    void pickMicrophone(int index);

    DashboardState& m_state;
    DashboardServices m_services;
    QComboBox* m_microphone = nullptr;
    QLabel* m_microphoneError = nullptr;
    SettingsRow* m_microphoneRow = nullptr;
    QComboBox* m_domain = nullptr;
    QLineEdit* m_customDomain = nullptr;
    QButtonGroup* m_language = nullptr;
    QList<SettingsRules::Option> m_microphoneOptions;
};
