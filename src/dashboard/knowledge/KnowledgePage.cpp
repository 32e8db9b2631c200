#include "KnowledgePage.h"

#include "AppLogger.h"
#include "ChipRow.h"
#include "DashboardLook.h"
#include "ElidedLabel.h"
#include "KnowledgeBaseStore.h"
#include "KnowledgeDraft.h"
#include "KnowledgeRules.h"
#include "PageBits.h"
#include "TextUtilities.h"
#include "WidgetLifetime.h"

#include <QHBoxLayout>
#include <QHash>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QSet>
#include <QSignalBlocker>
#include <QToolButton>
#include <QVBoxLayout>

#include <utility>

namespace {

// The hero card: a diagonal gradient with two translucent circles cut at the rounded edge.
class HeroCard : public QWidget {
public:
    HeroCard(QColor a, QColor b, QWidget* parent) : QWidget(parent), m_a(a), m_b(b) { setMinimumHeight(220); }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        const QRectF bounds = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
        QPainterPath shape;
        shape.addRoundedRect(bounds, 24, 24);
        painter.setClipPath(shape);
        QLinearGradient gradient(bounds.topLeft(), bounds.bottomRight());
        gradient.setColorAt(0, m_a);
        gradient.setColorAt(1, m_b);
        painter.fillPath(shape, gradient);
        painter.setPen(Qt::NoPen);
        // Both circles are placed from the top-trailing corner.
        painter.setBrush(QColor(255, 255, 255, 31));
        painter.drawEllipse(QRectF(bounds.right() - 220 + 55, bounds.top() - 75, 220, 220));
        painter.setBrush(QColor(255, 255, 255, 20));
        painter.drawEllipse(QRectF(bounds.right() - 180 - 10, bounds.top() + 90, 180, 180));
        painter.setClipping(false);
        painter.setBrush(Qt::NoBrush);
        painter.setPen(QPen(QColor(255, 255, 255, 31), 1));
        painter.drawPath(shape);
    }

private:
    QColor m_a, m_b;
};

// A list row: a tap on its blank space activates it; its buttons do only their own action. A row is kept
// for as long as its entry is listed and shows the entry's current texts.
class RowWidget : public QWidget {
public:
    std::function<void()> activated;

    explicit RowWidget(QWidget* parent) : QWidget(parent) { setCursor(Qt::PointingHandCursor); }

    const KnowledgeRow& row() const { return m_row; }
    QLabel* title = nullptr;
    QLabel* subtitle = nullptr;
    QWidget* divider = nullptr;

    void setRow(const KnowledgeRow& row, bool withDivider) {
        m_row = row;
        setProperty("entryId", row.id);
        if (title->text() != row.title) {
            title->setText(row.title);
        }
        // One line: the first line of the text, cut at the row's width.
        const QString firstLine = row.subtitle.section(QLatin1Char('\n'), 0, 0);
        if (subtitle->text() != firstLine) {
            subtitle->setText(firstLine);
        }
        subtitle->setVisible(!row.subtitle.isEmpty());
        divider->setVisible(withDivider);
    }

protected:
    void mouseReleaseEvent(QMouseEvent* event) override {
        if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint()) && activated) {
            activated();
        }
    }

private:
    KnowledgeRow m_row;
};

QToolButton* iconButton(const QString& objectName, const QString& symbol, const QString& tip,
                        QWidget* parent) {
    auto* button = new QToolButton(parent);
    button->setObjectName(objectName);
    button->setIcon(PageBits::icon(symbol, PageBits::mutedColor));
    button->setIconSize(QSize(16, 16));
    button->setAutoRaise(true);
    button->setToolTip(tip);
    button->setAccessibleName(tip);
    button->setCursor(Qt::PointingHandCursor);
    return button;
}

