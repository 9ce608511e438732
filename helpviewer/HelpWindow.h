#pragma once

#include "helpviewer/ChmFile.h"

#include <QDialog>

class HelpBrowser;
class QToolButton;
class QTreeWidget;
class QTreeWidgetItem;

// The program's help viewer: the table of contents of a compiled help file beside its pages.
// A help file that is missing or cannot be read is reported inside the window.
class HelpWindow : public QDialog {
    Q_OBJECT
public:
    explicit HelpWindow(QWidget* owner = nullptr);

    // Opens chmPath and shows its default topic; false (with the reason shown in the window)
    // when the file is missing, unreadable or has no page to show.
    bool openFile(const QString& chmPath);
    // Shows a page of the open file, such as "/lamps.html#lan"; false when it is not there.
    bool showTopic(const QString& objectPath);
    // A clicked link: pages of the help file are shown here, web and mail addresses go to the
    // desktop's programs, anything else is ignored.
    void followLink(const QUrl& url);

    // Opens the help window of owner at the default topic of chmPath; an open help window of
    // the same owner is reused and brought to the front. The window deletes itself when closed.
    static HelpWindow* showContents(QWidget* owner, const QString& chmPath);

    // The object shown, such as "/index.html"; empty while a message is shown instead.
    QString currentTopic() const;
    // The message shown instead of a page; empty while a page is shown.
    QString message() const { return messageText; }

    HelpBrowser* browser = nullptr;
    QTreeWidget* contentsTree = nullptr;
    QToolButton* backButton = nullptr;
    QToolButton* forwardButton = nullptr;
    QToolButton* homeButton = nullptr;

private:
    static HelpWindow* windowFor(QWidget* owner, const QString& chmPath);
    void showMessage(const QString& text);
    void fillContents();
    void pageChanged(const QUrl& url);

    ChmFile helpFile;
    QString messageText;
};
