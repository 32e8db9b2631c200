#pragma once

#include "OAuthSupport.h"

#include <QFile>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QRegularExpression>
#include <QUrlQuery>

#include <functional>

// Plays the user's browser: fetches the authorization URL the sign-in opens, follows redirects itself
// (also the one to the loopback listener) and submits Apple's auto-posting form. Before it calls the
// listener it reads which addresses listen on that port, so a test can tell that nothing listens beyond
// the loopback interface.
class FakeBrowser : public QObject {
public:
    // Query items added to the authorization URL: the user's choice on the stand-in's page.
    QList<std::pair<QString, QString>> choices;
    // Changes the authorization URL before it is fetched (a tampered request).
    std::function<void(QUrl&)> tamper;
    // Opens nothing: the user never finishes.
    bool idle = false;
    // Runs just before the browser calls the loopback listener (another process getting there first).
    std::function<void(const QUrl&)> beforeCallback;

    QList<QUrl> opened;
    QList<QUrl> visited;
    int finalStatus = 0;
    QByteArray finalBody;
    int listenersChecked = 0;
    QStringList nonLoopbackListeners;

    UrlOpener opener() {
        return [this](const QUrl& url) { open(url); };
    }

    // The port of the loopback listener the sign-in tells the provider about.
    static quint16 callbackPort(const QUrl& authorization) {
        const QUrlQuery query(authorization);
        if (query.hasQueryItem("return_port")) {
            return quint16(query.queryItemValue("return_port").toUInt());
        }
        return quint16(QUrl(query.queryItemValue("redirect_uri", QUrl::FullyDecoded)).port());
    }

private:
    void open(QUrl url) {
        opened << url;
        if (idle) {
            return;
        }
        QUrlQuery query(url);
        for (const auto& [name, value] : choices) {
            query.addQueryItem(name, value);
        }
        url.setQuery(query);
        if (tamper) {
            tamper(url);
        }
        fetch(url, {}, false);
    }

    void fetch(const QUrl& url, const QByteArray& form, bool post) {
        visited << url;
        if (url.host() == QLatin1String("127.0.0.1") && url.port() > 0 && url.path().contains("callback")) {
            checkListeners(quint16(url.port()));
            if (beforeCallback) {
                beforeCallback(url);
            }
        }
        QNetworkRequest request(url);
        request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::ManualRedirectPolicy);
        QNetworkReply* reply = nullptr;
        if (post) {
            request.setHeader(QNetworkRequest::ContentTypeHeader, "application/x-www-form-urlencoded");
            reply = m_network.post(request, form);
        } else {
            reply = m_network.get(request);
        }
        connect(reply, &QNetworkReply::finished, this, [this, reply, url] {
            reply->deleteLater();
            const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
            const QByteArray body = reply->readAll();
            if (status >= 300 && status < 400 && visited.size() < 10) {
                fetch(url.resolved(QUrl(QString::fromUtf8(reply->rawHeader("Location")))), {}, false);
                return;
            }
            if (status == 200 && body.contains("<form method=\"post\"")) {
                submitForm(body);
                return;
            }
            finalStatus = status;
            finalBody = body;
        });
    }

    static QString unescapeHtml(QString text) {
        return text.replace("&quot;", "\"")
            .replace("&#39;", "'")
            .replace("&lt;", "<")
            .replace("&gt;", ">")
            .replace("&amp;", "&");
    }

    void submitForm(const QByteArray& page) {
        const QString html = QString::fromUtf8(page);
        const auto action = QRegularExpression(R"re(<form method="post" action="([^"]*)")re").match(html);
        QList<std::pair<QString, QString>> fields;
        auto inputs = QRegularExpression(R"re(<input type="hidden" name="([^"]*)" value="([^"]*)">)re")
                          .globalMatch(html);
        while (inputs.hasNext()) {
            const auto input = inputs.next();
            fields.append({unescapeHtml(input.captured(1)), unescapeHtml(input.captured(2))});
        }
        fetch(QUrl(unescapeHtml(action.captured(1))), OAuthSupport::formEncode(fields), true);
    }

    // Every socket listening on `port` must be bound to a loopback address.
    void checkListeners(quint16 port) {
        ++listenersChecked;
        for (const char* table : {"/proc/net/tcp", "/proc/net/tcp6"}) {
            QFile file(QString::fromLatin1(table));
            if (!file.open(QIODevice::ReadOnly)) {
                continue;
            }
            file.readLine();
            while (!file.atEnd()) {
                const QList<QByteArray> columns = file.readLine().simplified().split(' ');
                if (columns.size() < 4 || columns.at(3) != "0A") {
                    continue; // not listening
                }
                const QList<QByteArray> local = columns.at(1).split(':');
                if (local.size() != 2 || local.at(1).toUInt(nullptr, 16) != port) {
                    continue;
                }
                const QByteArray address = local.at(0);
                const bool loopback = address.size() == 8 ? address.endsWith("7F")
                                                          : address == "00000000000000000000000001000000";
                if (!loopback) {
                    nonLoopbackListeners << QString::fromLatin1(table) + " " + QString::fromLatin1(address);
                }
            }
        }
    }

    QNetworkAccessManager m_network;
};
