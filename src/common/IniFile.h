#pragma once
#include <QString>
#include <QStringList>
#include <vector>

// INI text with the usual Windows rules: [section] lines, key=value lines, ';' comments,
// section and key names compared without regard to case, unparsable lines ignored.
// Escaped mode (for files the program itself owns) keeps any text safe in names and values.
class IniFile {
public:
    enum class Mode { Plain, Escaped };

    explicit IniFile(Mode mode = Mode::Plain) : m_mode(mode) {}

    // Reads the file (UTF-8 when valid, else GBK). A missing file is empty; false when unreadable.
    bool load(const QString &path);
    void parse(const QString &text);
    QString serialize() const;
    // Writes atomically (temporary file, then rename). False with errorText set on failure.
    bool save(const QString &path, QString *errorText = nullptr) const;

    bool hasSection(const QString &section) const;
    bool contains(const QString &section, const QString &key) const;
    QString value(const QString &section, const QString &key, const QString &def = QString()) const;
    // Integer value; def when missing, empty or not an integer. ok (when given) is false for garbage.
    int intValue(const QString &section, const QString &key, int def, bool *ok = nullptr) const;
    void setValue(const QString &section, const QString &key, const QString &value);
    // Keys of a section in file order (lines without '=' count as keys with an empty value).
    QStringList keys(const QString &section) const;
    QStringList sections() const;

private:
    struct Entry {
        QString key;
        QString value;
    };
    struct Section {
        QString name;
        std::vector<Entry> entries;
    };
    Section *find(const QString &name);
    const Section *find(const QString &name) const;

    Mode m_mode;
    std::vector<Section> m_sections;
};
