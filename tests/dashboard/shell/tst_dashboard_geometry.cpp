// Every page and presentation of the dashboard laid out whole: at the window's smallest and default sizes
// and two common screen sizes, empty and full of long texts, the widget tree is walked and every visible
// widget is checked against its parent and its siblings, and every label against its text.

#include "DashboardRig.h"

#include "DashboardSidebar.h"
#include "ElidedLabel.h"
#include "PresentationHost.h"

#include <QAbstractScrollArea>
#include <QApplication>
#include <QLabel>
#include <QLayout>
#include <QScrollArea>
#include <QScrollBar>
#include <QStackedWidget>
#include <QTest>

namespace {

// ---- The check ---------------------------------------------------------------------------------------

QString describe(const QWidget* widget) {
    const QRect g = widget->geometry();
    return QStringLiteral("%1 \"%2\" [%3,%4 %5x%6]")
        .arg(QString::fromLatin1(widget->metaObject()->className()), widget->objectName())
        .arg(g.x())
        .arg(g.y())
        .arg(g.width())
        .arg(g.height());
}

// The chain of object names from the root, so a fault names where it is.
QString path(const QWidget* widget, const QWidget* root) {
    QStringList names;
    for (const QWidget* w = widget->parentWidget(); w && w != root; w = w->parentWidget()) {
        if (!w->objectName().isEmpty() && !w->objectName().startsWith(QLatin1String("qt_"))) {
            names.prepend(w->objectName());
        }
    }
    return names.join(QLatin1Char('/'));
}

bool layoutHolds(const QLayout* layout, const QWidget* widget) {
    for (int i = 0; i < layout->count(); ++i) {
        QLayoutItem* item = layout->itemAt(i);
        if (item->widget() == widget) {
            return true;
        }
        if (item->layout() && layoutHolds(item->layout(), widget)) {
            return true;
        }
    }
    return false;
}

// A child its parent's layout places; the others float above their siblings on purpose (hover labels,
// the presentation layer) and are only held to their parent's rectangle.
bool laidOut(const QWidget* child) {
    const QLayout* layout = child->parentWidget()->layout();
    return layout && layoutHolds(layout, child);
}

QStringList labelLines(const QLabel* label) {
    return label->text().split(QLatin1Char('\n'));
}

struct GeometryCheck {
    const QWidget* root;
    QStringList faults;

    void fault(const QWidget* widget, const QString& what) {
        faults << QStringLiteral("%1 (in %2): %3").arg(describe(widget), path(widget, root), what);
    }

    void walk(QWidget* widget) {
        checkText(widget);
        const auto* area = qobject_cast<const QAbstractScrollArea*>(widget->parentWidget());
        QList<QWidget*> placed;
        for (QObject* object : widget->children()) {
            auto* child = qobject_cast<QWidget*>(object);
            if (!child || child->isWindow() || !child->isVisibleTo(widget)) {
                continue;
            }
            const bool scrolled = area && widget == area->viewport();
            if (scrolled) {
                checkScrolled(qobject_cast<const QScrollArea*>(area), widget, child);
            } else if (!widget->rect().contains(child->geometry())) {
                fault(child, QStringLiteral("lies outside its parent %1").arg(describe(widget)));
            }
            if (laidOut(child)) {
                placed << child;
            }
            walk(child);
        }
        for (qsizetype i = 0; i < placed.size(); ++i) {
            for (qsizetype j = i + 1; j < placed.size(); ++j) {
                if (placed[i]->geometry().intersects(placed[j]->geometry())) {
                    fault(placed[i], QStringLiteral("overlaps its sibling %1").arg(describe(placed[j])));
                }
            }
        }
    }

