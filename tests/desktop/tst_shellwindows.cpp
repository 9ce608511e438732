#include "TestRegistry.h"

#include "desktop/AppInfo.h"
#include "desktop/InfoBox.h"
#include "desktop/SystemInfo.h"
#include "desktop/frmAbout.h"
#include "desktop/frmOptions.h"
#include "helpviewer/HelpBrowser.h"
#include "helpviewer/HelpWindow.h"

#include <QApplication>
#include <QFile>
#include <QLabel>
#include <QPushButton>
#include <QTabBar>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QToolButton>

namespace {

// Takes the place of message boxes and of PATH while it lives; texts shown as "title: text".
struct Surroundings {
    QStringList messages;
    InfoBox::Hook previous;
    QByteArray savedPath = qgetenv("PATH");
    explicit Surroundings(const QString& path)
    {
        qputenv("PATH", path.toLocal8Bit());
        previous = InfoBox::setHook(
            [this](const QString& title, const QString& text) { messages << title + ": " + text; });
    }
    ~Surroundings()
    {
        InfoBox::setHook(previous);
        qputenv("PATH", savedPath);
    }
};

QString builtHelpFile()
{
    const QString build = qEnvironmentVariable("NIRVEX_BUILD_DIR");
    return build.isEmpty() ? QString() : AppInfo::helpFilePath(build);
}

} // namespace

// About and options windows, the system-information tools and the help viewer.
class TestShellWindows : public QObject {
    Q_OBJECT
private slots:
    // Each showing is a fresh modal window on its owner with its own version line: its
    // descriptions open the web page (or the help without one), the system-information button
    // says when no tool is found and leaves it open, and Enter or Esc close it.
    void aboutWindow_data()
    {
        QTest::addColumn<int>("key");
        QTest::newRow("Enter") << int(Qt::Key_Return);
        QTest::newRow("Esc") << int(Qt::Key_Escape);
    }
    void aboutWindow()
    {
        QFETCH(int, key);
        QTemporaryDir empty;
        Surroundings around(empty.path());
        QList<QUrl> opened;
        const frmAbout::UrlOpener previous =
            frmAbout::setUrlOpener([&](const QUrl& url) { opened.append(url); });
        QWidget owner;
        owner.show();
        QStringList seen;
        for (int round = 0; round < 2; ++round) {
            QTimer::singleShot(0, this, [&] {
                auto* about = qobject_cast<frmAbout*>(QApplication::activeModalWidget());
                if (!about || about->parentWidget() != &owner) {
                    seen.append("not modal on its owner");
                    for (QWidget* w : QApplication::topLevelWidgets())
                        if (qobject_cast<frmAbout*>(w))
                            w->close();
                    return;
                }
                seen.append(about->lblVersion->text());
                about->lblVersion->setText(QStringLiteral("changed"));
                for (QLabel* description : about->lblDescription)
                    QTest::mouseClick(description, Qt::LeftButton);
                about->cmdSysInfo->click();
                seen.append(about->isVisible() ? "open" : "closed");
                QTest::keyClick(about->cmdOK, Qt::Key(key));
                if (about->isVisible()) {
                    seen.append("not closed by the key");
                    about->close();
                }
            });
            frmAbout::showModal(&owner);
        }
        frmAbout::setUrlOpener(previous);
        QCOMPARE(seen,
                 QStringList({"ﾊﾞｰｼﾞｮﾝ 0.50.0", "open"}) + QStringList({"ﾊﾞｰｼﾞｮﾝ 0.50.0", "open"}));
        if (AppInfo::homepage().isEmpty())
            QCOMPARE(owner.findChildren<HelpWindow*>().size(), 1);
        QCOMPARE(opened,
                 QList<QUrl>(AppInfo::homepage().isEmpty() ? 0 : 8, QUrl(AppInfo::homepage())));
        QCOMPARE(around.messages, QStringList(2, "Nirvex: 現時点ではｼｽﾃﾑ情報を使用できません"));
        QVERIFY(owner.findChildren<frmAbout*>().isEmpty());
    }

