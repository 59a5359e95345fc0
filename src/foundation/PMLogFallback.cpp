// A stand-in for the log function while its implementation is not linked into this
// build: weak, so the real definition wins as soon as it is present.
#include "foundation/PMLog.h"

#include <cstdio>

__attribute__((weak)) void PMLogArgs(QStringView format, std::initializer_list<platform::FormatArg> args)
{
    const QByteArray line = platform::formatArgs(format, args).toUtf8();
    std::fprintf(stderr, "%s\n", line.constData());
}