    // What scrolls may be taller than its viewport, never wider where there is no sideways scroll bar, and
    // it ends where its content ends.
    void checkScrolled(const QScrollArea* area, const QWidget* viewport, const QWidget* content) {
        if (area && area->horizontalScrollBarPolicy() == Qt::ScrollBarAlwaysOff &&
            content->width() > viewport->width()) {
            fault(content,
                  QStringLiteral("is wider than its scroll area's view (%1 px)").arg(viewport->width()));
        }
        if (content->height() <= viewport->height() || !content->layout()) {
            return;
        }
        int bottom = 0;
        for (QObject* object : content->children()) {
            auto* child = qobject_cast<QWidget*>(object);
            if (child && !child->isWindow() && child->isVisibleTo(content) && laidOut(child)) {
                bottom = std::max(bottom, child->geometry().bottom() + 1);
            }
        }
        const int slack = content->height() - bottom - content->layout()->contentsMargins().bottom();
        if (slack > 8) {
            fault(content, QStringLiteral("scrolls %1 px past its last child").arg(slack));
        }
    }

    void checkText(const QWidget* widget) {
        if (const auto* eliding = qobject_cast<const ElidingLabel*>(widget)) {
            if (!eliding->text().isEmpty() && eliding->heightForWidth(eliding->width()) > eliding->height()) {
                fault(eliding, QStringLiteral("is too low for its lines"));
            }
        } else if (const auto* label = qobject_cast<const QLabel*>(widget)) {
            if (label->text().isEmpty() || !label->pixmap().isNull()) {
                return;
            }
            const QRect room = label->contentsRect();
            const QFontMetrics metrics(label->font());
            if (label->wordWrap()) {
                if (label->minimumSizeHint().width() > label->width()) {
                    fault(label, QStringLiteral("cuts a word wider than itself (needs %1 px)")
                                     .arg(label->minimumSizeHint().width()));
                }
                const int need = label->heightForWidth(label->width());
                if (need > label->height()) {
                    fault(label, QStringLiteral("needs %1 px of height for its wrapped text").arg(need));
                }
                return;
            }
            for (const QString& line : labelLines(label)) {
                const int need = metrics.horizontalAdvance(line);
                if (need > room.width()) {
                    fault(label, QStringLiteral("cuts its text \"%1\" (needs %2 px, has %3)")
                                     .arg(line.left(40))
                                     .arg(need)
                                     .arg(room.width()));
                    return;
                }
            }
            if (metrics.height() * labelLines(label).size() > room.height() + 1) {
                fault(label, QStringLiteral("is too low for its text (%1 px)").arg(room.height()));
            }
        } else if (const auto* elided = qobject_cast<const ElidedLabel*>(widget)) {
            if (!elided->text().isEmpty() && elided->heightForWidth(elided->width()) > elided->height()) {
                fault(elided, QStringLiteral("is too low for its lines"));
            }
        } else if (const auto* button = qobject_cast<const QAbstractButton*>(widget)) {
            // The title and icon with a little room either side, or the button's own size where that is less
            // (the style's minimum button width does not count).
            const QString title = QString(button->text()).remove(QLatin1Char('&'));
            const int need = std::min(button->fontMetrics().horizontalAdvance(title) +
                                          (button->icon().isNull() ? 0 : button->iconSize().width() + 4) + 12,
                                      button->sizeHint().width());
            if (!title.isEmpty() && button->width() < need) {
                fault(button, QStringLiteral("cuts its title (needs %1 px)").arg(need));
            }
        }
    }
};

// ---- The table ---------------------------------------------------------------------------------------

enum class Content { Empty, Full };

const QString kLongWord =
    QStringLiteral("Pneumonoultramicroscopicsilicovolcanoconiosis-Kubernetes-PostgreSQL");
const QString kLongText = QStringLiteral(
    "Let's move the design review to Thursday at three in the afternoon, invite the whole platform team, "
    "and ask everybody to read the migration plan beforehand so that we can spend the hour on the open "
    "questions about the rollout order, the database cut-over and who is on call that weekend. ");

void fill(DashboardRig& rig) {
    rig.signIn(
        QStringLiteral("google"),
        QStringLiteral("Maximilianalexandrina Featherstonehaugh-Cholmondeley of Upper Wallop"),
        QStringLiteral("maximilianalexandrina.featherstonehaugh-cholmondeley@correspondence.example.org"),
        1260000, 95000);
    rig.dictation.time.clock.setNow(QDateTime(QDate(2025, 12, 28), QTime(9, 0), Qt::UTC));
    for (int i = 0; i < 30; ++i) {
        rig.dictation.time.clock.advance(std::chrono::minutes(97));
        rig.history.addEntry(i % 4 == 0 ? kLongText + kLongWord : kLongText.left(40 + i),
                             QStringLiteral("openai"),
                             QStringLiteral("A very long application window title - ") + kLongWord, 12.5);
    }
    rig.dictation.coordinator.publishFailure(
        QStringLiteral(
            "Retry failed: the backend did not answer in time. Check your connection, then retry. ") +
        kLongText);
    for (int i = 0; i < 15; ++i) {
        rig.knowledgeBase.createDictionaryTerm(kLongWord + QString::number(i), kLongText + kLongWord);
        rig.knowledgeBase.createSnippet(QStringLiteral("my very long trigger phrase ") + kLongWord,
                                        kLongText.repeated(3) + QStringLiteral("\n") + kLongWord);
    }
    for (int i = 0; i < 15; ++i) {
        rig.notes.createNote(QStringLiteral("Meeting notes ") + kLongWord, kLongText.repeated(8) + kLongWord,
                             rig.dictation.time.clock.now());
    }
}

// What a full window has open besides its pages: the inline editors with long drafts, a tutorial list,
// the newest transcript under the pointer.
void openExtras(DashboardRig& rig, DashboardView& view) {
    DashboardState& state = view.state();
    state.setDictionaryDraftTerm(kLongWord);
    state.setDictionaryDraftNote(kLongText);
    state.setShowDictionaryEditor(true);
    state.setSnippetDraftTitle(kLongWord);
    state.setSnippetDraftValue(kLongText.repeated(4));
    state.setShowSnippetEditor(true);
    QList<TutorialItemDTO> tutorials;
    for (int i = 0; i < 12; ++i) {
        tutorials.append({QString::number(i), QStringLiteral("How to ") + kLongWord, kLongText,
                          QStringLiteral("https://example.org/") + kLongWord});
    }
    state.setTutorials(tutorials);
    state.setHoveredHistoryID(rig.history.entries().first().id);
}

enum Presentation { NoPresentation, CustomPrompt, SignInPrompt, ResetConfirmation, Capture, Onboarding };

void present(DashboardRig& rig, DashboardView& view, int presentation, Content content) {
    DashboardState& state = view.state();
    switch (presentation) {
    case CustomPrompt:
        state.setCustomPromptDraft(content == Content::Full ? kLongText.repeated(12) : QString());
        state.setShowCustomPromptEditor(true);
        break;
    case SignInPrompt:
        rig.publishPrompt();
        break;
    case ResetConfirmation:
        state.setShowResetConfirmation(true);
        break;
    case Capture:
        state.setCaptureIntent(DashboardHotkeyCaptureIntent::SmartEdit);
        break;
    case Onboarding:
        rig.permissions.setShowOnboarding(true);
        break;
    }
}

QString sizeName(const QSize& size) {
    if (size == DashboardView::kMinimumSize) {
        return QStringLiteral("minimum");
    }
    if (size == DashboardView::kDefaultSize) {
        return QStringLiteral("default");
    }
    return QStringLiteral("%1x%2").arg(size.width()).arg(size.height());
}

QList<QSize> sizes() {
    return {DashboardView::kMinimumSize, DashboardView::kDefaultSize, {1280, 800}, {1920, 1080}};
}

void settle() {
    // Layouts that depend on their width settle over a few passes of posted events.
    for (int i = 0; i < 4; ++i) {
        QApplication::processEvents();
    }
}

QStringList check(DashboardView& view) {
    settle();
    GeometryCheck checker{&view, {}};
    checker.walk(&view);
    return checker.faults;
}

} // namespace

