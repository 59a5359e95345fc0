#include "platform/CallStack.h"

#include <QtCore/QStringList>

#include <cstdlib>
#include <execinfo.h>

namespace platform {

QString callStackDescription(int skipFrames)
{
    void* frames[32];
    const int count = backtrace(frames, 32);
    char** symbols = backtrace_symbols(frames, count);
    QStringList lines;
    for (int i = skipFrames; i < count; ++i)
        lines << (symbols ? QString::fromLocal8Bit(symbols[i]) : QStringLiteral("0x%1").arg(quintptr(frames[i]), 0, 16));
    std::free(symbols);
    return u'(' + lines.join(QStringLiteral(", ")) + u')';
}

} // namespace platform
