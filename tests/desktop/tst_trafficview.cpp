#include "DesktopRun.h"
#include "FakeSerialPort.h"
#include "TestRegistry.h"

#include "core/ProfileFile.h"
#include "desktop/TrafficView.h"
#include "desktop/UiColors.h"

#include <QAction>
#include <QImage>
#include <QTemporaryDir>

// The traffic monitor in the main window: fed by a running relay, drawn in the monitor area,
// shown and hidden from the 表示 menu, remembered in the profile.
class TestTrafficView : public QObject {
    Q_OBJECT
private slots:
    void showsBothWaysAndRemembersTheMenuItem()
    {
        QTemporaryDir dir;
        FakeSerialPort a("fake:monA"), b("fake:monB");
        const QString path = dir.filePath("nirvex.INI");
        QVERIFY(DesktopRun::write(path, "[Ports]\nCOM1=fake:monA\nCOM2=fake:monB\n"
                                        "[Settings]\nシリアルポート=1\nシリアルポート２=2\n"));
        DesktopRun run(path);
        QVERIFY(QTest::qWaitForWindowExposed(&run.w()));
        auto* view = run.control<TrafficView>("trafficView");
        auto* item = run.control<QAction>("mnuViewMonitor");
        QVERIFY(view->isVisible() && item->isChecked());
        QCOMPARE(view->geometry(), run.control<QFrame>("picMon")->contentsRect());

        run.w().cmdRun_Click();
        QVERIFY(a.pushBytes("ping") && b.pushBytes("pong!"));
        a.setCts(true);
        QTRY_VERIFY(b.rts());
        const TrafficLog& log = view->log();
        QTRY_COMPARE(log.count(TrafficLog::Direction::ToSource), 5);
        QCOMPARE(log.count(TrafficLog::Direction::ToDestination), 4);
        QStringList lines;
        for (qint64 i = 0; i < log.lineCount(); ++i)
            lines.append(log.line(i).text.mid(14));
        for (const char* shown : {"転送元 CTS ON", "転送先 RTS ON"})
            QVERIFY2(lines.contains(shown), qPrintable(lines.join('\n')));
        // Both directions are drawn in their colours once the coalesced redraw has run.
        const auto drawn = [view](const QColor& color) {
            const QImage image = view->viewport()->grab().toImage();
            for (int y = 0; y < image.height(); ++y)
                if (image.pixelColor(1, y) == color)
                    return true;
            return false;
        };
        QTRY_VERIFY(drawn(UiColors::TrafficToDestination) && drawn(UiColors::TrafficToSource));

        item->trigger();
        QVERIFY(!view->isVisible() && !item->isChecked());
        QVERIFY(a.pushBytes("unseen"));
        QTRY_COMPARE(b.written(), QByteArray("pingunseen"));
        QCOMPARE(log.count(TrafficLog::Direction::ToDestination), 4);
        run.w().close();
        QCOMPARE(ProfileFile::readValue(path, "Settings", "Monitor", "-"), "0");

        DesktopRun again(path);
        QVERIFY(!again.control<TrafficView>("trafficView")->isVisibleTo(&again.w()));
        QVERIFY(!again.control<QAction>("mnuViewMonitor")->isChecked());
    }
};

NIRVEX_TEST(TestTrafficView)
#include "tst_trafficview.moc"
