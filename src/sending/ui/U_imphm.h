#pragma once
#include <QDialog>
#include <atomic>
#include <functional>
#include <memory>

class SendList;
class Prompter;
class NumberImport;
class QLineEdit;
class QPushButton;
class QCheckBox;
class QLabel;
class QComboBox;
class QGroupBox;
class QProgressBar;
class QWidget;

// "导入号码": reads a spreadsheet or text file and adds the numbers of one field to the send list.
class Tfrm_imphm : public QDialog {
    Q_OBJECT
public:
    Tfrm_imphm(SendList &list, Prompter &prompter, QWidget *parent = nullptr);
    ~Tfrm_imphm() override;

    static QString fileFilter();
    // The file dialog; replaceable in tests.
    std::function<QString()> chooseFile;
    // Shows the preview window modally; replaceable in tests.
    std::function<void(QDialog &)> showPreview;

    QLineEdit *edt1;
    QPushButton *btn1;    // "..."
    QCheckBox *CheckBox1; // "首行就是手机号码"
    QPushButton *BitBtn1; // "高级(&A) >>"
    QLabel *Label1;       // "有效号码个数："
    QPushButton *btn2;    // "确定(&S)"
    QPushButton *btn3;    // "取消(&C)"
    QPushButton *BitBtn2; // "预览(&P)"
    QProgressBar *pb1;
    QLabel *helpLink;
    QWidget *Panel1;
    QGroupBox *tableGroup; // "选择表名"
    QComboBox *cbb1;
    QGroupBox *fieldGroup; // "选择字段"
    QComboBox *cbb2;

    void BitBtn1Click();
    void btn1Click();
    void BitBtn2Click();
    void btn2Click();
    void btn3Click();
    // Opens the file in edt1 with the header mode of CheckBox1.
    void openFile();

protected:
    void closeEvent(QCloseEvent *e) override;
    void reject() override;

private:
    void tableChosen(int index);
    void updateButtons();
    void setBusy(bool busy);
    void setInputsEnabled(bool on);
    bool guarded(const std::function<void()> &fn);

    SendList &m_list;
    Prompter &m_prompter;
    std::unique_ptr<NumberImport> m_import;
    std::atomic<bool> m_cancel{false};
    bool m_importing = false;
};

// "预览数据": the distinct values of the chosen field, read-only, with their count.
class TPreviewDataForm : public QDialog {
    Q_OBJECT
public:
    TPreviewDataForm(const QString &field, const QStringList &values, QWidget *parent = nullptr);
    class QTableView *grid;
    QLabel *footer;
};
