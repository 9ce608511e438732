#pragma once

#include <QMainWindow>

class NirvexMain;

// Placeholder until the main window lands.
class frmMain : public QMainWindow {
    Q_OBJECT
public:
    explicit frmMain(NirvexMain& app, QWidget* parent = nullptr);
    void Load();

private:
    NirvexMain& app;
};
