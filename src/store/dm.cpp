#include "store/dm.h"
#include "velaro_version.h"

TDataM::TDataM(Prompter &prompter, const Clock &clock, const QString &settingsPath, const GatewayTimings &timings)
    : m_prompter(prompter), m_clock(clock), m_settings(settingsPath), m_db(prompter, clock),
      m_schema(m_db, prompter), m_sms(std::make_unique<TSMSSOCKET>(timings))
{
    m_schema.exitRequested = [this] {
        if (requestExit)
            requestExit();
    };
}

TDataM::~TDataM()
{
    // The protocol client goes first: its workers may still be delivering to the session.
    m_sms.reset();
}

QString TDataM::GetProgramVersion(bool full)
{
    if (full)
        return QStringLiteral("%1.%2.%3.%4")
            .arg(VELARO_VERSION_MAJOR)
            .arg(VELARO_VERSION_MINOR)
            .arg(VELARO_VERSION_PATCH)
            .arg(VELARO_VERSION_TWEAK);
    return QStringLiteral("%1.%2").arg(VELARO_VERSION_MAJOR).arg(VELARO_VERSION_MINOR);
}
