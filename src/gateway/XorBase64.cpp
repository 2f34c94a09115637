#include "gateway/XorBase64.h"

namespace {

const char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

int sextet(char c)
{
    if (c >= 'A' && c <= 'Z')
        return c - 'A';
    if (c >= 'a' && c <= 'z')
        return c - 'a' + 26;
    if (c >= '0' && c <= '9')
        return c - '0' + 52;
    if (c == '+')
        return 62;
    if (c == '/')
        return 63;
    return -1;
}

QByteArray xorMask(QByteArrayView bytes)
{
    QByteArray out(bytes.data(), bytes.size());
    for (char &c : out)
        c = char(c ^ XorBase64Mask);
    return out;
}

} // namespace

QByteArray Base64Encode(QByteArrayView bytes)
{
    const auto *p = reinterpret_cast<const unsigned char *>(bytes.data());
    const qsizetype n = bytes.size();
    QByteArray out;
    out.reserve((n + 2) / 3 * 4);
    qsizetype i = 0;
    for (; i + 3 <= n; i += 3) {
        const unsigned v = unsigned(p[i]) << 16 | unsigned(p[i + 1]) << 8 | p[i + 2];
        out.append(kAlphabet[v >> 18]).append(kAlphabet[(v >> 12) & 63]);
        out.append(kAlphabet[(v >> 6) & 63]).append(kAlphabet[v & 63]);
    }
    if (n - i == 1) {
        const unsigned v = unsigned(p[i]) << 16;
        out.append(kAlphabet[v >> 18]).append(kAlphabet[(v >> 12) & 63]).append("==");
    } else if (n - i == 2) {
        const unsigned v = unsigned(p[i]) << 16 | unsigned(p[i + 1]) << 8;
        out.append(kAlphabet[v >> 18]).append(kAlphabet[(v >> 12) & 63]);
        out.append(kAlphabet[(v >> 6) & 63]).append('=');
    }
    return out;
}

std::optional<QByteArray> Base64Decode(QByteArrayView text)
{
    QByteArray out;
    const qsizetype groups = text.size() / 4;
    out.reserve(groups * 3);
    for (qsizetype g = 0; g < groups; ++g) {
        const char *q = text.data() + 4 * g;
        const int a = sextet(q[0]), b = sextet(q[1]);
        if (a < 0 || b < 0)
            return std::nullopt;
        const bool last = 4 * (g + 1) == text.size();
        if (q[2] == '=') {
            // One byte; a padded group must be "xx==" or "xxx=" and end the text.
            if (q[3] != '=' || !last)
                return std::nullopt;
            out.append(char(a << 2 | b >> 4));
            break;
        }
        const int c = sextet(q[2]);
        if (c < 0)
            return std::nullopt;
        if (q[3] == '=') {
            if (!last)
                return std::nullopt;
            out.append(char(a << 2 | b >> 4)).append(char((b & 15) << 4 | c >> 2));
            break;
        }
        const int d = sextet(q[3]);
        if (d < 0)
            return std::nullopt;
        out.append(char(a << 2 | b >> 4)).append(char((b & 15) << 4 | c >> 2)).append(char((c & 3) << 6 | d));
    }
    return out;
}

QByteArray XorBase64Encode(QByteArrayView bytes)
{
    return Base64Encode(xorMask(bytes));
}

std::optional<QByteArray> XorBase64Decode(QByteArrayView text)
{
    auto raw = Base64Decode(text);
    if (!raw)
        return std::nullopt;
    return xorMask(*raw);
}
