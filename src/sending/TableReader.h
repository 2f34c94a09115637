#pragma once
#include <QString>
#include <QStringList>
#include <functional>
#include <memory>
#include <vector>

// Reads the tables of a number file: text/CSV (UTF-8 when valid, else GBK), .xls (libfreexl)
// and .xlsx (minizip + QXmlStreamReader). Cells come back as text; numeric cells as digits.
class TableReader {
public:
    using Rows = std::vector<QStringList>;
    // Called every few hundred rows; returning false stops reading (the rows so far are kept).
    using Tick = std::function<bool(int rowsRead)>;

    // Excel itself stops at 255 columns in the old format; more would only flood the field list.
    static constexpr int kMaxColumns = 255;

    virtual ~TableReader() = default;
    // Opens the file by its kind; raises VelaroError with a text for the user when it cannot.
    static std::unique_ptr<TableReader> open(const QString &path);

    virtual QStringList tableNames() const = 0;
    // All rows of a table, blank rows inside the used range included as empty lists.
    virtual Rows readRows(int table, const Tick &tick = {}) = 0;

    static int tickStep() { return 256; }
};

namespace CellText {
// A number as the digits a spreadsheet shows: 13812345678, not 1.3812345678E10.
QString fromNumber(double v);
// Text that spells a number in floating-point form ("1.3812345678E10", "13812345678.0")
// becomes its digits; other text is returned unchanged.
QString fromText(const QString &text);
} // namespace CellText
