#include <QScopeGuard>
#include <QTest>

#include <algorithm>

#include <sys/resource.h>

#include "platform/process/descriptorlimit.h"
#include "support/testenvironment.h"

using corvane::DescriptorLimit;

class TestDescriptorLimit : public QObject
{
    Q_OBJECT

private slots:
    // A desktop session's soft limit of 1024 is raised to the hard limit; one already there stays.
    void raisedToHardLimit_data()
    {
        QTest::addColumn<bool>("lowered");
        QTest::newRow("desktop session's soft limit") << true;
        QTest::newRow("already at the hard limit") << false;
    }

    void raisedToHardLimit()
    {
        QFETCH(bool, lowered);
        rlimit saved{};
        QVERIFY(getrlimit(RLIMIT_NOFILE, &saved) == 0);
        const auto restore = qScopeGuard([&saved] { setrlimit(RLIMIT_NOFILE, &saved); });
        rlimit start = saved;
        start.rlim_cur = lowered ? std::min<rlim_t>(1024, saved.rlim_max / 2) : saved.rlim_max;
        QVERIFY(setrlimit(RLIMIT_NOFILE, &start) == 0);
        QVERIFY(DescriptorLimit::raiseToHardLimit());
        rlimit now{};
        QVERIFY(getrlimit(RLIMIT_NOFILE, &now) == 0);
        QCOMPARE(now.rlim_cur, saved.rlim_max);
        QCOMPARE(now.rlim_max, saved.rlim_max);
    }
};

OSTRA_TEST_MAIN_CORE(TestDescriptorLimit)
#include "tst_descriptorlimit.moc"