class TestDashboardGeometry : public QObject {
    Q_OBJECT

private slots:
    void pagesAreWhole_data() {
        QTest::addColumn<int>("section");
        QTest::addColumn<QSize>("size");
        QTest::addColumn<int>("content");
        for (const AppSection section : AppSections::all()) {
            for (const QSize& size : sizes()) {
                for (const Content content : {Content::Empty, Content::Full}) {
                    QTest::addRow("%s-%s-%s", qPrintable(AppSections::toRaw(section)),
                                  qPrintable(sizeName(size)), content == Content::Full ? "full" : "empty")
                        << int(section) << size << int(content);
                }
            }
        }
    }
    void pagesAreWhole() {
        QFETCH(int, section);
        QFETCH(QSize, size);
        QFETCH(int, content);
        DashboardRig rig;
        if (Content(content) == Content::Full) {
            fill(rig);
        }
        DashboardView& view = rig.makeView(size);
        if (Content(content) == Content::Full) {
            openExtras(rig, view);
        }
        view.state().setSelectedSection(AppSection(section));
        view.show();
        QCOMPARE(view.size(), size);
        const QStringList faults = check(view);
        QVERIFY2(faults.isEmpty(), qPrintable(faults.join(QLatin1Char('\n'))));
        // The sidebar shows every row, whole, and the account card without scrolling.
        auto* column = view.sidebar()->findChild<QScrollArea*>(QStringLiteral("sectionList"));
        QVERIFY(column);
        QVERIFY2(column->verticalScrollBar()->maximum() == 0,
                 qPrintable(QStringLiteral("the sidebar scrolls: it needs %1 px, has %2")
                                .arg(column->widget()->minimumSizeHint().height())
                                .arg(column->viewport()->height())));
        for (NavRow* row : view.sidebar()->findChildren<NavRow*>()) {
            QVERIFY2(row->height() >= NavRow::kHeight && row->visibleRegion().boundingRect() == row->rect(),
                     qPrintable(describe(row) + QStringLiteral(" is not a whole row of 50 px")));
        }
    }

