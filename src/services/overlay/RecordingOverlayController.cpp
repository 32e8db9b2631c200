#include "RecordingOverlayController.h"

#include "AppLogger.h"
#include "AudioCaptureService.h"
#include "Clock.h"
#include "FrontmostWindowSource.h"
#include "RecordingOverlayMath.h"
#include "RecordingOverlayView.h"

#include <QCursor>
#include <QGuiApplication>
#include <QPointer>
#include <QScreen>

#include <chrono>

using namespace std::chrono_literals;

namespace {
constexpr auto kFadeFrameInterval = 16ms;

bool runsOnX11() {
    return QGuiApplication::platformName() == QLatin1String("xcb");
}

// The screen that holds a window whose frame is given in X pixels.
QScreen* screenForNativeRect(const QRect& frame) {
    const QList<QScreen*> screens = QGuiApplication::screens();
    QList<QRect> areas;
    for (QScreen* screen : screens) {
        // Qt keeps a screen's top-left in device pixels and scales its size.
        const QRect logical = screen->geometry();
        areas.append(QRect(logical.topLeft(), logical.size() * screen->devicePixelRatio()));
    }
    const int index = RecordingOverlayMath::screenIndexForWindow(areas, frame);
    return index >= 0 ? screens[index] : nullptr;
}
} // namespace

RecordingOverlayController::RecordingOverlayController(Scheduler& scheduler,
                                                       std::shared_ptr<FrontmostWindowSource> windows,
                                                       QObject* parent)
    : QObject(parent), m_scheduler(scheduler), m_windows(std::move(windows)) {}

RecordingOverlayController::~RecordingOverlayController() {
    m_phaseTimer.cancel();
    m_fadeTimer.cancel();
}

void RecordingOverlayController::observe(AudioCaptureService& recorder) {
    disconnect(m_recordingConnection);
    disconnect(m_powerConnection);
    m_recordingConnection =
        connect(&recorder, &AudioCaptureService::isRecordingChanged, this,
                &RecordingOverlayController::recorderRecordingChanged, Qt::QueuedConnection);
    m_powerConnection =
        connect(&recorder, &AudioCaptureService::averagePowerChanged, this,
                &RecordingOverlayController::recorderAveragePowerChanged, Qt::QueuedConnection);
    // Like every later change, the current values arrive on the next turn of the event loop.
    QMetaObject::invokeMethod(
        this,
        [this, recorder = QPointer<AudioCaptureService>(&recorder)] {
            if (recorder) {
                recorderRecordingChanged(recorder->isRecording());
                recorderAveragePowerChanged(recorder->averagePower());
            }
        },
        Qt::QueuedConnection);
}

void RecordingOverlayController::prepare() {
    ensurePanel();
    updatePosition();
    orderOut();
}

void RecordingOverlayController::show(OverlayState state) {
    setState(state);
    ensurePanel();
    updatePosition();
    orderFront();
}

void RecordingOverlayController::hide() {
    setState(OverlayState::Hidden);
    if (m_panel) {
        orderOut();
    }
}

bool RecordingOverlayController::isPanelVisible() const {
    return m_panel && m_panel->isVisible();
}

void RecordingOverlayController::recorderRecordingChanged(bool isRecording) {
    if (isRecording) {
        ensurePanel();
        updatePosition();
        orderFront();
        AppLogger::info(QStringLiteral("Recording overlay shown"));
        return;
    }
    // While the dictation is processed the pill stays up until hide().
    if (m_state != OverlayState::Processing) {
        if (m_panel) {
            orderOut();
        }
        AppLogger::info(QStringLiteral("Recording overlay hidden"));
    }
}

void RecordingOverlayController::recorderAveragePowerChanged(float averagePower) {
    const double level = RecordingOverlayMath::normalizedLevel(averagePower);
    if (level == m_normalizedLevel) {
        return;
    }
    m_normalizedLevel = level;
    if (m_panel) {
        m_panel->setLevel(level);
    }
    emit normalizedLevelChanged(level);
}

RecordingOverlayView* RecordingOverlayController::ensurePanel() {
    if (!m_panel) {
        m_panel = std::make_unique<RecordingOverlayView>();
        m_panel->setState(m_state);
        m_panel->setLevel(m_normalizedLevel);
        m_panel->setPhase(m_phase);
        m_panel->setPillOpacity(0.0);
    }
    return m_panel.get();
}

void RecordingOverlayController::updatePosition() {
    if (!m_panel) {
        return;
    }
    QScreen* screen = targetScreen();
    if (!screen) {
        return; // keeps its last position
    }
    if (m_panel->screen() != screen) {
        m_panel->setScreen(screen);
    }
    m_panel->move(RecordingOverlayMath::panelOrigin(screen->availableGeometry(), m_panel->size()));
}

void RecordingOverlayController::orderFront() {
    if (!m_panel->isVisible()) {
        m_panel->setShapedToPill(runsOnX11() && windows() && !windows()->compositingManagerRunning());
        m_panel->show(); // maps it on top
    } else {
        m_panel->raise();
    }
    if (!m_phaseTimer.isActive()) {
        startPhaseTimer();
    }
    startFade();
}

void RecordingOverlayController::orderOut() {
    m_panel->hide();
    stopPhaseTimer();
    m_fadeTimer.cancel();
    m_panel->setPillOpacity(0.0);
}

void RecordingOverlayController::setState(OverlayState state) {
    if (state == m_state) {
        return;
    }
    m_state = state;
    if (m_panel) {
        m_panel->setState(state);
        if (m_panel->isVisible()) {
            startFade();
        }
    }
    emit stateChanged(state);
}

void RecordingOverlayController::startPhaseTimer() {
    m_phaseTimer.cancel();
    m_phaseTimer = m_scheduler.repeating(kPhaseInterval, [this] {
        m_phase = RecordingOverlayMath::nextPhase(m_phase);
        if (m_panel) {
            m_panel->setPhase(m_phase);
        }
        emit phaseChanged(m_phase);
    });
}

void RecordingOverlayController::stopPhaseTimer() {
    m_phaseTimer.cancel();
}

// Fades the pill towards the opacity of the current state (visible unless hidden).
void RecordingOverlayController::startFade() {
    m_fadeTimer.cancel();
    const double from = m_panel->pillOpacity();
    const double to = m_state == OverlayState::Hidden ? 0.0 : 1.0;
    if (from == to) {
        return;
    }
    const double startedAt = Clock::current().monotonicSeconds();
    const double duration = std::chrono::duration<double>(kFadeDuration).count();
    m_fadeTimer = m_scheduler.repeating(kFadeFrameInterval, [this, from, to, startedAt, duration] {
        const double elapsed = Clock::current().monotonicSeconds() - startedAt;
        m_panel->setPillOpacity(RecordingOverlayMath::fadeOpacity(from, to, elapsed, duration));
        if (elapsed >= duration) {
            m_fadeTimer.cancel();
        }
    });
}

QScreen* RecordingOverlayController::targetScreen() {
    if (const auto frame = windows() ? windows()->frontmostWindowFrame() : std::nullopt) {
        if (QScreen* screen = screenForNativeRect(*frame)) {
            return screen;
        }
    }
    if (QScreen* screen = QGuiApplication::screenAt(QCursor::pos())) {
        return screen;
    }
    return QGuiApplication::primaryScreen();
}

FrontmostWindowSource* RecordingOverlayController::windows() {
    return runsOnX11() ? m_windows.get() : nullptr;
}
