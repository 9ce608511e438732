// Throughput of the LAN line building and cutting, each beside a plain per-character version.
#include "core/LineCodec.h"
#include "core/LineReceiver.h"

#include <QElapsedTimer>
#include <QStringList>
#include <cstdio>

namespace {

QString plainDataLine(const uint8_t* bytes, int count)
{
    QString line = QStringLiteral("DATA:") + QString::number(count) + QLatin1Char(':');
    for (int i = 0; i < count; ++i)
        line += QStringLiteral("%1").arg(bytes[i], 2, 16, QLatin1Char('0')).toUpper();
    return line;
}

qsizetype plainCut(const QStringList& chunks)
{
    QString pending;
    qsizetype lines = 0;
    for (const QString& chunk : chunks) {
        for (QChar c : chunk) {
            if (c == QLatin1Char('\n')) {
                ++lines;
                pending.clear();
            } else {
                pending += c;
            }
        }
    }
    return lines;
}

template <class F> double secondsFor(F&& f)
{
    QElapsedTimer timer;
    timer.start();
    f();
    return double(timer.nsecsElapsed()) / 1e9;
}

} // namespace

int main()
{
    constexpr int Blocks = 20000;
    uint8_t block[LineCodec::MaxDataBytes];
    for (int i = 0; i < LineCodec::MaxDataBytes; ++i)
        block[i] = uint8_t(i * 7);
    const double megabytes = double(Blocks) * LineCodec::MaxDataBytes / 1e6;

    qsizetype sink = 0;
    const double built = secondsFor([&] {
        for (int i = 0; i < Blocks; ++i)
            sink += LineCodec::buildDataLine(block, LineCodec::MaxDataBytes).size();
    });
    const double plainBuilt = secondsFor([&] {
        for (int i = 0; i < Blocks; ++i)
            sink += plainDataLine(block, LineCodec::MaxDataBytes).size();
    });

    // Received text as it comes off a socket: lines cut at arbitrary points.
    const QString line = LineCodec::buildDataLine(block, LineCodec::MaxDataBytes) + '\n';
    const QString stream = line.repeated(Blocks);
    QStringList chunks;
    for (qsizetype at = 0; at < stream.size(); at += 1460)
        chunks << stream.mid(at, 1460);
    const double cut = secondsFor([&] {
        LineReceiver receiver;
        for (const QString& chunk : chunks)
            receiver.feed(chunk, [&](const QString& l) { sink += l.size(); });
    });
    const double plainCutTime = secondsFor([&] { sink += plainCut(chunks); });

    const double decoded = secondsFor([&] {
        for (int i = 0; i < Blocks; ++i)
            sink += LineCodec::decodeDataLine(line)->size();
    });
    const double fromHex = secondsFor([&] {
        for (int i = 0; i < Blocks; ++i)
            sink += QByteArray::fromHex(line.mid(9).toLatin1()).size();
    });

    std::printf("buildDataLine: %.1f MB/s of payload (per-byte arg: %.1f MB/s, ratio %.1fx)\n",
                megabytes / built, megabytes / plainBuilt, plainBuilt / built);
    std::printf("LineReceiver:  %.1f MB/s of payload (per-character: %.1f MB/s, ratio %.1fx)\n",
                megabytes / cut, megabytes / plainCutTime, plainCutTime / cut);
    std::printf(
        "decodeDataLine: %.1f MB/s of payload (QByteArray::fromHex: %.1f MB/s, ratio %.1fx)\n",
        megabytes / decoded, megabytes / fromHex, fromHex / decoded);
    return sink == 0 ? 1 : 0;
}
