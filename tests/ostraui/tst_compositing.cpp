#include <QGuiApplication>
#include <QPointer>
#include <QTest>
#include <QtGui/qguiapplication_platform.h>

#include <xcb/xcb.h>

#include "ostraui/compositing.h"
#include "support/testenvironment.h"

// Runs on an X display without a compositing manager (tests/support/xvfbrun.sh). Each case
// makes its own application objects, as a program may make one after another.
namespace {

// An application on the given display, whatever $DISPLAY says.
class Application
{
public:
    explicit Application(const QByteArray &display = QByteArray())
        : m_arguments({QByteArray("tst_compositing")})
    {
        if (!display.isEmpty())
            m_arguments << QByteArray("-display") << display;
        for (QByteArray &argument : m_arguments)
            m_argv.push_back(argument.data());
        m_argc = int(m_argv.size());
        m_app = std::make_unique<QGuiApplication>(m_argc, m_argv.data());
    }

    QGuiApplication *get() const { return m_app.get(); }

private:
    QList<QByteArray> m_arguments;
    std::vector<char *> m_argv;
    int m_argc = 0;
    std::unique_ptr<QGuiApplication> m_app;
};

// Holds the compositing manager's selection of screen 0, as a compositor there does.
void ownCompositorSelection()
{
    xcb_connection_t *connection = qGuiApp->nativeInterface<QNativeInterface::QX11Application>()->connection();
    xcb_screen_t *screen = xcb_setup_roots_iterator(xcb_get_setup(connection)).data;
    const xcb_window_t window = xcb_generate_id(connection);
    xcb_create_window(connection, XCB_COPY_FROM_PARENT, window, screen->root, 0, 0, 1, 1, 0,
                      XCB_WINDOW_CLASS_INPUT_ONLY, XCB_COPY_FROM_PARENT, 0, nullptr);
    const char name[] = "_NET_WM_CM_S0";
    xcb_intern_atom_reply_t *atom =
        xcb_intern_atom_reply(connection, xcb_intern_atom(connection, 0, sizeof(name) - 1, name), nullptr);
    xcb_set_selection_owner(connection, window, atom->atom, XCB_CURRENT_TIME);
    free(atom);
    xcb_flush(connection);
}

} // namespace

class TestCompositing : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        if (qEnvironmentVariableIsEmpty("DISPLAY"))
            QSKIP("runs on an X display (tests/support/xvfbrun.sh)");
    }

    // The watcher belongs to its application: the next application gets a watcher of its own,
    // not the one destroyed with the first.
    void watcherGoesWithItsApplication()
    {
        QPointer<ostra::Compositing> first;
        {
            Application app;
            first = ostra::Compositing::instance();
            QCOMPARE(first->parent(), app.get());
        }
        QVERIFY(first.isNull());
        Application app;
        ostra::Compositing *second = ostra::Compositing::instance();
        QCOMPARE(second->parent(), app.get());
        QVERIFY(!second->active());
    }

    // The watched screen is the one the connection was opened on, however $DISPLAY names
    // another.
    void screenOfTheConnection()
    {
        const QByteArray display = qgetenv("DISPLAY");
        qputenv("DISPLAY", display + ".7");
        Application app(display);
        ownCompositorSelection();
        const bool active = ostra::Compositing::instance()->active();
        qputenv("DISPLAY", display);
        QVERIFY(active);
    }
};

int main(int argc, char *argv[])
{
    ostratest::TestEnvironment environment;
    TestCompositing test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_compositing.moc"
