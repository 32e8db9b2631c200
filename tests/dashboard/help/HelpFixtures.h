#pragma once
// Fetches for the tutorials page that the test finishes by hand, in any order.

#include "APIModels.h"
#include "DashboardState.h"
#include "TutorialsPage.h"

#include <QCoreApplication>
#include <QObject>
#include <QPushButton>
#include <qcoro/qcorosignal.h>
#include <qcoro/qcorotask.h>

#include <exception>
#include <memory>
#include <optional>

// One pending fetch: it waits until finish() or fail() is called.
class FetchGate : public QObject {
    Q_OBJECT
public:
    void finish(QList<TutorialItemDTO> tutorials) {
        m_result = TutorialsResponseDTO{std::move(tutorials)};
        emit opened();
    }
    void fail(std::exception_ptr error) {
        m_error = std::move(error);
        emit opened();
    }

    static QCoro::Task<TutorialsResponseDTO> wait(std::shared_ptr<FetchGate> gate) {
        co_await qCoro(gate.get(), &FetchGate::opened);
        if (gate->m_error) {
            std::rethrow_exception(gate->m_error);
        }
        co_return *gate->m_result;
    }

signals:
    void opened();

private:
    std::optional<TutorialsResponseDTO> m_result;
    std::exception_ptr m_error;
};

// Every fetch the page starts gets a new gate, kept in call order.
struct GatedFetches {
    QList<std::shared_ptr<FetchGate>> gates;

    TutorialsLoader::Fetch fetch() {
        return [this] {
            auto gate = std::make_shared<FetchGate>();
            gates.append(gate);
            return FetchGate::wait(gate);
        };
    }
};

inline TutorialItemDTO tutorial(const QString& key, const QString& url = {}) {
    return {key, QStringLiteral("Title ") + key, QStringLiteral("About ") + key,
            url.isEmpty() ? QStringLiteral("https://example.invalid/") + key : url};
}

template <class T> QList<T*> visibleChildren(const QWidget& root, const QString& name) {
    QList<T*> found;
    for (T* child : root.findChildren<T*>(name)) {
        if (child->isVisibleTo(&root)) {
            found.append(child);
        }
    }
    return found;
}
