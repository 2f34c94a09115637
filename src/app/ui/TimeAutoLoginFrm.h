#pragma once
#include <QDialog>
#include <QTimer>

class QLabel;
class QPushButton;
class TTipBar;

// The re-login countdown: closes with OK when the count reaches 0 or on "重新登录(&L)",
// with Cancel on "取消(&C)".
class TTimeAutoLoginFrm : public QDialog {
    Q_OBJECT
public:
    // periodMs: the length of one counted second (tests shorten it).
    TTimeAutoLoginFrm(int seconds, QWidget *owner = nullptr, int periodMs = 1000);

    int remaining() const { return m_remaining; }
    QLabel *label() const { return m_label; }
    QPushButton *reloginButton() const { return m_relogin; }
    QPushButton *cancelButton() const { return m_cancel; }
    QList<TTipBar *> bars() const { return m_bars; }

    static QString labelText(int seconds);

signals:
    // The label has just been rewritten.
    void counted(int remaining);

protected:
    void showEvent(QShowEvent *event) override;

private:
    void countDown();
    void finish();

    int m_remaining;
    QLabel *m_label;
    QPushButton *m_relogin;
    QPushButton *m_cancel;
    QList<TTipBar *> m_bars;
    QTimer m_timer;
};
