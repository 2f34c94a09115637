#include "sending/TableReader.h"
#include "common/GbkCodec.h"
#include "common/VelaroError.h"
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QRegularExpression>
#include <QStringDecoder>
#include <QXmlStreamReader>
#include <cmath>
#include <freexl.h>
#include <minizip/unzip.h>

namespace CellText {

QString fromNumber(double v)
{
    if (!std::isfinite(v))
        return QString();
    if (v == std::floor(v) && std::fabs(v) < 1e15)
        return QString::number(qint64(v));
    return QString::number(v, 'g', 15);
}

QString fromText(const QString &text)
{
    static const QRegularExpression floating(
        QStringLiteral(R"(^\s*[+-]?\d+(\.\d*)?([eE][+-]?\d+)\s*$|^\s*[+-]?\d+\.0*\s*$)"));
    if (!text.contains(QLatin1Char('.')) && !text.contains(QLatin1Char('e')) &&
        !text.contains(QLatin1Char('E')))
        return text;
    if (!floating.match(text).hasMatch())
        return text;
    bool ok = false;
    const double v = text.trimmed().toDouble(&ok);
    return ok ? fromNumber(v) : text;
}

} // namespace CellText

namespace {

QString fileName(const QString &path)
{
    return QFileInfo(path).fileName();
}

QString cannotRead(const QString &path, const QString &why)
{
    return QStringLiteral("无法读取文件“%1”：%2").arg(fileName(path), why);
}

// ---- text and CSV ----

class TextReader : public TableReader {
public:
    explicit TextReader(const QString &path) : m_path(path)
    {
        QFile f(path);
        if (!f.open(QIODevice::ReadOnly))
            throw VelaroError(cannotRead(path, f.errorString()));
        m_bytes = f.readAll();
        if (f.error() != QFileDevice::NoError)
            throw VelaroError(cannotRead(path, f.errorString()));
        if (!decodable())
            throw VelaroError(cannotRead(path, QStringLiteral("这不是文本文件。")));
    }

    QStringList tableNames() const override
    {
        // The name the spreadsheet drivers give a text file.
        return {fileName(m_path).replace(QLatin1Char('.'), QLatin1Char('#'))};
    }

    Rows readRows(int, const Tick &tick) override
    {
        const QString text = decode();
        Rows rows;
        const QChar delim = sniffDelimiter(text);
        QStringList record;
        QString field;
        bool quoted = false, fieldStarted = false;
        auto endField = [&] {
            if (record.size() < kMaxColumns)
                record << field;
            field.clear();
            fieldStarted = false;
        };
        auto endRecord = [&] {
            endField();
            const bool blank = record.size() == 1 && record.first().trimmed().isEmpty();
            if (!blank)
                rows.push_back(record);
            record.clear();
            if (tick && rows.size() % size_t(tickStep()) == 0 && !blank && !tick(int(rows.size())))
                return false;
            return true;
        };
        const int n = int(text.size());
        const QChar *s = text.constData();
        for (int i = 0; i < n; ++i) {
            const QChar c = s[i];
            if (quoted) {
                if (c == QLatin1Char('"')) {
                    if (i + 1 < n && s[i + 1] == QLatin1Char('"')) {
                        field += c;
                        ++i;
                    } else {
                        quoted = false;
                    }
                } else {
                    field += c;
                }
                continue;
            }
            if (c == QLatin1Char('"') && !fieldStarted) {
                quoted = fieldStarted = true;
            } else if (c == delim) {
                endField();
            } else if (c == QLatin1Char('\n') || c == QLatin1Char('\r')) {
                if (c == QLatin1Char('\r') && i + 1 < n && s[i + 1] == QLatin1Char('\n'))
                    ++i;
                if (!endRecord())
                    return rows;
            } else {
                if (!c.isSpace())
                    fieldStarted = true;
                field += c;
            }
        }
        if (!field.isEmpty() || !record.isEmpty())
            endRecord();
        return rows;
    }

private:
    bool utf16Bom() const { return m_bytes.startsWith("\xFF\xFE") || m_bytes.startsWith("\xFE\xFF"); }
    // A zero byte never occurs in UTF-8 or GBK text; UTF-16 text says so with its byte-order mark.
    bool decodable() const { return utf16Bom() || !m_bytes.contains('\0'); }
    QString decode() const
    {
        if (utf16Bom()) {
            QStringDecoder d(m_bytes.startsWith("\xFF\xFE") ? QStringDecoder::Utf16LE
                                                            : QStringDecoder::Utf16BE);
            QString s = d.decode(m_bytes.mid(2));
            return s;
        }
        return Gbk::decodeText(m_bytes);
    }
    static QChar sniffDelimiter(const QString &text)
    {
        const qsizetype end = text.indexOf(QLatin1Char('\n'));
        const QStringView first = QStringView(text).left(end < 0 ? text.size() : end);
        if (first.contains(QLatin1Char('\t')) && !first.contains(QLatin1Char(',')))
            return QLatin1Char('\t');
        return QLatin1Char(',');
    }

