#include "SoundFeedbackService.h"

#include "Scheduler.h"

#include <QApplication>
#include <QAudioDevice>
#include <QAudioFormat>
#include <QAudioSink>
#include <QBuffer>
#include <QDir>
#include <QFileInfo>
#include <QMediaDevices>
#include <QSoundEffect>

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

// A cue WAV, loaded once and played from its beginning on every play.
class SoundFeedbackService::FileTonePlayer {
public:
    explicit FileTonePlayer(const QStringList& candidates) {
        if (const auto url = findToneFile(candidates)) {
            m_effect = std::make_unique<QSoundEffect>();
            m_effect->setSource(*url); // loads at once, so a play costs nothing later
        }
    }

    // A file was found and did not fail to load.
    bool hasPlayer() const { return m_effect && m_effect->status() != QSoundEffect::Error; }
    bool isLoaded() const { return m_effect && m_effect->status() == QSoundEffect::Ready; }

    void play(double volume) {
        m_effect->stop();
        m_effect->setVolume(float(volume));
        m_effect->play();
    }

private:
    std::unique_ptr<QSoundEffect> m_effect;
};

// A tone rendered once into memory and played through its own sink.
class SoundFeedbackService::SynthTonePlayer {
public:
    SynthTonePlayer(Scheduler& scheduler, const ToneSequence& tone) : m_scheduler(scheduler) {
        const std::vector<float> samples = ToneRenderer::render(tone);
        m_bytes = QByteArray(reinterpret_cast<const char*>(samples.data()),
                             qsizetype(samples.size() * sizeof(float)));
        m_buffer.setBuffer(&m_bytes);
        m_buffer.open(QIODevice::ReadOnly);

        const QAudioDevice device = QMediaDevices::defaultAudioOutput();
        if (device.isNull()) {
            return;
        }
        QAudioFormat format;
        format.setSampleRate(ToneRenderer::kSampleRate);
        format.setChannelCount(1);
        format.setSampleFormat(QAudioFormat::Float);
        m_sink = std::make_unique<QAudioSink>(device, format);
        QObject::connect(m_sink.get(), &QAudioSink::stateChanged, m_sink.get(), [this](QAudio::State state) {
            if (state == QAudio::IdleState) {
                m_stopTimer.cancel();
                m_stopTimer = m_scheduler.singleShot(kStopAfterIdle, [this] { m_sink->stop(); });
            }
        });
    }

    ~SynthTonePlayer() { m_stopTimer.cancel(); }

    // Plays the tone from its beginning, cutting off a previous play. False when there is no output.
    bool play(double volume) {
        if (!m_sink) {
            return false;
        }
        m_stopTimer.cancel();
        m_sink->stop();
        m_buffer.seek(0);
        m_sink->setVolume(volume);
        m_sink->start(&m_buffer);
        return m_sink->error() == QAudio::NoError && m_sink->state() != QAudio::StoppedState;
    }

private:
    Scheduler& m_scheduler;
    QByteArray m_bytes;
    QBuffer m_buffer;
    std::unique_ptr<QAudioSink> m_sink;
    TimerHandle m_stopTimer;
};

SoundFeedbackService::SoundFeedbackService(Scheduler& scheduler, Configuration configuration, QObject* parent)
    : QObject(parent) {
    registerSoundResources();
    m_startTonePlayer = std::make_unique<FileTonePlayer>(configuration.startCandidates);
    m_completionTonePlayer = std::make_unique<FileTonePlayer>(configuration.completionCandidates);
    m_completionFallbackPlayer =
        std::make_unique<SynthTonePlayer>(scheduler, configuration.completionFallback);
    m_tinkPlayer = std::make_unique<SynthTonePlayer>(scheduler, kTinkTone);
    m_popPlayer = std::make_unique<SynthTonePlayer>(scheduler, kPopTone);
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
    return m_startTonePlayer->isLoaded();
}

bool SoundFeedbackService::hasCompletionFile() const {
    return m_completionTonePlayer->isLoaded();
}

void SoundFeedbackService::playStartSound() {
    if (m_startTonePlayer->hasPlayer()) {
        m_startTonePlayer->play(kStartVolume);
        return;
    }
    playNamedSound(QStringLiteral("Tink"), kTinkVolume, kTinkFallbackVolume);
}

void SoundFeedbackService::playCompletionSound() {
    if (m_completionTonePlayer->hasPlayer()) {
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
    SynthTonePlayer* named = name == QLatin1String("Tink")  ? m_tinkPlayer.get()
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
