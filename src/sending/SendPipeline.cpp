#include "sending/SendPipeline.h"
#include "app/MainController.h"
#include "app/ProviderConfig.h"
#include "sending/ContentRules.h"
#include "store/dm.h"
#include <QCoreApplication>
#include <QPointer>
#include <QThreadPool>

SendPipeline::SendPipeline(TDataM &dm, MainController &ctl) : list(dm), dispatch(dm), queue(dm, list, dispatch)
{
    auto events = [] { QCoreApplication::processEvents(QEventLoop::AllEvents, 5); };
    list.processEvents = events;
    dispatch.processEvents = events;
    auto &h = ctl.hooks;
    h.clearDispatchNumbers = [this] { dispatch.BatchNumbers.clear(); };
    h.offerResume = [this, &ctl] { queue.resumeAtSessionStart(ctl.viewMinimized()); };
    // The download runs on a worker, so an unreachable web server never stalls the window.
    h.downloadFilterWords = [&dm, this] {
        const QString url = ProviderConfig::load().filterWordsUrl();
        const HttpProxy proxy = dm.webProxy;
        QPointer<QObject> guard(&m_context);
        QThreadPool::globalInstance()->start([&dm, url, proxy, guard] {
            const auto d = FetchFilterWords(url, proxy);
            QMetaObject::invokeMethod(
                guard.data(), [&dm, d] { StoreFilterWords(dm, d); }, Qt::QueuedConnection);
        });
    };
    h.loadFilterWordsFromGateway = [&dm](const QByteArray &words) { LoadFilterWordsFromGateway(dm, words); };
    h.submitNotify = [this](const Gateway::TSubmitResp &r, quint32 s) { dispatch.onSubmitNotify(r, s); };
    h.report = [this](const Gateway::TMessage_Report &r) { dispatch.onReport(r); };
}
