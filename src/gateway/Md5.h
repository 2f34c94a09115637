#pragma once
#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <array>
#include <cstdint>

// MD5 message digest (RFC 1321).
class Md5 {
public:
    using Digest = std::array<std::uint8_t, 16>;

    Md5();
    void update(QByteArrayView bytes);
    // Pads, returns the digest and leaves the object ready for a new message.
    Digest finish();

    static Digest digest(QByteArrayView bytes);

private:
    void transform(const std::uint8_t *block);
    void reset();

    std::uint32_t m_state[4];
    std::uint64_t m_length = 0; // bytes hashed so far
    std::uint8_t m_buffer[64];
    int m_buffered = 0;
};

// 16 upper-case hexadecimal digits of digest bytes 4 to 11.
QString MD5Hex16OfBytes(QByteArrayView bytes);
// MD5Hex16 of the text's GBK bytes. A text GBK cannot hold is hashed as UTF-8 so that
// distinct texts still give distinct names.
QString MD5Hex16(const QString &text);