void styleChip(ElidingLabel* chip) {
    chip->setFont(PageBits::font(13, QFont::DemiBold));
    QPalette palette = chip->palette();
    palette.setColor(QPalette::WindowText, Qt::white);
    chip->setPalette(palette);
    // The padding belongs in the style sheet: under the window's sheet it sets the label's margins.
    chip->setStyleSheet(QStringLiteral(
        "QLabel { background: rgba(255,255,255,0.16); border-radius: 15px; padding: 8px 12px; }"));
}

// A one-line row label that ends in "…" where the row is too narrow for it.
ElidingLabel* rowLabel(const QFont& font, const QColor& color) {
    auto* label = new ElidingLabel(1);
    label->setFont(font);
    QPalette palette = label->palette();
    palette.setColor(QPalette::WindowText, color);
    label->setPalette(palette);
    return label;
}

} // namespace

KnowledgePage::KnowledgePage(KnowledgePageConfig config, KnowledgeDraft& draft, QWidget* parent)
    : QScrollArea(parent), m_config(std::move(config)), m_draft(draft) {
    setObjectName(m_config.name + QStringLiteral("Page"));
    setWidgetResizable(true);
    setFrameShape(QFrame::NoFrame);
    setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);

    auto* content = new QWidget(this);
    content->setObjectName(QStringLiteral("pageContent"));
    auto* column = new QVBoxLayout(content);
    column->setContentsMargins(28, 42, 28, 28);
    column->setSpacing(20);

    auto* header = new PageHeader(m_config.pageTitle, nullptr, content);
    header->titleLabel()->setObjectName(QStringLiteral("knowledgePageTitle"));
    column->addWidget(header);

    auto* addRow = new QHBoxLayout();
    auto* add = new DashboardPrimaryButton(QStringLiteral("Add new"));
    add->setIcon(PageBits::icon(QStringLiteral("plus"), Qt::white));
    add->setIconSize(QSize(13, 13));
    add->setObjectName(QStringLiteral("addNewButton"));
    connect(add, &QPushButton::clicked, this, &KnowledgePage::openNewEditor);
    addRow->addWidget(add);
    addRow->addStretch(1);
    column->addLayout(addRow);

    m_editor = buildEditor();
    column->addWidget(m_editor);
    column->addWidget(buildHero());

    // The shared surface card; the heading and the rows bring their own padding.
    auto* list = new SurfaceCard(content);
    list->setObjectName(QStringLiteral("listCard"));
    QVBoxLayout* listColumn = list->contentLayout();
    listColumn->setContentsMargins(0, 0, 0, 0);
    auto* heading = PageBits::label(m_config.listHeading, DashboardFonts::rounded(20, QFont::DemiBold),
                                    PageBits::titleColor);
    heading->setObjectName(QStringLiteral("listHeading"));
    heading->setContentsMargins(18, 18, 18, 6);
    listColumn->addWidget(heading);

    auto* emptyOuter = new QWidget(list);
    emptyOuter->setObjectName(QStringLiteral("emptyState"));
    auto* emptyOuterLayout = new QVBoxLayout(emptyOuter);
    emptyOuterLayout->setContentsMargins(18, 18, 18, 18);
    auto* emptyPanel = new QFrame(emptyOuter);
    emptyPanel->setObjectName(QStringLiteral("emptyPanel"));
    emptyPanel->setStyleSheet(
        QStringLiteral("QFrame#emptyPanel { background: rgba(255,255,255,0.62); border-radius: 16px; }"));
    auto* emptyColumn = new QVBoxLayout(emptyPanel);
    emptyColumn->setContentsMargins(18, 18, 18, 18);
    emptyColumn->setSpacing(8);
    auto* emptyTitle =
        PageBits::label(m_config.emptyTitle, PageBits::font(15, QFont::DemiBold), PageBits::titleColor);
    emptyTitle->setObjectName(QStringLiteral("emptyTitle"));
    emptyColumn->addWidget(emptyTitle);
    auto* emptyBody = PageBits::label(m_config.emptyBody, PageBits::font(13), PageBits::mutedColor);
    emptyBody->setWordWrap(true);
    emptyColumn->addWidget(emptyBody);
    emptyOuterLayout->addWidget(emptyPanel);
    m_emptyState = emptyOuter;
    listColumn->addWidget(emptyOuter);

    m_rowsBox = new QWidget(list);
    m_rowsBox->setObjectName(QStringLiteral("rows"));
    m_rowsLayout = new QVBoxLayout(m_rowsBox);
    m_rowsLayout->setContentsMargins(0, 0, 0, 0);
    m_rowsLayout->setSpacing(0);
    listColumn->addWidget(m_rowsBox);
    column->addWidget(list);
    column->addStretch(1);
    setWidget(content);
    // The page lies straight on the window's canvas: neither the viewport nor the content paints.
    viewport()->setAutoFillBackground(false);
    content->setAutoFillBackground(false);

    connect(verticalScrollBar(), &QScrollBar::valueChanged, this, &KnowledgePage::growNearEnd);
    connect(verticalScrollBar(), &QScrollBar::rangeChanged, this, &KnowledgePage::growNearEnd);
    connect(&m_draft, &KnowledgeDraft::shownChanged, this, &KnowledgePage::syncEditor);
    connect(&m_draft, &KnowledgeDraft::keyChanged, this, &KnowledgePage::syncEditor);
    connect(&m_draft, &KnowledgeDraft::textChanged, this, &KnowledgePage::syncEditor);
    connect(&m_draft, &KnowledgeDraft::editingIdChanged, this, &KnowledgePage::syncEditor);
    syncEditor();
    reload();
}

