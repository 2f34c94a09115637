#include "store/dm.h"
#include "velaro_version.h"

TDataM::TDataM(Prompter &prompter, const Clock &clock, const QString &settingsPath)
    : m_prompter(prompter), m_clock(clock), m_settings(settingsPath), m_db(prompter, clock),
      m_schema(m_db, prompter)
{
    m_schema.exitRequested = [this] {
        if (requestExit)
            requestExit();
    };
}

TDataM::~TDataM() = default;

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
