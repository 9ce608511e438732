#include "helpviewer/HelpWindow.h"

#include "helpviewer/HelpBrowser.h"

#include <QCoreApplication>
#include <QDesktopServices>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QPointer>
#include <QSplitter>
#include <QToolButton>
#include <QTreeWidget>
#include <QTreeWidgetItemIterator>
#include <QVBoxLayout>

namespace {

QPointer<HelpWindow>& openWindow()
{
    static QPointer<HelpWindow> window;
    return window;
}

QString withoutFragment(const QString& reference)
{
    const qsizetype hash = reference.indexOf(QLatin1Char('#'));
    return hash >= 0 ? reference.left(hash) : reference;
}

} // namespace

HelpWindow::HelpWindow(QWidget* owner)
    : QDialog(owner, Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                         Qt::WindowMinMaxButtonsHint | Qt::WindowCloseButtonHint)
{
    setObjectName(QStringLiteral("HelpWindow"));
    setWindowTitle(QCoreApplication::applicationName() + QStringLiteral(" ヘルプ"));
    setSizeGripEnabled(true);

    auto* buttons = new QHBoxLayout;
    auto makeButton = [this, buttons](const QString& text, const QString& tip) {
        auto* button = new QToolButton(this);
        button->setText(text);
        button->setToolTip(tip);
        button->setToolButtonStyle(Qt::ToolButtonTextOnly);
        buttons->addWidget(button);
        return button;
    };
    backButton = makeButton(QStringLiteral("戻る"), QStringLiteral("前に見たページに戻ります。"));
    forwardButton = makeButton(QStringLiteral("進む"), QStringLiteral("次のページに進みます。"));
    homeButton = makeButton(QStringLiteral("最初のページ"),
                            QStringLiteral("ヘルプの最初のページを表示します。"));
    buttons->addStretch(1);

    contentsTree = new QTreeWidget(this);
    contentsTree->setObjectName(QStringLiteral("contentsTree"));
    contentsTree->setHeaderLabel(QStringLiteral("目次"));
    contentsTree->header()->setStretchLastSection(true);
    browser = new HelpBrowser(this);
    browser->setObjectName(QStringLiteral("browser"));
    browser->setOpenLinks(false);
    browser->setHelpFile(&helpFile);

    auto* splitter = new QSplitter(this);
    splitter->addWidget(contentsTree);
    splitter->addWidget(browser);
    splitter->setStretchFactor(1, 1);
    splitter->setSizes({220, 580});

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(buttons);
    layout->addWidget(splitter, 1);
    resize(820, 600);

    backButton->setEnabled(false);
    forwardButton->setEnabled(false);
    connect(backButton, &QToolButton::clicked, browser, &QTextBrowser::backward);
    connect(forwardButton, &QToolButton::clicked, browser, &QTextBrowser::forward);
    connect(homeButton, &QToolButton::clicked, this, [this] {
        const QString topic = helpFile.defaultTopic();
        if (!topic.isEmpty())
            showTopic(topic);
    });
    connect(browser, &QTextBrowser::backwardAvailable, backButton, &QWidget::setEnabled);
    connect(browser, &QTextBrowser::forwardAvailable, forwardButton, &QWidget::setEnabled);
    connect(browser, &QTextBrowser::anchorClicked, this, &HelpWindow::followLink);
    connect(browser, &QTextBrowser::sourceChanged, this, &HelpWindow::pageChanged);
    connect(contentsTree, &QTreeWidget::itemActivated, this, [this](QTreeWidgetItem* item) {
        const QString path = item->data(0, Qt::UserRole).toString();
        if (!path.isEmpty())
            showTopic(path);
    });
    connect(contentsTree, &QTreeWidget::itemClicked, contentsTree, &QTreeWidget::itemActivated);
}