QWidget* KnowledgePage::buildEditor() {
    auto* editor = new QFrame();
    editor->setObjectName(QStringLiteral("editor"));
    editor->setStyleSheet(QStringLiteral("QFrame#editor { background: rgb(242,247,255); border: 1px solid "
                                         "rgba(46,99,219,0.18); border-radius: 18px; }"));
    auto* column = new QVBoxLayout(editor);
    column->setContentsMargins(24, 24, 24, 24);
    column->setSpacing(16);

    auto* header = new QHBoxLayout();
    m_editorTitle =
        PageBits::label(QString(), DashboardFonts::rounded(22, QFont::Bold), PageBits::titleColor);
    m_editorTitle->setObjectName(QStringLiteral("editorTitle"));
    header->addWidget(m_editorTitle);
    header->addStretch(1);
    auto* close =
        iconButton(QStringLiteral("closeButton"), QStringLiteral("xmark"), QStringLiteral("Close"), editor);
    connect(close, &QToolButton::clicked, this, [this] { m_draft.setShown(false); });
    header->addWidget(close);
    column->addLayout(header);

    const QFont labelFont = PageBits::font(12, QFont::DemiBold);
    auto* keyColumn = new QVBoxLayout();
    keyColumn->setSpacing(6);
    keyColumn->addWidget(PageBits::label(m_config.keyLabel, labelFont, PageBits::mutedColor));
    m_keyField = new QLineEdit(editor);
    m_keyField->setObjectName(QStringLiteral("keyField"));
    m_keyField->setPlaceholderText(m_config.keyPlaceholder);
    connect(m_keyField, &QLineEdit::textEdited, this, [this](const QString& text) { m_draft.setKey(text); });
    keyColumn->addWidget(m_keyField);
    column->addLayout(keyColumn);

    auto* textColumn = new QVBoxLayout();
    textColumn->setSpacing(6);
    textColumn->addWidget(PageBits::label(m_config.textLabel, labelFont, PageBits::mutedColor));
    m_textField = new QPlainTextEdit(editor);
    m_textField->setObjectName(QStringLiteral("textField"));
    m_textField->setFont(PageBits::font(14));
    m_textField->setMinimumHeight(120);
    m_textField->setTabChangesFocus(true);
    m_textField->setStyleSheet(QStringLiteral("QPlainTextEdit { background: white; border: 1px solid "
                                              "rgba(0,0,0,0.08); border-radius: 14px; padding: 10px; }"));
    connect(m_textField, &QPlainTextEdit::textChanged, this,
            [this] { m_draft.setText(m_textField->toPlainText()); });
    textColumn->addWidget(m_textField);
    column->addLayout(textColumn);

    auto* hint = PageBits::label(m_config.hint, PageBits::font(12), PageBits::mutedColor);
    hint->setWordWrap(true);
    column->addWidget(hint);

    auto* buttons = new QHBoxLayout();
    buttons->addStretch(1);
    auto* cancel =
        new DashboardSecondaryButton(QStringLiteral("Cancel"), DashboardPalette::accentColor(), editor);
    cancel->setObjectName(QStringLiteral("cancelButton"));
    cancel->setAutoDefault(false);
    connect(cancel, &QPushButton::clicked, this, [this] { m_draft.setShown(false); });
    buttons->addWidget(cancel);
    m_saveButton = new DashboardPrimaryButton(QStringLiteral("Save changes"), editor);
    m_saveButton->setObjectName(QStringLiteral("saveButton"));
    m_saveButton->setAutoDefault(false);
    connect(m_saveButton, &QPushButton::clicked, this, &KnowledgePage::saveDraft);
    buttons->addWidget(m_saveButton);
    column->addLayout(buttons);
    return editor;
}

