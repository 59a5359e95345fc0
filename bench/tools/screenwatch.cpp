// Watches an X screen for changes and prints one line per change as it happens:
//
//   <monotonic nanoseconds> <x> <y> <width> <height>
//
// (the bounding box of what changed since the previous line). The clock is CLOCK_MONOTONIC,
// the one Python's time.monotonic_ns() reads, so a script can set these beside the moments it
// sent a key or a click. "ready" is printed once the watch is in place. Runs until killed or
// until its standard output closes.
#include <X11/Xlib.h>
#include <X11/extensions/Xdamage.h>
#include <X11/extensions/Xfixes.h>

#include <csignal>
#include <cstdio>
#include <ctime>

int main()
{
    std::signal(SIGPIPE, SIG_DFL);
    Display* display = XOpenDisplay(nullptr);
    if (!display) {
        std::fprintf(stderr, "screenwatch: cannot open the display\n");
        return 1;
    }
    int eventBase = 0, errorBase = 0;
    if (!XDamageQueryExtension(display, &eventBase, &errorBase)) {
        std::fprintf(stderr, "screenwatch: the display has no DAMAGE extension\n");
        return 1;
    }
    // One report per batch of changes: each is taken away as soon as it is printed, so the
    // next report comes with the next change after that.
    int fixesEvent = 0, fixesError = 0;
    if (!XFixesQueryExtension(display, &fixesEvent, &fixesError)) {
        std::fprintf(stderr, "screenwatch: the display has no XFIXES extension\n");
        return 1;
    }
    const Damage damage = XDamageCreate(display, DefaultRootWindow(display), XDamageReportNonEmpty);
    const XserverRegion parts = XFixesCreateRegion(display, nullptr, 0);
    XSync(display, False);
    std::printf("ready\n");
    std::fflush(stdout);
    for (;;) {
        XEvent event;
        XNextEvent(display, &event);
        if (event.type != eventBase + XDamageNotify)
            continue;
        timespec now{};
        clock_gettime(CLOCK_MONOTONIC, &now);
        // What changed: the damage taken away, as a region, and its bounds.
        XDamageSubtract(display, damage, None, parts);
        int count = 0;
        XRectangle bounds{};
        if (XRectangle* rectangles = XFixesFetchRegionAndBounds(display, parts, &count, &bounds))
            XFree(rectangles);
        if (std::printf("%lld %d %d %d %d\n", static_cast<long long>(now.tv_sec) * 1000000000LL + now.tv_nsec, bounds.x, bounds.y,
                        bounds.width, bounds.height)
                < 0
            || std::fflush(stdout) != 0)
            return 0;
    }
}
