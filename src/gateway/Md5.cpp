#include "gateway/Md5.h"
#include "common/GbkCodec.h"
#include <cstring>

namespace {

constexpr std::uint32_t kSine[64] = {
    0xd76aa478, 0xe8c7b756, 0x242070db, 0xc1bdceee, 0xf57c0faf, 0x4787c62a, 0xa8304613, 0xfd469501,
    0x698098d8, 0x8b44f7af, 0xffff5bb1, 0x895cd7be, 0x6b901122, 0xfd987193, 0xa679438e, 0x49b40821,
    0xf61e2562, 0xc040b340, 0x265e5a51, 0xe9b6c7aa, 0xd62f105d, 0x02441453, 0xd8a1e681, 0xe7d3fbc8,
    0x21e1cde6, 0xc33707d6, 0xf4d50d87, 0x455a14ed, 0xa9e3e905, 0xfcefa3f8, 0x676f02d9, 0x8d2a4c8a,
    0xfffa3942, 0x8771f681, 0x6d9d6122, 0xfde5380c, 0xa4beea44, 0x4bdecfa9, 0xf6bb4b60, 0xbebfbc70,
    0x289b7ec6, 0xeaa127fa, 0xd4ef3085, 0x04881d05, 0xd9d4d039, 0xe6db99e5, 0x1fa27cf8, 0xc4ac5665,
    0xf4292244, 0x432aff97, 0xab9423a7, 0xfc93a039, 0x655b59c3, 0x8f0ccc92, 0xffeff47d, 0x85845dd1,
    0x6fa87e4f, 0xfe2ce6e0, 0xa3014314, 0x4e0811a1, 0xf7537e82, 0xbd3af235, 0x2ad7d2bb, 0xeb86d391};

constexpr int kShift[64] = {7, 12, 17, 22, 7, 12, 17, 22, 7, 12, 17, 22, 7, 12, 17, 22,
                            5, 9,  14, 20, 5, 9,  14, 20, 5, 9,  14, 20, 5, 9,  14, 20,
                            4, 11, 16, 23, 4, 11, 16, 23, 4, 11, 16, 23, 4, 11, 16, 23,
                            6, 10, 15, 21, 6, 10, 15, 21, 6, 10, 15, 21, 6, 10, 15, 21};

inline std::uint32_t rotl(std::uint32_t x, int n)
{
    return (x << n) | (x >> (32 - n));
}

} // namespace

Md5::Md5()
{
    reset();
}

void Md5::reset()
{
    m_state[0] = 0x67452301;
    m_state[1] = 0xefcdab89;
    m_state[2] = 0x98badcfe;
    m_state[3] = 0x10325476;
    m_length = 0;
    m_buffered = 0;
}

void Md5::transform(const std::uint8_t *block)
{
    std::uint32_t x[16];
    for (int i = 0; i < 16; ++i)
        x[i] = std::uint32_t(block[4 * i]) | std::uint32_t(block[4 * i + 1]) << 8 |
               std::uint32_t(block[4 * i + 2]) << 16 | std::uint32_t(block[4 * i + 3]) << 24;
    std::uint32_t a = m_state[0], b = m_state[1], c = m_state[2], d = m_state[3];
    for (int i = 0; i < 64; ++i) {
        std::uint32_t f;
        int g;
        switch (i / 16) {
        case 0:
            f = (b & c) | (~b & d);
            g = i;
            break;
        case 1:
            f = (d & b) | (~d & c);
            g = (5 * i + 1) % 16;
            break;
        case 2:
            f = b ^ c ^ d;
            g = (3 * i + 5) % 16;
            break;
        default:
            f = c ^ (b | ~d);
            g = (7 * i) % 16;
            break;
        }
        const std::uint32_t next = b + rotl(a + f + kSine[i] + x[g], kShift[i]);
        a = d;
        d = c;
        c = b;
        b = next;
    }
    m_state[0] += a;
    m_state[1] += b;
    m_state[2] += c;
    m_state[3] += d;
}

void Md5::update(QByteArrayView bytes)
{
    const auto *p = reinterpret_cast<const std::uint8_t *>(bytes.data());
    qsizetype n = bytes.size();
    m_length += std::uint64_t(n);
    if (m_buffered > 0) {
        const int take = int(std::min<qsizetype>(64 - m_buffered, n));
        std::memcpy(m_buffer + m_buffered, p, size_t(take));
        m_buffered += take;
        p += take;
        n -= take;
        if (m_buffered < 64)
            return;
        transform(m_buffer);
        m_buffered = 0;
    }
    for (; n >= 64; p += 64, n -= 64)
        transform(p);
    if (n > 0) {
        std::memcpy(m_buffer, p, size_t(n));
        m_buffered = int(n);
    }
}

Md5::Digest Md5::finish()
{
    const std::uint64_t bits = m_length * 8;
    static const std::uint8_t pad[64] = {0x80};
    const int padLength = m_buffered < 56 ? 56 - m_buffered : 120 - m_buffered;
    update(QByteArrayView(reinterpret_cast<const char *>(pad), padLength));
    std::uint8_t lengthBytes[8];
    for (int i = 0; i < 8; ++i)
        lengthBytes[i] = std::uint8_t(bits >> (8 * i));
    update(QByteArrayView(reinterpret_cast<const char *>(lengthBytes), 8));
    Digest out;
    for (int i = 0; i < 4; ++i)
        for (int j = 0; j < 4; ++j)
            out[size_t(4 * i + j)] = std::uint8_t(m_state[i] >> (8 * j));
    reset();
    return out;
}

Md5::Digest Md5::digest(QByteArrayView bytes)
{
    Md5 md5;
    md5.update(bytes);
    return md5.finish();
}

QString MD5Hex16OfBytes(QByteArrayView bytes)
{
    static const char digits[] = "0123456789ABCDEF";
    const Md5::Digest d = Md5::digest(bytes);
    QString out;
    out.reserve(16);
    for (int i = 4; i < 12; ++i) {
        out.append(QLatin1Char(digits[d[size_t(i)] >> 4]));
        out.append(QLatin1Char(digits[d[size_t(i)] & 0x0F]));
    }
    return out;
}

QString MD5Hex16(const QString &text)
{
    const auto gbk = Gbk::encode(text);
    return MD5Hex16OfBytes(gbk ? *gbk : text.toUtf8());
}