QWidget* KnowledgePage::buildHero() {
    auto* hero = new HeroCard(m_config.accentA, m_config.accentB, nullptr);
    hero->setObjectName(QStringLiteral("heroCard"));
    auto* column = new QVBoxLayout(hero);
    column->setContentsMargins(28, 28, 28, 28);
    column->setSpacing(14);
    auto* title = PageBits::label(m_config.heroTitle, DashboardFonts::serif(34, QFont::DemiBold), Qt::white);
    title->setObjectName(QStringLiteral("knowledgeHeroTitle"));
    title->setWordWrap(true);
    column->addWidget(title);
    auto* body =
        PageBits::label(m_config.heroBody, PageBits::font(15, QFont::Medium), QColor(255, 255, 255, 235));
    body->setWordWrap(true);
    body->setMaximumWidth(620);
    column->addWidget(body);
    // One line of chips: the ones that fit, a long one ending in "…".
    m_chips = new ChipRow(styleChip, hero);
    m_chips->setObjectName(QStringLiteral("chipStrip"));
    column->addWidget(m_chips);
    column->addStretch(1);
    return hero;
}

void KnowledgePage::syncEditor() {
    m_editor->setVisible(m_draft.shown());
    m_editorTitle->setText(m_draft.editingId() ? m_config.editTitle : m_config.addTitle);
    if (m_keyField->text() != m_draft.key()) {
        const QSignalBlocker blocker(m_keyField);
        m_keyField->setText(m_draft.key());
    }
    if (m_textField->toPlainText() != m_draft.text()) {
        const QSignalBlocker blocker(m_textField);
        m_textField->setPlainText(m_draft.text());
    }
    m_saveButton->setEnabled(KnowledgeRules::canSave(m_draft.key()));
}

void KnowledgePage::reload() {
    const QList<KnowledgeRow> rows = m_config.rows();
    // The entry being edited is gone: the editor turns into the add form with the same drafts, so Save
    // creates it instead of silently dropping the edit.
    if (const auto& editing = m_draft.editingId()) {
        const bool present = std::any_of(rows.begin(), rows.end(),
                                         [&](const KnowledgeRow& row) { return row.id == *editing; });
        if (!present) {
            m_draft.setEditingId(std::nullopt);
        }
    }

    if (!isVisible()) {
        m_stale = true;
        return;
    }
    m_stale = false;
    const QStringList chips = KnowledgeRules::firstChips(m_config.chips(), KnowledgeRules::heroChipLimit);
    if (chips != m_chipTexts || !m_chipsBuilt) {
        rebuildChips(chips);
    }

    if (rows != m_rows || m_rowsLayout->isEmpty() != rows.isEmpty()) {
        rebuildRows(rows);
    }
    m_emptyState->setVisible(rows.isEmpty());
    m_rowsBox->setVisible(!rows.isEmpty());
}

