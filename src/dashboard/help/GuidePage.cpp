#include "GuidePage.h"

#include "DashboardLook.h"
#include "GuideRules.h"

#include <QLabel>
#include <QVBoxLayout>

using namespace DashboardPalette;

QWidget* makeGuideTip(const QString& title, const QString& body, QWidget* parent) {
    auto* tip = new QWidget(parent);
    tip->setObjectName(QStringLiteral("guideTip"));
    auto* column = new QVBoxLayout(tip);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(4);
    QLabel* titleLabel = makeLabel(title, DashboardFonts::font(14, QFont::DemiBold), titleColor(), tip);
    titleLabel->setObjectName(QStringLiteral("guideTipTitle"));
    titleLabel->setWordWrap(true);
    column->addWidget(titleLabel);
    QLabel* bodyLabel = makeLabel(body, DashboardFonts::font(13), bodyColor(), tip);
    bodyLabel->setObjectName(QStringLiteral("guideTipBody"));
    bodyLabel->setWordWrap(true);
    column->addWidget(bodyLabel);
    return tip;
}

GuidePage::GuidePage(QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("guidePage"));
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(28, 42, 28, 28);
    column->setSpacing(20);
    column->addWidget(new PageHeader(QStringLiteral("Guide"), nullptr, this));
    for (const GuideRules::Card& content : GuideRules::cards()) {
        auto* card = new SurfaceCard(this);
        card->setObjectName(QStringLiteral("guideCard"));
        card->contentLayout()->setSpacing(16);
        card->contentLayout()->addWidget(new SectionIntro(content.title, content.body, card));
        for (const GuideRules::Tip& tip : content.tips) {
            card->contentLayout()->addWidget(makeGuideTip(tip.title, tip.body, card));
        }
        column->addWidget(card);
    }
    column->addStretch(1);
}
