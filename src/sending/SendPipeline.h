#pragma once
#include "sending/Dispatch.h"
#include <QObject>
#include "sending/SendList.h"
#include "sending/SendQueue.h"

class TDataM;
class MainController;

// The send list, the queue and the dispatch, wired into the session: resume questions at
// session start, forbidden words after login, submit answers and delivery reports.
// The window and the command-line sender both build on it.
class SendPipeline {
public:
    SendPipeline(TDataM &dm, MainController &controller);

    SendList list;
    Dispatch dispatch;
    SendQueue queue;

private:
    // Results of background work are delivered only while the pipeline exists.
    QObject m_context;
};