void KnowledgePage::growNearEnd() {
    if (m_stale || m_built >= m_rows.size()) {
        return;
    }
    const QScrollBar* bar = verticalScrollBar();
    const int builtEnd = m_rowsBox->mapTo(widget(), QPoint(0, m_rowsBox->height())).y();
    if (builtEnd - bar->value() > 2 * viewport()->height()) {
        return;
    }
    m_built = qMin(m_rows.size(), m_built + kRowBatch);
    rebuildRows(m_rows);
}

void KnowledgePage::showEvent(QShowEvent* event) {
    QScrollArea::showEvent(event);
    if (m_stale) {
        reload();
    }
}

void KnowledgePage::rebuildChips(const QStringList& chips) {
    m_chipTexts = chips;
    m_chipsBuilt = true;
    m_chips->setChips(chips);
    m_chips->setVisible(!chips.isEmpty());
}

void KnowledgePage::rebuildRows(const QList<KnowledgeRow>& rows) {
    // Rows of entries still listed are kept and updated; only what changed moves in the layout (an edit,
    // an addition or a deletion touches one row of a thousand). A removed entry's row goes after the
    // current event, since the click on its own trash button may be what removed it.
    m_rows = rows;
    m_built = qMin(rows.size(), qMax(m_built, kRowBatch));
    QHash<QUuid, QWidget*> previous;
    std::swap(previous, m_rowWidgets);
    QList<QWidget*> wanted;
    wanted.reserve(m_built);
    QSet<QWidget*> made;
    for (qsizetype i = 0; i < m_built; ++i) {
        const KnowledgeRow& row = rows.at(i);
        auto* box = static_cast<RowWidget*>(previous.take(row.id));
        if (!box) {
            box = static_cast<RowWidget*>(makeRow());
            made.insert(box);
        }
        box->setRow(row, i < rows.size() - 1);
        m_rowWidgets.insert(row.id, box);
        wanted << box;
    }
    for (QWidget* gone : std::as_const(previous)) {
        m_rowsLayout->removeWidget(gone);
        discardLater(gone);
    }
    for (int i = 0; i < wanted.size(); ++i) {
        const QLayoutItem* item = m_rowsLayout->itemAt(i);
        if (item && item->widget() == wanted.at(i)) {
            continue;
        }
        if (!made.contains(wanted.at(i))) {
            m_rowsLayout->removeWidget(wanted.at(i));
        }
        m_rowsLayout->insertWidget(i, wanted.at(i));
    }
    for (QWidget* box : std::as_const(made)) {
        box->show();
    }
}

QWidget* KnowledgePage::makeRow() {
    auto* box = new RowWidget(m_rowsBox);
    box->setObjectName(QStringLiteral("row"));
    box->activated = [this, box] { openEditor(box->row()); };
    auto* boxColumn = new QVBoxLayout(box);
    boxColumn->setContentsMargins(0, 0, 0, 0);
    boxColumn->setSpacing(0);
    auto* line = new QHBoxLayout();
    line->setContentsMargins(18, 16, 18, 16);
    line->setSpacing(16);
    auto* texts = new QVBoxLayout();
    texts->setSpacing(5);
    box->title = rowLabel(PageBits::font(15, QFont::Medium), PageBits::titleColor);
    box->title->setObjectName(QStringLiteral("rowTitle"));
    box->title->setAttribute(Qt::WA_TransparentForMouseEvents);
    texts->addWidget(box->title);
    box->subtitle = rowLabel(PageBits::font(13), PageBits::mutedColor);
    box->subtitle->setObjectName(QStringLiteral("rowSubtitle"));
    box->subtitle->setAttribute(Qt::WA_TransparentForMouseEvents);
    texts->addWidget(box->subtitle);
    line->addLayout(texts, 1);
    line->addSpacing(8);
    auto* edit =
        iconButton(QStringLiteral("editButton"), QStringLiteral("pencil"), QStringLiteral("Edit"), box);
    connect(edit, &QToolButton::clicked, this, [this, box] { openEditor(box->row()); });
    line->addWidget(edit);
    line->addSpacing(14 - line->spacing());
    auto* remove =
        iconButton(QStringLiteral("deleteButton"), QStringLiteral("trash"), QStringLiteral("Delete"), box);
    connect(remove, &QToolButton::clicked, this, [this, box] { m_config.remove(box->row().id); });
    line->addWidget(remove);
    boxColumn->addLayout(line);
    auto* divider = new QFrame(box);
    divider->setObjectName(QStringLiteral("divider"));
    divider->setFixedHeight(1);
    divider->setStyleSheet(QStringLiteral("background: rgba(0,0,0,0.08); margin-left: 18px;"));
    boxColumn->addWidget(divider);
    box->divider = divider;
    return box;
}

