#pragma once
#include <QIcon>
#include <QPixmap>
#include <QSize>
#include <QString>

// The program's pictures: the branding files of the home folder, or pictures drawn by us.
namespace Artwork {
// "ProductLogo.ico" from the home folder; a null icon when missing or unreadable.
QIcon productLogo();
// The product logo, or the built-in one.
QIcon windowIcon();
// "Flash.Jpg" from the home folder; a null pixmap when missing or unreadable.
QPixmap flashPicture();
QPixmap builtInSplash(const QString &productName);
QIcon builtInIcon();
// The login dialog's banner when "loginA.gif" is missing.
QPixmap builtInLoginBanner(const QString &productName, const QSize &size);
} // namespace Artwork
