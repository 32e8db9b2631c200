#pragma once

// A private X server (Xvfb, optionally with openbox) for one test executable, so that windows, focus,
// keymap changes and the clipboard of other tests running in parallel cannot disturb it (nor it them).
// Plain POSIX: it can start before the QApplication exists, which then connects to it through DISPLAY.

#include <QByteArray>
#include <QString>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

class PrivateXServer {
public:
    PrivateXServer() = default;
    PrivateXServer(const PrivateXServer&) = delete;
    PrivateXServer& operator=(const PrivateXServer&) = delete;
    ~PrivateXServer() { stop(); }

    // Starts Xvfb on a free display number (and openbox when asked) and waits until both answer.
    bool start(bool withWindowManager, QString* error = nullptr) {
        int fds[2];
        if (pipe(fds) != 0) {
            return fail(error, "pipe failed");
        }
        m_xvfb = spawn({"Xvfb", "-displayfd", std::to_string(fds[1]), "-screen", "0", "1280x800x24",
                        "-nolisten", "tcp", "-noreset"},
                       fds[1], nullptr);
        close(fds[1]);
        std::string number;
        const long deadline = nowMs() + 30000;
        while (number.empty() || number.back() != '\n') {
            pollfd p{fds[0], POLLIN, 0};
            const long left = deadline - nowMs();
            if (left <= 0 || poll(&p, 1, static_cast<int>(left)) <= 0) {
                close(fds[0]);
                return fail(error, "Xvfb did not report its display");
            }
            char c = 0;
            if (read(fds[0], &c, 1) != 1) {
                close(fds[0]);
                return fail(error, "Xvfb exited before it was ready");
            }
            number.push_back(c);
        }
        close(fds[0]);
        number.pop_back();
        m_display = QByteArray(":") + QByteArray::fromStdString(number);
        if (withWindowManager) {
            m_windowManager = spawn({"openbox", "--sm-disable"}, -1, m_display.constData());
            const std::string check =
                "xprop -display " + m_display.toStdString() + " -root _NET_SUPPORTING_WM_CHECK 2>/dev/null";
            while (!commandPrints(check, "window id")) {
                if (nowMs() > deadline) {
                    return fail(error, "openbox did not start");
                }
                usleep(50000);
            }
        }
        return true;
    }

    const QByteArray& displayName() const { return m_display; }

    void stop() {
        terminate(m_windowManager);
        terminate(m_xvfb);
    }

private:
    static long nowMs() {
        timespec t{};
        clock_gettime(CLOCK_MONOTONIC, &t);
        return t.tv_sec * 1000 + t.tv_nsec / 1000000;
    }

    static bool fail(QString* error, const char* text) {
        if (error) {
            *error = QString::fromLatin1(text);
        }
        return false;
    }

    static bool commandPrints(const std::string& command, const char* needle) {
        FILE* pipe = popen(command.c_str(), "r");
        if (!pipe) {
            return false;
        }
        std::string output;
        char buffer[256];
        while (fgets(buffer, sizeof buffer, pipe)) {
            output += buffer;
        }
        pclose(pipe);
        return output.find(needle) != std::string::npos;
    }

    // Starts a program whose output goes nowhere; it dies with us (PR_SET_PDEATHSIG).
    static pid_t spawn(const std::vector<std::string>& arguments, int keepFd, const char* display) {
        const pid_t pid = fork();
        if (pid == 0) {
            prctl(PR_SET_PDEATHSIG, SIGTERM);
            if (display) {
                setenv("DISPLAY", display, 1);
            }
            const int devnull = open("/dev/null", O_RDWR);
            dup2(devnull, 0);
            dup2(devnull, 1);
            dup2(devnull, 2);
            for (int fd = 3; fd < 1024; ++fd) {
                if (fd != keepFd) {
                    close(fd);
                }
            }
            std::vector<char*> argv;
            for (const auto& argument : arguments) {
                argv.push_back(const_cast<char*>(argument.c_str()));
            }
            argv.push_back(nullptr);
            execvp(argv[0], argv.data());
            _exit(127);
        }
        return pid;
    }

    static void terminate(pid_t& pid) {
        if (pid <= 0) {
            return;
        }
        kill(pid, SIGTERM);
        for (int i = 0; i < 50; ++i) {
            if (waitpid(pid, nullptr, WNOHANG) == pid) {
                pid = 0;
                return;
            }
            usleep(100000);
        }
        kill(pid, SIGKILL);
        waitpid(pid, nullptr, 0);
        pid = 0;
    }

    pid_t m_xvfb = 0;
    pid_t m_windowManager = 0;
    QByteArray m_display;
};
