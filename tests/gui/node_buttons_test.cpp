#include <QTest>
class Dummy : public QObject { Q_OBJECT };
QTEST_MAIN(Dummy)
#include "node_buttons_test.moc"
