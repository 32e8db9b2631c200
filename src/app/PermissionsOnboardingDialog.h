#pragma once

#include "PermissionsCoordinator.h"

#include <QDialog>

#include <functional>

class QLabel;
class QPushButton;

// "Finish Setting Up Quillvane": the two things dictation needs on this desktop (the microphone and
// "Accessibility", which on X11 is the display's XTest and XInput2 and has nothing to grant), each with
// its state and one action while it is not ready, plus "Refresh status", "Continue for now" and "Done".
// It shows what the permissions coordinator publishes and only calls it; it is shown while the
// coordinator's showOnboarding flag is up, and closing it by any means lowers the flag.
class PermissionsOnboardingDialog final : public QDialog {
    Q_OBJECT

public:
    // Why the desktop cannot give keyboard access right now (no X display, a pure Wayland session, an X
    // server without XTest or XInput2); empty when it can. Read whenever Accessibility is not granted.
    using AccessibilityReason = std::function<QString()>;
    static QString systemAccessibilityReason();

    PermissionsOnboardingDialog(PermissionsCoordinator& coordinator, AccessibilityReason reason = {},
                                QWidget* parent = nullptr);

    // What a row shows, for the tests and the row itself.
    struct RowView {
        QString title;
        QString badge;
        QString description;
        QString icon;        // resource-independent symbol name
        QString buttonTitle; // empty: no button
    };
    RowView rowView(PermissionsCoordinator::PermissionKind kind) const;

protected:
    void done(int result) override;

private:
    struct Row {
        QLabel* icon = nullptr;
        QLabel* badge = nullptr;
        QLabel* description = nullptr;
        QPushButton* button = nullptr;
    };
    Row buildRow(PermissionsCoordinator::PermissionKind kind, QWidget* parent);
    void syncRow(PermissionsCoordinator::PermissionKind kind);
    void syncVisibility();

    PermissionsCoordinator& m_coordinator;
    AccessibilityReason m_reason;
    Row m_microphone;
    Row m_accessibility;
};
