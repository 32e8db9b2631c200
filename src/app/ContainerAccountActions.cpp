#include "ContainerAccountActions.h"

#include "ConfigSyncCoordinator.h"
#include "DependencyContainer.h"
#include "SignInAttempts.h"

void ContainerAccountActions::signInWithApple() {
    m_container.signInAttempts().start(SignInProviderId::Apple);
}

void ContainerAccountActions::signInWithGoogle() {
    m_container.signInAttempts().start(SignInProviderId::Google);
}

void ContainerAccountActions::signInWithMicrosoft() {
    m_container.signInAttempts().start(SignInProviderId::Microsoft);
}

bool ContainerAccountActions::microsoftSignInAvailable() const {
    return DependencyContainer::microsoftSignInAvailable();
}

void ContainerAccountActions::showSyncIdle() {
    m_container.configSyncCoordinator().showIdle();
}
