#pragma once

#include <QHashFunctions>
#include <QMetaType>
#include <QString>

// One microphone as the settings page lists it: the PulseAudio source name (the id saved in the settings),
// its description, and whether it was the server's default source when the list was built.
struct AudioInputDevice {
    QString id;
    QString name;
    bool isDefault = false;

    friend bool operator==(const AudioInputDevice&, const AudioInputDevice&) = default;
};

inline size_t qHash(const AudioInputDevice& device, size_t seed = 0) {
    return qHashMulti(seed, device.id, device.name, device.isDefault);
}

Q_DECLARE_METATYPE(AudioInputDevice)
