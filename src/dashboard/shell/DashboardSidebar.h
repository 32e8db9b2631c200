#pragma once

#include "AppSection.h"

#include <QAbstractButton>
#include <QPushButton>
#include <QWidget>

#include <optional>

class AppleSignInButton;
class DashboardState;
class ElidedLabel;
class QLabel;
class QScrollArea;
class SymbolView;
struct DashboardServices;

// One section's row: the symbol and the title, filled with the accent while selected. The whole band is
// clickable, the empty space right of the title included.
class NavRow : public QAbstractButton {
    Q_OBJECT
public:
    NavRow(AppSection section, QWidget* parent = nullptr);
    AppSection section() const { return m_section; }
    void setSelected(bool selected);
    bool isSelected() const { return m_selected; }
    QColor foregroundColor() const;
    // Always 50 high: where the column is too short for every row and the account card, the rows scroll.
    static constexpr int kHeight = 50;
    QSize sizeHint() const override { return {180, kHeight}; }
    QSize minimumSizeHint() const override { return {120, kHeight}; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    AppSection m_section;
    bool m_selected = false;
};

// The sidebar's buttons: "Sign Out" (outlined on the dark column) and the Google and Microsoft buttons
// (bordered, small); the Apple button is the app-wide AppleSignInButton.
class SidebarButton : public QPushButton {
    Q_OBJECT
public:
    enum class Kind { Outlined, Bordered };
    SidebarButton(Kind kind, QWidget* parent = nullptr);
    Kind kind() const { return m_kind; }
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    Kind m_kind;
};

// The dark left column: the mark and name, the seven section rows, and the account card with either the
// sign-in buttons or "Sign Out". Under the sign-in buttons, the sign-in notice: how the running attempt is
// doing, why the last one failed, or that the session ended. The card always has its whole height; in a
// short window the section rows get compact and then scroll. It follows the identity, the session and the
// dictation shortcut as they change, and selecting a row sets the state's selected section.
class DashboardSidebar : public QWidget {
    Q_OBJECT
public:
    // A longer notice is cut (with "…"); its whole text is the tooltip.
    static constexpr int kSignInNoticeMaxLines = 5;

    DashboardSidebar(DashboardState& state, DashboardServices& services, QWidget* parent = nullptr);

    // Signs out: the saved session, then the sync status, then the identity.
    void signOut();

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QWidget* makeHeader();
    QWidget* makeAccountCard();
    void syncSelection();
    void syncAccount();

    DashboardState& m_state;
    DashboardServices& m_services;
    QScrollArea* m_sectionList = nullptr;
    QList<NavRow*> m_rows;
    QLabel* m_accountLabel = nullptr;
    QLabel* m_emailLine = nullptr;
    QWidget* m_triggerGroup = nullptr;
    QLabel* m_triggerValue = nullptr;
    SidebarButton* m_signOut = nullptr;
    QWidget* m_signInBlock = nullptr;
    AppleSignInButton* m_apple = nullptr;
    SidebarButton* m_google = nullptr;
    SidebarButton* m_microsoft = nullptr;
    QLabel* m_microsoftNote = nullptr;
    ElidedLabel* m_signInNotice = nullptr;
};
