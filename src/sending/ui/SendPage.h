#pragma once
#include <QWidget>

class TDataM;
class SendPipeline;
class ComposePanel;
class RecipientPanel;
class QCheckBox;
class QDateEdit;
class QTimeEdit;
class QPushButton;
class Prompter;

// The page "信息发送": recipients, scheduled time, compose box and the send buttons, over the
// send pipeline. The main window places it and enables it with the session.
class SendPage : public QWidget {
    Q_OBJECT
public:
    SendPage(TDataM &dm, SendPipeline &pipeline, Prompter &prompter, QWidget *parent = nullptr);

    RecipientPanel *recipients = nullptr;
    ComposePanel *compose = nullptr;
    QCheckBox *AtTimeEnable = nullptr; // "定时时间"
    QDateEdit *AtDate = nullptr;
    QTimeEdit *AtTime = nullptr;
    QPushButton *Button10 = nullptr; // "发送短信(&S)"
    QPushButton *Button6 = nullptr;  // "清空内容(&C)"

    // The pickers go to now (when the window is shown).
    void resetTimePickers();
    // "YYYY-MM-DD HH:MM:SS" when a send time is chosen, else empty.
    QString sendTime() const;
    // Leaving the compose box: the send list rows take the composition.
    void RzMemo1Exit();
    void Button10Click();
    void Button6Click();

signals:
    // The help link "短信发送常见问题".
    void helpRequested(const QString &anchor);

private:
    TDataM &m_dm;
    SendPipeline &m_pipe;
    Prompter &m_prompter;
};
