#include "DashboardSheets.h"

#include "DashboardLook.h"
#include "DashboardState.h"
#include "PromptSettingsStore.h"
#include "SettingsRules.h"
#include "SymbolIcons.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace {
using namespace DashboardPalette;

class CloseSymbolButton : public QPushButton {
public:
    explicit CloseSymbolButton(QWidget* parent) : QPushButton(parent) {
        setObjectName(QStringLiteral("promptCloseButton"));
        setAccessibleName(QStringLiteral("Close"));
        setFixedSize(22, 22);
        setCursor(Qt::PointingHandCursor);
    }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        QColor color = mutedColor();
        color.setAlphaF(isDown() ? 0.6 : 0.8);
        painter.drawPixmap(QPointF(2, 2), SymbolIcons::pixmap(QStringLiteral("xmark.circle.fill"),
                                                              QSize(18, 18), color, devicePixelRatioF()));
    }
};

// A sheet that asks for `width` (and `height`, when given; else what its content needs at that width) and
// can shrink to the window's room.
class SheetFrame : public QWidget {
public:
    SheetFrame(int width, int height) : m_width(width), m_height(height) { setMaximumWidth(width); }
    QSize sizeHint() const override {
        return {m_width, m_height > 0 ? m_height : layout()->totalHeightForWidth(m_width)};
    }

private:
    int m_width;
    int m_height;
};

QWidget* sheetFrame(int width, QVBoxLayout*& column, int height = -1) {
    auto* sheet = new SheetFrame(width, height);
    column = new QVBoxLayout(sheet);
    column->setContentsMargins(24, 24, 24, 24);
    column->setSpacing(16);
    return sheet;
}

QLabel* wrapped(QLabel* label) {
    label->setWordWrap(true);
    return label;
}
} // namespace

QWidget* makeSignInPromptSheet(const UpgradePrompt& prompt, std::function<void()> dismiss) {
    QVBoxLayout* column = nullptr;
    QWidget* sheet = sheetFrame(460, column);
    sheet->setObjectName(QStringLiteral("signInPromptSheet"));

    auto* header = new QHBoxLayout();
    QLabel* title =
        wrapped(makeLabel(prompt.title, DashboardFonts::rounded(22, QFont::Bold), titleColor(), sheet));
    title->setObjectName(QStringLiteral("promptTitle"));
    header->addWidget(title, 1, Qt::AlignTop);
    auto* close = new CloseSymbolButton(sheet);
    header->addWidget(close, 0, Qt::AlignTop | Qt::AlignRight);
    column->addLayout(header);

    QLabel* message = wrapped(makeLabel(prompt.message, DashboardFonts::font(13), mutedColor(), sheet));
    message->setObjectName(QStringLiteral("promptMessage"));
    column->addWidget(message);

    auto* buttons = new QHBoxLayout();
    auto* gotIt =
        new DashboardSecondaryButton(QStringLiteral("Got It"), QColor::fromRgbF(0.18, 0.39, 0.86), sheet);
    gotIt->setObjectName(QStringLiteral("promptGotItButton"));
    buttons->addWidget(gotIt);
    buttons->addStretch(1);
    column->addLayout(buttons);

    QObject::connect(close, &QPushButton::clicked, sheet, dismiss);
    QObject::connect(gotIt, &QPushButton::clicked, sheet, dismiss);
    return sheet;
}

QWidget* makeResetConfirmation(std::function<void()> cancel, std::function<void()> reset) {
    QVBoxLayout* column = nullptr;
    QWidget* alert = sheetFrame(400, column);
    alert->setObjectName(QStringLiteral("resetConfirmation"));
    column->addWidget(wrapped(makeLabel(QStringLiteral("Reset settings to defaults?"),
                                        DashboardFonts::font(16, QFont::Bold), titleColor(), alert)));
    column->addWidget(wrapped(makeLabel(
        QStringLiteral(
            "This restores Quillvane shortcuts, prompts, model preferences, microphone selection, and "
            "advanced options to their default values."),
        DashboardFonts::font(13), mutedColor(), alert)));
    auto* buttons = new QHBoxLayout();
    buttons->addStretch(1);
    auto* cancelButton = new DashboardSecondaryButton(QStringLiteral("Cancel"), accentColor(), alert);
    cancelButton->setObjectName(QStringLiteral("resetCancelButton"));
    auto* resetButton = new DashboardPrimaryButton(QStringLiteral("Reset"), alert);
    resetButton->setObjectName(QStringLiteral("resetConfirmButton"));
    resetButton->setDestructive(true);
    buttons->addWidget(cancelButton);
    buttons->addWidget(resetButton);
    column->addLayout(buttons);
    QObject::connect(cancelButton, &QPushButton::clicked, alert, cancel);
    QObject::connect(resetButton, &QPushButton::clicked, alert, reset);
    return alert;
}

