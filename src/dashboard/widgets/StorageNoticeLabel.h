#pragma once

#include <QLabel>

// One line per storage notice (a file set aside as unreadable, data that cannot be saved), with the path
// concerned; hidden while there is none. The text can be selected, so that the path can be copied.
class StorageNoticeLabel : public QLabel {
    Q_OBJECT
public:
    explicit StorageNoticeLabel(QWidget* parent = nullptr);

private:
    void sync();
};