void KnowledgePage::openNewEditor() {
    AppLogger::info(m_config.addLog);
    m_draft.setEditingId(std::nullopt);
    m_draft.setKey(QString());
    m_draft.setText(QString());
    m_draft.setShown(true);
}

void KnowledgePage::openEditor(const KnowledgeRow& row) {
    AppLogger::info(m_config.editLogPrefix + Text::uuidText(row.id));
    m_draft.setEditingId(row.id);
    // Drafts are taken as stored; the row shows only a one-line cut of the text.
    const QList<KnowledgeRow> rows = m_config.rows();
    const auto found =
        std::find_if(rows.begin(), rows.end(), [&](const KnowledgeRow& r) { return r.id == row.id; });
    const KnowledgeRow& source = found != rows.end() ? *found : row;
    m_draft.setKey(source.title);
    m_draft.setText(source.subtitle);
    m_draft.setShown(true);
}

void KnowledgePage::saveDraft() {
    const QList<KnowledgeRow> rows = m_config.rows();
    const auto& editing = m_draft.editingId();
    const bool exists = editing && std::any_of(rows.begin(), rows.end(),
                                               [&](const KnowledgeRow& row) { return row.id == *editing; });
    const KnowledgeRules::SavePlan plan =
        KnowledgeRules::planSave(m_draft.key(), m_draft.text(), editing, exists);
    switch (plan.kind) {
    case KnowledgeRules::SavePlan::Kind::Nothing:
        return;
    case KnowledgeRules::SavePlan::Kind::Update:
        m_config.update(plan.id, plan.key, plan.text);
        break;
    case KnowledgeRules::SavePlan::Kind::Create:
        m_config.create(plan.key, plan.text);
        break;
    }
    m_draft.setShown(false);
}

void KnowledgePage::addNotice(QWidget* notice) {
    if (auto* column = qobject_cast<QVBoxLayout*>(widget()->layout())) {
        column->insertWidget(1, notice);
    }
}

