#pragma once
#include <QByteArray>
#include <QByteArrayView>
#include <QDateTime>
#include <QList>
#include <optional>

// The gateway side of the wire format: parses what clients send, builds what the gateway
// sends. Written apart from the client's own builders and parsers on purpose, so that a
// mistake in one shows up against the other.
namespace Sim::Wire {

inline constexpr int HeaderLength = 16;
// Largest request a client can send is a Submit of a few hundred numbers; anything far
// beyond means a broken stream.
inline constexpr quint32 MaxRequestLength = 64 * 1024;

enum Command : quint32 {
    Login = 1,
    Logout = 2,
    Submit = 3,
    Deliver = 4,
    Filter = 5,
    EnquireLink = 9,
    ChangePassword = 10,
    Report = 11,
    Affiche = 13,
    ReplySetup = 14,
    AddPoint = 15,
};
inline constexpr quint32 Resp = 0x80000000u;

namespace Status {
enum : quint32 {
    Ok = 0,
    TooManyNumbers = 11,
    InvalidUser = 13,
    BadFormat = 14,
    BadDestination = 22,
    BadScheduleTime = 23,
    BadValidTime = 24,
    UnknownAccount = 0x1001,
    WrongPassword = 0x1002,
    NotLoggedIn = 0x3000,
    NoBalance = 0x3001,
    IllegalContent = 0x100001,
    CardNumberInvalid = 1,
    CardPasswordInvalid = 2,
};
}

struct Header {
    quint32 length = 0;
    quint32 command = 0;
    quint32 status = 0;
    quint32 sequence = 0;
};

quint32 readU32(const char *p);
quint64 readU64(const char *p);
void writeU32(char *p, quint32 v);
void writeU64(char *p, quint64 v);
Header readHeader(const char *p); // p holds at least 16 bytes

// Bytes of a char[N] field: up to the first zero byte or N bytes.
QByteArray fixedField(QByteArrayView packet, qsizetype offset, qsizetype width);

// ---- Texts -----------------------------------------------------------------------------
QByteArray xorBase64Encode(QByteArrayView bytes);
// nullopt when the text is not Base64.
std::optional<QByteArray> xorBase64Decode(QByteArrayView text);
// Lower-case hex of MD5 bytes 4..11, as the protocol uses it.
QByteArray md5Hex16Lower(QByteArrayView bytes);
// The login authenticator from the trimmed login name and the lower-case MD5Hex16 of the
// password: only the hash is ever needed, so the gateway never has to keep passwords.
QByteArray authenticator(QByteArrayView loginName, QByteArrayView passwordHash);

// ---- Requests --------------------------------------------------------------------------
struct LoginRequest {
    QByteArray loginName; // as sent, untrimmed
    QByteArray authenticator;
};
std::optional<LoginRequest> parseLogin(QByteArrayView packet);

struct SubmitRequest {
    quint32 sequence = 0;
    QByteArray customerNo;
    int partIndex = 0; // m of an "m/n" marker, 0 without one
    int partCount = 0;
    QList<QByteArray> numbers;
    quint8 msgClass = 0;
    QByteArray scheduleTime; // 16 characters or empty
    QByteArray validTime;
    quint8 msgFormat = 0;
    QByteArray content; // GBK
    QByteArray reserve;
};
std::optional<SubmitRequest> parseSubmit(QByteArrayView packet);

struct ChangePasswordRequest {
    QByteArray customerNo;
    QByteArray passwordHash; // decoded; 16 hex digits when the client is sound
};
std::optional<ChangePasswordRequest> parseChangePassword(QByteArrayView packet);

struct ReplySetupRequest {
    QByteArray customerNo;
    QByteArray forwardTo;
    QByteArray replyText; // GBK
};
std::optional<ReplySetupRequest> parseReplySetup(QByteArrayView packet);

struct AddPointRequest {
    QByteArray customerNo;
    QByteArray cardNo;
    QByteArray cardPassword;
};
std::optional<AddPointRequest> parseAddPoint(QByteArrayView packet);

// "YYMMDDHHMMSS032+" to a local time; invalid when the text is not of that form.
QDateTime parseGatewayTime(QByteArrayView text);

// ---- Gateway packets -------------------------------------------------------------------
QByteArray headerOnly(quint32 command, quint32 status, quint32 sequence);
QByteArray loginResponse(QByteArrayView customerNo, QByteArrayView userName, qint64 balance,
                         quint8 segLenMobile, quint8 segLenSpare, quint8 segLenOther);
QByteArray submitResponse(quint32 sequence, quint64 msgId, qint64 balance);
QByteArray afficheResponse(QByteArrayView text);
QByteArray addPointResponse(quint32 balance);
QByteArray filterResponse(quint32 first, quint32 second, QByteArrayView chunk);
QByteArray deliver(quint32 sequence, QByteArrayView src, QByteArrayView dest, QByteArrayView content,
                   QByteArrayView reserve);
inline constexpr int ReportLength = 97;
// Appends one Report to out (reports go out in runs, so no packet of its own).
void appendReport(QByteArray &out, quint32 sequence, quint64 msgId, QByteArrayView src, QByteArrayView dest,
                  QByteArrayView stat, QByteArrayView submitTime, QByteArrayView doneTime, quint32 errorCode);

} // namespace Sim::Wire
