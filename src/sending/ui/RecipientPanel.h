#pragma once
#include <QLineEdit>
#include <QListView>
#include <QWidget>
#include <functional>

class SendList;
class SendListModel;
class Prompter;
class QGroupBox;
class QPushButton;
class QMenu;
class QAction;

// The entry field of the recipient list: digits only, submits a complete number by itself.
class NumberEntryEdit : public QLineEdit {
    Q_OBJECT
public:
    explicit NumberEntryEdit(QWidget *parent = nullptr);
signals:
    // A candidate to add; the handler empties the field when it was taken.
    void submitted(const QString &candidate);

protected:
    void keyPressEvent(QKeyEvent *e) override;

private:
    void onChanged();
    void submit();
    bool m_busy = false;
};

// The number list: a view over the mirror that takes Delete and dropped folders.
class NumberListView : public QListView {
    Q_OBJECT
public:
    explicit NumberListView(QWidget *parent = nullptr);
    std::vector<int> selectedRows() const;
signals:
    void deletePressed();
    void folderDropped(const QString &folderCode);

protected:
    void keyPressEvent(QKeyEvent *e) override;
    void dragEnterEvent(QDragEnterEvent *e) override;
    void dragMoveEvent(QDragMoveEvent *e) override;
    void dropEvent(QDropEvent *e) override;
};

// The recipient list of the send page: "输入号码" and "接收号码列表:" with its menu and "清空号码".
class RecipientPanel : public QWidget {
    Q_OBJECT
public:
    RecipientPanel(SendList &list, Prompter &prompter, QWidget *parent = nullptr);

    NumberEntryEdit *Receivers;
    NumberListView *LBhm;
    QGroupBox *entryGroup;
    QGroupBox *listGroup;
    QPushButton *Button7; // "清空号码"
    QMenu *popup;
    QAction *N10;  // "导入"
    QAction *N17;  // "删除"
    QAction *imp1; // "超速导入"

    // The file dialog of the fast import; replaceable in tests.
    std::function<QString()> chooseFastImportFile;
    // Opens the import dialog modally; replaceable in tests.
    std::function<void()> openImportDialog;

    void N10Click();
    void N17Click();
    void imp1Click();
    void Button7Click();

private:
    void guarded(const std::function<void()> &fn);

    SendList &m_list;
    Prompter &m_prompter;
    SendListModel *m_model;
};
