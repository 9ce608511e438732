#pragma once

#include "PtyPair.h"

#include <QString>
#include <QTemporaryDir>
#include <memory>

// A pseudo-terminal reached through a link of its own, as an adapter is through its by-id name:
// unplugging ends the line, plugging in puts a new one behind the same link.
class LinkedPty {
public:
    LinkedPty();

    bool isValid() const { return !link.isEmpty(); }
    // The path a port table maps.
    QString path() const { return link; }
    // The test's end of the line now behind the link.
    PtyPair& line() { return *pty; }
    void unplug() { pty->closeMaster(); }
    // A new line behind the same link; false when it cannot be made.
    bool plugIn();

private:
    QTemporaryDir dir;
    QString link;
    std::unique_ptr<PtyPair> pty;
};
