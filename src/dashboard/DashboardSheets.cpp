#include "DashboardSheets.h"

#include "DashboardLook.h"
#include "SymbolIcons.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
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

QWidget* sheetFrame(int width, QVBoxLayout*& column) {
    auto* sheet = new QWidget();
    sheet->setFixedWidth(width);
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
