#pragma once
#include "sending/TableReader.h"
#include <QString>
#include <QStringList>
#include <atomic>
#include <functional>
#include <memory>

class SendList;

// The work of the number-import dialog: open a file, choose table and field, list the field's
// distinct values, and import them into the send list with progress, cancel and counts.
class NumberImport {
public:
    explicit NumberImport(SendList &list);
    ~NumberImport();

    // Opens the file; firstRowIsNumber is the header mode (no field names in the first row).
    // Raises VelaroError with the user's text when the file cannot be read.
    void open(const QString &path, bool firstRowIsNumber);
    void setFirstRowIsNumber(bool on);
    bool isOpen() const { return bool(m_reader); }
    QStringList tables() const { return m_tables; }
    // Reads a table; its field names follow. Raises like open().
    void selectTable(int table);
    int table() const { return m_table; }
    QStringList fields() const { return m_fields; }

    // "select distinct field from [table]": the field's values, each once, in file order.
    QStringList distinctValues(int field) const;

    struct Counts {
        int rows = 0;   // distinct values read
        int errors = 0; // empty, not a number or failing the check
        int done = 0;   // accepted, including numbers already in the list
        bool cancelled = false;
    };
    using Progress = std::function<void(int done, int total)>;
    // Imports the field's distinct values; events are processed every few hundred rows.
    Counts run(int field, const Progress &progress, const std::atomic<bool> &cancel);
    static QString resultText(const Counts &c);

    // The value an import takes from a cell: digits, or "0" + digits for an area code that lost
    // its zero; empty when the cell cannot be a number.
    static QString numberFromCell(const QString &cell);

    // Lets events run while a large file is read; false stops reading.
    std::function<bool()> keepReading;

private:
    SendList &m_list;
    std::unique_ptr<TableReader> m_reader;
    QStringList m_tables;
    TableReader::Rows m_rows;
    int m_table = -1;
    bool m_firstRowIsNumber = true;
    QStringList m_fields;
    void computeFields();
};
