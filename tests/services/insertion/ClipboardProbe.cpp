// A clipboard owner and reader of its own, on plain Xlib (no toolkit, so nothing converts the data):
//   clipboard_probe own NAME DATA [NAME DATA...]       owns CLIPBOARD offering exactly these targets
//                                                       (plus TARGETS and TIMESTAMP); DATA is base64, or
//                                                       @FILE; more than 64 KiB go in INCR pieces; prints
//                                                       "owned", then "lost" and exits when another client
//                                                       takes it
//   clipboard_probe read                                prints "target NAME" per target the owner lists,
//                                                       then "data NAME BASE64" per target it could read

#include <X11/Xatom.h>
#include <X11/Xlib.h>

#include <poll.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <vector>

namespace {
const std::string kAlphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

std::string fromBase64(const std::string& text) {
    std::string out;
    int value = 0, bits = -8;
    for (char c : text) {
        const auto index = kAlphabet.find(c);
        if (index == std::string::npos) {
            continue;
        }
        value = (value << 6) + int(index);
        bits += 6;
        if (bits >= 0) {
            out.push_back(char((value >> bits) & 0xff));
            bits -= 8;
        }
    }
    return out;
}

std::string toBase64(const std::string& bytes) {
    std::string out;
    int value = 0, bits = -6;
    for (unsigned char c : bytes) {
        value = (value << 8) + c;
        bits += 8;
        while (bits >= 0) {
            out.push_back(kAlphabet[(value >> bits) & 0x3f]);
            bits -= 6;
        }
    }
    if (bits > -6) {
        out.push_back(kAlphabet[((value << 8) >> (bits + 8)) & 0x3f]);
    }
    while (out.size() % 4) {
        out.push_back('=');
    }
    return out;
}

bool waitFor(Display* display, Window window, int type, XEvent* event, int timeoutMs = 5000) {
    for (int waited = 0; waited < timeoutMs; waited += 10) {
        if (XCheckTypedWindowEvent(display, window, type, event)) {
            return true;
        }
        pollfd descriptor{ConnectionNumber(display), POLLIN, 0};
        poll(&descriptor, 1, 10);
    }
    return false;
}

// Reads and deletes `property` (format 32 items as 32-bit values).
bool take(Display* display, Window window, Atom property, Atom* type, std::string* bytes) {
    int format = 0;
    unsigned long count = 0, remaining = 0;
    unsigned char* data = nullptr;
    if (XGetWindowProperty(display, window, property, 0, 0x1fffffff, True, AnyPropertyType, type, &format,
                           &count, &remaining, &data) != Success) {
        return false;
    }
    bytes->clear();
    if (format == 32) {
        for (unsigned long i = 0; i < count; ++i) {
            const unsigned int item = static_cast<unsigned int>(reinterpret_cast<unsigned long*>(data)[i]);
            bytes->append(reinterpret_cast<const char*>(&item), 4);
        }
    } else if (data) {
        bytes->assign(reinterpret_cast<char*>(data), count * (format / 8));
    }
    if (data) {
        XFree(data);
    }
    return true;
}

bool convert(Display* display, Window window, Atom target, std::string* bytes) {
    const Atom clipboard = XInternAtom(display, "CLIPBOARD", False);
    const Atom property = XInternAtom(display, "PROBE", False);
    const Atom incr = XInternAtom(display, "INCR", False);
    XConvertSelection(display, clipboard, target, property, window, CurrentTime);
    XEvent event;
    if (!waitFor(display, window, SelectionNotify, &event) || event.xselection.property == None) {
        return false;
    }
    while (XCheckTypedWindowEvent(display, window, PropertyNotify, &event)) {
        // announcements of values written before the answer: not pieces
    }
    Atom type = None;
    if (!take(display, window, property, &type, bytes)) {
        return false;
    }
    if (type != incr) {
        return true;
    }
    bytes->clear();
    for (;;) {
        do {
            if (!waitFor(display, window, PropertyNotify, &event)) {
                return false;
            }
        } while (event.xproperty.atom != property || event.xproperty.state != PropertyNewValue);
        std::string piece;
        if (!take(display, window, property, &type, &piece)) {
            return false;
        }
        if (piece.empty()) {
            return true;
        }
        bytes->append(piece);
    }
}

int read(Display* display, Window window) {
    XSelectInput(display, window, PropertyChangeMask);
    std::string list;
    if (!convert(display, window, XInternAtom(display, "TARGETS", False), &list)) {
        std::printf("no targets\n");
        return 1;
    }
    std::vector<Atom> targets;
    for (size_t offset = 0; offset + 4 <= list.size(); offset += 4) {
        unsigned int atom = 0;
        std::memcpy(&atom, list.data() + offset, 4);
        targets.push_back(atom);
    }
    for (Atom target : targets) {
        char* name = XGetAtomName(display, target);
        std::printf("target %s\n", name);
        XFree(name);
    }
    for (Atom target : targets) {
        char* name = XGetAtomName(display, target);
        std::string bytes;
        if (std::strcmp(name, "MULTIPLE") != 0 && convert(display, window, target, &bytes)) {
            std::printf("data %s %s\n", name, toBase64(bytes).c_str());
        }
        XFree(name);
    }
    return 0;
}

int own(Display* display, Window window, int argc, char** argv) {
    std::map<Atom, std::string> offered;
    std::vector<Atom> order;
    for (int i = 0; i + 1 < argc; i += 2) {
        const Atom atom = XInternAtom(display, argv[i], False);
        if (argv[i + 1][0] == '@') {
            std::ifstream file(argv[i + 1] + 1, std::ios::binary);
            offered[atom].assign(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
        } else {
            offered[atom] = fromBase64(argv[i + 1]);
        }
        order.push_back(atom);
    }
    const Atom clipboard = XInternAtom(display, "CLIPBOARD", False);
    const Atom targets = XInternAtom(display, "TARGETS", False);
    const Atom timestamp = XInternAtom(display, "TIMESTAMP", False);
    const Atom incr = XInternAtom(display, "INCR", False);
    constexpr size_t kPiece = 64 * 1024;
    struct Transfer {
        std::string data;
        size_t offset = 0;
        Atom type = None;
    };
    std::map<std::pair<Window, Atom>, Transfer> transfers; // by requestor and property
    XSetSelectionOwner(display, clipboard, window, CurrentTime);
    if (XGetSelectionOwner(display, clipboard) != window) {
        std::printf("not owned\n");
        return 1;
    }
    std::printf("owned\n");
    std::fflush(stdout);
    for (;;) {
        XEvent event;
        XNextEvent(display, &event);
        if (event.type == SelectionClear) {
            std::printf("lost\n");
            return 0;
        }
        if (event.type == PropertyNotify && event.xproperty.state == PropertyDelete) {
            // The requestor took the last piece: the next one, or an empty one at the end.
            const auto it = transfers.find({event.xproperty.window, event.xproperty.atom});
            if (it != transfers.end()) {
                Transfer& transfer = it->second;
                const std::string piece = transfer.data.substr(transfer.offset, kPiece);
                transfer.offset += piece.size();
                XChangeProperty(display, event.xproperty.window, event.xproperty.atom, transfer.type, 8,
                                PropModeReplace, reinterpret_cast<const unsigned char*>(piece.data()),
                                int(piece.size()));
                if (piece.empty()) {
                    transfers.erase(it);
                }
                XFlush(display);
            }
            continue;
        }
        if (event.type != SelectionRequest) {
            continue;
        }
        const XSelectionRequestEvent& request = event.xselectionrequest;
        XSelectionEvent reply{};
        reply.type = SelectionNotify;
        reply.requestor = request.requestor;
        reply.selection = request.selection;
        reply.target = request.target;
        reply.time = request.time;
        reply.property = request.property != None ? request.property : request.target;
        if (request.target == targets) {
            std::vector<Atom> list{targets, timestamp};
            list.insert(list.end(), order.begin(), order.end());
            XChangeProperty(display, request.requestor, reply.property, XA_ATOM, 32, PropModeReplace,
                            reinterpret_cast<unsigned char*>(list.data()), int(list.size()));
        } else if (request.target == timestamp) {
            long time = CurrentTime;
            XChangeProperty(display, request.requestor, reply.property, XA_INTEGER, 32, PropModeReplace,
                            reinterpret_cast<unsigned char*>(&time), 1);
        } else if (auto it = offered.find(request.target);
                   it != offered.end() && it->second.size() > kPiece) {
            XSelectInput(display, request.requestor, PropertyChangeMask);
            long size = long(it->second.size());
            XChangeProperty(display, request.requestor, reply.property, incr, 32, PropModeReplace,
                            reinterpret_cast<unsigned char*>(&size), 1);
            transfers[{request.requestor, reply.property}] = Transfer{it->second, 0, request.target};
        } else if (it != offered.end()) {
            XChangeProperty(display, request.requestor, reply.property, request.target, 8, PropModeReplace,
                            reinterpret_cast<const unsigned char*>(it->second.data()),
                            int(it->second.size()));
        } else {
            reply.property = None;
        }
        XSendEvent(display, request.requestor, False, NoEventMask, reinterpret_cast<XEvent*>(&reply));
        XFlush(display);
    }
}
} // namespace

int main(int argc, char** argv) {
    Display* display = XOpenDisplay(nullptr);
    if (!display || argc < 2) {
        return 2;
    }
    const Window window = XCreateSimpleWindow(display, DefaultRootWindow(display), 0, 0, 1, 1, 0, 0, 0);
    const int result =
        std::strcmp(argv[1], "own") == 0 ? own(display, window, argc - 2, argv + 2) : read(display, window);
    std::fflush(stdout);
    XCloseDisplay(display);
    return result;
}