    QString m_path;
    QByteArray m_bytes;
};

// ---- .xlsx ----

class XlsxReader : public TableReader {
public:
    explicit XlsxReader(const QString &path) : m_path(path)
    {
        m_zip = unzOpen64(QFile::encodeName(path).constData());
        if (!m_zip)
            throw VelaroError(cannotRead(path, QStringLiteral("这不是有效的 Excel 文件。")));
        try {
            loadWorkbook();
        } catch (...) {
            unzClose(m_zip);
            throw;
        }
    }
    ~XlsxReader() override { unzClose(m_zip); }

    QStringList tableNames() const override
    {
        QStringList names;
        for (const Sheet &s : m_sheets)
            names << s.name;
        return names;
    }

    Rows readRows(int table, const Tick &tick) override
    {
        Rows rows;
        if (table < 0 || table >= int(m_sheets.size()))
            return rows;
        loadSharedStrings();
        const QByteArray xml = entry(m_sheets[size_t(table)].part);
        QXmlStreamReader r(xml);
        QStringList row;
        int rowNo = 0, col = 0;
        bool inRow = false;
        while (!r.atEnd()) {
            const auto tok = r.readNext();
            if (tok == QXmlStreamReader::StartElement) {
                const QStringView name = r.name();
                if (name == QLatin1String("row")) {
                    bool ok = false;
                    int n = r.attributes().value(QLatin1String("r")).toInt(&ok);
                    if (!ok || n <= rowNo)
                        n = rowNo + 1;
                    n = std::min(n, kMaxRows);
                    // Rows missing inside the used range are blank rows.
                    while (rowNo + 1 < n) {
                        rows.emplace_back();
                        ++rowNo;
                    }
                    rowNo = n;
                    row.clear();
                    col = 0;
                    inRow = true;
                } else if (name == QLatin1String("c") && inRow) {
                    const auto attrs = r.attributes();
                    const int at = columnOf(attrs.value(QLatin1String("r")));
                    col = at >= 0 ? at : col;
                    const QString type = attrs.value(QLatin1String("t")).toString();
                    const QString value = readCell(r, type);
                    if (col < kMaxColumns) {
                        while (row.size() < col)
                            row << QString();
                        row << value;
                    }
                    ++col;
                }
            } else if (tok == QXmlStreamReader::EndElement && r.name() == QLatin1String("row")) {
                rows.push_back(row);
                inRow = false;
                if (tick && rows.size() % size_t(tickStep()) == 0 && !tick(int(rows.size())))
                    return rows;
            }
        }
        if (r.hasError())
            throw VelaroError(cannotRead(m_path, QStringLiteral("工作表“%1”已损坏（%2）。")
                                                     .arg(m_sheets[size_t(table)].name, r.errorString())));
        return rows;
    }

private:
    struct Sheet {
        QString name;
        QString part;
    };
    // The last row a worksheet can have; a larger row number is not filled up to.
    static constexpr int kMaxRows = 1 << 20;
    static constexpr quint64 kMaxEntryBytes = 512ull << 20;

