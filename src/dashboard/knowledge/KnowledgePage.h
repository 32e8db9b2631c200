#pragma once

#include <QColor>
#include <QHash>
#include <QList>
#include <QScrollArea>
#include <QString>
#include <QStringList>
#include <QUuid>

#include <functional>

class ChipRow;
class DashboardState;
class KnowledgeBaseStore;
class KnowledgeDraft;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QVBoxLayout;
class QWidget;

// One row of a knowledge page's list.
struct KnowledgeRow {
    QUuid id;
    QString title;
    QString subtitle; // empty: a one-line row
    friend bool operator==(const KnowledgeRow&, const KnowledgeRow&) = default;
};

// What makes a knowledge page the dictionary or the snippets page: its texts, colours, data and actions.
struct KnowledgePageConfig {
    QString name; // object-name prefix: "dictionary" or "snippets"
    QString pageTitle, heroTitle, heroBody, listHeading, emptyTitle, emptyBody;
    QColor accentA, accentB;
    QString addTitle, editTitle, keyLabel, keyPlaceholder, textLabel, hint;
    QString addLog, editLogPrefix;
    std::function<QList<KnowledgeRow>()> rows;
    std::function<QStringList()> chips;
    std::function<void(const QUuid&)> remove;
    std::function<void(const QString&, const QString&)> create;
    std::function<void(const QUuid&, const QString&, const QString&)> update;
};

// The shared page of the dictionary and the snippets: header, "Add new", the inline editor while its
// draft is shown, the hero card and the list card. Rows follow the store; the editor is bound to the
// draft. Widgets carry object names for tests: "addNewButton", "editor", "keyField", "textField",
// "saveButton", "cancelButton", "closeButton", "editorTitle", "heroCard", "knowledgeHeroTitle", "chip",
// "emptyState", "row", "editButton", "deleteButton", "divider".
class KnowledgePage : public QScrollArea {
    Q_OBJECT

public:
    static constexpr qsizetype kRowBatch = 60;

    // Call reload() whenever the data behind `config.rows` changes (the factories connect the store).
    KnowledgePage(KnowledgePageConfig config, KnowledgeDraft& draft, QWidget* parent = nullptr);

    // The two pages over the store, their editors bound to the dashboard state.
    static KnowledgePage* dictionary(KnowledgeBaseStore& store, DashboardState& state,
                                     QWidget* parent = nullptr);
    static KnowledgePage* snippets(KnowledgeBaseStore& store, DashboardState& state,
                                   QWidget* parent = nullptr);

    const KnowledgePageConfig& config() const { return m_config; }

    // The page's actions, as the buttons run them.
    void openNewEditor();
    void openEditor(const KnowledgeRow& row);
    void saveDraft();

    // Re-reads the rows and chips; run on every change of the store. While the page is hidden only the
    // editor's bookkeeping runs; the rows and chips catch up when it is shown.
    void reload();

    // Places `notice` at the top of the page, under its title.
    void addNotice(QWidget* notice);

protected:
    void showEvent(QShowEvent* event) override;

private:
    QWidget* buildEditor();
    QWidget* buildHero();
    void syncEditor();
    void rebuildRows(const QList<KnowledgeRow>& rows);
    // Builds the next batch of rows when the end of the built ones comes near the bottom of the view.
    void growNearEnd();
    void rebuildChips(const QStringList& chips);
    QWidget* makeRow();

    KnowledgePageConfig m_config;
    KnowledgeDraft& m_draft;
    QList<KnowledgeRow> m_rows;
    QStringList m_chipTexts; // what m_chips shows
    bool m_chipsBuilt = false;
    bool m_stale = false; // the rows wait for the page to be shown
    // Rows are built for the first m_built entries only, a batch more whenever the list is scrolled near
    // its end: a thousand entries open as fast as fifty.
    qsizetype m_built = 0;
    QWidget* m_editor = nullptr;
    QLabel* m_editorTitle = nullptr;
    QLineEdit* m_keyField = nullptr;
    QPlainTextEdit* m_textField = nullptr;
    QPushButton* m_saveButton = nullptr;
    ChipRow* m_chips = nullptr;
    QWidget* m_emptyState = nullptr;
    QWidget* m_rowsBox = nullptr;
    QVBoxLayout* m_rowsLayout = nullptr;
    QHash<QUuid, QWidget*> m_rowWidgets; // the row of each listed entry
};
