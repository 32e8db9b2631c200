#pragma once

#include "DashboardServices.h"

class DependencyContainer;

// The dashboard's account actions on the composition root: the three sign-ins start an attempt of the
// container's sign-in attempts, and signing out puts the cloud sync's status back to idle. Main thread only.
class ContainerAccountActions final : public DashboardAccountActions {
public:
    explicit ContainerAccountActions(DependencyContainer& container) : m_container(container) {}

    void signInWithApple() override;
    void signInWithGoogle() override;
    void signInWithMicrosoft() override;
    bool microsoftSignInAvailable() const override;
    void showSyncIdle() override;

private:
    DependencyContainer& m_container;
};
