#include "AppNavigation.h"

#include <QApplication>
#include <QWidget>

AppNavigation& AppNavigation::instance() {
    static AppNavigation* navigation = new AppNavigation; // lives as long as the process
    return *navigation;
}

void AppNavigation::showSettings() {
    AppNavigation& self = instance();
    if (self.m_provider) {
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
    emit self.settingsRequested();
}
