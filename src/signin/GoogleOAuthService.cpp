#include "GoogleOAuthService.h"

#include "AppLogger.h"
#include "AppPaths.h"
#include "JsonDecoding.h"
#include "LoopbackCallbackServer.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonObject>

#include <memory>

namespace {

const QString secretFileName = QStringLiteral("google_client_secret.json");

struct ClientSecretFile {
    GoogleInstalledClientSecret installed;

    template <class IO> void serialize(IO& io) { io.required("installed", installed); }
};

std::optional<QString> stringClaim(const QJsonObject& claims, const char* key) {
    const QJsonValue value = claims.value(QLatin1String(key));
    return value.isString() ? std::optional<QString>(value.toString()) : std::nullopt;
}

} // namespace

GoogleClientSecretSearch GoogleClientSecretSearch::fromProcess() {
    GoogleClientSecretSearch search;
    if (const QString data = AppPaths::dataFolder(); !data.isEmpty()) {
        search.resourceFolders << data;
    }
    if (QCoreApplication::instance()) {
        search.resourceFolders << QCoreApplication::applicationDirPath();
    }
    search.environmentValue = qEnvironmentVariable("GOOGLE_CLIENT_SECRETS_FILE");
    search.workingDirectory = QDir::currentPath();
    search.homeDirectory = QDir::homePath();
    return search;
}

QStringList GoogleClientSecretSearch::candidates() const {
    QStringList paths;
    for (const QString& folder : resourceFolders) {
        paths << QDir(folder).filePath(secretFileName);
    }
    const QString named = environmentValue.trimmed();
    if (!named.isEmpty()) {
        paths << QDir(workingDirectory).absoluteFilePath(named);
    }
    paths << QDir(workingDirectory).filePath(secretFileName);
    paths << QDir(QDir(workingDirectory).absoluteFilePath(QStringLiteral(".."))).filePath(secretFileName);
    paths << QDir(homeDirectory).filePath(QStringLiteral("Documents/vocalyard/") + secretFileName);
    for (QString& path : paths) {
        path = QDir::cleanPath(path);
    }
    return paths;
}

GoogleInstalledClientSecret GoogleOAuthService::loadClientSecret(const GoogleClientSecretSearch& search) {
    for (const QString& path : search.candidates()) {
        if (!QFileInfo::exists(path)) {
            continue;
        }
        QFile file(path);
        if (!file.open(QIODevice::ReadOnly)) {
            throw UserFacingError(QStringLiteral("Could not read %1: %2").arg(path, file.errorString()));
        }
        return fromJsonText<ClientSecretFile>(file.readAll()).installed;
    }
    throw GoogleOAuthError::missingClientSecretFile();
}

const QStringList& GoogleOAuthService::scopes() {
    static const QStringList list{QStringLiteral("openid"),
                                  QStringLiteral("https://www.googleapis.com/auth/userinfo.profile"),
                                  QStringLiteral("https://www.googleapis.com/auth/userinfo.email")};
    return list;
}

GoogleOAuthService::GoogleOAuthService(QNetworkAccessManager* network, UrlOpener openUrl, Options options)
    : m_network(network), m_openUrl(std::move(openUrl)), m_options(std::move(options)) {}

