/* A library that the driver manager must never load for the utility: named as
 * a DRIVER, it records on load that it was loaded, in the file that
 * GST_STANDIN_RECORD names. */
#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

__attribute__((constructor)) static void recordLoad(void)
{
    const char* path = getenv("GST_STANDIN_RECORD");
    if (!path)
        return;
    const int fd = open(path, O_WRONLY | O_CREAT | O_APPEND, 0600);
    if (fd >= 0) {
        (void)!write(fd, "loaded\n", 7);
        close(fd);
    }
}