KnowledgePage* KnowledgePage::dictionary(KnowledgeBaseStore& store, DashboardState& state, QWidget* parent) {
    auto* draft = new KnowledgeDraft(state, KnowledgeDraft::Kind::Dictionary);
    KnowledgePageConfig config;
    config.name = QStringLiteral("dictionary");
    config.pageTitle = QStringLiteral("Dictionary");
    config.heroTitle = QStringLiteral("Protect the way you speak.");
    config.heroBody = QStringLiteral(
        "Keep names, jargon, and product language consistent during transcription. Tap any row to edit it.");
    config.accentA = QColor::fromRgbF(0.22f, 0.38f, 0.82f);
    config.accentB = QColor::fromRgbF(0.39f, 0.61f, 0.96f);
    config.listHeading = QStringLiteral("Protected vocabulary");
    config.emptyTitle = QStringLiteral("No custom words yet");
    config.emptyBody =
        QStringLiteral("Add a product name, person, or acronym so Quillvane preserves it exactly.");
    config.addTitle = QStringLiteral("Add word");
    config.editTitle = QStringLiteral("Edit word");
    config.keyLabel = QStringLiteral("Word or phrase to preserve");
    config.keyPlaceholder = QStringLiteral("Example: Quillvane");
    config.textLabel = QStringLiteral("Context or note");
    config.hint =
        QStringLiteral("Use the note field for pronunciation help, product context, or anything that "
                       "helps Quillvane keep this term correct.");
    config.addLog = QStringLiteral("Dictionary add requested");
    config.editLogPrefix = QStringLiteral("Dictionary edit requested id=");
    KnowledgeBaseStore* s = &store;
    config.rows = [s] {
        QList<KnowledgeRow> rows;
        for (const DictionaryTerm& term : s->dictionaryTerms()) {
            rows.append({term.id, term.term, term.note});
        }
        return rows;
    };
    config.chips = [s] { return KnowledgeRules::dictionaryChips(s->dictionaryTerms()); };
    config.remove = [s](const QUuid& id) { s->deleteDictionaryTerm(id); };
    config.create = [s](const QString& key, const QString& text) { s->createDictionaryTerm(key, text); };
    config.update = [s](const QUuid& id, const QString& key, const QString& text) {
        s->updateDictionaryTerm(id, key, text);
    };
    auto* page = new KnowledgePage(std::move(config), *draft, parent);
    draft->setParent(page);
    connect(&store, &KnowledgeBaseStore::dictionaryTermsChanged, page, &KnowledgePage::reload);
    return page;
}

KnowledgePage* KnowledgePage::snippets(KnowledgeBaseStore& store, DashboardState& state, QWidget* parent) {
    auto* draft = new KnowledgeDraft(state, KnowledgeDraft::Kind::Snippets);
    KnowledgePageConfig config;
    config.name = QStringLiteral("snippets");
    config.pageTitle = QStringLiteral("Snippets");
    config.heroTitle = QStringLiteral("Save the phrases you repeat.");
    config.heroBody =
        QStringLiteral("Store shortcuts, canned responses, and reusable text. Tap any snippet to "
                       "edit the shortcut or full expansion.");
    config.accentA = QColor::fromRgbF(0.19f, 0.28f, 0.71f);
    config.accentB = QColor::fromRgbF(0.15f, 0.55f, 0.85f);
    config.listHeading = QStringLiteral("Text expansions");
    config.emptyTitle = QStringLiteral("No snippets yet");
    config.emptyBody = QStringLiteral(
        "Create a shortcut for anything you type often, like an intro line, address, or repeated prompt.");
    config.addTitle = QStringLiteral("Add snippet");
    config.editTitle = QStringLiteral("Edit snippet");
    config.keyLabel = QStringLiteral("What you say");
    config.keyPlaceholder = QStringLiteral("Example: my address");
    config.textLabel = QStringLiteral("What Quillvane inserts");
    config.hint = QStringLiteral(
        "When you dictate the trigger phrase, Quillvane replaces it with the full text above.");
    config.addLog = QStringLiteral("Snippet add requested");
    config.editLogPrefix = QStringLiteral("Snippet edit requested id=");
    KnowledgeBaseStore* s = &store;
    config.rows = [s] {
        QList<KnowledgeRow> rows;
        for (const KnowledgeSnippet& snippet : s->snippets()) {
            rows.append({snippet.id, snippet.title, snippet.value});
        }
        return rows;
    };
    config.chips = [s] { return KnowledgeRules::snippetChips(s->snippets()); };
    config.remove = [s](const QUuid& id) { s->deleteSnippet(id); };
    config.create = [s](const QString& key, const QString& text) { s->createSnippet(key, text); };
    config.update = [s](const QUuid& id, const QString& key, const QString& text) {
        s->updateSnippet(id, key, text);
    };
    auto* page = new KnowledgePage(std::move(config), *draft, parent);
    draft->setParent(page);
    connect(&store, &KnowledgeBaseStore::snippetsChanged, page, &KnowledgePage::reload);
    return page;
}
