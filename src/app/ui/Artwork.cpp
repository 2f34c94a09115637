#include "app/ui/Artwork.h"
#include "common/HomeFolder.h"
#include <QFileInfo>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>

namespace Artwork {

QIcon productLogo()
{
    const QString path = HomeFolder::file(QStringLiteral("ProductLogo.ico"));
    if (!QFileInfo::exists(path))
        return {};
    QIcon icon(path);
    return icon.availableSizes().isEmpty() ? QIcon() : icon;
}

QIcon windowIcon()
{
    const QIcon logo = productLogo();
    return logo.isNull() ? builtInIcon() : logo;
}

QPixmap flashPicture()
{
    const QString path = HomeFolder::file(QStringLiteral("Flash.Jpg"));
    if (!QFileInfo::exists(path))
        return {};
    return QPixmap(path);
}

QPixmap builtInSplash(const QString &productName)
{
    QPixmap pm(520, 320);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    QLinearGradient bg(0, 0, 0, pm.height());
    bg.setColorAt(0, QColor(0x1d, 0x4e, 0x9e));
    bg.setColorAt(1, QColor(0x0b, 0x23, 0x52));
    p.fillRect(pm.rect(), bg);
    // A few soft bubbles stand for the messages going out.
    const struct {
        int x, y, r, alpha;
    } bubbles[] = {{430, 70, 90, 40}, {470, 220, 60, 30}, {360, 280, 40, 25}, {80, 260, 70, 20}};
    for (const auto &b : bubbles) {
        QRadialGradient rg(b.x, b.y, b.r);
        rg.setColorAt(0, QColor(255, 255, 255, b.alpha * 2));
        rg.setColorAt(1, QColor(255, 255, 255, 0));
        p.setBrush(rg);
        p.setPen(Qt::NoPen);
        p.drawEllipse(QPoint(b.x, b.y), b.r, b.r);
    }
    // A speech bubble as the emblem.
    QPainterPath bubble;
    bubble.addRoundedRect(QRectF(40, 60, 96, 70), 16, 16);
    QPainterPath tail;
    tail.moveTo(62, 126);
    tail.lineTo(54, 152);
    tail.lineTo(86, 128);
    bubble = bubble.united(tail);
    p.setBrush(QColor(0xff, 0xb3, 0x2e));
    p.drawPath(bubble);
    p.setBrush(Qt::white);
    for (int i = 0; i < 3; ++i)
        p.drawEllipse(QPointF(64 + i * 24, 95), 7, 7);

    p.setPen(Qt::white);
    QFont big(QStringLiteral("Noto Sans CJK SC"));
    big.setPixelSize(40);
    big.setBold(true);
    p.setFont(big);
    p.drawText(QRect(160, 58, 340, 56), Qt::AlignLeft | Qt::AlignVCenter, productName);
    QFont sub = big;
    sub.setPixelSize(18);
    sub.setBold(false);
    p.setFont(sub);
    p.drawText(QRect(162, 112, 340, 30), Qt::AlignLeft | Qt::AlignVCenter, QStringLiteral("短信群发客户端"));
    QFont small = sub;
    small.setPixelSize(14);
    p.setFont(small);
    p.setPen(QColor(255, 255, 255, 200));
    p.drawText(QRect(40, 270, 440, 24), Qt::AlignLeft | Qt::AlignVCenter,
               QStringLiteral("正在启动，请稍候..."));
    return pm;
}

QPixmap builtInLoginBanner(const QString &productName, const QSize &size)
{
    QPixmap pm(size);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    QLinearGradient bg(0, 0, size.width(), 0);
    bg.setColorAt(0, QColor(0x1d, 0x4e, 0x9e));
    bg.setColorAt(1, QColor(0x3a, 0x7b, 0xd5));
    p.fillRect(pm.rect(), bg);
    const int h = size.height();
    QRadialGradient glow(size.width() * 0.85, h * 0.3, h);
    glow.setColorAt(0, QColor(255, 255, 255, 60));
    glow.setColorAt(1, QColor(255, 255, 255, 0));
    p.fillRect(pm.rect(), glow);
    const QIcon icon = builtInIcon();
    const int iconSize = qMin(48, h - 16);
    p.drawPixmap(QRect(16, (h - iconSize) / 2, iconSize, iconSize), icon.pixmap(64));
    p.setPen(Qt::white);
    QFont big(QStringLiteral("Noto Sans CJK SC"));
    big.setPixelSize(qMax(12, h / 3));
    big.setBold(true);
    p.setFont(big);
    const QRect text(iconSize + 32, 0, size.width() - iconSize - 40, h);
    p.drawText(text.adjusted(0, 0, 0, -h / 3), Qt::AlignLeft | Qt::AlignBottom, productName);
    QFont sub = big;
    sub.setPixelSize(qMax(10, h / 6));
    sub.setBold(false);
    p.setFont(sub);
    p.setPen(QColor(255, 255, 255, 210));
    p.drawText(text.adjusted(0, h * 2 / 3 + 2, 0, 0), Qt::AlignLeft | Qt::AlignTop,
               QStringLiteral("短信群发客户端"));
    return pm;
}

QIcon builtInIcon()
{
    QIcon icon;
    for (int size : {16, 24, 32, 48, 64}) {
        QPixmap pm(size, size);
        pm.fill(Qt::transparent);
        QPainter p(&pm);
        p.setRenderHint(QPainter::Antialiasing);
        const qreal s = size / 16.0;
        QPainterPath bubble;
        bubble.addRoundedRect(QRectF(1 * s, 1.5 * s, 14 * s, 10 * s), 3 * s, 3 * s);
        QPainterPath tail;
        tail.moveTo(4 * s, 11 * s);
        tail.lineTo(3 * s, 15 * s);
        tail.lineTo(8 * s, 11 * s);
        p.setPen(Qt::NoPen);
        p.setBrush(QColor(0x1d, 0x4e, 0x9e));
        p.drawPath(bubble.united(tail));
        p.setBrush(QColor(0xff, 0xb3, 0x2e));
        for (int i = 0; i < 3; ++i)
            p.drawEllipse(QPointF((4.5 + i * 3.5) * s, 6.5 * s), 1.2 * s, 1.2 * s);
        p.end();
        icon.addPixmap(pm);
    }
    return icon;
}

} // namespace Artwork
