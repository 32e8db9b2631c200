// A run of the application that dies while the other applications are muted, for tst_media_control: it
// mutes through MediaControlService, prints "muted" and waits to be killed (SIGKILL: nothing is restored).

#include "MediaControlService.h"
#include "TestDesktop.h"

#include <QCoreApplication>

#include <cstdio>

#include <unistd.h>

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    MediaControlService media(testDesktop(PlatformServices::PulseAudio).openOutputMute);
    media.muteIfNeeded();
    media.flush();
    std::printf("muted\n");
    std::fflush(stdout);
    for (;;)
        ::pause();
}
