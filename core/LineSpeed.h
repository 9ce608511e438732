#pragma once

#include <QtGlobal>

// The bit rate a terminal device is set to, read as the kernel keeps it, so that rates outside
// the classic table (250000, 74880) read back as themselves.
class LineSpeed {
public:
    // The output rate of the terminal behind fd in bit/s; -1 when it cannot be read.
    static qint64 read(int fd);
};
