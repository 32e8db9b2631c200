#pragma once

#include "AtSpiClient.h"

#include <QRect>
#include <QString>
#include <QTest>

// Xlib after Qt: its macros (Bool, None, Status) clash with names in Qt's headers. Include this header after
// every Qt header.
#include "../services/hotkeys/XTestInjector.h"

// The real program's buttons, found as a screen reader finds them (role and accessible name on the AT-SPI
// bus) and clicked as a person clicks: the pointer moves onto the button, then the left button goes down
// and up through XTest.
namespace ClickByName {

inline const QString kPushButton = QStringLiteral("push button");

// Where the showing, enabled push button of that name of `application` is on the screen; empty until it is
// there.
inline QRect buttonOnScreen(AtSpiClient& accessibility, const QString& application, const QString& name) {
    const std::optional<AtSpiClient::Object> app = accessibility.application(application);
    if (!app) {
        return {};
    }
    const std::optional<AtSpiClient::Object> button = accessibility.findShowing(*app, kPushButton, name);
    if (!button || !accessibility.hasState(*button, AtSpiClient::stateEnabled)) {
        return {};
    }
    return accessibility.screenExtents(*button).value_or(QRect());
}

// Waits up to 20 s for the button, then clicks its centre. False (with a warning) when it never showed.
inline bool click(AtSpiClient& accessibility, XTestInjector& pointer, const QString& application,
                  const QString& name) {
    QRect where;
    if (!QTest::qWaitFor(
            [&] { return !(where = buttonOnScreen(accessibility, application, name)).isEmpty(); }, 20000)) {
        qWarning("no showing, enabled push button named \"%s\" in %s", qPrintable(name),
                 qPrintable(application));
        return false;
    }
    pointer.moveTo(where.center().x(), where.center().y());
    QTest::qWait(150);
    pointer.button(1, true);
    QTest::qWait(60);
    pointer.button(1, false);
    return true;
}

} // namespace ClickByName
