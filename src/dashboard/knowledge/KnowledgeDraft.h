#pragma once

#include <QObject>
#include <QString>
#include <QUuid>

#include <optional>

class DashboardState;

// One knowledge page's editor fields in the dashboard state, seen as one editor: the entry being edited
// (none while adding), the key and text drafts and whether the editor is shown. Reads and writes go to
// the state; its change signals are forwarded. The state must outlive this object.
class KnowledgeDraft : public QObject {
    Q_OBJECT

public:
    enum class Kind { Dictionary, Snippets };

    KnowledgeDraft(DashboardState& state, Kind kind, QObject* parent = nullptr);

    std::optional<QUuid> editingId() const;
    QString key() const;
    QString text() const;
    bool shown() const;

    void setEditingId(const std::optional<QUuid>& id);
    void setKey(const QString& key);
    void setText(const QString& text);
    void setShown(bool shown);

signals:
    void editingIdChanged();
    void keyChanged();
    void textChanged();
    void shownChanged();

private:
    DashboardState& m_state;
    Kind m_kind;
};
