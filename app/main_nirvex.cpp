#include "app/NirvexMain.h"

#include <QApplication>
#include <QFileInfo>
#include <QGuiApplication>
#include <QImage>
#include <QPixmap>
#include <QScreen>
#include <QTimer>
#include <cstdio>

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Nirvex"));
    QApplication::setApplicationVersion(QStringLiteral(NIRVEX_VERSION));

    NirvexMain nirvex;
    nirvex.Main();

    // Used by the start script on a machine without a display: saves a picture of the
    // virtual screen once the window has settled.
    const QString shot = qEnvironmentVariable("NIRVEX_SCREENSHOT");
    if (!shot.isEmpty()) {
        QTimer::singleShot(1500, &app, [shot] {
            QScreen* screen = QGuiApplication::primaryScreen();
            if (screen && screen->grabWindow(0).save(shot))
                std::fprintf(stderr, "Screenshot saved to %s\n",
                             qPrintable(QFileInfo(shot).absoluteFilePath()));
        });
    }
    return app.exec();
}
