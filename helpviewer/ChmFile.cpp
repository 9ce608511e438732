#include "helpviewer/ChmFile.h"

#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QStringDecoder>
#include <QStringList>
#include <QtEndian>
#include <cerrno>
#include <chm_lib.h>
#include <csignal>
#include <cstdlib>
#include <ctime>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

// Codes of the #SYSTEM entries used here.
constexpr quint16 SystemContentsFile = 0;
constexpr quint16 SystemDefaultTopic = 2;
constexpr quint16 SystemTitle = 3;

// The text of a compiler string: everything before the first zero byte.
QByteArray cutAtZero(const QByteArray& bytes)
{
    const qsizetype zero = bytes.indexOf('\0');
    return zero < 0 ? bytes : bytes.left(zero);
}

// A topic reference as written in a contents file or the #SYSTEM entries: "page.html",
// "folder\\page.html#part" or "ms-its:file.chm::/page.html". Returns the object path and keeps
// any "#part".
QString topicReference(QString local)
{
    const qsizetype inFile = local.indexOf(QLatin1String("::"));
    if (inFile >= 0)
        local = local.mid(inFile + 2);
    const qsizetype hash = local.indexOf(QLatin1Char('#'));
    const QString fragment = hash >= 0 ? local.mid(hash) : QString();
    const QString path = hash >= 0 ? local.left(hash) : local;
    if (path.trimmed().isEmpty())
        return {};
    return ChmFile::normalisePath(path.trimmed()) + fragment;
}

// The name chmlib looks up: a page path made absolute, or a "::" storage name as it is.
QByteArray objectName(const QString& path)
{
    if (path.startsWith(QLatin1String("::")))
        return path.toUtf8();
    return ChmFile::normalisePath(path).toUtf8();
}

QString withoutFragment(const QString& reference)
{
    const qsizetype hash = reference.indexOf(QLatin1Char('#'));
    return hash >= 0 ? reference.left(hash) : reference;
}

QString decodeEntities(QString text)
{
    static const QRegularExpression entity(QStringLiteral("&(#x[0-9a-fA-F]+|#[0-9]+|\\w+);"));
    QString result;
    qsizetype last = 0;
    for (auto it = entity.globalMatch(text); it.hasNext();) {
        const QRegularExpressionMatch match = it.next();
        result += QStringView(text).mid(last, match.capturedStart() - last);
        const QString name = match.captured(1);
        char32_t code = 0;
        bool ok = false;
        if (name.startsWith(QLatin1String("#x"), Qt::CaseInsensitive))
            code = name.mid(2).toUInt(&ok, 16);
        else if (name.startsWith(QLatin1Char('#')))
            code = name.mid(1).toUInt(&ok, 10);
        else if (name == QLatin1String("amp"))
            code = '&', ok = true;
        else if (name == QLatin1String("lt"))
            code = '<', ok = true;
        else if (name == QLatin1String("gt"))
            code = '>', ok = true;
        else if (name == QLatin1String("quot"))
            code = '"', ok = true;
        else if (name == QLatin1String("apos"))
            code = '\'', ok = true;
        if (ok && code > 0 && code <= 0x10FFFF && (code < 0xD800 || code > 0xDFFF))
            result += QString::fromUcs4(&code, 1);
        else
            result += match.captured(0);
        last = match.capturedEnd();
    }
    result += QStringView(text).mid(last);
    return result;
}

int readWholeObject(chmFile* handle, chmUnitInfo* unit, void*)
{
    if (unit->length == 0 || unit->length > LONGUINT64(ChmFile::MaxObjectBytes))
        return CHM_ENUMERATOR_CONTINUE;
    auto* buffer = static_cast<unsigned char*>(std::malloc(size_t(unit->length)));
    if (!buffer)
        return CHM_ENUMERATOR_CONTINUE;
    chm_retrieve_object(handle, unit, buffer, 0, LONGINT64(unit->length));
    std::free(buffer);
    return CHM_ENUMERATOR_CONTINUE;
}

