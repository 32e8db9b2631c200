#include "SoundFeedbackService.h"

#include "Scheduler.h"

#include <QApplication>
#include <QAudioDevice>
#include <QAudioFormat>
#include <QAudioSink>
#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMediaDevices>
#include <QtEndian>

#include <chrono>

// The cue files are compiled into the services library; a static library keeps them only when
// something refers to their registration.
static void registerSoundResources() {
    Q_INIT_RESOURCE(sounds);
}

using namespace std::chrono_literals;

namespace {
const QString kResourceFolder = QStringLiteral(":/sounds/");

// Short, quiet stand-ins for the desktop sounds of the same name.
const ToneSequence kTinkTone{{2093.0}, 0.07, 0.0, 0.5};
const ToneSequence kPopTone{{622.0}, 0.06, 0.0, 0.5};

// A sink goes idle when it has handed over the last sample, before the server has played it.
constexpr auto kStopAfterIdle = 500ms;
} // namespace

// One cue: its samples kept in memory, played through a sink of its own that exists only while the cue
// sounds. An idle sink of the Qt PulseAudio backend can keep a timer running; a released one costs nothing.
class SoundFeedbackService::CuePlayer {
public:
    CuePlayer(Scheduler& scheduler, QByteArray samples, QAudioFormat format)
        : m_scheduler(scheduler), m_samples(std::move(samples)), m_format(format) {}

    ~CuePlayer() { release(); }

    bool hasSamples() const { return !m_samples.isEmpty() && m_format.isValid(); }
    // A sink is open: the cue sounds, or has just been handed over and is about to be released.
    bool isActive() const { return m_sink != nullptr; }

    // Plays the cue from its beginning, cutting off a previous play. False when there is no output.
    bool play(double volume) {
        release();
        if (!hasSamples()) {
            return false;
        }
        const QAudioDevice device = QMediaDevices::defaultAudioOutput();
        if (device.isNull()) {
            return false;
        }
        m_buffer = std::make_unique<QBuffer>();
        m_buffer->setBuffer(&m_samples);
        m_buffer->open(QIODevice::ReadOnly);
        m_sink = std::make_unique<QAudioSink>(device, m_format);
        QObject::connect(m_sink.get(), &QAudioSink::stateChanged, m_sink.get(), [this](QAudio::State state) {
            // Released from a timer, never from inside the sink's own signal.
            if (state == QAudio::IdleState) {
                releaseAfter(kStopAfterIdle);
            } else if (state == QAudio::StoppedState) {
                releaseAfter(0ms);
            }
        });
        m_sink->setVolume(volume);
        m_sink->start(m_buffer.get());
        if (m_sink->error() != QAudio::NoError || m_sink->state() == QAudio::StoppedState) {
            release();
            return false;
        }
        return true;
    }

    void release() {
        m_releaseTimer.cancel();
        if (m_sink) {
            m_sink->disconnect();
            m_sink->stop();
            m_sink.reset();
        }
        m_buffer.reset();
    }

private:
    void releaseAfter(std::chrono::milliseconds delay) {
        m_releaseTimer.cancel();
        m_releaseTimer = m_scheduler.singleShot(delay, [this] { release(); });
    }

    Scheduler& m_scheduler;
    QByteArray m_samples;
    QAudioFormat m_format;
    std::unique_ptr<QBuffer> m_buffer;
    std::unique_ptr<QAudioSink> m_sink;
    TimerHandle m_releaseTimer;
};