    // Column index of a reference such as "AB12"; -1 when there is none.
    static int columnOf(QStringView ref)
    {
        int c = 0, letters = 0;
        for (QChar ch : ref) {
            const char16_t u = ch.toUpper().unicode();
            if (u < 'A' || u > 'Z')
                break;
            c = c * 26 + (u - 'A' + 1);
            if (++letters > 3)
                return -1;
        }
        return letters ? c - 1 : -1;
    }

    QString readCell(QXmlStreamReader &r, const QString &type)
    {
        QString v, inlineText;
        bool hasV = false;
        int depth = 1;
        while (depth > 0 && !r.atEnd()) {
            const auto tok = r.readNext();
            if (tok == QXmlStreamReader::StartElement) {
                ++depth;
                if (r.name() == QLatin1String("v")) {
                    v = r.readElementText();
                    hasV = true;
                    --depth;
                } else if (r.name() == QLatin1String("is")) {
                    inlineText = readRichText(r);
                    --depth;
                }
            } else if (tok == QXmlStreamReader::EndElement) {
                --depth;
            }
        }
        if (type == QLatin1String("inlineStr"))
            return inlineText;
        if (!hasV)
            return QString();
        if (type == QLatin1String("s")) {
            bool ok = false;
            const int i = v.toInt(&ok);
            return ok && i >= 0 && i < m_shared.size() ? m_shared[i] : QString();
        }
        if (type == QLatin1String("str") || type == QLatin1String("e") || type == QLatin1String("d"))
            return v; // a formula's cached text, an error value or an ISO date
        if (type == QLatin1String("b"))
            return v == QLatin1String("1") ? QStringLiteral("TRUE") : QStringLiteral("FALSE");
        bool ok = false;
        const double d = v.toDouble(&ok);
        return ok ? CellText::fromNumber(d) : v;
    }

    // Text of an <si> or <is> element: its <t> parts, without phonetic runs.
    static QString readRichText(QXmlStreamReader &r)
    {
        QString out;
        int depth = 1, phonetic = 0;
        while (depth > 0 && !r.atEnd()) {
            const auto tok = r.readNext();
            if (tok == QXmlStreamReader::StartElement) {
                if (r.name() == QLatin1String("t") && !phonetic) {
                    out += r.readElementText();
                    continue;
                }
                ++depth;
                if (r.name() == QLatin1String("rPh"))
                    ++phonetic;
            } else if (tok == QXmlStreamReader::EndElement) {
                --depth;
                if (r.name() == QLatin1String("rPh"))
                    --phonetic;
            }
        }
        return out;
    }

    bool hasEntry(const QString &name)
    {
        return unzLocateFile(m_zip, name.toUtf8().constData(), 2) == UNZ_OK;
    }

    QByteArray entry(const QString &name)
    {
        const QString broken = QStringLiteral("文件内容已损坏。");
        if (unzLocateFile(m_zip, name.toUtf8().constData(), 2) != UNZ_OK)
            throw VelaroError(
                cannotRead(m_path, QStringLiteral("缺少 %1，这不是有效的 Excel 文件。").arg(name)));
        unz_file_info64 info;
        if (unzGetCurrentFileInfo64(m_zip, &info, nullptr, 0, nullptr, 0, nullptr, 0) != UNZ_OK)
            throw VelaroError(cannotRead(m_path, broken));
        if (info.uncompressed_size > kMaxEntryBytes)
            throw VelaroError(cannotRead(m_path, QStringLiteral("工作表过大。")));
        if (unzOpenCurrentFile(m_zip) != UNZ_OK)
            throw VelaroError(cannotRead(m_path, broken));
        QByteArray out;
        out.reserve(qsizetype(info.uncompressed_size));
        char buf[65536];
        int n;
        while ((n = unzReadCurrentFile(m_zip, buf, sizeof buf)) > 0) {
            out.append(buf, n);
            if (quint64(out.size()) > kMaxEntryBytes)
                break;
        }
        const int closed = unzCloseCurrentFile(m_zip);
        if (n < 0 || closed != UNZ_OK || quint64(out.size()) > kMaxEntryBytes)
            throw VelaroError(cannotRead(m_path, broken));
        return out;
    }

