#include "TerminationSignals.h"

#include <QSocketNotifier>

#include <array>
#include <atomic>
#include <cerrno>
#include <csignal>

#include <fcntl.h>
#include <unistd.h>

namespace {

constexpr std::array kSignals{SIGTERM, SIGINT, SIGHUP};

// The pipe's write end for the handler; -1 while no instance is active.
std::atomic<int> g_writeFd{-1};
struct sigaction g_previous[kSignals.size()];

void onSignal(int signal) {
    const int savedErrno = errno;
    const int fd = g_writeFd.load(std::memory_order_relaxed);
    if (fd >= 0) {
        const unsigned char number = static_cast<unsigned char>(signal);
        // A full pipe means plenty of signals wait already: dropping this one loses nothing.
        [[maybe_unused]] const ssize_t written = ::write(fd, &number, 1);
    }
    errno = savedErrno;
}

} // namespace

TerminationSignals::TerminationSignals(QObject* parent) : QObject(parent) {
    if (g_writeFd.load() >= 0) {
        qWarning("TerminationSignals: another instance already handles the termination signals");
        return;
    }
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC | O_NONBLOCK) != 0) {
        qWarning("TerminationSignals: no pipe for the signal handler");
        return;
    }
    m_readFd = fds[0];
    m_writeFd = fds[1];
    g_writeFd.store(m_writeFd);
    m_notifier = new QSocketNotifier(m_readFd, QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &TerminationSignals::readPending);

    struct sigaction action {};
    action.sa_handler = &onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (std::size_t i = 0; i < kSignals.size(); ++i) {
        sigaction(kSignals[i], &action, &g_previous[i]);
    }
}

TerminationSignals::~TerminationSignals() {
    if (!m_notifier) {
        return;
    }
    for (std::size_t i = 0; i < kSignals.size(); ++i) {
        sigaction(kSignals[i], &g_previous[i], nullptr);
    }
    g_writeFd.store(-1);
    delete m_notifier;
    ::close(m_readFd);
    ::close(m_writeFd);
}

QString TerminationSignals::name(int signal) {
    switch (signal) {
    case SIGTERM:
        return QStringLiteral("SIGTERM");
    case SIGINT:
        return QStringLiteral("SIGINT");
    case SIGHUP:
        return QStringLiteral("SIGHUP");
    default:
        return QStringLiteral("signal %1").arg(signal);
    }
}

void TerminationSignals::readPending() {
    unsigned char numbers[16];
    for (;;) {
        const ssize_t count = ::read(m_readFd, numbers, sizeof numbers);
        if (count < 0 && errno == EINTR) {
            continue;
        }
        if (count <= 0) {
            return;
        }
        for (ssize_t i = 0; i < count; ++i) {
            emit received(numbers[i]);
        }
    }
}
