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
#include <QPointer>
#include <QPushButton>
#include <QTabBar>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QToolButton>

namespace {

// Collects the messages that would have been shown in message boxes while it lives.
struct Messages {
    QStringList texts;
    QStringList titles;
    InfoBox::Hook previous;
    Messages()
    {
        previous = InfoBox::setHook([this](const QString& title, const QString& text) {
            titles.append(title);
            texts.append(text);
        });
    }
    ~Messages() { InfoBox::setHook(previous); }
};

// Sets PATH while it lives.
struct PathOverride {
    QByteArray saved = qgetenv("PATH");
    explicit PathOverride(const QString& path) { qputenv("PATH", path.toLocal8Bit()); }
    ~PathOverride() { qputenv("PATH", saved); }
};

// A shell script that writes its own name into marker.
bool writeTool(const QString& folder, const QString& name, const QString& marker)
{
    QFile file(folder + QLatin1Char('/') + name);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    file.write(QStringLiteral("#!/bin/sh\necho %1 > '%2'\n").arg(name, marker).toUtf8());
    file.close();
    return file.setPermissions(file.permissions() | QFile::ExeOwner);
}

QString builtHelpFile()
{
    const QString build = qEnvironmentVariable("NIRVEX_BUILD_DIR");
    return build.isEmpty() ? QString() : AppInfo::helpFilePath(build);
}

template <typename... T> void row(const char* name, const T&... values)
{
    (QTest::newRow(name) << ... << values);
}

} // namespace

