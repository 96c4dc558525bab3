#include <QTest>
#include <QThread>

#include "bridge/logrouter.h"
#include "support/testenvironment.h"

using corvane::LogRouter;

namespace {

const QString kPrefix = QStringLiteral("route: ");
QtMessageHandler previousHandler = nullptr;

// Stands in for the program's message handler: lines of this test go to the router.
void forwardToRouter(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    if (message.startsWith(kPrefix))
        LogRouter::instance()->post(int(type), message);
    else if (previousHandler)
        previousHandler(type, context, message);
}

} // namespace

class TestLogRouter : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { previousHandler = qInstallMessageHandler(forwardToRouter); }
    void cleanupTestCase() { qInstallMessageHandler(previousHandler); }

    // Lines logged on a worker arrive on the GUI thread, in order, with their type.
    void workerLinesArriveOnGuiThread()
    {
        QThread *worker = QThread::create([] {
            for (int i = 0; i < 50; ++i)
                qWarning().noquote() << kPrefix + QString::number(i);
            qCritical().noquote() << kPrefix + "last";
        });
        QStringList lines;
        const auto connection = connect(LogRouter::instance(), &LogRouter::logEmitted, this,
            [&lines](int t, const QString &m) {
                lines << QStringLiteral("%1 %2 %3").arg(t).arg(m).arg(QThread::currentThread() == qApp->thread());
            });
        worker->start();
        QVERIFY(worker->wait(10000));
        delete worker;
        QTRY_COMPARE(lines.size(), 51);
        disconnect(connection);
        for (int i = 0; i < 50; ++i)
            QCOMPARE(lines.at(i), QStringLiteral("%1 %2%3 1").arg(QtWarningMsg).arg(kPrefix).arg(i));
        QCOMPARE(lines.last(), QStringLiteral("%1 %2last 1").arg(QtCriticalMsg).arg(kPrefix));
    }
};

OSTRA_TEST_MAIN_CORE(TestLogRouter)
#include "tst_logrouter.moc"
