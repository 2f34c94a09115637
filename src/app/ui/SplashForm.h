#pragma once
#include <QPixmap>
#include <QWidget>

// The start-up picture: borderless, centred, rounded corners; frees itself when closed.
class SplashForm : public QWidget {
    Q_OBJECT
public:
    SplashForm();
    const QPixmap &picture() const { return m_picture; }
    bool usesFlashPicture() const { return m_fromFile; }

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QPixmap m_picture;
    bool m_fromFile = false;
};
