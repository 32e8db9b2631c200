#include "TrayPanel.h"

#include "AppLogger.h"
#include "AppNavigation.h"
#include "AppSettings.h"
#include "AppUpdater.h"
#include "DictationCoordinator.h"
#include "DisplayText.h"
#include "FrontmostWindowSource.h"
#include "HotkeyDefinition.h"

#include <QApplication>
#include <QFontDatabase>
#include <QFrame>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QIcon>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QVBoxLayout>
#include <QWindow>

#include <unistd.h>

namespace {

QFrame* divider(QWidget* parent) {
    auto* line = new QFrame(parent);
    line->setFrameShape(QFrame::HLine);
    line->setFrameShadow(QFrame::Sunken);
    return line;
}

QLabel* captionLabel(QWidget* parent, const QString& objectName) {
    auto* label = new QLabel(parent);
    label->setObjectName(objectName);
    label->setTextFormat(Qt::PlainText);
    label->setWordWrap(true);
    label->setStyleSheet(QStringLiteral("color: palette(placeholder-text); font-size: 11px;"));
    return label;
}

QString lineText(const QString& prefix, const HotkeyDefinition& hotkey) {
    return prefix + HotkeyDefinition::displayString(hotkey.keyCode, hotkey.carbonModifiers,
                                                    hotkey.includesFunctionKey, hotkey.isModifierOnly);
}

} // namespace

QString TrayPanel::appVersionDisplay() {
    const QString version = QCoreApplication::applicationVersion().isEmpty()
                                ? AppUpdater::versionText()
                                : QCoreApplication::applicationVersion();
    return QStringLiteral("Version %1 (%2)").arg(version).arg(AppUpdater::buildConfiguration().buildNumber);
}

TrayPanel::TrayPanel(DictationCoordinator& coordinator, AppSettings& settings, AppUpdater* updater,
                     QWidget* parent)
    : QWidget(parent), m_coordinator(coordinator), m_settings(settings), m_updater(updater),
      m_focusProbe(focusProbe(nullptr)), m_quit([] { QCoreApplication::quit(); }) {
    setObjectName(QStringLiteral("trayPanel"));
    setFixedWidth(kWidth);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(16, 16, 16, 16);
    layout->setSpacing(14);

    auto* header = new QVBoxLayout;
    header->setSpacing(6);
    auto* title = new QLabel(QStringLiteral("Quillvane"), this);
    title->setStyleSheet(QStringLiteral("font-size: 17px; font-weight: 600;"));
    header->addWidget(title);
    m_status = captionLabel(this, QStringLiteral("statusLine"));
    header->addWidget(m_status);
    auto* version = captionLabel(this, QStringLiteral("versionLine"));
    version->setText(appVersionDisplay());
    QFont mono = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    mono.setPixelSize(10);
    version->setFont(mono);
    header->addWidget(version);
    layout->addLayout(header);
    layout->addWidget(divider(this));

    auto* block = new QVBoxLayout;
    block->setSpacing(10);
    auto* stateLine = new QHBoxLayout;
    stateLine->setSpacing(6);
    m_stateIcon = new QLabel(this);
    m_stateIcon->setFixedSize(16, 16);
    m_stateText = new QLabel(this);
    m_stateText->setObjectName(QStringLiteral("recordingState"));
    stateLine->addWidget(m_stateIcon);
    stateLine->addWidget(m_stateText, 1);
    block->addLayout(stateLine);
    m_shortcuts = new QVBoxLayout;
    m_shortcuts->setSpacing(4);
    block->addLayout(m_shortcuts);
    m_summary = captionLabel(this, QStringLiteral("summaryLine"));
    block->addWidget(m_summary);
    m_transcriptDivider = divider(this);
    m_transcriptDivider->setObjectName(QStringLiteral("transcriptDivider"));
    block->addWidget(m_transcriptDivider);
    m_transcript = captionLabel(this, QStringLiteral("transcriptLines"));
    block->addWidget(m_transcript);
    layout->addLayout(block);
    layout->addWidget(divider(this));

    m_recordButton = new QPushButton(this);
    m_recordButton->setObjectName(QStringLiteral("recordButton"));
    connect(m_recordButton, &QPushButton::clicked, this, &TrayPanel::toggleRecording);
    layout->addWidget(m_recordButton);
    auto* settingsButton = new QPushButton(QStringLiteral("Settings"), this);
    settingsButton->setObjectName(QStringLiteral("settingsButton"));
    connect(settingsButton, &QPushButton::clicked, this, [this] {
        hide();
        AppNavigation::showSettings();
    });
    layout->addWidget(settingsButton);
    if (m_updater && m_updater->isConfigured()) {
        m_updateButton = new QPushButton(QStringLiteral("Check for Updates…"), this);
        m_updateButton->setObjectName(QStringLiteral("checkForUpdatesButton"));
        connect(m_updateButton, &QPushButton::clicked, m_updater, &AppUpdater::checkForUpdates);
        connect(m_updater, &AppUpdater::canCheckForUpdatesChanged, this, &TrayPanel::syncWhenShown);
        layout->addWidget(m_updateButton);
    }
    auto* quit = new QPushButton(QStringLiteral("Quit"), this);
    quit->setObjectName(QStringLiteral("quitButton"));
    connect(quit, &QPushButton::clicked, this, [this] { m_quit(); });
    layout->addWidget(quit);

    for (auto signal :
         {&DictationCoordinator::statusTextChanged, &DictationCoordinator::lastRecordingSummaryChanged,
          &DictationCoordinator::lastTranscriptChanged}) {
        connect(&m_coordinator, signal, this, &TrayPanel::syncWhenShown);
    }
    connect(&m_settings, &AppSettings::hotkeyChanged, this, &TrayPanel::syncWhenShown);
    connect(&m_settings, &AppSettings::smartEditHotkeyChanged, this, &TrayPanel::syncWhenShown);
    connect(&m_settings, &AppSettings::vdiHotkeyChanged, this, &TrayPanel::syncWhenShown);
    connect(&m_settings, &AppSettings::smartEditHotkeyEnabledChanged, this, &TrayPanel::syncWhenShown);
    connect(&m_settings, &AppSettings::vdiHotkeyEnabledChanged, this, &TrayPanel::syncWhenShown);
    sync();
}

