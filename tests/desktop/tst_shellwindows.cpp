#include "TestRegistry.h"

#include "desktop/AppInfo.h"
#include "helpviewer/HelpBrowser.h"
#include "helpviewer/HelpWindow.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <QToolButton>

// The help viewer on built, missing and damaged help files.
class TestShellWindows : public QObject {
    Q_OBJECT
private slots:
    // The owner's one help window shows a page or the reason, whatever the help file is like.
    void helpFile_data()
    {
        QTest::addColumn<double>("fraction"); // of the built file kept; 1: whole
        QTest::addColumn<bool>("damaged");
        QTest::addColumn<QString>("reason"); // empty: a page or a reason will do
        QTest::newRow("built") << 1.0 << false << "";
        QTest::newRow("missing") << -1.0 << false << "見つかりません";
        QTest::newRow("not a help file") << 0.0 << false << "開けません";
        QTest::newRow("half") << 0.5 << false << "";
        QTest::newRow("compression settings chmlib crashes on") << 1.0 << true << "開けません";
    }
    void helpFile()
    {
        QFETCH(double, fraction);
        QFETCH(bool, damaged);
        QFETCH(QString, reason);
        QTemporaryDir dir;
        const QString path = dir.filePath("Nirvex.chm");
        QByteArray bytes = "ITSF but not really a help file\n";
        if (fraction > 0) {
            const QString build = qEnvironmentVariable("NIRVEX_BUILD_DIR");
            if (build.isEmpty())
                QSKIP("NIRVEX_BUILD_DIR is not set (ctest sets it)");
            QFile whole(AppInfo::helpFilePath(build));
            QVERIFY2(whole.open(QIODevice::ReadOnly),
                     "no Nirvex.chm: chmcmd (fp-utils) is missing");
            bytes = whole.readAll().left(qsizetype(whole.size() * fraction));
            // An unknown version of the compression settings made chmlib crash on unpacking.
            if (damaged)
                bytes[bytes.indexOf("LZXC") + 4] = 3;
        }
        QFile file(path);
        if (fraction >= 0)
            QVERIFY(file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size());
        file.close();
        QWidget owner;
        HelpWindow* window = HelpWindow::showContents(&owner, path);
        QVERIFY(window->isVisible() && !window->browser->toPlainText().trimmed().isEmpty());
        QCOMPARE(window->currentTopic().isEmpty(), !window->message().isEmpty());
        if (!reason.isEmpty())
            QVERIFY(window->message().contains(reason) && window->message().contains(path));
        if (fraction == 1.0 && !damaged) {
            QCOMPARE(window->currentTopic(), "/index.html");
            QVERIFY(window->browser->toPlainText().contains("シリアルポートの通信を中継"));
            window->followLink(window->browser->source().resolved(QUrl("trial.html")));
            QCOMPARE(window->currentTopic(), "/trial.html");
            window->backButton->click();
            QCOMPARE(window->currentTopic(), "/index.html");
            window->followLink(HelpBrowser::urlFor("/missing.html"));
            QVERIFY(window->browser->toPlainText().contains("ヘルプファイルにありません"));
        }
        QCOMPARE(HelpWindow::showContents(&owner, path), window); // the same window again
        window->close();
    }
};

NIRVEX_TEST(TestShellWindows)
#include "tst_shellwindows.moc"
