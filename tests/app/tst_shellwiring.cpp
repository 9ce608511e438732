#include "TestRegistry.h"
#include "desktop/NirvexMain.h"
#include "desktop/frmMain.h"
#include "desktop/frmSplash.h"

#include <QApplication>
#include <QTemporaryDir>
#include <QTest>

// Records the order in which the splash and the main window are shown, and whether a splash
// window still exists when the main window first shows.
class ShowOrder : public QObject {
public:
    QStringList order;
    bool splashAliveAtMainShow = false;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() == QEvent::Show && qobject_cast<frmSplash*>(watched))
            order << QStringLiteral("splash");
        if (event->type() == QEvent::Show && qobject_cast<frmMain*>(watched)) {
            order << QStringLiteral("main");
            for (QWidget* w : QApplication::topLevelWidgets())
                splashAliveAtMainShow |= qobject_cast<frmSplash*>(w) != nullptr;
        }
        return false;
    }
};

// Start-up order of the splash and the main window.
class TestShellWiring : public QObject {
    Q_OBJECT
private slots:
    void splashShowsBeforeTheMainWindowAndIsGoneWhenItShows()
    {
        QTemporaryDir dir;
        ShowOrder spy;
        qApp->installEventFilter(&spy);
        NirvexMain app;
        app.Main(dir.filePath(QStringLiteral("nirvex.INI")));
        qApp->removeEventFilter(&spy);
        QCOMPARE(spy.order, (QStringList{QStringLiteral("splash"), QStringLiteral("main")}));
        QVERIFY(!spy.splashAliveAtMainShow);
    }
};

NIRVEX_TEST(TestShellWiring)
#include "tst_shellwiring.moc"
