#pragma once

// A small window that the insertion tests (and the benchmark) paste, type and copy into, in a process of
// its own. It reports on stdout, one line each:
//   "ready <pid>"                      shown
//   "active" / "inactive"              it got / lost the keyboard focus
//   "text <base64 UTF-8>"              its text after every change
//   "key <chord>"                      every Ctrl chord it sees ("ctrl+v", "ctrl+shift+c", ...)
//   replies to the commands it reads on stdin:
//   "settext <base64>"                 -> "done"            replace the text
//   "select <from> <to>"               -> "done"            select characters [from, to)
//   "setclip <base64 text|-> <0|1>"    -> "done"            put text and/or an image on the clipboard
//   "getclip"                          -> "clip text=<base64|-> image=<digest|-> formats=<a,b,...>"
//   "activate"                         -> "done"
// Options: --title <title>, --class <instance>,<Class> (the window's WM_CLASS), --terminal (copy and paste
// only with Ctrl+Shift+C / Ctrl+Shift+V, like a terminal; Ctrl+C and Ctrl+V do nothing), --ignore-copy.
// It quits when its stdin closes.

#include <QApplication>
#include <QClipboard>
#include <QCryptographicHash>
#include <QImage>
#include <QKeyEvent>
#include <QKeySequence>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QSocketNotifier>
#include <QTextCursor>

#include <cstdio>
#include <unistd.h>

namespace insertion_target {

inline void say(const QByteArray& line) {
    std::fwrite(line.constData(), 1, static_cast<size_t>(line.size()), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

// The image the tests put on the clipboard as the user's content.
inline QImage sampleImage() {
    QImage image(24, 16, QImage::Format_RGB32);
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            image.setPixel(x, y, qRgb(10 * x, 15 * y, (x * y) % 256));
        }
    }
    return image;
}

inline QByteArray imageDigest(const QImage& image) {
    const QImage rgb = image.convertToFormat(QImage::Format_RGB32);
    QCryptographicHash hash(QCryptographicHash::Sha1);
    for (int y = 0; y < rgb.height(); ++y) {
        hash.addData(QByteArrayView(reinterpret_cast<const char*>(rgb.constScanLine(y)), rgb.width() * 4));
    }
    return QByteArray::number(rgb.width()) + "x" + QByteArray::number(rgb.height()) + ":" +
           hash.result().toHex();
}

class ChordFilter : public QObject {
public:
    ChordFilter(QPlainTextEdit& editor, bool terminal, bool ignoreCopy)
        : m_editor(editor), m_terminal(terminal), m_ignoreCopy(ignoreCopy) {}

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() != QEvent::KeyPress && event->type() != QEvent::ShortcutOverride) {
            return QObject::eventFilter(watched, event);
        }
        auto* key = static_cast<QKeyEvent*>(event);
        if (!(key->modifiers() & Qt::ControlModifier) || key->key() == Qt::Key_Control ||
            key->key() == Qt::Key_Shift) {
            return false;
        }
        const bool shift = key->modifiers() & Qt::ShiftModifier;
        const bool isC = key->key() == Qt::Key_C;
        const bool isV = key->key() == Qt::Key_V;
        if (event->type() == QEvent::ShortcutOverride) {
            // Claim our chords so no shortcut takes them.
            if (isC || isV) {
                event->accept();
                return true;
            }
            return false;
        }
        say("key ctrl+" + QByteArray(shift ? "shift+" : "") +
            QKeySequence(key->key()).toString().toLower().toUtf8());
        if (m_terminal) {
            if (isV && shift) {
                m_editor.paste();
            } else if (isC && shift) {
                m_editor.copy();
            }
            return isC || isV;
        }
        if (isC && m_ignoreCopy) {
            return true;
        }
        return false;
    }

private:
    QPlainTextEdit& m_editor;
    bool m_terminal;
    bool m_ignoreCopy;
};

