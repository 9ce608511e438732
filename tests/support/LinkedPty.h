#pragma once

#include "PtyPair.h"

#include <QFile>
#include <QTemporaryDir>
#include <memory>

// A pseudo-terminal behind a link of its own, as an adapter behind its by-id name: closing the
// line's master unplugs it, plugIn() puts a new line behind the same link.
struct LinkedPty {
    QTemporaryDir dir;
    QString path = dir.filePath("adapter");
    std::unique_ptr<PtyPair> line;

    LinkedPty() { plugIn(); }
    bool plugIn()
    {
        line = std::make_unique<PtyPair>();
        QFile::remove(path);
        return line->isValid() && QFile::link(line->slavePath(), path);
    }
};
