#pragma once

#include "DashboardLook.h"
#include "SettingsRules.h"

#include <QWidget>

#include <optional>

class DashboardState;
class QBoxLayout;
class QButtonGroup;
class QLabel;

// The pieces every settings card is built of: the group's card and heading, the rows, and the boxes of
// the rows' controls.

// The heading of a settings group: its title over a one-sentence body.
QWidget* settingsSectionHeader(const QString& title, const QString& body);
// A settings group's card: the dashboard's surface card, opening with the group's heading; the group's
// rows go into contentLayout().
class SettingsGroupCard : public SurfaceCard {
    Q_OBJECT

public:
    SettingsGroupCard(const QString& title, const QString& body, QWidget* parent = nullptr);
};
// The box of a row's control. It keeps the control at its own width: beside the text at the row's end,
// below it at the start. It claims no minimum width, so the card can narrow past the side-by-side width
// and the row then puts the control below its text.
QWidget* settingsAccessoryBox(QBoxLayout*& layout, int direction, int spacing);
// The box of a row with one control.
QWidget* settingsAccessory(QWidget* control);
// Segments of checkable buttons in `group` (ids = option indexes, object names = option values), `width`
// wide.
QWidget* settingsSegments(const QString& objectName, const QList<SettingsRules::Option>& options, int width,
                          QButtonGroup* group);

// One settings row: the title and subtitle on the left, the control on the right; the control moves below
// the text when the row is too narrow for both side by side. With help text, an info icon follows the
// title; hovering it opens the row's help (the state's activeSettingsHelpID, keyed by the title).
class SettingsRow : public QWidget {
    Q_OBJECT

public:
    SettingsRow(DashboardState& state, const QString& title, const QString& subtitle,
                const std::optional<QString>& helpText, QWidget* accessory, QWidget* parent = nullptr);

    void setSubtitle(const QString& subtitle);
    QString subtitle() const;
    // The title and subtitle block; the help bubble hangs below it.
    QWidget* textBlock() const { return m_text; }
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
