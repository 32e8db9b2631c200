#pragma once

// Runs the insertion target window (InsertionTargetWindow.h) in a child process and follows its reports.

#include <QByteArray>
#include <QList>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTest>

#include <functional>
#include <optional>

class TargetProcess {
public:
    // `program` and `leadingArguments` start the target (the bench runs itself with a switch).
    explicit TargetProcess(QString program, QStringList leadingArguments = {})
        : m_program(std::move(program)), m_leading(std::move(leadingArguments)) {
        QObject::connect(&m_process, &QProcess::readyReadStandardOutput, [this] { readLines(); });
        m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    }
    TargetProcess(const TargetProcess&) = delete;
    TargetProcess& operator=(const TargetProcess&) = delete;
    ~TargetProcess() { stop(); }

    void setEnvironment(const QProcessEnvironment& environment) {
        m_process.setProcessEnvironment(environment);
    }

    // Starts the window and waits until it reported itself shown.
    bool start(const QStringList& arguments = {}, int timeoutMs = 30000) {
        m_process.start(m_program, m_leading + arguments);
        if (!m_process.waitForStarted(timeoutMs)) {
            return false;
        }
        return waitForLine("ready", 0, timeoutMs);
    }

    void stop() {
        if (m_process.state() == QProcess::NotRunning) {
            return;
        }
        m_process.closeWriteChannel();
        if (!m_process.waitForFinished(5000)) {
            m_process.kill();
            m_process.waitForFinished(5000);
        }
    }

    // Called whenever the target reports a new text (as soon as its line is read).
    std::function<void(const QString&)> onTextChanged;

    qint64 pid() const { return m_process.processId(); }
    // The target's window has the keyboard focus (Qt saw it become active).
    bool isActive() const { return m_active; }
    const QString& text() const { return m_text; }
    const QList<QByteArray>& keys() const { return m_keys; }
    void clearKeys() { m_keys.clear(); }

    // Sends a command line and returns its reply ("done" or the line starting with `replyPrefix`).
    QByteArray request(const QByteArray& command, const QByteArray& replyPrefix = "done",
                       int timeoutMs = 20000) {
        const qsizetype from = m_lines.size();
        m_process.write(command + '\n');
        if (!waitForLine(replyPrefix, from, timeoutMs)) {
            return {};
        }
        for (qsizetype i = from; i < m_lines.size(); ++i) {
            if (m_lines[i].startsWith(replyPrefix)) {
                return m_lines[i];
            }
        }
        return {};
    }

    QByteArray setText(const QString& text) { return request("settext " + text.toUtf8().toBase64()); }
    QByteArray select(int from, int to) {
        return request("select " + QByteArray::number(from) + ' ' + QByteArray::number(to));
    }
    // Puts text (unless null) and, when asked, the sample image on the clipboard, owned by the target.
    QByteArray setClipboard(const QString& text, bool image) {
        return request("setclip " + (text.isNull() ? QByteArray("-") : text.toUtf8().toBase64()) + ' ' +
                       (image ? "1" : "0"));
    }

    struct Clipboard {
        std::optional<QString> text;
        QByteArray image; // digest, empty when none
        QStringList formats;
    };
    // The clipboard as the target reads it from the X server.
    Clipboard clipboard() {
        const QByteArray line = request("getclip", "clip ");
        Clipboard result;
        for (const QByteArray& field : line.mid(5).split(' ')) {
            const qsizetype eq = field.indexOf('=');
            const QByteArray key = field.left(eq), value = field.mid(eq + 1);
            if (key == "text" && value != "-") {
                result.text = QString::fromUtf8(QByteArray::fromBase64(value));
            } else if (key == "image" && value != "-") {
                result.image = value;
            } else if (key == "formats" && !value.isEmpty()) {
                result.formats = QString::fromUtf8(value).split(QLatin1Char(','));
            }
        }
        return result;
    }

    // Waits for a line starting with `prefix` at or after line number `from`.
    bool waitForLine(const QByteArray& prefix, qsizetype from, int timeoutMs) {
        return QTest::qWaitFor(
            [&] {
                for (qsizetype i = from; i < m_lines.size(); ++i) {
                    if (m_lines[i].startsWith(prefix)) {
                        return true;
                    }
                }
                return false;
            },
            timeoutMs);
    }

private:
    void readLines() {
        m_buffer += m_process.readAllStandardOutput();
        qsizetype end;
        while ((end = m_buffer.indexOf('\n')) >= 0) {
            const QByteArray line = m_buffer.left(end);
            m_buffer.remove(0, end + 1);
            m_lines.append(line);
            if (line.startsWith("text ")) {
                m_text = QString::fromUtf8(QByteArray::fromBase64(line.mid(5)));
                if (onTextChanged) {
                    onTextChanged(m_text);
                }
            } else if (line == "active" || line == "inactive") {
                m_active = line == "active";
            } else if (line.startsWith("key ")) {
                m_keys.append(line.mid(4));
            }
        }
    }

    QString m_program;
    QStringList m_leading;
    QProcess m_process;
    QByteArray m_buffer;
    QList<QByteArray> m_lines;
    QString m_text;
    QList<QByteArray> m_keys;
    bool m_active = false;
};
