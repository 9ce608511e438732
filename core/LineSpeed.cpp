#include "core/LineSpeed.h"

// The kernel's own termios2, which carries any rate; glibc's <termios.h> must stay out of here.
#include <asm/termbits.h>
#include <sys/ioctl.h>

qint64 LineSpeed::read(int fd)
{
    termios2 settings{};
    if (fd < 0 || ::ioctl(fd, TCGETS2, &settings) != 0)
        return -1;
    return qint64(settings.c_ospeed);
}
