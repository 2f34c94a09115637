// Feeds arbitrary bytes through the receive framing and every gateway packet parser.
#include "gateway/GSMIAPUnt.h"
#include "gateway/Md5.h"
#include "gateway/XorBase64.h"
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>

using namespace Gateway;

namespace {

// Each frame is parsed from its own exactly-sized heap block so any read past the
// packet lands outside the allocation and trips AddressSanitizer.
struct Block {
    std::unique_ptr<char[]> bytes;
    qsizetype size;
    QByteArrayView view() const { return {bytes.get(), size}; }
};

Block copyOf(QByteArrayView v)
{
    Block b{std::unique_ptr<char[]>(new char[size_t(v.size() ? v.size() : 1)]), v.size()};
    if (v.size())
        std::memcpy(b.bytes.get(), v.data(), size_t(v.size()));
    return b;
}

void setCommand(Block &b, quint32 command)
{
    for (int i = 0; i < 4; ++i)
        b.bytes[size_t(4 + i)] = char(command >> (24 - 8 * i));
}

void parseAs(QByteArrayView frame, quint32 command)
{
    Block b = copyOf(frame);
    setCommand(b, command);
    const QByteArrayView v = b.view();
    switch (command) {
    case Cmd::Login_Response:
        (void)ParseLoginResp(v);
        break;
    case Cmd::Submit_Response:
        (void)ParseSubmitResp(v);
        break;
    case Cmd::Deliver:
        (void)ParseDeliver(v);
        break;
    case Cmd::Report:
        (void)ParseReport(v);
        break;
    case Cmd::Filter_Response:
        (void)ParseFilterResp(v);
        break;
    case Cmd::Affiche_Response:
        (void)ParseAfficheResp(v);
        break;
    case Cmd::AddPoint_Response:
        (void)ParseAddPointResp(v);
        break;
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArrayView input(reinterpret_cast<const char *>(data), qsizetype(size));

    // The stream as the socket would see it: frame after frame until more bytes are needed.
    qsizetype at = 0;
    while (at < input.size()) {
        const Frame f = NextFrame(input.sliced(at));
        if (f.kind != Frame::Packet)
            break;
        if (f.length < HeaderLength || f.length > input.size() - at)
            std::abort(); // framing promised bytes that are not there
        const QByteArrayView frame = input.sliced(at, f.length);
        const Block exact = copyOf(frame);
        if (!ParsePacket(exact.view()))
            std::abort(); // a framed packet must carry a consistent header
        for (quint32 command : {quint32(Cmd::Login_Response), quint32(Cmd::Submit_Response),
                                quint32(Cmd::Deliver), quint32(Cmd::Report), quint32(Cmd::Filter_Response),
                                quint32(Cmd::Affiche_Response), quint32(Cmd::AddPoint_Response)})
            parseAs(frame, command);
        at += f.length;
    }

    // The encoded-text decoder on raw input, and the encoder's round trip.
    const Block raw = copyOf(input);
    (void)XorBase64Decode(raw.view());
    const auto back = XorBase64Decode(XorBase64Encode(raw.view()));
    if (!back || *back != raw.view())
        std::abort();
    (void)Md5::digest(raw.view());
    return 0;
}