    // Id → target of a relationships part; targets resolved against baseDir.
    QHash<QString, QPair<QString, QString>> relationships(const QString &part, const QString &baseDir)
    {
        QHash<QString, QPair<QString, QString>> out;
        if (!hasEntry(part))
            return out;
        QXmlStreamReader r(entry(part));
        while (!r.atEnd()) {
            if (r.readNext() == QXmlStreamReader::StartElement && r.name() == QLatin1String("Relationship")) {
                const auto a = r.attributes();
                QString target = a.value(QLatin1String("Target")).toString();
                target = target.startsWith(QLatin1Char('/')) ? target.mid(1) : baseDir + target;
                out.insert(a.value(QLatin1String("Id")).toString(),
                           {a.value(QLatin1String("Type")).toString(), target});
            }
        }
        return out;
    }

    void loadWorkbook()
    {
        QString workbook = QStringLiteral("xl/workbook.xml");
        for (const auto &rel : relationships(QStringLiteral("_rels/.rels"), QString()))
            if (rel.first.endsWith(QLatin1String("/officeDocument")))
                workbook = rel.second;
        const int slash = int(workbook.lastIndexOf(QLatin1Char('/')));
        const QString base = workbook.left(slash + 1);
        const auto rels = relationships(
            base + QStringLiteral("_rels/") + workbook.mid(slash + 1) + QStringLiteral(".rels"), base);
        for (const auto &rel : rels)
            if (rel.first.endsWith(QLatin1String("/sharedStrings")))
                m_sharedPart = rel.second;
        if (m_sharedPart.isEmpty())
            m_sharedPart = base + QStringLiteral("sharedStrings.xml");

        QXmlStreamReader r(entry(workbook));
        while (!r.atEnd()) {
            if (r.readNext() != QXmlStreamReader::StartElement || r.name() != QLatin1String("sheet"))
                continue;
            Sheet s;
            QString id;
            for (const auto &a : r.attributes()) {
                if (a.name() == QLatin1String("name"))
                    s.name = a.value().toString();
                else if (a.name() == QLatin1String("id") && !a.namespaceUri().isEmpty())
                    id = a.value().toString();
            }
            s.part = rels.value(id).second;
            if (s.part.isEmpty())
                s.part = base + QStringLiteral("worksheets/sheet%1.xml").arg(m_sheets.size() + 1);
            m_sheets.push_back(s);
        }
        if (r.hasError())
            throw VelaroError(
                cannotRead(m_path, QStringLiteral("文件内容已损坏（%1）。").arg(r.errorString())));
    }

    void loadSharedStrings()
    {
        if (m_sharedLoaded)
            return;
        m_sharedLoaded = true;
        if (!hasEntry(m_sharedPart))
            return;
        QXmlStreamReader r(entry(m_sharedPart));
        while (!r.atEnd()) {
            if (r.readNext() == QXmlStreamReader::StartElement && r.name() == QLatin1String("si"))
                m_shared << readRichText(r);
        }
    }

