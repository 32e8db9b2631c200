#pragma once

#include <QString>
#include <QStringList>

// Fills the process environment from the first ".env" file found near the working directory or the
// executable, never replacing a variable that is already set. Only the variables the app reads are
// taken (isAllowedName()): a stray ".env" in the home folder must not set PATH or LD_PRELOAD for every
// program the app starts. The other names are logged, without their values, and left alone.
class EnvLoader {
public:
    EnvLoader() = delete;

    // Searches the candidates in order and loads the first one that exists.
    static void loadIfPresent();

    // The ordered, de-duplicated candidate paths for a working directory and the folder of the running
    // executable (its resource folder "../share/quillvane" is used when it exists).
    static QStringList candidatePaths(const QString& workingDirectory, const QString& executableDirectory);

    // Reads one file into the environment; a file that cannot be read as UTF-8 text has no effect.
    static void loadEnvFile(const QString& path);

    // The app's own "QUILLVANE_*" names, the Google client-secret file and the Microsoft sign-in
    // settings (MICROSOFT_CLIENT_ID, MICROSOFT_TENANT_ID, MICROSOFT_REDIRECT_URI).
    static bool isAllowedName(const QString& name);
};
