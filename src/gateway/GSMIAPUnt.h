#pragma once
#include <QByteArray>
#include <QByteArrayView>
#include <QDateTime>
#include <QString>
#include <QStringList>
#include <optional>

// The gateway's binary protocol: header, command identifiers, request builders,
// response parsers, the records handed to the rest of the client, and status texts.
// All integers on the wire are big-endian. Builders and parsers are pure functions
// and may be used from any thread.
namespace Gateway {

inline constexpr int HeaderLength = 16;
// Largest packet accepted from the wire. No layout comes near it; anything above is
// treated as a broken stream rather than buffered.
inline constexpr quint32 MaxPacketLength = 1u << 20;

namespace Cmd {
enum : quint32 {
    Login = 1,
    Login_Response = 0x80000001,
    Logout = 2,
    Logout_Response = 0x80000002,
    Submit = 3,
    Submit_Response = 0x80000003,
    Deliver = 4,
    Deliver_Response = 0x80000004,
    Filter = 5,
    Filter_Response = 0x80000005,
    EnquireLink = 9,
    EnquireLink_Response = 0x80000009,
    ChangePassword = 10,
    ChangePassword_Response = 0x8000000A,
    Report = 11,
    Report_Response = 0x8000000B,
    Affiche = 13,
    Affiche_Response = 0x8000000D,
    ReplySetup = 14,
    ReplySetup_Response = 0x8000000E,
    AddPoint = 15,
    AddPoint_Response = 0x8000000F,
};
inline constexpr quint32 ResponseBit = 0x80000000u;
} // namespace Cmd

// Status codes produced by the client itself, never by the gateway.
inline constexpr quint32 SMS_WAITRESP_TIMEOUT = 0x0AAAAAAA;
inline constexpr quint32 SMS_ERR_TEXT = 0x0BBBBBBB;

// Message classes of a Submit.
namespace MsgClass {
enum : quint8 { Ordinary = 1, HandsFree = 0x61, Flash = 0x62, HandsFreeFlash = 0x63 };
}

struct PacketHeader {
    quint32 Total_Length = HeaderLength;
    quint32 Command_ID = 0;
    quint32 Command_Status = 0;
    quint32 Sequence_No = 0;
};

// ---- Framing -------------------------------------------------------------------------

struct Frame {
    enum Kind { NeedMore, Packet, Malformed };
    Kind kind = NeedMore;
    qsizetype length = 0; // bytes of the packet at the front of the buffer when kind is Packet
};
// Looks at the front of a receive buffer. Malformed (Total_Length below 16 or above
// MaxPacketLength) means the stream cannot be resynchronised: close the connection.
// Unknown command identifiers are framed normally; routing decides what to do with them.
Frame NextFrame(QByteArrayView buffer);

// The first 16 bytes as a header; nullopt when fewer are given.
std::optional<PacketHeader> ParseHeader(QByteArrayView bytes);
// One whole packet: at least a header, and exactly Total_Length bytes.
std::optional<PacketHeader> ParsePacket(QByteArrayView packet);

// ---- Requests ------------------------------------------------------------------------
// Builders refuse (nullopt, reason in *error) a text that GBK cannot hold, that holds a
// zero character, or that is longer than its field, instead of cutting it.

QByteArray BuildHeaderOnly(quint32 commandId, quint32 sequenceNo);
inline QByteArray BuildLogout()
{
    return BuildHeaderOnly(Cmd::Logout, 0);
}
inline QByteArray BuildAffiche()
{
    return BuildHeaderOnly(Cmd::Affiche, 0);
}
inline QByteArray BuildEnquireLink(quint32 counter)
{
    return BuildHeaderOnly(Cmd::EnquireLink, counter);
}
inline QByteArray BuildEnquireLinkResp(quint32 sequenceNo)
{
    return BuildHeaderOnly(Cmd::EnquireLink_Response, sequenceNo);
}
inline QByteArray BuildDeliverResp(quint32 sequenceNo)
{
    return BuildHeaderOnly(Cmd::Deliver_Response, sequenceNo);
}
inline QByteArray BuildReportResp(quint32 sequenceNo)
{
    return BuildHeaderOnly(Cmd::Report_Response, sequenceNo);
}

// Login name at most 20 bytes, password at most 32 bytes.
std::optional<QByteArray> BuildLogin(const QString &loginName, const QString &password,
                                     QString *error = nullptr);
// The 24-character authenticator of the Login body.
QByteArray LoginAuthenticator(const QByteArray &loginName, const QByteArray &password);

struct SubmitRequest {
    quint32 Sequence_No = 0;
    QString CustomerNo;
    QStringList DestNumbers;
    quint8 MsgClass = MsgClass::Ordinary;
    QString ScheduleTime; // FormatGatewayTime text, empty for immediate sending
    QString ValidTime;    // same form, or empty
    QString Content;      // at most 255 GBK bytes
    QString PartMarker;   // "m/n" or empty
    QString Reserve;      // at most 8 bytes
};
// A part marker containing "/" must be two decimal numbers of 0 to 255 around it.
std::optional<QByteArray> BuildSubmit(const SubmitRequest &request, QString *error = nullptr);

// New password at most 32 bytes, like the login password it will become.
std::optional<QByteArray> BuildChangePassword(const QString &customerNo, const QString &newPassword,
                                              QString *error = nullptr);
std::optional<QByteArray> BuildReplySetup(const QString &customerNo, const QString &forwardTo,
                                          const QString &replyText, QString *error = nullptr);
std::optional<QByteArray> BuildAddPoint(const QString &customerNo, const QString &cardNo,
                                        const QString &cardPassword, QString *error = nullptr);

// "YYMMDDHHMMSS032+" of a local time.
QString FormatGatewayTime(const QDateTime &localTime);

// ---- Responses and gateway packets ---------------------------------------------------
// Each parser takes exactly one packet (as framed by NextFrame) and returns nullopt when
// it is not that command or does not hold its layout; the caller then drops the
// connection. Bodies of responses with a non-zero Command_Status are not read.

struct LoginResponse {
    quint32 Command_Status = 0;
    QString CustomerNo;
    QString UserName;
    qint32 Balance = 0;
    quint8 SegLenMobile = 0;
    quint8 SegLenSpare = 0;
    quint8 SegLenOther = 0;
};
std::optional<LoginResponse> ParseLoginResp(QByteArrayView packet);

// The result of one Submit.
struct TSubmitResp {
    quint32 Sequence_No = 0;
    quint64 MsgID = 0; // 0 when the Submit failed or timed out
};
using PSubmitResp = TSubmitResp *;

struct SubmitResponse {
    TSubmitResp Resp;
    quint32 Command_Status = 0;
    std::optional<qint32> Balance; // present when the gateway sent one
};
std::optional<SubmitResponse> ParseSubmitResp(QByteArrayView packet);

// One received message.
struct TDeliverSM {
    QString SrcNo; // a leading "86" removed
    QString DestNo;
    QString Content;    // at most 160 bytes on the wire, cut before a split character
    QByteArray Reserve; // the packet's last 8 bytes
};
inline constexpr int DeliverContentMax = 160;
std::optional<TDeliverSM> ParseDeliver(QByteArrayView packet);

// One delivery status report.
struct TMessage_Report {
    quint64 MsgID = 0;
    QString SrcNo; // the number the reported message was sent to
    QString DestNo;
    QString Stat; // e.g. "DELIVRD"
    QString SubmitTime;
    QString DoneTime;
    quint32 ErrCode = 0;
};
inline constexpr quint32 ReportLength = 97;
std::optional<TMessage_Report> ParseReport(QByteArrayView packet);

// One chunk of the forbidden-word list. The text stays raw GBK: a chunk may end inside
// a double-byte character, so decode only the joined chunks.
struct FilterChunk {
    quint32 Command_Status = 0;
    quint32 First = 0;
    quint32 Second = 0;
    QByteArray Text;
    bool isLast() const { return First == Second; }
};
std::optional<FilterChunk> ParseFilterResp(QByteArrayView packet);

struct AfficheResponse {
    quint32 Command_Status = 0;
    QString Text;
};
std::optional<AfficheResponse> ParseAfficheResp(QByteArrayView packet);

// Command_Status 1: card number invalid; 2: card password invalid.
struct AddPointResponse {
    quint32 Command_Status = 0;
    quint32 Balance = 0;
};
std::optional<AddPointResponse> ParseAddPointResp(QByteArrayView packet);

// ---- Status texts --------------------------------------------------------------------

QString GetStatusText(quint32 code);
// Process-wide reason text for SMS_ERR_TEXT; safe to use from any thread.
QString LastErrorText();
void SetLastErrorText(const QString &text);

} // namespace Gateway
