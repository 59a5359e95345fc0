// The locale-aware, numeric-aware string order that people expect of file lists ("Movie 2"
// before "Movie 10", letter case deciding only between otherwise equal texts), backed by
// an ICU collator of the user's locale. Safe from any thread.
#pragma once

#include <QtCore/QByteArray>
#include <QtCore/QStringView>

namespace platform {

// -1, 0 or 1.
int localizedStandardCompare(QStringView a, QStringView b);
// The collation key of the text: comparing two keys bytewise (`compareCollationKeys`)
// gives the same order as `localizedStandardCompare` of the texts, much faster when one
// text is compared many times.
QByteArray localizedStandardCollationKey(QStringView text);
int compareCollationKeys(const QByteArray& a, const QByteArray& b);

} // namespace platform
