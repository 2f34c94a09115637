#include "common/IniFile.h"
#include "common/GbkCodec.h"
#include <QFile>
#include <QSaveFile>

namespace {

// Escaped mode: backslash escapes for line breaks and the backslash itself in values;
// names additionally escape the characters that carry INI structure.
QString escape(const QString &s, bool name)
{
    QString out;
    out.reserve(s.size());
    for (QChar c : s) {
        switch (c.unicode()) {
        case '\\': out += QLatin1String("\\\\"); break;
        case '\n': out += QLatin1String("\\n"); break;
        case '\r': out += QLatin1String("\\r"); break;
        case '=': out += name ? QLatin1String("\\e") : QLatin1String("="); break;
        case '[': out += name ? QLatin1String("\\o") : QLatin1String("["); break;
        case ']': out += name ? QLatin1String("\\c") : QLatin1String("]"); break;
        case ';': out += name ? QLatin1String("\\s") : QLatin1String(";"); break;
        default: out += c;
        }
    }
    // Leading and trailing blanks would be trimmed on reading.
    if (!out.isEmpty() && out.front().isSpace())
        out.replace(0, 1, QStringLiteral("\\x%1").arg(out.front().unicode(), 4, 16, QLatin1Char('0')));
    if (!out.isEmpty() && out.back().isSpace())
        out.replace(out.size() - 1, 1,
                    QStringLiteral("\\x%1").arg(out.back().unicode(), 4, 16, QLatin1Char('0')));
    return out;
}

QString unescape(const QString &s)
{
    QString out;
    out.reserve(s.size());
    for (int i = 0; i < s.size(); ++i) {
        if (s[i] != QLatin1Char('\\') || i + 1 >= s.size()) {
            out += s[i];
            continue;
        }
        const QChar n = s[++i];
        switch (n.unicode()) {
        case '\\': out += QLatin1Char('\\'); break;
        case 'n': out += QLatin1Char('\n'); break;
        case 'r': out += QLatin1Char('\r'); break;
        case 'e': out += QLatin1Char('='); break;
        case 'o': out += QLatin1Char('['); break;
        case 'c': out += QLatin1Char(']'); break;
        case 's': out += QLatin1Char(';'); break;
        case 'x': {
            bool ok = false;
            const ushort u = s.mid(i + 1, 4).toUShort(&ok, 16);
            if (ok && i + 4 < s.size() + 1) {
                out += QChar(u);
                i += 4;
            } else {
                out += QLatin1String("\\x");
            }
            break;
        }
        default: out += QLatin1Char('\\'); out += n;
        }
    }
    return out;
}

} // namespace

bool IniFile::load(const QString &path)
{
    m_sections.clear();
    QFile f(path);
    if (!f.exists())
        return true;
    if (!f.open(QIODevice::ReadOnly))
        return false;
    parse(Gbk::decodeText(f.readAll()));
    return true;
}

void IniFile::parse(const QString &text)
{
    m_sections.clear();
    Section *current = nullptr;
    const bool esc = m_mode == Mode::Escaped;
    for (QStringView raw : QStringView(text).split(QLatin1Char('\n'))) {
        const QString line = raw.trimmed().toString();
        if (line.isEmpty() || line.startsWith(QLatin1Char(';')) || line.startsWith(QLatin1Char('#')))
            continue;
        if (line.startsWith(QLatin1Char('['))) {
            const int close = line.indexOf(QLatin1Char(']'));
            if (close < 0)
                continue;
            QString name = line.mid(1, close - 1).trimmed();
            if (esc)
                name = unescape(name);
            current = find(name);
            if (!current) {
                m_sections.push_back({name, {}});
                current = &m_sections.back();
            }
            continue;
        }
        if (!current)
            continue;
        const int eq = line.indexOf(QLatin1Char('='));
        QString key = (eq < 0 ? line : line.left(eq)).trimmed();
        QString value = eq < 0 ? QString() : line.mid(eq + 1).trimmed();
        if (esc) {
            key = unescape(key);
            value = unescape(value);
        }
        if (key.isEmpty())
            continue;
        bool replaced = false;
        for (auto &e : current->entries) {
            if (e.key.compare(key, Qt::CaseInsensitive) == 0) {
                // Windows keeps the first of duplicate keys.
                replaced = true;
                break;
            }
        }
        if (!replaced)
            current->entries.push_back({key, value});
    }
}

QString IniFile::serialize() const
{
    const bool esc = m_mode == Mode::Escaped;
    QString out;
    for (const auto &s : m_sections) {
        out += QLatin1Char('[') + (esc ? escape(s.name, true) : s.name) + QLatin1String("]\n");
        for (const auto &e : s.entries)
            out += (esc ? escape(e.key, true) : e.key) + QLatin1Char('=') +
                   (esc ? escape(e.value, false) : e.value) + QLatin1Char('\n');
        out += QLatin1Char('\n');
    }
    return out;
}

bool IniFile::save(const QString &path, QString *errorText) const
{
    QSaveFile f(path);
    if (!f.open(QIODevice::WriteOnly) || f.write(serialize().toUtf8()) < 0 || !f.commit()) {
        if (errorText)
            *errorText = f.errorString();
        return false;
    }
    return true;
}

IniFile::Section *IniFile::find(const QString &name)
{
    for (auto &s : m_sections)
        if (s.name.compare(name, Qt::CaseInsensitive) == 0)
            return &s;
    return nullptr;
}

const IniFile::Section *IniFile::find(const QString &name) const
{
    return const_cast<IniFile *>(this)->find(name);
}

bool IniFile::hasSection(const QString &section) const { return find(section) != nullptr; }

bool IniFile::contains(const QString &section, const QString &key) const
{
    if (const Section *s = find(section))
        for (const auto &e : s->entries)
            if (e.key.compare(key, Qt::CaseInsensitive) == 0)
                return true;
    return false;
}

QString IniFile::value(const QString &section, const QString &key, const QString &def) const
{
    if (const Section *s = find(section))
        for (const auto &e : s->entries)
            if (e.key.compare(key, Qt::CaseInsensitive) == 0)
                return e.value;
    return def;
}

int IniFile::intValue(const QString &section, const QString &key, int def, bool *ok) const
{
    const QString v = value(section, key);
    if (ok)
        *ok = true;
    if (v.isEmpty())
        return def;
    bool good = false;
    const int n = v.toInt(&good);
    if (!good) {
        if (ok)
            *ok = false;
        return def;
    }
    return n;
}

void IniFile::setValue(const QString &section, const QString &key, const QString &value)
{
    Section *s = find(section);
    if (!s) {
        m_sections.push_back({section, {}});
        s = &m_sections.back();
    }
    for (auto &e : s->entries) {
        if (e.key.compare(key, Qt::CaseInsensitive) == 0) {
            e.value = value;
            return;
        }
    }
    s->entries.push_back({key, value});
}

QStringList IniFile::keys(const QString &section) const
{
    QStringList out;
    if (const Section *s = find(section))
        for (const auto &e : s->entries)
            out << e.key;
    return out;
}

QStringList IniFile::sections() const
{
    QStringList out;
    for (const auto &s : m_sections)
        out << s.name;
    return out;
}
