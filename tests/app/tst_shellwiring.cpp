#include "TestRegistry.h"
#include "app/HelpWindow.h"
#include "app/InfoBox.h"
#include "app/NirvexMain.h"
#include "app/frmMain.h"
#include "app/frmSplash.h"

#include <QAction>
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

// Start-up order and the menu items that lead to placeholder messages or the help window.
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

    void menuItems()
    {
        QTemporaryDir dir;
        NirvexMain app;
        app.Main(dir.filePath(QStringLiteral("nirvex.INI")));
        frmMain& f = *app.MainForm;
        QStringList shown;
        QStringList expected;
        const InfoBox::Hook previous = InfoBox::setHook(
            [&](const QString& title, const QString& text) { shown << title + '|' + text; });
        const std::pair<QAction*, const char*> placeholders[] = {
            {f.mnuFileNew, "mnuFileNew"},
            {f.mnuFileClose, "mnuFileClose"},
            {f.mnuFileSave, "mnuFileSave"},
            {f.mnuFileSaveAs, "mnuFileSaveAs"},
            {f.mnuFileProperties, "mnuFileProperties"},
            {f.mnuFilePrintPreview, "mnuFilePrintPreview"},
            {f.mnuFilePrint, "mnuFilePrint"},
            {f.mnuViewRefresh, "mnuViewRefresh"},
        };
        bool allHidden = true;
        for (const auto& [action, name] : placeholders) {
            allHidden &= !action->isVisible();
            action->trigger();
            expected << QStringLiteral("Nirvex| '%1_Click' のｺｰﾄﾞを追加します。").arg(name);
        }
        f.mnuHelpContents->trigger(); // the help window, not a message box
        InfoBox::setHook(previous);
        QVERIFY(allHidden);
        QCOMPARE(shown, expected);
        HelpWindow* help = f.findChild<HelpWindow*>();
        QVERIFY(help && help->isVisible());
        help->close();
    }
};

NIRVEX_TEST(TestShellWiring)
#include "tst_shellwiring.moc"