inline int run(int argc, char** argv) {
    QString title = QStringLiteral("Insertion target");
    QByteArray instance, className;
    bool terminal = false, ignoreCopy = false;
    for (int i = 1; i < argc; ++i) {
        const QByteArray arg(argv[i]);
        if (arg == "--title" && i + 1 < argc) {
            title = QString::fromUtf8(argv[++i]);
        } else if (arg == "--class" && i + 1 < argc) {
            const QList<QByteArray> parts = QByteArray(argv[++i]).split(',');
            instance = parts.value(0);
            className = parts.value(1);
        } else if (arg == "--terminal") {
            terminal = true;
        } else if (arg == "--ignore-copy") {
            ignoreCopy = true;
        }
    }
    if (!instance.isEmpty()) {
        qputenv("RESOURCE_NAME", instance); // WM_CLASS instance name
    }
    QApplication app(argc, argv);
    if (!className.isEmpty()) {
        QApplication::setApplicationName(QString::fromUtf8(className)); // WM_CLASS class
    }

    QPlainTextEdit editor;
    editor.setWindowTitle(title);
    editor.resize(420, 160);
    ChordFilter filter(editor, terminal, ignoreCopy);
    editor.installEventFilter(&filter);
    QObject::connect(&editor, &QPlainTextEdit::textChanged,
                     [&editor] { say("text " + editor.toPlainText().toUtf8().toBase64()); });

    QSocketNotifier input(STDIN_FILENO, QSocketNotifier::Read);
    QByteArray pending;
    QObject::connect(&input, &QSocketNotifier::activated, [&] {
        char buffer[4096];
        const ssize_t n = ::read(STDIN_FILENO, buffer, sizeof buffer);
        if (n <= 0) {
            input.setEnabled(false);
            QApplication::quit();
            return;
        }
        pending.append(buffer, n);
        qsizetype end;
        while ((end = pending.indexOf('\n')) >= 0) {
            const QList<QByteArray> words = pending.left(end).split(' ');
            pending.remove(0, end + 1);
            const QByteArray& command = words.value(0);
            if (command == "settext") {
                editor.setPlainText(QString::fromUtf8(QByteArray::fromBase64(words.value(1))));
                say("done");
            } else if (command == "select") {
                QTextCursor cursor = editor.textCursor();
                cursor.setPosition(words.value(1).toInt());
                cursor.setPosition(words.value(2).toInt(), QTextCursor::KeepAnchor);
                editor.setTextCursor(cursor);
                say("done");
            } else if (command == "setclip") {
                auto* mime = new QMimeData;
                if (words.value(1) != "-") {
                    mime->setText(QString::fromUtf8(QByteArray::fromBase64(words.value(1))));
                }
                if (words.value(2) == "1") {
                    mime->setImageData(sampleImage());
                }
                QApplication::clipboard()->setMimeData(mime);
                say("done");
            } else if (command == "getclip") {
                const QMimeData* mime = QApplication::clipboard()->mimeData();
                QByteArray text = "-", image = "-", formats;
                if (mime && mime->hasText()) {
                    text = mime->text().toUtf8().toBase64();
                }
                if (mime && mime->hasImage()) {
                    image = imageDigest(qvariant_cast<QImage>(mime->imageData()));
                }
                if (mime) {
                    formats = mime->formats().join(QLatin1Char(',')).toUtf8();
                }
                say("clip text=" + text + " image=" + image + " formats=" + formats);
            } else if (command == "activate") {
                editor.raise();
                editor.activateWindow();
                say("done");
            } else if (command == "quit") {
                QApplication::quit();
            }
        }
    });

    QObject::connect(&app, &QGuiApplication::applicationStateChanged, [](Qt::ApplicationState state) {
        say(state == Qt::ApplicationActive ? "active" : "inactive");
    });
    editor.show();
    editor.raise();
    editor.activateWindow();
    say("ready " + QByteArray::number(QApplication::applicationPid()));
    return app.exec();
}

} // namespace insertion_target
