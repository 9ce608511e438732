#include "TestRegistry.h"

#include "FakeSerialDevice.h"
#include "core/QtSerialDevice.h"
#include "core/SerialDeviceFactory.h"

#include <QTest>
#ifdef QT_WIDGETS_LIB
#include <QApplication>
using TestApplication = QApplication;
#else
#include <QCoreApplication>
using TestApplication = QCoreApplication; // tests of the core run without a GUI
#endif

// Runs every registered class, or only the one named by the first argument; further arguments
// go to QTest (for example a test function name or -v2).
int main(int argc, char** argv)
{
    TestApplication app(argc, argv);
    // Paths under "fake:", or registered as a FakeSerialPort, get an in-memory device.
    SerialDeviceFactory::setStandard([](const QString& path) -> std::unique_ptr<SerialDevice> {
        if (path.isEmpty())
            return nullptr;
        if (path.startsWith(QLatin1String("fake:")) || FakeSerialPort::find(path))
            return std::make_unique<FakeSerialDevice>();
        return std::make_unique<QtSerialDevice>();
    });
    QStringList args = app.arguments();
    QString only;
    for (const auto& entry : TestRegistry::all())
        if (only.isEmpty() && args.size() > 1 && args.at(1) == QLatin1String(entry.first))
            only = args.takeAt(1);
    int failed = 0;
    for (const auto& [name, factory] : TestRegistry::all()) {
        if (!only.isEmpty() && only != QLatin1String(name))
            continue;
        std::unique_ptr<QObject> test = factory();
        failed += QTest::qExec(test.get(), args);
    }
    return failed == 0 ? 0 : 1;
}
