#include "GatewayWire.h"

#include <QCryptographicHash>

namespace Sim::Wire {

quint32 readU32(const char *p)
{
    const auto *u = reinterpret_cast<const unsigned char *>(p);
    return (quint32(u[0]) << 24) | (quint32(u[1]) << 16) | (quint32(u[2]) << 8) | quint32(u[3]);
}

quint64 readU64(const char *p)
{
    return (quint64(readU32(p)) << 32) | readU32(p + 4);
}

void writeU32(char *p, quint32 v)
{
    p[0] = char(v >> 24);
    p[1] = char(v >> 16);
    p[2] = char(v >> 8);
    p[3] = char(v);
}

void writeU64(char *p, quint64 v)
{
    writeU32(p, quint32(v >> 32));
    writeU32(p + 4, quint32(v));
}

Header readHeader(const char *p)
{
    return {readU32(p), readU32(p + 4), readU32(p + 8), readU32(p + 12)};
}

QByteArray fixedField(QByteArrayView packet, qsizetype offset, qsizetype width)
{
    if (offset >= packet.size())
        return {};
    QByteArrayView field = packet.sliced(offset, std::min(width, packet.size() - offset));
    const qsizetype zero = field.indexOf('\0');
    return (zero < 0 ? field : field.first(zero)).toByteArray();
}

// Zero-terminated text at offset; nullopt when no zero byte follows inside the packet.
static std::optional<QByteArray> zeroText(QByteArrayView packet, qsizetype offset, qsizetype *next = nullptr)
{
    if (offset > packet.size())
        return std::nullopt;
    const qsizetype zero = packet.indexOf('\0', offset);
    if (zero < 0)
        return std::nullopt;
    if (next)
        *next = zero + 1;
    return packet.sliced(offset, zero - offset).toByteArray();
}

static void putField(QByteArray &b, qsizetype offset, QByteArrayView text, qsizetype width)
{
    std::copy_n(text.data(), std::min(text.size(), width), b.data() + offset);
}

static QByteArray packet(quint32 length, quint32 command, quint32 status, quint32 sequence)
{
    QByteArray b(qsizetype(length), '\0');
    writeU32(b.data(), length);
    writeU32(b.data() + 4, command);
    writeU32(b.data() + 8, status);
    writeU32(b.data() + 12, sequence);
    return b;
}

QByteArray xorBase64Encode(QByteArrayView bytes)
{
    QByteArray masked = bytes.toByteArray();
    for (char &c : masked)
        c ^= 0x2D;
    return masked.toBase64();
}

std::optional<QByteArray> xorBase64Decode(QByteArrayView text)
{
    auto result = QByteArray::fromBase64Encoding(text.toByteArray(), QByteArray::AbortOnBase64DecodingErrors);
    if (!result)
        return std::nullopt;
    QByteArray bytes = *result;
    for (char &c : bytes)
        c ^= 0x2D;
    return bytes;
}

QByteArray md5Hex16Lower(QByteArrayView bytes)
{
    return QCryptographicHash::hash(bytes, QCryptographicHash::Md5).mid(4, 8).toHex();
}

QByteArray authenticator(QByteArrayView loginName, QByteArrayView passwordHash)
{
    QByteArray input("4630");
    input += loginName.trimmed();
    input += QByteArray(8, '\0');
    input += passwordHash;
    input += QByteArray(4, '\0');
    return QCryptographicHash::hash(input, QCryptographicHash::Md5).toBase64();
}

std::optional<LoginRequest> parseLogin(QByteArrayView p)
{
    qsizetype next = 0;
    const auto name = zeroText(p, HeaderLength, &next);
    if (!name || name->size() > 20 || p.size() != 56 + name->size())
        return std::nullopt;
    return LoginRequest{*name, fixedField(p, next, 25)};
}

std::optional<SubmitRequest> parseSubmit(QByteArrayView p)
{
    if (p.size() < 109)
        return std::nullopt;
    SubmitRequest r;
    r.sequence = readU32(p.data() + 12);
    r.customerNo = fixedField(p, 16, 21);
    const auto *u = reinterpret_cast<const unsigned char *>(p.data());
    if (u[38] == 5 && u[39] == 11 && u[40] == 12) {
        r.partCount = u[41];
        r.partIndex = u[42];
    }
    const quint32 d = readU32(p.data() + 59);
    if (d > (MaxRequestLength / 21))
        return std::nullopt;
    const qsizetype tail = 63 + 21 * qsizetype(d);
    if (p.size() < tail + 46)
        return std::nullopt;
    const qsizetype contentLength = u[tail + 36];
    if (p.size() != 109 + 21 * qsizetype(d) + contentLength)
        return std::nullopt;
    r.numbers.reserve(d);
    for (quint32 i = 0; i < d; ++i)
        r.numbers.append(fixedField(p, 63 + 21 * qsizetype(i), 21));
    r.msgClass = u[tail];
    r.scheduleTime = fixedField(p, tail + 1, 17);
    r.validTime = fixedField(p, tail + 18, 17);
    r.msgFormat = u[tail + 35];
    r.content = p.sliced(tail + 37, contentLength).toByteArray();
    r.reserve = fixedField(p, tail + 38 + contentLength, 8);
    return r;
}

std::optional<ChangePasswordRequest> parseChangePassword(QByteArrayView p)
{
    if (p.size() != 70)
        return std::nullopt;
    const auto hash = xorBase64Decode(fixedField(p, 37, 24));
    if (!hash)
        return std::nullopt;
    return ChangePasswordRequest{fixedField(p, 16, 21), *hash};
}

std::optional<ReplySetupRequest> parseReplySetup(QByteArrayView p)
{
    if (p.size() < 66)
        return std::nullopt;
    const qsizetype r = p.size() - 66;
    return ReplySetupRequest{fixedField(p, 16, 21), fixedField(p, 37, 20), p.sliced(57, r).toByteArray()};
}

std::optional<AddPointRequest> parseAddPoint(QByteArrayView p)
{
    if (p.size() != 79)
        return std::nullopt;
    return AddPointRequest{fixedField(p, 16, 21), fixedField(p, 37, 21), fixedField(p, 58, 21)};
}

QDateTime parseGatewayTime(QByteArrayView text)
{
    if (text.size() != 16 || !text.endsWith("032+"))
        return {};
    for (char c : text.first(12))
        if (c < '0' || c > '9')
            return {};
    const QString s = QString::fromLatin1(text.first(12));
    QDateTime t = QDateTime::fromString(QStringLiteral("20") + s, QStringLiteral("yyyyMMddHHmmss"));
    return t.isValid() ? t : QDateTime();
}

QByteArray headerOnly(quint32 command, quint32 status, quint32 sequence)
{
    return packet(HeaderLength, command, status, sequence);
}

QByteArray loginResponse(QByteArrayView customerNo, QByteArrayView userName, qint64 balance,
                         quint8 segLenMobile, quint8 segLenSpare, quint8 segLenOther)
{
    QByteArray body(4, '\0');
    const QByteArray balanceText = QByteArray::number(balance);
    for (QByteArrayView text : {customerNo, userName, QByteArrayView(balanceText)}) {
        body += xorBase64Encode(text);
        body += '\0';
    }
    body += char(segLenMobile);
    body += char(segLenSpare);
    body += char(segLenOther);
    QByteArray b = packet(quint32(HeaderLength + body.size()), Resp | Login, 0, 0);
    putField(b, HeaderLength, body, body.size());
    return b;
}

QByteArray submitResponse(quint32 sequence, quint64 msgId, qint64 balance)
{
    const QByteArray text = xorBase64Encode(QByteArray::number(balance));
    QByteArray b = packet(quint32(24 + text.size() + 1), Resp | Submit, 0, sequence);
    writeU64(b.data() + 16, msgId);
    putField(b, 24, text, text.size());
    return b;
}

QByteArray afficheResponse(QByteArrayView text)
{
    QByteArray b = packet(quint32(20 + text.size() + 1), Resp | Affiche, 0, 0);
    putField(b, 20, text, text.size());
    return b;
}

QByteArray addPointResponse(quint32 balance)
{
    QByteArray b = packet(24, Resp | AddPoint, 0, 0);
    writeU32(b.data() + 20, balance);
    return b;
}

QByteArray filterResponse(quint32 first, quint32 second, QByteArrayView chunk)
{
    QByteArray b = packet(quint32(29 + chunk.size() + 1), Resp | Filter, 0, 0);
    writeU32(b.data() + 16, first);
    writeU32(b.data() + 20, second);
    putField(b, 29, chunk, chunk.size());
    return b;
}

QByteArray deliver(quint32 sequence, QByteArrayView src, QByteArrayView dest, QByteArrayView content,
                   QByteArrayView reserve)
{
    QByteArray b = packet(quint32(61 + content.size() + 1 + 8), Deliver, 0, sequence);
    putField(b, 16, src, 20);
    putField(b, 37, dest, 20);
    b[60] = 15; // message format, as clients send it
    putField(b, 61, content, content.size());
    putField(b, b.size() - 8, reserve, 8);
    return b;
}

void appendReport(QByteArray &out, quint32 sequence, quint64 msgId, QByteArrayView src, QByteArrayView dest,
                  QByteArrayView stat, QByteArrayView submitTime, QByteArrayView doneTime, quint32 errorCode)
{
    const qsizetype at = out.size();
    out.resize(at + ReportLength);
    char *p = out.data() + at;
    std::fill_n(p, ReportLength, '\0');
    writeU32(p, ReportLength);
    writeU32(p + 4, Report);
    writeU32(p + 12, sequence);
    writeU64(p + 16, msgId);
    std::copy_n(src.data(), std::min<qsizetype>(src.size(), 20), p + 24);
    std::copy_n(dest.data(), std::min<qsizetype>(dest.size(), 20), p + 45);
    std::copy_n(stat.data(), std::min<qsizetype>(stat.size(), 7), p + 66);
    std::copy_n(submitTime.data(), std::min<qsizetype>(submitTime.size(), 10), p + 73);
    std::copy_n(doneTime.data(), std::min<qsizetype>(doneTime.size(), 10), p + 83);
    writeU32(p + 93, errorCode);
}

} // namespace Sim::Wire
