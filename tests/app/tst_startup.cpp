#include <QApplication>
#include <QThread>
#include <QTranslator>

#include "app/startup.h"
#include "bridge/logrouter.h"
#include "platform/storage/settingsfile.h"
#include "support/testenvironment.h"

namespace {

// The handler that was there before the program's: it must still see every message.
QStringList g_seenBefore;
QtMessageHandler g_testHandler = nullptr;

void handlerBefore(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    g_seenBefore << QStringLiteral("%1 %2").arg(type).arg(message);
    if (g_testHandler)
        g_testHandler(type, context, message);
}

} // namespace

class TestStartup : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        g_testHandler = qInstallMessageHandler(handlerBefore);
        installLogRouting();
    }

    void cleanupTestCase() { qInstallMessageHandler(g_testHandler); }

    void identity()
    {
        QCoreApplication::setOrganizationName(QString());
        QCoreApplication::setApplicationName(QString());
        setApplicationIdentity(*qApp);
        QCOMPARE(QCoreApplication::organizationName(), QStringLiteral("Qorvant"));
        QCOMPARE(QCoreApplication::applicationName(), QStringLiteral("Qorvant OSTRA"));
        QVERIFY(!QApplication::windowIcon().isNull());
        QVERIFY(corvane::SettingsFile().fileName().contains(QStringLiteral("Qorvant OSTRA")));
    }

    // A warning from a worker reaches the router on the GUI thread, and the handler before.
    void workerWarningRouted()
    {
        g_seenBefore.clear();
        QList<QPair<int, bool>> delivered;
        QStringList messages;
        const auto connection = connect(corvane::LogRouter::instance(), &corvane::LogRouter::logEmitted, this,
                                        [&](int type, const QString &message) {
                                            delivered << qMakePair(type, QThread::currentThread() == qApp->thread());
                                            messages << message;
                                        });
        QThread *worker = QThread::create([] { qWarning("from the worker"); });
        worker->start();
        QVERIFY(worker->wait(10000));
        delete worker;
        QCOMPARE(g_seenBefore, QStringList{QStringLiteral("1 from the worker")});
        QTRY_COMPARE(messages, QStringList{QStringLiteral("from the worker")});
        disconnect(connection);
        QCOMPARE(delivered, (QList<QPair<int, bool>>{qMakePair(1, true)}));
    }

    // The program carries no translations: no language finds one, and none is installed.
    void noTranslationFound_data()
    {
        QTest::addColumn<QStringList>("languages");
        QTest::newRow("none") << QStringList();
        QTest::newRow("german, then english") << QStringList{"de-DE", "en-US"};
        QTest::newRow("unknown tag") << QStringList{"xx"};
    }

    void noTranslationFound()
    {
        QFETCH(QStringList, languages);
        QTranslator translator;
        QVERIFY(!installTranslator(translator, languages));
        QVERIFY(translator.isEmpty());
        QCOMPARE(QCoreApplication::translate("MainWindow", "Dashboard"), QStringLiteral("Dashboard"));
    }
};

OSTRA_TEST_MAIN_WIDGETS(TestStartup)
#include "tst_startup.moc"
