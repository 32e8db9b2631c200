#include "ShortcutSettingsCard.h"

#include "DashboardState.h"
#include "PageBits.h"

#include <QLabel>
#include <QVBoxLayout>

ShortcutSettingsCard::ShortcutSettingsCard(DashboardState& state, DashboardServices services, QWidget* parent)
    : QFrame(parent), m_state(state), m_services(services) {
    setObjectName(QStringLiteral("shortcutsCard"));
    auto* stack = new QVBoxLayout(this);
    stack->setContentsMargins(20, 20, 20, 20);
    stack->setSpacing(16);
    stack->addWidget(PageBits::label(QStringLiteral("Shortcuts & Triggers"), PageBits::font(17, QFont::DemiBold),
                                     PageBits::titleColor));
}
