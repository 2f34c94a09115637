#pragma once
#include "gateway/SMSSOCKET.h"
#include <algorithm>
#include <vector>

// Worker timings for tests: short polls and an answer wait chosen by the test.
inline GatewayTimings testTimings(int responseWaitMs, int connectTimeoutMs = 3000)
{
    GatewayTimings t;
    t.pollMs = 20;
    t.responseWaitMs = responseWaitMs;
    t.loginDelayMs = 1;
    t.connectTimeoutMs = connectTimeoutMs;
    return t;
}

// Records every notification of the protocol client.
struct Recorder : SmsNotifyTarget {
    std::vector<std::pair<quint32, quint32>> actions;
    std::vector<std::pair<Gateway::TSubmitResp, quint32>> submits;
    std::vector<Gateway::TDeliverSM> delivers;
    std::vector<Gateway::TMessage_Report> reports;
    std::vector<int> statuses;
    void WM_SMSActionNotify(quint32 c, quint32 s) override { actions.emplace_back(c, s); }
    void WM_SMSSubmitNotify(const Gateway::TSubmitResp &r, quint32 s) override { submits.emplace_back(r, s); }
    void WM_SMSDeliverSM(const Gateway::TDeliverSM &d) override { delivers.push_back(d); }
    void WM_SMSReport(const Gateway::TMessage_Report &r) override { reports.push_back(r); }
    void WM_SMSStatus(int s) override { statuses.push_back(s); }
    bool hasAction(quint32 c, quint32 s) const
    {
        return std::find(actions.begin(), actions.end(), std::make_pair(c, s)) != actions.end();
    }
};
