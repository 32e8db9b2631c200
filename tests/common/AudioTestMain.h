#pragma once

#include <QTest>

#include <cstdio>
#include <cstdlib>

// Qt 6.4's PulseAudio backend disconnects from the server in a static destructor at exit while its
// mainloop thread still runs; about one exit in forty then aborts inside libpulse ("!e->dead",
// mainloop.c; "pd", pdispatch.c: seen here), after every test passed. A test program that used audio
// therefore ends with _Exit once its test object and application are gone, skipping the exit handlers.
#define QUILLVANE_AUDIO_TEST_MAIN(TestObject, ApplicationClass)                                              \
    int main(int argc, char* argv[]) {                                                                       \
        int status = 0;                                                                                      \
        {                                                                                                    \
            ApplicationClass app(argc, argv);                                                                \
            app.setAttribute(Qt::AA_Use96Dpi, true);                                                         \
            TestObject tc;                                                                                   \
            QTEST_SET_MAIN_SOURCE_PATH                                                                       \
            status = QTest::qExec(&tc, argc, argv);                                                          \
        }                                                                                                    \
        std::fflush(nullptr);                                                                                \
        std::_Exit(status);                                                                                  \
    }
