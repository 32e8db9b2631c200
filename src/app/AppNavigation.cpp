#include "AppNavigation.h"

#include <QApplication>
#include <QWidget>

AppNavigation& AppNavigation::instance() {
    static AppNavigation* navigation = new AppNavigation; // lives as long as the process
    return *navigation;
}

void AppNavigation::showDashboard() {
    AppNavigation& self = instance();
    if (!self.m_provider) {
        return;
    }
    if (QWidget* window = self.m_provider()) {
        if (window->isMinimized()) {
            window->showNormal();
        } else {
            window->show();
        }
        window->raise();
        window->activateWindow();
    }
}

void AppNavigation::showSettings() {
    showDashboard();
    emit instance().settingsRequested();
}
