/* The yardstick for scripts/bench-publish.sh: a reader of the line that does nothing with what it reads and
 * wakes once per measurement, blocked in read() until a whole short frame (4 bytes) is in. */
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

enum { SHORT_FRAME = 4 };

int main(int argc, char **argv)
{
    if (argc != 3) {
        fprintf(stderr, "usage: %s LINE SECONDS\n", argv[0]);
        return 2;
    }
    const int fd = open(argv[1], O_RDWR | O_NOCTTY | O_CLOEXEC);
    struct termios t;
    if (fd < 0 || tcgetattr(fd, &t) != 0) {
        perror(argv[1]);
        return 1;
    }
    cfmakeraw(&t);
    cfsetispeed(&t, B9600);
    cfsetospeed(&t, B9600);
    t.c_cflag |= CLOCAL | CREAD;
    t.c_cc[VMIN] = SHORT_FRAME;
    t.c_cc[VTIME] = 0;
    tcsetattr(fd, TCSANOW, &t);
    struct timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    const time_t end = now.tv_sec + atoi(argv[2]);
    unsigned char buffer[96];
    long bytes = 0;
    while (now.tv_sec < end) {
        const ssize_t got = read(fd, buffer, sizeof buffer);
        if (got <= 0)
            return 1;
        bytes += got;
        clock_gettime(CLOCK_MONOTONIC, &now);
    }
    printf("%ld\n", bytes);
    return 0;
}
