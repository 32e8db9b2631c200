// quillvane-standin-backend: runs the stand-in backend on a loopback address until SIGINT or SIGTERM.

#include "StandinBackend.h"

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <string>
#include <thread>
#include <vector>

#include <malloc.h>
#include <pthread.h>

namespace {

constexpr int kDefaultPort = 8787;
// Beside the app for hours, the stand-in keeps only a few requests for inspection.
constexpr std::size_t kDefaultRecordLimit = 16;

void printUsage(std::FILE* to) {
    std::fprintf(
        to,
        "Usage: quillvane-standin-backend [--host 127.0.0.1] [--port N] [--record-limit N] "
        "[--transcript TEXT] [--session-token TOKEN] [--refuse-sign-in REASON]\n"
        "Answers the desktop client's backend endpoints on a loopback address (default port %d).\n"
        "--record-limit: how many of the last requests are kept in memory (default %zu).\n"
        "--transcript: every transcription answers this text instead of recognising the speech.\n"
        "--session-token: for tests that restart the stand-in: accepts this session token, issued by "
        "an earlier run, as an open session (repeatable).\n"
        "--refuse-sign-in: every sign-in is refused (403) with REASON; open sessions stay usable.\n",
        kDefaultPort, kDefaultRecordLimit);
}

bool parseNumber(const std::string& text, long max, long& value) {
    if (text.empty() || text.size() > 9)
        return false;
    for (char c : text) {
        if (c < '0' || c > '9')
            return false;
    }
    value = std::stol(text);
    return value <= max;
}

} // namespace

int main(int argc, char** argv) {
    std::string host = "127.0.0.1";
    long port = kDefaultPort;
    long recordLimit = static_cast<long>(kDefaultRecordLimit);
    std::string transcript;
    std::vector<std::string> sessionTokens;
    std::string signInRefusal;

    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        std::string value;
        bool hasValue = false;
        if (const auto eq = arg.find('='); arg.rfind("--", 0) == 0 && eq != std::string::npos) {
            value = arg.substr(eq + 1);
            arg = arg.substr(0, eq);
            hasValue = true;
        }
        if (arg == "--help" || arg == "-h") {
            printUsage(stdout);
            return 0;
        }
        if (arg != "--host" && arg != "--port" && arg != "--record-limit" && arg != "--transcript" &&
            arg != "--session-token" && arg != "--refuse-sign-in") {
            std::fprintf(stderr, "quillvane-standin-backend: unknown argument \"%s\"\n", argv[i]);
            printUsage(stderr);
            return 2;
        }
        if (!hasValue) {
            if (i + 1 >= argc) {
                std::fprintf(stderr, "quillvane-standin-backend: %s needs a value\n", arg.c_str());
                return 2;
            }
            value = argv[++i];
        }
        if (arg == "--host") {
            host = value;
        } else if (arg == "--transcript") {
            transcript = value;
        } else if (arg == "--refuse-sign-in") {
            signInRefusal = value;
        } else if (arg == "--session-token") {
            if (value.empty()) {
                std::fprintf(stderr, "quillvane-standin-backend: --session-token needs a non-empty token\n");
                return 2;
            }
            sessionTokens.push_back(value);
        } else if (arg == "--port" && !parseNumber(value, 65535, port)) {
            std::fprintf(stderr, "quillvane-standin-backend: invalid port \"%s\"\n", value.c_str());
            return 2;
        } else if (arg == "--record-limit" && !parseNumber(value, 100000, recordLimit)) {
            std::fprintf(stderr, "quillvane-standin-backend: invalid record limit \"%s\"\n", value.c_str());
            return 2;
        }
    }

    // Block the stop signals before any server thread exists, so that only sigwait below receives them.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

    if (!standin::StandinBackend::isLoopbackHost(host)) {
        std::fprintf(stderr,
                     "quillvane-standin-backend: refusing to listen on \"%s\": only loopback addresses "
                     "(127.x.x.x, localhost, ::1) are allowed\n",
                     host.c_str());
        return 2;
    }

    // Request bodies of up to 32 MiB come and go: keep every large buffer in its own mapping, so that
    // freeing it hands the memory back instead of leaving it in a thread's heap.
    mallopt(M_MMAP_THRESHOLD, 128 * 1024);

    standin::StandinBackend::Options options;
    options.recordLimit = static_cast<std::size_t>(recordLimit);
    standin::StandinBackend backend(options);
    backend.setTranscript(transcript);
    for (const std::string& token : sessionTokens)
        backend.adoptSession(token);
    backend.refuseSignIns(signInRefusal);
    try {
        backend.start(host, static_cast<int>(port));
    } catch (const std::exception& e) {
        std::fprintf(stderr, "quillvane-standin-backend: %s\n", e.what());
        return 1;
    }

    std::printf("Stand-in backend listening on %s\n", backend.baseUrl().c_str());
    std::fflush(stdout);

    int received = 0;
    sigwait(&stopSignals, &received);
    // Connections close at once; a route still busy (recognising a long clip) is not waited for past a
    // second.
    std::thread([] {
        std::this_thread::sleep_for(std::chrono::seconds(1));
        std::_Exit(0);
    }).detach();
    backend.stop();
    return 0;
}
