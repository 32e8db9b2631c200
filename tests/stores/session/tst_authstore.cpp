// The auth store's sentences (its status and the sign-in notice) and its identity in the user defaults.
#include "AuthStore.h"

#include <QSignalSpy>

#include <QTemporaryDir>
#include <QTest>
#include <functional>

using OptionalText = std::optional<QString>;

class TestAuthStore : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;
    std::unique_ptr<UserDefaults> m_defaults;

    void reopenDefaults() { m_defaults = std::make_unique<UserDefaults>(m_dir.filePath("settings.json")); }

    static void store(UserDefaults& defaults, const OptionalText& value, const QString& key) {
        if (value) {
            defaults.setString(key, *value);
        } else {
            defaults.remove(key);
        }
    }

private slots:
    void init() {
        QFile::remove(m_dir.filePath("settings.json"));
        reopenDefaults();
    }

    void restoresTheStoredIdentity_data() {
        QTest::addColumn<OptionalText>("provider");
        QTest::addColumn<OptionalText>("email");
        QTest::addColumn<OptionalText>("name");
        QTest::addColumn<QString>("status");

        QTest::newRow("nothing stored") << OptionalText() << OptionalText() << OptionalText() << "Signed out";
        QTest::newRow("provider only")
            << OptionalText("apple") << OptionalText() << OptionalText() << "Signed in";
        QTest::newRow("name, no e-mail")
            << OptionalText("google") << OptionalText() << OptionalText("Ada L") << "Ada L";
        QTest::newRow("e-mail before name") << OptionalText("google") << OptionalText("ada@example.com")
                                            << OptionalText("Ada L") << "ada@example.com";
        QTest::newRow("name without provider")
            << OptionalText() << OptionalText() << OptionalText("Ada L") << "Ada L";
    }
    void restoresTheStoredIdentity() {
        QFETCH(OptionalText, provider);
        QFETCH(OptionalText, email);
        QFETCH(OptionalText, name);
        QFETCH(QString, status);

        store(*m_defaults, provider, "quillvane.auth.provider");
        store(*m_defaults, email, "quillvane.auth.email");
        store(*m_defaults, name, "quillvane.auth.display_name");
        reopenDefaults();

        AuthStore auth(*m_defaults);
        QCOMPARE(auth.provider(), provider);
        QCOMPARE(auth.email(), email);
        QCOMPARE(auth.displayName(), name);
        QCOMPARE(auth.statusText(), status);
        QVERIFY(!auth.isAuthenticating());
        QCOMPARE(auth.activeProviderLabel(), OptionalText());
    }

    void aValueOfAnotherKindIsNoIdentity() {
        m_defaults->setBool("quillvane.auth.provider", true);
        m_defaults->setInteger("quillvane.auth.email", 3);
        AuthStore auth(*m_defaults);
        QCOMPARE(auth.provider(), OptionalText());
        QCOMPARE(auth.email(), OptionalText());
        QCOMPARE(auth.statusText(), QStringLiteral("Signed out"));
    }

    void completeAuthShowsAndPersists_data() {
        QTest::addColumn<QString>("provider");
        QTest::addColumn<OptionalText>("email");
        QTest::addColumn<OptionalText>("name");
        QTest::addColumn<QString>("status");

        QTest::newRow("e-mail") << "google" << OptionalText("ada@example.com") << OptionalText("Ada L")
                                << "ada@example.com";
        QTest::newRow("name") << "apple" << OptionalText() << OptionalText("Ada L") << "Ada L";
        QTest::newRow("neither, microsoft")
            << "microsoft" << OptionalText() << OptionalText() << "Signed in with Microsoft";
        QTest::newRow("neither, words capitalised")
            << "some PROVIDER" << OptionalText() << OptionalText() << "Signed in with Some Provider";
    }
    void completeAuthShowsAndPersists() {
        QFETCH(QString, provider);
        QFETCH(OptionalText, email);
        QFETCH(OptionalText, name);
        QFETCH(QString, status);

        // An earlier identity's e-mail and name must not survive a sign-in that has none.
        m_defaults->setString("quillvane.auth.email", "old@example.com");
        m_defaults->setString("quillvane.auth.display_name", "Old");
        AuthStore auth(*m_defaults);
        auth.beginAuth("Google");
        auth.completeAuth(provider, email, name);

        QCOMPARE(auth.provider(), OptionalText(provider));
        QCOMPARE(auth.email(), email);
        QCOMPARE(auth.displayName(), name);
        QCOMPARE(auth.statusText(), status);
        QVERIFY(!auth.isAuthenticating());
        QCOMPARE(auth.activeProviderLabel(), OptionalText());

        reopenDefaults();
        QCOMPARE(m_defaults->stringValue("quillvane.auth.provider"), OptionalText(provider));
        QCOMPARE(m_defaults->stringValue("quillvane.auth.email"), email);
        QCOMPARE(m_defaults->stringValue("quillvane.auth.display_name"), name);
        QCOMPARE(m_defaults->contains("quillvane.auth.email"), email.has_value());
        QCOMPARE(m_defaults->contains("quillvane.auth.display_name"), name.has_value());

        // The identity survives a restart.
        AuthStore restarted(*m_defaults);
        QCOMPARE(restarted.provider(), OptionalText(provider));
        QCOMPARE(restarted.email(), email);
        QCOMPARE(restarted.displayName(), name);
    }

    void anAttemptRunsAcrossTheIdentity() {
        AuthStore auth(*m_defaults);
        QSignalSpy authenticating(&auth, &AuthStore::isAuthenticatingChanged);
        auth.beginAuth("Google");
        QVERIFY(auth.isAuthenticating());
        QCOMPARE(auth.activeProviderLabel(), OptionalText("Google"));
        QCOMPARE(auth.statusText(), QStringLiteral("Opening Google sign-in..."));
        QCOMPARE(authenticating.count(), 1);

        auth.completeAuth("google", QStringLiteral("ada@example.com"), std::nullopt);
        auth.beginAuth("Apple");
        auth.fail("Sign-in was cancelled.");
        QVERIFY(!auth.isAuthenticating());
        QCOMPARE(auth.activeProviderLabel(), OptionalText());
        QCOMPARE(auth.statusText(), QStringLiteral("Sign-in was cancelled."));
        // A failed new attempt leaves the earlier identity, in memory and stored.
        QCOMPARE(auth.provider(), OptionalText("google"));
        QCOMPARE(auth.email(), OptionalText("ada@example.com"));
        QCOMPARE(m_defaults->stringValue("quillvane.auth.email"), OptionalText("ada@example.com"));
    }

    void signOutForgetsEverything() {
        AuthStore auth(*m_defaults);
        auth.completeAuth("google", QStringLiteral("ada@example.com"), QStringLiteral("Ada L"));
        auth.beginAuth("Google");
        auth.signOut();
        QCOMPARE(auth.provider(), OptionalText());
        QCOMPARE(auth.email(), OptionalText());
        QCOMPARE(auth.displayName(), OptionalText());
        QVERIFY(!auth.isAuthenticating());
        QCOMPARE(auth.activeProviderLabel(), OptionalText());
        QCOMPARE(auth.statusText(), QStringLiteral("Signed out"));

        reopenDefaults();
        for (const char* key :
             {"quillvane.auth.provider", "quillvane.auth.email", "quillvane.auth.display_name"})
            QVERIFY2(!m_defaults->contains(key), key);
    }

    // What the sign-in buttons say under them, step by step through attempts and endings.
    void signInNoticeFollowsAttemptsAndEndings() {
        AuthStore auth(*m_defaults);
        QCOMPARE(auth.signInNotice(), QString()); // nothing tried yet
        QSignalSpy changed(&auth, &AuthStore::signInNoticeChanged);

        const QList<std::pair<std::function<void()>, QString>> steps{
            {[&] { auth.beginAuth("Google"); }, "Opening Google sign-in..."},
            {[&] { auth.fail("Google sign-in failed: The browser did not answer."); },
             "Google sign-in failed: The browser did not answer."},
            {[&] { auth.beginAuth("Apple"); }, "Opening Apple sign-in..."},
            {[&] { auth.completeAuth("apple", std::nullopt, std::nullopt); }, ""},
            {[&] { auth.endRejectedSession(AuthStore::kSessionEndedNotice); },
             AuthStore::kSessionEndedNotice},
            {[&] { auth.beginAuth("Apple"); }, "Opening Apple sign-in..."},
            {[&] { auth.fail("Apple sign-in cancelled. Try again."); },
             "Apple sign-in cancelled. Try again."},
            {[&] { auth.signOut(); }, ""}, // the user's own sign-out needs no explanation
        };
        for (const auto& [step, notice] : steps) {
            step();
            QCOMPARE(auth.signInNotice(), notice);
        }
        QCOMPARE(changed.count(), steps.size());
    }

    void rejectedSessionForgetsTheIdentity_data() {
        QTest::addColumn<bool>("attemptRunning");
        QTest::newRow("no attempt") << false;
        QTest::newRow("attempt running") << true;
    }
    void rejectedSessionForgetsTheIdentity() {
        QFETCH(bool, attemptRunning);
        AuthStore auth(*m_defaults);
        auth.completeAuth("google", QStringLiteral("ada@example.com"), QStringLiteral("Ada L"));
        if (attemptRunning) {
            auth.beginAuth("Microsoft");
        }
        auth.endRejectedSession(AuthStore::kSessionEndedNotice);

        QCOMPARE(auth.provider(), OptionalText());
        QCOMPARE(auth.email(), OptionalText());
        QCOMPARE(auth.displayName(), OptionalText());
        reopenDefaults();
        for (const char* key :
             {"quillvane.auth.provider", "quillvane.auth.email", "quillvane.auth.display_name"})
            QVERIFY2(!m_defaults->contains(key), key);
        // A running attempt goes on: its progress stays what the user sees until its own outcome.
        QCOMPARE(auth.isAuthenticating(), attemptRunning);
        QCOMPARE(auth.activeProviderLabel(), attemptRunning ? OptionalText("Microsoft") : OptionalText());
        const QString notice =
            attemptRunning ? "Opening Microsoft sign-in..." : AuthStore::kSessionEndedNotice;
        QCOMPARE(auth.signInNotice(), notice);
        QCOMPARE(auth.statusText(), attemptRunning ? notice : QStringLiteral("Signed out"));
    }

    void restoreClearsFieldsWhoseKeysAreGone() {
        AuthStore auth(*m_defaults);
        auth.completeAuth("google", QStringLiteral("ada@example.com"), QStringLiteral("Ada L"));
        auth.fail("Something else.");
        m_defaults->remove("quillvane.auth.provider");
        m_defaults->remove("quillvane.auth.email");
        m_defaults->remove("quillvane.auth.display_name");

        auth.restoreIfAvailable();
        QCOMPARE(auth.provider(), OptionalText());
        QCOMPARE(auth.email(), OptionalText());
        QCOMPARE(auth.displayName(), OptionalText());
        QCOMPARE(auth.statusText(), QStringLiteral("Something else.")); // no identity: status untouched
    }
};

QTEST_GUILESS_MAIN(TestAuthStore)
#include "tst_authstore.moc"
