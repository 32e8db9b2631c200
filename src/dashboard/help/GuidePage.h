#pragma once

#include <QWidget>

// The Guide page: fixed, offline help in three cards (how the loop works, which mode to use, setup tips).
// It reads no store and has no actions.
class GuidePage : public QWidget {
    Q_OBJECT
public:
    explicit GuidePage(QWidget* parent = nullptr);
};

// One tip: its title in the headline font over the freely wrapping body.
QWidget* makeGuideTip(const QString& title, const QString& body, QWidget* parent = nullptr);