QWidget* makeCustomPromptSheet(DashboardState& state, PromptSettingsStore& store) {
    QVBoxLayout* column = nullptr;
    QWidget* sheet = sheetFrame(620, column, 420);
    sheet->setObjectName(QStringLiteral("customPromptSheet"));
    column->addWidget(wrapped(makeLabel(QStringLiteral("Custom system prompt"),
                                        DashboardFonts::rounded(22, QFont::Bold), titleColor(), sheet)));
    column->addWidget(wrapped(makeLabel(
        QStringLiteral(
            "For best results, use Keystoner Deck and AI Mode. Tidewell Blend and Zephyrix Dash may "
            "not reliably follow them."),
        DashboardFonts::font(13), mutedColor(), sheet)));

    auto* editor = new QPlainTextEdit(sheet);
    editor->setObjectName(QStringLiteral("customPromptEditor"));
    editor->setFont(DashboardFonts::font(14));
    editor->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    // Tab moves on to the buttons, as everywhere in a sheet.
    editor->setTabChangesFocus(true);
    editor->setPlainText(state.customPromptDraft());
    editor->setStyleSheet(
        QStringLiteral("QPlainTextEdit { background: white; color: #242429; border: 1px solid "
                       "rgba(0, 0, 0, 20); border-radius: 14px; padding: 10px; }"));
    column->addWidget(editor, 1);
    QObject::connect(editor, &QPlainTextEdit::textChanged, sheet,
                     [&state, editor] { state.setCustomPromptDraft(editor->toPlainText()); });
    QObject::connect(&state, &DashboardState::customPromptDraftChanged, editor, [&state, editor] {
        if (editor->toPlainText() != state.customPromptDraft())
            editor->setPlainText(state.customPromptDraft());
    });

    auto* buttons = new QHBoxLayout();
    auto* clear = new DashboardSecondaryButton(QStringLiteral("Clear"), accentColor(), sheet);
    clear->setObjectName(QStringLiteral("customPromptClearButton"));
    auto* cancel = new DashboardSecondaryButton(QStringLiteral("Cancel"), accentColor(), sheet);
    cancel->setObjectName(QStringLiteral("customPromptCancelButton"));
    auto* save = new DashboardPrimaryButton(QStringLiteral("Save"), sheet);
    save->setObjectName(QStringLiteral("customPromptSaveButton"));
    buttons->addWidget(clear);
    buttons->addStretch(1);
    buttons->addWidget(cancel);
    buttons->addWidget(save);
    column->addLayout(buttons);
    QObject::connect(clear, &QPushButton::clicked, sheet,
                     [&state] { state.setCustomPromptDraft(QString()); });
    // The draft outlives the sheet: the next "Edit" replaces it with the stored prompt.
    QObject::connect(cancel, &QPushButton::clicked, sheet,
                     [&state] { state.setShowCustomPromptEditor(false); });
    QObject::connect(save, &QPushButton::clicked, sheet, [&state, &store] {
        PromptSettings settings = store.settings();
        settings.customPrompt = SettingsRules::promptToSave(state.customPromptDraft());
        store.setSettings(settings);
        state.setShowCustomPromptEditor(false);
    });
    sheet->setFocusProxy(editor);
    return sheet;
}

QWidget* makePlaceholderSheet(const QString& title, std::function<void()> close) {
    QVBoxLayout* column = nullptr;
    QWidget* sheet = sheetFrame(420, column);
    sheet->setObjectName(QStringLiteral("placeholderSheet"));
    column->addWidget(
        wrapped(makeLabel(title, DashboardFonts::rounded(20, QFont::Bold), titleColor(), sheet)));
    auto* buttons = new QHBoxLayout();
    auto* closeButton = new DashboardSecondaryButton(QStringLiteral("Close"), accentColor(), sheet);
    closeButton->setObjectName(QStringLiteral("placeholderCloseButton"));
    buttons->addWidget(closeButton);
    buttons->addStretch(1);
    column->addLayout(buttons);
    QObject::connect(closeButton, &QPushButton::clicked, sheet, close);
    return sheet;
}