// chmlib crashes on some damaged files (a division by zero in chm_open, a null state in its
// decompressor). A child process opens the file and reads every object first; only when it
// comes through is the file opened here. A child that takes longer than the limit is stopped.
bool readsSafelyInChild(const QByteArray& path)
{
    constexpr int PollMilliseconds = 10;
    constexpr int PollLimit = 3000; // 30 s
    const pid_t child = fork();
    if (child < 0)
        return true; // no child to be had: open it as chmlib would anyway
    if (child == 0) {
        // A crash here only ends the child: no crash handler of the program, no core file.
        for (int crash : {SIGSEGV, SIGFPE, SIGBUS, SIGILL, SIGABRT})
            std::signal(crash, SIG_DFL);
        const rlimit noCore{0, 0};
        setrlimit(RLIMIT_CORE, &noCore);
        chmFile* handle = chm_open(path.constData());
        if (!handle)
            _exit(1);
        chm_enumerate(handle, CHM_ENUMERATE_ALL, readWholeObject, nullptr);
        chm_close(handle);
        _exit(0);
    }
    int status = 0;
    for (int poll = 0; poll < PollLimit; ++poll) {
        const pid_t done = waitpid(child, &status, WNOHANG);
        if (done == child)
            return WIFEXITED(status) && WEXITSTATUS(status) == 0;
        if (done < 0 && errno == ECHILD)
            return true; // reaped elsewhere (SIGCHLD ignored): the outcome is unknown
        if (done < 0 && errno != EINTR)
            return false;
        const timespec pause{0, PollMilliseconds * 1000 * 1000};
        nanosleep(&pause, nullptr);
    }
    kill(child, SIGKILL);
    waitpid(child, &status, 0);
    return false;
}

} // namespace

ChmFile::~ChmFile()
{
    close();
}

bool ChmFile::open(const QString& path)
{
    close();
    const QFileInfo info(path);
    if (!info.isFile() || !info.isReadable())
        return false;
    const QByteArray localPath = QFile::encodeName(info.absoluteFilePath());
    if (!readsSafelyInChild(localPath))
        return false;
    handle = chm_open(localPath.constData());
    if (!handle)
        return false;
    filePath = info.absoluteFilePath();
    readSystem();
    return true;
}

void ChmFile::close()
{
    if (handle)
        chm_close(handle);
    handle = nullptr;
    filePath.clear();
    systemDefaultTopic.clear();
    contentsFile.clear();
    fileTitle.clear();
}

std::optional<QByteArray> ChmFile::read(const QString& objectPath) const
{
    if (!handle)
        return std::nullopt;
    const QByteArray name = objectName(objectPath);
    if (name.size() > CHM_MAX_PATHLEN)
        return std::nullopt;
    chmUnitInfo unit{};
    if (chm_resolve_object(handle, name.constData(), &unit) != CHM_RESOLVE_SUCCESS)
        return std::nullopt;
    if (unit.length > LONGUINT64(MaxObjectBytes))
        return std::nullopt;
    QByteArray data(qsizetype(unit.length), Qt::Uninitialized);
    if (unit.length == 0)
        return data;
    const LONGINT64 got = chm_retrieve_object(
        handle, &unit, reinterpret_cast<unsigned char*>(data.data()), 0, LONGINT64(unit.length));
    if (got != LONGINT64(unit.length))
        return std::nullopt;
    return data;
}

bool ChmFile::contains(const QString& objectPath) const
{
    if (!handle)
        return false;
    const QByteArray name = objectName(objectPath);
    chmUnitInfo unit{};
    return name.size() <= CHM_MAX_PATHLEN &&
           chm_resolve_object(handle, name.constData(), &unit) == CHM_RESOLVE_SUCCESS;
}

void ChmFile::readSystem()
{
    const std::optional<QByteArray> system = read(QStringLiteral("/#SYSTEM"));
    if (!system)
        return;
    const QByteArray& data = *system;
    // A 4-byte version, then entries of a 2-byte code, a 2-byte length and the data.
    qsizetype pos = 4;
    while (pos + 4 <= data.size()) {
        const quint16 code = qFromLittleEndian<quint16>(data.constData() + pos);
        const quint16 length = qFromLittleEndian<quint16>(data.constData() + pos + 2);
        pos += 4;
        if (length > data.size() - pos)
            break;
        const QByteArray value = cutAtZero(data.mid(pos, length));
        pos += length;
        switch (code) {
        case SystemContentsFile:
            contentsFile = topicReference(decodeText(value));
            break;
        case SystemDefaultTopic:
            systemDefaultTopic = topicReference(decodeText(value));
            break;
        case SystemTitle:
            fileTitle = decodeText(value);
            break;
        default:
            break;
        }
    }
}

