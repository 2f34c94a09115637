#include "app/ui/SplashForm.h"
#include "app/Branding.h"
#include "app/ui/Artwork.h"
#include <QGuiApplication>
#include <QPainter>
#include <QPainterPath>
#include <QScreen>

SplashForm::SplashForm()
    : QWidget(nullptr, Qt::SplashScreen | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint)
{
    setObjectName(QStringLiteral("SplashForm"));
    setAttribute(Qt::WA_DeleteOnClose);
    // The picture covers every pixel, so the background is never erased first.
    setAttribute(Qt::WA_OpaquePaintEvent);
    m_picture = Artwork::flashPicture();
    m_fromFile = !m_picture.isNull();
    if (!m_fromFile)
        m_picture = Artwork::builtInSplash(Branding::productName());
    setFixedSize(m_picture.deviceIndependentSize().toSize());

    // 20 x 20 corner ellipses, as a rounded window region.
    QPainterPath path;
    path.addRoundedRect(QRectF(rect()), 10, 10);
    setMask(QRegion(path.toFillPolygon().toPolygon()));

    if (QScreen *screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());
}

void SplashForm::paintEvent(QPaintEvent *)
{
    QPainter p(this);
    p.drawPixmap(rect(), m_picture);
}