bool TrayPanel::isRecording() const {
    return m_coordinator.services().recorder.isRecording();
}

void TrayPanel::syncWhenShown() {
    if (isVisible()) {
        sync();
    } else {
        m_stale = true;
    }
}

void TrayPanel::showEvent(QShowEvent* event) {
    if (m_stale) {
        sync();
    }
    QWidget::showEvent(event);
}

void TrayPanel::sync() {
    m_stale = false;
    m_status->setText(DisplayText::clip(m_coordinator.statusText(), DisplayText::kParagraphBudget));
    const bool recording = isRecording();
    m_stateText->setText(recording ? QStringLiteral("Recording") : QStringLiteral("Idle"));
    m_stateText->setStyleSheet(recording ? QStringLiteral("color: #d93025;") : QString());
    m_stateIcon->setPixmap(QIcon(recording ? QStringLiteral(":/icons/status-recording.svg")
                                           : QStringLiteral(":/icons/status-idle.svg"))
                               .pixmap(16, 16));

    const QStringList lines = shortcutLines();
    while (m_shortcuts->count() > lines.size()) {
        QLayoutItem* item = m_shortcuts->takeAt(m_shortcuts->count() - 1);
        delete item->widget();
        delete item;
    }
    for (qsizetype i = 0; i < lines.size(); ++i) {
        if (i >= m_shortcuts->count()) {
            m_shortcuts->addWidget(captionLabel(this, QStringLiteral("shortcutLine%1").arg(i)));
        }
        auto* label = static_cast<QLabel*>(m_shortcuts->itemAt(int(i))->widget());
        label->setText(lines[i]);
    }

    const std::optional<QString>& summary = m_coordinator.lastRecordingSummary();
    m_summary->setVisible(summary.has_value());
    m_summary->setText(DisplayText::clip(summary.value_or(QString()), DisplayText::kParagraphBudget));

    const bool showTranscript = transcriptShown();
    m_transcriptDivider->setVisible(showTranscript);
    m_transcript->setVisible(showTranscript);
    if (showTranscript) {
        m_transcript->setText(
            DisplayText::fitLines(*m_coordinator.lastTranscript(), m_transcript->font(), kWidth - 32, 4)
                .join(QLatin1Char('\n')));
    }

    m_recordButton->setText(recording ? QStringLiteral("Stop Recording") : QStringLiteral("Start Recording"));
    if (m_updateButton) {
        m_updateButton->setEnabled(m_updater->canCheckForUpdates());
    }
}

QStringList TrayPanel::shortcutLines() const {
    QStringList lines{lineText(QStringLiteral("Dictation: "), m_settings.hotkey())};
    if (m_settings.smartEditHotkeyEnabled()) {
        lines << lineText(QStringLiteral("AI Mode: "), m_settings.smartEditHotkey());
    }
    if (m_settings.vdiHotkeyEnabled()) {
        lines << lineText(QStringLiteral("Typing Mode: "), m_settings.vdiHotkey());
    }
    return lines;
}

QStringList TrayPanel::actionTitles() const {
    QStringList titles;
    for (QPushButton* button : findChildren<QPushButton*>(QString(), Qt::FindDirectChildrenOnly)) {
        titles << button->text();
    }
    return titles;
}

bool TrayPanel::transcriptShown() const {
    const std::optional<QString>& transcript = m_coordinator.lastTranscript();
    return transcript.has_value() && !transcript->isEmpty();
}

void TrayPanel::toggleRecording() {
    hide();
    if (isRecording()) {
        m_focusWait.cancel();
        m_coordinator.stopRecording();
        return;
    }
    m_focusWait.cancel();
    startWhenFocusLeft(std::chrono::milliseconds(0));
}

void TrayPanel::startWhenFocusLeft(std::chrono::milliseconds waited) {
    if (m_focusProbe() && waited < kFocusWait) {
        QPointer<TrayPanel> self(this);
        m_focusWait = Scheduler::current().singleShot(kFocusPoll, [self, waited] {
            if (self) {
                self->startWhenFocusLeft(waited + kFocusPoll);
            }
        });
        return;
    }
    if (waited >= kFocusWait) {
        AppLogger::info(QStringLiteral("Starting the recording from the tray while one of our windows still "
                                       "has the focus waited_ms=%1")
                            .arg(waited.count()));
    }
    // The flag is read again now, as a press may have started a recording meanwhile.
    if (isRecording()) {
        m_coordinator.stopRecording();
    } else {
        m_coordinator.startRecording(RecordingMode::Transcription, OutputMode::Paste);
    }
}

TrayPanel::FocusProbe TrayPanel::focusProbe(std::shared_ptr<FrontmostWindowSource> windows) {
    return [windows = std::move(windows)] {
        if (QGuiApplication::focusWindow() != nullptr) {
            return true;
        }
        if (!windows) {
            return false;
        }
        const std::optional<FrontmostWindow> front = windows->frontmostWindow();
        return front && front->processId && *front->processId == qint64(::getpid());
    };
}
