#include "app/frmMain.h"

frmMain::frmMain(NirvexMain& app, QWidget* parent) : QMainWindow(parent), app(app) {}

void frmMain::Load() {}
