#include "gateway/GSMIAPUnt.h"
#include "common/GbkCodec.h"
#include "gateway/Md5.h"
#include "gateway/XorBase64.h"
#include <QHash>
#include <QMutex>
#include <QRegularExpression>
#include <cstring>

namespace Gateway {

namespace {

// ---- byte access -----------------------------------------------------------------------

quint32 getU32(QByteArrayView v, qsizetype at)
{
    const auto *p = reinterpret_cast<const uchar *>(v.data()) + at;
    return quint32(p[0]) << 24 | quint32(p[1]) << 16 | quint32(p[2]) << 8 | quint32(p[3]);
}

quint64 getU64(QByteArrayView v, qsizetype at)
{
    return quint64(getU32(v, at)) << 32 | getU32(v, at + 4);
}

void putU32(QByteArray &b, qsizetype at, quint32 value)
{
    b[at] = char(value >> 24);
    b[at + 1] = char(value >> 16);
    b[at + 2] = char(value >> 8);
    b[at + 3] = char(value);
}

void putBytes(QByteArray &b, qsizetype at, const QByteArray &bytes)
{
    Q_ASSERT(at + bytes.size() <= b.size());
    std::memcpy(b.data() + at, bytes.constData(), size_t(bytes.size()));
}

QByteArray newPacket(quint32 totalLength, quint32 commandId, quint32 sequenceNo)
{
    QByteArray b(qsizetype(totalLength), '\0');
    putU32(b, 0, totalLength);
    putU32(b, 4, commandId);
    putU32(b, 8, 0);
    putU32(b, 12, sequenceNo);
    return b;
}

// Bytes of a char[width] field up to the first zero byte.
QByteArray readFixed(QByteArrayView v, qsizetype at, qsizetype width)
{
    const QByteArrayView field = v.sliced(at, width);
    const qsizetype zero = field.indexOf('\0');
    return (zero < 0 ? field : field.first(zero)).toByteArray();
}

// A zero-terminated text starting at `at` whose terminator lies before `end`.
// On success `at` moves past the terminator.
std::optional<QByteArray> readZString(QByteArrayView v, qsizetype &at, qsizetype end)
{
    if (at >= end)
        return std::nullopt;
    const qsizetype zero = v.first(end).indexOf('\0', at);
    if (zero < 0)
        return std::nullopt;
    QByteArray text = v.sliced(at, zero - at).toByteArray();
    at = zero + 1;
    return text;
}

// An encoded text decoding to at most maxBytes bytes without a zero byte among them.
std::optional<QByteArray> readEncoded(QByteArrayView v, qsizetype &at, qsizetype maxBytes)
{
    const auto wire = readZString(v, at, v.size());
    if (!wire)
        return std::nullopt;
    auto plain = XorBase64Decode(*wire);
    if (!plain || plain->size() > maxBytes || plain->contains('\0'))
        return std::nullopt;
    return plain;
}

// Decimal integer text: optional sign, at least one digit, within 32 bits.
std::optional<qint32> parseDecimal(const QByteArray &text)
{
    qsizetype i = 0;
    bool negative = false;
    if (i < text.size() && (text[i] == '-' || text[i] == '+'))
        negative = text[i++] == '-';
    if (i == text.size())
        return std::nullopt;
    qint64 value = 0;
    for (; i < text.size(); ++i) {
        if (text[i] < '0' || text[i] > '9')
            return std::nullopt;
        value = value * 10 + (text[i] - '0');
        if (value > qint64(1) << 31)
            return std::nullopt;
    }
    if (negative)
        value = -value;
    if (value > std::numeric_limits<qint32>::max())
        return std::nullopt;
    return qint32(value);
}

// The user's name of a field, for the texts that refuse it.
QString fieldName(const char *what)
{
    static const std::pair<const char *, const char16_t *> names[] = {
        {"CustomerNo", u"客户编号"},       {"card number", u"充值卡号"},   {"card password", u"充值卡密码"},
        {"content", u"短信内容"},          {"destination number", u"号码"}, {"forward-to number", u"转发号码"},
        {"login name", u"登录账号"},       {"new password", u"新密码"},     {"password", u"密码"},
        {"reply text", u"自动回复内容"},   {"reserve", u"保留字段"},       {"scheduled time", u"定时时间"},
        {"validity time", u"有效时间"},
    };
    for (const auto &[key, name] : names)
        if (qstrcmp(key, what) == 0)
            return QString::fromUtf16(name);
    return QString::fromLatin1(what);
}

// GBK bytes of a text bound for a field of at most maxBytes bytes.
std::optional<QByteArray> fieldBytes(const QString &text, qsizetype maxBytes, const char *what,
                                     QString *error)
{
    auto fail = [&](const QString &why) -> std::optional<QByteArray> {
        if (error)
            *error = fieldName(what) + why;
        return std::nullopt;
    };
    QString bad;
    auto bytes = Gbk::encode(text, &bad);
    if (!bytes)
        return fail(QStringLiteral("中有无法发送的字符“%1”").arg(bad));
    if (bytes->contains('\0'))
        return fail(QStringLiteral("中有空字符"));
    if (bytes->size() > maxBytes)
        return fail(QStringLiteral("超过%1个字节").arg(maxBytes));
    return bytes;
}

// Header checks shared by the parsers: one whole packet of the expected command.
std::optional<PacketHeader> expect(QByteArrayView packet, quint32 commandId)
{
    auto h = ParsePacket(packet);
    if (!h || h->Command_ID != commandId)
        return std::nullopt;
    return h;
}

} // namespace

// ---- Framing ---------------------------------------------------------------------------

Frame NextFrame(QByteArrayView buffer)
{
    if (buffer.size() < HeaderLength)
        return {Frame::NeedMore, 0};
    const quint32 total = getU32(buffer, 0);
    if (total < quint32(HeaderLength) || total > MaxPacketLength)
        return {Frame::Malformed, 0};
    if (buffer.size() < qsizetype(total))
        return {Frame::NeedMore, 0};
    return {Frame::Packet, qsizetype(total)};
}

std::optional<PacketHeader> ParseHeader(QByteArrayView bytes)
{
    if (bytes.size() < HeaderLength)
        return std::nullopt;
    return PacketHeader{getU32(bytes, 0), getU32(bytes, 4), getU32(bytes, 8), getU32(bytes, 12)};
}

std::optional<PacketHeader> ParsePacket(QByteArrayView packet)
{
    auto h = ParseHeader(packet);
    if (!h || h->Total_Length < quint32(HeaderLength) || qsizetype(h->Total_Length) != packet.size())
        return std::nullopt;
    return h;
}

// ---- Requests --------------------------------------------------------------------------

QByteArray BuildHeaderOnly(quint32 commandId, quint32 sequenceNo)
{
    return newPacket(HeaderLength, commandId, sequenceNo);
}

QByteArray LoginAuthenticator(const QByteArray &loginName, const QByteArray &password)
{
    QByteArray name = loginName;
    while (name.startsWith(' '))
        name.remove(0, 1);
    while (name.endsWith(' '))
        name.chop(1);
    QByteArray input("4630");
    input += name;
    input += QByteArray(8, '\0');
    input += MD5Hex16OfBytes(password).toLower().toLatin1();
    input += QByteArray(4, '\0');
    const Md5::Digest digest = Md5::digest(input);
    return Base64Encode(
        QByteArrayView(reinterpret_cast<const char *>(digest.data()), qsizetype(digest.size())));
}

std::optional<QByteArray> BuildLogin(const QString &loginName, const QString &password, QString *error)
{
    const auto name = fieldBytes(loginName, 20, "login name", error);
    const auto pass = name ? fieldBytes(password, 32, "password", error) : std::nullopt;
    if (!name || !pass)
        return std::nullopt;
    const qsizetype n = name->size();
    QByteArray b = newPacket(quint32(56 + n), Cmd::Login, 0);
    putBytes(b, 16, *name);
    putBytes(b, 17 + n, LoginAuthenticator(*name, *pass));
    b[42 + n] = 2;
    b[43 + n] = 0x10;
    return b;
}

std::optional<QByteArray> BuildSubmit(const SubmitRequest &r, QString *error)
{
    auto fail = [&](const QString &why) -> std::optional<QByteArray> {
        if (error)
            *error = why;
        return std::nullopt;
    };
    const auto customerNo = fieldBytes(r.CustomerNo, 20, "CustomerNo", error);
    if (!customerNo)
        return std::nullopt;
    QList<QByteArray> numbers;
    for (const QString &number : r.DestNumbers) {
        auto bytes = fieldBytes(number, 20, "destination number", error);
        if (!bytes)
            return std::nullopt;
        numbers.append(*bytes);
    }
    const auto schedule = fieldBytes(r.ScheduleTime, 16, "scheduled time", error);
    const auto valid = schedule ? fieldBytes(r.ValidTime, 16, "validity time", error) : std::nullopt;
    const auto content = valid ? fieldBytes(r.Content, 255, "content", error) : std::nullopt;
    const auto reserve = content ? fieldBytes(r.Reserve, 8, "reserve", error) : std::nullopt;
    if (!reserve)
        return std::nullopt;

    QByteArray partField = *customerNo;
    if (r.PartMarker.contains(QLatin1Char('/'))) {
        static const QRegularExpression form(QStringLiteral("^([0-9]+)/([0-9]+)$"));
        const auto m = form.match(r.PartMarker);
        bool okM = false, okN = false;
        const uint partNo = m.hasMatch() ? m.captured(1).toUInt(&okM) : 0;
        const uint partCount = m.hasMatch() ? m.captured(2).toUInt(&okN) : 0;
        if (!okM || !okN || partNo > 255 || partCount > 255)
            return fail(QStringLiteral("分条标记“%1”无效").arg(r.PartMarker));
        partField = QByteArray("\x05\x0B\x0C", 3);
        partField.append(char(partCount)).append(char(partNo));
    }

    const qsizetype d = numbers.size();
    const qsizetype L = content->size();
    const qint64 total = 109 + 21 * qint64(d) + L;
    if (total > qint64(MaxPacketLength))
        return fail(QStringLiteral("号码个数 %1 太多").arg(d));
    QByteArray b = newPacket(quint32(total), Cmd::Submit, r.Sequence_No);
    putBytes(b, 16, *customerNo);
    b[37] = 1;
    putBytes(b, 38, partField);
    putU32(b, 59, quint32(d));
    for (qsizetype i = 0; i < d; ++i)
        putBytes(b, 63 + 21 * i, numbers[i]);
    const qsizetype at = 63 + 21 * d;
    b[at] = char(r.MsgClass);
    putBytes(b, at + 1, *schedule);
    putBytes(b, at + 18, *valid);
    b[at + 35] = 15;
    b[at + 36] = char(L);
    putBytes(b, at + 37, *content);
    putBytes(b, at + 38 + L, *reserve);
    return b;
}

std::optional<QByteArray> BuildChangePassword(const QString &customerNo, const QString &newPassword,
                                              QString *error)
{
    const auto c = fieldBytes(customerNo, 20, "CustomerNo", error);
    const auto p = c ? fieldBytes(newPassword, 32, "new password", error) : std::nullopt;
    if (!p)
        return std::nullopt;
    QByteArray b = newPacket(70, Cmd::ChangePassword, 0);
    putBytes(b, 16, *c);
    putBytes(b, 37, XorBase64Encode(MD5Hex16OfBytes(*p).toLower().toLatin1()));
    return b;
}

std::optional<QByteArray> BuildReplySetup(const QString &customerNo, const QString &forwardTo,
                                          const QString &replyText, QString *error)
{
    const auto c = fieldBytes(customerNo, 20, "CustomerNo", error);
    const auto f = c ? fieldBytes(forwardTo, 20, "forward-to number", error) : std::nullopt;
    const auto r = f ? fieldBytes(replyText, MaxPacketLength - 66, "reply text", error) : std::nullopt;
    if (!r)
        return std::nullopt;
    QByteArray b = newPacket(quint32(66 + r->size()), Cmd::ReplySetup, 0);
    putBytes(b, 16, *c);
    putBytes(b, 37, *f);
    putBytes(b, 57, *r);
    return b;
}

std::optional<QByteArray> BuildAddPoint(const QString &customerNo, const QString &cardNo,
                                        const QString &cardPassword, QString *error)
{
    const auto c = fieldBytes(customerNo, 20, "CustomerNo", error);
    const auto n = c ? fieldBytes(cardNo, 20, "card number", error) : std::nullopt;
    const auto p = n ? fieldBytes(cardPassword, 20, "card password", error) : std::nullopt;
    if (!p)
        return std::nullopt;
    QByteArray b = newPacket(79, Cmd::AddPoint, 0);
    putBytes(b, 16, *c);
    putBytes(b, 37, *n);
    putBytes(b, 58, *p);
    return b;
}

QString FormatGatewayTime(const QDateTime &localTime)
{
    return localTime.toString(QStringLiteral("yyMMddHHmmss")) + QLatin1String("032+");
}

// ---- Responses -------------------------------------------------------------------------

std::optional<LoginResponse> ParseLoginResp(QByteArrayView packet)
{
    const auto h = expect(packet, Cmd::Login_Response);
    if (!h)
        return std::nullopt;
    LoginResponse r;
    r.Command_Status = h->Command_Status;
    if (r.Command_Status != 0)
        return r;
    qsizetype at = 20;
    const auto customerNo = readEncoded(packet, at, 20);
    const auto userName = customerNo ? readEncoded(packet, at, 49) : std::nullopt;
    const auto balanceText = userName ? readEncoded(packet, at, packet.size()) : std::nullopt;
    const auto balance = balanceText ? parseDecimal(*balanceText) : std::nullopt;
    if (!balance || at + 3 > packet.size())
        return std::nullopt;
    r.CustomerNo = Gbk::decode(*customerNo);
    r.UserName = Gbk::decode(*userName);
    r.Balance = *balance;
    r.SegLenMobile = quint8(packet[at]);
    r.SegLenSpare = quint8(packet[at + 1]);
    r.SegLenOther = quint8(packet[at + 2]);
    return r;
}

std::optional<SubmitResponse> ParseSubmitResp(QByteArrayView packet)
{
    const auto h = expect(packet, Cmd::Submit_Response);
    if (!h)
        return std::nullopt;
    SubmitResponse r;
    r.Resp.Sequence_No = h->Sequence_No;
    r.Command_Status = h->Command_Status;
    if (r.Command_Status != 0)
        return r;
    if (packet.size() < 24)
        return std::nullopt;
    r.Resp.MsgID = getU64(packet, 16);
    if (packet.size() > 24) {
        qsizetype at = 24;
        const auto text = readEncoded(packet, at, packet.size());
        const auto balance = text ? parseDecimal(*text) : std::nullopt;
        if (!balance)
            return std::nullopt;
        r.Balance = *balance;
    }
    return r;
}

namespace {

// Longest prefix of GBK bytes within maxBytes that does not end inside a double-byte character.
QByteArray cutGbk(const QByteArray &bytes, qsizetype maxBytes)
{
    if (bytes.size() <= maxBytes)
        return bytes;
    qsizetype i = 0;
    while (i < maxBytes) {
        const uchar c = uchar(bytes[i]);
        const qsizetype width = (c >= 0x81 && c <= 0xFE) ? 2 : 1;
        if (i + width > maxBytes)
            break;
        i += width;
    }
    return bytes.first(i);
}

} // namespace

std::optional<TDeliverSM> ParseDeliver(QByteArrayView packet)
{
    const auto h = expect(packet, Cmd::Deliver);
    // Fixed fields up to 61, at least a terminator, then the 8-byte reserve.
    if (!h || packet.size() < 61 + 1 + 8)
        return std::nullopt;
    const qsizetype reserveAt = packet.size() - 8;
    qsizetype at = 61;
    const auto content = readZString(packet, at, reserveAt);
    if (!content)
        return std::nullopt;
    TDeliverSM d;
    QByteArray src = readFixed(packet, 16, 21);
    if (src.startsWith("86"))
        src.remove(0, 2);
    d.SrcNo = Gbk::decode(src);
    d.DestNo = Gbk::decode(readFixed(packet, 37, 21));
    d.Content = Gbk::decode(cutGbk(*content, DeliverContentMax));
    d.Reserve = packet.sliced(reserveAt, 8).toByteArray();
    return d;
}

std::optional<TMessage_Report> ParseReport(QByteArrayView packet)
{
    const auto h = expect(packet, Cmd::Report);
    if (!h || h->Total_Length != ReportLength)
        return std::nullopt;
    TMessage_Report r;
    r.MsgID = getU64(packet, 16);
    r.SrcNo = Gbk::decode(readFixed(packet, 24, 21));
    r.DestNo = Gbk::decode(readFixed(packet, 45, 21));
    r.Stat = Gbk::decode(readFixed(packet, 66, 7));
    r.SubmitTime = Gbk::decode(readFixed(packet, 73, 10));
    r.DoneTime = Gbk::decode(readFixed(packet, 83, 10));
    r.ErrCode = getU32(packet, 93);
    return r;
}

std::optional<FilterChunk> ParseFilterResp(QByteArrayView packet)
{
    const auto h = expect(packet, Cmd::Filter_Response);
    if (!h)
        return std::nullopt;
    FilterChunk f;
    f.Command_Status = h->Command_Status;
    if (f.Command_Status != 0)
        return f;
    if (packet.size() < 30)
        return std::nullopt;
    f.First = getU32(packet, 16);
    f.Second = getU32(packet, 20);
    qsizetype at = 29;
    auto text = readZString(packet, at, packet.size());
    if (!text)
        return std::nullopt;
    f.Text = *text;
    return f;
}

std::optional<AfficheResponse> ParseAfficheResp(QByteArrayView packet)
{
    const auto h = expect(packet, Cmd::Affiche_Response);
    if (!h)
        return std::nullopt;
    AfficheResponse a;
    a.Command_Status = h->Command_Status;
    if (a.Command_Status != 0)
        return a;
    qsizetype at = 20;
    const auto text = readZString(packet, at, packet.size());
    if (!text)
        return std::nullopt;
    a.Text = Gbk::decode(*text);
    return a;
}

std::optional<AddPointResponse> ParseAddPointResp(QByteArrayView packet)
{
    const auto h = expect(packet, Cmd::AddPoint_Response);
    if (!h)
        return std::nullopt;
    AddPointResponse a;
    a.Command_Status = h->Command_Status;
    if (a.Command_Status != 0)
        return a;
    if (packet.size() < 24)
        return std::nullopt;
    a.Balance = getU32(packet, 20);
    return a;
}

// ---- Status texts ----------------------------------------------------------------------

namespace {

struct StatusEntry {
    quint32 code;
    const char16_t *text;
};

// Gateway status codes; looked up before the socket-layer table.
const StatusEntry kGatewayStatus[] = {
    {0, u"成功"},
    {3, u"消息长度错误"},
    {4, u"命令长度错误 "},
    {5, u"消息ID无效"},
    {6, u"没有执行此命令的权限"},
    {9, u"无效的SYSTEMTYPE"},
    {10, u"地址错误 "},
    {11, u"超过最大提交数"},
    {12, u"超过最大下发数 "},
    {13, u"无效的用户 "},
    {14, u"无效的数据格式"},
    {15, u"创建消息失败"},
    {16, u"数据库失败"},
    {17, u"取消消息失败"},
    {18, u"短消息状态错误"},
    {19, u"替换消息失败"},
    {20, u"替换消息源地址错误"},
    {21, u"源地址错误"},
    {22, u"目的地址错误"},
    {23, u"无效的定时时间"},
    {24, u"无效的超时时间"},
    {128, u"指定用户已经存在,请稍候再试或更换网关登录"},
    {129, u"创建用户失败"},
    {130, u"用户ID错误"},
    {131, u"指定用户不存在"},
    {4097, u"无效的用户名 "},
    {4098, u"无效的密码"},
    {12288, u"未登陆"},
    {12289, u"点数不够"},
    {0x100001, u"消息内容含有非法字符"},
    {0x100002, u"流量控制错"},
    {SMS_WAITRESP_TIMEOUT, u"等待响应超时"},
};

// Socket-layer and Windows Sockets error numbers.
const StatusEntry kSocketStatus[] = {
    {380, u"属性值无效。"},
    {383, u"属性是只读的。"},
    {394, u"属性不可读。"},
    {10004, u"Interrupted system call 中断的系统呼叫"},
    {10009, u"Bad file number"},
    {10013, u"Permission denied 进入被拒绝"},
    {10014, u"Bad address"},
    {10022, u"Invalid argument(not bind)"},
    {10024, u"Too many open files"},
    {10035, u"Operation would block"},
    {10036, u"Operation now in progress"},
    {10037, u"Operation already in progress"},
    {10038, u"Socket operation on non - socket"},
    {10039, u"Destination address required"},
    {10040, u"Message too long"},
    {10041, u"Protocol wrong type for socket"},
    {10042, u"Bad protocol option"},
    {10043, u"Protocol not supported 不支持的protocol"},
    {10044, u"Socket type not supported"},
    {10045, u"Operation not supported on socket"},
    {10046, u"Protocol family not supported"},
    {10047, u"Address family not supported by protocol family"},
    {10048, u"Address already in use socket使用中"},
    {10049, u"Can' t assign requested address"},
    {10050, u"Network is down"},
    {10051, u"Network is unreachable"},
    {10052, u"Net dropped connection or reset"},
    {10053, u"Software caused connection abort"},
    {10054, u"Connection reset by peer 连接被防火樯或proxy中断"},
    {10055, u"No buffer space available Tracker的buffer已满"},
    {10056, u"Socket is already connected"},
    {10057, u"Socket is not connected"},
    {10058, u"Can' t send after socket shutdown"},
    {10059, u"Too many references, can' t splice"},
    {10060, u"Connection timed out 与Tracker联机超时"},
    {10061, u"Connection refused Tracker 连接被拒绝"},
    {10062, u"Too many levels of symbolic links"},
    {10063, u"File name too long 文件名过长或含无效的字完"},
    {10064, u"Host is down"},
    {10065, u"No Route to Host"},
    {10066, u"Directory not empty"},
    {10067, u"Too many processes"},
    {10068, u"Too many users 太多使用者"},
    {10069, u"Disc Quota Exceeded"},
    {10070, u"Stale NFS file handle"},
    {10071, u"Too many levels of remote in path"},
    {10091, u"Network SubSystem is unavailable"},
    {10092, u"WINSOCK DLL Version out of range window的winsock.dll问题"},
    {10093, u"Successful WSASTARTUP not yet performed"},
    {11001, u"Host not found"},
    {11002, u"Non - Authoritative Host not found"},
    {11003, u"Non - Recoverable errors: formERR, REFUSED, NOTIMP"},
    {11004, u"Valid name, no data record of requested type"},
    {40006, u"所请求的事务或请求本身的错误协议或者错误连接状态。"},
    {40014, u"传递给函数的参数格式不确定，或者不在指定范围内。"},
    {40017, u"成功。"},
    {40018, u"不受支持的变量类型。"},
    {40020, u"在当前状态下的无效操作"},
    {40021, u"参数越界。"},
    {40026, u"所请求的事务或请求本身的错误协议"},
};

template <size_t N> const char16_t *lookup(const StatusEntry (&table)[N], quint32 code)
{
    for (const StatusEntry &e : table)
        if (e.code == code)
            return e.text;
    return nullptr;
}

QMutex g_lastErrorMutex;
QString g_lastErrorText;

} // namespace

QString GetStatusText(quint32 code)
{
    if (code == SMS_ERR_TEXT)
        return LastErrorText();
    if (const char16_t *t = lookup(kGatewayStatus, code))
        return QString::fromUtf16(t);
    if (const char16_t *t = lookup(kSocketStatus, code))
        return QString::fromUtf16(t);
    return QStringLiteral("未知错误代码： ") + QString::number(code);
}

QString LastErrorText()
{
    QMutexLocker lock(&g_lastErrorMutex);
    return g_lastErrorText;
}

void SetLastErrorText(const QString &text)
{
    QMutexLocker lock(&g_lastErrorMutex);
    g_lastErrorText = text;
}

} // namespace Gateway
