#pragma once
#include "gateway/GSMIAPUnt.h"
#include <QDateTime>
#include <QElapsedTimer>
#include <QString>
#include <QStringList>
#include <functional>

class TDataM;

// Takes the to-send queue apart into batches of one part text, one type and one number group,
// submits one batch at a time, and moves answered batches into the history. Main thread only.
class Dispatch {
public:
    static constexpr int BatchSize = 180;

    explicit Dispatch(TDataM &dm);

    // Run state of the main window.
    bool SendingInProgress = false;
    int progressTotal = 0;
    int progressComplete = 0;
    QStringList BatchNumbers;

    // The view's side of a run.
    std::function<void(int complete, int total)> onProgress;
    std::function<void(const QString &)> onStatus;  // the second status pane
    std::function<void(const QString &)> onBalance; // the balance label
    std::function<void(bool)> onPagesEnabled;       // the send and receive pages
    std::function<void()> processEvents;            // let pending window messages run

    // Starts a run of the whole queue (the send button or the resume question).
    void startRun();
    // The same, with a text for the second status pane while it runs.
    void startRunWithStatus(const QString &status);
    // Takes and submits the next batch; false when none could be submitted (the run then ends).
    bool DispatchNextBatch();
    // Handlers of the protocol client's notifications.
    void onSubmitNotify(const Gateway::TSubmitResp &resp, quint32 status);
    void onReport(const Gateway::TMessage_Report &report);

    int AppendSendHistory(const QString &numbers, const QString &text, const QString &validTime,
                          const QString &atTime, const QString &type);
    void RecordSubmitSuccess(const QString &msgId, const QString &statusText);
    void SetSendHistoryMsgId(int row, const QString &msgId);
    void StoreStatusReport(const Gateway::TMessage_Report &report);
    // A batch whose answer never came (program ended, connection lost): its rows leave the
    // queue, since the gateway may have sent them, and are kept in the history as unconfirmed.
    // True when the queue still holds rows afterwards.
    bool PurgeSubmittedFromQueue();
    int QueueCount();
    void finishRun(bool withSummary);

    // The number group condition of a queue row's number; empty when it has none.
    QString groupCondition(const QString &number) const;
    static bool isClass2Prefix(const QString &number);
    static QString unconfirmedStatus() { return QStringLiteral("未确认"); }

private:
    QString now() const;
    void moveUnsendable(const QString &number, const QString &content);
    void settleUnansweredBatch();

    TDataM &m_dm;
    QElapsedTimer m_runTimer;
    int m_inFlight = 0; // 发送历史表 row of the batch in flight, 0 when none
};
