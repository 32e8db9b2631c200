#include "X11SelectionReader.h"

#include "X11Display.h"

#include <X11/Xatom.h>

#include <poll.h>

#include <algorithm>
#include <cstring>

namespace {
using Deadline = std::chrono::steady_clock::time_point;

class Reader {
public:
    Reader(X11Display& display, Deadline deadline)
        : m_x(display), m_display(display.display()), m_deadline(deadline) {
        m_window = XCreateSimpleWindow(m_display, m_x.root(), 0, 0, 1, 1, 0, 0, 0);
        XSelectInput(m_display, m_window, PropertyChangeMask);
        m_property = m_x.atom("QUILLVANE_SELECTION");
    }
    ~Reader() { XDestroyWindow(m_display, m_window); }
    Reader(const Reader&) = delete;
    Reader& operator=(const Reader&) = delete;

    // The bytes of `target`, with the type and format the owner gave them; none when refused or late.
    std::optional<QByteArray> convert(Atom selection, Atom target, Atom* type = nullptr,
                                      int* format = nullptr) {
        XDeleteProperty(m_display, m_window, m_property);
        XConvertSelection(m_display, selection, target, m_property, m_window, CurrentTime);
        XFlush(m_display);
        XEvent event;
        if (!waitFor(SelectionNotify, &event)) {
            return std::nullopt;
        }
        if (event.xselection.property == None) {
            return std::nullopt; // the owner refused this target
        }
        // The owner's writes so far (this answer, earlier ones) announced themselves: only a new value
        // after this point is a piece of an INCR transfer.
        while (XCheckTypedWindowEvent(m_display, m_window, PropertyNotify, &event)) {
        }
        Atom actualType = None;
        int actualFormat = 0;
        std::optional<QByteArray> bytes = takeProperty(&actualType, &actualFormat);
        if (bytes && actualType == m_x.atom("INCR")) {
            // The owner sends the data in pieces, each after we deleted the previous one; an empty
            // piece ends it.
            QByteArray whole;
            for (;;) {
                if (!waitForNewValue()) {
                    return std::nullopt;
                }
                std::optional<QByteArray> piece = takeProperty(&actualType, &actualFormat);
                if (!piece) {
                    return std::nullopt;
                }
                if (piece->isEmpty()) {
                    break;
                }
                whole += *piece;
            }
            bytes = whole;
        }
        if (type) {
            *type = actualType;
        }
        if (format) {
            *format = actualFormat;
        }
        return bytes;
    }

private:
    // Reads and deletes our property. Items of format 16 and 32 are packed as the owner meant them
    // (Xlib hands 32-bit items over as longs).
    std::optional<QByteArray> takeProperty(Atom* type, int* format) {
        unsigned long count = 0, remaining = 0;
        unsigned char* data = nullptr;
        if (XGetWindowProperty(m_display, m_window, m_property, 0, 0x1fffffff, True, AnyPropertyType, type,
                               format, &count, &remaining, &data) != Success) {
            return std::nullopt;
        }
        QByteArray bytes;
        if (data) {
            if (*format == 32) {
                const auto* longs = reinterpret_cast<const unsigned long*>(data);
                for (unsigned long i = 0; i < count; ++i) {
                    const quint32 item = static_cast<quint32>(longs[i]);
                    bytes.append(reinterpret_cast<const char*>(&item), sizeof item);
                }
            } else {
                bytes = QByteArray(reinterpret_cast<const char*>(data),
                                   static_cast<qsizetype>(count * (*format == 16 ? 2 : 1)));
            }
            XFree(data);
        }
        return bytes;
    }

    bool waitForNewValue() {
        XEvent event;
        while (waitFor(PropertyNotify, &event)) {
            if (event.xproperty.atom == m_property && event.xproperty.state == PropertyNewValue) {
                return true;
            }
        }
        return false;
    }

    bool waitFor(int type, XEvent* event) {
        for (;;) {
            if (XCheckTypedWindowEvent(m_display, m_window, type, event)) {
                return true;
            }
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                m_deadline - std::chrono::steady_clock::now());
            if (left.count() <= 0) {
                return false;
            }
            pollfd descriptor{ConnectionNumber(m_display), POLLIN, 0};
            poll(&descriptor, 1, static_cast<int>(std::min<qint64>(left.count(), 20)));
        }
    }

    X11Display& m_x;
    Display* m_display;
    Deadline m_deadline;
    Window m_window = None;
    Atom m_property = None;
};
} // namespace

std::optional<X11SelectionReader::Content>
X11SelectionReader::read(const char* selectionName, std::chrono::milliseconds timeout, const Filter& wanted) {
    const auto display = X11Display::open();
    if (!display) {
        return std::nullopt;
    }
    X11Display::ErrorTrap trap(*display);
    Content content;
    const Atom selection = display->atom(selectionName);
    if (XGetSelectionOwner(display->display(), selection) == None) {
        return content;
    }
    Reader reader(*display, std::chrono::steady_clock::now() + timeout);
    Atom type = None;
    int format = 0;
    const std::optional<QByteArray> list =
        reader.convert(selection, display->atom("TARGETS"), &type, &format);
    if (!list || format != 32) {
        return content;
    }
    QList<Atom> atoms;
    for (qsizetype offset = 0; offset + 4 <= list->size(); offset += 4) {
        quint32 atom = 0;
        memcpy(&atom, list->constData() + offset, sizeof atom);
        if (atom != None && !atoms.contains(atom)) {
            atoms.append(atom);
        }
    }
    QList<Atom> named;
    for (Atom atom : atoms) {
        if (char* name = XGetAtomName(display->display(), atom)) {
            content.targets.append(QString::fromLatin1(name));
            named.append(atom);
            XFree(name);
        }
    }
    for (qsizetype i = 0; i < named.size(); ++i) {
        const QString& target = content.targets.at(i);
        if (wanted && !wanted(target, content.targets)) {
            continue;
        }
        if (std::optional<QByteArray> bytes = reader.convert(selection, named.at(i))) {
            content.items.append({target, *bytes});
        }
    }
    return content;
}
