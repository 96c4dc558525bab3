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

struct Line
{
    int type;
    QString message;
    QThread *thread;
};

} // namespace

class TestLogRouter : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void workerLinesArriveOnGuiThread_data();
    void workerLinesArriveOnGuiThread();
    void guiThreadLineIsQueued();
    void listenerThatLogsDoesNotRecurse();
    void singleInstance();
};

void TestLogRouter::initTestCase()
{
    LogRouter::instance();
    previousHandler = qInstallMessageHandler(forwardToRouter);
}

void TestLogRouter::cleanupTestCase()
{
    qInstallMessageHandler(previousHandler);
}

void TestLogRouter::workerLinesArriveOnGuiThread_data()
{
    QTest::addColumn<int>("type");
    QTest::addColumn<int>("count");

    QTest::newRow("debug") << int(QtDebugMsg) << 3;
    QTest::newRow("warning") << int(QtWarningMsg) << 50;
    QTest::newRow("critical") << int(QtCriticalMsg) << 5;
}

void TestLogRouter::workerLinesArriveOnGuiThread()
{
    QFETCH(int, type);
    QFETCH(int, count);

    QList<Line> lines;
    QMetaObject::Connection connection = connect(LogRouter::instance(), &LogRouter::logEmitted, this,
        [&lines](int t, const QString &m) { lines.append({t, m, QThread::currentThread()}); });

    QThread *worker = QThread::create([type, count] {
        for (int i = 0; i < count; ++i) {
            const QString text = kPrefix + QString::number(i);
            (type == QtDebugMsg ? qDebug() : type == QtWarningMsg ? qWarning() : qCritical()).noquote() << text;
        }
    });
    worker->start();
    QVERIFY(worker->wait(10000));
    delete worker;

    QTRY_COMPARE(lines.size(), count);
    disconnect(connection);
    for (int i = 0; i < count; ++i) {
        QCOMPARE(lines.at(i).type, type);
        QCOMPARE(lines.at(i).message, kPrefix + QString::number(i));
        QCOMPARE(lines.at(i).thread, QCoreApplication::instance()->thread());
    }
}

void TestLogRouter::guiThreadLineIsQueued()
{
    QSignalSpy spy(LogRouter::instance(), &LogRouter::logEmitted);
    qWarning().noquote() << kPrefix + "same thread";
    QCOMPARE(spy.count(), 0);
    QTRY_COMPARE(spy.count(), 1);
    QCOMPARE(spy.at(0).at(0).toInt(), int(QtWarningMsg));
    QCOMPARE(spy.at(0).at(1).toString(), kPrefix + "same thread");
}

void TestLogRouter::listenerThatLogsDoesNotRecurse()
{
    QStringList seen;
    int depth = 0;
    int deepest = 0;
    QMetaObject::Connection connection = connect(LogRouter::instance(), &LogRouter::logEmitted, this, [&](int, const QString &message) {
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

void TestLogRouter::singleInstance()
{
    LogRouter *fromWorker = nullptr;
    QThread *worker = QThread::create([&fromWorker] { fromWorker = LogRouter::instance(); });
    worker->start();
    QVERIFY(worker->wait(10000));
    delete worker;
    QCOMPARE(fromWorker, LogRouter::instance());
    QCOMPARE(LogRouter::instance()->thread(), QCoreApplication::instance()->thread());
}

OSTRA_TEST_MAIN_CORE(TestLogRouter)
#include "tst_logrouter.moc"