QCoro::Task<SignInIdentity> GoogleOAuthService::signIn(SignInCancelToken cancel) {
    cancel.throwIfCancelled();
    const GoogleInstalledClientSecret credentials =
        loadClientSecret(m_options.clientSecretSearch.value_or(GoogleClientSecretSearch::fromProcess()));

    auto server = std::make_unique<LoopbackCallbackServer>(CallbackProfile::google());
    if (!server->listen()) {
        AppLogger::error(QStringLiteral("Google OAuth callback listener failed: ") + server->errorString());
        throw GoogleOAuthError::callbackListenerFailed();
    }
    // A cancelled attempt lets go of its port at once, so that the next attempt can listen on it.
    const auto stopOnCancel = cancel.onCancel([listener = server.get()] { listener->stop(); });
    const QString redirectURI = QStringLiteral("http://127.0.0.1:") + QString::number(server->port()) +
                                QStringLiteral("/oauth/google/callback");
    // Only the process that started the flow knows the verifier and the state, so a local process that
    // reaches the port first can neither inject its own code nor redeem an intercepted one.
    const QString codeVerifier = OAuthSupport::randomURLSafeString(64);
    const QString state = OAuthSupport::randomURLSafeString(32);

    QUrl authorization = m_options.endpoints.authorization;
    authorization.setQuery(
        QString::fromLatin1(OAuthSupport::formEncode({
            {QStringLiteral("client_id"), credentials.client_id},
            {QStringLiteral("redirect_uri"), redirectURI},
            {QStringLiteral("response_type"), QStringLiteral("code")},
            {QStringLiteral("scope"), scopes().join(QLatin1Char(' '))},
            {QStringLiteral("access_type"), QStringLiteral("offline")},
            {QStringLiteral("prompt"), QStringLiteral("consent")},
            {QStringLiteral("state"), state},
            {QStringLiteral("code_challenge"), OAuthSupport::sha256Base64URL(codeVerifier)},
            {QStringLiteral("code_challenge_method"), QStringLiteral("S256")},
        })),
        QUrl::StrictMode);
    if (!authorization.isValid()) {
        throw GoogleOAuthError::invalidClientSecretFile();
    }
    server->expectState(state);
    AppLogger::info(QStringLiteral("Opening Google OAuth flow"));
    m_openUrl(authorization);

    const std::optional<OAuthCallback> callback =
        co_await server->waitForCallback(m_options.callbackTimeout, cancel);
    server->stop();
    if (!callback) {
        throw GoogleOAuthError::timedOut();
    }
    // The listener hands over only a callback that carries this attempt's state.
    if (callback->hasError()) {
        throw GoogleOAuthError::authorizationFailed(*callback);
    }
    if (!callback->code) {
        throw GoogleOAuthError::authCodeMissing();
    }

    const TokenResponse token =
        co_await exchangeCodeForToken(*callback->code, redirectURI, codeVerifier, credentials, cancel);
    if (!token.id_token || token.id_token->isEmpty()) {
        throw GoogleOAuthError::idTokenMissing();
    }
    SignInIdentity result{*token.id_token, std::nullopt, std::nullopt, std::nullopt};
    if (token.access_token && !token.access_token->isEmpty()) {
        try {
            const UserInfo info = co_await fetchUserInfo(*token.access_token, cancel);
            result.email = info.email;
            result.name = info.name;
            result.picture = info.picture;
        } catch (const SignInCancelled&) {
            throw;
        } catch (const std::exception& error) {
            AppLogger::info(QStringLiteral("Google userinfo unavailable: ") +
                            QString::fromUtf8(error.what()));
        }
    }
    const QJsonObject claims = OAuthSupport::jwtClaims(result.idToken);
    if (!result.email) {
        result.email = stringClaim(claims, "email");
    }
    if (!result.name) {
        result.name = stringClaim(claims, "name");
    }
    co_return result;
}

QCoro::Task<GoogleOAuthService::TokenResponse>
GoogleOAuthService::exchangeCodeForToken(QString code, QString redirectURI, QString codeVerifier,
                                         GoogleInstalledClientSecret credentials, SignInCancelToken cancel) {
    const QList<std::pair<QString, QString>> fields{
        {QStringLiteral("code"), code},
        {QStringLiteral("client_id"), credentials.client_id},
        {QStringLiteral("client_secret"), credentials.client_secret},
        {QStringLiteral("redirect_uri"), redirectURI},
        {QStringLiteral("grant_type"), QStringLiteral("authorization_code")},
        {QStringLiteral("code_verifier"), codeVerifier},
    };
    const OAuthSupport::HttpAnswer answer = co_await OAuthSupport::postForm(
        *m_network, m_options.endpoints.token, fields, m_options.requestTimeout, cancel);
    if (const auto failure = OAuthSupport::tokenFailure(answer)) {
        throw GoogleOAuthError::tokenExchangeFailed(*failure);
    }
    co_return fromJsonText<TokenResponse>(answer.body);
}

QCoro::Task<GoogleOAuthService::UserInfo> GoogleOAuthService::fetchUserInfo(QString accessToken,
                                                                            SignInCancelToken cancel) {
    QNetworkRequest request(m_options.endpoints.userInfo);
    request.setRawHeader("Authorization", "Bearer " + accessToken.toUtf8());
    const OAuthSupport::HttpAnswer answer =
        co_await OAuthSupport::send(*m_network, request, "GET", {}, m_options.requestTimeout, cancel);
    if (!answer.statusCode || *answer.statusCode < 200 || *answer.statusCode > 299) {
        throw std::runtime_error("userinfo answered HTTP " + std::to_string(answer.statusCode.value_or(0)));
    }
    co_return fromJsonText<UserInfo>(answer.body);
}