    QString m_path;
    unzFile m_zip = nullptr;
    std::vector<Sheet> m_sheets;
    QString m_sharedPart;
    QStringList m_shared;
    bool m_sharedLoaded = false;
};

// ---- .xls ----

class XlsReader : public TableReader {
public:
    explicit XlsReader(const QString &path) : m_path(path)
    {
        const int rc = freexl_open(QFile::encodeName(path).constData(), &m_handle);
        if (rc != FREEXL_OK) {
            if (m_handle)
                freexl_close(m_handle);
            m_handle = nullptr;
            throw VelaroError(
                cannotRead(path, rc == FREEXL_FILE_NOT_FOUND
                                     ? QStringLiteral("文件不存在或无法打开。")
                                     : QStringLiteral("这不是有效的 Excel 文件（错误 %1）。").arg(rc)));
        }
        unsigned int password = 0;
        if (freexl_get_info(m_handle, FREEXL_BIFF_PASSWORD, &password) == FREEXL_OK &&
            password == FREEXL_BIFF_OBFUSCATED) {
            freexl_close(m_handle);
            m_handle = nullptr;
            throw VelaroError(cannotRead(path, QStringLiteral("文件有密码保护。")));
        }
        unsigned int count = 0;
        freexl_get_info(m_handle, FREEXL_BIFF_SHEET_COUNT, &count);
        for (unsigned int i = 0; i < count; ++i) {
            const char *name = nullptr;
            if (freexl_get_worksheet_name(m_handle, (unsigned short)i, &name) == FREEXL_OK && name)
                m_names << QString::fromUtf8(name);
            else
                m_names << QStringLiteral("Sheet%1").arg(i + 1);
        }
    }
    ~XlsReader() override
    {
        if (m_handle)
            freexl_close(m_handle);
    }

    QStringList tableNames() const override { return m_names; }

    Rows readRows(int table, const Tick &tick) override
    {
        Rows rows;
        if (table < 0 || table >= m_names.size() ||
            freexl_select_active_worksheet(m_handle, (unsigned short)table) != FREEXL_OK)
            return rows;
        unsigned int nRows = 0;
        unsigned short nCols = 0;
        if (freexl_worksheet_dimensions(m_handle, &nRows, &nCols) != FREEXL_OK)
            return rows;
        const int cols = std::min<int>(nCols, kMaxColumns);
        for (unsigned int r = 0; r < nRows; ++r) {
            QStringList row;
            for (int c = 0; c < cols; ++c) {
                FreeXL_CellValue v;
                if (freexl_get_cell_value(m_handle, r, (unsigned short)c, &v) != FREEXL_OK) {
                    row << QString();
                    continue;
                }
                switch (v.type) {
                case FREEXL_CELL_INT:
                    row << QString::number(v.value.int_value);
                    break;
                case FREEXL_CELL_DOUBLE:
                    row << CellText::fromNumber(v.value.double_value);
                    break;
                case FREEXL_CELL_TEXT:
                case FREEXL_CELL_SST_TEXT:
                case FREEXL_CELL_DATE:
                case FREEXL_CELL_DATETIME:
                case FREEXL_CELL_TIME:
                    row << QString::fromUtf8(v.value.text_value);
                    break;
                default:
                    row << QString();
                }
            }
            while (!row.isEmpty() && row.last().isEmpty())
                row.removeLast();
            rows.push_back(row);
            if (tick && rows.size() % size_t(tickStep()) == 0 && !tick(int(rows.size())))
                return rows;
        }
        return rows;
    }

private:
    QString m_path;
    const void *m_handle = nullptr;
    QStringList m_names;
};

} // namespace

std::unique_ptr<TableReader> TableReader::open(const QString &path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        throw VelaroError(cannotRead(path, f.errorString()));
    const QByteArray magic = f.read(8);
    f.close();
    const QString ext = QFileInfo(path).suffix().toUpper();
    if (ext == QLatin1String("XLS") || ext == QLatin1String("XLSX")) {
        // Files are often saved under the other spreadsheet extension; the content decides.
        if (magic.startsWith("PK\x03\x04"))
            return std::make_unique<XlsxReader>(path);
        if (magic.startsWith("\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1"))
            return std::make_unique<XlsReader>(path);
        throw VelaroError(cannotRead(path, QStringLiteral("这不是有效的 Excel 文件。")));
    }
    return std::make_unique<TextReader>(path);
}
