#pragma once

#include <QLoggingCategory>
#include <QStringList>

// Collects the messages of the "runtime" logging category (AppLogger's lines) while it is alive; other
// messages go to the previous handler.
class RuntimeLogCapture {
public:
    RuntimeLogCapture() {
        s_lines.clear();
        s_previous = qInstallMessageHandler(&RuntimeLogCapture::handle);
    }
    ~RuntimeLogCapture() { qInstallMessageHandler(s_previous); }
    RuntimeLogCapture(const RuntimeLogCapture&) = delete;
    RuntimeLogCapture& operator=(const RuntimeLogCapture&) = delete;

    const QStringList& lines() const { return s_lines; }
    void clear() { s_lines.clear(); }

private:
    static void handle(QtMsgType type, const QMessageLogContext& context, const QString& message) {
        if (context.category && qstrcmp(context.category, "runtime") == 0) {
            s_lines.append(message);
            return;
        }
        if (s_previous) {
            s_previous(type, context, message);
        }
    }

    static inline QStringList s_lines;
    static inline QtMessageHandler s_previous = nullptr;
};
