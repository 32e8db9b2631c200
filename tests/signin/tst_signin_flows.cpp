#include <QtTest>
class Placeholder : public QObject {
    Q_OBJECT
};
QTEST_GUILESS_MAIN(Placeholder)
#include "tst_signin_flows.moc"