QString ChmFile::defaultTopic() const
{
    if (!systemDefaultTopic.isEmpty() && contains(withoutFragment(systemDefaultTopic)))
        return systemDefaultTopic;
    for (const Topic& topic : contents()) {
        if (!topic.path.isEmpty() && contains(withoutFragment(topic.path)))
            return topic.path;
    }
    for (const QString& page : {QStringLiteral("/index.html"), QStringLiteral("/index.htm")}) {
        if (contains(page))
            return page;
    }
    return {};
}

QList<ChmFile::Topic> ChmFile::contents() const
{
    if (contentsFile.isEmpty())
        return {};
    const std::optional<QByteArray> hhc = read(withoutFragment(contentsFile));
    return hhc ? parseContents(*hhc) : QList<Topic>();
}

QString ChmFile::normalisePath(const QString& path)
{
    QStringList kept;
    const QStringList parts =
        QString(path).replace(QLatin1Char('\\'), QLatin1Char('/')).split(QLatin1Char('/'));
    for (const QString& part : parts) {
        if (part.isEmpty() || part == QLatin1String("."))
            continue;
        if (part == QLatin1String("..")) {
            if (!kept.isEmpty())
                kept.removeLast();
            continue;
        }
        kept.append(part);
    }
    return QLatin1Char('/') + kept.join(QLatin1Char('/'));
}

QList<ChmFile::Topic> ChmFile::parseContents(const QByteArray& hhc)
{
    static const QRegularExpression tag(QStringLiteral("<\\s*(/?)\\s*([A-Za-z]+)([^>]*)>"));
    static const QRegularExpression attribute(
        QStringLiteral("([A-Za-z_:-]+)\\s*=\\s*(?:\"([^\"]*)\"|'([^']*)'|([^\\s\"'>]+))"));

    const QString text = decodeText(hhc);
    QList<Topic> topics;
    int listDepth = 0;
    bool inObject = false;
    Topic current;
    for (auto it = tag.globalMatch(text); it.hasNext();) {
        const QRegularExpressionMatch match = it.next();
        const bool closing = !match.capturedView(1).isEmpty();
        const QString name = match.captured(2).toLower();
        if (name == QLatin1String("ul")) {
            listDepth = closing ? std::max(0, listDepth - 1) : listDepth + 1;
        } else if (name == QLatin1String("object")) {
            if (closing && inObject && (!current.name.isEmpty() || !current.path.isEmpty()))
                topics.append(current);
            inObject = !closing;
            current = Topic{};
            current.depth = std::max(0, listDepth - 1);
        } else if (name == QLatin1String("param") && inObject && !closing) {
            QString paramName;
            QString paramValue;
            const QString attributes = match.captured(3);
            for (auto at = attribute.globalMatch(attributes); at.hasNext();) {
                const QRegularExpressionMatch a = at.next();
                const QString value = a.captured(2) + a.captured(3) + a.captured(4);
                const QString key = a.captured(1).toLower();
                if (key == QLatin1String("name"))
                    paramName = decodeEntities(value);
                else if (key == QLatin1String("value"))
                    paramValue = decodeEntities(value);
            }
            if (paramName.compare(QLatin1String("Name"), Qt::CaseInsensitive) == 0 &&
                current.name.isEmpty())
                current.name = paramValue;
            else if (paramName.compare(QLatin1String("Local"), Qt::CaseInsensitive) == 0 &&
                     current.path.isEmpty())
                current.path = topicReference(paramValue);
        }
    }
    return topics;
}

QString ChmFile::decodeText(const QByteArray& bytes)
{
    QStringDecoder utf8(QStringConverter::Utf8, QStringConverter::Flag::Stateless);
    QString text = utf8.decode(bytes);
    if (!utf8.hasError())
        return text;
    QStringDecoder shiftJis("Shift_JIS", QStringConverter::Flag::Stateless);
    if (shiftJis.isValid())
        return shiftJis.decode(bytes);
    return QString::fromLatin1(bytes);
}
