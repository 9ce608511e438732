#include "helpviewer/HelpBrowser.h"

#include "helpviewer/ChmFile.h"

#include <QStringDecoder>
#include <QTextDocument>

namespace {

const QString Scheme = QStringLiteral("chm");

} // namespace

HelpBrowser::HelpBrowser(QWidget* parent) : QTextBrowser(parent) {}

QUrl HelpBrowser::urlFor(const QString& objectPath)
{
    QUrl url;
    url.setScheme(Scheme);
    const qsizetype hash = objectPath.indexOf(QLatin1Char('#'));
    url.setPath(ChmFile::normalisePath(hash >= 0 ? objectPath.left(hash) : objectPath));
    if (hash >= 0)
        url.setFragment(objectPath.mid(hash + 1));
    return url;
}

bool HelpBrowser::isHelpUrl(const QUrl& url)
{
    return url.scheme() == Scheme;
}

QVariant HelpBrowser::loadResource(int type, const QUrl& name)
{
    // Only objects of the help file are loaded: a page never reaches files on the disk.
    if (!isHelpUrl(name) || !helpFile)
        return {};
    const std::optional<QByteArray> data = helpFile->read(name.path());
    if (!data) {
        if (type != QTextDocument::HtmlResource)
            return {};
        return QStringLiteral("<html><body><p>ページ「%1」はヘルプファイルにありません。</p>"
                              "</body></html>")
            .arg(name.path().toHtmlEscaped());
    }
    switch (type) {
    case QTextDocument::HtmlResource:
        return decodeHtml(*data);
    case QTextDocument::StyleSheetResource:
        return ChmFile::decodeText(*data);
    default:
        return *data;
    }
}

QString HelpBrowser::decodeHtml(const QByteArray& bytes)
{
    QStringDecoder decoder = QStringDecoder::decoderForHtml(bytes);
    if (decoder.isValid())
        return decoder.decode(bytes);
    return ChmFile::decodeText(bytes);
}
