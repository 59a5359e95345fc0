// File names that are not valid UTF-8: their bytes survive the trip through the program's
// texts and through file URLs, so that a record of such a file still names it.
#include "platform/Paths.h"

#include <QtCore/QUrl>

#include <gtest/gtest.h>

using namespace platform;

namespace {

TEST(FileNameBytes, DecodeAndEncodeKeepEveryByte)
{
    const QByteArray cases[] = {
        QByteArray("/plain/name.mov"),
        QByteArray("/caf\xC3\xA9/\xF0\x9F\x8E\xAC.mov"),          // valid UTF-8
        QByteArray("/latin/caf\xE9.mov"),                           // Latin-1
        QByteArray("/bad/\xC3(\xFF\xFE\x80.mov"),                   // stray and truncated bytes
        QByteArray("/surrogate/\xED\xB3\xA9.mov"),                  // UTF-8 of a lone surrogate
        QByteArray("/overlong/\xC0\xAF\xE0\x80\xAF.mov"),           // overlong forms
        QByteArray("/replacement/\xEF\xBF\xBD and \xE9"),          // a real U+FFFD beside a bad byte
        QByteArray("/end/\xF0\x9F\x8E"),                            // cut inside a character
    };
    for (const QByteArray& bytes : cases) {
        const QString text = decodeFileName(bytes);
        EXPECT_EQ(encodeFileName(text), bytes) << bytes.toHex().toStdString();
        // Through a file URL, as records keep their place, and through QUrl::fromLocalFile.
        // (A URL's raw bytes that spell a lone surrogate read as QUrl::fromLocalFile's form of
        // an escaped byte: no name of a real file holds them.)
        QUrl url = QUrl::fromEncoded(QByteArray("file://") + bytes.toPercentEncoding("/"));
        if (!bytes.contains("\xED\xB3")) {
            EXPECT_EQ(encodeFileName(pathFromFileURL(url)), bytes) << bytes.toHex().toStdString();
        }
        url = QUrl(QUrl::fromLocalFile(text).toString(QUrl::FullyEncoded), QUrl::StrictMode);
        EXPECT_EQ(encodeFileName(pathFromFileURL(url)), bytes) << bytes.toHex().toStdString();
    }
    // Valid names are what Qt makes of them.
    EXPECT_EQ(decodeFileName(QByteArray("/caf\xC3\xA9")), QString::fromUtf8("/caf\xC3\xA9"));
    EXPECT_EQ(encodeFileName(QString::fromUtf8("/\xF0\x9F\x8E\xAC")), QByteArray("/\xF0\x9F\x8E\xAC"));
    EXPECT_EQ(pathFromFileURL(QUrl(QStringLiteral("https://example.org/a"))), QString());
}

} // namespace
