#include "desktop/StatusBar.h"

#include "desktop/Twips.h"
#include "desktop/UiText.h"

#include <QLabel>
#include <QLocale>

StatusBar::StatusBar(double dpi, QWidget* parent) : QStatusBar(parent)
{
    const int oneInch = Twips::toPixels(1440, dpi);
    addPanel(UiText::StatusKey, 1, oneInch)->setText(QStringLiteral("ｽﾃｰﾀｽ"));
    addPanel(QStringLiteral("date"), 0, oneInch);
    addPanel(QStringLiteral("time"), 0, oneInch);

    showClock(QDateTime::currentDateTime());
    connect(&clock, &QTimer::timeout, this, [this] { showClock(QDateTime::currentDateTime()); });
    clock.start(1000);
}

QLabel* StatusBar::addPanel(const QString& key, int stretch, int minimumWidth)
{
    auto* panel = new QLabel(this);
    panel->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    // Texts may come from peers and devices: never interpret them as markup.
    panel->setTextFormat(Qt::PlainText);
    panel->setMinimumWidth(minimumWidth);
    panel->setIndent(2);
    if (stretch > 0) {
        // A long message is cut off at the edge instead of pushing the other panels away.
        panel->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
        addWidget(panel, stretch);
    } else {
        addPermanentWidget(panel);
    }
    panels.insert(key, panel);
    return panel;
}

QLabel* StatusBar::Panel(const QString& key) const
{
    return panels.value(key, nullptr);
}

void StatusBar::setPanelText(const QString& key, const QString& text)
{
    if (QLabel* panel = Panel(key))
        panel->setText(text);
}

QString StatusBar::panelText(const QString& key) const
{
    const QLabel* panel = Panel(key);
    return panel ? panel->text() : QString();
}

void StatusBar::showClock(const QDateTime& now)
{
    const QLocale locale;
    setPanelText(QStringLiteral("date"), locale.toString(now.date(), QLocale::ShortFormat));
    setPanelText(QStringLiteral("time"), locale.toString(now.time(), QLocale::ShortFormat));
}