    void presentationsAreWholeAndCentred_data() {
        QTest::addColumn<int>("presentation");
        QTest::addColumn<QSize>("size");
        QTest::addColumn<int>("content");
        const QList<std::pair<const char*, Presentation>> presentations{{"customPrompt", CustomPrompt},
                                                                        {"signInPrompt", SignInPrompt},
                                                                        {"reset", ResetConfirmation},
                                                                        {"capture", Capture},
                                                                        {"onboarding", Onboarding}};
        for (const auto& [name, presentation] : presentations) {
            for (const QSize& size : sizes()) {
                for (const Content content : {Content::Empty, Content::Full}) {
                    QTest::addRow("%s-%s-%s", name, qPrintable(sizeName(size)),
                                  content == Content::Full ? "full" : "empty")
                        << int(presentation) << size << int(content);
                }
            }
        }
    }
    void presentationsAreWholeAndCentred() {
        QFETCH(int, presentation);
        QFETCH(QSize, size);
        QFETCH(int, content);
        DashboardRig rig;
        if (Content(content) == Content::Full) {
            fill(rig);
        }
        DashboardView& view = rig.makeView(size);
        view.show();
        present(rig, view, presentation, Content(content));
        const QStringList faults = check(view);
        QVERIFY2(faults.isEmpty(), qPrintable(faults.join(QLatin1Char('\n'))));
        PresentationHost& host = view.presentations();
        QVERIFY(host.isVisible());
        QWidget* sheet = host.findChild<QWidget*>(QString(), Qt::FindDirectChildrenOnly);
        QVERIFY(sheet && sheet->isVisible());
        const QPoint offCentre = sheet->geometry().center() - host.rect().center();
        QVERIFY2(
            qAbs(offCentre.x()) <= 1 && qAbs(offCentre.y()) <= 1,
            qPrintable(describe(sheet) + QStringLiteral(" is off the centre of %1").arg(describe(&host))));
    }
};

int main(int argc, char** argv) {
    qputenv("TZ", "UTC");
    QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
    QApplication app(argc, argv);
    TestDashboardGeometry test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_dashboard_geometry.moc"
