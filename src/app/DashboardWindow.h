#pragma once

#include <QMainWindow>
#include <QString>

#include <functional>

class AuthStore;
class QLabel;

// The dashboard window's frame (960×640, dark toolbar, the app icon): for now the product title, the
// version line, the account line and the sign-in buttons; the pages come with the dashboard. It answers
// AppNavigation's settings request by selecting its settings section. Closing it hides it while the tray
// icon can bring it back; without a tray host closing it ends the application (the orderly way), so the
// app never runs on with no window and no icon.
class DashboardWindow final : public QMainWindow {
    Q_OBJECT
    Q_PROPERTY(QString selectedSection READ selectedSection NOTIFY selectedSectionChanged)

public:
    static constexpr QSize kDefaultSize{960, 640};

    struct SignInActions {
        std::function<void()> apple;
        std::function<void()> google;
        std::function<void()> microsoft; // empty: Microsoft sign-in is not configured
    };

    DashboardWindow(AuthStore& authStore, SignInActions actions, QWidget* parent = nullptr);

    // True: closing hides (the tray brings it back). False: closing quits.
    void setHideOnClose(std::function<bool()> hideOnClose) { m_hideOnClose = std::move(hideOnClose); }
    void setQuitAction(std::function<void()> quit) { m_quit = std::move(quit); }

    QString selectedSection() const { return m_section; }
    void selectSection(const QString& section);

signals:
    void selectedSectionChanged();

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void syncAccount();

    AuthStore& m_authStore;
    QString m_section = QStringLiteral("home");
    QLabel* m_account = nullptr;
    std::function<bool()> m_hideOnClose;
    std::function<void()> m_quit;
};
