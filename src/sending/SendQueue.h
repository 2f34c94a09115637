#pragma once
#include <QString>
#include <QStringList>
#include <functional>

class TDataM;
class SendList;
class Dispatch;

// The composition, the send button and the to-send queue: one queue row per recipient and
// part, each pointing at its part's text. Main thread only.
class SendQueue {
public:
    SendQueue(TDataM &dm, SendList &list, Dispatch &dispatch);

    // The composition row the send list points at; read at every session start.
    int CompositionId = 1;

    // What the send button needs from the window.
    std::function<bool()> confirmSend;           // the confirmation dialog; true when confirmed
    std::function<void(const QString &)> setComposeText;
    std::function<void(bool)> setPagesEnabled;   // the send and receive pages

    void SaveComposition(const QString &number, const QString &text, const QString &type, const QString &sendTime);
    // Every keystroke saves the text alone; the send list rows take the rest when the compose
    // box is left and at the send, so typing stays fast however long the list is.
    void saveCompositionText(const QString &text);
    void ClearComposition();
    // "清空内容(&C)": the compose box is emptied by the caller.
    void clearContent();
    // The send button. memoText is the compose box as typed; sendTime "YYYY-MM-DD HH:MM:SS" or empty.
    // True when a run was started.
    bool sendClicked(const QString &memoText, const QString &type, const QString &sendTime, bool ems);
    void QueueSendList(bool ems);
    void QueuePersonalised(const QString &text, bool ems);
    void QueueSingleMessage(const QString &number, const QString &text);
    void ClearQueue();
    int QueueCount();
    // The resume steps of the session start; minimised answers every question with Yes.
    void resumeAtSessionStart(bool minimised);

private:
    int insertPart(const QString &part);
    QString now() const;

    TDataM &m_dm;
    SendList &m_list;
    Dispatch &m_dispatch;
};
