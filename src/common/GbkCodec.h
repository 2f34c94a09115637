#pragma once
#include <QByteArray>
#include <QString>
#include <optional>

// The one conversion unit between QString and GBK (the gateway wire, byte counts, text files).
namespace Gbk {
// Encodes to GBK; nullopt when a character cannot be held. firstBad receives that character.
std::optional<QByteArray> encode(const QString &text, QString *firstBad = nullptr);
// Encodes, replacing characters GBK cannot hold by '?'. Only for logs and diagnostics.
QByteArray encodeLossy(const QString &text);
// Decodes GBK; invalid sequences become U+FFFD.
QString decode(const QByteArray &bytes);
// Number of GBK bytes of text; characters GBK cannot hold count as 2.
int byteCount(const QString &text);
// First character GBK cannot hold, or an empty string.
QString firstUnencodable(const QString &text);
// Text files: UTF-8 when valid (with or without BOM), else GBK.
QString decodeText(const QByteArray &bytes);
bool isValidUtf8(const QByteArray &bytes);
} // namespace Gbk