namespace {

// The samples and format of a PCM WAV file (16-bit integer or 32-bit float, any rate and channel count);
// nothing when the bytes are not such a file.
std::optional<std::pair<QByteArray, QAudioFormat>> decodeWav(const QByteArray& bytes) {
    if (bytes.size() < 12 || !bytes.startsWith("RIFF") || bytes.mid(8, 4) != "WAVE") {
        return std::nullopt;
    }
    QAudioFormat format;
    bool haveFormat = false;
    qsizetype at = 12;
    while (at + 8 <= bytes.size()) {
        const QByteArray tag = bytes.mid(at, 4);
        const qsizetype size = qFromLittleEndian<quint32>(bytes.constData() + at + 4);
        const qsizetype body = at + 8;
        if (size > bytes.size() - body) {
            return std::nullopt;
        }
        if (tag == "fmt " && size >= 16) {
            const char* fmt = bytes.constData() + body;
            const quint16 encoding = qFromLittleEndian<quint16>(fmt);
            const quint16 channels = qFromLittleEndian<quint16>(fmt + 2);
            const quint32 rate = qFromLittleEndian<quint32>(fmt + 4);
            const quint16 bits = qFromLittleEndian<quint16>(fmt + 14);
            if (encoding == 1 && bits == 16) {
                format.setSampleFormat(QAudioFormat::Int16);
            } else if (encoding == 3 && bits == 32) {
                format.setSampleFormat(QAudioFormat::Float);
            } else {
                return std::nullopt;
            }
            format.setChannelCount(channels);
            format.setSampleRate(int(rate));
            haveFormat = format.isValid();
        } else if (tag == "data" && haveFormat) {
            const qsizetype whole = size - size % format.bytesPerFrame();
            if (whole <= 0) {
                return std::nullopt;
            }
            return std::pair{bytes.mid(body, whole), format};
        }
        at = body + size + size % 2; // chunks are padded to an even size
    }
    return std::nullopt;
}

// The cue file at `url` (a resource or a local file), decoded; nothing when it cannot be read.
std::optional<std::pair<QByteArray, QAudioFormat>> loadCueFile(const QUrl& url) {
    QFile file(url.scheme() == QLatin1String("qrc") ? QLatin1Char(':') + url.path() : url.toLocalFile());
    if (!file.open(QIODevice::ReadOnly)) {
        return std::nullopt;
    }
    return decodeWav(file.readAll());
}

std::unique_ptr<SoundFeedbackService::CuePlayer> filePlayer(Scheduler& scheduler,
                                                            const QStringList& candidates) {
    if (const auto url = SoundFeedbackService::findToneFile(candidates)) {
        if (auto decoded = loadCueFile(*url)) {
            return std::make_unique<SoundFeedbackService::CuePlayer>(scheduler, std::move(decoded->first),
                                                                     decoded->second);
        }
    }
    return nullptr;
}

std::unique_ptr<SoundFeedbackService::CuePlayer> tonePlayer(Scheduler& scheduler, const ToneSequence& tone) {
    const std::vector<float> samples = ToneRenderer::render(tone);
    QAudioFormat format;
    format.setSampleRate(ToneRenderer::kSampleRate);
    format.setChannelCount(1);
    format.setSampleFormat(QAudioFormat::Float);
    return std::make_unique<SoundFeedbackService::CuePlayer>(
        scheduler,
        QByteArray(reinterpret_cast<const char*>(samples.data()), qsizetype(samples.size() * sizeof(float))),
        format);
}

} // namespace

SoundFeedbackService::SoundFeedbackService(Scheduler& scheduler, Configuration configuration, QObject* parent)
    : QObject(parent) {
    registerSoundResources();
    m_startTonePlayer = filePlayer(scheduler, configuration.startCandidates);
    m_completionTonePlayer = filePlayer(scheduler, configuration.completionCandidates);
    m_completionFallbackPlayer = tonePlayer(scheduler, configuration.completionFallback);
    m_tinkPlayer = tonePlayer(scheduler, kTinkTone);
    m_popPlayer = tonePlayer(scheduler, kPopTone);
}

SoundFeedbackService::SoundFeedbackService(QObject* parent)
    : SoundFeedbackService(Scheduler::current(), Configuration{}, parent) {}

SoundFeedbackService::~SoundFeedbackService() = default;

std::optional<QUrl> SoundFeedbackService::findToneFile(const QStringList& candidateRelativePaths) {
    registerSoundResources();
    for (const QString& candidate : candidateRelativePaths) {
        const QString fileName = QFileInfo(candidate).fileName();
        if (!fileName.isEmpty() && QFileInfo(kResourceFolder + fileName).isFile()) {
            return QUrl(QStringLiteral("qrc:/sounds/") + fileName);
        }
    }
    const QDir workingDirectory = QDir::current();
    for (const QString& candidate : candidateRelativePaths) {
        const QFileInfo file(workingDirectory.absoluteFilePath(candidate));
        if (file.isFile()) {
            return QUrl::fromLocalFile(file.absoluteFilePath());
        }
    }
    return std::nullopt;
}

bool SoundFeedbackService::hasStartFile() const {
    return m_startTonePlayer != nullptr;
}

bool SoundFeedbackService::hasCompletionFile() const {
    return m_completionTonePlayer != nullptr;
}

bool SoundFeedbackService::isPlaying() const {
    for (const CuePlayer* player :
         {m_startTonePlayer.get(), m_completionTonePlayer.get(), m_completionFallbackPlayer.get(),
          m_tinkPlayer.get(), m_popPlayer.get()}) {
        if (player && player->isActive()) {
            return true;
        }
    }
    return false;
}

void SoundFeedbackService::playStartSound() {
    if (m_startTonePlayer) {
        m_startTonePlayer->play(kStartVolume);
        return;
    }
    playNamedSound(QStringLiteral("Tink"), kTinkVolume, kTinkFallbackVolume);
}

void SoundFeedbackService::playCompletionSound() {
    if (m_completionTonePlayer) {
        m_completionTonePlayer->play(kCompletionVolume);
        return;
    }
    m_completionFallbackPlayer->play(kFallbackToneVolume);
}

void SoundFeedbackService::playNamedSound(const QString& name, double volume, double fallbackVolume) {
    QMetaObject::invokeMethod(
        this, [this, name, volume, fallbackVolume] { playNamedSoundNow(name, volume, fallbackVolume); },
        Qt::QueuedConnection);
}

void SoundFeedbackService::playNamedSoundNow(const QString& name, double volume, double fallbackVolume) {
    CuePlayer* named = name == QLatin1String("Tink")  ? m_tinkPlayer.get()
                       : name == QLatin1String("Pop") ? m_popPlayer.get()
                                                      : nullptr;
    if (named && named->play(volume)) {
        return;
    }
    if (m_popPlayer->play(fallbackVolume)) {
        return;
    }
    QApplication::beep();
}
