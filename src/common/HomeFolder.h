#pragma once
#include <QString>

// The folder that stands in for "beside the program": Ver.ini, DBConfig.ini, settings,
// customer folders, sms_template.dat, rcyy.mdb, skins/ and log/ live here.
namespace HomeFolder {
// $VELARO_HOME when set, else $XDG_DATA_HOME/velaro (~/.local/share/velaro).
QString path();
// path() with a trailing separator, so path() + "x" names a file in it.
QString prefix();
// Creates the folder (mode 0700) when missing; raises VelaroError with a clear text on failure.
void ensure();
// Full path of a file in the home folder.
QString file(const QString &name);
} // namespace HomeFolder
