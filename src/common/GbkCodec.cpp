#include "common/GbkCodec.h"
#include <QList>
#include <QStringDecoder>
#include <cerrno>
#include <iconv.h>
#include <mutex>

namespace {

// iconv descriptors are not thread-safe; one per direction per thread.
struct Iconv {
    iconv_t cd;
    Iconv(const char *to, const char *from) : cd(iconv_open(to, from)) {}
    ~Iconv()
    {
        if (cd != iconv_t(-1))
            iconv_close(cd);
    }
};

iconv_t toGbk()
{
    thread_local Iconv c("GBK", "UTF-8");
    iconv(c.cd, nullptr, nullptr, nullptr, nullptr);
    return c.cd;
}

iconv_t fromGbk()
{
    thread_local Iconv c("UTF-8", "GBK");
    iconv(c.cd, nullptr, nullptr, nullptr, nullptr);
    return c.cd;
}

// Converts one code point (as UTF-8) to GBK; false when GBK has no such character.
bool encodeOne(const QByteArray &utf8, QByteArray &out)
{
    char buf[16];
    char *in = const_cast<char *>(utf8.constData());
    size_t inLeft = size_t(utf8.size());
    char *o = buf;
    size_t oLeft = sizeof buf;
    if (iconv(toGbk(), &in, &inLeft, &o, &oLeft) == size_t(-1) || inLeft != 0)
        return false;
    out.append(buf, int(o - buf));
    return true;
}

} // namespace

namespace Gbk {

std::optional<QByteArray> encode(const QString &text, QString *firstBad)
{
    QByteArray out;
    out.reserve(text.size() * 2);
    // ASCII passes through unchanged; the rest goes through iconv one code point at a time
    // so the first character GBK cannot hold can be named.
    const auto u32 = text.toUcs4();
    for (uint cp32 : u32) {
        const char32_t cp = cp32;
        if (cp < 0x80) {
            out.append(char(cp));
            continue;
        }
        const QString one = QString::fromUcs4(&cp, 1);
        if (!encodeOne(one.toUtf8(), out)) {
            if (firstBad)
                *firstBad = one;
            return std::nullopt;
        }
    }
    return out;
}

QByteArray encodeLossy(const QString &text)
{
    QByteArray out;
    for (uint cp32 : text.toUcs4()) {
        const char32_t cp = cp32;
        if (cp < 0x80) {
            out.append(char(cp));
            continue;
        }
        if (!encodeOne(QString::fromUcs4(&cp, 1).toUtf8(), out))
            out.append('?');
    }
    return out;
}

QString decode(const QByteArray &bytes)
{
    QString out;
    out.reserve(bytes.size());
    const char *p = bytes.constData();
    const int n = bytes.size();
    int i = 0;
    while (i < n) {
        const unsigned char c = static_cast<unsigned char>(p[i]);
        if (c < 0x80) {
            out.append(QChar(c));
            ++i;
            continue;
        }
        if (c == 0x80 || c == 0xFF || i + 1 >= n) {
            out.append(QChar(0xFFFD));
            ++i;
            continue;
        }
        char *in = const_cast<char *>(p + i);
        size_t inLeft = 2;
        char buf[8];
        char *o = buf;
        size_t oLeft = sizeof buf;
        if (iconv(fromGbk(), &in, &inLeft, &o, &oLeft) == size_t(-1)) {
            out.append(QChar(0xFFFD));
            ++i;
            continue;
        }
        out.append(QString::fromUtf8(buf, int(o - buf)));
        i += 2;
    }
    return out;
}

int byteCount(const QString &text)
{
    int n = 0;
    for (QChar c : text) {
        if (c.isLowSurrogate())
            continue;
        n += c.unicode() < 0x80 ? 1 : 2;
    }
    return n;
}

QString firstUnencodable(const QString &text)
{
    QString bad;
    encode(text, &bad);
    return bad;
}

bool isValidUtf8(const QByteArray &bytes)
{
    QStringDecoder dec(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    // The decoder only runs when its result is turned into a string.
    const QString text = dec.decode(bytes);
    return !dec.hasError();
}

QString decodeText(const QByteArray &bytes)
{
    if (isValidUtf8(bytes)) {
        QString s = QString::fromUtf8(bytes);
        if (s.startsWith(QChar(0xFEFF)))
            s.remove(0, 1);
        return s;
    }
    return decode(bytes);
}

} // namespace Gbk
