#pragma once
#include "sending/ContentRules.h"
#include <QWidget>

class QCheckBox;
class QGroupBox;
class QMenu;
class QPlainTextEdit;
class QPushButton;
class QToolButton;
class TDataM;

// The compose area of the send page: the compose box in its group whose caption carries the
// counters, the insert-field menu, "内容检查" and the message type check boxes (hidden).
// The owner saves the composition on compositionChanged().
class ComposePanel : public QWidget {
    Q_OBJECT
public:
    explicit ComposePanel(TDataM &dm, QWidget *parent = nullptr);

    // The compose box's text with CR LF line breaks, as the content rules expect.
    QString memoText() const;
    void setMemoText(const QString &text);
    MessageType messageType() const;
    QStringList insertFieldEntries() const { return m_entries; }

    // The check boxes live in the send page's "定时设置" group, hidden.
    void setMessageTypesVisible(bool visible);

    QGroupBox *group = nullptr;        // "发送内容主体"
    QPlainTextEdit *RzMemo1 = nullptr; // the compose box
    QToolButton *SpeedButton1 = nullptr;
    QPushButton *Button8 = nullptr;
    QMenu *PopupMenu7 = nullptr;
    QWidget *typeBox = nullptr;
    QCheckBox *CheckBox2 = nullptr; // hands-free
    QCheckBox *CheckBox3 = nullptr; // flash
    QCheckBox *EMSCB = nullptr;

public slots:
    // The counters; also after a login and after the settings dialog is confirmed.
    void RzMemo1Change();
    // Rebuilds the insert-field menu with the contact list's field list.
    void rebuildInsertFieldMenu();
    void SpeedButton1Click();
    void Button8Click();

signals:
    // After every change of the text or of the message type: the composition is to be saved.
    void compositionChanged();
    // Ctrl and Enter released together in the compose box.
    void ctrlEnter();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void CheckBox2Click(bool checked);
    void EMSCBClick(bool checked);
    void insertField(const QString &entry);

    TDataM &m_dm;
    QStringList m_entries;
};
