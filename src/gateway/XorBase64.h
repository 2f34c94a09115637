#pragma once
#include <QByteArray>
#include <QByteArrayView>
#include <optional>

// Standard Base64 (RFC 4648 alphabet, "=" padding, no line breaks).
QByteArray Base64Encode(QByteArrayView bytes);
// Groups of four characters; a padded group ("xx==" or "xxx=") must end the text.
// Input shorter than four characters, and a trailing incomplete group, decode to nothing.
// nullopt for any character outside the alphabet or misplaced padding.
std::optional<QByteArray> Base64Decode(QByteArrayView text);

// The gateway's encoded text: every byte XOR-ed with the field mask, then Base64.
inline constexpr char XorBase64Mask = 0x2D;
QByteArray XorBase64Encode(QByteArrayView bytes);
std::optional<QByteArray> XorBase64Decode(QByteArrayView text);
