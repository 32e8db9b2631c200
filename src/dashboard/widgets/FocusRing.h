#pragma once

#include <QObject>
#include <QPointer>

class QWidget;

// Draws a ring over whichever button of `root` has the keyboard focus, when it got there from the
// keyboard (Tab, Shift+Tab), not from a click. The dashboard's buttons paint themselves (or through style
// sheets), which leaves no room for the style's own focus frame; this puts one on all of them alike: a
// 2 px accent outline with a thin white line inside, so it shows on light cards and on the dark sidebar.
// A button that draws its own ring (the switch) opts out with the property "ownFocusRing" set to true. The
// ring follows the rounded shape named by the button's property "focusRingRadius" (px; default 10, at most
// half the height). Main thread only.
class FocusRing : public QObject {
    Q_OBJECT
public:
    // Installs the rings for every button under `root` (owned by it).
    static FocusRing* install(QWidget* root);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    explicit FocusRing(QWidget* root);
    void follow(QWidget* now);
    bool wants(const QWidget* widget) const;

    QWidget* m_root;
    QPointer<QWidget> m_current;
    // The focus came with a key (no mouse button was down); a click on the button takes the ring away.
    bool m_fromKeyboard = false;
};
