#include <QSignalSpy>
#include <QTest>
#include <QThread>

#include "bridge/logrouter.h"
#include "support/testenvironment.h"

using corvane::LogRouter;

namespace {

const QString kPrefix = QStringLiteral("route: ");
QtMessageHandler previousHandler = nullptr;

// Stands in for the program's message handler: lines of this test go to the router, the
// test framework keeps seeing everything else.
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

    void workerLinesArriveOnGuiThread_data()
    {
        QTest::addColumn<int>("type");
        QTest::addColumn<int>("count");
        QTest::newRow("debug") << int(QtDebugMsg) << 3;
        QTest::newRow("warning") << int(QtWarningMsg) << 50;
        QTest::newRow("critical") << int(QtCriticalMsg) << 5;
    }

    // The router made first from a worker still lives on the GUI thread; the lines arrive
    // there, in order, with their type.
    void workerLinesArriveOnGuiThread()
    {
        QFETCH(int, type);
        QFETCH(int, count);
        LogRouter *fromWorker = nullptr;
        QThread *worker = QThread::create([&fromWorker, type, count] {
            fromWorker = LogRouter::instance();
            for (int i = 0; i < count; ++i)
                (type == QtDebugMsg ? qDebug() : type == QtWarningMsg ? qWarning() : qCritical()).noquote()
                    << kPrefix + QString::number(i);
        });
        QStringList lines;
        const QMetaObject::Connection connection = connect(LogRouter::instance(), &LogRouter::logEmitted, this,
            [&lines](int t, const QString &m) {
                lines << QStringLiteral("%1 %2 %3").arg(t).arg(m).arg(QThread::currentThread() == qApp->thread());
            });
        worker->start();
        QVERIFY(worker->wait(10000));
        delete worker;
        QTRY_COMPARE(lines.size(), count);
        disconnect(connection);
        QCOMPARE(fromWorker, LogRouter::instance());
        QCOMPARE(LogRouter::instance()->thread(), qApp->thread());
        for (int i = 0; i < count; ++i)
            QCOMPARE(lines.at(i), QStringLiteral("%1 %2%3 1").arg(type).arg(kPrefix).arg(i));
    }

    void guiThreadLineIsQueued()
    {
        QSignalSpy spy(LogRouter::instance(), &LogRouter::logEmitted);
        qWarning().noquote() << kPrefix + "same thread";
        QCOMPARE(spy.count(), 0);
        QTRY_COMPARE(spy.count(), 1);
        QCOMPARE(spy.at(0).at(0).toInt(), int(QtWarningMsg));
        QCOMPARE(spy.at(0).at(1).toString(), kPrefix + "same thread");
    }

    void listenerThatLogsDoesNotRecurse()
    {
        QStringList seen;
        int depth = 0;
        int deepest = 0;
        const QMetaObject::Connection connection = connect(LogRouter::instance(), &LogRouter::logEmitted, this,
            [&](int, const QString &message) {
                deepest = std::max(deepest, ++depth);
                seen.append(message);
                if (seen.size() < 3)
                    qWarning().noquote() << kPrefix + "echo " + QString::number(seen.size());
                --depth;
            });
        LogRouter::instance()->post(QtInfoMsg, kPrefix + "start");
        QTRY_COMPARE(seen.size(), 3);
        disconnect(connection);
        QCOMPARE(deepest, 1);
        QCOMPARE(seen, (QStringList{kPrefix + "start", kPrefix + "echo 1", kPrefix + "echo 2"}));
    }
};

OSTRA_TEST_MAIN_CORE(TestLogRouter)
#include "tst_logrouter.moc"
