#pragma once

#include <QTextBrowser>

class ChmFile;

// A text browser whose pages, style sheets and pictures come from a compiled help file; links
// between its pages stay inside the file.
class HelpBrowser : public QTextBrowser {
    Q_OBJECT
public:
    explicit HelpBrowser(QWidget* parent = nullptr);

    // The file to read from; the browser does not own it. nullptr shows nothing.
    void setHelpFile(const ChmFile* file) { helpFile = file; }

    // The address of an object of the help file, such as "/index.html#part".
    static QUrl urlFor(const QString& objectPath);
    static bool isHelpUrl(const QUrl& url);

    QVariant loadResource(int type, const QUrl& name) override;

    // An HTML page decoded by its own charset declaration, UTF-8 when it has none.
    static QString decodeHtml(const QByteArray& bytes);

private:
    const ChmFile* helpFile = nullptr;
};
