#include "ShownProbe.h"

#include <QCoreApplication>
#include <QEvent>
#include <QTimer>
#include <QWidget>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <unistd.h>

namespace bench
{

namespace
{

std::int64_t monotonicNs()
{
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<std::int64_t>(ts.tv_sec) * 1000000000LL + ts.tv_nsec;
}

std::int64_t gMainEntry = 0;

struct Stage {
    const char* name;
    std::int64_t ns;
};
Stage gStages[16];
int gStageCount = 0;

void report(std::int64_t shownNs)
{
    char text[2048];
    int n = std::snprintf(text, sizeof text, "main %lld\n", static_cast<long long>(gMainEntry));
    for (int i = 0; i < gStageCount; ++i)
        n += std::snprintf(text + n, sizeof text - static_cast<size_t>(n), "stage %lld %s\n",
                           static_cast<long long>(gStages[i].ns), gStages[i].name);
    n += std::snprintf(text + n, sizeof text - static_cast<size_t>(n), "shown %lld\n",
                       static_cast<long long>(shownNs));
    const int fd = fcntl(3, F_GETFD) != -1 ? 3 : 2;
    if (write(fd, text, static_cast<size_t>(n)) != n)
        std::_Exit(4);
    std::_Exit(0);
}

// Waits for the first paint of a top-level window of the class; the whole
// window is painted in that same pass, so the next turn of the event loop
// finds it on screen.
class ShownFilter : public QObject
{
public:
    explicit ShownFilter(const char* windowClass) : m_class(windowClass) {}

    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (!m_seen && event->type() == QEvent::Paint && watched->isWidgetType() &&
            static_cast<QWidget*>(watched)->isWindow() && watched->inherits(m_class)) {
            m_seen = true;
            QTimer::singleShot(0, [] { report(monotonicNs()); });
        }
        return false;
    }

private:
    const char* m_class;
    bool m_seen = false;
};

} // namespace

void installShownProbe(const char* windowClass)
{
    QCoreApplication::instance()->installEventFilter(new ShownFilter(windowClass));
}

void markMainEntry()
{
    gMainEntry = monotonicNs();
}

void markStage(const char* name, bool latest)
{
    const std::int64_t now = monotonicNs();
    for (int i = 0; i < gStageCount; ++i) {
        if (std::strcmp(gStages[i].name, name) == 0) {
            if (latest)
                gStages[i].ns = now;
            return;
        }
    }
    if (gStageCount < 16)
        gStages[gStageCount++] = {name, now};
}

} // namespace bench
