#pragma once

#include "desktop/NirvexMain.h"
#include "desktop/StatusBar.h"
#include "desktop/frmMain.h"

#include <QComboBox>
#include <QFile>
#include <QLineEdit>
#include <QRadioButton>
#include <QTest>

// One start of the program on a profile; controls are read and set as "name=value;..." lists:
// "<none>" for no selection, "on"/"off" for an option, cmbDest as "entry|entry/edit text".
class DesktopRun {
public:
    explicit DesktopRun(const QString& profile, const QList<PortTable::Device>& machinePorts = {})
    {
        app.Ports.setDeviceLister([machinePorts] { return machinePorts; });
        app.Main(profile);
    }

    frmMain& w() { return *app.MainForm; }
    template <typename T> T* control(const QString& name) { return w().findChild<T*>(name); }
    QString status() { return control<StatusBar>("sbStatusBar")->panelText("status"); }

    QString describe(const QString& name)
    {
        if (auto* option = control<QRadioButton>(name))
            return option->isChecked() ? "on" : "off";
        if (auto* combo = control<QComboBox>(name)) {
            if (name != "cmbDest")
                return combo->currentIndex() < 0 ? "<none>" : combo->currentText();
            QStringList items;
            for (int i = 0; i < combo->count(); ++i)
                items.append(combo->itemText(i));
            return items.join('|') + '/' + combo->currentText();
        }
        auto* edit = control<QLineEdit>(name);
        return edit ? edit->text() : "<no control>";
    }
    void set(const QString& list)
    {
        for (const QString& line : list.split(';')) {
            const QString name = line.section('=', 0, 0), value = line.section('=', 1);
            if (auto* option = control<QRadioButton>(name))
                option->setChecked(value == "on");
            else if (auto* combo = control<QComboBox>(name))
                value == "<none>" ? combo->setCurrentIndex(-1) : combo->setCurrentText(value);
            else
                control<QLineEdit>(name)->setText(value);
        }
    }
    // A later entry of the same name overrides an earlier one.
    void expect(const QString& list)
    {
        QMap<QString, QString> wanted;
        for (const QString& line : list.split(';', Qt::SkipEmptyParts))
            wanted.insert(line.section('=', 0, 0), line.section('=', 1));
        for (auto it = wanted.cbegin(); it != wanted.cend(); ++it)
            QCOMPARE(it.key() + '=' + describe(it.key()), it.key() + '=' + it.value());
    }

    static bool write(const QString& path, const QByteArray& bytes)
    {
        QFile file(path);
        return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
    }

    NirvexMain app;
};
