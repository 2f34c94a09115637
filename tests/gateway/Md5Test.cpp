#include "gateway/Md5.h"
#include <gtest/gtest.h>

namespace {

QByteArray hex(const Md5::Digest &d)
{
    return QByteArray(reinterpret_cast<const char *>(d.data()), qsizetype(d.size())).toHex();
}

struct Vector {
    QByteArray input;
    const char *digest;
};

} // namespace

TEST(Md5, ReferenceVectorsAndBlockEdges)
{
    const Vector vectors[] = {
        // RFC 1321 test suite
        {"", "d41d8cd98f00b204e9800998ecf8427e"},
        {"a", "0cc175b9c0f1b6a831c399e269772661"},
        {"abc", "900150983cd24fb0d6963f7d28e17f72"},
        {"message digest", "f96b697d7cb7938d525a2f31aaf161d0"},
        {"abcdefghijklmnopqrstuvwxyz", "c3fcd3d76192e4007dfb496cca67e13b"},
        {"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789",
         "d174ab98d277d9f5a5611c2c9f419d9f"},
        {"12345678901234567890123456789012345678901234567890123456789012345678901234567890",
         "57edf4a22be3c955ac49da2e2107b67a"},
        // padding spills into a second block from 56 bytes on
        {QByteArray(55, 'a'), "ef1772b6dff9a122358552954ad0df65"},
        {QByteArray(56, 'a'), "3b0c8ac703f828b04c6c197006d17218"},
        {QByteArray(63, 'a'), "b06521f39153d618550606be297466d5"},
        {QByteArray(64, 'a'), "014842d480b571495a4a0363793f7367"},
        {QByteArray(65, 'a'), "c743a45e0d2e6a95cb859adae0248435"},
        {QByteArray(1000, 'a'), "cabe45dcc9ae5b66ba86600cca6b8ba8"},
    };
    for (const Vector &v : vectors) {
        SCOPED_TRACE(v.input.size());
        EXPECT_EQ(hex(Md5::digest(v.input)), QByteArray(v.digest));
        // Fed in uneven pieces the digest must not change.
        for (int piece : {1, 7, 63, 64, 65}) {
            Md5 md5;
            for (qsizetype at = 0; at < v.input.size(); at += piece)
                md5.update(
                    QByteArrayView(v.input).sliced(at, std::min<qsizetype>(piece, v.input.size() - at)));
            EXPECT_EQ(hex(md5.finish()), QByteArray(v.digest)) << "piece " << piece;
        }
    }
}

TEST(Md5, FinishStartsANewMessage)
{
    Md5 md5;
    md5.update("garbage");
    md5.finish();
    md5.update("abc");
    EXPECT_EQ(hex(md5.finish()), QByteArray("900150983cd24fb0d6963f7d28e17f72"));
}

TEST(Md5, Hex16IsDigestBytesFourToElevenInUpperCase)
{
    EXPECT_EQ(MD5Hex16OfBytes("abc"), QStringLiteral("3CD24FB0D6963F7D"));
    EXPECT_EQ(MD5Hex16(QStringLiteral("abc")), QStringLiteral("3CD24FB0D6963F7D"));
    // Texts are hashed as their GBK bytes (b6 cc d0 c5), not UTF-8.
    EXPECT_EQ(MD5Hex16(QStringLiteral("短信")), QStringLiteral("2D50443C965DBF3D"));
}
