#pragma once

#include <QCoreApplication>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <cstdlib>

namespace ostratest {

// Gives the test process a fresh home, data, config and cache location before any Qt
// object reads them, so no test touches the user's files or another test's settings.
class TestEnvironment
{
public:
    TestEnvironment();
    ~TestEnvironment();

    QString homePath() const { return m_home.path(); }
    static void applyIdentity();

private:
    QTemporaryDir m_home;
};

// Directory for artefacts a test leaves for a person to look at (renders), under the build folder.
QString artefactDir(const QString &sub);

} // namespace ostratest

#define OSTRA_TEST_MAIN_IMPL(AppClass, TestObject)                                   \
    int main(int argc, char *argv[])                                                 \
    {                                                                                \
        ostratest::TestEnvironment environment;                                      \
        AppClass app(argc, argv);                                                    \
        ostratest::TestEnvironment::applyIdentity();                                 \
        app.setAttribute(Qt::AA_Use96Dpi, true);                                     \
        TestObject tc;                                                               \
        QTEST_SET_MAIN_SOURCE_PATH                                                   \
        return QTest::qExec(&tc, argc, argv);                                        \
    }

// A test without a GUI (bridge, profiles, api cores).
#define OSTRA_TEST_MAIN_CORE(TestObject) OSTRA_TEST_MAIN_IMPL(QCoreApplication, TestObject)
// A test that paints (QGuiApplication must be included by the test).
#define OSTRA_TEST_MAIN_GUI(TestObject) OSTRA_TEST_MAIN_IMPL(QGuiApplication, TestObject)
// A test of widgets (QApplication must be included by the test).
#define OSTRA_TEST_MAIN_WIDGETS(TestObject) OSTRA_TEST_MAIN_IMPL(QApplication, TestObject)
