#pragma once

// Shared by the x11 insertion tests: the target window process, waiting until it is in front, a key
// synthesizer whose failures the test chooses, and a main() that starts a private X server first.

#include "FrontmostWindowSource.h"
#include "KeySynthesizer.h"
#include "PrivateXServer.h"
#include "TargetProcess.h"
#include "X11KeyInjector.h"
#include "X11WindowInspector.h"

#include "InsertionTargetWindow.h"

#include <QApplication>
#include <QProcess>
#include <QThread>
#include <QTest>

#include <memory>
#include <vector>

// What the user has on the clipboard in the tests (with the target's sample image).
inline const QString kUserText = QString::fromUtf8("the user's own words ✓");

// The clipboard, as the target reads it from the X server, holds the user's text and image.
// (The target learns of a new owner from an X event that may reach it after our request, until then it
// answers with the formats it cached for the previous owner: ask again for a moment.)
inline void verifyUserClipboard(TargetProcess& target) {
    const QByteArray image = insertion_target::imageDigest(insertion_target::sampleImage());
    TargetProcess::Clipboard clipboard;
    const bool same = QTest::qWaitFor(
        [&] {
            clipboard = target.clipboard();
            return clipboard.text == kUserText && clipboard.image == image;
        },
        3000);
    Q_UNUSED(same) // the comparisons say what differs
    QCOMPARE(clipboard.text, std::optional<QString>(kUserText));
    QCOMPARE(clipboard.image, image);
}

// The window reported by `windows` belongs to `target`, and the target has the keyboard focus.
inline bool waitUntilFrontmost(FrontmostWindowSource& windows, const TargetProcess& target,
                               int timeoutMs = 20000) {
    return QTest::qWaitFor(
        [&] {
            const auto front = windows.frontmostWindow();
            return target.isActive() && front && front->processId == target.pid();
        },
        timeoutMs);
}

// The real synthesizer, with failures on request.
class ScriptedKeys : public KeySynthesizer {
public:
    explicit ScriptedKeys(std::shared_ptr<KeySynthesizer> real) : m_real(std::move(real)) {}
    bool available = true;
    bool chordWorks = true;
    int chordsSent = 0;

    bool isTrusted() const override { return m_real->isTrusted(); }
    bool isAvailable() const override { return available && m_real->isAvailable(); }
    QCoro::Task<bool> waitForModifiersReleased(std::chrono::milliseconds limit) override {
        return m_real->waitForModifiersReleased(limit);
    }
    bool sendChord(const EditChord& chord) override {
        if (!chordWorks) {
            return false;
        }
        ++chordsSent;
        return m_real->sendChord(chord);
    }
    QCoro::Task<> typeText(QString text, std::chrono::milliseconds delay) override {
        return m_real->typeText(std::move(text), delay);
    }

private:
    std::shared_ptr<KeySynthesizer> m_real;
};

// Busy loops in child processes, one per core, while it lives.
class MachineLoad {
public:
    MachineLoad() {
        for (int i = 0; i < std::max(2, QThread::idealThreadCount()); ++i) {
            auto process = std::make_unique<QProcess>();
            process->start(QStringLiteral("sh"),
                           {QStringLiteral("-c"), QStringLiteral("while :; do :; done")});
            process->waitForStarted();
            m_processes.push_back(std::move(process));
        }
    }
    ~MachineLoad() {
        for (auto& process : m_processes) {
            process->kill();
            process->waitForFinished();
        }
    }

private:
    std::vector<std::unique_ptr<QProcess>> m_processes;
};

// main() of an x11 insertion test: a private Xvfb with openbox, then the application on it.
#define INSERTION_X11_TEST_MAIN(TestClass)                                                                   \
    int main(int argc, char** argv) {                                                                        \
        PrivateXServer server;                                                                               \
        QString error;                                                                                       \
        if (!server.start(true, &error)) {                                                                   \
            qCritical("cannot start the private X server: %s", qPrintable(error));                           \
            return 1;                                                                                        \
        }                                                                                                    \
        qputenv("DISPLAY", server.displayName());                                                            \
        qputenv("QT_QPA_PLATFORM", "xcb");                                                                   \
        QApplication app(argc, argv);                                                                        \
        TestClass test;                                                                                      \
        QTEST_SET_MAIN_SOURCE_PATH                                                                           \
        return QTest::qExec(&test, argc, argv);                                                              \
    }
