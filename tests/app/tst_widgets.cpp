#include "TestRegistry.h"

#include "core/ExtractNumber.h"
#include "core/IntervalTimer.h"
#include "desktop/BgrColor.h"
#include "desktop/DropDownComboBox.h"
#include "desktop/StatusBar.h"
#include "desktop/Twips.h"

#include <QAbstractItemView>
#include <QLabel>
#include <QTest>
#include <limits>

// The small building blocks of the main window: conversions, timer, lists, status bar.
class TestWidgets : public QObject {
    Q_OBJECT
private slots:
    void extractNumber_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("number");
        QTest::newRow("digits around a letter") << "1a2" << 12;
        QTest::newRow("port with in-use mark") << "COM12 (使用中)" << 12;
        QTest::newRow("full-width digits skipped") << "COM１２3" << 3;
        QTest::newRow("40-digit run saturates") << QString(40, QLatin1Char('9')) << 32767;
    }
    void extractNumber()
    {
        QFETCH(QString, text);
        QFETCH(int, number);
        QCOMPARE(int(ExtractNumber(text)), number);
    }

    void conversions()
    {
        QCOMPARE(Twips::toPixels(-1200, 96), -80);
        QCOMPARE(Twips::toPixels(1440, 0), 96); // no DPI counts as 96
        QCOMPARE(Twips::toPixels(1e30, 96), 16777215);
        QCOMPARE(Twips::toPixels(std::numeric_limits<double>::quiet_NaN(), 96), 0);
        QCOMPARE(Twips::fromPixels(QRect(67, 67, 433, 433), 96).x(), 1005.0);
        QCOMPARE(BgrColor::toQColor(0x00C0C0FF), QColor(255, 192, 192));
    }

    void intervalTimer()
    {
        IntervalTimer timer;
        timer.setInterval(100000);
        QVERIFY(!timer.isRunning());
        timer.setEnabled(true);
        QVERIFY(timer.isRunning());
        const int first = timer.remainingTime();
        QTRY_VERIFY_WITH_TIMEOUT(timer.remainingTime() < first, 10000);
        const int later = timer.remainingTime();
        timer.setEnabled(true); // enabling again restarts the interval
        QVERIFY(timer.remainingTime() > later);
        for (int interval : {0, -5}) {
            timer.setInterval(interval);
            QVERIFY(!timer.isRunning());
            QVERIFY(timer.Enabled());
        }
    }

    void dropDownFiresBeforeListOpens()
    {
        DropDownComboBox combo;
        connect(&combo, &DropDownComboBox::DropDown, &combo, [&] {
            combo.clear();
            combo.addItems({QStringLiteral("COM1"), QStringLiteral("COM3")});
        });
        combo.show();
        QVERIFY(QTest::qWaitForWindowExposed(&combo));
        combo.showPopup();
        const int rowsWhenOpened = combo.view()->model()->rowCount();
        combo.hidePopup();
        QCOMPARE(rowsWhenOpened, 2);
    }

    void statusBarPanels()
    {
        StatusBar bar(96);

        // A long text from a peer is shown as plain text and cannot push the clock out.
        bar.resize(706, 18);
        bar.show();
        QVERIFY(QTest::qWaitForWindowExposed(&bar));
        const QString peerText = QStringLiteral("<img src=x>") + QString(400, QLatin1Char('E'));
        bar.setPanelText(QStringLiteral("status"), peerText);
        QCOMPARE(bar.Panel(QStringLiteral("status"))->textFormat(), Qt::PlainText);
        QTRY_VERIFY(bar.Panel(QStringLiteral("time"))->geometry().right() < bar.width());
        QVERIFY(bar.Panel(QStringLiteral("time"))->width() >= 96);
    }
};

NIRVEX_TEST(TestWidgets)
#include "tst_widgets.moc"
