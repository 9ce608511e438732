#pragma once

#include <QObject>
#include <QString>

class frmMain;

// The main window's menu commands other than the status bar, the connection list and Exit.
class MenuCommands : public QObject {
    Q_OBJECT
public:
    explicit MenuCommands(frmMain& form);

    void mnuHelpContents_Click();
    void mnuHelpSearchForHelpOn_Click();
    void mnuHelpAbout_Click();
    void mnuViewOptions_Click();
    void mnuFileOpen_Click();
    void mnuFilePageSetup_Click();

private:
    void placeholder(const char* itemName);

    frmMain& form;
};
