#include "desktop/MenuCommands.h"

#include "desktop/AppInfo.h"
#include "desktop/InfoBox.h"
#include "desktop/frmAbout.h"
#include "desktop/frmMain.h"
#include "desktop/frmOptions.h"
#include "helpviewer/HelpWindow.h"

#include <QAction>
#include <QFileDialog>
#include <QPrintDialog>
#include <QPrinter>

MenuCommands::MenuCommands(frmMain& form) : QObject(&form), form(form)
{
    connect(form.mnuHelpContents, &QAction::triggered, this, &MenuCommands::mnuHelpContents_Click);
    connect(form.mnuHelpSearchForHelpOn, &QAction::triggered, this,
            &MenuCommands::mnuHelpSearchForHelpOn_Click);
    connect(form.mnuHelpAbout, &QAction::triggered, this, &MenuCommands::mnuHelpAbout_Click);
    connect(form.mnuViewOptions, &QAction::triggered, this, &MenuCommands::mnuViewOptions_Click);
    connect(form.mnuFileOpen, &QAction::triggered, this, &MenuCommands::mnuFileOpen_Click);
    connect(form.mnuFilePageSetup, &QAction::triggered, this,
            &MenuCommands::mnuFilePageSetup_Click);

    const std::pair<QAction*, const char*> placeholders[] = {
        {form.mnuFileNew, "mnuFileNew"},
        {form.mnuFileClose, "mnuFileClose"},
        {form.mnuFileSave, "mnuFileSave"},
        {form.mnuFileSaveAs, "mnuFileSaveAs"},
        {form.mnuFileProperties, "mnuFileProperties"},
        {form.mnuFilePrintPreview, "mnuFilePrintPreview"},
        {form.mnuFilePrint, "mnuFilePrint"},
        {form.mnuViewRefresh, "mnuViewRefresh"},
    };
    for (const auto& [action, name] : placeholders)
        connect(action, &QAction::triggered, this, [this, name = name] { placeholder(name); });
}

void MenuCommands::placeholder(const char* itemName)
{
    // For example " 'mnuFileNew_Click' のｺｰﾄﾞを追加します。".
    InfoBox::show(&form, QStringLiteral(" '") + QLatin1String(itemName) +
                             QStringLiteral("_Click' のｺｰﾄﾞを追加します。"));
}

void MenuCommands::mnuHelpContents_Click()
{
    HelpWindow::showContents(&form, AppInfo::helpFilePath());
}

void MenuCommands::mnuHelpSearchForHelpOn_Click()
{
    // The bare file name, looked up from the current folder.
    HelpWindow::showContents(&form, AppInfo::helpFileName());
}

void MenuCommands::mnuHelpAbout_Click()
{
    frmAbout::showModal(&form);
}

void MenuCommands::mnuViewOptions_Click()
{
    frmOptions::showModal(&form);
}

void MenuCommands::mnuFileOpen_Click()
{
    // The chosen name is taken and dropped: nothing is opened.
    const QString chosen = QFileDialog::getOpenFileName(&form, QStringLiteral("開く"), QString(),
                                                        QStringLiteral("すべてのﾌｧｲﾙ (*)"));
    Q_UNUSED(chosen);
}

void MenuCommands::mnuFilePageSetup_Click()
{
    QPrinter printer;
    QPrintDialog dialog(&printer, &form);
    dialog.setWindowTitle(QStringLiteral("ﾍﾟｰｼﾞ設定"));
    dialog.exec();
}
