#pragma once

#include "DashboardServices.h"
#include "SettingsRow.h"

#include <QAbstractButton>

class DashboardState;
class QLabel;
class SettingsRow;

// One selectable transcription tier: a mark, the tier's title and its description. The whole card is the
// button; it shows itself selected while its value is the stored tier.
class ModelOptionCard : public QAbstractButton {
    Q_OBJECT

public:
    ModelOptionCard(const QString& title, const QString& body, QString value, QWidget* parent = nullptr);

    const QString& value() const { return m_value; }
    bool isSelected() const { return m_selected; }
    void setSelected(bool selected);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QString m_value;
    bool m_selected = false;
};

// The "Model & Instructions" card of the settings page: the three tier cards (a click writes the tier at
// once, also on the selected card), the custom prompt row whose button opens the prompt editor, and the
// footnote.
class ModelSettingsCard : public SettingsGroupCard {
    Q_OBJECT

public:
    ModelSettingsCard(DashboardState& state, DashboardServices services, QWidget* parent = nullptr);

    QList<ModelOptionCard*> optionCards() const { return m_cards; }
    SettingsRow* customPromptRow() const { return m_promptRow; }

private:
    void sync();

    DashboardState& m_state;
    DashboardServices m_services;
    QList<ModelOptionCard*> m_cards;
    SettingsRow* m_promptRow = nullptr;
};