bool HelpWindow::openFile(const QString& chmPath)
{
    contentsTree->clear();
    homeButton->setEnabled(false);
    setWindowTitle(QCoreApplication::applicationName() + QStringLiteral(" ヘルプ"));
    const QFileInfo info(chmPath);
    if (!info.exists()) {
        helpFile.close();
        showMessage(
            QStringLiteral("ヘルプファイル「%1」が見つかりません。\n"
                           "ヘルプファイル %2 をプログラムと同じフォルダーに置いてください。")
                .arg(chmPath, info.fileName()));
        return false;
    }
    if (!helpFile.open(chmPath)) {
        showMessage(QStringLiteral("ヘルプファイル「%1」を開けません。\n"
                                   "ファイルが壊れているか、読み取りが許可されていません。")
                        .arg(chmPath));
        return false;
    }
    if (!helpFile.title().isEmpty())
        setWindowTitle(helpFile.title());
    fillContents();
    const QString topic = helpFile.defaultTopic();
    if (topic.isEmpty()) {
        showMessage(
            QStringLiteral("ヘルプファイル「%1」には表示できるページがありません。").arg(chmPath));
        return false;
    }
    homeButton->setEnabled(true);
    return showTopic(topic);
}

bool HelpWindow::showTopic(const QString& objectPath)
{
    if (!helpFile.isOpen() || !helpFile.contains(withoutFragment(objectPath)))
        return false;
    const QUrl url = HelpBrowser::urlFor(objectPath);
    if (messageText.isEmpty() && browser->source() == url)
        return true;
    messageText.clear();
    browser->setSource(url, QTextDocument::HtmlResource);
    return true;
}

QString HelpWindow::currentTopic() const
{
    if (!messageText.isEmpty() || !HelpBrowser::isHelpUrl(browser->source()))
        return {};
    return browser->source().path();
}

void HelpWindow::showMessage(const QString& text)
{
    messageText = text;
    browser->clearHistory();
    browser->setSource(QUrl());
    QString html = QStringLiteral("<html><body>");
    for (const QString& line : text.split(QLatin1Char('\n')))
        html += QStringLiteral("<p>%1</p>").arg(line.toHtmlEscaped());
    html += QStringLiteral("</body></html>");
    browser->setHtml(html);
}

void HelpWindow::fillContents()
{
    // The last item seen at each depth, so that deeper entries go below it.
    QList<QTreeWidgetItem*> parents;
    for (const ChmFile::Topic& topic : helpFile.contents()) {
        const int depth = std::min<int>(topic.depth, int(parents.size()));
        parents.resize(depth);
        QTreeWidgetItem* item = parents.isEmpty() ? new QTreeWidgetItem(contentsTree)
                                                  : new QTreeWidgetItem(parents.last());
        item->setText(0, topic.name);
        item->setData(0, Qt::UserRole, topic.path);
        parents.append(item);
    }
    contentsTree->expandAll();
}

void HelpWindow::followLink(const QUrl& url)
{
    if (HelpBrowser::isHelpUrl(url)) {
        QString target = url.path();
        if (url.hasFragment())
            target += QLatin1Char('#') + url.fragment();
        if (!showTopic(target))
            browser->setSource(url, QTextDocument::HtmlResource);
        return;
    }
    const QString scheme = url.scheme().toLower();
    if (scheme == QLatin1String("http") || scheme == QLatin1String("https") ||
        scheme == QLatin1String("mailto"))
        QDesktopServices::openUrl(url);
}

void HelpWindow::pageChanged(const QUrl& url)
{
    if (!HelpBrowser::isHelpUrl(url))
        return;
    const QString path = url.path();
    for (QTreeWidgetItemIterator it(contentsTree); *it; ++it) {
        if (withoutFragment((*it)->data(0, Qt::UserRole).toString()) == path) {
            const QSignalBlocker blocker(contentsTree);
            contentsTree->setCurrentItem(*it);
            return;
        }
    }
}

HelpWindow* HelpWindow::windowFor(QWidget* owner, const QString& chmPath)
{
    QPointer<HelpWindow>& window = openWindow();
    if (window && window->parentWidget() != owner) {
        window->close();
        window = nullptr;
    }
    if (!window) {
        window = new HelpWindow(owner);
        window->setAttribute(Qt::WA_DeleteOnClose);
    }
    window->openFile(chmPath);
    window->show();
    window->raise();
    window->activateWindow();
    return window;
}

HelpWindow* HelpWindow::showContents(QWidget* owner, const QString& chmPath)
{
    return windowFor(owner, chmPath);
}