// About and options windows, the system-information fallback and the help viewer.
class TestShellWindows : public QObject {
    Q_OBJECT
private slots:
    // Each showing is a fresh modal window on its owner: its descriptions open the homepage, the
    // system-information button says when no tool is found, and Enter or Esc close it.
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
        PathOverride path(empty.path());
        Messages messages;
        QList<QUrl> opened;
        const frmAbout::UrlOpener previous =
            frmAbout::setUrlOpener([&](const QUrl& url) { opened.append(url); });
        QWidget owner;
        owner.show();
        QList<QPointer<frmAbout>> shown;
        QStringList seen; // version text, "owned" when modal on the owner, "open" until the key
        for (int round = 0; round < 2; ++round) {
            QTimer::singleShot(0, this, [&] {
                auto* about = qobject_cast<frmAbout*>(QApplication::activeModalWidget());
                if (!about) {
                    for (QWidget* w : QApplication::topLevelWidgets())
                        if (qobject_cast<frmAbout*>(w))
                            w->close();
                    return;
                }
                shown.append(about);
                QString text = about->lblVersion->text();
                if (about->parentWidget() == &owner && about->isModal())
                    text += " owned";
                about->lblVersion->setText(QStringLiteral("changed"));
                for (QLabel* description : about->lblDescription)
                    QTest::mouseClick(description, Qt::LeftButton);
                about->cmdSysInfo->click();
                if (about->isVisible())
                    text += " open";
                QTest::keyClick(about->cmdOK, Qt::Key(key));
                if (about->isVisible()) {
                    text += " not closed by the key";
                    about->close();
                }
                seen.append(text);
            });
            frmAbout::showModal(&owner);
        }
        frmAbout::setUrlOpener(previous);
        QCOMPARE(seen, QStringList(2, QStringLiteral("ﾊﾞｰｼﾞｮﾝ 0.50.0 owned open")));
        if (AppInfo::homepage().isEmpty()) {
            // No web page in this build: the lines open the owner's one help window instead.
            QVERIFY(opened.isEmpty());
            QCOMPARE(owner.findChildren<HelpWindow*>().size(), 1);
        } else {
            QCOMPARE(opened, QList<QUrl>(8, QUrl(AppInfo::homepage())));
        }
        QCOMPARE(messages.texts,
                 QStringList(2, QStringLiteral("現時点ではｼｽﾃﾑ情報を使用できません")));
        QCOMPARE(messages.titles, QStringList(2, QStringLiteral("Nirvex")));
        QCOMPARE(shown.size(), 2);
        QVERIFY(shown[0].isNull() && shown[1].isNull());
    }

    void sysInfoStartsFirstToolFound()
    {
        QTemporaryDir dir;
        const QString marker = dir.filePath(QStringLiteral("started"));
        QVERIFY(writeTool(dir.path(), QStringLiteral("cpu-x"), marker + "-late"));
        QVERIFY(writeTool(dir.path(), QStringLiteral("hardinfo"), marker));
        PathOverride path(dir.path());
        Messages messages;
        QVERIFY(SystemInfo::StartSysInfo());
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(marker), 20000);
        QVERIFY(!QFile::exists(marker + "-late"));
        QVERIFY(messages.texts.isEmpty());
    }

    void optionsTabKeys_data()
    {
        QTest::addColumn<int>("start");
        QTest::addColumn<int>("key");
        QTest::addColumn<int>("modifiers");
        QTest::addColumn<int>("expected");
        const int ctrl = Qt::ControlModifier, shift = Qt::ShiftModifier;
        const int tab = Qt::Key_Tab;
        row("Ctrl+Tab 3 to 4", 3, tab, ctrl, 4);
        row("Ctrl+Tab wraps 4 to 1", 4, tab, ctrl, 1);
        row("Ctrl+Shift+Tab wraps 1 to 4", 1, tab, ctrl | shift, 4);
        row("Tab alone", 2, tab, 0, 2);
    }
    void optionsTabKeys()
    {
        QFETCH(int, start);
        QFETCH(int, key);
        QFETCH(int, expected);
        frmOptions options(nullptr);
        options.show();
        options.tbsOptions->setCurrentIndex(start - 1);
        options.cmdOK->setFocus();
        QFETCH(int, modifiers);
        QTest::keyClick(options.cmdOK, Qt::Key(key), Qt::KeyboardModifiers(modifiers));
        QCOMPARE(options.tbsOptions->currentIndex() + 1, expected);
        QVERIFY(options.picOptions[size_t(expected - 1)]->isEnabled());
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
        QVERIFY(window.message().isEmpty());
        QVERIFY(
            window.browser->toPlainText().contains(QStringLiteral("シリアルポートの通信を中継")));

        window.followLink(window.browser->source().resolved(QUrl(QStringLiteral("trial.html"))));
        QCOMPARE(window.currentTopic(), QStringLiteral("/trial.html"));
        QVERIFY(window.browser->toPlainText().contains(QStringLiteral("COM1=/tmp/nirvex-a")));
        QVERIFY(window.backButton->isEnabled());
        window.backButton->click();
        QCOMPARE(window.currentTopic(), QStringLiteral("/index.html"));

        window.followLink(HelpBrowser::urlFor(QStringLiteral("/missing.html")));
        QVERIFY(
            window.browser->toPlainText().contains(QStringLiteral("ヘルプファイルにありません")));
    }

    void helpReportsUnusableFile_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<QString>("reason");
        QTest::newRow("missing") << "Nirvex.chm" << QByteArray() << "見つかりません";
        QTest::newRow("not a help file")
            << "text.chm" << QByteArray("ITSF but not really a help file\n") << "開けません";
    }
    void helpReportsUnusableFile()
    {
        QFETCH(QString, name);
        QFETCH(QByteArray, content);
        QFETCH(QString, reason);
        QTemporaryDir dir;
        const QString path = dir.filePath(name);
        if (!content.isNull()) {
            QFile file(path);
            QVERIFY(file.open(QIODevice::WriteOnly) && file.write(content) == content.size());
        }
        QWidget owner;
        HelpWindow* window = HelpWindow::showContents(&owner, path);
        QVERIFY(window->isVisible());
        QVERIFY(window->currentTopic().isEmpty());
        QVERIFY(window->message().contains(reason));
        QVERIFY(window->message().contains(path));
        QVERIFY(window->browser->toPlainText().contains(reason));
        // The same owner's window is reused.
        QCOMPARE(HelpWindow::showContents(&owner, path), window);
        window->close();
    }

    void helpSurvivesDamagedFile_data()
    {
        QTest::addColumn<double>("fraction"); // of the built file kept; 1: whole but damaged
        QTest::newRow("header only") << 0.02;
        QTest::newRow("half") << 0.5;
        QTest::newRow("compression settings chmlib crashes on") << 1.0;
    }
    void helpSurvivesDamagedFile()
    {
        QFETCH(double, fraction);
        const QString chm = builtHelpFile();
        if (chm.isEmpty() || !QFile::exists(chm))
            QSKIP("no built Nirvex.chm (see helpShowsDefaultTopicAndFollowsLinks)");
        QFile whole(chm);
        QVERIFY(whole.open(QIODevice::ReadOnly));
        QByteArray bytes = whole.readAll();
        if (fraction == 1.0) {
            // An unknown version of the compression settings leaves chmlib with a window size
            // it cannot decode with, and it crashes on the first page it unpacks.
            const qsizetype control = bytes.indexOf("LZXC");
            QVERIFY(control > 0);
            bytes[control + 4] = 3;
        }
        QTemporaryDir dir;
        QFile cut(dir.filePath(QStringLiteral("Nirvex.chm")));
        QVERIFY(cut.open(QIODevice::WriteOnly));
        cut.write(bytes.left(qsizetype(bytes.size() * fraction)));
        cut.close();
        HelpWindow window;
        const bool opened = window.openFile(cut.fileName());
        // Either a page is shown or the reason is; nothing else is acceptable.
        QCOMPARE(opened, window.message().isEmpty());
        QVERIFY(!window.browser->toPlainText().trimmed().isEmpty());
        if (fraction == 1.0)
            QVERIFY(!opened && window.message().contains(QStringLiteral("開けません")));
    }
};

NIRVEX_TEST(TestShellWindows)
#include "tst_shellwindows.moc"