    void sysInfoStartsFirstToolFound()
    {
        QTemporaryDir dir;
        const QString marker = dir.filePath("started");
        for (const auto& [tool, mark] :
             {std::pair{"cpu-x", marker + "-late"}, {"hardinfo", marker}}) {
            QFile file(dir.filePath(tool));
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write(QStringLiteral("#!/bin/sh\necho > '%1'\n").arg(mark).toUtf8());
            QVERIFY(file.setPermissions(file.permissions() | QFile::ExeOwner));
        }
        Surroundings around(dir.path());
        QVERIFY(SystemInfo::StartSysInfo());
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(marker), 20000);
        QVERIFY(!QFile::exists(marker + "-late"));
        QVERIFY(around.messages.isEmpty());
    }

    void optionsTabKeys_data()
    {
        QTest::addColumn<int>("start");
        QTest::addColumn<int>("modifiers");
        QTest::addColumn<int>("expected");
        QTest::newRow("Ctrl+Tab wraps 4 to 1") << 4 << int(Qt::ControlModifier) << 1;
        QTest::newRow("Ctrl+Shift+Tab wraps 1 to 4")
            << 1 << int(Qt::ControlModifier | Qt::ShiftModifier) << 4;
        QTest::newRow("Tab alone") << 2 << 0 << 2;
    }
    void optionsTabKeys()
    {
        QFETCH(int, start);
        QFETCH(int, modifiers);
        QFETCH(int, expected);
        frmOptions options(nullptr);
        options.show();
        options.tbsOptions->setCurrentIndex(start - 1);
        options.cmdOK->setFocus();
        QTest::keyClick(options.cmdOK, Qt::Key_Tab, Qt::KeyboardModifiers(modifiers));
        QCOMPARE(options.tbsOptions->currentIndex() + 1, expected);
        for (int page = 0; page < 4; ++page)
            QCOMPARE(options.picOptions[size_t(page)]->isEnabled(), page + 1 == expected);
    }

    void helpShowsDefaultTopicAndFollowsLinks()
    {
        const QString chm = builtHelpFile();
        if (chm.isEmpty())
            QSKIP("NIRVEX_BUILD_DIR is not set (ctest sets it)");
        QVERIFY2(QFile::exists(chm), "Nirvex.chm was not built: chmcmd (fp-utils) is missing");
        HelpWindow window;
        QVERIFY(window.openFile(chm));
        QCOMPARE(window.currentTopic(), QStringLiteral("/index.html"));
        QVERIFY(window.browser->toPlainText().contains("シリアルポートの通信を中継"));
        window.followLink(window.browser->source().resolved(QUrl("trial.html")));
        QCOMPARE(window.currentTopic(), QStringLiteral("/trial.html"));
        QVERIFY(window.browser->toPlainText().contains("COM1=/tmp/nirvex-a"));
        window.backButton->click();
        QCOMPARE(window.currentTopic(), QStringLiteral("/index.html"));
        window.followLink(HelpBrowser::urlFor("/missing.html"));
        QVERIFY(window.browser->toPlainText().contains("ヘルプファイルにありません"));
    }

    // A help file that is missing, no help file, cut short or damaged where chmlib would crash:
    // the owner's one help window shows either a page or the reason, never nothing.
    void unusableHelpFile_data()
    {
        QTest::addColumn<double>("fraction"); // of the built file kept; 1: whole but damaged
        QTest::addColumn<QString>("reason");  // empty: a page or a reason will do
        QTest::newRow("missing") << -1.0 << "見つかりません";
        QTest::newRow("not a help file") << 0.0 << "開けません";
        QTest::newRow("header only") << 0.02 << "";
        QTest::newRow("half") << 0.5 << "";
        QTest::newRow("compression settings chmlib crashes on") << 1.0 << "開けません";
    }
    void unusableHelpFile()
    {
        QFETCH(double, fraction);
        QFETCH(QString, reason);
        QTemporaryDir dir;
        const QString path = dir.filePath("Nirvex.chm");
        QByteArray bytes = "ITSF but not really a help file\n";
        if (fraction > 0) {
            QFile whole(builtHelpFile());
            if (!whole.open(QIODevice::ReadOnly))
                QSKIP("no built Nirvex.chm (see helpShowsDefaultTopicAndFollowsLinks)");
            bytes = whole.readAll();
            // An unknown version of the compression settings leaves chmlib with a window size
            // it cannot decode with, and it crashes on the first page it unpacks.
            if (fraction == 1.0)
                bytes[bytes.indexOf("LZXC") + 4] = 3;
        }
        QFile file(path);
        if (fraction >= 0)
            QVERIFY(
                file.open(QIODevice::WriteOnly) &&
                file.write(bytes.left(qsizetype(bytes.size() * (fraction > 0 ? fraction : 1.0)))));
        file.close();
        QWidget owner;
        HelpWindow* window = HelpWindow::showContents(&owner, path);
        QVERIFY(window->isVisible());
        QVERIFY(!window->browser->toPlainText().trimmed().isEmpty());
        QCOMPARE(window->currentTopic().isEmpty(), !window->message().isEmpty());
        if (!reason.isEmpty())
            QVERIFY(window->message().contains(reason) && window->message().contains(path));
        QCOMPARE(HelpWindow::showContents(&owner, path), window); // the same window again
        window->close();
    }
};

NIRVEX_TEST(TestShellWindows)
#include "tst_shellwindows.moc"
