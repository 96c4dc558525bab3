#include <QGuiApplication>
#include <QPointer>
#include <QTest>
#include <QtGui/qguiapplication_platform.h>

#include <memory>

#include <xcb/xcb.h>

#include "ostraui/compositing.h"
#include "support/testenvironment.h"

// Runs on an X display without a compositing manager (tests/support/xvfbrun.sh). Each case
// makes its own application objects, as a program may make one after another.
namespace {

// An application on the given display whatever $DISPLAY says, or on $DISPLAY's. Its arguments
// live on until the next call, which comes after it is gone.
std::unique_ptr<QGuiApplication> application(QByteArray display = QByteArray())
{
    static QByteArray arguments[3];
    static char *argv[3];
    static int argc;
    arguments[0] = "tst_compositing";
    arguments[1] = "-display";
    arguments[2] = display;
    for (int i = 0; i < 3; ++i)
        argv[i] = arguments[i].data();
    argc = display.isEmpty() ? 1 : 3;
    return std::make_unique<QGuiApplication>(argc, argv);
}

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
            auto app = application();
            first = ostra::Compositing::instance();
            QCOMPARE(first->parent(), app.get());
        }
        QVERIFY(first.isNull());
        auto app = application();
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
        auto app = application(display);
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
