// The stand-in backend under load: 50 clients send 200 requests each, a quarter of them 1 MB uploads,
// against the stand-in executable. Prints its resident memory before and after each of two rounds (a
// bounded stand-in ends both rounds at the same level, the start plus its record of the last requests)
// and the throughput. Run by hand: bench_standin_load [path/to/quillvane-standin-backend]

#include <httplib.h>

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace {

constexpr int kClients = 50;
constexpr int kRequestsPerClient = 200;
constexpr std::size_t kUploadBytes = 1024 * 1024;

long residentKiB(pid_t pid) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("VmRSS:", 0) == 0)
            return std::strtol(line.c_str() + 6, nullptr, 10);
    }
    return -1;
}

std::string defaultExecutable() {
    char self[4096];
    const ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
    std::string path = n > 0 ? std::string(self, static_cast<std::size_t>(n)) : std::string();
    path = path.substr(0, path.rfind('/')); // .../bench
    path = path.substr(0, path.rfind('/')); // the build directory
    return path + "/standin-backend/quillvane-standin-backend";
}

std::string uploadBody(const std::string& boundary, const std::string& token) {
    std::string wav = "RIFF";
    wav += std::string(4, '\0');
    wav += "WAVEfmt ";
    wav.resize(44, '\0');
    wav.resize(kUploadBytes, '\x11');
    return "--" + boundary + "\r\nContent-Disposition: form-data; name=\"session_token\"\r\n\r\n" + token +
           "\r\n--" + boundary +
           "\r\nContent-Disposition: form-data; name=\"audio\"; filename=\"clip.wav\"\r\n"
           "Content-Type: audio/wav\r\n\r\n" +
           wav + "\r\n--" + boundary + "--\r\n";
}

struct Totals {
    std::atomic<long> ok{0};
    std::atomic<long> failed{0};
    std::atomic<long long> bytesSent{0};
};

void client(int port, int index, const std::string& token, const std::string& upload, Totals& totals) {
    httplib::Client c("127.0.0.1", port);
    c.set_keep_alive(index % 2 == 0); // half the clients reuse their connection, half open one per request
    c.set_read_timeout(30, 0);
    const std::string boundary = "bench-boundary-0123456789";
    for (int i = 0; i < kRequestsPerClient; ++i) {
        const auto send = [&]() -> httplib::Result {
            switch (i % 4) {
            case 0:
                totals.bytesSent += static_cast<long long>(upload.size());
                return c.Post("/api/transcription", upload,
                              ("multipart/form-data; boundary=" + boundary).c_str());
            case 1:
                return c.Get("/api/tutorials");
            case 2:
                return c.Post("/api/generate_title", "{\"text\":\"a short note about load\"}",
                              "application/json");
            default:
                return c.Post("/api/session",
                              "{\"id_token\":\"bench-" + std::to_string(index) + "-" + std::to_string(i) +
                                  "\"}",
                              "application/json");
            }
        };
        const httplib::Result r = send();
        if (r && r->status == 200)
            ++totals.ok;
        else if (++totals.failed <= 5)
            std::fprintf(stderr, "request %d of client %d failed: %s\n", i, index,
                         r ? ("status " + std::to_string(r->status)).c_str()
                           : httplib::to_string(r.error()).c_str());
    }
}

} // namespace

int main(int argc, char** argv) {
    const std::string executable = argc > 1 ? argv[1] : defaultExecutable();
    const int port = 20000 + static_cast<int>(getpid() % 20000);
    const std::string portText = std::to_string(port);
    // A fixed transcript: the figure is the server's own, not that of recognising speech.
    char* const args[] = {const_cast<char*>(executable.c_str()), const_cast<char*>("--port"),
                          const_cast<char*>(portText.c_str()),   const_cast<char*>("--transcript"),
                          const_cast<char*>("load test"),        nullptr};
    pid_t pid = 0;
    if (posix_spawn(&pid, executable.c_str(), nullptr, nullptr, args, environ) != 0) {
        std::fprintf(stderr, "cannot start %s\n", executable.c_str());
        return 1;
    }

    std::string token;
    for (int attempt = 0; attempt < 100 && token.empty(); ++attempt) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        httplib::Client c("127.0.0.1", port);
        if (auto r = c.Post("/api/session", "{\"id_token\":\"bench\"}", "application/json");
            r && r->status == 200) {
            const auto at = r->body.find("\"session_token\":\"") + 17;
            token = r->body.substr(at, r->body.find('"', at) - at);
        }
    }
    if (token.empty()) {
        std::fprintf(stderr, "the stand-in did not answer on port %d\n", port);
        kill(pid, SIGTERM);
        waitpid(pid, nullptr, 0);
        return 1;
    }
    const std::string upload = uploadBody("bench-boundary-0123456789", token);

    std::printf("stand-in RSS at start: %ld KiB\n", residentKiB(pid));
    for (int round = 1; round <= 2; ++round) {
        Totals totals;
        const auto started = std::chrono::steady_clock::now();
        std::vector<std::thread> threads;
        for (int i = 0; i < kClients; ++i)
            threads.emplace_back(client, port, i, std::cref(token), std::cref(upload), std::ref(totals));
        for (std::thread& t : threads)
            t.join();
        const double seconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
        std::this_thread::sleep_for(std::chrono::seconds(1)); // let closed connections end
        const long requests = totals.ok + totals.failed;
        std::printf("round %d: %ld requests (%ld failed) in %.2f s: %.0f requests/s, %.0f MB/s uploaded; "
                    "stand-in RSS after: %ld KiB\n",
                    round, requests, totals.failed.load(), seconds, requests / seconds,
                    totals.bytesSent / seconds / 1e6, residentKiB(pid));
    }

    kill(pid, SIGTERM);
    const auto stopping = std::chrono::steady_clock::now();
    waitpid(pid, nullptr, 0);
    std::printf(
        "stopped %.0f ms after SIGTERM\n",
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - stopping).count());
    return 0;
}
