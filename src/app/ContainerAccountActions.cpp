#include "ContainerAccountActions.h"

#include "ConfigSyncCoordinator.h"
#include "DependencyContainer.h"

void ContainerAccountActions::signInWithApple() {
    m_container.signInWithApple();
}

void ContainerAccountActions::signInWithGoogle() {
    m_container.signInWithGoogle();
}

void ContainerAccountActions::signInWithMicrosoft() {
    m_container.signInWithMicrosoft();
}

bool ContainerAccountActions::microsoftSignInAvailable() const {
    return DependencyContainer::microsoftSignInAvailable();
}

void ContainerAccountActions::showSyncIdle() {
    m_container.configSyncCoordinator().showIdle();
}
