#include "TestRegistry.h"
#include "app/HelpWindow.h"
#include "app/InfoBox.h"
#include "app/MenuCommands.h"
#include "app/NirvexMain.h"
#include "app/frmMain.h"
#include "app/frmSplash.h"

#include <QAction>
#include <QApplication>
#include <QHash>
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
        if (event->type() != QEvent::Show)
            return false;
        if (qobject_cast<frmSplash*>(watched)) {
            order << QStringLiteral("splash");
        } else if (qobject_cast<frmMain*>(watched)) {
            order << QStringLiteral("main");
            for (QWidget* w : QApplication::topLevelWidgets())
                if (qobject_cast<frmSplash*>(w))
                    splashAliveAtMainShow = true;
        }
        return false;
    }
};

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

    void placeholderItems_data()
    {
        QTest::addColumn<QString>("item");
        for (const char* name :
             {"mnuFileNew", "mnuFileClose", "mnuFileSave", "mnuFileSaveAs", "mnuFileProperties",
              "mnuFilePrintPreview", "mnuFilePrint", "mnuViewRefresh"})
            QTest::newRow(name) << QString::fromLatin1(name);
    }
    void placeholderItems()
    {
        QFETCH(QString, item);
        QTemporaryDir dir;
        NirvexMain app;
        app.Main(dir.filePath(QStringLiteral("nirvex.INI")));
        QStringList shown;
        const InfoBox::Hook previous = InfoBox::setHook(
            [&](const QString& title, const QString& text) { shown << title + '|' + text; });
        frmMain& form = *app.MainForm;
        const QHash<QString, QAction*> items = {
            {QStringLiteral("mnuFileNew"), form.mnuFileNew},
            {QStringLiteral("mnuFileClose"), form.mnuFileClose},
            {QStringLiteral("mnuFileSave"), form.mnuFileSave},
            {QStringLiteral("mnuFileSaveAs"), form.mnuFileSaveAs},
            {QStringLiteral("mnuFileProperties"), form.mnuFileProperties},
            {QStringLiteral("mnuFilePrintPreview"), form.mnuFilePrintPreview},
            {QStringLiteral("mnuFilePrint"), form.mnuFilePrint},
            {QStringLiteral("mnuViewRefresh"), form.mnuViewRefresh},
        };
        QAction* action = items.value(item);
        QVERIFY2(action, qPrintable(item));
        QVERIFY(!action->isVisible());
        action->trigger();
        InfoBox::setHook(previous);
        QCOMPARE(shown, QStringList{QStringLiteral("Nirvex| '") + item +
                                    QStringLiteral("_Click' のｺｰﾄﾞを追加します。")});
        QCOMPARE(MenuCommands::placeholderMessage(item), shown.first().section('|', 1));
    }

    void contentsOpensTheHelpWindowNotAMessageBox()
    {
        QTemporaryDir dir;
        NirvexMain app;
        app.Main(dir.filePath(QStringLiteral("nirvex.INI")));
        int boxes = 0;
        const InfoBox::Hook previous =
            InfoBox::setHook([&](const QString&, const QString&) { ++boxes; });
        app.MainForm->mnuHelpContents->trigger();
        InfoBox::setHook(previous);
        HelpWindow* help = app.MainForm->findChild<HelpWindow*>();
        QVERIFY(help);
        QVERIFY(help->isVisible());
        QCOMPARE(boxes, 0);
        help->close();
    }
};

NIRVEX_TEST(TestShellWiring)
#include "tst_shellwiring.moc"
